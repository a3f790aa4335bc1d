#include "http/url_parts.h"

namespace taviro {

namespace {

// "#引号" in code page 936, written as bytes so the marker does not depend on
// the compiler's execution character set.
const Text kQuoteMarker("#\xD2\xFD\xBA\xC5");

Text ExpandQuoteMarker(const Text& marker) {
  return ReplaceText(marker, kQuoteMarker, "\"", /*caseSensitive=*/true);
}

}  // namespace

Text TextBetween(const Text& text, const Text& left, const Text& right, int32_t start,
                 bool caseSensitive) {
  const Text leftMarker = ExpandQuoteMarker(left);
  const Text rightMarker = ExpandQuoteMarker(right);
  const bool ignoreCase = !caseSensitive;
  int32_t p = FindText(text, leftMarker, start, ignoreCase);
  if (p == -1) return Text();
  p += TextLength(leftMarker);
  const int32_t q = FindText(text, rightMarker, p, ignoreCase);
  if (q == -1) return Text();
  return TextMid(text, p, q - p);
}

Text HeaderValue(const Text& line) {
  const int32_t a = FindText(line, ":");
  if (a == -1) return Text();
  return TrimText(TextRight(line, TextLength(line) - a));
}

Text UrlHost(const Text& address, bool lastTwoLabels, bool keepPort) {
  Text v = ToLowerCase(address);
  if (TextRight(v, 1) != "/") v = JoinText(v, "/");
  if (TextLeft(v, 8) == "https://") {
    v = TextBetween(v, "https://", "/");
  } else {
    if (FindText(v, "http://") == -1) v = JoinText("http://", v);
    v = TextBetween(v, "http://", "/");
  }
  if (lastTwoLabels) {
    const TextArray labels = SplitText(v, ".");
    const int32_t n = ArraySize(labels);
    if (n >= 2) v = JoinText(ArrayItem(labels, n - 1), ".", ArrayItem(labels, n));
  }
  if (keepPort) return v;
  const int32_t a = FindText(v, ":");
  return a == -1 ? v : TextLeft(v, a - 1);
}

int32_t UrlPort(const Text& address) {
  const Text h = UrlHost(address, false, true);
  const int32_t a = FindTextReverse(h, ":");
  if (a == -1) return TextLeft(ToLowerCase(address), 5) == "https" ? 443 : 80;
  return TextToInt(TextRight(h, TextLength(h) - a));
}

Text UrlPath(const Text& address) {
  const Text h = UrlHost(address);
  const int32_t a = FindText(address, h, 1, /*ignoreCase=*/true);
  const int32_t b = FindText(address, "/", a, /*ignoreCase=*/true);
  if (b <= 0) return "/";
  return TextRight(address, TextLength(address) - b + 1);
}

Text CookieName(const Text& pair) {
  const int32_t a = FindText(pair, "=");
  return a == -1 ? TrimText(pair) : TrimText(TextLeft(pair, a - 1));
}

}  // namespace taviro
