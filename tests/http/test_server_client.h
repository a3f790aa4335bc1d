// The HTTP tests' side of tests/http/test_server.py: routes in, recorded
// requests out, over the server's control requests on loopback.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace taviro::testing {

// One request/answer exchange with 127.0.0.1:port: sends request, answers
// every byte received until the server closes (empty when it cannot connect).
// Platform seam: loopback_exchange_posix.cpp / loopback_exchange_win32.cpp.
std::string LoopbackExchange(int port, const std::string& request);

struct CannedResponse {
  std::string raw;           // status line, header lines, empty line, body
  int delayMs = 0;           // wait before answering
  int64_t fill = 0;          // generated body bytes after raw: byte i is i % 251
  int64_t closeAfter = -1;   // send only this many bytes of the answer, then close
};

// The generated body bytes [start, start + count) of CannedResponse::fill.
std::string FillBytes(int64_t start, int64_t count);

class TestServer {
 public:
  // The server started around this test program (TAVIRO_TEST_SERVER_PORT),
  // nullopt when the program was started without it.
  static std::optional<TestServer> FromEnvironment();

  int port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by pathAndQuery.
  std::string Url(const std::string& pathAndQuery) const;

  void Reset() const;
  // Serves response for pathAndQuery, replacing what was routed there before.
  void Route(const std::string& pathAndQuery, const CannedResponse& response) const;
  // Adds a response to the path's sequence: served in turn, the last repeating.
  void AppendRoute(const std::string& pathAndQuery, const CannedResponse& response) const;
  // Raw bytes of each request received since the last Reset, oldest first.
  std::vector<std::string> Requests() const;
  // A loopback port with nothing listening.
  int ClosedPort() const;

 private:
  explicit TestServer(int port) : port_(port) {}
  std::string Control(const std::string& method, const std::string& target,
                      const std::string& body) const;
  void AddRoute(const std::string& pathAndQuery, const CannedResponse& response,
                bool append) const;

  int port_;
};

// Pieces of a recorded request.
struct RecordedRequest {
  std::string requestLine;
  std::vector<std::string> headerLines;
  std::string body;

  static RecordedRequest Parse(const std::string& raw);
  // Values of the header lines with that name, letter case ignored.
  std::vector<std::string> Values(const std::string& name) const;
};

}  // namespace taviro::testing
