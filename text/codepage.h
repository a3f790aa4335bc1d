// Code-page conversion seam: the two Windows converters with their own
// calling rules (output capacity 0 measures; 0 answers failure).
//   codepage_win32.cpp  MultiByteToWideChar / WideCharToMultiByte
//   codepage_posix.cpp  a stand-in over iconv that renders invalid input the
//                       way the Windows converters do
#pragma once

#include <cstdint>

namespace taviro {

constexpr uint32_t kCodePageAnsi = 0;  // CP_ACP: 936 on the systems we target
constexpr uint32_t kCodePageGbk = 936;
constexpr uint32_t kCodePageUtf8 = 65001;
constexpr uint32_t kWcCompositeCheck = 0x200;  // WC_COMPOSITECHECK

// Converts inLength bytes of codePage text into UTF-16 units. With
// outCapacity 0 answers the number of units needed and writes nothing;
// otherwise answers the units written. 0 on failure or empty input.
int32_t CodePageToUtf16(uint32_t codePage, uint32_t flags, const char* in, int32_t inLength,
                        char16_t* out, int32_t outCapacity);

// Converts inLength UTF-16 units into codePage bytes, with the same rules.
// Unmappable characters become '?'.
int32_t Utf16ToCodePage(uint32_t codePage, uint32_t flags, const char16_t* in,
                        int32_t inLength, char* out, int32_t outCapacity);

}  // namespace taviro
