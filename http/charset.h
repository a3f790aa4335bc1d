// Re-encoding of UTF-8 response bodies into the system's code page 936,
// through UTF-16 with the platform's converters (text/codepage.h).
//
// Invalid UTF-8 and characters code page 936 lacks come out as the platform
// converters render them (replacement and default characters); conversion
// never stops at them. NUL bytes are converted like any other character.
#pragma once

#include "text/text.h"

namespace taviro {

// UTF-16 code units, two bytes each, low byte first, no terminating unit.
Bytes Utf8ToUtf16(const Bytes& utf8);

// Code page 936 bytes, no terminating NUL.
Bytes Utf8ToGbk(const Bytes& utf8);

}  // namespace taviro
