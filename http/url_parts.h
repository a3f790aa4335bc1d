// Pieces of request addresses, header lines and cookie pairs.
//
// An address is taken as: optional "http://" or "https://" (any letter case),
// host, optional ":" and port, optional path and query. Nothing else of URL
// syntax is interpreted. Every operation is pure and never fails: a part that
// cannot be found comes back empty or as the stated default.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace taviro {

// The text between the first `left` at or after `start` and the next `right`
// after it; empty when either marker is missing. "#引号" in a marker stands
// for a double quote. Letter case is ignored unless caseSensitive.
Text TextBetween(const Text& text, const Text& left, const Text& right, int32_t start = 1,
                 bool caseSensitive = false);

// The trimmed text after the first ":" of a header line; empty without ":".
Text HeaderValue(const Text& line);

// The host in lower case. lastTwoLabels keeps only the last two dot-separated
// labels; keepPort keeps ":port".
Text UrlHost(const Text& address, bool lastTwoLabels = false, bool keepPort = false);

// The port after the host's last ":", or 443 / 80 by the address's scheme.
int32_t UrlPort(const Text& address);

// Path and query in the address's own letter case, beginning with "/".
Text UrlPath(const Text& address);

// The trimmed name of a "name=value" pair (the whole trimmed pair without "=").
Text CookieName(const Text& pair);

}  // namespace taviro
