// WinINet itself.
#include "http/transport.h"

#include <windows.h>
#include <wininet.h>

namespace taviro {

namespace {

class WinInetLibrary final : public InternetLibrary {
 public:
  InternetHandle InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                               const char* proxyBypass, uint32_t flags) override {
    return ::InternetOpenA(agent, accessType, proxy, proxyBypass, flags);
  }

  InternetHandle InternetConnectA(InternetHandle internet, const char* serverName,
                                  uint16_t serverPort, const char* userName, const char* password,
                                  uint32_t service, uint32_t flags, uintptr_t context) override {
    return ::InternetConnectA(internet, serverName, serverPort, userName, password, service, flags,
                              context);
  }

  InternetHandle HttpOpenRequestA(InternetHandle connection, const char* verb,
                                  const char* objectName, const char* version, const char* referrer,
                                  const char** acceptTypes, uint32_t flags,
                                  uintptr_t context) override {
    return ::HttpOpenRequestA(connection, verb, objectName, version, referrer, acceptTypes, flags,
                              context);
  }

  bool InternetSetOptionA(InternetHandle handle, uint32_t option, const void* buffer,
                          uint32_t bufferLength) override {
    return ::InternetSetOptionA(handle, option, const_cast<void*>(buffer), bufferLength) != FALSE;
  }

  bool HttpSendRequestA(InternetHandle request, const char* headers, uint32_t headersLength,
                        const void* optional, uint32_t optionalLength) override {
    return ::HttpSendRequestA(request, headers, headersLength, const_cast<void*>(optional),
                              optionalLength) != FALSE;
  }

  bool InternetReadFile(InternetHandle request, void* buffer, uint32_t bytesToRead,
                        uint32_t* bytesRead) override {
    DWORD read = 0;
    const BOOL ok = ::InternetReadFile(request, buffer, bytesToRead, &read);
    *bytesRead = read;
    return ok != FALSE;
  }

  bool HttpQueryInfoA(InternetHandle request, uint32_t infoLevel, void* buffer,
                      uint32_t* bufferLength, uint32_t* index) override {
    DWORD length = *bufferLength;
    DWORD indexValue = index != nullptr ? *index : 0;
    const BOOL ok = ::HttpQueryInfoA(request, infoLevel, buffer, &length,
                                     index != nullptr ? &indexValue : nullptr);
    *bufferLength = length;
    if (index != nullptr) *index = indexValue;
    return ok != FALSE;
  }

  bool InternetCloseHandle(InternetHandle handle) override {
    return ::InternetCloseHandle(handle) != FALSE;
  }
};

}  // namespace

InternetLibrary& PlatformInternetLibrary() {
  static WinInetLibrary library;
  return library;
}

}  // namespace taviro
