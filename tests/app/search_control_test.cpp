#include "app/search_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "search/engine_profile.h"
#include "tests/app/fake_ui.h"
#include "tests/search/engine_pages.h"

namespace taviro {
namespace {

using test_pages::kEngines;

const std::string kPrefix = TAVIRO_SHARE_LINK_PREFIX;

// Result pages served by address, as the three engines would answer them.
class FakeEngines {
 public:
  // Page n of engine for keyword: hits with the given tails (titles "t" + tail).
  void SetPage(int engine, const std::string& keyword, int n, const std::vector<std::string>& tails) {
    std::string body = "<html>\n";
    for (const auto& tail : tails) body += kEngines[engine].hit(tail, "t" + tail);
    std::lock_guard<std::mutex> lock(mutex_);
    pages_[std::string(PageAddress(kEngines[engine].profile, Text(keyword), n).view())] = body;
  }

  // Called on the worker's thread before the page is answered.
  std::function<void(const std::string& url)> onFetch;

  PageFetcher Fetcher() {
    return [this](const Text& url) {
      const std::string address(url.view());
      {
        std::lock_guard<std::mutex> lock(mutex_);
        asked_.push_back(address);
      }
      if (onFetch) onFetch(address);
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = pages_.find(address);
      return it == pages_.end() ? Bytes() : Bytes(it->second);
    };
  }

  std::vector<std::string> Asked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::string> pages_;
  std::vector<std::string> asked_;
};

std::string Address(int engine, const std::string& keyword, int n) {
  return std::string(PageAddress(kEngines[engine].profile, Text(keyword), n).view());
}

class SearchControlTest : public ::testing::Test {
 protected:
  SearchControlTest()
      : registry_(std::make_shared<LinkRegistry>()), ui_(std::make_shared<FakeUiThread>()) {
    control_ = std::make_unique<SearchControl>(
        registry_, list_, ui_, engines_.Fetcher(),
        [this](const Text& link) { opened_.emplace_back(link.view()); });
  }
  ~SearchControlTest() override {
    control_->WaitForWorkers();
    ui_->Run([&] { control_.reset(); });
    ui_->Stop();
  }

  void Click(const std::string& keyword) {
    ui_->Run([&] { control_->OnSearchClick(Text(keyword)); });
  }
  void Finish() { control_->WaitForWorkers(); }
  std::vector<std::pair<std::string, std::string>> Rows() {
    std::vector<std::pair<std::string, std::string>> rows;
    ui_->Run([&] { rows = list_.rows; });
    return rows;
  }
  std::set<std::string> RowLinks() {
    std::set<std::string> links;
    for (const auto& row : Rows()) links.insert(row.second);
    return links;
  }
  bool Registered(const std::string& link) {
    const TextArray links = registry_->Links();
    for (int32_t i = 1; i <= links.Size(); ++i) {
      if (links.Item(i).view() == link) return true;
    }
    return false;
  }

