// The engine workers of one search without the window: the same EngineWorker,
// VisitUrl and regular-expression object as the program, with rows counted
// instead of shown. Tells the workers' own time from the window's part.
//
// Usage: taviro_bench_worker_timing KEYWORD_HEX MODE [ENGINES]
//   KEYWORD_HEX  the keyword's GBK bytes in hex
//   MODE         "parallel" (one thread per engine, as the program) or
//                "serial" (the engines one after another on one thread)
//   ENGINES      which of soso, sogou, yahoo, as letters "s", "g", "y"
//                (default "sgy")
//
// Prints per engine: pages, rows, wall ms, ms inside the fetcher (VisitUrl),
// and the total wall ms.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/link_registry.h"
#include "bench/windows/bench_support_win32.h"
#include "http/visit_url.h"
#include "search/engine_profile.h"
#include "search/engine_worker.h"
#include "tests/app/e2e/driver_support_win32.h"

namespace {

using bench::NowMs;

class CountingSession : public taviro::SearchSession {
 public:
  CountingSession(const taviro::Text& keyword, taviro::LinkRegistry& registry)
      : keyword_(keyword), registry_(registry) {}
  bool ReadKeyword(taviro::Text& keyword) override {
    keyword = keyword_;
    return true;
  }
  bool GoesOn() override { return true; }
  int OfferLink(const taviro::Text& link) override { return registry_.AddLinkIfNew(link); }
  bool AddResultRow(const taviro::Text&, const taviro::Text&) override {
    ++rows;
    return true;
  }
  int rows = 0;

 private:
  taviro::Text keyword_;
  taviro::LinkRegistry& registry_;
};

struct Run {
  const taviro::EngineProfile* profile;
  int pages = 0;
  double fetchMs = 0;
  double wallMs = 0;
  int rows = 0;
};

void RunEngine(Run& run, const taviro::Text& keyword, taviro::LinkRegistry& registry) {
  CountingSession session(keyword, registry);
  std::mutex engineLock;
  const taviro::PageFetcher fetch = [&run](const taviro::Text& url) {
    const double start = NowMs();
    taviro::Bytes body = taviro::VisitUrl(url);
    run.fetchMs += NowMs() - start;
    ++run.pages;
    return body;
  };
  const double start = NowMs();
  taviro::EngineWorker(*run.profile, session, fetch, engineLock);
  run.wallMs = NowMs() - start;
  run.rows = session.rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s KEYWORD_HEX parallel|serial [sgy]\n", argv[0]);
    return 2;
  }
  const taviro::Text keyword(e2e::FromHex(argv[1]));
  const bool parallel = std::string(argv[2]) == "parallel";
  const std::string which = argc > 3 ? argv[3] : "sgy";
  std::vector<Run> runs;
  for (char c : which) {
    if (c == 's') runs.push_back({&taviro::SosoProfile()});
    if (c == 'g') runs.push_back({&taviro::SogouProfile()});
    if (c == 'y') runs.push_back({&taviro::YahooChinaProfile()});
  }
  taviro::LinkRegistry registry;
  const double start = NowMs();
  if (parallel) {
    std::vector<std::thread> threads;
    for (Run& run : runs) threads.emplace_back([&run, &keyword, &registry] {
      RunEngine(run, keyword, registry);
    });
    for (std::thread& t : threads) t.join();
  } else {
    for (Run& run : runs) RunEngine(run, keyword, registry);
  }
  const double total = NowMs() - start;
  for (const Run& run : runs) {
    std::printf("%s pages %d rows %d wall_ms %.1f fetch_ms %.1f\n", run.profile->name.c_str(),
                run.pages, run.rows, run.wallMs, run.fetchMs);
  }
  std::printf("total_ms %.1f\n", total);
  return 0;
}
