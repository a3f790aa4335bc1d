// The result-page patterns of the three engine workers, built as the workers
// build them: the share-link prefix is pasted into the pattern unescaped, and
// each "#引号" stands for a double quote.
#pragma once

#include "taviro_config.h"

#define TAVIRO_TEST_SHARE_LINK_PREFIX "http://" TAVIRO_SHARE_HOST "/share/link"

namespace taviro::testing {

struct EnginePattern {
  const char* engine;
  const char* pattern;
  int titleGroup;
  int linkGroup;
};

inline constexpr EnginePattern kSosoPattern = {
    "Soso", TAVIRO_TEST_SHARE_LINK_PREFIX "?(.*?)#引号 (.*?)target=#引号_blank#引号>(.*?)</a>", 3,
    1};
inline constexpr EnginePattern kSogouPattern = {
    "Sogou",
    "sogou_preview_title=#引号(.*?)#引号 sogou_preview_link=#引号" TAVIRO_TEST_SHARE_LINK_PREFIX
    "(.*?)#引号",
    1, 2};
inline constexpr EnginePattern kYahooChinaPattern = {
    "YahooChina", TAVIRO_TEST_SHARE_LINK_PREFIX "(.*?)#引号>(.*?)</a></h3>", 2, 1};

}  // namespace taviro::testing
