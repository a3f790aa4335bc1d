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

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string report;
const char* reportPath = nullptr;

void Save() {
  FILE* out = std::fopen(reportPath, "wb");
  if (!out) return;
  std::fwrite(report.data(), 1, report.size(), out);
  std::fclose(out);
}

void Line(const std::string& name, const std::string& value) {
  report += name + " " + value + "\n";
}

[[noreturn]] void Fail(const std::string& why) {
  std::fprintf(stderr, "driver: %s\n", why.c_str());
  Line("error", why);
  Save();
  std::exit(1);
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
  }
  return bytes;
}

long FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
  return static_cast<long>(data.nFileSizeLow);
}

// Memory in the window's process for one message's structure and text.
class Remote {
 public:
  explicit Remote(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (!process_) Fail("OpenProcess failed");
    base_ = static_cast<char*>(
        VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!base_) Fail("VirtualAllocEx failed");
  }
  ~Remote() {
    VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
    CloseHandle(process_);
  }
  static constexpr SIZE_T kSize = 0x10000;
  static constexpr SIZE_T kTextOffset = 0x1000;
  char* At(SIZE_T offset) const { return base_ + offset; }
  void Write(SIZE_T offset, const void* data, SIZE_T n) {
    if (!WriteProcessMemory(process_, base_ + offset, data, n, nullptr)) Fail("write failed");
  }
  void Read(SIZE_T offset, void* data, SIZE_T n) {
    if (!ReadProcessMemory(process_, base_ + offset, data, n, nullptr)) Fail("read failed");
  }
  std::string Text() {
    std::vector<char> text(kSize - kTextOffset);
    Read(kTextOffset, text.data(), text.size());
    text.back() = '\0';
    return std::string(text.data());
  }

 private:
  HANDLE process_ = nullptr;
  char* base_ = nullptr;
};

std::string CellText(HWND list, Remote& remote, int row, int column) {
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = remote.At(Remote::kTextOffset);
  item.cchTextMax = static_cast<int>(Remote::kSize - Remote::kTextOffset);
  remote.Write(0, &item, sizeof(item));
  const char zero = 0;
  remote.Write(Remote::kTextOffset, &zero, 1);
  SendMessageA(list, LVM_GETITEMTEXTA, row, (LPARAM)remote.At(0));
  return remote.Text();
}

std::string ColumnTitle(HWND list, Remote& remote) {
  LVCOLUMNA col{};
  col.mask = LVCF_TEXT;
  col.pszText = remote.At(Remote::kTextOffset);
  col.cchTextMax = 256;
  remote.Write(0, &col, sizeof(col));
  const char zero = 0;
  remote.Write(Remote::kTextOffset, &zero, 1);
  if (!SendMessageA(list, LVM_GETCOLUMNA, 0, (LPARAM)remote.At(0))) Fail("LVM_GETCOLUMN failed");
  return remote.Text();
}

int RowCount(HWND list) { return static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)); }

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

// Clears the keyword box, then types the GBK keyword as characters, one
// message each, the way a keyboard delivers them.
void TypeKeyword(HWND edit, const std::string& keyword) {
  SendMessageA(edit, WM_SETTEXT, 0, (LPARAM) "");
  std::vector<wchar_t> wide(keyword.size() + 1);
  const int units = MultiByteToWideChar(936, 0, keyword.data(), static_cast<int>(keyword.size()),
                                        wide.data(), static_cast<int>(wide.size()));
  for (int i = 0; i < units; ++i) SendMessageW(edit, WM_CHAR, wide[i], 1);
}

// Rows come in from three workers; the count is taken as final once it has
// reached `expected` and nothing more arrived for a while.
int WaitForRows(HWND list, int expected, int limitMs) {
  int rows = RowCount(list);
  int stableFor = 0;
  for (int waited = 0; waited < limitMs && stableFor < 2000; waited += 100) {
    Sleep(100);
    const int now = RowCount(list);
    stableFor = (now == rows && now >= expected) ? stableFor + 100 : 0;
    rows = now;
  }
  return rows;
}

