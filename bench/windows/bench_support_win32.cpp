#include "bench_support_win32.h"

#include <windows.h>

#include <cstdio>

namespace bench {

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / frequency;
}

std::string Ms(double ms) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", ms);
  return text;
}

}  // namespace bench
