// Times VisitUrl over many pages of one address; run by bench/http_timing.py
// (under Wine for the win32 build), which compares it with curl.
//   visit_url_timing URL COUNT
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "http/visit_url.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: visit_url_timing URL COUNT\n");
    return 2;
  }
  const taviro::Text url(argv[1]);
  const int count = std::atoi(argv[2]);
  long long bytes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) bytes += taviro::VisitUrl(url).size();
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  std::printf("%d pages, %lld bytes, %.1f ms\n", count, bytes, elapsed.count());
  return bytes > 0 ? 0 : 1;
}
