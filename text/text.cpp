#include "text/text.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "text/fatal.h"

namespace taviro {

namespace {

using Byte = unsigned char;

// std::string keeps one byte for the NUL.
constexpr std::size_t kMaxTextLength = kLargestBlock - 1;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

const Byte* Bytes8(const Text& t) { return reinterpret_cast<const Byte*>(t.data()); }
std::size_t Length(const Text& t) { return static_cast<std::size_t>(t.size()); }

[[noreturn]] void TextTooLong(std::size_t length) {
  FatalOutOfMemory(length >= kNone - 1 ? kNone : length + 1);
}

bool IsUpper(Byte c) { return static_cast<Byte>(c - 'A') < 26; }
bool IsLower(Byte c) { return static_cast<Byte>(c - 'a') < 26; }
// The one folding the system knows: A-Z equal a-z, in any byte position.
Byte Fold(Byte c) { return IsUpper(c) ? static_cast<Byte>(c + 0x20) : c; }

bool HasLetter(const Byte* s, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    if (IsUpper(s[i]) || IsLower(s[i])) return true;
  }
  return false;
}

bool AllHigh8(const Byte* s) {
  uint64_t w;
  std::memcpy(&w, s, 8);
  return (w & 0x8080808080808080ull) == 0x8080808080808080ull;
}

// Walks back from `end` over bytes >= 0x80, not below `floor`.
std::size_t HighRunStart(const Byte* s, std::size_t floor, std::size_t end) {
  std::size_t k = end;
  while (k - floor >= 8 && AllHigh8(s + k - 8)) k -= 8;
  while (k > floor && s[k - 1] >= 0x80) --k;
  return k;
}

const Byte* LastByteOf(const Byte* s, Byte b, std::size_t n) {
#ifdef __GLIBC__
  return static_cast<const Byte*>(memrchr(s, b, n));
#else
  while (n > 0) {
    if (s[--n] == b) return s + n;
  }
  return nullptr;
#endif
}

}  // namespace

// Builds a result in place, so no operation copies its output twice.
class TextBuilder {
 public:
  explicit TextBuilder(std::size_t capacity = 0) {
    if (capacity > kMaxTextLength) TextTooLong(capacity);
    s_.reserve(capacity);
  }
  void Append(const void* p, std::size_t n) {
    if (n > kMaxTextLength - s_.size()) TextTooLong(s_.size() + n);
    s_.append(static_cast<const char*>(p), n);
  }
  void Append(const Text& t) { Append(t.data(), Length(t)); }
  char* Data() { return &s_[0]; }
  Text Finish() {
    Text t;
    t.s_ = std::move(s_);
    return t;
  }
  // A copy of n bytes known to hold no NUL.
  static Text Copy(const void* p, std::size_t n) {
    TextBuilder b(n);
    b.Append(p, n);
    return b.Finish();
  }
  static Text Spaces(std::size_t n) {
    if (n > kMaxTextLength) TextTooLong(n);
    Text t;
    t.s_.assign(n, ' ');
    return t;
  }

 private:
  Text::Storage s_;
};

