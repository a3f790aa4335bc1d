#include "http/cookies.h"

#include <string>

#include "http/url_parts.h"

namespace taviro {

namespace {

const Text kDeletedMark("=deleted");

}  // namespace

Text MergeCookies(Text& cookies, Text& returned) {
  cookies = RemoveSpaces(cookies);
  returned = RemoveSpaces(returned);

  const TextArray old = SplitText(cookies, ";");
  TextArray merged = SplitText(returned, ";");
  // Tested against merged as it grows: of several old pairs with one name only
  // the first survives, and none when the response set that name.
  for (int32_t i = 1; i <= ArraySize(old); ++i) {
    const Text& pair = ArrayItem(old, i);
    if (!HasCookieNamed(merged, CookieName(pair))) ArrayAppend(merged, pair);
  }

  std::string joined;
  for (int32_t i = 1; i <= ArraySize(merged); ++i) {
    const Text& pair = ArrayItem(merged, i);
    if (TextRight(pair, 8) == kDeletedMark) continue;
    joined.append(pair.view()).append("; ");
  }
  cookies = Text(joined);
  cookies = TextLeft(cookies, TextLength(cookies) - 2);
  cookies = RemoveDuplicateItems(cookies, "; ");
  return cookies;
}

bool HasCookieNamed(const TextArray& pairs, const Text& name) {
  for (int32_t i = 1; i <= ArraySize(pairs); ++i) {
    if (CompareText(CookieName(ArrayItem(pairs, i)), name) == 0) return true;
  }
  return false;
}

Text RemoveDuplicateItems(const Text& text, const Text& separator) {
  const TextArray pieces = SplitText(text, separator);
  TextArray seen;
  std::string r;
  for (int32_t i = 1; i <= ArraySize(pieces); ++i) {
    const Text& piece = ArrayItem(pieces, i);
    if (ContainsItem(seen, piece)) continue;
    ArrayAppend(seen, piece);
    r.append(piece.view()).append(separator.view());
  }
  const Text joined(r);
  return TextLeft(joined, TextLength(joined) - TextLength(separator));
}

bool ContainsItem(const TextArray& list, const Text& text) {
  for (int32_t i = 1; i <= ArraySize(list); ++i) {
    if (CompareText(ArrayItem(list, i), text) == 0) return true;
  }
  return false;
}

}  // namespace taviro
