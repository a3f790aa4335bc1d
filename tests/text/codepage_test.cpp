// The code-page seam: one table for the Windows converters and for the host
// stand-in that must render input as they do.
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace taviro {
namespace {

using namespace std::string_literals;

enum class Way { kToUtf16, kFromUtf16 };

struct ConversionCase {
  const char* name;
  Way way;
  uint32_t codePage;
  uint32_t flags;
  std::string bytes;     // the code-page side
  std::u16string units;  // the UTF-16 side
  bool fails;            // the converter answers 0
  // Set for behaviour only Windows' own converters have: why the host
  // stand-in cannot follow. Such rows run on the Windows build alone.
  const char* windowsOnly;

  friend void PrintTo(const ConversionCase& c, std::ostream* os) { *os << c.name; }
};

constexpr uint32_t kNoFlags = 0;

const ConversionCase kCases[] = {
    // Code page 936 to UTF-16.
    {"AsciiPassesThrough", Way::kToUtf16, kCodePageGbk, kNoFlags, "a1 ~", u"a1 ~", false, nullptr},
    {"DoubleByteCharacters", Way::kToUtf16, kCodePageGbk, kNoFlags, "中文", u"中文", false, nullptr},
    {"AnsiIsCodePage936", Way::kToUtf16, kCodePageAnsi, kNoFlags, "中", u"中", false, nullptr},
    {"Byte80IsEuro", Way::kToUtf16, kCodePageGbk, kNoFlags, "\x80", u"\u20AC", false, nullptr},
    {"ByteFFIsPrivateUse", Way::kToUtf16, kCodePageGbk, kNoFlags, "\xFF", u"\uF8F5", false, nullptr},
    {"InvalidTrailIsSwallowed", Way::kToUtf16, kCodePageGbk, kNoFlags, "\x81\x30" "a", u"?a", false,
     nullptr},
    {"LeadByteAtEnd", Way::kToUtf16, kCodePageGbk, kNoFlags, "a\xD6", u"a?", false, nullptr},
    {"UserDefinedAreasArePrivateUse", Way::kToUtf16, kCodePageGbk, kNoFlags,
     "\xAA\xA1\xF8\xA1\xA1\x40\xA7\xA0", u"\uE000\uE234\uE4C6\uE765", false, nullptr},
    {"EmptyGbkSlotsArePrivateUse", Way::kToUtf16, kCodePageGbk, kNoFlags,
     "\xA2\xAB\xA8\xBC\xA9\x89\xFE\x50", u"\uE766\uE7C7\uE7E7\uE815", false, nullptr},
    {"NulIsCarried", Way::kToUtf16, kCodePageGbk, kNoFlags, "a\0b"s, u"a\0b"s, false, nullptr},
    {"EmptyInputFails", Way::kToUtf16, kCodePageGbk, kNoFlags, "", u"", true, nullptr},
    {"UnknownCodePageFails", Way::kToUtf16, 12345, kNoFlags, "a", u"", true, nullptr},

    // UTF-8 to UTF-16: each ill-formed part becomes one U+FFFD.
    {"Utf8ThreeBytes", Way::kToUtf16, kCodePageUtf8, kNoFlags, "\xE4\xB8\xAD", u"中", false,
     nullptr},
    {"Utf8FourBytesMakeAPair", Way::kToUtf16, kCodePageUtf8, kNoFlags, "\xF0\x9F\x98\x80",
     u"\U0001F600", false, nullptr},
    {"Utf8LoneContinuation", Way::kToUtf16, kCodePageUtf8, kNoFlags, "a\x80" "b", u"a\uFFFDb",
     false, nullptr},
    {"Utf8Overlong", Way::kToUtf16, kCodePageUtf8, kNoFlags, "\xC0\x80", u"\uFFFD\uFFFD", false,
     nullptr},
    {"Utf8BadByte", Way::kToUtf16, kCodePageUtf8, kNoFlags, "\xFF" "a", u"\uFFFDa", false, nullptr},
    {"Utf8TruncatedInside", Way::kToUtf16, kCodePageUtf8, kNoFlags, "\xE4\xB8" "AB", u"\uFFFDAB",
     false, nullptr},
    {"Utf8TruncatedAtEnd", Way::kToUtf16, kCodePageUtf8, kNoFlags, "a\xE4\xB8", u"a\uFFFD", false,
     nullptr},
    {"Utf8RefusesFlags", Way::kToUtf16, kCodePageUtf8, 1, "a", u"", true, nullptr},

    // UTF-16 to code page 936.
    {"ToGbk", Way::kFromUtf16, kCodePageGbk, kNoFlags, "中文a", u"中文a", false, nullptr},
    {"EuroToByte80", Way::kFromUtf16, kCodePageGbk, kNoFlags, "\x80", u"\u20AC", false, nullptr},
    {"PrivateUseBack", Way::kFromUtf16, kCodePageGbk, kNoFlags, "\xAA\xA1\xFF", u"\uE000\uF8F5",
     false, nullptr},
    {"UnmappableIsQuestionMark", Way::kFromUtf16, kCodePageGbk, kNoFlags, "a?b", u"a\u0E01b", false,
     nullptr},
    {"CombiningMarkKeptApart", Way::kFromUtf16, kCodePageGbk, kNoFlags, "e?", u"e\u0301", false,
     nullptr},
    {"CompositeCheckComposes", Way::kFromUtf16, kCodePageGbk, kWcCompositeCheck, "\xA8\xA6x?",
     u"e\u0301x\u0301", false, nullptr},
    {"BestFitToAscii", Way::kFromUtf16, kCodePageGbk, kNoFlags, "y", u"\u00FD", false,
     "Windows' best-fit table maps y with acute to y; glibc has no best-fit table, the stand-in "
     "writes '?'"},
    {"BestFitCapitalMacron", Way::kFromUtf16, kCodePageGbk, kNoFlags, "\xA8\xA1", u"\u0100", false,
     "Windows' best-fit table maps A with macron to the small letter's code; the stand-in writes "
     "'?'"},

    // UTF-16 to UTF-8.
    {"ToUtf8", Way::kFromUtf16, kCodePageUtf8, kNoFlags, "\xE4\xB8\xAD\xF0\x9F\x98\x80",
     u"中\U0001F600", false, nullptr},
    {"LoneSurrogateToReplacement", Way::kFromUtf16, kCodePageUtf8, kNoFlags, "a\xEF\xBF\xBD" "b",
     u"a\xD800" "b", false, nullptr},
    {"Utf8RefusesCompositeCheck", Way::kFromUtf16, kCodePageUtf8, kWcCompositeCheck, "", u"a",
     true, nullptr},
};

class ConversionTable : public ::testing::TestWithParam<ConversionCase> {};

// Measures, converts into exactly the measured room, and checks that one unit
// less room fails as it does on Windows (a room of 0 would measure instead).
TEST_P(ConversionTable, Converts) {
  const ConversionCase& c = GetParam();
#ifndef _WIN32
  if (c.windowsOnly) GTEST_SKIP() << c.windowsOnly;
#endif
  if (c.way == Way::kToUtf16) {
    const auto length = static_cast<int32_t>(c.bytes.size());
    const int32_t needed = CodePageToUtf16(c.codePage, c.flags, c.bytes.data(), length, nullptr, 0);
    if (c.fails) {
      EXPECT_EQ(needed, 0);
      return;
    }
    ASSERT_EQ(needed, static_cast<int32_t>(c.units.size()));
    std::u16string out(needed, u'\0');
    EXPECT_EQ(CodePageToUtf16(c.codePage, c.flags, c.bytes.data(), length, out.data(), needed),
              needed);
    EXPECT_EQ(out, c.units);
    // Wine answers the units that fit when the room ends between the halves
    // of a surrogate pair, where Windows fails as for any room too small.
#ifdef _WIN32
    if (needed > 1 && c.units[needed - 2] >= 0xD800 && c.units[needed - 2] <= 0xDBFF) return;
#endif
    if (needed > 1) {
      EXPECT_EQ(CodePageToUtf16(c.codePage, c.flags, c.bytes.data(), length, out.data(), needed - 1),
                0);
    }
  } else {
    const auto length = static_cast<int32_t>(c.units.size());
    const int32_t needed = Utf16ToCodePage(c.codePage, c.flags, c.units.data(), length, nullptr, 0);
    if (c.fails) {
      EXPECT_EQ(needed, 0);
      return;
    }
    ASSERT_EQ(needed, static_cast<int32_t>(c.bytes.size()));
    std::string out(needed, '\0');
    EXPECT_EQ(Utf16ToCodePage(c.codePage, c.flags, c.units.data(), length, out.data(), needed),
              needed);
    EXPECT_EQ(out, c.bytes);
    if (needed > 1) {
      EXPECT_EQ(Utf16ToCodePage(c.codePage, c.flags, c.units.data(), length, out.data(), needed - 1),
                0);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(CodePage, ConversionTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A length of -1 reads up to the terminating zero and converts it too.
TEST(CodePageCalls, MinusOneLengthIncludesTheTerminator) {
  char16_t out[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(CodePageToUtf16(kCodePageGbk, 0, "中a", -1, out, 4), 3);
  EXPECT_EQ(std::u16string(out, 3), u"中a"s + u'\0');
}

// Every valid double-byte code decodes to one unit and encodes back to
// itself: the table holds no collisions.
TEST(CodePageCalls, EveryDoubleByteCodeRoundTrips) {
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
      char16_t unit = 0;
      ASSERT_EQ(CodePageToUtf16(kCodePageGbk, 0, pair, 2, &unit, 1), 1) << lead << " " << trail;
      char back[2] = {};
      ASSERT_EQ(Utf16ToCodePage(kCodePageGbk, 0, &unit, 1, back, 2), 2) << lead << " " << trail;
      ASSERT_EQ(std::string(back, 2), std::string(pair, 2)) << lead << " " << trail;
    }
  }
}

}  // namespace
}  // namespace taviro
