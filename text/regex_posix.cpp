// RegexEngine over PCRE2's 16-bit library, for hosts without the scripting
// class. Subjects are UTF-16 in non-UTF mode, so every offset is a UTF-16 unit
// as in the class's FirstIndex. Patterns are first rewritten from the class's
// dialect (as Windows documents it) into PCRE2 syntax that leaves nothing to
// PCRE2's own defaults:
//   "."              any unit but LF (CR included)
//   "^" / "$"        start / very end of the text; with Multiline also after /
//                    before a CR or LF
//   "\uXXXX" "\xXX"  code units; an incomplete one is the letter itself
//   "\n" digits      a back-reference when that many groups were opened
//                    before it, otherwise an octal escape; an unset group
//                    matches empty
//   "(?=" "(?!" "(?:" the only group modifiers; lookbehind, named groups,
//                    inline options and PCRE2's verbs are rejected
//   "[]" / "[^]"     nothing / any unit
// Global searches go on after an empty match one unit further on.
// Known difference: IgnoreCase folds the ASCII letters only (PCRE2 without
// UCP), where the class also folds letters such as Cyrillic or full-width.
#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "text/regex.h"

namespace taviro {
namespace {

// Backtracking per start position is bounded so that a hostile page (a long
// line of pattern prefixes without the closing markup) ends in a bounded time
// instead of scanning to the end of the line from every prefix; a search that
// hits the bound keeps the matches found before it and stops there.
constexpr uint32_t kMatchLimit = 1'000'000;
constexpr uint32_t kDepthLimit = 100'000;

// --- Translation --------------------------------------------------------------

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool IsOctal(char16_t c) { return c >= u'0' && c <= u'7'; }
int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}
bool IsAsciiAlnum(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

class Translator {
 public:
  Translator(const std::u16string& pattern, bool multiline)
      : in_(pattern), multiline_(multiline) {}

  bool Translate(std::u16string& out);

 private:
  // One element of a character class.
  struct ClassAtom {
    enum Kind { kChar, kDash, kEscape } kind;
    char16_t unit;
    char16_t escape;  // d D w W s S
  };

  bool AtEnd() const { return pos_ >= in_.size(); }
  char16_t Peek(size_t ahead = 0) const {
    return pos_ + ahead < in_.size() ? in_[pos_ + ahead] : char16_t(0);
  }
  bool Has(size_t ahead) const { return pos_ + ahead < in_.size(); }

  void EmitLiteral(char16_t c);
  void EmitRaw(const char16_t* s) { out_ += s; }
  bool ReadHex(size_t digits, char16_t& value);
  char16_t ReadOctal();
  bool TranslateEscape();
  bool TranslateClass();
  bool ReadClassAtom(ClassAtom& atom);
  bool TranslateBraceQuantifier();
  bool AfterQuantifier();

  const std::u16string& in_;
  bool multiline_;
  size_t pos_ = 0;
  std::u16string out_;
  int groupsOpened_ = 0;
  int depth_ = 0;
  bool canQuantify_ = false;
};

void Translator::EmitLiteral(char16_t c) {
  if (IsAsciiAlnum(c)) {
    out_ += c;
    return;
  }
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\x{%x}", static_cast<unsigned>(c));
  for (const char* p = buffer; *p; ++p) out_ += static_cast<char16_t>(*p);
}

bool Translator::ReadHex(size_t digits, char16_t& value) {
  unsigned v = 0;
  for (size_t i = 0; i < digits; ++i) {
    int h = Has(i) ? HexValue(Peek(i)) : -1;
    if (h < 0) return false;
    v = v * 16 + h;
  }
  pos_ += digits;
  value = static_cast<char16_t>(v);
  return true;
}

// An octal escape: up to three digits when the first is 0-3, else up to two.
char16_t Translator::ReadOctal() {
  const size_t most = Peek() <= u'3' ? 3 : 2;
  unsigned v = 0;
  for (size_t i = 0; i < most && !AtEnd() && IsOctal(Peek()); ++i, ++pos_) v = v * 8 + (Peek() - u'0');
  return static_cast<char16_t>(v);
}

bool Translator::TranslateEscape() {
  if (AtEnd()) return false;  // a pattern ending in a backslash
  const char16_t c = in_[pos_++];
  canQuantify_ = true;
  switch (c) {
    case u'd': case u'D': case u'w': case u'W': case u's': case u'S':
      // Without UCP PCRE2 reads these in ASCII, as the class does: \s is
      // space, tab, LF, VT, FF and CR.
      out_ += u'\\';
      out_ += c;
      return true;
    case u'b': case u'B':
      out_ += u'\\';
      out_ += c;
      canQuantify_ = false;
      return true;
    case u'f': EmitLiteral(u'\f'); return true;
    case u'n': EmitLiteral(u'\n'); return true;
    case u'r': EmitLiteral(u'\r'); return true;
    case u't': EmitLiteral(u'\t'); return true;
    case u'v': EmitLiteral(u'\v'); return true;
    case u'c': {
      const char16_t letter = Peek();
      if ((letter >= u'a' && letter <= u'z') || (letter >= u'A' && letter <= u'Z')) {
        ++pos_;
        EmitLiteral(letter % 32);
      } else {
        EmitLiteral(u'\\');  // not a control escape: the backslash stands for itself
        --pos_;
      }
      return true;
    }
    case u'x': case u'u': {
      char16_t value;
      EmitLiteral(ReadHex(c == u'x' ? 2 : 4, value) ? value : c);
      return true;
    }
    default:
      break;
  }
  if (!IsDigit(c)) {
    EmitLiteral(c);  // any other escaped character is itself
    return true;
  }
  --pos_;
  const int one = c - u'0';
  const int two = Has(1) && IsDigit(Peek(1)) ? one * 10 + (Peek(1) - u'0') : -1;
  int reference = 0;
  if (c != u'0' && two > 0 && two <= groupsOpened_) {
    reference = two;
    pos_ += 2;
  } else if (c != u'0' && one <= groupsOpened_) {
    reference = one;
    pos_ += 1;
  }
  if (reference > 0) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\g{%d}", reference);
    for (const char* p = buffer; *p; ++p) out_ += static_cast<char16_t>(*p);
  } else if (IsOctal(c)) {
    EmitLiteral(ReadOctal());
  } else {
    ++pos_;
    EmitLiteral(c);  // \8 and \9 without such a group
  }
  return true;
}

bool Translator::ReadClassAtom(ClassAtom& atom) {
  const char16_t c = in_[pos_++];
  if (c == u'-') {
    atom = {ClassAtom::kDash, u'-', 0};
    return true;
  }
  if (c != u'\\') {
    atom = {ClassAtom::kChar, c, 0};
    return true;
  }
  if (AtEnd()) return false;
  const char16_t e = in_[pos_++];
  atom = {ClassAtom::kChar, e, 0};
  switch (e) {
    case u'd': case u'D': case u'w': case u'W': case u's': case u'S':
      atom = {ClassAtom::kEscape, 0, e};
      return true;
    case u'b': atom.unit = u'\b'; return true;
    case u'f': atom.unit = u'\f'; return true;
    case u'n': atom.unit = u'\n'; return true;
    case u'r': atom.unit = u'\r'; return true;
    case u't': atom.unit = u'\t'; return true;
    case u'v': atom.unit = u'\v'; return true;
    case u'c': {
      const char16_t letter = Peek();
      if ((letter >= u'a' && letter <= u'z') || (letter >= u'A' && letter <= u'Z')) {
        ++pos_;
        atom.unit = letter % 32;
      } else {
        atom.unit = u'\\';
        --pos_;
      }
      return true;
    }
    case u'x': case u'u': {
      char16_t value;
      if (ReadHex(e == u'x' ? 2 : 4, value)) atom.unit = value;
      return true;
    }
    default:
      if (IsOctal(e)) {
        --pos_;
        atom.unit = ReadOctal();
      }
      return true;
  }
}

bool Translator::TranslateClass() {
  bool negated = false;
  if (Peek() == u'^' && Has(0)) {
    negated = true;
    ++pos_;
  }
  std::vector<ClassAtom> atoms;
  for (;;) {
    if (AtEnd()) return false;  // no closing bracket
    if (Peek() == u']') {
      ++pos_;
      break;
    }
    ClassAtom atom;
    if (!ReadClassAtom(atom)) return false;
    atoms.push_back(atom);
  }
  canQuantify_ = true;
  if (atoms.empty()) {
    EmitRaw(negated ? u"[\\x{0}-\\x{ffff}]" : u"(?!)");
    return true;
  }
  out_ += u'[';
  if (negated) out_ += u'^';
  auto isChar = [](const ClassAtom& a) { return a.kind != ClassAtom::kEscape; };
  for (size_t i = 0; i < atoms.size(); ++i) {
    const ClassAtom& a = atoms[i];
    if (i + 2 < atoms.size() && isChar(a) && atoms[i + 1].kind == ClassAtom::kDash &&
        isChar(atoms[i + 2])) {
      if (a.unit > atoms[i + 2].unit) return false;  // a range out of order
      EmitLiteral(a.unit);
      out_ += u'-';
      EmitLiteral(atoms[i + 2].unit);
      i += 2;
    } else if (a.kind == ClassAtom::kEscape) {
      out_ += u'\\';
      out_ += a.escape;
    } else {
      EmitLiteral(a.unit);  // a dash next to a class escape is a plain dash
    }
  }
  out_ += u']';
  return true;
}

// A lazy "?" may follow any quantifier; nothing else may.
bool Translator::AfterQuantifier() {
  if (Peek() == u'?' && Has(0)) {
    ++pos_;
    out_ += u'?';
  }
  canQuantify_ = false;
  return true;
}

// "{n}", "{n,}" or "{n,m}" is a quantifier; any other brace is a literal.
bool Translator::TranslateBraceQuantifier() {
  size_t p = pos_;  // just after "{"
  auto readNumber = [&](unsigned long& value) {
    size_t start = p;
    value = 0;
    while (p < in_.size() && IsDigit(in_[p])) {
      if (value < 100000) value = value * 10 + (in_[p] - u'0');
      ++p;
    }
    return p > start;
  };
  unsigned long low = 0, high = 0;
  bool bounded = true;
  bool valid = readNumber(low);
  if (valid && p < in_.size() && in_[p] == u',') {
    ++p;
    bounded = readNumber(high);
  } else {
    high = low;
  }
  valid = valid && p < in_.size() && in_[p] == u'}';
  if (!valid) {
    EmitLiteral(u'{');
    canQuantify_ = true;
    return true;
  }
  if (!canQuantify_) return false;
  if ((bounded && high < low) || low > 65535 || (bounded && high > 65535)) return false;
  out_.append(in_, pos_ - 1, p + 1 - (pos_ - 1));
  pos_ = p + 1;
  return AfterQuantifier();
}

bool Translator::Translate(std::u16string& out) {
  while (!AtEnd()) {
    const char16_t c = in_[pos_++];
    switch (c) {
      case u'\\':
        if (!TranslateEscape()) return false;
        break;
      case u'.':
        EmitRaw(u"[^\\n]");
        canQuantify_ = true;
        break;
      case u'^':
        EmitRaw(multiline_ ? u"(?<![^\\n\\r])" : u"\\A");
        canQuantify_ = false;
        break;
      case u'$':
        EmitRaw(multiline_ ? u"(?=[\\n\\r]|\\z)" : u"\\z");
        canQuantify_ = false;
        break;
      case u'(':
        if (Peek() == u'?') {
          const char16_t kind = Peek(1);
          if (kind != u':' && kind != u'=' && kind != u'!') return false;
          out_ += u"(?";
          out_ += kind;
          pos_ += 2;
        } else {
          out_ += u'(';
          ++groupsOpened_;
        }
        ++depth_;
        canQuantify_ = false;
        break;
      case u')':
        if (depth_ == 0) return false;
        --depth_;
        out_ += u')';
        canQuantify_ = true;
        break;
      case u'|':
        out_ += u'|';
        canQuantify_ = false;
        break;
      case u'*': case u'+': case u'?':
        if (!canQuantify_) return false;  // nothing to repeat, or a quantifier repeated
        out_ += c;
        AfterQuantifier();
        break;
      case u'{':
        if (!TranslateBraceQuantifier()) return false;
        break;
      case u'[':
        if (!TranslateClass()) return false;
        break;
      default:
        EmitLiteral(c);
        canQuantify_ = true;
        break;
    }
  }
  if (depth_ != 0) return false;
  out = std::move(out_);
  return true;
}

// --- Matching -------------------------------------------------------------------

struct CodeDeleter {
  void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct MatchContextDeleter {
  void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
using Code = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchData = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;
using MatchContext = std::unique_ptr<pcre2_match_context, MatchContextDeleter>;

// Runs code over subject the way the class's Execute and Replace do: the
// first match, or with global every match, the search after an empty match
// going on one unit later. For each match calls found(ovector).
template <class Found>
void ForEachMatch(const pcre2_code* code, const std::u16string& subject, bool global,
                  Found&& found) {
  MatchData data(pcre2_match_data_create_from_pattern(code, nullptr));
  MatchContext context(pcre2_match_context_create(nullptr));
  if (!data || !context) return;
  pcre2_set_match_limit(context.get(), kMatchLimit);
  pcre2_set_depth_limit(context.get(), kDepthLimit);
  const auto* units = reinterpret_cast<PCRE2_SPTR>(subject.data());
  const PCRE2_SIZE length = subject.size();
  PCRE2_SIZE start = 0;
  while (start <= length) {
    const int rc = pcre2_match(code, units, length, start, 0, data.get(), context.get());
    if (rc < 0) break;  // no further match, or a limit reached
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    found(ovector);
    if (!global) break;
    start = ovector[1] > ovector[0] ? ovector[1] : ovector[0] + 1;
  }
}

class PcreEngine final : public RegexEngine {
 public:
  bool Run(const std::u16string& pattern, std::u16string text, bool ignoreCase, bool multiline,
           bool global) override;
  bool Pattern(std::u16string& pattern) const override;
  bool IgnoreCase() const override { return hasInstance_ && ignoreCase_; }
  bool Replace(const std::u16string& text, const std::u16string& replacement,
               std::u16string& result) const override;
  int32_t MatchCount() const override { return static_cast<int32_t>(matchCount_); }
  bool Match(int32_t index, std::u16string& value, int32_t* firstIndex) const override;
  bool Submatch(int32_t index, int32_t group, std::u16string& value,
                int32_t* firstIndex) const override;
  int32_t SubmatchCount() const override { return matchCount_ > 0 ? groupCount_ : 0; }

 private:
  bool Compile();
  const PCRE2_SIZE* Offsets(int32_t index) const {
    return &offsets_[static_cast<size_t>(index) * 2 * (groupCount_ + 1)];
  }

  // The "instance": its settings and its compiled pattern, null when rejected.
  bool hasInstance_ = false;
  std::u16string pattern_;
  bool ignoreCase_ = false, multiline_ = false, global_ = false;
  Code code_;
  int32_t groupCount_ = 0;
  // The last compilation, kept so that running the same pattern over page
  // after page compiles it once.
  std::u16string compiledPattern_;
  bool compiledIgnoreCase_ = false, compiledMultiline_ = false;
  // The match collection: a copy of the subject and, per match, the start and
  // end of the match and of each group.
  bool hasMatches_ = false;
  std::u16string subject_;
  std::vector<PCRE2_SIZE> offsets_;
  size_t matchCount_ = 0;
};

bool PcreEngine::Compile() {
  if (code_ && compiledPattern_ == pattern_ && compiledIgnoreCase_ == ignoreCase_ &&
      compiledMultiline_ == multiline_)
    return true;
  code_.reset();
  groupCount_ = 0;
  std::u16string translated;
  if (!Translator(pattern_, multiline_).Translate(translated)) return false;
  uint32_t options = PCRE2_MATCH_UNSET_BACKREF | PCRE2_NEVER_UTF | PCRE2_NEVER_UCP |
                     PCRE2_NEVER_BACKSLASH_C;
  if (ignoreCase_) options |= PCRE2_CASELESS;
  int error = 0;
  PCRE2_SIZE errorOffset = 0;
  code_.reset(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                            options, &error, &errorOffset, nullptr));
  if (!code_) return false;
  uint32_t captures = 0;
  pcre2_pattern_info(code_.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
  groupCount_ = static_cast<int32_t>(captures);
  compiledPattern_ = pattern_;
  compiledIgnoreCase_ = ignoreCase_;
  compiledMultiline_ = multiline_;
  return true;
}

bool PcreEngine::Run(const std::u16string& pattern, std::u16string text, bool ignoreCase,
                     bool multiline, bool global) {
  hasMatches_ = false;
  subject_.clear();
  offsets_.clear();
  matchCount_ = 0;
  hasInstance_ = true;
  pattern_ = pattern;
  ignoreCase_ = ignoreCase;
  multiline_ = multiline;
  global_ = global;
  if (!Compile()) return false;  // Execute fails: the class rejects the pattern
  subject_ = std::move(text);
  const size_t pairs = static_cast<size_t>(groupCount_) + 1;
  ForEachMatch(code_.get(), subject_, global_, [&](const PCRE2_SIZE* ovector) {
    offsets_.insert(offsets_.end(), ovector, ovector + 2 * pairs);
    ++matchCount_;
  });
  hasMatches_ = true;
  return true;
}

bool PcreEngine::Pattern(std::u16string& pattern) const {
  if (!hasInstance_) return false;
  pattern = pattern_;
  return true;
}

bool PcreEngine::Match(int32_t index, std::u16string& value, int32_t* firstIndex) const {
  if (!hasMatches_ || index < 0 || static_cast<size_t>(index) >= matchCount_) return false;
  const PCRE2_SIZE* o = Offsets(index);
  value.assign(subject_, o[0], o[1] - o[0]);
  if (firstIndex) *firstIndex = static_cast<int32_t>(o[0]);
  return true;
}

bool PcreEngine::Submatch(int32_t index, int32_t group, std::u16string& value,
                          int32_t* firstIndex) const {
  if (!hasMatches_ || index < 0 || static_cast<size_t>(index) >= matchCount_ || group < 0 ||
      group >= groupCount_)
    return false;
  const PCRE2_SIZE* o = Offsets(index);
  const PCRE2_SIZE start = o[2 * (group + 1)], end = o[2 * (group + 1) + 1];
  if (start == PCRE2_UNSET)
    value.clear();
  else
    value.assign(subject_, start, end - start);
  if (firstIndex) *firstIndex = static_cast<int32_t>(o[0]);
  return true;
}

// The class's replacement syntax: "$$", "$&", "$`", "$'", and "$n" or "$nn"
// for a group (the two-digit form when that group exists); anything else is
// literal.
void AppendReplacement(const std::u16string& replacement, const std::u16string& subject,
                       const PCRE2_SIZE* o, int32_t groupCount, std::u16string& out) {
  auto appendSpan = [&](PCRE2_SIZE start, PCRE2_SIZE end) {
    if (start != PCRE2_UNSET) out.append(subject, start, end - start);
  };
  for (size_t i = 0; i < replacement.size(); ++i) {
    const char16_t c = replacement[i];
    const char16_t next = i + 1 < replacement.size() ? replacement[i + 1] : 0;
    if (c != u'$' || next == 0) {
      out += c;
      continue;
    }
    if (next == u'$') {
      out += u'$';
      ++i;
    } else if (next == u'&') {
      appendSpan(o[0], o[1]);
      ++i;
    } else if (next == u'`') {
      appendSpan(0, o[0]);
      ++i;
    } else if (next == u'\'') {
      appendSpan(o[1], subject.size());
      ++i;
    } else if (IsDigit(next)) {
      const int one = next - u'0';
      const char16_t third = i + 2 < replacement.size() ? replacement[i + 2] : 0;
      const int two = IsDigit(third) ? one * 10 + (third - u'0') : -1;
      if (two >= 1 && two <= groupCount) {
        appendSpan(o[2 * two], o[2 * two + 1]);
        i += 2;
      } else if (one >= 1 && one <= groupCount) {
        appendSpan(o[2 * one], o[2 * one + 1]);
        ++i;
      } else {
        out += c;
      }
    } else {
      out += c;
    }
  }
}

bool PcreEngine::Replace(const std::u16string& text, const std::u16string& replacement,
                         std::u16string& result) const {
  if (!code_ || !hasInstance_) return false;
  result.clear();
  PCRE2_SIZE copied = 0;
  ForEachMatch(code_.get(), text, global_, [&](const PCRE2_SIZE* o) {
    result.append(text, copied, o[0] - copied);
    AppendReplacement(replacement, text, o, groupCount_, result);
    copied = o[1];
  });
  result.append(text, copied, std::u16string::npos);
  return true;
}

}  // namespace

std::unique_ptr<RegexEngine> OpenRegexEngine() { return std::make_unique<PcreEngine>(); }

}  // namespace taviro