  std::shared_ptr<LinkRegistry> registry_;
  FakeList list_;
  std::shared_ptr<FakeUiThread> ui_;
  FakeEngines engines_;
  std::vector<std::string> opened_;
  std::unique_ptr<SearchControl> control_;
};

TEST_F(SearchControlTest, KeywordOfOnlySpacesChangesNothing) {
  engines_.SetPage(0, "kw", 1, {"?a"});
  Click("kw");
  Finish();
  ASSERT_EQ(Rows().size(), 1u);
  const size_t asked = engines_.Asked().size();
  for (const char* blank : {"", " ", "　", " 　 ", "　　"}) {
    SCOPED_TRACE(blank);
    Click(blank);
    Finish();
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_EQ(engines_.Asked().size(), asked);
    EXPECT_EQ(control_->State().CurrentKeyword, Text("kw"));
  }
  // A tab is not a space: accepted, the list emptied, the tab sent.
  Click("\t");
  Finish();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(control_->State().CurrentKeyword, Text("\t"));
  const auto all = engines_.Asked();
  EXPECT_NE(std::find(all.begin(), all.end(), Address(0, "\t", 1)), all.end());
}

TEST_F(SearchControlTest, KeywordIsSentAsTypedByEveryEngine) {
  Click(" a 中 ");
  Finish();
  EXPECT_EQ(control_->State().CurrentKeyword, Text(" a 中 "));
  auto asked = engines_.Asked();
  std::sort(asked.begin(), asked.end());
  std::vector<std::string> expected = {Address(0, " a 中 ", 1), Address(1, " a 中 ", 1),
                                       Address(2, " a 中 ", 1)};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(asked, expected);
  EXPECT_NE(expected[0].find("%20%61%20%D6%D0%20"), std::string::npos);
}

TEST_F(SearchControlTest, LinkFoundByTwoEnginesAppearsOnce) {
  engines_.SetPage(0, "kw", 1, {"?shared", "?soso"});
  engines_.SetPage(1, "kw", 1, {"?sogou", "?shared"});
  engines_.SetPage(2, "kw", 1, {"?shared", "?yahoo"});
  Click("kw");
  Finish();
  const auto rows = Rows();
  EXPECT_EQ(rows.size(), 4u);
  EXPECT_EQ(RowLinks(), (std::set<std::string>{kPrefix + "?shared", kPrefix + "?soso",
                                               kPrefix + "?sogou", kPrefix + "?yahoo"}));
  for (const auto& row : rows) EXPECT_EQ(kPrefix + row.first.substr(1), row.second);
}

TEST_F(SearchControlTest, SameKeywordAgainShowsOnlyNewLinks) {
  engines_.SetPage(0, "kw", 1, {"?a", "?b"});
  Click("kw");
  Finish();
  EXPECT_EQ(Rows().size(), 2u);
  Click("kw");
  Finish();
  EXPECT_TRUE(Rows().empty());
  ui_->Run([&] { control_->OnRowCountTick(); });
  ui_->Run([&] { EXPECT_EQ(list_.title, "文件名(0)"); });
  engines_.SetPage(0, "kw", 1, {"?a", "?b", "?c"});
  Click("kw");
  Finish();
  EXPECT_EQ(RowLinks(), std::set<std::string>{kPrefix + "?c"});
}

TEST_F(SearchControlTest, ManyWorkersOfferingTheSameLinksGiveOneRowEach) {
  // Every engine answers the same 40 links over its pages; across several
  // searches every link is shown exactly once in the process.
  for (int round = 0; round < 4; ++round) {
    const std::string keyword = "k" + std::to_string(round);
    for (int engine = 0; engine < 3; ++engine) {
      for (int n = 1; n <= 4; ++n) {
        std::vector<std::string> tails;
        for (int i = 0; i < 10; ++i) tails.push_back("?r" + std::to_string(round) + "n" +
                                                     std::to_string((n * 10 + i + engine * 3) % 40));
        engines_.SetPage(engine, keyword, n, tails);
      }
    }
    Click(keyword);
    Finish();
    const auto rows = Rows();
    EXPECT_EQ(rows.size(), 40u);
    EXPECT_EQ(RowLinks().size(), 40u);
  }
}

TEST_F(SearchControlTest, TickDoubleClickAndJoinGroup) {
  engines_.SetPage(2, "kw", 1, {"?x", "?y"});
  Click("kw");
  Finish();
  ui_->Run([&] {
    control_->OnRowCountTick();
    EXPECT_EQ(list_.title, "文件名(2)");
    control_->OnResultDoubleClick();  // nothing selected: nothing opened
    EXPECT_TRUE(opened_.empty());
    list_.selected = 1;
    control_->OnResultDoubleClick();
    control_->OnJoinGroupClick();
  });
  ASSERT_EQ(opened_.size(), 2u);
  EXPECT_EQ(opened_[0], kPrefix + "?y");
  EXPECT_EQ(opened_[1], std::string(JoinGroupLink().view()));
}

TEST(JoinGroupLinkTest, ExactText) {
  if (std::string(TAVIRO_GROUP_NUMBER) != "100000001" ||
      std::string(TAVIRO_GROUP_TIMESTAMP) != "1355241600") {
    GTEST_SKIP() << "built with another group";
  }
  // {"groupUin":100000001,"timeStamp":1355241600} and a line feed, in hex.
  EXPECT_EQ(JoinGroupLink(),
            Text("tencent://groupwpa/?subcmd=all&param="
                 "7B2267726F757055696E223A3130303030303030312C2274696D655374616D70223A"
                 "313335353234313630307D0A"));
}

// Old search: every engine 5 pages of 2 hits; new search: one page of 1 hit.
void SetUpTwoSearches(FakeEngines& engines) {
  for (int engine = 0; engine < 3; ++engine) {
    for (int n = 1; n <= 5; ++n) {
      engines.SetPage(engine, "old", n,
                      {"?old" + std::to_string(engine) + "p" + std::to_string(n) + "a",
                       "?old" + std::to_string(engine) + "p" + std::to_string(n) + "b"});
    }
    engines.SetPage(engine, "new", 1, {"?new" + std::to_string(engine)});
  }
}

const std::set<std::string> kNewLinks = {kPrefix + "?new0", kPrefix + "?new1", kPrefix + "?new2"};

TEST_F(SearchControlTest, SearchReplacedDuringAnyFetchAddsNothingAfterwards) {
  // The click lands while an old worker is inside its request for page k.
  SetUpTwoSearches(engines_);
  for (int engine = 0; engine < 3; ++engine) {
    for (int k = 1; k <= 5; ++k) {
      SCOPED_TRACE(std::to_string(engine) + " page " + std::to_string(k));
      const std::string trigger = Address(engine, "old", k);
      std::atomic<bool> clicked{false};
      engines_.onFetch = [&](const std::string& url) {
        if (url == trigger && !clicked.exchange(true)) Click("new");
      };
      Click("old");
      Finish();
      engines_.onFetch = nullptr;
      EXPECT_TRUE(clicked.load());
      EXPECT_EQ(RowLinks(), kNewLinks);
      // The page being fetched at the click, and every later one, were never offered.
      for (int n = k; n <= 5; ++n) {
        EXPECT_FALSE(Registered(kPrefix + "?old" + std::to_string(engine) + "p" +
                                std::to_string(n) + "a"));
      }
      // A fresh registry for the next round.
      control_->WaitForWorkers();
      ui_->Run([&] {
        control_.reset();
        registry_ = std::make_shared<LinkRegistry>();
        control_ = std::make_unique<SearchControl>(registry_, list_, ui_, engines_.Fetcher(),
                                                   [](const Text&) {});
      });
    }
  }
}

TEST_F(SearchControlTest, SearchReplacedBeforeAnyRowAddsNothingAfterwards) {
  // The click lands on the UI thread just before the k-th row request of the
  // old search is served: that row and every later one are refused.
  SetUpTwoSearches(engines_);
  for (int k = 1; k <= 30; ++k) {
    SCOPED_TRACE(k);
    auto ui = std::make_shared<FakeUiThread>();
    auto registry = std::make_shared<LinkRegistry>();
    FakeList list;
    std::unique_ptr<SearchControl> control;
    int served = 0;
    ui->SetBeforeEachInvoke([&] {
      if (++served == k) control->OnSearchClick("new");
    });
    ui->Run([&] {
      control = std::make_unique<SearchControl>(registry, list, ui, engines_.Fetcher(),
                                                [](const Text&) {});
      control->OnSearchClick("old");
    });
    control->WaitForWorkers();
    std::set<std::string> links;
    ui->Run([&] {
      for (const auto& row : list.rows) links.insert(row.second);
      control.reset();
    });
    ui->Stop();
    if (served >= k) {
      EXPECT_EQ(links, kNewLinks);
    } else {
      EXPECT_EQ(links.size(), 30u);  // the old search had fewer rows than k
    }
  }
}

TEST_F(SearchControlTest, ShutDownWhileWorkersWaitOnTheNetwork) {
  SetUpTwoSearches(engines_);
  std::mutex gateMutex;
  std::condition_variable gateOpened;
  bool open = false;
  std::atomic<int> waiting{0};
  engines_.onFetch = [&](const std::string&) {
    std::unique_lock<std::mutex> lock(gateMutex);
    ++waiting;
    gateOpened.wait(lock, [&] { return open; });
  };
  Click("old");
  while (waiting.load() < 3) std::this_thread::yield();
  ui_->Run([&] { control_->EndSearch(); });  // returns while all three are blocked
  {
    std::lock_guard<std::mutex> lock(gateMutex);
    open = true;
  }
  gateOpened.notify_all();
  Finish();
  EXPECT_TRUE(Rows().empty());
  EXPECT_EQ(registry_->Links().Size(), 0);
  EXPECT_EQ(engines_.Asked().size(), 3u);
}

TEST_F(SearchControlTest, WindowGoneWorkersEndQuietly) {
  SetUpTwoSearches(engines_);
  auto ui = std::make_shared<FakeUiThread>();
  FakeList list;
  auto control = std::make_unique<SearchControl>(registry_, list, ui, engines_.Fetcher(),
                                                 [](const Text&) {});
  std::atomic<bool> stopped{false};
  engines_.onFetch = [&](const std::string&) {
    while (!stopped.load()) std::this_thread::yield();
  };
  ui->Run([&] { control->OnSearchClick("old"); });
  ui->Stop();  // the message loop has ended; requests are no longer served
  stopped = true;
  control->WaitForWorkers();
  // Each worker ends at its first row, which nobody serves.
  EXPECT_EQ(engines_.Asked().size(), 3u);
  EXPECT_EQ(registry_->Links().Size(), 3);
  control.reset();
}

}  // namespace
}  // namespace taviro
