#include <winsock2.h>

#include "tests/http/test_server_client.h"

namespace taviro::testing {

std::string LoopbackExchange(int port, const std::string& request) {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) return {};
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return {};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::size_t sent = 0;
    while (sent < request.size()) {
      const int n = send(s, request.data() + sent, static_cast<int>(request.size() - sent), 0);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    char buffer[65536];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  }
  closesocket(s);
  return answer;
}

}  // namespace taviro::testing
