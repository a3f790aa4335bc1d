// The platform-neutral half of RegexObject: the quote marker, the conversion
// of texts to and from the engine's UTF-16, and the byte positions.
#include "text/regex.h"

#include "text/codepage.h"

namespace taviro {
namespace {

const Text kQuoteMarker = "#引号";

// No character of code page 936 makes more units than bytes, so one pass
// into room for as many units as bytes does without a measuring pass.
std::u16string ToWide(const Text& text) {
  std::u16string wide;
  if (text.empty()) return wide;
  wide.resize(text.size());
  const int32_t n =
      CodePageToUtf16(kCodePageAnsi, 0, text.data(), text.size(), wide.data(), text.size());
  wide.resize(n > 0 ? n : 0);
  return wide;
}

Text FromWide(const std::u16string& wide) {
  if (wide.empty()) return Text();
  const auto length = static_cast<int32_t>(wide.size());
  int32_t n = Utf16ToCodePage(kCodePageAnsi, 0, wide.data(), length, nullptr, 0);
  if (n <= 0) return Text();
  std::string bytes(n, '\0');
  n = Utf16ToCodePage(kCodePageAnsi, 0, wide.data(), length, bytes.data(), n);
  return Text(bytes.data(), n > 0 ? n : 0);
}

// Byte offset of the character that the engine counts as UTF-16 unit index
// units. Every character of code page 936 (a byte below 0x81, 0xFF, or a lead
// byte with whatever follows it) decodes to exactly one unit, a lead byte
// that ends the text included.
int32_t ByteOffsetOfUnit(const Text& text, int32_t units) {
  int32_t offset = 0;
  for (int32_t unit = 0; unit < units && offset < text.size(); ++unit) {
    const unsigned char b = text[offset];
    offset += (b >= 0x81 && b <= 0xFE && offset + 1 < text.size()) ? 2 : 1;
  }
  return offset;
}

}  // namespace

RegexObject::RegexObject() : engine_(OpenRegexEngine()) {}

Text QuotedPattern(const Text& pattern) { return ReplaceText(pattern, kQuoteMarker, "\"", true); }

// The engine releases its references before it uninitialises COM.
RegexObject::~RegexObject() = default;

bool RegexObject::Create(const Text& pattern, const Text& text, bool caseSensitive, bool multiline,
                         bool global, bool quoteMarks) {
  const Text patternText = quoteMarks ? QuotedPattern(pattern) : pattern;
  const bool ran = engine_->Run(ToWide(patternText), ToWide(text), !caseSensitive, multiline, global);
  lastText_ = text;
  return ran;
}

Text RegexObject::PatternText() const {
  std::u16string pattern;
  return engine_->Pattern(pattern) ? FromWide(pattern) : Text();
}

Text RegexObject::ReplaceMatches(const Text& replacement) const {
  std::u16string result;
  return engine_->Replace(ToWide(lastText_), ToWide(replacement), result) ? FromWide(result)
                                                                          : Text();
}

int32_t RegexObject::MatchCount() const { return engine_->MatchCount(); }

Text RegexObject::MatchText(int32_t index, int32_t& position, bool wantPosition) const {
  std::u16string value;
  int32_t firstIndex = 0;
  if (!engine_->Match(index - 1, value, wantPosition ? &firstIndex : nullptr)) {
    if (wantPosition) position = -2;
    return Text();
  }
  Text text = FromWide(value);
  if (wantPosition) position = PositionOf(text, firstIndex);
  return text;
}

Text RegexObject::MatchText(int32_t index) const {
  int32_t unused = 0;
  return MatchText(index, unused, false);
}

Text RegexObject::SubmatchText(int32_t index, int32_t group, int32_t& position,
                               bool wantPosition) const {
  std::u16string value;
  int32_t firstIndex = 0;
  if (!engine_->Submatch(index - 1, group - 1, value, wantPosition ? &firstIndex : nullptr)) {
    if (wantPosition) position = -2;
    return Text();
  }
  Text text = FromWide(value);
  if (wantPosition) position = PositionOf(text, firstIndex);
  return text;
}

Text RegexObject::SubmatchText(int32_t index, int32_t group) const {
  int32_t unused = 0;
  return SubmatchText(index, group, unused, false);
}

int32_t RegexObject::SubmatchCount() const { return engine_->SubmatchCount(); }

// The search starts at the exact byte where the match begins. Starting at
// byte FirstIndex (a unit count used as a 1-based byte position) would start
// one byte early in ASCII text, where an earlier occurrence can be found, and
// in the middle of a double-byte character after Chinese text, where the
// character walk of FindText would then step out of line.
int32_t RegexObject::PositionOf(const Text& value, int32_t firstIndex) const {
  const int32_t start = ByteOffsetOfUnit(lastText_, firstIndex);
  if (value.empty()) return start;
  const int32_t found = FindText(lastText_, value, start + 1, engine_->IgnoreCase());
  return found == -1 ? -2 : found - 1;
}

}  // namespace taviro