namespace {

// Rough frequency of a byte on a GBK result page; lower is rarer. The search
// below waits for its sought text's rarest byte with memchr.
int ByteRank(Byte c) {
  if (c == ' ') return 255;
  if (IsLower(c)) return std::strchr("etaoinsrhl", c) != nullptr ? 240 : 200;
  if (std::strchr("<>\"=/'", c) != nullptr && c != 0) return 220;
  if (c >= '0' && c <= '9') return 160;
  if (c == '\r' || c == '\n' || c == '\t') return 150;
  if (std::strchr(".:-_;&,", c) != nullptr && c != 0) return 140;
  if (c >= 0x80) return 120;
  if (IsUpper(c)) return 60;
  return 80;
}

// Byte-aligned occurrences of a sought text (S >= 1) in a haystack, in
// increasing order of position; reversed, the haystack and the sought text
// are read from their ends, so "position" counts from the end of the
// haystack (the occurrence starting at byte p has logical position L-S-p).
//
// Candidates come from memchr on the sought text's rarest byte and are
// compared in full. Should that comparing outgrow the ground covered (a
// repetitive haystack), the search changes to Knuth-Morris-Pratt for the
// rest, so the whole enumeration stays linear in L + S.
template <bool kFold, bool kReverse>
class Occurrences {
 public:
  Occurrences(const Byte* hay, std::size_t hayLength, const Byte* sought, std::size_t soughtLength)
      : hay_(hay), length_(hayLength), sought_(sought), soughtLength_(soughtLength) {
    if (soughtLength_ == 0 || soughtLength_ > length_) {
      last_ = kNone;
      return;
    }
    last_ = length_ - soughtLength_;
    if (kFold) {
      folded_.resize(soughtLength_);
      for (std::size_t i = 0; i < soughtLength_; ++i)
        folded_[i] = static_cast<char>(Fold(sought[i]));
      sought_ = reinterpret_cast<const Byte*>(folded_.data());
    }
    int best = 1 << 30;
    for (std::size_t j = 0; j < soughtLength_; ++j) {
      const Byte c = Pattern(j);
      const int rank = ByteRank(c) + (kFold && IsLower(c) ? 10 : 0);
      if (rank < best) {
        best = rank;
        rare_ = j;
      }
    }
    rareByte_[0] = Pattern(rare_);
    variants_ = kFold && IsLower(rareByte_[0]) ? 2 : 1;
    rareByte_[1] = static_cast<Byte>(rareByte_[0] - 0x20);
  }

  // The first occurrence at logical position >= from, or kNone. Successive
  // calls ask for increasing positions, each past the last answer.
  std::size_t Next(std::size_t from) {
    if (last_ == kNone) return kNone;
    if (!kmp_.empty()) return NextKmp(from);
    if (origin_ == kNone) origin_ = from;
    while (from <= last_) {
      std::size_t j = Rare(0, from + rare_);
      if (variants_ == 2) j = std::min(j, Rare(1, from + rare_));
      if (j == kNone) return kNone;
      const std::size_t i = j - rare_;
      // Checked before comparing: occurrences the caller turns down (inside
      // a character) cost as much as failed comparisons.
      if (work_ > 4 * (i - origin_) + 16 * soughtLength_ + 64) {
        StartKmp(i);
        return NextKmp(i);
      }
      work_ += 2;
      if (Logical(i) == Pattern(0) &&
          Logical(i + soughtLength_ - 1) == Pattern(soughtLength_ - 1)) {
        work_ += soughtLength_;
        if (Matches(i)) return i;
      }
      from = i + 1;
    }
    return kNone;
  }

 private:
  std::size_t Physical(std::size_t logical) const {
    return kReverse ? length_ - 1 - logical : logical;
  }
  Byte Logical(std::size_t i) const {
    const Byte c = hay_[Physical(i)];
    return kFold ? Fold(c) : c;
  }
  Byte Pattern(std::size_t j) const { return sought_[kReverse ? soughtLength_ - 1 - j : j]; }

  bool Matches(std::size_t i) const {
    const Byte* at = hay_ + (kReverse ? length_ - soughtLength_ - i : i);
    if (!kFold) return std::memcmp(at, sought_, soughtLength_) == 0;
    for (std::size_t k = 0; k < soughtLength_; ++k) {
      if (Fold(at[k]) != sought_[k]) return false;
    }
    return true;
  }

  // First logical j >= from (up to last_ + rare_) holding variant v of the
  // rare byte. Each variant remembers its last answer, so two variants do
  // not rescan each other's ground.
  std::size_t Rare(int v, std::size_t from) {
    Cache& c = cache_[v];
    if (c.valid && from >= c.from && (c.at == kNone || from <= c.at)) return c.at;
    const std::size_t top = last_ + rare_;
    std::size_t at = kNone;
    if (from <= top) {
      const std::size_t n = top - from + 1;
      if (kReverse) {
        const Byte* p = LastByteOf(hay_ + Physical(top), rareByte_[v], n);
        if (p != nullptr) at = length_ - 1 - static_cast<std::size_t>(p - hay_);
      } else {
        const void* p = std::memchr(hay_ + from, rareByte_[v], n);
        if (p != nullptr) at = static_cast<std::size_t>(static_cast<const Byte*>(p) - hay_);
      }
    }
    c = Cache{true, from, at};
    return at;
  }

