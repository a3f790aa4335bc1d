// The fatal-error text byte for byte, and the two fatal conditions ending the
// process. Expected bytes are GBK written in hex, so they do not depend on the
// compiler's execution character set.
#include "text/fatal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "text/text.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace taviro {
namespace {

// 运行时出错! and two line breaks
const std::string kRuntimeError = "\xD4\xCB\xD0\xD0\xCA\xB1\xB3\xF6\xB4\xED!\r\n\r\n";
const std::string kCodeLabel = "\xB4\xED\xCE\xF3\xB4\xFA\xC2\xEB\xA3\xBA";     // 错误代码：
const std::string kMessageLabel = "\xB4\xED\xCE\xF3\xD0\xC5\xCF\xA2\xA3\xBA";  // 错误信息：
// 数组成员引用下标必须大于等于1
const std::string kIndexBelowOne =
    "\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB1\xD8\xD0\xEB\xB4\xF3"
    "\xD3\xDA\xB5\xC8\xD3\xDA" "1";
// 数组成员引用下标超出定义范围
const std::string kIndexAboveSize =
    "\xCA\xFD\xD7\xE9\xB3\xC9\xD4\xB1\xD2\xFD\xD3\xC3\xCF\xC2\xB1\xEA\xB3\xAC\xB3\xF6\xB6\xA8"
    "\xD2\xE5\xB7\xB6\xCE\xA7";
const std::string kAllocatePrefix = "\xB7\xD6\xC5\xE4 ";  // "分配 "
// " 字节内存失败!"
const std::string kAllocateSuffix = " \xD7\xD6\xBD\xDA\xC4\xDA\xB4\xE6\xCA\xA7\xB0\xDC!";
const std::string kCaption = "\xB4\xED\xCE\xF3";  // 错误

std::string Format(int32_t code, const char* message) {
  char out[512];
  const std::size_t n = FormatFatalErrorText(code, message, out, sizeof out);
  EXPECT_EQ(n, std::strlen(out));
  return std::string(out, n);
}

TEST(FatalTextTest, IsBuiltByteForByte) {
  struct Case {
    int32_t code;
    std::string message;
    std::string expected;
  } cases[] = {
      {4, kIndexBelowOne,
       kRuntimeError + kCodeLabel + "4\r\n\r\n" + kMessageLabel + kIndexBelowOne + "\r\n"},
      {1, kIndexAboveSize,
       kRuntimeError + kCodeLabel + "1\r\n\r\n" + kMessageLabel + kIndexAboveSize + "\r\n"},
      // Code 0 has no code line.
      {0, "m", kRuntimeError + kMessageLabel + "m\r\n"},
      {-12, "", kRuntimeError + kCodeLabel + "-12\r\n\r\n" + kMessageLabel + "\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Format(c.code, c.message.c_str()), c.expected) << c.code;
}

TEST(FatalTextTest, IsCutToTheBuffer) {
  char out[6];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(FormatFatalErrorText(4, "m", out, 5), 4u);
  EXPECT_EQ(std::string(out, 6), kRuntimeError.substr(0, 4) + std::string("\0x", 2));
  out[0] = 'y';
  EXPECT_EQ(FormatFatalErrorText(4, "m", out, 0), 0u);
  EXPECT_EQ(out[0], 'y');
}

#ifdef _WIN32

// The message box would wait for a user. Before the fatal call the death
// test's child hooks its own thread's window activation; once the box is
// active and its modal loop runs, a timer writes what the box shows to
// standard error, where the death test reads it, and presses OK. (At
// activation the box's controls may not be filled in yet.)
std::string WindowText(HWND window) {
  char buffer[1024];
  const int n = GetWindowTextA(window, buffer, sizeof buffer);
  return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
}

struct BoxContents {
  std::string text;
  bool errorIcon = false;
};

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM param) {
  auto* contents = reinterpret_cast<BoxContents*>(param);
  char className[32] = {};
  GetClassNameA(child, className, sizeof className);
  if (lstrcmpiA(className, "Static") != 0) return TRUE;
  const auto icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
  if (icon != nullptr) {
    contents->errorIcon = icon == LoadIcon(nullptr, IDI_ERROR);
  } else {
    const std::string text = WindowText(child);
    if (text.size() > contents->text.size()) contents->text = text;
  }
  return TRUE;
}

// GoogleTest reads the child's standard error in text mode on Windows,
// where CR LF would arrive as LF; the report spells line breaks out.
std::string VisibleLineBreaks(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') {
      out += "<CR>";
    } else if (c == '\n') {
      out += "<LF>";
    } else {
      out += c;
    }
  }
  return out;
}

HWND activeBox = nullptr;

void CALLBACK ReadBoxAndPressOk(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  BoxContents contents;
  EnumChildWindows(activeBox, ReadBoxChild, reinterpret_cast<LPARAM>(&contents));
  const std::string report = "caption: " + WindowText(activeBox) +
                             "\nicon: " + (contents.errorIcon ? "error" : "other") +
                             "\ntext: " + VisibleLineBreaks(contents.text);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), report.data(), static_cast<DWORD>(report.size()),
            &written, nullptr);
  PostMessageA(activeBox, WM_COMMAND, IDOK, 0);
}

LRESULT CALLBACK ReadBoxHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE && activeBox == nullptr) {
    activeBox = reinterpret_cast<HWND>(wParam);
    SetTimer(nullptr, 0, 10, ReadBoxAndPressOk);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void AnswerTheBox() { SetWindowsHookExA(WH_CBT, ReadBoxHook, nullptr, GetCurrentThreadId()); }

constexpr int kExitCode = -1;

std::string ShownText(const std::string& fullText) {
  return "caption: " + kCaption + "\nicon: error\ntext: " + VisibleLineBreaks(fullText);
}

#else

void AnswerTheBox() {}

constexpr int kExitCode = 255;  // -1 as a POSIX exit status

std::string ShownText(const std::string& fullText) { return fullText; }

#endif

// A regular expression matching exactly `text`, valid for both of
// GoogleTest's dialects (POSIX and its own simple one on Windows).
std::string Literally(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\0' && std::strchr(".^$*+?()[]{}|\\", c) != nullptr) out += '\\';
    out += c;
  }
  return out;
}

std::string ExpectedFatal(int32_t code, const std::string& message) {
  return Literally(ShownText(Format(code, message.c_str())));
}

TEST(FatalDeathTest, IndexBelowOneEndsWithCode4) {
  TextArray array;
  ArrayAppend(array, "a");
  ArrayAppend(array, "b");
  EXPECT_EXIT(
      {
        AnswerTheBox();
        ArrayItem(array, 0);
      },
      testing::ExitedWithCode(kExitCode), ExpectedFatal(4, kIndexBelowOne));
}

TEST(FatalDeathTest, IndexAboveSizeEndsWithCode1) {
  TextArray array;
  ArrayAppend(array, "a");
  ArrayAppend(array, "b");
  EXPECT_EXIT(
      {
        AnswerTheBox();
        ArrayItem(array, 3);
      },
      testing::ExitedWithCode(kExitCode), ExpectedFatal(1, kIndexAboveSize));
}

TEST(FatalDeathTest, MemoryThatCannotBeObtainedEndsWithTheByteCount) {
  // 2^31 - 1 spaces and the NUL: a block no 32-bit process can obtain.
  EXPECT_EXIT(
      {
        AnswerTheBox();
        BlankText(0x7FFFFFFF);
      },
      testing::ExitedWithCode(kExitCode),
      ExpectedFatal(0, kAllocatePrefix + "2147483648" + kAllocateSuffix));
}

}  // namespace
}  // namespace taviro
