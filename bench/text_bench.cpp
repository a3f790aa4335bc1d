// The character walk of the text primitives against plain byte operations
// on a ~1 MB GBK result page. Each measured operation has a reference next
// to it; docs/performance.md records the ratios.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

namespace taviro {
namespace {

// A result page of the kind the engine workers read: markup, Chinese titles
// with highlighted keywords, share links, and the pager at the very end.
std::string MakeResultPage() {
  static const char* const kWords[] = {"电影", "合集", "高清", "下载", "教程", "资料",
                                       "全集", "音乐", "软件", "文档", "小说", "动画"};
  std::string page =
      "<html><head><meta charset=\"gbk\"><title>搜索结果 - 网盘</title></head><body>\r\n";
  uint32_t seed = 12345;
  auto next = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  while (page.size() < (1u << 20)) {
    const char* a = kWords[next() % 12];
    const char* b = kWords[next() % 12];
    page += "<div class=\"result\"><h3><a href=\"http://pan.baidu.com/share/link?shareid=";
    page += std::to_string(next() % 1000000) + "&uk=" + std::to_string(next() % 100000000);
    page += "\" target=\"_blank\"><em>";
    page += a;
    page += "</em>";
    page += b;
    page += " 第" + std::to_string(next() % 100) + "部 ";
    page += a;
    page += "</a></h3>\r\n<p class=\"info\">百度网盘　分享时间：2013-0" +
            std::to_string(1 + next() % 9) + "-1" + std::to_string(next() % 10) + "　文件大小：" +
            std::to_string(next() % 900) + "M　分享者：用户" + std::to_string(next() % 10000) +
            "</p></div>\r\n";
  }
  page += "<div class=\"pager\"><a href=\"?page=2\">下一页</a></div></body></html>  \r\n  ";
  return page;
}

const std::string& Page() {
  static const std::string page = MakeResultPage();
  return page;
}

const Text& PageText() {
  static const Text text(Page());
  return text;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(Page().size()));
}

// --- FindText: the pager link, found once at the very end -------------------

const char kNextPage[] = "下一页";

void BM_FindText(benchmark::State& state) {
  const Text sought(kNextPage);
  for (auto _ : state) benchmark::DoNotOptimize(FindText(PageText(), sought));
  SetBytes(state);
}
BENCHMARK(BM_FindText);

void BM_FindText_memmem(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    benchmark::DoNotOptimize(memmem(page.data(), page.size(), kNextPage, std::strlen(kNextPage)));
  }
  SetBytes(state);
}
BENCHMARK(BM_FindText_memmem);

void BM_FindText_string_view_find(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(page.find(kNextPage));
  SetBytes(state);
}
BENCHMARK(BM_FindText_string_view_find);

// An ASCII text that is not on the page: the whole page is searched.
const char kAbsent[] = "shareid=99999999&";

void BM_FindTextAbsent(benchmark::State& state) {
  const Text sought(kAbsent);
  for (auto _ : state) benchmark::DoNotOptimize(FindText(PageText(), sought));
  SetBytes(state);
}
BENCHMARK(BM_FindTextAbsent);

void BM_FindTextAbsent_memmem(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    benchmark::DoNotOptimize(memmem(page.data(), page.size(), kAbsent, std::strlen(kAbsent)));
  }
  SetBytes(state);
}
BENCHMARK(BM_FindTextAbsent_memmem);

// A sought text made of common bytes: many candidates to check for a
// character start on the way to the pager.
const char kCommon[] = "\">下一页";

void BM_FindTextCommonBytes(benchmark::State& state) {
  const Text sought(kCommon);
  for (auto _ : state) benchmark::DoNotOptimize(FindText(PageText(), sought));
  SetBytes(state);
}
BENCHMARK(BM_FindTextCommonBytes);

