#include "search/engine_worker.h"

#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "search/engine_profile.h"
#include "tests/search/engine_pages.h"

namespace taviro {
namespace {

using test_pages::SogouHit;
using test_pages::SosoHit;
using test_pages::YahooHit;

const std::string kPrefix = TAVIRO_SHARE_LINK_PREFIX;

TEST(EngineProfileTest, PageAddresses) {
  const struct {
    const EngineProfile* profile;
    const char* keyword;
    int32_t page;
    std::string address;
  } cases[] = {
      {&SosoProfile(), "a b", 1,
       "http://" TAVIRO_SOSO_HOST "/q?w=site%3A" TAVIRO_SHARE_HOST "%20%61%20%62&pg=1"},
      {&SogouProfile(), "中", 3,
       "http://" TAVIRO_SOGOU_HOST "/web?query=site%3A" TAVIRO_SHARE_HOST "+%D6%D0&page=3"},
      {&YahooChinaProfile(), " x", 20,
       "http://" TAVIRO_YAHOO_CHINA_HOST "/s?q=site%3A" TAVIRO_SHARE_HOST "%20%20%78&page=20"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(PageAddress(*c.profile, c.keyword, c.page).view(), c.address);
  }
}

TEST(EngineProfileTest, PageBufferRule) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"a\r\nb", "a\r\nb"},
      {"a\nb\rc", "a\r\nb\r\nc"},
      {"\n\n", "\r\n\r\n"},
      {"\r\r\n", "\r\n\r\n"},  // CR alone, then a pair
      {"\n\r", "\r\n\r\n"},    // LF then CR is two line ends, not one pair
      {"中文\n", "中文\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(ApplyPageBufferRule(c.in), Text(c.out));
  }
  // Nothing is cut however long the page.
  const std::string big(3 * 1024 * 1024, 'x');
  EXPECT_EQ(ApplyPageBufferRule(Text(big)).size(), static_cast<int32_t>(big.size()));
}

// A session over a private registry, recording what the worker does.
class RecordingSession : public SearchSession {
 public:
  explicit RecordingSession(std::string keyword) : keyword_(std::move(keyword)) {}
  bool ReadKeyword(Text& keyword) override {
    keyword = Text(keyword_);
    return true;
  }
  bool GoesOn() override { return true; }
  int OfferLink(const Text& link) override {
    offers.emplace_back(link.view());
    return registry.insert(std::string(link.view())).second ? 1 : 0;
  }
  bool AddResultRow(const Text& title, const Text& link) override {
    rows.emplace_back(std::string(title.view()), std::string(link.view()));
    return true;
  }

  std::set<std::string> registry;
  std::vector<std::string> offers;
  std::vector<std::pair<std::string, std::string>> rows;

