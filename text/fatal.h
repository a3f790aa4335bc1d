// The two fatal conditions of the system: an array index out of range and
// memory that cannot be obtained. Both show "运行时出错!" with the error code
// and message (a modal box captioned "错误" on Windows, standard error
// elsewhere) and end the process with exit code -1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace taviro {

enum FatalCode : int32_t {
  kFatalOutOfMemory = 0,
  kFatalIndexAboveSize = 1,
  kFatalIndexBelowOne = 4,
};

// Writes the full error text for code and message (both GBK) into out,
// NUL-terminated and cut to fit capacity; answers the length written. Uses no
// heap, so the out-of-memory path can use it.
std::size_t FormatFatalErrorText(int32_t code, const char* message, char* out,
                                 std::size_t capacity);

[[noreturn]] void FatalError(int32_t code, const char* message);
[[noreturn]] void FatalOutOfMemory(std::size_t bytesAskedFor);

// Platform seam (fatal_win32.cpp / fatal_posix.cpp): shows the finished text
// and ends the process with exit code -1.
[[noreturn]] void ShowFatalErrorAndExit(const char* fullText);

}  // namespace taviro
