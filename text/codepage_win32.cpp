// The Windows converters behind the code-page seam.
#include "text/codepage.h"

#include <windows.h>

namespace taviro {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are wchar_t on Windows");

int32_t CodePageToUtf16(uint32_t codePage, uint32_t flags, const char* in, int32_t inLength,
                        char16_t* out, int32_t outCapacity) {
  // Wine accepts flags with CP_UTF8 that Windows refuses; refuse them here too
  // so that a wrong call fails the same way under both.
  if (codePage == kCodePageUtf8 && flags != 0) return 0;
  return MultiByteToWideChar(codePage, flags, in, inLength, reinterpret_cast<wchar_t*>(out),
                             outCapacity);
}

int32_t Utf16ToCodePage(uint32_t codePage, uint32_t flags, const char16_t* in, int32_t inLength,
                        char* out, int32_t outCapacity) {
  if (codePage == kCodePageUtf8 && flags != 0) return 0;
  return WideCharToMultiByte(codePage, flags, reinterpret_cast<const wchar_t*>(in), inLength, out,
                             outCapacity, nullptr, nullptr);
}

}  // namespace taviro
