#include "search/url_encode.h"

#include <string>

#include "text/codepage.h"

namespace taviro {

namespace {

// The whole text re-encoded from code page 936 to UTF-8 (through UTF-16).
std::string GbkToUtf8(const Text& text) {
  const int32_t n = TextLength(text);
  const int32_t w = CodePageToUtf16(kCodePageGbk, 0, text.data(), n, nullptr, 0);
  if (w <= 0) return {};
  std::u16string units(static_cast<std::size_t>(w), u'\0');
  const int32_t unitsWritten = CodePageToUtf16(kCodePageGbk, 0, text.data(), n, units.data(), w);
  if (unitsWritten <= 0) return {};
  // No flags with CP_UTF8: Windows rejects WC_COMPOSITECHECK there.
  const int32_t m = Utf16ToCodePage(kCodePageUtf8, 0, units.data(), unitsWritten, nullptr, 0);
  if (m <= 0) return {};
  std::string utf8(static_cast<std::size_t>(m), '\0');
  const int32_t written =
      Utf16ToCodePage(kCodePageUtf8, 0, units.data(), unitsWritten, utf8.data(), m);
  utf8.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return utf8;
}

bool IsUnreserved(unsigned char b) {
  return b == 0x2D || b == 0x2E || (b >= 0x30 && b <= 0x39) || (b >= 0x41 && b <= 0x5A) ||
         (b >= 0x61 && b <= 0x7A);
}

}  // namespace

Text UrlEncode(const Text& text, bool keepUnreserved, bool utf8First) {
  static const char kHexDigits[] = "0123456789ABCDEF";
  const std::string converted = utf8First ? GbkToUtf8(text) : std::string();
  const std::string_view bytes = utf8First ? std::string_view(converted) : text.view();

  std::string result;
  result.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (keepUnreserved && IsUnreserved(b)) {
      result.push_back(c);
    } else {
      result.push_back('%');
      result.push_back(kHexDigits[b >> 4]);
      result.push_back(kHexDigits[b & 0x0F]);
    }
  }
  return Text(result);
}

}  // namespace taviro
