// Percent-encoding of a search keyword for an engine's query address.
#pragma once

#include "text/text.h"

namespace taviro {

// Every byte of text (code page 936) becomes "%" and two upper-case hex
// digits. keepUnreserved writes "-", ".", digits and ASCII letters as they
// are; utf8First converts the text to UTF-8 before encoding. The engines use
// neither: they send the keyword's GBK bytes.
Text UrlEncode(const Text& text, bool keepUnreserved = false, bool utf8First = false);

}  // namespace taviro
