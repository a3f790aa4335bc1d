// Starts window programs one after another and times each from CreateProcess
// to its window being visible, the programs taking turns so that they share
// whatever else the machine is doing.
//
// Usage: taviro_bench_start_probe REPORT ROUNDS WARMUPS NAME TITLE COMMAND [NAME TITLE COMMAND]...
//   REPORT   written as lines "NAME ROUND MS" (rounds below WARMUPS are warm-ups,
//            reported too), or "error TEXT"
//   NAME     a label for the report
//   TITLE    the window title to wait for; "-" waits for the process to end
//            instead (a process start alone)
//   COMMAND  the command line, program first
//
// A window counts when it is a visible top-level window with that title
// belonging to the started process. It is then closed (WM_CLOSE) and the
// process awaited before the next start.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/windows/bench_support_win32.h"
#include "tests/app/e2e/driver_support_win32.h"

namespace {

using bench::NowMs;

struct Program {
  std::string name;
  std::string title;
  std::string command;
};

HWND VisibleWindowOf(DWORD pid, const std::string& title) {
  for (HWND w = FindWindowExA(nullptr, nullptr, nullptr, title.c_str()); w;
       w = FindWindowExA(nullptr, w, nullptr, title.c_str())) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == pid && IsWindowVisible(w)) return w;
  }
  return nullptr;
}

// Milliseconds to the window (or to the process's end), -1 on failure.
double TimeOne(const Program& program, std::string& error) {
  const double limitMs = 60000;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  std::vector<char> command(program.command.begin(), program.command.end());
  command.push_back('\0');
  const double start = NowMs();
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    error = "CreateProcess failed for " + program.command;
    return -1;
  }
  double elapsed = -1;
  HWND window = nullptr;
  if (program.title == "-") {
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(limitMs)) == WAIT_OBJECT_0) {
      elapsed = NowMs() - start;
    }
  } else {
    for (double now = start; now - start < limitMs; now = NowMs()) {
      window = VisibleWindowOf(process.dwProcessId, program.title);
      if (window) {
        elapsed = NowMs() - start;
        break;
      }
      if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0) break;  // ended early
    }
  }
  if (elapsed < 0) error = "no window from " + program.command;
  if (window) PostMessageA(window, WM_CLOSE, 0, 0);
  if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 1);
    WaitForSingleObject(process.hProcess, 5000);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return elapsed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7 || (argc - 4) % 3 != 0) {
    std::fprintf(stderr,
                 "usage: %s REPORT ROUNDS WARMUPS NAME TITLE COMMAND [NAME TITLE COMMAND]...\n",
                 argv[0]);
    return 2;
  }
  e2e::SetReportPath(argv[1]);
  const int rounds = std::atoi(argv[2]);
  const int warmups = std::atoi(argv[3]);
  std::vector<Program> programs;
  for (int i = 4; i + 2 < argc; i += 3) programs.push_back({argv[i], argv[i + 1], argv[i + 2]});

  const int n = static_cast<int>(programs.size());
  for (int round = 0; round < warmups + rounds; ++round) {
    // Each round starts with the next program, so none is always first.
    for (int k = 0; k < n; ++k) {
      const Program& program = programs[(round + k) % n];
      std::string error;
      const double ms = TimeOne(program, error);
      if (ms < 0) e2e::Fail(error);
      e2e::Line(program.name, std::to_string(round - warmups) + " " + bench::Ms(ms));
      Sleep(300);  // lets the X server and the window manager settle
    }
  }
  e2e::Save();
  return 0;
}
