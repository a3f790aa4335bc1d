#include "driver_support_win32.h"

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace e2e {
namespace {

std::string report;
const char* reportPath = nullptr;

}  // namespace

void CheckUsage(int argc, char** argv, int count, const char* usage) {
  if (argc == count + 1) return;
  std::fprintf(stderr, "usage: %s %s\n", argv[0], usage);
  std::exit(2);
}

void SetReportPath(const char* path) { reportPath = path; }

void Line(const std::string& name, const std::string& value) {
  report += name + " " + value + "\n";
}

void Save() {
  FILE* out = std::fopen(reportPath, "wb");
  if (!out) return;
  std::fwrite(report.data(), 1, report.size(), out);
  std::fclose(out);
}

void Fail(const std::string& why) {
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

bool FileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

void TouchFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) Fail("cannot create " + path);
  std::fclose(file);
}

bool WaitForFile(const std::string& path, int limitMs) {
  for (int waited = 0; waited < limitMs; waited += 100) {
    if (FileExists(path.c_str())) return true;
    Sleep(100);
  }
  return FileExists(path.c_str());
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char* what) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kAnswerLimitMs,
                           &result)) {
    Fail(std::string("the window did not answer within ") + std::to_string(kAnswerLimitMs) +
         " ms (" + what + ")");
  }
  return static_cast<LRESULT>(result);
}

HWND WaitForWindow(const std::string& title, int limitMs) {
  // The window is found as soon as it exists, while its controls are still
  // being made; it is shown once they are all there.
  for (int waited = 0; waited < limitMs; waited += 200) {
    HWND window = FindWindowA(nullptr, title.c_str());
    if (window && IsWindowVisible(window)) return window;
    Sleep(200);
  }
  Fail("no window titled '" + title + "' shown");
}

Controls FindControls(HWND window) {
  Controls c{FindWindowExA(window, nullptr, "Edit", nullptr),
             FindWindowExA(window, nullptr, "Button", "搜索"),
             FindWindowExA(window, nullptr, "Button", "一键加群"),
             FindWindowExA(window, nullptr, WC_LISTVIEWA, nullptr)};
  if (!c.edit || !c.search || !c.join || !c.list) Fail("a control is missing");
  return c;
}

Remote::Remote(HWND window) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process_) Fail("OpenProcess failed");
  base_ = static_cast<char*>(
      VirtualAllocEx(process_, nullptr, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  if (!base_) Fail("VirtualAllocEx failed");
}

Remote::~Remote() {
  VirtualFreeEx(process_, base_, 0, MEM_RELEASE);
  CloseHandle(process_);
}

void Remote::Write(SIZE_T offset, const void* data, SIZE_T n) {
  if (!WriteProcessMemory(process_, base_ + offset, data, n, nullptr)) Fail("write failed");
}

void Remote::Read(SIZE_T offset, void* data, SIZE_T n) {
  if (!ReadProcessMemory(process_, base_ + offset, data, n, nullptr)) Fail("read failed");
}

std::string Remote::Text() {
  std::vector<char> text(kSize - kTextOffset);
  Read(kTextOffset, text.data(), text.size());
  text.back() = '\0';
  return std::string(text.data());
}

std::string CellText(HWND list, Remote& remote, int row, int column) {
  LVITEMA item{};
  item.iSubItem = column;
  item.pszText = remote.At(Remote::kTextOffset);
  item.cchTextMax = static_cast<int>(Remote::kSize - Remote::kTextOffset);
  remote.Write(0, &item, sizeof(item));
  const char zero = 0;
  remote.Write(Remote::kTextOffset, &zero, 1);
  Ask(list, LVM_GETITEMTEXTA, row, (LPARAM)remote.At(0), "reading a cell");
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
  if (!Ask(list, LVM_GETCOLUMNA, 0, (LPARAM)remote.At(0), "reading the column title")) {
    Fail("LVM_GETCOLUMN failed");
  }
  return remote.Text();
}

int RowCount(HWND list) {
  return static_cast<int>(Ask(list, LVM_GETITEMCOUNT, 0, 0, "counting the rows"));
}

void TypeKeyword(HWND edit, const std::string& keyword) {
  Ask(edit, WM_SETTEXT, 0, (LPARAM) "", "emptying the keyword box");
  std::vector<wchar_t> wide(keyword.size() + 1);
  const int units = MultiByteToWideChar(936, 0, keyword.data(), static_cast<int>(keyword.size()),
                                        wide.data(), static_cast<int>(wide.size()));
  for (int i = 0; i < units; ++i) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(edit, WM_CHAR, wide[i], 1, SMTO_NORMAL, kAnswerLimitMs, &result)) {
      Fail("the window did not answer a typed character within " +
           std::to_string(kAnswerLimitMs) + " ms");
    }
  }
}

void Search(const Controls& controls, const std::string& keyword) {
  TypeKeyword(controls.edit, keyword);
  Ask(controls.search, BM_CLICK, 0, 0, "clicking Search");
}

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

}  // namespace e2e
