// Every match and group of a run of the regular-expression object, in
// order, as the engine workers read them.
#pragma once

#include <string>
#include <vector>

#include "text/regex.h"

namespace taviro::test {

inline std::vector<std::string> AllMatches(RegexObject& regex, const Text& pattern,
                                           const Text& page) {
  std::vector<std::string> found;
  if (!regex.Create(pattern, page, false, true, true, false)) return {"(rejected)"};
  const int32_t groups = regex.SubmatchCount();
  for (int32_t i = 1; i <= regex.MatchCount(); ++i) {
    found.emplace_back(regex.MatchText(i).view());
    for (int32_t g = 1; g <= groups; ++g) found.emplace_back(regex.SubmatchText(i, g).view());
  }
  return found;
}

}  // namespace taviro::test
