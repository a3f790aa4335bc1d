// Times one search in a running Taviro window from another process: from the
// Search click to the last expected row, and to the first column's title
// showing the count.
//
// Usage: taviro_bench_search_driver TITLE KEYWORD_HEX ROWS REPORT [POLL_MS]
//   TITLE        the window title (ASCII)
//   KEYWORD_HEX  the keyword's GBK bytes in hex
//   ROWS         the rows the search gives when every page has been read; the
//                title before the click must show another count
//   REPORT       written as lines "name value"
//   POLL_MS      how often the list is asked (default 2)
//
// Report lines: click_ms (the click's own round trip), first_row_ms,
// rows_ms (the last row in), title_ms (the title caught up), rows (as
// counted at the end), and "error TEXT" when something went wrong. The
// window is found and asked through the end-to-end tests' driver support: a
// message it leaves unanswered for e2e::kAnswerLimitMs ends the run as an error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/windows/bench_support_win32.h"
#include "tests/app/e2e/driver_support_win32.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s TITLE KEYWORD_HEX ROWS REPORT [POLL_MS]\n", argv[0]);
    return 2;
  }
  const std::string title = argv[1];
  const std::string keyword = e2e::FromHex(argv[2]);
  const int expected = std::atoi(argv[3]);
  e2e::SetReportPath(argv[4]);
  const DWORD pollMs = argc == 6 ? static_cast<DWORD>(std::atoi(argv[5])) : 2;
  const double limitMs = 300000;

  const HWND window = e2e::WaitForWindow(title, 60000);
  const e2e::Controls controls = e2e::FindControls(window);
  const HWND list = controls.list;
  e2e::Remote remote(list);
  const std::string wantTitle = "(" + std::to_string(expected) + ")";

  e2e::Ask(controls.edit, WM_SETTEXT, 0, (LPARAM)keyword.c_str(), "setting the keyword");

  const double start = bench::NowMs();
  e2e::Ask(controls.search, BM_CLICK, 0, 0, "clicking Search");
  const double clicked = bench::NowMs();
  e2e::Line("click_ms", bench::Ms(clicked - start));

  // The row count first: it is the moment a user sees the last result. The
  // title follows on the window's row-count timer.
  double firstRow = -1;
  double lastRow = -1;
  int rows = 0;
  for (double now = clicked; now - start < limitMs; now = bench::NowMs()) {
    rows = e2e::RowCount(list);
    if (rows > 0 && firstRow < 0) firstRow = now;
    if (rows >= expected) {
      lastRow = now;
      break;
    }
    Sleep(pollMs);
  }
  double titleAt = -1;
  if (lastRow >= 0) {
    for (double now = bench::NowMs(); now - start < limitMs; now = bench::NowMs()) {
      if (e2e::ColumnTitle(list, remote).find(wantTitle) != std::string::npos) {
        titleAt = now;
        break;
      }
      Sleep(pollMs);
    }
  }
  if (firstRow >= 0) e2e::Line("first_row_ms", bench::Ms(firstRow - start));
  if (lastRow >= 0) e2e::Line("rows_ms", bench::Ms(lastRow - start));
  if (titleAt >= 0) e2e::Line("title_ms", bench::Ms(titleAt - start));
  e2e::Line("rows", std::to_string(e2e::RowCount(list)));
  if (lastRow < 0) e2e::Line("error", "only " + std::to_string(rows) + " rows arrived");
  e2e::Save();
  return lastRow < 0 ? 1 : 0;
}