  void StartKmp(std::size_t at) {
    const std::size_t s = soughtLength_;
    kmp_.resize(s + 1);
    kmp_[0] = 0;
    kmp_[1] = 0;
    for (std::size_t q = 1; q < s; ++q) {
      uint32_t k = kmp_[q];
      while (k > 0 && Pattern(k) != Pattern(q)) k = kmp_[k];
      if (Pattern(k) == Pattern(q)) ++k;
      kmp_[q + 1] = k;
    }
    pos_ = at;
    matched_ = 0;
  }

  std::size_t NextKmp(std::size_t from) {
    if (from >= pos_) {
      pos_ = from;
      matched_ = 0;
    }
    // Drop partial matches that begin before `from`.
    while (matched_ > 0 && pos_ - matched_ < from) matched_ = kmp_[matched_];
    if (matched_ == soughtLength_) return pos_ - matched_;
    while (pos_ < length_) {
      const Byte c = Logical(pos_++);
      while (matched_ > 0 && Pattern(matched_) != c) matched_ = kmp_[matched_];
      if (Pattern(matched_) == c) ++matched_;
      if (matched_ == soughtLength_) return pos_ - soughtLength_;
    }
    return kNone;
  }

  struct Cache {
    bool valid = false;
    std::size_t from = 0;
    std::size_t at = kNone;
  };

  const Byte* hay_;
  std::size_t length_;
  const Byte* sought_;
  std::size_t soughtLength_;
  std::size_t last_ = kNone;  // largest logical position an occurrence can take
  std::size_t rare_ = 0;
  Byte rareByte_[2] = {0, 0};
  int variants_ = 1;
  Cache cache_[2];
  std::size_t origin_ = kNone;
  std::size_t work_ = 0;
  std::basic_string<char, std::char_traits<char>, FatalAllocator<char>> folded_;
  std::vector<uint32_t, FatalAllocator<uint32_t>> kmp_;  // failure links
  std::size_t pos_ = 0;
  std::size_t matched_ = 0;
};

// Character starts of a walk that begins at a known start, asked about in
// increasing order. A byte after a byte below 0x80 always starts a character
// (the byte before was a character or a second byte), so only the run of lead
// and second bytes just before a candidate has to be counted; each byte is
// looked at once over all questions.
class ForwardStarts {
 public:
  ForwardStarts(const Byte* s, std::size_t start) : s_(s), known_(start) {}

  // c >= Known().
  bool IsStart(std::size_t c) {
    const std::size_t runStart = HighRunStart(s_, known_, c);
    const bool start = ((c - runStart) & 1) == 0;
    known_ = start ? c : c + 1;
    return start;
  }
  // The walk jumps here (past a match) and carries on as if from a start.
  void Restart(std::size_t at) { known_ = at; }
  std::size_t Known() const { return known_; }

 private:
  const Byte* s_;
  std::size_t known_;
};

// Character starts of the walk from byte 0, asked about in decreasing order.
class BackwardStarts {
 public:
  explicit BackwardStarts(const Byte* s) : s_(s) {}

  bool IsStart(std::size_t c) {
    // [runStart_, c) is all lead and second bytes when c is not below the
    // run found for an earlier (larger) candidate.
    if (runStart_ == kNone || c < runStart_) runStart_ = HighRunStart(s_, 0, c);
    return ((c - runStart_) & 1) == 0;
  }

