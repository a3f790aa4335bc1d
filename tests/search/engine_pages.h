// Tiny result pages in each engine's layout, for worker tests.
#pragma once

#include <string>

#include "search/engine_profile.h"

namespace taviro {
namespace test_pages {

inline std::string SosoHit(const std::string& tail, const std::string& title) {
  return "<li><a href=\"" TAVIRO_SHARE_LINK_PREFIX + tail +
         "\" class=\"r\" target=\"_blank\">" + title + "</a></li>\n";
}

inline std::string SogouHit(const std::string& tail, const std::string& title) {
  return "<a sogou_preview_title=\"" + title +
         "\" sogou_preview_link=\"" TAVIRO_SHARE_LINK_PREFIX + tail + "\">x</a>\n";
}

inline std::string YahooHit(const std::string& tail, const std::string& title) {
  return "<h3><a href=\"" TAVIRO_SHARE_LINK_PREFIX + tail + "\">" + title + "</a></h3>\n";
}

// Each engine's profile with its hit markup, in the workers' order.
using HitMarkup = std::string (*)(const std::string& tail, const std::string& title);
struct EngineMarkup {
  const EngineProfile& profile;
  HitMarkup hit;
};
inline const EngineMarkup kEngines[] = {
    {SosoProfile(), SosoHit}, {SogouProfile(), SogouHit}, {YahooChinaProfile(), YahooHit}};

}  // namespace test_pages
}  // namespace taviro