void BM_FindTextCommonBytes_memmem(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    benchmark::DoNotOptimize(memmem(page.data(), page.size(), kCommon, std::strlen(kCommon)));
  }
  SetBytes(state);
}
BENCHMARK(BM_FindTextCommonBytes_memmem);

void BM_FindTextIgnoreCase(benchmark::State& state) {
  const Text sought("PAGE=2");
  for (auto _ : state) benchmark::DoNotOptimize(FindText(PageText(), sought, 1, true));
  SetBytes(state);
}
BENCHMARK(BM_FindTextIgnoreCase);

void BM_FindTextIgnoreCase_memmem(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(memmem(page.data(), page.size(), "page=2", 6));
  SetBytes(state);
}
BENCHMARK(BM_FindTextIgnoreCase_memmem);

// --- FindTextReverse: the page title, found last from the end ---------------

const char kTitle[] = "<title>";

void BM_FindTextReverse(benchmark::State& state) {
  const Text sought(kTitle);
  for (auto _ : state) benchmark::DoNotOptimize(FindTextReverse(PageText(), sought));
  SetBytes(state);
}
BENCHMARK(BM_FindTextReverse);

void BM_FindTextReverse_string_view_rfind(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) benchmark::DoNotOptimize(page.rfind(kTitle));
  SetBytes(state);
}
BENCHMARK(BM_FindTextReverse_string_view_rfind);

void BM_FindTextReverse_memrchr_loop(benchmark::State& state) {
  // A plain backward search: memrchr for the first byte, then memcmp.
  const std::string& page = Page();
  const std::size_t n = std::strlen(kTitle);
  for (auto _ : state) {
    const char* begin = page.data();
    const char* end = begin + page.size();
    const char* found = nullptr;
    for (const char* limit = end; limit > begin;) {
      const char* hit = static_cast<const char*>(memrchr(begin, kTitle[0], limit - begin));
      if (hit == nullptr) break;
      if (static_cast<std::size_t>(end - hit) >= n && std::memcmp(hit, kTitle, n) == 0) {
        found = hit;
        break;
      }
      limit = hit;
    }
    benchmark::DoNotOptimize(found);
  }
  SetBytes(state);
}
BENCHMARK(BM_FindTextReverse_memrchr_loop);

// --- ReplaceText: markup out of the titles, whatever its case ----------------

void BM_ReplaceText(benchmark::State& state) {
  const Text em("<em>");
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceText(PageText(), em, Text(), false));
  SetBytes(state);
}
BENCHMARK(BM_ReplaceText);

void BM_ReplaceTextCaseSensitive(benchmark::State& state) {
  const Text em("<em>");
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceText(PageText(), em, Text(), true));
  SetBytes(state);
}
BENCHMARK(BM_ReplaceTextCaseSensitive);

void BM_ReplaceText_memmem_copy_loop(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    std::string out;
    out.reserve(page.size());
    const char* p = page.data();
    const char* end = p + page.size();
    while (const void* hit = memmem(p, static_cast<std::size_t>(end - p), "<em>", 4)) {
      const char* at = static_cast<const char*>(hit);
      out.append(p, at);
      p = at + 4;
    }
    out.append(p, end);
    benchmark::DoNotOptimize(out.data());
  }
  SetBytes(state);
}
BENCHMARK(BM_ReplaceText_memmem_copy_loop);

// --- SplitText: the page into lines -----------------------------------------

void BM_SplitText(benchmark::State& state) {
  const Text lineBreak("\r\n");
  for (auto _ : state) benchmark::DoNotOptimize(SplitText(PageText(), lineBreak));
  SetBytes(state);
}
BENCHMARK(BM_SplitText);

void BM_SplitText_string_view_find_loop(benchmark::State& state) {
  const std::string_view page = Page();
  for (auto _ : state) {
    std::vector<std::string> lines;
    std::size_t from = 0;
    for (std::size_t at; (at = page.find("\r\n", from)) != std::string_view::npos; from = at + 2) {
      lines.emplace_back(page.substr(from, at - from));
    }
    if (from < page.size()) lines.emplace_back(page.substr(from));
    benchmark::DoNotOptimize(lines.data());
  }
  SetBytes(state);
}
BENCHMARK(BM_SplitText_string_view_find_loop);

