#include "http/charset.h"

#include <string>

#include "text/codepage.h"

namespace taviro {

namespace {

// The UTF-16 form of a UTF-8 byte string: measured first, then converted,
// with the explicit input length so embedded NULs are characters too.
std::u16string Utf8ToUnits(const Bytes& utf8) {
  const char* in = reinterpret_cast<const char*>(utf8.data());
  const int32_t n = BytesLength(utf8);
  const int32_t w = CodePageToUtf16(kCodePageUtf8, 0, in, n, nullptr, 0);
  if (w <= 0) return {};
  std::u16string units(static_cast<std::size_t>(w), u'\0');
  const int32_t written = CodePageToUtf16(kCodePageUtf8, 0, in, n, units.data(), w);
  units.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return units;
}

}  // namespace

Bytes Utf8ToUtf16(const Bytes& utf8) {
  const std::u16string units = Utf8ToUnits(utf8);
  Bytes out = BlankBytes(static_cast<int32_t>(units.size() * 2));
  uint8_t* p = out.data();
  for (char16_t unit : units) {
    *p++ = static_cast<uint8_t>(unit & 0xFF);
    *p++ = static_cast<uint8_t>(unit >> 8);
  }
  return out;
}

Bytes Utf8ToGbk(const Bytes& utf8) {
  const std::u16string units = Utf8ToUnits(utf8);
  const int32_t k = static_cast<int32_t>(units.size());
  if (k == 0) return Bytes();
  const int32_t m = Utf16ToCodePage(kCodePageGbk, kWcCompositeCheck, units.data(), k, nullptr, 0);
  if (m <= 0) return Bytes();
  Bytes out = BlankBytes(m);
  const int32_t written = Utf16ToCodePage(kCodePageGbk, kWcCompositeCheck, units.data(), k,
                                          reinterpret_cast<char*>(out.data()), m);
  // Never longer than measured; a converter that wrote less keeps only what it wrote.
  return written == m ? out : BytesLeft(out, written);
}

}  // namespace taviro
