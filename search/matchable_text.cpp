#include "search/matchable_text.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace taviro {
namespace {

constexpr std::string_view kLazyGroup = "(.*?)";

struct Element {
  char literal;  // compared without case; unused when any
  bool any;      // "."
  bool optional; // followed by "?"
};
using Piece = std::vector<Element>;

bool IsAsciiAlnum(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool ParsePiece(std::string_view text, Piece& piece) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (static_cast<unsigned char>(c) >= 0x80) return false;
    switch (c) {
      case '?':
        // "??" (a lazy optional) and a leading "?" are other forms.
        if (piece.empty() || piece.back().optional) return false;
        piece.back().optional = true;
        break;
      case '.':
        piece.push_back({0, true, false});
        break;
      case '\\':
        if (i + 1 >= text.size() || IsAsciiAlnum(text[i + 1]) ||
            static_cast<unsigned char>(text[i + 1]) >= 0x80) {
          return false;
        }
        piece.push_back({Lower(text[++i]), false, false});
        break;
      case '*': case '+': case '(': case ')': case '[': case ']':
      case '{': case '}': case '|': case '^': case '$':
        return false;
      default:
        piece.push_back({Lower(c), false, false});
    }
  }
  return true;
}

bool HasRequiredElement(const Piece& piece) {
  for (const Element& e : piece) {
    if (!e.optional) return true;
  }
  return false;
}

// The pieces between the lazy groups; false for any other form. The first
// piece must take at least one character (no empty match), the last one
// must be there (a pattern ending in a lazy group ends where it begins).
bool ParseChain(std::string_view pattern, std::vector<Piece>& pieces) {
  for (;;) {
    const std::size_t group = pattern.find(kLazyGroup);
    Piece piece;
    if (!ParsePiece(pattern.substr(0, group), piece)) return false;
    pieces.push_back(std::move(piece));
    if (group == std::string_view::npos) break;
    pattern.remove_prefix(group + kLazyGroup.size());
  }
  return pieces.size() >= 2 && HasRequiredElement(pieces.front()) &&
         HasRequiredElement(pieces.back());
}

class LineMatcher {
 public:
  LineMatcher(const std::vector<Piece>& pieces, std::string_view page)
      : pieces_(pieces), page_(page) {}

  // Length in bytes of the character at i (i < end of the page).
  std::size_t CharLength(std::size_t i) const {
    const auto b = static_cast<unsigned char>(page_[i]);
    return b >= 0x81 && b <= 0xFE && i + 1 < page_.size() ? 2 : 1;
  }

  // Where the line starting at begin ends: its line-feed character, or the
  // end of the page.
  std::size_t LineEnd(std::size_t begin) const {
    std::size_t i = begin;
    while (i < page_.size() && page_[i] != '\n') i += CharLength(i);
    return i;
  }

  // End of the last match in [begin, end), or begin without one.
  std::size_t LastMatchEnd(std::size_t begin, std::size_t end) {
    end_ = end;
    std::size_t last = begin;
    std::size_t p = NextCandidate(pieces_[0], begin);
    while (p < end_) {
      std::size_t matchEnd;
      if (!MatchAt(p, &matchEnd)) {
        p = NextCandidate(pieces_[0], p + CharLength(p));
        continue;
      }
      if (matchEnd == kNoStart) break;  // started here, cannot be completed
      last = p = matchEnd;  // past p: the first piece takes a character
    }
    return last;
  }

 private:
  static constexpr std::size_t kNoStart = static_cast<std::size_t>(-1);

  // The first character start from s on (s itself a start) where piece
  // could begin, judged by its first element when that is a letter or sign
  // it must have; end_ when there is none.
  std::size_t NextCandidate(const Piece& piece, std::size_t s) const {
    if (piece.empty() || piece[0].any || piece[0].optional) return s;
    const char lower = piece[0].literal;
    const char upper = lower >= 'a' && lower <= 'z' ? static_cast<char>(lower - 'a' + 'A') : lower;
    while (s < end_) {
      const char c = page_[s];
      if (c == lower || c == upper) return s;
      s += CharLength(s);
    }
    return end_;
  }

  // False when the first piece does not begin at p. Otherwise true, with
  // *matchEnd the end of the match that starts there, or kNoStart when none
  // can be completed.
  bool MatchAt(std::size_t p, std::size_t* matchEnd) {
    std::vector<std::size_t> ends;
    PieceEnds(pieces_[0], 0, p, ends);
    if (ends.empty()) return false;
    for (std::size_t e : ends) {
      if (CompleteFrom(1, e, matchEnd)) return true;
    }
    *matchEnd = kNoStart;
    return true;
  }

  // The rest of the chain from piece k on, its lazy group starting at q.
  // The group grows until piece k first fits; its ends are tried in the
  // engine's order. When none completes, a later fit cannot either.
  bool CompleteFrom(std::size_t k, std::size_t q, std::size_t* matchEnd) {
    if (k == pieces_.size()) {
      *matchEnd = q;
      return true;
    }
    const Piece& piece = pieces_[k];
    for (std::size_t s = NextCandidate(piece, q);; s = NextCandidate(piece, s + CharLength(s))) {
      std::vector<std::size_t> ends;
      PieceEnds(piece, 0, s, ends);
      if (!ends.empty()) {
        for (std::size_t e : ends) {
          if (CompleteFrom(k + 1, e, matchEnd)) return true;
        }
        return false;
      }
      if (s >= end_) return false;
    }
  }

  // Every end of piece elements [i, ...) placed at s, the longer choice of
  // an optional element first.
  void PieceEnds(const Piece& piece, std::size_t i, std::size_t s,
                 std::vector<std::size_t>& ends) const {
    if (i == piece.size()) {
      ends.push_back(s);
      return;
    }
    const Element& e = piece[i];
    if (s < end_) {
      const std::size_t n = CharLength(s);
      if (e.any || (n == 1 && Lower(page_[s]) == e.literal)) PieceEnds(piece, i + 1, s + n, ends);
    }
    if (e.optional) PieceEnds(piece, i + 1, s, ends);
  }

  const std::vector<Piece>& pieces_;
  std::string_view page_;
  std::size_t end_ = 0;
};

}  // namespace

Text MatchableText(const Text& pattern, const Text& page) {
  std::vector<Piece> pieces;
  if (!ParseChain(pattern.view(), pieces)) return page;

  const std::string_view all = page.view();
  LineMatcher matcher(pieces, all);
  std::string kept;
  kept.reserve(all.size());
  for (std::size_t begin = 0;;) {
    const std::size_t end = matcher.LineEnd(begin);
    kept.append(all.substr(begin, matcher.LastMatchEnd(begin, end) - begin));
    if (end == all.size()) break;
    kept.push_back('\n');
    begin = end + 1;
  }
  return Text(std::string_view(kept));
}

}  // namespace taviro
