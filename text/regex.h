// RegexObject: one regular-expression engine with the matches and the
// searched text of its last run, in the dialect of the scripting class
// "VBScript.RegExp".
//
// Backends (the seam is RegexEngine below):
//   regex_win32.cpp  the scripting class itself, late-bound by member name
//                    through COM automation
//   regex_posix.cpp  PCRE2 (16-bit units, so offsets count UTF-16 units as the
//                    class's FirstIndex does) behind a translator to the class's
//                    dialect as Windows documents it
//
// An object belongs to the thread that constructs it (on Windows its
// construction initialises COM there) and must be destroyed on that thread.
// Every failure is quiet: the empty text, 0 or false.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "text/text.h"

namespace taviro {

class RegexEngine;

class RegexObject {
 public:
  RegexObject();
  ~RegexObject();
  // Copies would share one engine across two owners of the thread's COM
  // initialisation; nothing needs them.
  RegexObject(const RegexObject&) = delete;
  RegexObject& operator=(const RegexObject&) = delete;

  // Runs pattern over text with a fresh engine, replacing everything an
  // earlier run left. With quoteMarks every "#引号" in the pattern stands for
  // one double quote. True when the run produced a match collection, even an
  // empty one; false when the engine is missing or rejects the pattern.
  bool Create(const Text& pattern, const Text& text, bool caseSensitive = false,
              bool multiline = true, bool global = true, bool quoteMarks = false);

  // The pattern as the engine holds it; empty before the first Create.
  Text PatternText() const;
  // The text of the last run with the matches replaced ("$1", "$&", ...
  // in replacement refer to groups); empty when that fails.
  Text ReplaceMatches(const Text& replacement) const;
  int32_t MatchCount() const;

  // Match number index (from 1); empty when there is no such match. With
  // wantPosition, position receives the 0-based byte offset in the searched
  // text of the first occurrence of the value at or after the byte where the
  // match begins, or -2 when there is none (or no such match); otherwise
  // position is left alone.
  Text MatchText(int32_t index, int32_t& position, bool wantPosition) const;
  Text MatchText(int32_t index) const;
  // Group number group (from 1) of match number index; empty for a group that
  // took no part and for numbers out of range. The position is searched for
  // from the start of the whole match, as the engine gives no group offsets.
  Text SubmatchText(int32_t index, int32_t group, int32_t& position, bool wantPosition) const;
  Text SubmatchText(int32_t index, int32_t group) const;
  // Groups of the pattern as the first match reports them; 0 without a match.
  int32_t SubmatchCount() const;

 private:
  int32_t PositionOf(const Text& value, int32_t firstIndex) const;

  std::unique_ptr<RegexEngine> engine_;
  Text lastText_;
};

// pattern as Create reads it with quoteMarks: every "#引号" a double quote.
Text QuotedPattern(const Text& pattern);

// --- Backend seam ---------------------------------------------------------
// Texts cross it as UTF-16; indices are 0-based. Nothing here reports an
// error beyond the result.
class RegexEngine {
 public:
  virtual ~RegexEngine() = default;

  // Drops the previous instance and its matches, makes a new instance with
  // these settings and executes pattern over text. False without a match
  // collection.
  virtual bool Run(const std::u16string& pattern, std::u16string text, bool ignoreCase,
                   bool multiline, bool global) = 0;
  virtual bool Pattern(std::u16string& pattern) const = 0;
  virtual bool IgnoreCase() const = 0;
  virtual bool Replace(const std::u16string& text, const std::u16string& replacement,
                       std::u16string& result) const = 0;
  virtual int32_t MatchCount() const = 0;
  // Value of a match and, when firstIndex is given, its offset in UTF-16
  // units. False when there is no such match.
  virtual bool Match(int32_t index, std::u16string& value, int32_t* firstIndex) const = 0;
  // Value of one group; an empty value for a group that took no part. False
  // when there is no such match or group.
  virtual bool Submatch(int32_t index, int32_t group, std::u16string& value,
                        int32_t* firstIndex) const = 0;
  virtual int32_t SubmatchCount() const = 0;
};

// The platform's engine. On Windows this initialises COM for the calling
// thread; the engine's destructor uninitialises it after releasing its
// references.
std::unique_ptr<RegexEngine> OpenRegexEngine();

}  // namespace taviro
