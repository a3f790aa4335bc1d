#include "tests/http/test_server_client.h"

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace taviro::testing {

namespace {

std::string PercentEncode(const std::string& s) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (std::isalnum(c)) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string FillBytes(int64_t start, int64_t count) {
  std::string out(static_cast<std::size_t>(count), '\0');
  for (int64_t i = 0; i < count; ++i) out[i] = static_cast<char>((start + i) % 251);
  return out;
}

std::optional<TestServer> TestServer::FromEnvironment() {
  const char* port = std::getenv("TAVIRO_TEST_SERVER_PORT");
  if (port == nullptr || std::atoi(port) <= 0) return std::nullopt;
  return TestServer(std::atoi(port));
}

std::string TestServer::Url(const std::string& pathAndQuery) const {
  return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

std::string TestServer::Control(const std::string& method, const std::string& target,
                                const std::string& body) const {
  const std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                              std::to_string(port_) + "\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
  const std::string answer = LoopbackExchange(port_, request);
  const std::size_t head = answer.find("\r\n\r\n");
  if (answer.compare(0, 12, "HTTP/1.1 200") != 0 || head == std::string::npos) {
    throw std::runtime_error("test server control request failed: " + target);
  }
  return answer.substr(head + 4);
}

void TestServer::Reset() const { Control("POST", "/__reset", ""); }

void TestServer::AddRoute(const std::string& pathAndQuery, const CannedResponse& response,
                          bool append) const {
  std::string target = "/__route?path=" + PercentEncode(pathAndQuery);
  if (append) target += "&append=1";
  if (response.delayMs > 0) target += "&delay_ms=" + std::to_string(response.delayMs);
  if (response.fill > 0) target += "&fill=" + std::to_string(response.fill);
  if (response.closeAfter >= 0) target += "&close_after=" + std::to_string(response.closeAfter);
  Control("POST", target, response.raw);
}

void TestServer::Route(const std::string& pathAndQuery, const CannedResponse& response) const {
  AddRoute(pathAndQuery, response, false);
}

void TestServer::AppendRoute(const std::string& pathAndQuery,
                             const CannedResponse& response) const {
  AddRoute(pathAndQuery, response, true);
}

std::vector<std::string> TestServer::Requests() const {
  const std::string all = Control("GET", "/__requests", "");
  std::vector<std::string> requests;
  std::size_t at = 0;
  while (at < all.size()) {
    const std::size_t newline = all.find('\n', at);
    if (newline == std::string::npos) break;
    const std::size_t length = std::stoul(all.substr(at, newline - at));
    requests.push_back(all.substr(newline + 1, length));
    at = newline + 1 + length;
  }
  return requests;
}

int TestServer::ClosedPort() const { return std::stoi(Control("GET", "/__closed_port", "")); }

RecordedRequest RecordedRequest::Parse(const std::string& raw) {
  RecordedRequest r;
  const std::size_t headEnd = raw.find("\r\n\r\n");
  const std::string head = raw.substr(0, headEnd);
  r.body = headEnd == std::string::npos ? "" : raw.substr(headEnd + 4);
  std::size_t at = 0;
  bool first = true;
  while (at <= head.size()) {
    const std::size_t end = head.find("\r\n", at);
    const std::string line =
        head.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (first) {
      r.requestLine = line;
      first = false;
    } else {
      r.headerLines.push_back(line);
    }
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return r;
}

std::vector<std::string> RecordedRequest::Values(const std::string& name) const {
  std::vector<std::string> values;
  for (const std::string& line : headerLines) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos || !EqualsIgnoreCase(line.substr(0, colon), name)) continue;
    std::size_t start = colon + 1;
    while (start < line.size() && line[start] == ' ') ++start;
    values.push_back(line.substr(start));
  }
  return values;
}

}  // namespace taviro::testing