// --- TrimText: the page with spaces at both ends -----------------------------

void BM_TrimText(benchmark::State& state) {
  const Text padded(JoinText("\xA1\xA1  ", PageText()));
  for (auto _ : state) benchmark::DoNotOptimize(TrimText(padded));
  SetBytes(state);
}
BENCHMARK(BM_TrimText);

void BM_TrimText_copy(benchmark::State& state) {
  const std::string& page = Page();
  for (auto _ : state) {
    std::string copy(page.data() + 4, page.size() - 6);
    benchmark::DoNotOptimize(copy.data());
  }
  SetBytes(state);
}
BENCHMARK(BM_TrimText_copy);

// --- Repetitive input: time must grow linearly with the text -----------------
//
// Every position of these texts is a candidate that compares almost to the
// end of the sought text, or a match inside a double-byte character that the
// walk turns down. Run with sizes 64 KB to 1 MB; the reported complexity
// should be O(N).

std::string Repeat(std::string_view unit, std::size_t bytes) {
  std::string out;
  while (out.size() < bytes) out += unit;
  return out;
}

void BM_Repetitive_FindText(benchmark::State& state) {
  const Text text(Repeat("ab", static_cast<std::size_t>(state.range(0))));
  const Text sought(Repeat("ab", 500) + "b" + Repeat("ab", 500));
  for (auto _ : state) benchmark::DoNotOptimize(FindText(text, sought));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Repetitive_FindText)->RangeMultiplier(4)->Range(64 << 10, 1 << 20)->Complexity();

void BM_Repetitive_FindTextInsideCharacters(benchmark::State& state) {
  // Byte-wise every other position matches; no character start does.
  const Text text(Repeat("\xB0\xA1", static_cast<std::size_t>(state.range(0))));
  const Text sought(Repeat("\xA1\xB0", 1000));
  for (auto _ : state) benchmark::DoNotOptimize(FindText(text, sought));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Repetitive_FindTextInsideCharacters)
    ->RangeMultiplier(4)
    ->Range(64 << 10, 1 << 20)
    ->Complexity();

void BM_Repetitive_FindTextReverse(benchmark::State& state) {
  const Text text(Repeat("\xB0\xA1", static_cast<std::size_t>(state.range(0))));
  const Text sought(Repeat("\xA1\xB0", 1000));
  for (auto _ : state) benchmark::DoNotOptimize(FindTextReverse(text, sought, true));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Repetitive_FindTextReverse)
    ->RangeMultiplier(4)
    ->Range(64 << 10, 1 << 20)
    ->Complexity();

void BM_Repetitive_ReplaceText(benchmark::State& state) {
  const Text text(Repeat("aB", static_cast<std::size_t>(state.range(0))));
  const Text sought(Repeat("Ab", 500) + "b" + Repeat("Ab", 500));
  for (auto _ : state) benchmark::DoNotOptimize(ReplaceText(text, sought, "x", false));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Repetitive_ReplaceText)->RangeMultiplier(4)->Range(64 << 10, 1 << 20)->Complexity();

void BM_Repetitive_TrimText(benchmark::State& state) {
  // Double-byte characters only, then spaces: the walk back to a known
  // character start crosses the whole text once.
  const Text text(Repeat("\xB0\xA1", static_cast<std::size_t>(state.range(0))) + "  ");
  for (auto _ : state) benchmark::DoNotOptimize(TrimText(text));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Repetitive_TrimText)->RangeMultiplier(4)->Range(64 << 10, 1 << 20)->Complexity();

}  // namespace
}  // namespace taviro

BENCHMARK_MAIN();
