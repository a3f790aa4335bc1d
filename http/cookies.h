// Cookie merge: the caller of VisitUrl keeps a site's cookies in one text
// that each response's cookies are merged into.
//
// A cookie text is "name=value" pairs joined by ";" (spaces allowed); the
// merged text is joined by "; " exactly. A pair whose last 8 characters are
// "=deleted" is dropped, and with it every earlier pair of that name.
#pragma once

#include "text/text.h"

namespace taviro {

// Rewrites both variables: spaces are removed from them, then `cookies`
// becomes the pairs of `returned` followed by those earlier pairs of
// `cookies` whose names `returned` did not set (first of a name wins),
// without deleted pairs and exact repeats. Answers a copy of `cookies`.
Text MergeCookies(Text& cookies, Text& returned);

// True when some pair of the list has exactly that name (letter case counts).
bool HasCookieNamed(const TextArray& pairs, const Text& name);

// The pieces of text split at separator, each kept once in first-seen order,
// joined by separator again.
Text RemoveDuplicateItems(const Text& text, const Text& separator);

// True when some element equals text byte for byte.
bool ContainsItem(const TextArray& list, const Text& text);

}  // namespace taviro
