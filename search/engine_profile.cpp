#include "search/engine_profile.h"

#include <string>

#include "search/url_encode.h"

namespace taviro {

const char kShareLinkPrefix[] = TAVIRO_SHARE_LINK_PREFIX;

// "#引号" stands for a double quote; the regular-expression object replaces it.
const EngineProfile& SosoProfile() {
  static const EngineProfile profile{
      "Soso",
      TAVIRO_SOSO_HOST,
      "/q?w=site%3A",
      "%20",
      "&pg=",
      "抱歉，找不到与",
      StopTest::kAfterHits,
      TAVIRO_SHARE_LINK_PREFIX "?(.*?)#引号 (.*?)target=#引号_blank#引号>(.*?)</a>",
      3,
      1,
      {"<em>", "</em>"},
      {},
      HitRule::kTitleNotEmpty,
      false,
      1,
  };
  return profile;
}

const EngineProfile& SogouProfile() {
  static const EngineProfile profile{
      "Sogou",
      TAVIRO_SOGOU_HOST,
      "/web?query=site%3A",
      "+",
      "&page=",
      "验证码",
      StopTest::kBeforeMatching,
      "sogou_preview_title=#引号(.*?)#引号 sogou_preview_link=#引号" TAVIRO_SHARE_LINK_PREFIX
      "(.*?)#引号",
      1,
      2,
      {"<em><!--red_beg-->", "<!--red_end--></em>"},
      {"amp;"},
      HitRule::kEveryMatch,
      true,
      2,
  };
  return profile;
}

const EngineProfile& YahooChinaProfile() {
  static const EngineProfile profile{
      "Yahoo China",
      TAVIRO_YAHOO_CHINA_HOST,
      "/s?q=site%3A",
      "%20",
      "&page=",
      "抱歉，没有找到与",
      StopTest::kAfterHits,
      TAVIRO_SHARE_LINK_PREFIX "(.*?)#引号>(.*?)</a></h3>",
      2,
      1,
      {"<em>", "</em>"},
      {},
      HitRule::kTailNotEmpty,
      false,
      3,
  };
  return profile;
}

Text PageAddress(const EngineProfile& profile, const Text& keyword, int32_t page) {
  return JoinText({"http://", profile.host.view(), profile.queryPath.view(), TAVIRO_SHARE_HOST,
                   profile.separator.view(), UrlEncode(keyword).view(), profile.pageKey.view(),
                   IntToText(page).view()});
}

Text ApplyPageBufferRule(const Text& page) {
  const std::string_view in = page.view();
  std::string out;
  out.reserve(in.size() + in.size() / 16);
  for (std::size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '\r') {
      if (i + 1 < in.size() && in[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return Text(out);
}

}  // namespace taviro
