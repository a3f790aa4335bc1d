// What the timing programs add to the end-to-end tests' driver support
// (tests/app/e2e/driver_support_win32.h, linked with this): a clock and the
// way its readings are written into a report.
#pragma once

#include <string>

namespace bench {

// Milliseconds on the performance counter, from an arbitrary origin.
double NowMs();

// A duration as the reports write it: milliseconds with one decimal.
std::string Ms(double ms);

}  // namespace bench
