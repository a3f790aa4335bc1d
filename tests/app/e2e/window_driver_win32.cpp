// Drives the Taviro window from another process, as a user would, and writes
// what it saw to a report file for the test script.
//
// Usage: taviro_e2e_driver TITLE KEYWORD_HEX ROWS OPEN_LOG REPORT
//                          KEYWORD2_HEX ROWS2 KEYWORD3_HEX ROWS3 LATE_MARKER RELEASE
//   TITLE        the window title (ASCII)
//   KEYWORD_HEX  the keyword's GBK bytes in hex (the command line would
//                otherwise go through a code-page conversion of its own)
//   ROWS         how many rows the search is expected to give
//   OPEN_LOG     the file the shell's "open" handler appends to
//   REPORT       written as lines "name value"; texts are raw GBK bytes
//   KEYWORD2_HEX, ROWS2  a search that one engine answers late, and the rows
//                the other engines give it
//   KEYWORD3_HEX, ROWS3  the search that replaces it, and its rows
//   LATE_MARKER  a file the server creates once the late answer is sent
//   RELEASE      created here to let the server send the late answer
//
// The list view's texts live in the other process: its messages get
// structures and buffers allocated there (VirtualAllocEx) and read back.
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver_support_win32.h"

using namespace e2e;

namespace {

long FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
  return static_cast<long>(data.nFileSizeLow);
}

void SelectOnly(HWND list, Remote& remote, int row) {
  LVITEMA item{};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = 0;
  remote.Write(0, &item, sizeof(item));
  SendMessageA(list, LVM_SETITEMSTATE, static_cast<WPARAM>(-1), (LPARAM)remote.At(0));
  if (row < 0) return;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  remote.Write(0, &item, sizeof(item));
  SendMessageA(list, LVM_SETITEMSTATE, row, (LPARAM)remote.At(0));
}

RECT ItemRect(HWND list, Remote& remote, int row) {
  RECT rect{};
  rect.left = LVIR_BOUNDS;
  remote.Write(0, &rect, sizeof(rect));
  if (!SendMessageA(list, LVM_GETITEMRECT, row, (LPARAM)remote.At(0))) Fail("LVM_GETITEMRECT failed");
  remote.Read(0, &rect, sizeof(rect));
  return rect;
}

