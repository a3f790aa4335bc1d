// What the window drivers share: the report file, reading the Taviro window
// of another process, typing and clicking.
//
// Every message to the window goes through Ask, which gives up after
// kAnswerLimitMs: a window that does not answer is a failure of the test,
// not a driver that hangs until CTest's timeout.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

constexpr UINT kAnswerLimitMs = 5000;

// Ends the driver with status 2 and the usage line unless it was given
// `count` arguments.
void CheckUsage(int argc, char** argv, int count, const char* usage);

// The report: lines "name value", texts as raw GBK bytes.
void SetReportPath(const char* path);
void Line(const std::string& name, const std::string& value);
void Save();
// Reports the error, saves the report and ends the driver with status 1.
[[noreturn]] void Fail(const std::string& why);

// A keyword's GBK bytes from hex (the command line would otherwise go
// through a code-page conversion of its own).
std::string FromHex(const std::string& hex);
bool FileExists(const char* path);
void TouchFile(const std::string& path);
// Waits (bounded) until the file exists.
bool WaitForFile(const std::string& path, int limitMs);

// SendMessage that fails the test when the window has not answered within
// kAnswerLimitMs; `what` names the moment in the failure.
LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, const char* what);

// The window once it is shown.
HWND WaitForWindow(const std::string& title, int limitMs);

struct Controls {
  HWND edit;
  HWND search;
  HWND join;
  HWND list;
};
Controls FindControls(HWND window);

// Memory in the window's process for one message's structure and text: the
// list view's texts live there.
class Remote {
 public:
  explicit Remote(HWND window);
  ~Remote();
  Remote(const Remote&) = delete;
  Remote& operator=(const Remote&) = delete;

  static constexpr SIZE_T kSize = 0x10000;
  static constexpr SIZE_T kTextOffset = 0x1000;
  char* At(SIZE_T offset) const { return base_ + offset; }
  void Write(SIZE_T offset, const void* data, SIZE_T n);
  void Read(SIZE_T offset, void* data, SIZE_T n);
  std::string Text();

 private:
  HANDLE process_ = nullptr;
  char* base_ = nullptr;
};

std::string CellText(HWND list, Remote& remote, int row, int column);
std::string ColumnTitle(HWND list, Remote& remote);
int RowCount(HWND list);

// Clears the keyword box, then types the GBK keyword as characters, one
// message each, the way a keyboard delivers them.
void TypeKeyword(HWND edit, const std::string& keyword);
void Search(const Controls& controls, const std::string& keyword);

// Rows come in from three workers; the count is taken as final once it has
// reached `expected` and nothing more arrived for a while.
int WaitForRows(HWND list, int expected, int limitMs);

// Reports the column title (once the 500 ms timer has caught up with the
// count) and every row as "title TAB link".
void ReportRows(HWND list, Remote& remote, int rows, const std::string& suffix);

}  // namespace e2e
