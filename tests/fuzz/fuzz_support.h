// Helpers shared by the libFuzzer targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace taviro::fuzz {

// The input cut at NUL bytes into at most `count` texts (missing ones empty).
inline std::vector<Text> Pieces(const uint8_t* data, std::size_t size, std::size_t count) {
  std::vector<Text> pieces;
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  while (pieces.size() + 1 < count) {
    const std::size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    pieces.emplace_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  pieces.emplace_back(rest.substr(0, rest.find('\0')));
  while (pieces.size() < count) pieces.emplace_back();
  return pieces;
}

inline bool IsAscii(const Text& t) {
  for (unsigned char c : t.view()) {
    if (c >= 0x80) return false;
  }
  return true;
}

inline bool Contains(const Text& haystack, const Text& needle) {
  return haystack.view().find(needle.view()) != std::string_view::npos;
}

inline std::vector<std::string> Split(std::string_view s, std::string_view separator) {
  std::vector<std::string> out;
  if (s.empty()) return out;
  for (;;) {
    const std::size_t at = s.find(separator);
    out.emplace_back(s.substr(0, at));
    if (at == std::string_view::npos) break;
    s.remove_prefix(at + separator.size());
  }
  return out;
}

// A broken invariant is a crash the fuzzer reports with its input.
inline void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace taviro::fuzz
