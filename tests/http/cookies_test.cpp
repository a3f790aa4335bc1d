#include "http/cookies.h"

#include <gtest/gtest.h>

#include "tests/http/print_text.h"

namespace taviro {
namespace {

struct MergeCase {
  const char* name;
  const char* cookies;
  const char* returned;
  const char* mergedCookies;
  const char* mergedReturned;
};

TEST(CookieMergeTest, MergesResponseCookiesFirst) {
  const MergeCase cases[] = {
      {"response first, then old pairs it did not set", "a=1; b=2", "b=3; c=4; ",
       "b=3; c=4; a=1", "b=3;c=4;"},
      {"a deleted response pair removes its name", "a=1; b=2", "a=deleted; ", "b=2",
       "a=deleted;"},
      {"an old deleted pair is dropped", "a=deleted; b=2", "", "b=2", ""},
      {"first old pair of a name wins", "a=1; a=2; b=3", "", "a=1; b=3", ""},
      {"unless the response sets the name", "a=1; a=2; b=3", "a=9; ", "a=9; b=3", "a=9;"},
      {"two response values of one name both stay", "", "a=1; a=2; ", "a=1; a=2", "a=1;a=2;"},
      {"an exact repeat stays once", "", "a=1; a=1; ", "a=1", "a=1;a=1;"},
      {"names differ in letter case", "A=1", "a=2; ", "a=2; A=1", "a=2;"},
      {"both empty", "", "", "", ""},
      {"one response pair alone", "", "x=1; ", "x=1", "x=1;"},
      {"spaces inside values disappear", "a=hello world", "", "a=helloworld", ""},
      {"an empty piece is carried along", "a=1;;b=2", "", "a=1; ; b=2", ""},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(c.name);
    Text cookies = c.cookies;
    Text returned = c.returned;
    const Text result = MergeCookies(cookies, returned);
    EXPECT_EQ(cookies, Text(c.mergedCookies));
    EXPECT_EQ(returned, Text(c.mergedReturned));
    EXPECT_EQ(result, cookies);
  }
}

TEST(CookieMergeTest, ListHelpers) {
  TextArray pairs;
  ArrayAppend(pairs, " a =1");
  ArrayAppend(pairs, "B=2");
  EXPECT_TRUE(HasCookieNamed(pairs, "a"));
  EXPECT_FALSE(HasCookieNamed(pairs, "b"));
  EXPECT_FALSE(HasCookieNamed(TextArray(), ""));

  EXPECT_TRUE(ContainsItem(pairs, "B=2"));
  EXPECT_FALSE(ContainsItem(pairs, "a=1"));  // whole elements, byte for byte

  EXPECT_EQ(RemoveDuplicateItems("a, b, a, c", ", "), Text("a, b, c"));
  EXPECT_EQ(RemoveDuplicateItems("a;;a;", ";"), Text("a;"));
  EXPECT_EQ(RemoveDuplicateItems("", "; "), Text(""));
  EXPECT_EQ(RemoveDuplicateItems("x", "; "), Text("x"));
}

}  // namespace
}  // namespace taviro
