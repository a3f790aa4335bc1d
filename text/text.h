// Text, byte-string and array operations of the system.
//
// All text is in code page 936 (GBK). Positions and lengths count bytes and
// are 1-based where they are positions; a search that finds nothing answers
// -1. The walks that search, replace, split and trim step from character
// start to character start (a byte >= 0x80 leads a two-byte character), so
// nothing is ever found inside a double-byte character.
//
// Every operation returns a new value owned by the caller and never changes
// its inputs. Memory that cannot be obtained for a result ends the process
// through the fatal-error path (fatal.h) with the number of bytes asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text/fatal_allocator.h"

namespace taviro {

// A NUL-terminated byte string that holds no NUL. There is no separate
// "absent" state: a default-constructed Text and "" are the same value.
class Text {
 public:
  Text() = default;
  // Copies up to the first NUL; a null pointer gives the empty text.
  Text(const char* s);  // NOLINT(google-explicit-constructor): texts are values
  // Copies at most n bytes, stopping early at a NUL.
  Text(const char* s, std::size_t n);
  explicit Text(std::string_view s);

  const char* c_str() const { return s_.c_str(); }
  const char* data() const { return s_.data(); }
  int32_t size() const { return static_cast<int32_t>(s_.size()); }
  bool empty() const { return s_.empty(); }
  std::string_view view() const { return {s_.data(), s_.size()}; }
  unsigned char operator[](std::size_t i) const {
    return static_cast<unsigned char>(s_[i]);
  }

  friend bool operator==(const Text& a, const Text& b) { return a.s_ == b.s_; }
  friend bool operator!=(const Text& a, const Text& b) { return a.s_ != b.s_; }

 private:
  friend class TextBuilder;
  using Storage = std::basic_string<char, std::char_traits<char>, FatalAllocator<char>>;
  Storage s_;
};

// A length and that many bytes, any of which may be NUL.
class Bytes {
 public:
  Bytes() = default;
  Bytes(const void* data, std::size_t n);
  explicit Bytes(std::string_view s) : Bytes(s.data(), s.size()) {}

  const uint8_t* data() const { return b_.data(); }
  uint8_t* data() { return b_.data(); }
  int32_t size() const { return static_cast<int32_t>(b_.size()); }
  bool empty() const { return b_.empty(); }
  std::string_view view() const {
    return {reinterpret_cast<const char*>(b_.data()), b_.size()};
  }

  friend bool operator==(const Bytes& a, const Bytes& b) { return a.b_ == b.b_; }
  friend bool operator!=(const Bytes& a, const Bytes& b) { return a.b_ != b.b_; }

 private:
  friend Bytes BlankBytes(int32_t n);
  std::vector<uint8_t, FatalAllocator<uint8_t>> b_;
};

// An ordered list of texts with 1-based indices.
class TextArray {
 public:
  int32_t Size() const { return static_cast<int32_t>(items_.size()); }
  // Lends the element at a 1-based index; an index outside 1..Size() is a
  // fatal error (codes 4 and 1).
  const Text& Item(int32_t index) const;
  void Append(const Text& text) { items_.push_back(text); }
  void Append(Text&& text) { items_.push_back(std::move(text)); }

 private:
  std::vector<Text, FatalAllocator<Text>> items_;
};

// --- Length, comparison and joining -------------------------------------

int32_t TextLength(const Text& text);
int CompareText(const Text& a, const Text& b);
// 0 exactly when equal (case-sensitive); otherwise the difference of the
// first differing character codes (a double-byte character counts as
// first * 256 + second).
int32_t CompareTextMultibyte(const Text& a, const Text& b, bool caseSensitive);
bool BytesEqual(const Bytes& a, const Bytes& b);
Text JoinText(std::initializer_list<std::string_view> parts);
// A Text part is viewed in place; a C string becomes a temporary Text that
// lives until the join returns.
inline std::string_view JoinPart(const Text& part) { return part.view(); }
template <class... More>
Text JoinText(const Text& a, const Text& b, const More&... more) {
  return JoinText({a.view(), b.view(), JoinPart(more)...});
}
Bytes JoinBytes(std::initializer_list<std::string_view> parts);
template <class... More>
Bytes JoinBytes(const Bytes& a, const Bytes& b, const More&... more) {
  return JoinBytes({a.view(), b.view(), more.view()...});
}

// --- Searching ------------------------------------------------------------

int32_t FindText(const Text& text, const Text& sought, int32_t start = 1,
                 bool ignoreCase = false);
int32_t FindTextReverse(const Text& text, const Text& sought, bool ignoreCase = false);
int32_t FindBytes(const Bytes& bytes, const Bytes& sought);

// --- Cutting and cleaning ---------------------------------------------------

Text TextLeft(const Text& text, int32_t n);
Text TextRight(const Text& text, int32_t n);
Text TextMid(const Text& text, int32_t start, int32_t n);
Bytes BytesLeft(const Bytes& bytes, int32_t n);

// start: 1-based byte position (values below 1 mean the whole text).
// count: at most this many replacements; a negative count means no limit.
constexpr int32_t kAllOccurrences = -1;
Text ReplaceText(const Text& text, const Text& sought, const Text& replacement,
                 int32_t start, int32_t count, bool caseSensitive);
// Start and count left out: every occurrence in the whole text.
inline Text ReplaceText(const Text& text, const Text& sought, const Text& replacement,
                        bool caseSensitive) {
  return ReplaceText(text, sought, replacement, 1, kAllOccurrences, caseSensitive);
}

Text TrimText(const Text& text);
Text RemoveSpaces(const Text& text);
Text ToLowerCase(const Text& text);
// maxCount left out means no limit; a negative one counts as 0.
TextArray SplitText(const Text& text, const Text& separator = ",",
                    std::optional<int32_t> maxCount = std::nullopt);

// --- Conversions and constructors -----------------------------------------

Text IntToText(int32_t n);
int32_t TextToInt(const Text& text);
Text ToHexText(int32_t n);
Text CharFromCode(int32_t code);
Text BytesToText(const Bytes& bytes);
Bytes TextToBytes(const Text& text);
int32_t BytesLength(const Bytes& bytes);
Text BlankText(int32_t n);
Bytes BlankBytes(int32_t n);

// --- Numbers and memory -----------------------------------------------------

inline int32_t BitOr(std::initializer_list<int32_t> v) {
  uint32_t r = 0;
  for (int32_t x : v) r |= static_cast<uint32_t>(x);
  return static_cast<int32_t>(r);
}
inline int32_t BitAnd(std::initializer_list<int32_t> v) {
  uint32_t r = ~0u;
  for (int32_t x : v) r &= static_cast<uint32_t>(x);
  return static_cast<int32_t>(r);
}
int32_t FloorToInt(double x);
// Copies of memory found at an address. The caller vouches for the address.
Text TextAtAddress(uintptr_t address);
Bytes BytesAtAddress(uintptr_t address, int32_t n);
int32_t ReadInt32(const Bytes& bytes);
template <class Routine>
uintptr_t RoutineAddress(Routine* routine) {
  return reinterpret_cast<uintptr_t>(routine);
}

// --- Arrays -----------------------------------------------------------------

inline int32_t ArraySize(const TextArray& array) { return array.Size(); }
inline const Text& ArrayItem(const TextArray& array, int32_t index) {
  return array.Item(index);
}
inline void ArrayAppend(TextArray& array, const Text& text) { array.Append(text); }

}  // namespace taviro
