// The part of a result page an engine pattern can match.
//
// The engine patterns are literal pieces joined by lazy groups "(.*?)". A
// backtracking engine that fails to match one of them from a start position
// scans to the end of the line once for every way the pieces could still
// fit, and it does so again from every later start: on a long line full of
// share-link prefixes and none of the closing markup that is quadratic or
// cubic in the line's length. The system's regular-expression class offers
// no bound on that work, so the worker hands it only the text its matches
// can lie in.
//
// For such a pattern the matches are found here the way the class finds
// them (same start, same lazy choices, "." any character but a line feed,
// letters compared without case), only in one pass: once a start cannot be
// completed, no later start on that line can be either, since every later
// piece would have to be found even further on. Each line is cut after the
// end of its last match; the rest of the line holds no match, so the class
// finds exactly the matches, groups and texts it finds in the whole page,
// and every start it tries succeeds.
//
// Characters are counted as code page 936 text: a lead byte (81-FE) with the
// byte after it is one character, whatever that byte is, as the converters
// read it; a line ends at a line-feed character.
#pragma once

#include "text/text.h"

namespace taviro {

// page with each line cut after its last match of pattern (quote marks
// already in place of their markers, letters compared without case). A
// pattern outside the pieces-and-lazy-groups form (other groups,
// alternatives, classes, anchors, other quantifiers, escapes of letters or
// digits, bytes above 0x7F) leaves the page as it is.
Text MatchableText(const Text& pattern, const Text& page);

}  // namespace taviro
