// Drives the Taviro window through engines that misbehave, and writes what it
// saw to a report file for the test script (window_faults_e2e.py).
//
// Usage: taviro_e2e_faults_driver TITLE REPORT SIGNALS
//                                 PAGES_HEX ROWS BIG_HEX ROWS HANG_HEX ROWS AGAIN_HEX ROWS
//   TITLE      the window title (ASCII)
//   REPORT     written as lines "name value"; texts are raw GBK bytes
//   SIGNALS    a folder where the server and this driver leave empty files
//              for each other:
//                big-half-sent  the server has sent half of the 10 MB page
//                big-release    it may send the rest
//                hang-1, hang-2 the request that is never answered has
//                               arrived, for the first and second hanging
//                               search
//                closing        the window is about to be closed
//   then four searches, each a keyword's GBK bytes in hex and the rows it is
//   expected to give:
//   PAGES      twenty pages from one engine, a repeated page from another
//   BIG        a 10 MB page and a page of binary garbage
//   HANG       one engine never answers
//   AGAIN      searched while that request still hangs; it hangs again, and
//              the window is closed
//
// Every message to the window is a probe (driver_support_win32.h): the test
// fails as soon as the window does not answer within a few seconds, above
// all while a worker reads the large page or is blocked in a request.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver_support_win32.h"

using namespace e2e;

namespace {

constexpr int kSignalLimitMs = 30000;
constexpr int kRowsLimitMs = 60000;
constexpr DWORD kExitLimitMs = 20000;

std::string signals;

std::string Signal(const char* name) { return signals + "\\" + name; }

void AwaitSignal(const char* name) {
  if (!WaitForFile(Signal(name), kSignalLimitMs)) Fail(std::string("no signal ") + name);
}

// The main window answers a message of its own thread's queue.
void Probe(HWND window, const char* where) {
  Ask(window, WM_NULL, 0, 0, where);
  Line("answered", where);
}

}  // namespace

int main(int argc, char** argv) {
  CheckUsage(argc, argv, 11,
             "TITLE REPORT SIGNALS PAGES_HEX ROWS BIG_HEX ROWS HANG_HEX ROWS AGAIN_HEX ROWS");
  const std::string title = argv[1];
  SetReportPath(argv[2]);
  signals = argv[3];
  struct Step {
    std::string keyword;
    int rows;
  } steps[4];
  for (int i = 0; i < 4; ++i) steps[i] = {FromHex(argv[4 + 2 * i]), std::atoi(argv[5 + 2 * i])};

  HWND window = WaitForWindow(title, 60000);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  // Taken now: once the process has ended its id may name another.
  HANDLE program = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!program) Fail("OpenProcess for the program failed");
  const Controls controls = FindControls(window);
  Remote remote(controls.list);
  Probe(window, "start");

  const auto reportRows = [&](const Step& step, const std::string& suffix) {
    ReportRows(controls.list, remote, WaitForRows(controls.list, step.rows, kRowsLimitMs), suffix);
  };

  // Soso refuses every connection throughout; Sogou repeats its page, Yahoo
  // China has more pages than are read.
  Search(controls, steps[0].keyword);
  Probe(window, "twenty pages");
  reportRows(steps[0], "_pages");

  // The big page is held half sent until the window has answered.
  Search(controls, steps[1].keyword);
  AwaitSignal("big-half-sent");
  Probe(window, "10 MB page half read");
  TouchFile(Signal("big-release"));
  Probe(window, "10 MB page released");
  reportRows(steps[1], "_big");

  Search(controls, steps[2].keyword);
  AwaitSignal("hang-1");
  Probe(window, "request hanging");
  reportRows(steps[2], "_hang");

  Search(controls, steps[3].keyword);
  AwaitSignal("hang-2");
  Probe(window, "two requests hanging");
  reportRows(steps[3], "_again");
  Probe(window, "before closing");

  // The close box's way: WM_CLOSE to the main window, whose default handling
  // destroys it. The process must end although two workers are blocked.
  TouchFile(Signal("closing"));
  const DWORD closedAt = GetTickCount();
  if (!PostMessageA(window, WM_CLOSE, 0, 0)) Fail("PostMessage WM_CLOSE failed");
  if (WaitForSingleObject(program, kExitLimitMs) == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(program, &code);
    Line("exit_ms", std::to_string(GetTickCount() - closedAt));
    char text[16];
    std::snprintf(text, sizeof(text), "%08lx", static_cast<unsigned long>(code));
    Line("exit_code", text);
  } else {
    Line("exit_ms", "none");
  }
  CloseHandle(program);
  Save();
  return 0;
}