 private:
  const Byte* s_;
  std::size_t runStart_ = kNone;
};

template <bool kFold>
int32_t FindForward(const Byte* s, std::size_t length, const Byte* sought, std::size_t soughtLength,
                    std::size_t start) {
  Occurrences<kFold, false> occurrences(s, length, sought, soughtLength);
  ForwardStarts starts(s, start);
  for (std::size_t from = start;;) {
    const std::size_t c = occurrences.Next(from);
    if (c == kNone) return -1;
    if (starts.IsStart(c)) return static_cast<int32_t>(c + 1);
    from = c + 1;
  }
}

template <bool kFold>
int32_t FindBackward(const Byte* s, std::size_t length, const Byte* sought,
                     std::size_t soughtLength) {
  Occurrences<kFold, true> occurrences(s, length, sought, soughtLength);
  BackwardStarts starts(s);
  for (std::size_t from = 0;;) {
    const std::size_t i = occurrences.Next(from);
    if (i == kNone) return -1;
    const std::size_t c = length - soughtLength - i;
    if (starts.IsStart(c)) return static_cast<int32_t>(c + 1);
    from = i + 1;
  }
}

template <bool kFold>
Text ReplaceWalk(const Text& text, const Text& sought, const Text& replacement, std::size_t start,
                 int32_t count) {
  const Byte* s = Bytes8(text);
  const std::size_t length = Length(text);
  const std::size_t soughtLength = Length(sought);
  Occurrences<kFold, false> occurrences(s, length, Bytes8(sought), soughtLength);
  ForwardStarts starts(s, start);
  TextBuilder out(length);
  out.Append(s, start);
  std::size_t p = start;
  bool countReached = false;
  for (std::size_t from = start;;) {
    const std::size_t c = occurrences.Next(from);
    if (c == kNone) break;
    if (!starts.IsStart(c)) {
      from = c + 1;
      continue;
    }
    out.Append(s + p, c - p);
    out.Append(replacement);
    p = c + soughtLength;
    starts.Restart(p);
    from = p;
    if (count > 0 && --count == 0) {
      countReached = true;
      break;
    }
  }
  // A walk that reaches a lead byte just before the NUL copies it with its
  // missing second byte, that is, not at all. Only a one-byte sought text
  // lets the walk get that far; otherwise the leftover bytes go out as they
  // are.
  std::size_t end = length;
  if (!countReached && soughtLength == 1 && p < length && s[length - 1] >= 0x80 &&
      starts.Known() <= length - 1 && starts.IsStart(length - 1)) {
    end = length - 1;
  }
  out.Append(s + p, end - p);
  return out.Finish();
}

bool IsFullWidthSpace(const Byte* s, std::size_t p, std::size_t length) {
  return s[p] == 0xA1 && p + 1 < length && s[p + 1] == 0xA1;
}

std::string_view UpToNul(std::string_view v) {
  const void* nul = std::memchr(v.data(), 0, v.size());
  if (nul == nullptr) return v;
  return v.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - v.data()));
}

}  // namespace

// --- Values -------------------------------------------------------------------

Text::Text(const char* s) {
  if (s != nullptr) s_.assign(s);
}

Text::Text(const char* s, std::size_t n) {
  if (s == nullptr) return;
  const std::string_view v = UpToNul({s, n});
  if (v.size() > kMaxTextLength) TextTooLong(v.size());
  s_.assign(v.data(), v.size());
}

Text::Text(std::string_view s) : Text(s.data(), s.size()) {}

Bytes::Bytes(const void* data, std::size_t n) {
  if (data == nullptr || n == 0) return;
  if (n > kLargestBlock) FatalOutOfMemory(n);
  const uint8_t* p = static_cast<const uint8_t*>(data);
  b_.assign(p, p + n);
}

const Text& TextArray::Item(int32_t index) const {
  if (index < 1) FatalError(kFatalIndexBelowOne, "数组成员引用下标必须大于等于1");
  if (index > Size()) FatalError(kFatalIndexAboveSize, "数组成员引用下标超出定义范围");
  return items_[static_cast<std::size_t>(index) - 1];
}

// --- Length, comparison and joining -------------------------------------------

int32_t TextLength(const Text& text) { return text.size(); }

