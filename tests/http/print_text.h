// Readable failure messages for Text and Bytes in the HTTP tests.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "text/text.h"

namespace taviro {

inline void PrintTo(const Text& text, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(text.view()));
}

inline void PrintTo(const Bytes& bytes, std::ostream* os) {
  *os << ::testing::PrintToString(std::string(bytes.view()));
}

}  // namespace taviro
