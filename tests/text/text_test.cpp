// GBK bytes are written as hex escapes where the character structure is the
// point: "\xB0\xA1" is one double-byte character, "\xA1\xA1" the full-width
// space. A hex escape swallows following hex digits, so letters after one
// start a new literal ("\xB0\xA1" "a").
#include "text/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace taviro {
namespace {

std::string Str(const Text& t) { return std::string(t.view()); }

std::vector<std::string> Items(const TextArray& a) {
  std::vector<std::string> out;
  for (int32_t i = 1; i <= ArraySize(a); ++i) out.push_back(Str(ArrayItem(a, i)));
  return out;
}

// --- Length and comparison ------------------------------------------------------

TEST(CompareTextTest, OrdersBytesUnsignedAndPrefixesFirst) {
  struct Case {
    Text a, b;
    int expected;
  } cases[] = {
      {Text(), "", 0},
      {Text(nullptr), Text(), 0},
      {"abc", "abc", 0},
      {"ab", "abc", -1},
      {"abc", "ab", 1},
      {"abd", "abc", 1},
      {"\x80", "z", 1},  // a byte of 0x80 or above is above every ASCII byte
      {"z", "\xB0\xA1", -1},
      {"\xB0\xA1", "\xB0\xA2", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CompareText(c.a, c.b), c.expected) << c.a.c_str() << " vs " << c.b.c_str();
  }
}

TEST(CompareTextMultibyteTest, ZeroExactlyForTheSameBytes) {
  struct Case {
    Text a, b;
    int sign;
  } cases[] = {
      {"", Text(), 0},
      {"\xB0\xA1" "a", "\xB0\xA1" "a", 0},
      {"abc", "abd", -1},
      {"abc", "ab", 1},
      {"\xB0\xA1", "\xB0\xA2", -1},
      {"z", "\xB0\xA1", -1},  // a double-byte character's code is lead * 256 + second
      {"a\xB0", "a\xB0", 0},  // a lead byte before the NUL
      {"a\xB0", "a\xB0\xA1", -1},
      {"ABC", "abc", -1},
  };
  for (const Case& c : cases) {
    const int32_t r = CompareTextMultibyte(c.a, c.b, true);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a.c_str() << " vs " << c.b.c_str();
  }
  EXPECT_EQ(CompareTextMultibyte("ABC", "abc", false), 0);
  // Second bytes are not letters to be folded.
  EXPECT_NE(CompareTextMultibyte("\x81" "A", "\x81" "a", false), 0);
}

TEST(BytesEqualTest, ComparesLengthAndEveryByte) {
  struct Case {
    Bytes a, b;
    bool expected;
  } cases[] = {
      {Bytes(), Bytes("", 0), true},
      {Bytes("a\0b", 3), Bytes("a\0b", 3), true},
      {Bytes("a\0b", 3), Bytes("a\0c", 3), false},
      {Bytes("a\0", 2), Bytes("a", 1), false},
  };
  for (const Case& c : cases) EXPECT_EQ(BytesEqual(c.a, c.b), c.expected);
}

TEST(JoinTest, JoinsTextsAndBytes) {
  EXPECT_EQ(Str(JoinText("ab", "cd")), "abcd");
  EXPECT_EQ(Str(JoinText(Text(), "x", Text(), "\xB0\xA1")), "x\xB0\xA1");
  EXPECT_TRUE(JoinText(Text(), "").empty());
  EXPECT_EQ(JoinBytes(Bytes("a\0", 2), Bytes(), Bytes("\0b", 2)), Bytes("a\0\0b", 4));
  EXPECT_TRUE(JoinBytes(Bytes(), Bytes()).empty());
}

TEST(TextValueTest, NeverHoldsANul) {
  EXPECT_EQ(Str(Text(std::string_view("ab\0cd", 5))), "ab");
  EXPECT_EQ(Str(Text("abcd", 2)), "ab");
  EXPECT_EQ(Str(Text("a\0cd", 4)), "a");
  EXPECT_TRUE(Text(nullptr).empty());
  EXPECT_EQ(TextLength(Text()), 0);
  EXPECT_EQ(TextLength("\xB0\xA1" "a"), 3);
}

// --- Searching ------------------------------------------------------------------

TEST(FindTextTest, AnswersFirstOccurrenceAtACharacterStart) {
  struct Case {
    const char* name;
    Text text, sought;
    int32_t start;
    bool ignoreCase;
    int32_t expected;
  } cases[] = {
      {"plain", "abcabc", "bc", 1, false, 2},
      {"not there", "abc", "x", 1, false, -1},
      {"longer than text", "ab", "abc", 1, false, -1},
      {"empty sought", "abc", "", 1, false, 1},
      {"empty sought, later start", "abc", "", 3, false, 1},
      {"empty sought, start past end", "abc", "", 4, false, -1},
      {"empty sought, empty text", "", "", 1, false, -1},
      {"empty text", Text(), "a", 1, false, -1},
      {"start", "abcabc", "a", 2, false, 4},
      {"start on last byte", "abc", "c", 3, false, 3},
      {"start past last byte", "abc", "c", 4, false, -1},
      {"start 0 searches everything", "abc", "a", 0, false, 1},
      {"negative start", "abc", "a", -5, false, 1},
      {"not in a second byte", "\xB0\xA1", "\xA1", 1, false, -1},
      {"second byte then a real one", "\xB0\xA1\xA1\xA1", "\xA1\xA1", 1, false, 3},
      {"ASCII second byte", "\x81" "ab", "a", 1, false, -1},
      {"after ASCII second byte", "\x81" "ab", "b", 1, false, 3},
      {"odd run of lead bytes", "\xB0\xA1\xB0\xA1\xB0" "ab", "a", 1, false, -1},
      {"even run of lead bytes", "\xB0\xA1\xB0\xA1" "ab", "a", 1, false, 5},
      {"all second bytes", "\xB0\xA1\xB0\xA1\xB0\xA1", "\xA1\xB0", 1, false, -1},
      {"start taken as character start", "\xB0\xA1", "\xA1", 2, false, 2},
      {"truncated lead byte still found", "\xB0\xA1\xA1", "\xA1", 1, false, 3},
      {"truncated lead byte in longer sought", "ab\xB0", "b\xB0", 1, false, 2},
      {"repetitive", "aaaaab", "aab", 1, false, 4},
      {"any case", "Content-TYPE: x", "content-type", 1, true, 1},
      {"case kept", "Content-TYPE: x", "content-type", 1, false, -1},
      {"folds second bytes", "\x81" "A", "\x81" "a", 1, true, 1},
      {"folds only letters", "{", "[", 1, true, -1},
      {"folds only letters 2", "`", "@", 1, true, -1},
      {"ignore case without letters", "x#\xD2\xFD\xBA\xC5", "#\xD2\xFD\xBA\xC5", 1, true, 2},
      {"ignore case in second byte", "\xB0\x41" "a", "a", 1, true, 3},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindText(c.text, c.sought, c.start, c.ignoreCase), c.expected) << c.name;
  }
}

