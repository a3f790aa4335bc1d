// The constants that make one engine's worker differ from another's, the
// page addresses built from them and the page buffer rule.
#pragma once

#include <cstdint>
#include <vector>

#include "taviro_config.h"
#include "text/text.h"

// Every share link shown begins with this.
#define TAVIRO_SHARE_LINK_PREFIX "http://" TAVIRO_SHARE_HOST "/share/link"

namespace taviro {

extern const char kShareLinkPrefix[];

// Pages 1 to kLastPage are asked for, never more.
constexpr int32_t kLastPage = 20;

enum class StopTest {
  kAfterHits,       // the page's hits are shown, then the run ends
  kBeforeMatching,  // the page is not matched at all
};

enum class HitRule {
  kTitleNotEmpty,
  kTailNotEmpty,
  kEveryMatch,
};

struct EngineProfile {
  Text name;
  Text host;
  Text queryPath;  // path and first query key, before ShareHost
  Text separator;  // encoded space between ShareHost and the keyword
  Text pageKey;
  Text stopText;
  StopTest stopTest;
  Text pattern;
  int32_t titleGroup;
  int32_t linkGroup;
  std::vector<Text> titleRemovals;  // removed in order, ignoring letter case
  std::vector<Text> tailRemovals;
  HitRule hitRule;
  bool repeatStop;
  // Number N of the hidden page buffer control 超级编辑框N of the window.
  int32_t pageBuffer;
};

const EngineProfile& SosoProfile();
const EngineProfile& SogouProfile();
const EngineProfile& YahooChinaProfile();

// "http://" host queryPath ShareHost separator UrlEncode(keyword) pageKey n.
Text PageAddress(const EngineProfile& profile, const Text& keyword, int32_t page);

// What a page reads like after a round trip through a plain-text edit box:
// every line end (CR LF, CR alone, LF alone) becomes one CR LF; nothing else
// changes and nothing is cut.
Text ApplyPageBufferRule(const Text& page);

}  // namespace taviro
