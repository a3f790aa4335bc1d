// Cutting a page to the text an engine pattern's matches lie in changes none
// of its matches: the regular-expression object finds the same matches and
// groups in the cut page as in the whole one, for each engine pattern, on
// any bytes as the page buffer leaves them (every line end CR LF).
#include <string>
#include <vector>

#include "search/matchable_text.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/search/all_matches.h"
#include "text/regex.h"

using namespace taviro;
using taviro::fuzz::Require;

namespace {

#define P "http://pan.baidu.com/share/link"
const char* const kPatterns[] = {
    P "?(.*?)\" (.*?)target=\"_blank\">(.*?)</a>",
    "sogou_preview_title=\"(.*?)\" sogou_preview_link=\"" P "(.*?)\"",
    P "(.*?)\">(.*?)</a></h3>",
};
#undef P


// Every line end CR LF, as the page buffer gives it.
Text WithCrLf(const Text& text) {
  std::string out;
  const std::string_view in = text.view();
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '\r') {
      out += "\r\n";
      if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
    } else if (in[i] == '\n') {
      out += "\r\n";
    } else {
      out += in[i];
    }
  }
  return Text(std::string_view(out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;  // the whole page goes through a backtracking engine
  const Text page = WithCrLf(Text(reinterpret_cast<const char*>(data), size));
  RegexObject regex;
  for (const char* pattern : kPatterns) {
    const Text cut = MatchableText(Text(pattern), page);
    Require(cut.size() <= page.size());
    Require(test::AllMatches(regex, Text(pattern), cut) ==
            test::AllMatches(regex, Text(pattern), page));
  }
  return 0;
}
