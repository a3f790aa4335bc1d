#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/http/test_server_client.h"

namespace taviro::testing {

std::string LoopbackExchange(int port, const std::string& request) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  if (s < 0) return {};
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::size_t sent = 0;
    while (sent < request.size()) {
      const ssize_t n = send(s, request.data() + sent, request.size() - sent, 0);
      if (n <= 0) break;
      sent += static_cast<std::size_t>(n);
    }
    char buffer[65536];
    for (ssize_t n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, n);
  }
  close(s);
  return answer;
}

}  // namespace taviro::testing