// Reports the column title (once the 500 ms timer has caught up with the
// count) and every row as "title TAB link".
void ReportRows(HWND list, Remote& remote, int rows, const std::string& suffix) {
  std::string column;
  for (int waited = 0; waited < 5000; waited += 100) {
    column = ColumnTitle(list, remote);
    if (column.find("(" + std::to_string(rows) + ")") != std::string::npos) break;
    Sleep(100);
  }
  Line("column" + suffix, column);
  for (int row = 0; row < rows; ++row) {
    Line("row" + suffix, CellText(list, remote, row, 0) + "\t" + CellText(list, remote, row, 1));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 12) {
    std::fprintf(stderr,
                 "usage: %s TITLE KEYWORD_HEX ROWS OPEN_LOG REPORT KEYWORD2_HEX ROWS2 "
                 "KEYWORD3_HEX ROWS3 LATE_MARKER RELEASE\n",
                 argv[0]);
    return 2;
  }
  const std::string title = argv[1];
  const std::string keyword = FromHex(argv[2]);
  const int expectedRows = std::atoi(argv[3]);
  const char* openLog = argv[4];
  reportPath = argv[5];
  const std::string secondKeyword = FromHex(argv[6]);
  const int secondRows = std::atoi(argv[7]);
  const std::string thirdKeyword = FromHex(argv[8]);
  const int thirdRows = std::atoi(argv[9]);
  const char* lateMarker = argv[10];
  const char* release = argv[11];

  // The first window in a prefix can take several seconds.
  HWND window = nullptr;
  for (int waited = 0; !window && waited < 60000; waited += 200) {
    window = FindWindowA(nullptr, title.c_str());
    if (!window) Sleep(200);
  }
  if (!window) {
    Line("error", "no window titled '" + title + "'");
    Save();
    return 1;
  }
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

  HWND edit = FindWindowExA(window, nullptr, "Edit", nullptr);
  HWND search = FindWindowExA(window, nullptr, "Button", "搜索");
  HWND join = FindWindowExA(window, nullptr, "Button", "一键加群");
  HWND list = FindWindowExA(window, nullptr, WC_LISTVIEWA, nullptr);
  if (!edit || !search || !join || !list) {
    Line("error", "a control is missing");
    Save();
    return 1;
  }
  Remote remote(list);
  Line("column_before", ColumnTitle(list, remote));

  TypeKeyword(edit, keyword);
  char typed[256] = {};
  // GetWindowText would answer the stored caption, not the edit's content,
  // for a window of another process.
  SendMessageA(edit, WM_GETTEXT, sizeof(typed), (LPARAM)typed);
  Line("typed", typed);

  SendMessageA(search, BM_CLICK, 0, 0);

  const int rows = WaitForRows(list, expectedRows, 60000);
  ReportRows(list, remote, rows, "");

  // A keyword of only half- and full-width spaces starts nothing and keeps
  // the rows.
  TypeKeyword(edit, " \xA1\xA1 ");
  SendMessageA(search, BM_CLICK, 0, 0);
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
  SendMessageA(join, BM_CLICK, 0, 0);
  Line("join_opened", WaitForOpen(openLog, before, 20000) ? "yes" : "no");

  // A search replaced while one engine has not answered yet: the click
  // empties the list at once, and the late answer adds nothing.
  TypeKeyword(edit, secondKeyword);
  SendMessageA(search, BM_CLICK, 0, 0);
  Line("rows_before_replacing", std::to_string(WaitForRows(list, secondRows, 30000)));
  TypeKeyword(edit, thirdKeyword);
  SendMessageA(search, BM_CLICK, 0, 0);
  Line("rows_after_replacing_click", std::to_string(RowCount(list)));
  FILE* releaseFile = std::fopen(release, "wb");
  if (releaseFile) std::fclose(releaseFile);
  bool lateAnswerSent = false;
  for (int waited = 0; !lateAnswerSent && waited < 30000; waited += 100) {
    lateAnswerSent = GetFileAttributesA(lateMarker) != INVALID_FILE_ATTRIBUTES;
    if (!lateAnswerSent) Sleep(100);
  }
  Line("late_answer_sent", lateAnswerSent ? "yes" : "no");
  Sleep(1500);  // time for the old worker to (wrongly) add its row
  ReportRows(list, remote, WaitForRows(list, thirdRows, 30000), "3");

  Save();
  return 0;
}