TEST(FindTextReverseTest, AnswersLastOccurrenceAtACharacterStart) {
  struct Case {
    const char* name;
    Text text, sought;
    bool ignoreCase;
    int32_t expected;
  } cases[] = {
      {"colon before port", "http://host:8080/a", ":", false, 12},
      {"overlapping", "aaa", "aa", false, 2},
      {"not there", "abc", "d", false, -1},
      {"empty sought", "abc", "", false, 1},
      {"empty text", "", "", false, -1},
      {"longer than text", "ab", "abc", false, -1},
      {"not in a second byte", "\xB0\xA1", "\xA1", false, -1},
      {"before a second byte", "\xA1\xA1\xB0\xA1", "\xA1\xA1", false, 1},
      {"truncated lead byte", "\xA1\xB0\xA1", "\xA1", false, 3},
      {"ASCII second byte", "a\x81" "a", "a", false, 1},
      {"any case", "Abc abC", "ABC", true, 5},
      {"case kept", "Abc abC", "ABC", false, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindTextReverse(c.text, c.sought, c.ignoreCase), c.expected) << c.name;
  }
}

TEST(FindBytesTest, MatchesAtAnyByteOffset) {
  struct Case {
    Bytes bytes, sought;
    int32_t expected;
  } cases[] = {
      {Bytes("\xB0\xA1", 2), Bytes("\xA1", 1), 2},  // plain bytes: inside a character too
      {Bytes("a\0b\0c", 5), Bytes("\0c", 2), 4},
      {Bytes("abc", 3), Bytes(), -1},
      {Bytes(), Bytes("a", 1), -1},
      {Bytes("ab", 2), Bytes("abc", 3), -1},
  };
  for (const Case& c : cases) EXPECT_EQ(FindBytes(c.bytes, c.sought), c.expected);
}

