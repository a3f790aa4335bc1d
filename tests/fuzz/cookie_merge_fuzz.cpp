// MergeCookies on arbitrary cookie texts: both variables lose their spaces,
// the result is the merged text, and (for ASCII input) every merged pair comes
// from the input, none is deleted and none repeats.
#include <algorithm>
#include <set>

#include "http/cookies.h"
#include "tests/fuzz/fuzz_support.h"

using namespace taviro;
using taviro::fuzz::Require;
using taviro::fuzz::Split;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<Text> p = taviro::fuzz::Pieces(data, size, 2);
  Text cookies = p[0];
  Text returned = p[1];
  const Text result = MergeCookies(cookies, returned);
  Require(result == cookies);

  if (!taviro::fuzz::IsAscii(p[0]) || !taviro::fuzz::IsAscii(p[1])) return 0;
  Require(returned.view().find(' ') == std::string_view::npos);

  std::set<std::string> offered;
  for (const Text* t : {&p[0], &p[1]}) {
    std::string bare(t->view());
    bare.erase(std::remove(bare.begin(), bare.end(), ' '), bare.end());
    for (const std::string& pair : Split(bare, ";")) offered.insert(pair);
  }
  std::set<std::string> seen;
  for (const std::string& pair : Split(cookies.view(), "; ")) {
    Require(offered.count(pair) == 1);
    Require(pair.size() < 8 || pair.compare(pair.size() - 8, 8, "=deleted") != 0);
    Require(seen.insert(pair).second);
  }
  return 0;
}
