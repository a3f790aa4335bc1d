#include "search/matchable_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "search/engine_profile.h"
#include "tests/search/all_matches.h"
#include "text/regex.h"

namespace taviro {
namespace {

#define P TAVIRO_SHARE_LINK_PREFIX

Text Soso() { return QuotedPattern(SosoProfile().pattern); }
Text Sogou() { return QuotedPattern(SogouProfile().pattern); }
Text Yahoo() { return QuotedPattern(YahooChinaProfile().pattern); }

struct CutCase {
  const char* what;
  Text pattern;
  std::string page;
  std::string kept;
};

std::vector<CutCase> CutCases() {
  return {
    {"each line cut after its last match; line feeds kept", Soso(),
     "<li><a href=\"" P "?a=1\" target=\"_blank\">A</a> tail\r\n"
     "no link here\r\n"
     "<a href=\"" P "?b\" x target=\"_blank\">B</a><a href=\"" P "?c\" target=\"_blank\">C</A>"
     " <a href=\"" P "?d\" but no closing markup\r\n",
     "<li><a href=\"" P "?a=1\" target=\"_blank\">A</a>\n"
     "\n"
     "<a href=\"" P "?b\" x target=\"_blank\">B</a><a href=\"" P "?c\" target=\"_blank\">C</A>\n"},
    {"prefixes without closing markup leave nothing", Yahoo(),
     "<a href=\"" P "?x\">t " P "?y\">u " P "?z\">v</a>", ""},
    {"upper-case tags match without case", Yahoo(),
     "<H3><A HREF=\"" P "?u\">T</A></H3> rest", "<H3><A HREF=\"" P "?u\">T</A></H3>"},
    {"the optional k: a prefix ending in lin matches", Soso(),
     "<a href=\"http://" TAVIRO_SHARE_HOST "/share/lin?s\" target=\"_blank\">S</a>!",
     "<a href=\"http://" TAVIRO_SHARE_HOST "/share/lin?s\" target=\"_blank\">S</a>"},
    {"the match after a completed one starts where that ended", Sogou(),
     "sogou_preview_title=\"a\" sogou_preview_link=\"" P "?1\" sogou_preview_title=\"b\" "
     "sogou_preview_link=\"" P "?2\"\">x",
     "sogou_preview_title=\"a\" sogou_preview_link=\"" P "?1\" sogou_preview_title=\"b\" "
     "sogou_preview_link=\"" P "?2\""},
    // 0x81 0x78 is one character whose second byte reads "x".
    {"a trail byte is not a letter", Text("x@(.*?)y"),
     "\x81x@1y", ""},
    {"a lead byte takes a line feed with it", Text("a(.*?)b"),
     "a\x81\nb\n", "a\x81\nb\n"},
    {"a dot takes a double-byte character as one", Text("<.>(.*?)</"),
     "<电>x</ rest", "<电>x</"},
    {"other forms leave the page alone", Text("a|b(.*?)c"),
     "zzz a zzz", "zzz a zzz"},
    {"escaped letters are another form", Text("\\d(.*?)c"),
     "1 c zzz", "1 c zzz"},
    {"a pattern ending in a lazy group is another form",
     Text("a(.*?)"), "a zzz", "a zzz"},
  };
}

TEST(MatchableText, CutsEachLineAfterItsLastMatch) {
  for (const CutCase& c : CutCases()) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(std::string(MatchableText(c.pattern, Text(c.page)).view()), c.kept);
  }
}


// Pages strung together from the pieces of the three patterns, near misses,
// line ends, double-byte text and lone lead bytes, as the page buffer leaves
// them: the regular-expression engine finds the same matches and groups in
// the cut page as in the whole one.
TEST(MatchableText, SameMatchesAsTheWholePage) {
  const char* const tokens[] = {
      P, P, "http://" TAVIRO_SHARE_HOST "/share/lin", "HTTP://" TAVIRO_SHARE_HOST "/SHARE/LINK",
      "http://" TAVIRO_SHARE_HOST "/share/", "\" ", "\"", "target=\"_blank\">",
      "TARGET=\"_BLANK\">", "</a>", "</A>", "\">", "</a></h3>", "</h3>",
      "sogou_preview_title=\"", "\" sogou_preview_link=\"" P, " sogou_preview_link=\"",
      "电影", "合集", "x", " ", "?s=1", "\r\n", "\n", "\x81", "\xFE\"", "\x81<"};
  const Text patterns[] = {Soso(), Sogou(), Yahoo()};
  const int kPages = 400;
  RegexObject regex;
  uint32_t state = 12345;
  const auto next = [&state](uint32_t n) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % n;
  };
  for (int n = 0; n < kPages; ++n) {
    std::string raw;
    const uint32_t length = 4 + next(40);
    for (uint32_t t = 0; t < length; ++t) raw += tokens[next(std::size(tokens))];
    const Text page = ApplyPageBufferRule(Text(raw));
    for (const Text& pattern : patterns) {
      const Text kept = MatchableText(pattern, page);
      ASSERT_EQ(test::AllMatches(regex, pattern, kept), test::AllMatches(regex, pattern, page))
          << "page " << n << ": " << raw << "\npattern: " << pattern.c_str();
    }
  }
}

#undef P

}  // namespace
}  // namespace taviro
