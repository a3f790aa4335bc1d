#include "search/engine_worker.h"

#include "search/matchable_text.h"
#include "text/regex.h"

namespace taviro {
namespace {

Text RemoveAll(Text text, const std::vector<Text>& removals) {
  for (const Text& removal : removals) text = ReplaceText(text, removal, Text(), false);
  return text;
}

bool IsHit(HitRule rule, const Text& title, const Text& tail) {
  switch (rule) {
    case HitRule::kTitleNotEmpty:
      return !title.empty();
    case HitRule::kTailNotEmpty:
      return !tail.empty();
    case HitRule::kEveryMatch:
      return true;
  }
  return true;
}

bool HasStopText(const EngineProfile& profile, const Text& page) {
  return FindText(page, profile.stopText, 1, false) != -1;
}

}  // namespace

void EngineWorker(const EngineProfile& profile, SearchSession& session, const PageFetcher& fetch,
                  std::mutex& engineLock) {
  // The object lives longer than the lock: COM is set up before and torn down
  // after the run, on this thread.
  RegexObject regex;
  const Text pattern = QuotedPattern(profile.pattern);  // as the object reads it
  std::lock_guard<std::mutex> engine(engineLock);
  Text previousSignature;
  for (int32_t n = 1; n <= kLastPage; ++n) {
    Text keyword;
    if (!session.ReadKeyword(keyword)) return;
    const Bytes body = fetch(PageAddress(profile, keyword, n));
    // The request may have taken long; a replaced search does no more work.
    if (!session.GoesOn()) return;
    const Text page = ApplyPageBufferRule(BytesToText(body));

    if (profile.stopTest == StopTest::kBeforeMatching && HasStopText(profile, page)) return;
    // Only the text the pattern's matches can lie in: the same matches, and
    // no scan of a long line the engine would redo from every start.
    const Text matchable = MatchableText(pattern, page);
    if (!regex.Create(profile.pattern, matchable, false, true, true, true)) return;
    const int32_t matches = regex.MatchCount();
    if (matches == 0) return;

    Text signature;
    for (int32_t i = 1; i <= matches; ++i) {
      const Text title = RemoveAll(regex.SubmatchText(i, profile.titleGroup), profile.titleRemovals);
      const Text tail = RemoveAll(regex.SubmatchText(i, profile.linkGroup), profile.tailRemovals);
      if (profile.repeatStop) signature = JoinText(signature, title, tail);
      if (!IsHit(profile.hitRule, title, tail)) continue;
      const Text link = JoinText(Text(kShareLinkPrefix), tail);
      const int offered = session.OfferLink(link);
      if (offered < 0) return;
      if (offered == 1 && !session.AddResultRow(title, link)) return;
    }

    if (profile.repeatStop) {
      // An empty previous signature means "no earlier page", as the rule has
      // it, so a page of empty matches never counts as a repeat.
      if (!previousSignature.empty() && CompareText(previousSignature, signature) == 0) return;
      previousSignature = signature;
    }
    if (profile.stopTest == StopTest::kAfterHits && HasStopText(profile, page)) return;
  }
}

}  // namespace taviro