// --- Cutting and cleaning -----------------------------------------------------

TEST(CuttingTest, LeftRightMidCountBytes) {
  struct Case {
    Text got;
    const char* expected;
  } cases[] = {
      {TextLeft("abc", 2), "ab"},
      {TextLeft("abc", 9), "abc"},
      {TextLeft("abc", 0), ""},
      {TextLeft("abc", -1), ""},
      {TextLeft("\xB0\xA1", 1), "\xB0"},  // may cut a character in two
      {TextRight("abc", 2), "bc"},
      {TextRight("abc", 9), "abc"},
      {TextRight("abc", 0), ""},
      {TextMid("abcde", 2, 3), "bcd"},
      {TextMid("abcde", 4, 9), "de"},
      {TextMid("abcde", 5, 1), "e"},
      {TextMid("abcde", 6, 1), ""},
      {TextMid("abcde", 0, 2), ""},
      {TextMid("abcde", -1, 2), ""},
      {TextMid("abcde", 2, 0), ""},
      {TextMid("abcde", 2, std::numeric_limits<int32_t>::max()), "bcde"},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(c.got), c.expected);
  EXPECT_EQ(BytesLeft(Bytes("a\0b", 3), 2), Bytes("a\0", 2));
  EXPECT_EQ(BytesLeft(Bytes("ab", 2), 5), Bytes("ab", 2));
  EXPECT_TRUE(BytesLeft(Bytes("ab", 2), 0).empty());
}

TEST(ReplaceTextTest, ReplacesAlongTheCharacterWalk) {
  struct Case {
    const char* name;
    Text text, sought, replacement;
    int32_t start, count;
    bool caseSensitive;
    const char* expected;
  } cases[] = {
      {"no overlap", "aaa", "aa", "b", 1, -1, true, "ba"},
      {"removes", "a<em>b</em>", "<em>", "", 1, -1, true, "ab</em>"},
      {"upper-case tag, any case", "<EM>a<em>b", "<em>", "", 1, -1, false, "ab"},
      {"upper-case tag, case kept", "<EM>a<em>b", "<em>", "", 1, -1, true, "<EM>ab"},
      {"quote marker", "a#\xD2\xFD\xBA\xC5" "b", "#\xD2\xFD\xBA\xC5", "\"", 1, -1, true, "a\"b"},
      {"replacement not searched again", "aa", "a", "aa", 1, -1, true, "aaaa"},
      {"start", "abab", "a", "x", 2, -1, true, "abxb"},
      {"start 0", "abab", "a", "x", 0, -1, true, "xbxb"},
      {"negative start", "abab", "a", "x", -3, -1, true, "xbxb"},
      {"start past end", "abab", "a", "x", 5, -1, true, "abab"},
      {"count", "aaaa", "a", "b", 1, 2, true, "bbaa"},
      {"count 0", "aaaa", "a", "b", 1, 0, true, "aaaa"},
      {"empty text", "", "a", "b", 1, -1, true, ""},
      {"empty sought", "abc", "", "x", 1, -1, true, "abc"},
      {"not in a second byte", "\xB0\xA1" "a", "\xA1" "a", "x", 1, -1, true, "\xB0\xA1" "a"},
      {"after a double-byte character", "\xB0\xA1\xA1" "a", "\xA1" "a", "x", 1, -1, true,
       "\xB0\xA1" "x"},
      {"start inside a character", "\xB0\xA1" "a", "\xA1" "a", "x", 2, -1, true, "\xB0" "x"},
      // A lead byte before the NUL: the walk leaves it out when it gets there,
      // and copies it with the rest when it stops before.
      {"truncated byte reached", "ab\xB0", "x", "y", 1, -1, true, "ab"},
      {"truncated byte matched", "ab\xB0", "\xB0", "c", 1, -1, true, "abc"},
      {"walk stops short of it", "ab\xB0", "xy", "z", 1, -1, true, "ab\xB0"},
      {"count reached before it", "ab\xB0", "a", "z", 1, 1, true, "zb\xB0"},
      {"count not reached", "ab\xB0", "a", "z", 1, 2, true, "zb"},
      {"truncated after a match", "a\xB0", "a", "z", 1, -1, true, "z"},
      {"truncated second byte", "\xB0\xA1\xB0", "x", "y", 1, -1, true, "\xB0\xA1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Str(ReplaceText(c.text, c.sought, c.replacement, c.start, c.count, c.caseSensitive)),
              c.expected)
        << c.name;
  }
  // The two-call form: the whole text, every occurrence.
  EXPECT_EQ(Str(ReplaceText("&NBSP;a&nbsp;", "&nbsp;", Text(), false)), "a");
}

