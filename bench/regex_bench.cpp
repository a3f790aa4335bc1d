// Per-page cost of the engine patterns: RegexObject (the host's PCRE2
// backend, with its GBK <-> UTF-16 conversions and the dialect translation)
// against PCRE2 alone on the same page already in UTF-16, interpreted and
// JIT-compiled (the floor). Each iteration runs one pattern over one 100 KB
// results page and reads the title and link of every match.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <benchmark/benchmark.h>
#include <pcre2.h>

#include <string>

#include "search/matchable_text.h"
#include "tests/text/engine_patterns.h"
#include "text/codepage.h"
#include "text/regex.h"
#include "text/text.h"

namespace taviro {
namespace {

using testing::EnginePattern;

#define P TAVIRO_TEST_SHARE_LINK_PREFIX

// One result block per engine, in the markup its pattern expects.
std::string ResultBlock(const EnginePattern& engine, int n) {
  const std::string id = std::to_string(100000 + n);
  const std::string title = "电影<em>合集</em>第" + std::to_string(n) + "部 高清下载";
  if (engine.titleGroup == 3)  // Soso
    return "<div class=\"vrwrap\"><h3 class=\"vrTitle\"><a href=\"" P "?shareid=" + id +
           "&amp;uk=2887\" target=\"_blank\">" + title + "</a></h3></div>\r\n";
  if (engine.titleGroup == 1)  // Sogou
    return "<div class=\"rb\"><a sogou_preview_title=\"<em><!--red_beg-->" + title +
           "<!--red_end--></em>\" sogou_preview_link=\"" P "?shareid=" + id +
           "&amp;uk=2887\" href=\"/link?url=x\">" + title + "</a></div>\r\n";
  return "<li><div class=\"res\"><h3><a href=\"" P "?shareid=" + id + "&uk=2887\">" + title +
         "</a></h3></div></li>\r\n";  // Yahoo China
}

// About 100 KB: ten results among the ordinary furniture of a results page
// (scripts, styles, navigation), in GBK with CR LF line ends.
Text ResultsPage(const EnginePattern& engine) {
  std::string page = "<html><head><meta charset=\"gbk\"><title>搜索结果</title>\r\n";
  const std::string furniture =
      "<div class=\"nav\"><a href=\"/web?query=x&amp;ie=gbk\" class=\"s\">网页</a> "
      "<a href=\"/images\">图片</a> <span style=\"color:#666\">相关搜索：电影 下载 高清</span>"
      "</div><script>var s=\"abc\";function f(a){return a&&a.length>3?a:\"\";}</script>\r\n";
  int n = 0;
  while (page.size() < 100'000) {
    page += furniture;
    if (page.size() > static_cast<size_t>(n + 1) * 9'000 && n < 10) page += ResultBlock(engine, ++n);
  }
  page += "</body></html>\r\n";
  return Text(page);
}

// The worker's way: the page cut to the text matches can lie in, then the
// object over that.
void RunRegexObject(benchmark::State& state, const EnginePattern& engine, bool cut) {
  const Text page = ResultsPage(engine);
  const Text pattern = QuotedPattern(engine.pattern);
  RegexObject regex;  // one per worker, reused page after page
  int32_t matches = 0;
  for (auto _ : state) {
    regex.Create(engine.pattern, cut ? MatchableText(pattern, page) : page, false, true, true,
                 true);
    matches = regex.MatchCount();
    for (int32_t i = 1; i <= matches; ++i) {
      benchmark::DoNotOptimize(regex.SubmatchText(i, engine.titleGroup));
      benchmark::DoNotOptimize(regex.SubmatchText(i, engine.linkGroup));
    }
  }
  if (matches != 10) state.SkipWithError("expected ten matches");
  state.SetBytesProcessed(state.iterations() * page.size());
}

void BM_RegexObject(benchmark::State& state, const EnginePattern& engine) {
  RunRegexObject(state, engine, false);
}
void BM_CutThenRegexObject(benchmark::State& state, const EnginePattern& engine) {
  RunRegexObject(state, engine, true);
}

std::u16string Wide(const Text& text) {
  std::u16string wide(text.size(), u'\0');
  wide.resize(CodePageToUtf16(kCodePageGbk, 0, text.data(), text.size(), wide.data(), text.size()));
  return wide;
}

// The engine's pattern as plain PCRE2: the quote marker replaced, PCRE2's own
// dialect (close enough here: "." stops at LF, no anchors).
std::u16string PlainPattern(const EnginePattern& engine) {
  return Wide(ReplaceText(engine.pattern, "#引号", "\"", true));
}

void BM_Pcre2(benchmark::State& state, const EnginePattern& engine, bool jit) {
  const std::u16string page = Wide(ResultsPage(engine));
  const std::u16string pattern = PlainPattern(engine);
  int error = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                   PCRE2_CASELESS, &error, &offset, nullptr);
  if (jit) pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
  pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
  const auto* subject = reinterpret_cast<PCRE2_SPTR>(page.data());
  int matches = 0;
  for (auto _ : state) {
    matches = 0;
    for (PCRE2_SIZE start = 0;
         pcre2_match(code, subject, page.size(), start, 0, data, nullptr) > 0;) {
      const PCRE2_SIZE* o = pcre2_get_ovector_pointer(data);
      for (int g : {engine.titleGroup, engine.linkGroup})
        benchmark::DoNotOptimize(page.substr(o[2 * g], o[2 * g + 1] - o[2 * g]));
      ++matches;
      start = o[1] > o[0] ? o[1] : o[0] + 1;
    }
  }
  if (matches != 10) state.SkipWithError("expected ten matches");
  state.SetBytesProcessed(state.iterations() * page.size() * 2);
  pcre2_match_data_free(data);
  pcre2_code_free(code);
}

void BM_Pcre2Interpreted(benchmark::State& state, const EnginePattern& engine) {
  BM_Pcre2(state, engine, false);
}
void BM_Pcre2Jit(benchmark::State& state, const EnginePattern& engine) {
  BM_Pcre2(state, engine, true);
}

#undef P

BENCHMARK_CAPTURE(BM_RegexObject, Soso, testing::kSosoPattern)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RegexObject, Sogou, testing::kSogouPattern)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RegexObject, YahooChina, testing::kYahooChinaPattern)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_CutThenRegexObject, Soso, testing::kSosoPattern)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_CutThenRegexObject, Sogou, testing::kSogouPattern)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_CutThenRegexObject, YahooChina, testing::kYahooChinaPattern)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pcre2Interpreted, Soso, testing::kSosoPattern)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pcre2Interpreted, Sogou, testing::kSogouPattern)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pcre2Interpreted, YahooChina, testing::kYahooChinaPattern)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pcre2Jit, Soso, testing::kSosoPattern)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pcre2Jit, Sogou, testing::kSogouPattern)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Pcre2Jit, YahooChina, testing::kYahooChinaPattern)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace taviro

BENCHMARK_MAIN();
