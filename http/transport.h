// The internet library seam: the WinINet calls one web request makes, used
// synchronously.
//   transport_win32.cpp  WinINet itself
//   transport_posix.cpp  a stand-in over libcurl that honours the same flags
//                        (no cache; its own redirect following and cookie
//                        store unless switched off; direct or via an http
//                        proxy) and reports the raw header block the way
//                        WinINet does
//
// Handles nest internet -> connection -> request and are closed innermost
// first. Tests substitute a recording library to see the calls themselves.
#pragma once

#include <cstdint>

namespace taviro {

using InternetHandle = void*;

// The platform's own constants, under the platform's names. wininet.h defines
// them as macros with the same values; the win32 backend takes those.
#ifndef _WININET_
constexpr uint32_t INTERNET_OPEN_TYPE_DIRECT = 1;
constexpr uint32_t INTERNET_OPEN_TYPE_PROXY = 3;
constexpr uint32_t INTERNET_SERVICE_HTTP = 3;
constexpr uint32_t INTERNET_FLAG_RELOAD = 0x80000000u;
constexpr uint32_t INTERNET_FLAG_NEED_FILE = 0x00000010u;
constexpr uint32_t INTERNET_FLAG_NO_COOKIES = 0x00080000u;
constexpr uint32_t INTERNET_FLAG_NO_AUTO_REDIRECT = 0x00200000u;
constexpr uint32_t INTERNET_FLAG_SECURE = 0x00800000u;
constexpr uint32_t INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS = 0x00004000u;
constexpr uint32_t INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP = 0x00008000u;
constexpr uint32_t INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr uint32_t INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr uint32_t INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
constexpr uint32_t HTTP_QUERY_RAW_HEADERS_CRLF = 22;
#endif

class InternetLibrary {
 public:
  virtual ~InternetLibrary() = default;

  // Null on failure.
  virtual InternetHandle InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                                       const char* proxyBypass, uint32_t flags) = 0;
  // Null on failure; no network traffic yet. Port 0 means the default port.
  virtual InternetHandle InternetConnectA(InternetHandle internet, const char* serverName,
                                          uint16_t serverPort, const char* userName,
                                          const char* password, uint32_t service, uint32_t flags,
                                          uintptr_t context) = 0;
  // Null on failure.
  virtual InternetHandle HttpOpenRequestA(InternetHandle connection, const char* verb,
                                          const char* objectName, const char* version,
                                          const char* referrer, const char** acceptTypes,
                                          uint32_t flags, uintptr_t context) = 0;
  // Only the three timeout options (milliseconds, a 32-bit value) are used.
  virtual bool InternetSetOptionA(InternetHandle handle, uint32_t option, const void* buffer,
                                  uint32_t bufferLength) = 0;
  // Sends the request and receives the response head.
  virtual bool HttpSendRequestA(InternetHandle request, const char* headers, uint32_t headersLength,
                                const void* optional, uint32_t optionalLength) = 0;
  // *read 0 with a true result is the end of the body.
  virtual bool InternetReadFile(InternetHandle request, void* buffer, uint32_t bytesToRead,
                                uint32_t* bytesRead) = 0;
  // HTTP_QUERY_RAW_HEADERS_CRLF: the last response's status line and header
  // lines, each ended by CR LF, then an empty line and a NUL. A block that
  // does not fit *bufferLength bytes (NUL included) is not written: the call
  // fails and sets *bufferLength to the size needed.
  virtual bool HttpQueryInfoA(InternetHandle request, uint32_t infoLevel, void* buffer,
                              uint32_t* bufferLength, uint32_t* index) = 0;
  virtual bool InternetCloseHandle(InternetHandle handle) = 0;
};

// The platform's library; lives as long as the process, safe to use from
// several threads at once.
InternetLibrary& PlatformInternetLibrary();

}  // namespace taviro