TEST(SplitTextTest, CutsAtSeparatorsOnCharacterStarts) {
  struct Case {
    const char* name;
    Text text, separator;
    std::optional<int32_t> maxCount;
    std::vector<std::string> expected;
  } cases[] = {
      {"empty pieces kept", "a,,b", ",", std::nullopt, {"a", "", "b"}},
      {"leading separator", ",a", ",", std::nullopt, {"", "a"}},
      {"trailing separator", "a,b,", ",", std::nullopt, {"a", "b"}},
      {"only a separator", ",", ",", std::nullopt, {""}},
      {"empty text", "", ",", std::nullopt, {}},
      {"no separator in text", "abc", ",", std::nullopt, {"abc"}},
      {"empty separator", "a,b", "", std::nullopt, {"a,b"}},
      {"max 0", "a,b", ",", 0, {}},
      {"negative max", "a,b", ",", -3, {}},
      {"max drops the rest", "a,b,c", ",", 2, {"a", "b"}},
      {"max not reached", "a,b", ",", 5, {"a", "b"}},
      {"header lines", "K: v\r\nK2: v2\r\n", "\r\n", std::nullopt, {"K: v", "K2: v2"}},
      {"not in a second byte", "\xB0,a,b", ",", std::nullopt, {"\xB0,a", "b"}},
      {"truncated byte in last piece", "a,\xB0", ",", std::nullopt, {"a", "\xB0"}},
      {"truncated byte as separator", "a\xB0", "\xB0", std::nullopt, {"a"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Items(SplitText(c.text, c.separator, c.maxCount)), c.expected) << c.name;
  }
  EXPECT_EQ(Items(SplitText("a,b")), (std::vector<std::string>{"a", "b"}));
}

TEST(TrimTextTest, RemovesHalfAndFullWidthSpacesAtTheEnds) {
  struct Case {
    const char* name;
    Text text;
    const char* expected;
  } cases[] = {
      {"half-width", "  a b  ", "a b"},
      {"full-width", "\xA1\xA1" "a\xA1\xA1", "a"},
      {"mixed run", " \xA1\xA1 a \xA1\xA1 ", "a"},
      {"only spaces", " \xA1\xA1 ", ""},
      {"empty", "", ""},
      {"tab and line breaks stay", "\ta\r\n", "\ta\r\n"},
      {"A1 then space is one character", "\xB0\xA1\xA1 ", "\xB0\xA1\xA1 "},
      {"A1 A1 across characters is no space", "a\xB0\xA1\xA1", "a\xB0\xA1"},
      {"run broken by a character", "a  b  ", "a  b"},
      {"truncated byte cuts, spaces kept", "ab  \xB0", "ab  "},
      {"truncated byte after leading spaces", "  \xB0", ""},
      {"truncated A1", "a\xA1", "a"},
      {"full-width then truncated A1", "a\xA1\xA1\xA1", "a\xA1\xA1"},
      {"long double-byte run", "\xB0\xA1\xB0\xA1\xB0\xA1 ", "\xB0\xA1\xB0\xA1\xB0\xA1"},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(TrimText(c.text)), c.expected) << c.name;
}

TEST(RemoveSpacesTest, RemovesEverySpaceCharacter) {
  struct Case {
    Text text;
    const char* expected;
  } cases[] = {
      {" a \xA1\xA1" "b\t", "ab\t"},
      {"\xB0\xA1 \xA1\xA1", "\xB0\xA1"},
      {"\xB0 ", "\xB0 "},  // a space as second byte is not a space
      {"\xA1\xA1\xA1", ""},  // a full-width space, then a lead byte left out
      {"a \xB0", "a"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(RemoveSpaces(c.text)), c.expected);
}

TEST(ToLowerCaseTest, ChangesSingleByteLettersOnly) {
  struct Case {
    Text text;
    const char* expected;
  } cases[] = {
      {"ABC xyz 09", "abc xyz 09"},
      {"\x81" "AB", "\x81" "Ab"},  // 81 41 is one character
      {"A\xB0", "a\xB0"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(ToLowerCase(c.text)), c.expected);
}

// --- Conversions ------------------------------------------------------------------

TEST(TextToIntTest, ReadsAfterFoldingFullWidthForms) {
  struct Case {
    Text text;
    int32_t expected;
  } cases[] = {
      {"123", 123},
      {"  -42abc", -42},
      {"+7", 7},
      {"abc", 0},
      {"", 0},
      {"- 5", 0},
      {"\t\n\v\f\r 8", 8},
      {"\xA3\xB1\xA3\xB2", 12},
      {"1\xA3\xB2" "3", 123},
      {"\xA3\xAD\xA3\xB5", -5},
      {"\xA3\xAB" "5", 5},
      {"\xA1\xA1" "9", 9},
      {"\xA1\xAB" "1", 0},  // a tilde, not a sign
      {"\xB0\xA1" "5", 0},
      {"12\xB0", 12},
      {"4294967297", 1},
      {"2147483648", std::numeric_limits<int32_t>::min()},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToInt(c.text), c.expected) << c.text.c_str();
}

TEST(NumberTextTest, WritesDecimalAndHex) {
  struct Case {
    Text got;
    const char* expected;
  } cases[] = {
      {IntToText(0), "0"},
      {IntToText(123), "123"},
      {IntToText(-1), "-1"},
      {IntToText(std::numeric_limits<int32_t>::min()), "-2147483648"},
      {ToHexText(0), "0"},
      {ToHexText(255), "FF"},
      {ToHexText(0x1A2B), "1A2B"},
      {ToHexText(-1), "FFFFFFFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(c.got), c.expected);
}

TEST(ConstructorTest, BuildsTextsAndBytes) {
  struct Case {
    Text got;
    std::string expected;
  } cases[] = {
      {CharFromCode(0), ""},
      {CharFromCode(65), "A"},
      {CharFromCode(0xB0), "\xB0"},
      {CharFromCode(0x100), ""},
      {BytesToText(Bytes("ab\0cd", 5)), "ab"},
      {BytesToText(Bytes("ab", 2)), "ab"},
      {BytesToText(Bytes()), ""},
      {BlankText(3), "   "},
      {BlankText(0), ""},
      {BlankText(-1), ""},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(c.got), c.expected);
  EXPECT_EQ(TextToBytes("a\xB0\xA1"), Bytes("a\xB0\xA1", 3));
  EXPECT_TRUE(TextToBytes(Text()).empty());
  EXPECT_EQ(BlankBytes(3), Bytes("\0\0\0", 3));
  EXPECT_TRUE(BlankBytes(0).empty());
  EXPECT_EQ(BytesLength(Bytes("a\0", 2)), 2);
  EXPECT_EQ(BytesLength(Bytes()), 0);
}

// --- Numbers and memory -------------------------------------------------------

TEST(FloorToIntTest, SnapsNearWholeNumbersThenFloors) {
  struct Case {
    double x;
    int32_t expected;
  } cases[] = {
      {2.9999999999995, 3},
      {2.5, 2},
      {2.0, 2},
      {2.99999, 2},
      {-2.5, -3},
      {-0.5, -1},
      {-2.9999999999995, -3},
      {-2.0000000000005, -3},
      {2147483647.5, 2147483647},
      {-2147483648.0, std::numeric_limits<int32_t>::min()},
      {1e10, std::numeric_limits<int32_t>::min()},
      {std::nan(""), std::numeric_limits<int32_t>::min()},
  };
  for (const Case& c : cases) EXPECT_EQ(FloorToInt(c.x), c.expected) << c.x;
}

TEST(BitsTest, CombinesEveryArgument) {
  EXPECT_EQ(BitOr({1, 4, 0x100}), 0x105);
  EXPECT_EQ(BitAnd({0xFF, 0x0F, 0x3C}), 0x0C);
  EXPECT_EQ(BitOr({std::numeric_limits<int32_t>::min(), 1}), std::numeric_limits<int32_t>::min() + 1);
}

int32_t SampleRoutine(int32_t x) { return x + 1; }

TEST(MemoryTest, CopiesFromAddresses) {
  const char text[] = "ab\xB0\xA1";
  EXPECT_EQ(Str(TextAtAddress(reinterpret_cast<uintptr_t>(text))), text);
  EXPECT_TRUE(TextAtAddress(0).empty());
  const unsigned char raw[] = {1, 0, 2, 0xFF};
  EXPECT_EQ(BytesAtAddress(reinterpret_cast<uintptr_t>(raw), 3), Bytes("\1\0\2", 3));
  EXPECT_TRUE(BytesAtAddress(reinterpret_cast<uintptr_t>(raw), 0).empty());
  EXPECT_EQ(RoutineAddress(&SampleRoutine), reinterpret_cast<uintptr_t>(&SampleRoutine));
}

TEST(ReadInt32Test, ReadsLittleEndianWithMissingHighBytesZero) {
  struct Case {
    Bytes bytes;
    int32_t expected;
  } cases[] = {
      {Bytes("\x78\x56\x34\x12", 4), 0x12345678},
      {Bytes("\x78\x56\x34\x12\xFF", 5), 0x12345678},
      {Bytes("\xFF\xFF\xFF\xFF", 4), -1},
      {Bytes("\xFF\xFF", 2), 0xFFFF},
      {Bytes(), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadInt32(c.bytes), c.expected);
}

// --- Arrays -------------------------------------------------------------------------

TEST(TextArrayTest, AppendsCopiesInOrder) {
  TextArray a;
  EXPECT_EQ(ArraySize(a), 0);
  Text first = "one";
  ArrayAppend(a, first);
  ArrayAppend(a, Text());
  ArrayAppend(a, "three");
  first = "changed";
  EXPECT_EQ(Items(a), (std::vector<std::string>{"one", "", "three"}));
  TextArray copy = a;
  ArrayAppend(copy, "four");
  EXPECT_EQ(ArraySize(a), 3);
}

// --- The walk against a literal model ----------------------------------------------
//
// The operations jump ahead with memchr, switch to another search on
// repetitive input and decide character starts from the bytes just before a
// candidate. These models walk character by character as the rules are
// written; random and repetitive inputs must give the same answers.

bool ModelMatch(const std::string& t, std::size_t p, const std::string& s, bool fold) {
  if (t.size() - p < s.size()) return false;
  for (std::size_t k = 0; k < s.size(); ++k) {
    unsigned char a = static_cast<unsigned char>(t[p + k]);
    unsigned char b = static_cast<unsigned char>(s[k]);
    if (fold) {
      if (a >= 'A' && a <= 'Z') a += 0x20;
      if (b >= 'A' && b <= 'Z') b += 0x20;
    }
    if (a != b) return false;
  }
  return true;
}

std::size_t Step(const std::string& t, std::size_t p) {
  return static_cast<unsigned char>(t[p]) >= 0x80 ? 2 : 1;
}

int32_t ModelFind(const std::string& t, const std::string& s, int32_t start, bool fold) {
  const std::size_t skip = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (skip >= t.size()) return -1;
  if (s.empty()) return 1;
  for (std::size_t p = skip; p < t.size(); p += Step(t, p)) {
    if (ModelMatch(t, p, s, fold)) return static_cast<int32_t>(p + 1);
  }
  return -1;
}

int32_t ModelFindReverse(const std::string& t, const std::string& s, bool fold) {
  if (t.empty()) return -1;
  if (s.empty()) return 1;
  int32_t last = -1;
  for (std::size_t p = 0; p < t.size(); p += Step(t, p)) {
    if (ModelMatch(t, p, s, fold)) last = static_cast<int32_t>(p + 1);
  }
  return last;
}

std::string ModelReplace(const std::string& t, const std::string& s, const std::string& r,
                         int32_t start, bool fold) {
  const std::size_t k = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (t.empty() || s.empty() || k >= t.size()) return t;
  std::string out = t.substr(0, k);
  std::size_t p = k;
  while (t.size() - p >= s.size()) {
    if (ModelMatch(t, p, s, fold)) {
      out += r;
      p += s.size();
    } else {
      const std::size_t n = Step(t, p);
      if (p + n <= t.size()) out.append(t, p, n);
      p = std::min(p + n, t.size());
    }
  }
  return out + t.substr(p);
}

std::vector<std::string> ModelSplit(const std::string& t, const std::string& sep) {
  std::vector<std::string> out;
  if (t.empty()) return out;
  std::size_t piece = 0;
  std::size_t p = 0;
  while (p < t.size()) {
    if (ModelMatch(t, p, sep, false)) {
      out.push_back(t.substr(piece, p - piece));
      p += sep.size();
      piece = p;
    } else {
      p += Step(t, p);
    }
  }
  if (piece < t.size()) out.push_back(t.substr(piece));
  return out;
}

void ExpectLikeModel(const std::string& t, const std::string& s, int32_t start) {
  const Text text(t);
  const Text sought(s);
  for (bool fold : {false, true}) {
    ASSERT_EQ(FindText(text, sought, start, fold), ModelFind(t, s, start, fold))
        << "fold " << fold << " start " << start;
    ASSERT_EQ(FindTextReverse(text, sought, fold), ModelFindReverse(t, s, fold)) << "fold " << fold;
    ASSERT_EQ(Str(ReplaceText(text, sought, "<>", start, kAllOccurrences, !fold)),
              ModelReplace(t, s, "<>", start, fold))
        << "fold " << fold << " start " << start;
  }
  ASSERT_EQ(Items(SplitText(text, sought)), ModelSplit(t, s));
}

std::string Repeat(const std::string& unit, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += unit;
  return out;
}

TEST(CharacterWalkTest, RandomTextsAgreeWithTheModel) {
  const char alphabet[] = {'a', 'A', 'b', ' ', '\xB0', '\xA1', '\x81'};
  std::mt19937 random(20240601);
  auto pick = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += alphabet[random() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string t = pick(random() % 40);
    const std::string s = pick(1 + random() % 4);
    const int32_t start = static_cast<int32_t>(random() % 8) - 2;
    ExpectLikeModel(t, s, start);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "text \"" << t << "\" sought \"" << s << "\"";
      return;
    }
  }
}

TEST(CharacterWalkTest, PeriodicTextsAgreeWithTheModel) {
  // Long runs of near misses and overlapping occurrences: the ground where
  // the search changes method midway.
  const char alphabet[] = {'a', 'A', '\xB0', '\xA1'};
  std::mt19937 random(7);
  auto pick = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += alphabet[random() % sizeof alphabet];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    const std::string unit = pick(1 + random() % 3);
    const std::string s = Repeat(unit, 5 + random() % 20) + pick(random() % 2);
    std::string t = Repeat(unit, 100 + random() % 200);
    t.insert(random() % t.size(), s);
    t[random() % t.size()] = alphabet[random() % sizeof alphabet];
    const int32_t start = 1 + static_cast<int32_t>(random() % 3);
    ExpectLikeModel(t, s, start);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "round " << round;
      return;
    }
  }
}

TEST(CharacterWalkTest, RepetitiveTextsAgreeWithTheModel) {
  struct Case {
    const char* name;
    std::string text, sought;
  } cases[] = {
      {"one letter", Repeat("a", 3000) + "b", Repeat("a", 100) + "b"},
      {"one letter, any case", Repeat("aA", 1500) + "B", Repeat("Aa", 60) + "b"},
      {"second bytes only", Repeat("\xB0\xA1", 3000), Repeat("\xA1\xB0", 50)},
      {"second bytes, then a real one",
       Repeat("\xB0\xA1", 3000) + "x" + Repeat("\xA1\xB0", 60), Repeat("\xA1\xB0", 50)},
      {"ASCII second bytes", Repeat("\x81" "a", 3000) + "aa", Repeat("a\x81", 40) + "a"},
      {"near miss at the end", Repeat("ab", 2000) + "abc", Repeat("ab", 300) + "c"},
      {"miss in the middle", Repeat("b", 3000), Repeat("b", 50) + "c" + Repeat("b", 50)},
      {"miss in the middle, any case", Repeat("bB", 1500),
       Repeat("Bb", 25) + "c" + Repeat("bB", 25)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int32_t start : {1, 2, 1001}) ExpectLikeModel(c.text, c.sought, start);
  }
}

}  // namespace
}  // namespace taviro