// Pixels of the list's first row, as the screen shows it, that are darker
// than the list's white background: text drawn there.
int DrawnPixelsOfFirstRow(HWND list, Remote& remote) {
  RECT r = ItemRect(list, remote, 0);
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return 0;
  MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
  HDC screen = GetDC(nullptr);  // what the screen shows
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = w;
  info.bmiHeader.biHeight = -h;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  int dark = 0;
  if (bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const auto* px = static_cast<const uint32_t*>(bits);
    for (int i = 0; i < w * h; ++i) {
      const uint32_t p = px[i];
      if (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 3 * 160) ++dark;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
  }
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return dark;
}

// Plain SendMessage: the shell's "open" behind a double-click or the
// join-group button may take longer under Wine than a probe allows.
void DoubleClick(HWND list, int x, int y) {
  const LPARAM at = MAKELPARAM(x, y);
  SendMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
  SendMessageA(list, WM_LBUTTONUP, 0, at);
  SendMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  SendMessageA(list, WM_LBUTTONUP, 0, at);
}

// Waits (bounded) until the shell's handler has appended to the log.
bool WaitForOpen(const char* log, long before, int ms) {
  for (int waited = 0; waited < ms; waited += 100) {
    if (FileSize(log) > before) return true;
    Sleep(100);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  CheckUsage(argc, argv, 11,
             "TITLE KEYWORD_HEX ROWS OPEN_LOG REPORT KEYWORD2_HEX ROWS2 KEYWORD3_HEX ROWS3 "
             "LATE_MARKER RELEASE");
  const std::string title = argv[1];
  const std::string keyword = FromHex(argv[2]);
  const int expectedRows = std::atoi(argv[3]);
  const char* openLog = argv[4];
  SetReportPath(argv[5]);
  const std::string secondKeyword = FromHex(argv[6]);
  const int secondRows = std::atoi(argv[7]);
  const std::string thirdKeyword = FromHex(argv[8]);
  const int thirdRows = std::atoi(argv[9]);
  const char* lateMarker = argv[10];
  const char* release = argv[11];

  // The first window in a prefix can take several seconds.
  HWND window = WaitForWindow(title, 60000);
  Sleep(500);

  RECT rect;
  GetWindowRect(window, &rect);
  char text[256];
  std::snprintf(text, sizeof(text), "%ld %ld %ld %ld %d %d", rect.left, rect.top,
                rect.right - rect.left, rect.bottom - rect.top, GetSystemMetrics(SM_CXSCREEN),
                GetSystemMetrics(SM_CYSCREEN));
  Line("geometry", text);
  std::snprintf(text, sizeof(text), "%08lx %08lx",
                static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_STYLE)),
                static_cast<unsigned long>(GetWindowLongPtrA(window, GWL_EXSTYLE)));
  Line("styles", text);

  const Controls controls = FindControls(window);
  const HWND edit = controls.edit;
  const HWND list = controls.list;
  Remote remote(list);
  Line("column_before", ColumnTitle(list, remote));

  TypeKeyword(edit, keyword);
  char typed[256] = {};
  // GetWindowText would answer the stored caption, not the edit's content,
  // for a window of another process.
  SendMessageA(edit, WM_GETTEXT, sizeof(typed), (LPARAM)typed);
  Line("typed", typed);

  Ask(controls.search, BM_CLICK, 0, 0, "clicking Search");

  const int rows = WaitForRows(list, expectedRows, 60000);
  ReportRows(list, remote, rows, "");
  // Rows that came in a burst are drawn shortly after; half a second is
  // plenty. The screen is shared with other tests' windows: the window is
  // kept above them while it is looked at.
  SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  Sleep(500);
  Line("first_row_drawn_pixels", std::to_string(DrawnPixelsOfFirstRow(list, remote)));
  SetWindowPos(window, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

  // A keyword of only half- and full-width spaces starts nothing and keeps
  // the rows.
  Search(controls, " \xA1\xA1 ");
  Sleep(1000);
  Line("rows_after_blank_search", std::to_string(RowCount(list)));

  // A double-click below the last row with nothing selected opens nothing.
  SelectOnly(list, remote, -1);
  long before = FileSize(openLog);
  RECT listRect;
  GetClientRect(list, &listRect);
  DoubleClick(list, 100, listRect.bottom - 10);
  Line("empty_double_click_opened", WaitForOpen(openLog, before, 3000) ? "yes" : "no");

  if (rows > 1) {
    const int row = 1;
    SelectOnly(list, remote, row);
    const RECT item = ItemRect(list, remote, row);
    before = FileSize(openLog);
    DoubleClick(list, item.left + 50, (item.top + item.bottom) / 2);
    Line("double_clicked_row", std::to_string(row));
    Line("row_double_click_opened", WaitForOpen(openLog, before, 20000) ? "yes" : "no");
  }

  before = FileSize(openLog);
  SendMessageA(controls.join, BM_CLICK, 0, 0);
  Line("join_opened", WaitForOpen(openLog, before, 20000) ? "yes" : "no");

  // A search replaced while one engine has not answered yet: the click
  // empties the list at once, and the late answer adds nothing.
  Search(controls, secondKeyword);
  Line("rows_before_replacing", std::to_string(WaitForRows(list, secondRows, 30000)));
  Search(controls, thirdKeyword);
  // The new search's workers may already have added rows; none of the old
  // search's may be left. Rows are only ever appended meanwhile.
  const int afterClick = RowCount(list);
  for (int row = 0; row < afterClick; ++row) {
    Line("row_after_click", CellText(list, remote, row, 0) + "\t" + CellText(list, remote, row, 1));
  }
  TouchFile(release);
  Line("late_answer_sent", WaitForFile(lateMarker, 30000) ? "yes" : "no");
  Sleep(1500);  // time for the old worker to (wrongly) add its row
  ReportRows(list, remote, WaitForRows(list, thirdRows, 30000), "3");

  Save();
  return 0;
}
