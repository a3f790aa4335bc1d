#include "search/url_encode.h"

#include <gtest/gtest.h>

#include <string>

namespace taviro {
namespace {

TEST(UrlEncodeTest, EncodesEveryByte) {
  const struct {
    const char* text;
    const char* encoded;
  } cases[] = {
      {"abc", "%61%62%63"},
      {"a b", "%61%20%62"},  // spaces kept, as %20
      {"\t", "%09"},
      {"\n", "%0A"},          // a leading zero and upper-case hex
      {"中", "%D6%D0"},       // the keyword's GBK bytes, not UTF-8
      {"/_~", "%2F%5F%7E"},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.encoded);
    EXPECT_EQ(UrlEncode(c.text), Text(c.encoded));
  }
}

TEST(UrlEncodeTest, AllByteValues) {
  std::string text;
  for (int b = 1; b < 256; ++b) text.push_back(static_cast<char>(b));
  const Text encoded = UrlEncode(Text(text));
  ASSERT_EQ(encoded.size(), 255 * 3);
  static const char kHex[] = "0123456789ABCDEF";
  for (int b = 1; b < 256; ++b) {
    const std::string expected = {'%', kHex[b >> 4], kHex[b & 15]};
    ASSERT_EQ(encoded.view().substr((b - 1) * 3, 3), expected) << b;
  }
}

TEST(UrlEncodeTest, KeepUnreserved) {
  EXPECT_EQ(UrlEncode("a b-c/", true), Text("a%20b-c%2F"));
  EXPECT_EQ(UrlEncode("-.09AZaz_~", true), Text("-.09AZaz%5F%7E"));
  EXPECT_EQ(UrlEncode("中", true), Text("%D6%D0"));
}

TEST(UrlEncodeTest, Utf8First) {
  EXPECT_EQ(UrlEncode("中", false, true), Text("%E4%B8%AD"));
  EXPECT_EQ(UrlEncode("a中", true, true), Text("a%E4%B8%AD"));
  EXPECT_EQ(UrlEncode("", true, true), Text(""));
  // A lead byte with nothing after it: the converter's rendering, nothing lost
  // before it.
  EXPECT_EQ(UrlEncode("a\x81", false, true), Text("%61%3F"));
}

}  // namespace
}  // namespace taviro
