#include "app/link_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace taviro {
namespace {

TEST(LinkRegistryTest, EachLinkOnce) {
  LinkRegistry registry;
  const struct {
    const char* link;
    int result;
  } offers[] = {
      {"http://h/share/link?a=1", 1},
      {"http://h/share/link?a=1", 0},   // the same again
      {"http://h/share/link?A=1", 1},   // differs in case only
      {"http://h/share/link?a=1x", 1},  // one trailing character more
      {"http://h/share/link?a=", 1},    // one less
      {"", 1},
      {"", 0},
  };
  for (const auto& offer : offers) {
    SCOPED_TRACE(offer.link);
    EXPECT_EQ(registry.AddLinkIfNew(offer.link), offer.result);
  }
  const TextArray links = registry.Links();
  ASSERT_EQ(links.Size(), 5);
  EXPECT_EQ(links.Item(1), Text("http://h/share/link?a=1"));  // order of first offer
  EXPECT_EQ(links.Item(5), Text(""));
}

TEST(LinkRegistryTest, KeepsItsOwnCopy) {
  LinkRegistry registry;
  {
    std::string link = "http://h/x";
    EXPECT_EQ(registry.AddLinkIfNew(Text(link)), 1);
    link[7] = 'y';
  }
  EXPECT_EQ(registry.AddLinkIfNew("http://h/x"), 0);
}

TEST(LinkRegistryTest, EndedSearchRegistersNothing) {
  LinkRegistry registry;
  SearchTicket search("kw");
  EXPECT_EQ(registry.AddLinkIfNew("a", search), 1);
  EXPECT_EQ(registry.AddLinkIfNew("a", search), 0);
  registry.EndSearch(search);
  EXPECT_EQ(registry.AddLinkIfNew("b", search), -1);
  EXPECT_EQ(registry.AddLinkIfNew("a", search), -1);
  EXPECT_EQ(registry.Links().Size(), 1);
  EXPECT_EQ(registry.AddLinkIfNew("b"), 1);  // a later search may still show it
}

TEST(LinkRegistryTest, ConcurrentOffersGiveOneWinnerEach) {
  LinkRegistry registry;
  constexpr int kThreads = 8;
  constexpr int kLinks = 150;
  std::vector<std::atomic<int>> wins(kLinks);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kLinks; ++i) {
        const int link = (i + t * 7) % kLinks;  // different orders, same links
        if (registry.AddLinkIfNew(Text("l" + std::to_string(link))) == 1) ++wins[link];
      }
    });
  }
  go = true;
  for (auto& thread : threads) thread.join();
  for (int i = 0; i < kLinks; ++i) EXPECT_EQ(wins[i].load(), 1) << i;
  EXPECT_EQ(registry.Links().Size(), kLinks);
}

TEST(LinkRegistryTest, EndSearchIsOrderedWithOffers) {
  // After EndSearch returns, the registry holds exactly what was registered
  // before it; nothing of that search arrives later.
  for (int round = 0; round < 20; ++round) {
    LinkRegistry registry;
    SearchTicket search("kw");
    std::atomic<int> accepted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < 400; ++i) {
          const int r = registry.AddLinkIfNew(Text(std::to_string(t) + ":" + std::to_string(i)),
                                              search);
          if (r < 0) return;
          accepted += r;
        }
      });
    }
    std::this_thread::yield();
    registry.EndSearch(search);
    const int32_t atEnd = registry.Links().Size();
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(registry.Links().Size(), atEnd);
    EXPECT_EQ(accepted.load(), atEnd);
  }
}

}  // namespace
}  // namespace taviro
