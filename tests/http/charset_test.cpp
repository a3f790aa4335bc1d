#include "http/charset.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/http/print_text.h"

namespace taviro {
namespace {

Bytes B(std::string_view s) { return Bytes(s); }

TEST(CharsetTest, Utf8ToGbk) {
  const struct {
    const char* name;
    std::string utf8;
    std::string gbk;
  } cases[] = {
      {"empty", "", ""},
      {"ASCII unchanged", "<title>abc 123</title>", "<title>abc 123</title>"},
      {"one Chinese character", "\xE4\xB8\xAD", "\xD6\xD0"},
      {"a NUL stays in its place", std::string("a\0\xE4\xB8\xAD" "b", 6),
       std::string("a\0\xD6\xD0" "b", 5)},
      {"invalid UTF-8 does not cut the text short", "a\xFF" "b", "a?b"},
      {"a character GBK lacks", "x\xE0\xB8\x81y", "x?y"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Utf8ToGbk(B(c.utf8)).view(), c.gbk);
  }
}

TEST(CharsetTest, Utf8ToUtf16IsLowByteFirstWithoutTerminator) {
  EXPECT_EQ(Utf8ToUtf16(B("A\xE4\xB8\xAD")).view(), std::string_view("A\0\x2D\x4E", 4));
  EXPECT_EQ(Utf8ToUtf16(B(std::string_view("\0", 1))).view(), std::string_view("\0\0", 2));
  EXPECT_TRUE(Utf8ToUtf16(Bytes()).empty());
}

TEST(CharsetTest, LargeBodyKeepsItsLength) {
  std::string utf8;
  for (int i = 0; i < 100000; ++i) utf8 += "\xE4\xB8\xAD" "a";
  const Bytes gbk = Utf8ToGbk(B(utf8));
  ASSERT_EQ(gbk.size(), 300000);
  EXPECT_EQ(gbk.view().substr(299997), "\xD6\xD0" "a");
}

}  // namespace
}  // namespace taviro