int CompareText(const Text& a, const Text& b) {
  const std::size_t n = std::min(Length(a), Length(b));
  const int r = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (r != 0) return r < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int32_t CompareTextMultibyte(const Text& a, const Text& b, bool caseSensitive) {
  // One character's code, 0 at the end; a lead byte without its second byte
  // counts as if the second byte were 0.
  auto next = [caseSensitive](const Text& t, std::size_t& i) -> int32_t {
    const std::size_t n = Length(t);
    if (i >= n) return 0;
    const Byte c = t[i];
    if (c < 0x80) {
      ++i;
      return caseSensitive ? c : Fold(c);
    }
    const int32_t second = i + 1 < n ? t[i + 1] : 0;
    i += 2;
    return c * 256 + second;
  };
  std::size_t i = 0;
  std::size_t j = 0;
  for (;;) {
    const int32_t ca = next(a, i);
    const int32_t cb = next(b, j);
    if (ca != cb) return ca - cb;
    if (ca == 0) return 0;
  }
}

bool BytesEqual(const Bytes& a, const Bytes& b) { return a.view() == b.view(); }

Text JoinText(std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (std::string_view part : parts) {
    const std::size_t n = UpToNul(part).size();
    if (n > kMaxTextLength - total) TextTooLong(total + n);
    total += n;
  }
  TextBuilder out(total);
  for (std::string_view part : parts) {
    part = UpToNul(part);
    out.Append(part.data(), part.size());
  }
  return out.Finish();
}

Bytes JoinBytes(std::initializer_list<std::string_view> parts) {
  std::size_t total = 0;
  for (std::string_view part : parts) {
    if (part.size() > kLargestBlock - total) FatalOutOfMemory(total + part.size());
    total += part.size();
  }
  Bytes out = BlankBytes(static_cast<int32_t>(total));
  std::size_t at = 0;
  for (std::string_view part : parts) {
    if (part.empty()) continue;
    std::memcpy(out.data() + at, part.data(), part.size());
    at += part.size();
  }
  return out;
}

// --- Searching ----------------------------------------------------------------

int32_t FindText(const Text& text, const Text& sought, int32_t start, bool ignoreCase) {
  const std::size_t length = Length(text);
  const std::size_t soughtLength = Length(sought);
  const std::size_t skip = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (skip >= length) return -1;
  if (soughtLength == 0) return 1;
  if (soughtLength > length - skip) return -1;
  // Without letters in the sought text, folding cannot change the answer.
  if (ignoreCase && HasLetter(Bytes8(sought), soughtLength)) {
    return FindForward<true>(Bytes8(text), length, Bytes8(sought), soughtLength, skip);
  }
  return FindForward<false>(Bytes8(text), length, Bytes8(sought), soughtLength, skip);
}

int32_t FindTextReverse(const Text& text, const Text& sought, bool ignoreCase) {
  const std::size_t length = Length(text);
  const std::size_t soughtLength = Length(sought);
  if (length == 0) return -1;
  if (soughtLength == 0) return 1;
  if (soughtLength > length) return -1;
  if (ignoreCase && HasLetter(Bytes8(sought), soughtLength)) {
    return FindBackward<true>(Bytes8(text), length, Bytes8(sought), soughtLength);
  }
  return FindBackward<false>(Bytes8(text), length, Bytes8(sought), soughtLength);
}

int32_t FindBytes(const Bytes& bytes, const Bytes& sought) {
  Occurrences<false, false> occurrences(bytes.data(), static_cast<std::size_t>(bytes.size()),
                                        sought.data(), static_cast<std::size_t>(sought.size()));
  const std::size_t at = occurrences.Next(0);
  return at == kNone ? -1 : static_cast<int32_t>(at + 1);
}

// --- Cutting and cleaning -----------------------------------------------------

Text TextLeft(const Text& text, int32_t n) {
  if (n <= 0) return {};
  if (n >= text.size()) return text;
  return TextBuilder::Copy(text.data(), static_cast<std::size_t>(n));
}

Text TextRight(const Text& text, int32_t n) {
  if (n <= 0) return {};
  if (n >= text.size()) return text;
  return TextBuilder::Copy(text.data() + (text.size() - n), static_cast<std::size_t>(n));
}

Text TextMid(const Text& text, int32_t start, int32_t n) {
  if (start < 1 || start > text.size() || n <= 0) return {};
  const int32_t available = text.size() - (start - 1);
  return TextBuilder::Copy(text.data() + (start - 1),
                           static_cast<std::size_t>(std::min(n, available)));
}

Bytes BytesLeft(const Bytes& bytes, int32_t n) {
  if (n <= 0) return {};
  if (n >= bytes.size()) return bytes;
  return Bytes(bytes.data(), static_cast<std::size_t>(n));
}

Text ReplaceText(const Text& text, const Text& sought, const Text& replacement, int32_t start,
                 int32_t count, bool caseSensitive) {
  const std::size_t length = Length(text);
  const std::size_t skip = start > 1 ? static_cast<std::size_t>(start) - 1 : 0;
  if (length == 0 || sought.empty() || skip >= length || count == 0) return text;
  if (!caseSensitive && HasLetter(Bytes8(sought), Length(sought))) {
    return ReplaceWalk<true>(text, sought, replacement, skip, count);
  }
  return ReplaceWalk<false>(text, sought, replacement, skip, count);
}

Text TrimText(const Text& text) {
  const Byte* s = Bytes8(text);
  const std::size_t length = Length(text);
  std::size_t begin = 0;
  while (begin < length) {
    if (s[begin] == ' ') {
      ++begin;
    } else if (IsFullWidthSpace(s, begin, length)) {
      begin += 2;
    } else {
      break;
    }
  }
  if (begin == length) return {};
  // The closing run of spaces lies inside the longest tail made of the bytes
  // 20 and A1. Walking just that tail needs a character start at or before
  // it: the byte after the last byte below 0x80 in front of it will do.
  std::size_t tail = length;
  while (tail > begin && (s[tail - 1] == ' ' || s[tail - 1] == 0xA1)) --tail;
  std::size_t p = HighRunStart(s, begin, tail);
  std::size_t end = length;
  std::size_t run = kNone;
  while (p < length) {
    if (s[p] == ' ') {
      if (run == kNone) run = p;
      ++p;
    } else if (s[p] < 0x80) {
      run = kNone;
      ++p;
    } else if (p + 1 == length) {
      // A lead byte before the NUL: cut there, the spaces before it stay.
      end = p;
      run = kNone;
      break;
    } else {
      if (s[p] == 0xA1 && s[p + 1] == 0xA1) {
        if (run == kNone) run = p;
      } else {
        run = kNone;
      }
      p += 2;
    }
  }
  if (run != kNone) end = run;
  return TextBuilder::Copy(s + begin, end - begin);
}

Text RemoveSpaces(const Text& text) {
  const Byte* s = Bytes8(text);
  const std::size_t length = Length(text);
  TextBuilder out(length);
  std::size_t kept = 0;  // start of the bytes not yet copied
  std::size_t p = 0;
  while (p < length) {
    if (s[p] == ' ' || IsFullWidthSpace(s, p, length)) {
      out.Append(s + kept, p - kept);
      p += s[p] == ' ' ? 1 : 2;
      kept = p;
    } else if (s[p] < 0x80) {
      ++p;
    } else if (p + 1 == length) {
      break;  // a lead byte before the NUL is left out
    } else {
      p += 2;
    }
  }
  out.Append(s + kept, p - kept);
  return out.Finish();
}

Text ToLowerCase(const Text& text) {
  TextBuilder out(Length(text));
  out.Append(text);
  char* s = out.Data();
  const std::size_t length = Length(text);
  for (std::size_t p = 0; p < length;) {
    const Byte c = static_cast<Byte>(s[p]);
    if (c >= 0x80) {
      p += 2;  // second bytes stay as they are, even A-Z
      continue;
    }
    if (IsUpper(c)) s[p] = static_cast<char>(c + 0x20);
    ++p;
  }
  return out.Finish();
}

TextArray SplitText(const Text& text, const Text& separator, std::optional<int32_t> maxCount) {
  TextArray pieces;
  int32_t left = maxCount ? std::max(*maxCount, 0) : -1;  // -1: no limit
  const std::size_t length = Length(text);
  if (length == 0 || left == 0) return pieces;
  if (separator.empty()) {
    pieces.Append(text);
    return pieces;
  }
  const Byte* s = Bytes8(text);
  const std::size_t separatorLength = Length(separator);
  Occurrences<false, false> occurrences(s, length, Bytes8(separator), separatorLength);
  ForwardStarts starts(s, 0);
  std::size_t piece = 0;
  for (std::size_t from = 0;;) {
    const std::size_t c = occurrences.Next(from);
    if (c == kNone) break;
    if (!starts.IsStart(c)) {
      from = c + 1;
      continue;
    }
    pieces.Append(TextBuilder::Copy(s + piece, c - piece));
    piece = c + separatorLength;
    starts.Restart(piece);
    from = piece;
    if (left > 0 && --left == 0) return pieces;
  }
  if (piece < length) pieces.Append(TextBuilder::Copy(s + piece, length - piece));
  return pieces;
}

// --- Conversions and constructors -------------------------------------------

Text IntToText(int32_t n) {
  char digits[12];
  std::size_t at = sizeof digits;
  uint32_t v = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
  do {
    digits[--at] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (n < 0) digits[--at] = '-';
  return TextBuilder::Copy(digits + at, sizeof digits - at);
}

int32_t TextToInt(const Text& text) {
  const std::size_t length = Length(text);
  std::size_t p = 0;
  // The text's bytes after folding full-width forms, one character at a time;
  // -1 at the end. A double-byte character that does not fold yields its
  // lead byte, which ends any number, so its second byte is never needed.
  auto next = [&]() -> int {
    if (p >= length) return -1;
    const Byte c = text[p];
    if (c < 0x80) {
      ++p;
      return c;
    }
    if (p + 1 == length) {
      p = length;
      return -1;
    }
    const Byte second = text[p + 1];
    p += 2;
    if (c == 0xA1) {
      if (second == 0xA1) return ' ';
      if (second == 0xAB) return '~';
      if (second == 0xEE || second == 0xEF) return '*';
    }
    if (c == 0xA3 && second >= 0xA1 && second <= 0xFE) return second - 0x80;
    return c;
  };
  int c = next();
  while (c == ' ' || (c >= 0x09 && c <= 0x0D)) c = next();
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = next();
  }
  uint32_t value = 0;
  while (c >= '0' && c <= '9') {
    value = value * 10 + static_cast<uint32_t>(c - '0');
    c = next();
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}

Text ToHexText(int32_t n) {
  char digits[8];
  std::size_t at = sizeof digits;
  uint32_t v = static_cast<uint32_t>(n);
  do {
    digits[--at] = "0123456789ABCDEF"[v & 0xF];
    v >>= 4;
  } while (v != 0);
  return TextBuilder::Copy(digits + at, sizeof digits - at);
}

Text CharFromCode(int32_t code) {
  // Only the low byte counts; a NUL cannot be part of a text.
  const char c = static_cast<char>(code & 0xFF);
  if (c == 0) return {};
  return TextBuilder::Copy(&c, 1);
}

Text BytesToText(const Bytes& bytes) { return Text(bytes.view()); }

Bytes TextToBytes(const Text& text) { return Bytes(text.data(), Length(text)); }

int32_t BytesLength(const Bytes& bytes) { return bytes.size(); }

Text BlankText(int32_t n) {
  if (n < 1) return {};
  return TextBuilder::Spaces(static_cast<std::size_t>(n));
}

Bytes BlankBytes(int32_t n) {
  Bytes bytes;
  if (n >= 1) bytes.b_.resize(static_cast<std::size_t>(n));
  return bytes;
}

// --- Numbers and memory -------------------------------------------------------

int32_t FloorToInt(double x) {
  double whole;
  const double fraction = std::modf(x, &whole);
  if (std::fabs(fraction) > 0.999999999999) x = x > 0 ? whole + 1 : whole - 1;
  const double floored = std::floor(x);
  // Outside the 32-bit range (and for NaN) the answer is the x86 FPU's
  // "integer indefinite", as a conversion on the product's processor gives.
  if (!(floored >= -2147483648.0 && floored <= 2147483647.0)) return INT32_MIN;
  return static_cast<int32_t>(floored);
}

Text TextAtAddress(uintptr_t address) {
  if (address == 0) return {};
  return Text(reinterpret_cast<const char*>(address));
}

Bytes BytesAtAddress(uintptr_t address, int32_t n) {
  if (address == 0 || n <= 0) return {};
  return Bytes(reinterpret_cast<const void*>(address), static_cast<std::size_t>(n));
}

int32_t ReadInt32(const Bytes& bytes) {
  uint32_t value = 0;
  const int32_t n = std::min(bytes.size(), 4);
  for (int32_t i = 0; i < n; ++i) value |= static_cast<uint32_t>(bytes.data()[i]) << (8 * i);
  return static_cast<int32_t>(value);
}

}  // namespace taviro
