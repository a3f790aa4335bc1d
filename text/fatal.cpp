#include "text/fatal.h"

#include <cstring>

namespace taviro {

namespace {

// Appends to a fixed buffer, dropping whatever does not fit; the out-of-memory
// path runs through here, so nothing may touch the heap.
class FixedWriter {
 public:
  FixedWriter(char* out, std::size_t capacity) : out_(out), capacity_(capacity) {}

  void Put(const char* s) { Put(s, std::strlen(s)); }
  void Put(const char* s, std::size_t n) {
    if (capacity_ == 0) return;
    const std::size_t room = capacity_ - 1 - length_;
    if (n > room) n = room;
    std::memcpy(out_ + length_, s, n);
    length_ += n;
  }
  void PutDecimal(uint64_t value, bool negative) {
    char digits[24];
    std::size_t n = 0;
    do {
      digits[sizeof digits - 1 - n++] = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    if (negative) digits[sizeof digits - 1 - n++] = '-';
    Put(digits + sizeof digits - n, n);
  }
  std::size_t Finish() {
    if (capacity_ != 0) out_[length_] = '\0';
    return length_;
  }

 private:
  char* out_;
  std::size_t capacity_;
  std::size_t length_ = 0;
};

constexpr const char* kLineBreak = "\r\n";

// Large enough for any message of the system; a longer one is cut.
constexpr std::size_t kFatalTextCapacity = 1024;

}  // namespace

std::size_t FormatFatalErrorText(int32_t code, const char* message, char* out,
                                 std::size_t capacity) {
  FixedWriter w(out, capacity);
  w.Put("运行时出错!");
  w.Put(kLineBreak);
  w.Put(kLineBreak);
  if (code != 0) {
    w.Put("错误代码：");
    const int64_t wide = code;
    w.PutDecimal(static_cast<uint64_t>(wide < 0 ? -wide : wide), wide < 0);
    w.Put(kLineBreak);
    w.Put(kLineBreak);
  }
  w.Put("错误信息：");
  if (message != nullptr) w.Put(message);
  w.Put(kLineBreak);
  return w.Finish();
}

void FatalError(int32_t code, const char* message) {
  char text[kFatalTextCapacity];
  FormatFatalErrorText(code, message, text, sizeof text);
  ShowFatalErrorAndExit(text);
}

void FatalOutOfMemory(std::size_t bytesAskedFor) {
  // The count is written unsigned: a request of 2 GB or more is exactly the
  // kind that fails, and must not read as a negative number.
  char message[96];
  FixedWriter w(message, sizeof message);
  w.Put("分配 ");
  w.PutDecimal(bytesAskedFor, false);
  w.Put(" 字节内存失败!");
  w.Finish();
  FatalError(kFatalOutOfMemory, message);
}

}  // namespace taviro