 private:
  std::string keyword_;
};

using Rows = std::vector<std::pair<std::string, std::string>>;

struct WorkerCase {
  const char* what;
  const EngineProfile* profile;
  std::map<int, std::string> pages;  // by page number; a missing page has no body
  Rows rows;                         // (title, tail) expected, in order
  int pagesAsked;
};

std::vector<WorkerCase> WorkerCases() {
  const auto& soso = SosoProfile();
  const auto& sogou = SogouProfile();
  const auto& yahoo = YahooChinaProfile();
  return {
      {"soso: hits on two pages, then a page without a match", &soso,
       {{1, SosoHit("?a=1", "One") + SosoHit("?a=2", "Two")}, {2, SosoHit("?a=3", "Three")},
        {3, "<html>nothing here</html>"}},
       {{"One", "?a=1"}, {"Two", "?a=2"}, {"Three", "?a=3"}}, 3},
      {"first page without a match asks for no second", &soso, {{1, "<p>no</p>"}}, {}, 1},
      {"no body at all ends the run", &yahoo, {}, {}, 1},
      {"soso: stop text after the page's hits", &soso,
       {{1, SosoHit("?b=1", "T") + "抱歉，找不到与"}, {2, SosoHit("?b=2", "U")}},
       {{"T", "?b=1"}}, 1},
      {"yahoo: stop text after the page's hits", &yahoo,
       {{1, YahooHit("?c=1", "Y") + "<p>抱歉，没有找到与</p>"}, {2, YahooHit("?c=2", "Z")}},
       {{"Y", "?c=1"}}, 1},
      {"the other engine's stop text does not stop yahoo", &yahoo,
       {{1, YahooHit("?c=1", "Y") + "抱歉，找不到与"}, {2, YahooHit("?c=2", "Z")}},
       {{"Y", "?c=1"}, {"Z", "?c=2"}}, 3},
      {"sogou: verification page is not matched at all", &sogou,
       {{1, SogouHit("?d=1", "含验证码的标题")}}, {}, 1},
      {"sogou: verification on a later page ends the run", &sogou,
       {{1, SogouHit("?d=1", "A")}, {2, SogouHit("?d=2", "B") + "验证码"}}, {{"A", "?d=1"}}, 2},
      {"emphasis tags removed in any case; empty title skipped", &soso,
       {{1, SosoHit("?e=1", "<EM></eM>") + SosoHit("?e=2", "a<Em>b</EM>c<em>d</em>")}},
       {{"abcd", "?e=2"}}, 2},
      {"sogou red emphasis removed ignoring case", &sogou,
       {{1, SogouHit("?f=1", "<EM><!--RED_BEG-->x<!--red_END--></em>y")}}, {{"xy", "?f=1"}}, 2},
      {"sogou: amp; removed from the tail; empty tail offers the prefix", &sogou,
       {{1, SogouHit("?g=1&amp;uk=2", "") + SogouHit("", "E")}},
       {{"", "?g=1&uk=2"}, {"E", ""}}, 2},
      {"soso and yahoo keep the entity", &yahoo, {{1, YahooHit("?h=1&amp;uk=2", "H")}},
       {{"H", "?h=1&amp;uk=2"}}, 2},
      {"yahoo: empty tail skipped", &yahoo, {{1, YahooHit("", "empty") + YahooHit("?i", "I")}},
       {{"I", "?i"}}, 2},
      {"a title across a line end is not matched", &yahoo,
       {{1, YahooHit("?j=1", "two\nlines") + YahooHit("?j=2", "one")}}, {{"one", "?j=2"}}, 2},
      {"a link already shown on an earlier page adds no row", &soso,
       {{1, SosoHit("?k=1", "K")}, {2, SosoHit("?k=1", "again") + SosoHit("?k=2", "L")}},
       {{"K", "?k=1"}, {"L", "?k=2"}}, 3},
  };
}

// Every page answered with distinct hits: 20 pages, never a 21st.
std::map<int, std::string> EndlessPages(std::string (*hit)(const std::string&,
                                                           const std::string&)) {
  std::map<int, std::string> pages;
  for (int n = 1; n <= 25; ++n) pages[n] = hit("?p=" + std::to_string(n), "P");
  return pages;
}

Bytes Body(const std::map<int, std::string>& pages, int n) {
  auto it = pages.find(n);
  return it == pages.end() ? Bytes() : Bytes(it->second);
}

struct WorkerRun {
  RecordingSession session{"kw"};
  std::vector<std::string> asked;
};

void RunWorker(const EngineProfile& profile, const std::map<int, std::string>& pages, WorkerRun& run) {
  std::mutex engineLock;
  EngineWorker(profile, run.session,
               [&](const Text& url) {
                 run.asked.emplace_back(url.view());
                 const int n = static_cast<int>(run.asked.size());
                 EXPECT_EQ(url, PageAddress(profile, "kw", n));
                 return Body(pages, n);
               },
               engineLock);
  // Released on every way out.
  EXPECT_TRUE(engineLock.try_lock());
  engineLock.unlock();
}

TEST(EngineWorkerTest, Cases) {
  for (const WorkerCase& c : WorkerCases()) {
    SCOPED_TRACE(c.what);
    WorkerRun run;
    RunWorker(*c.profile, c.pages, run);
    Rows expected;
    for (const auto& row : c.rows) expected.emplace_back(row.first, kPrefix + row.second);
    EXPECT_EQ(run.session.rows, expected);
    EXPECT_EQ(static_cast<int>(run.asked.size()), c.pagesAsked);
  }
}

TEST(EngineWorkerTest, PageTwentyIsTheLast) {
  for (const auto& engine : test_pages::kEngines) {
    SCOPED_TRACE(engine.profile.name.c_str());
    WorkerRun run;
    RunWorker(engine.profile, EndlessPages(engine.hit), run);
    EXPECT_EQ(run.asked.size(), 20u);
    EXPECT_EQ(run.session.rows.size(), 20u);
  }
}

TEST(EngineWorkerTest, SogouRepeatingAPageEndsTheRun) {
  // Pages 7 and 8 alike: page 8 offers its hits (all known), page 9 is not asked.
  auto pages = EndlessPages(SogouHit);
  pages[8] = pages[7];
  WorkerRun run;
  RunWorker(SogouProfile(), pages, run);
  EXPECT_EQ(run.asked.size(), 8u);
  EXPECT_EQ(run.session.rows.size(), 7u);
  EXPECT_EQ(run.session.offers.size(), 8u);

  // Soso has no repeat stop: the same page every time goes on to page 20.
  std::map<int, std::string> same;
  for (int n = 1; n <= 20; ++n) same[n] = SosoHit("?same", "S");
  WorkerRun soso;
  RunWorker(SosoProfile(), same, soso);
  EXPECT_EQ(soso.asked.size(), 20u);
  EXPECT_EQ(soso.session.rows.size(), 1u);
}

TEST(EngineWorkerTest, SogouPagesOfEmptyMatchesAreNotRepeats) {
  // An empty signature means "no earlier page", so empty matches never stop it.
  std::map<int, std::string> pages;
  for (int n = 1; n <= 20; ++n) pages[n] = SogouHit("", "");
  WorkerRun run;
  RunWorker(SogouProfile(), pages, run);
  EXPECT_EQ(run.asked.size(), 20u);
  ASSERT_EQ(run.session.rows.size(), 1u);
  EXPECT_EQ(run.session.rows[0].second, kPrefix);
}

// A 2 MB line of share-link prefixes with quotes but never the markup that
// completes a match, behind a genuine hit and ending in a closing tag: a
// backtracking engine given the whole line retries every prefix to the end
// of the line, once per later quote. The run must end, with the page's hits.
TEST(EngineWorkerTest, LongLineOfUnfinishedLinksKeepsTheHits) {
  std::string junk = "<li>" + kPrefix + "?shareid=12345&uk=678 电影 合集 \"下载\" ";
  while (junk.size() < 2'000'000) junk += junk;
  for (const auto& engine : test_pages::kEngines) {
    SCOPED_TRACE(engine.profile.name.c_str());
    std::string line = engine.hit("?first", "F");
    line.pop_back();  // the hostile text goes on on the hit's own line
    const std::string page = engine.hit("?before", "B") + line + junk + "</a></h3>\n";
    WorkerRun run;
    RunWorker(engine.profile, {{1, page}}, run);
    EXPECT_EQ(run.session.rows,
              (Rows{{"B", kPrefix + "?before"}, {"F", kPrefix + "?first"}}));
  }
}

// A session replaced after a number of its operations: the worker must end
// without another offer or row.
class EndingSession : public RecordingSession {
 public:
  explicit EndingSession(int operationsLeft) : RecordingSession("kw"), left_(operationsLeft) {}
  bool ReadKeyword(Text& keyword) override {
    return Step() && RecordingSession::ReadKeyword(keyword);
  }
  bool GoesOn() override { return Step(); }
  int OfferLink(const Text& link) override {
    return Step() ? RecordingSession::OfferLink(link) : -1;
  }
  bool AddResultRow(const Text& title, const Text& link) override {
    return Step() && RecordingSession::AddResultRow(title, link);
  }
  int refusedCalls = 0;

 private:
  bool Step() {
    if (left_-- > 0) return true;
    ++refusedCalls;
    return false;
  }
  int left_;
};

TEST(EngineWorkerTest, EndsAtTheFirstRefusal) {
  const auto pages = EndlessPages(SosoHit);
  for (int left = 0; left < 12; ++left) {
    SCOPED_TRACE(left);
    EndingSession session(left);
    std::mutex engineLock;
    EngineWorker(SosoProfile(), session,
                 [&, n = 0](const Text&) mutable { return Body(pages, ++n); },
                 engineLock);
    EXPECT_EQ(session.refusedCalls, 1);
  }
}

}  // namespace
}  // namespace taviro
