// A stand-in for WinINet over libcurl, for the portable build and its tests.
//
// It honours what the request flags mean to WinINet: nothing is cached; it
// follows 301/302/303/307 itself unless INTERNET_FLAG_NO_AUTO_REDIRECT; it
// keeps one cookie store for the process and sends its cookies (also to the
// follow-up of an answer that set them) unless INTERNET_FLAG_NO_COOKIES; it
// goes direct or through the http proxy of the proxy list. Request header
// lines are handled the way WinINet handles them: Host, Content-Length and
// User-Agent first, then the caller's lines, a later line of a name replacing
// an earlier one. The raw header block is rebuilt the way WinINet reports it.
#include "http/transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace taviro {

namespace {

// WinINet under Wine has no bound; ours stops a redirect loop and reports
// the last answer.
constexpr int kMaxAutoRedirects = 30;

constexpr unsigned long long kMaxBodyReserve = 64ull << 20;

constexpr uint32_t kDefaultConnectTimeoutMs = 60000;
constexpr uint32_t kDefaultReceiveTimeoutMs = 30000;

bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
           return std::tolower(x) == std::tolower(y);
         });
}

std::string Lowered(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trimmed(const std::string& s) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  std::size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

struct HeaderLine {
  std::string name;
  std::string value;
};
using HeaderLines = std::vector<HeaderLine>;

// Splits "name: value"; nullopt for a line without ":".
std::optional<HeaderLine> ParseHeaderLine(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos) return std::nullopt;
  return HeaderLine{Trimmed(line.substr(0, colon)), Trimmed(line.substr(colon + 1))};
}

HeaderLines::iterator FindHeader(HeaderLines& lines, const std::string& name) {
  return std::find_if(lines.begin(), lines.end(),
                      [&](const HeaderLine& h) { return EqualsIgnoreCase(h.name, name); });
}

const HeaderLine* FirstHeader(const HeaderLines& lines, const std::string& name) {
  for (const HeaderLine& h : lines) {
    if (EqualsIgnoreCase(h.name, name)) return &h;
  }
  return nullptr;
}

void AddHeaderIfNew(HeaderLines& lines, const std::string& name, const std::string& value) {
  if (FindHeader(lines, name) == lines.end()) lines.push_back({name, value});
}

// A line of a name already present replaces it; an empty value removes it.
void AddOrReplaceHeader(HeaderLines& lines, const HeaderLine& line) {
  const auto existing = FindHeader(lines, line.name);
  if (existing != lines.end()) {
    lines.erase(existing);
    if (line.value.empty()) return;
  }
  lines.push_back(line);
}

std::string PathWithoutQuery(const std::string& path) { return path.substr(0, path.find('?')); }

// --- The process's cookie store -------------------------------------------

class CookieStore {
 public:
  void TakeSetCookie(const std::string& host, const std::string& requestPath,
                     const std::string& headerValue) {
    const std::size_t semicolon = headerValue.find(';');
    const std::string pair = headerValue.substr(0, semicolon);
    const std::size_t equals = pair.find('=');
    if (equals == std::string::npos) return;
    StoredCookie cookie;
    cookie.name = Trimmed(pair.substr(0, equals));
    cookie.value = Trimmed(pair.substr(equals + 1));
    cookie.domain = Lowered(host);
    cookie.path = DefaultPath(requestPath);
    bool expired = false;

    std::size_t at = semicolon;
    while (at != std::string::npos) {
      const std::size_t next = headerValue.find(';', at + 1);
      const std::string attribute =
          headerValue.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
      at = next;
      const std::size_t eq = attribute.find('=');
      const std::string key = Lowered(Trimmed(attribute.substr(0, eq)));
      const std::string value = eq == std::string::npos ? "" : Trimmed(attribute.substr(eq + 1));
      if (key == "path" && !value.empty() && value[0] == '/') {
        cookie.path = value;
      } else if (key == "domain" && !value.empty()) {
        cookie.domain = Lowered(value[0] == '.' ? value.substr(1) : value);
        cookie.hostOnly = false;
      } else if (key == "max-age") {
        expired = std::atol(value.c_str()) <= 0;
      } else if (key == "expires") {
        const time_t when = curl_getdate(value.c_str(), nullptr);
        if (when != -1 && when < std::time(nullptr)) expired = true;
      }
    }

    std::lock_guard<std::mutex> lock(mutex_);
    cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                  [&](const StoredCookie& c) {
                                    return c.name == cookie.name && c.domain == cookie.domain &&
                                           c.path == cookie.path;
                                  }),
                   cookies_.end());
    if (!expired) cookies_.push_back(std::move(cookie));
  }

  // "a=1; b=2" for the cookies that go to this host and path; empty if none.
  std::string CookieLineFor(const std::string& host, const std::string& path) const {
    const std::string lowHost = Lowered(host);
    const std::string bare = PathWithoutQuery(path);
    std::string line;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const StoredCookie& c : cookies_) {
      const bool domainMatches =
          c.hostOnly
              ? lowHost == c.domain
              : lowHost == c.domain || (lowHost.size() > c.domain.size() &&
                                        lowHost.compare(lowHost.size() - c.domain.size(),
                                                        std::string::npos, c.domain) == 0 &&
                                        lowHost[lowHost.size() - c.domain.size() - 1] == '.');
      if (!domainMatches || bare.compare(0, c.path.size(), c.path) != 0) continue;
      if (!line.empty()) line += "; ";
      line += c.name + "=" + c.value;
    }
    return line;
  }

 private:
  struct StoredCookie {
    std::string name, value, domain, path;
    bool hostOnly = true;
  };

  // The directory of the request path.
  static std::string DefaultPath(const std::string& requestPath) {
    const std::string bare = PathWithoutQuery(requestPath);
    const std::size_t slash = bare.rfind('/');
    return slash == std::string::npos || slash == 0 ? "/" : bare.substr(0, slash);
  }

  mutable std::mutex mutex_;
  std::vector<StoredCookie> cookies_;
};

CookieStore& ProcessCookieStore() {
  static CookieStore store;
  return store;
}

// --- Handles ----------------------------------------------------------------

enum class HandleKind { kInternet, kConnection, kRequest };

struct Handle {
  explicit Handle(HandleKind k) : kind(k) {}
  virtual ~Handle() = default;
  const HandleKind kind;
};

struct ProxySettings {
  std::string http;   // host:port for http addresses, empty for direct
  std::string https;  // host:port for https addresses, empty for direct
};

struct InternetSession : Handle {
  InternetSession() : Handle(HandleKind::kInternet) {}
  std::optional<std::string> agent;
  ProxySettings proxy;
};

struct Connection : Handle {
  Connection() : Handle(HandleKind::kConnection) {}
  std::optional<std::string> agent;
  ProxySettings proxy;
  std::string host;
  uint16_t port = 0;
};

struct Response {
  std::string statusLine;
  HeaderLines headers;
  std::string body;
  long status = 0;
};

struct Request : Handle {
  Request() : Handle(HandleKind::kRequest) {}
  std::optional<std::string> agent;
  ProxySettings proxy;
  std::string host;
  uint16_t port = 0;
  std::string verb;
  std::string path;
  uint32_t flags = 0;
  uint32_t connectTimeoutMs = kDefaultConnectTimeoutMs;
  uint32_t receiveTimeoutMs = kDefaultReceiveTimeoutMs;

  std::optional<Response> response;
  std::size_t readPosition = 0;
};

template <class T>
T* As(InternetHandle handle, HandleKind kind) {
  auto* h = static_cast<Handle*>(handle);
  return h != nullptr && h->kind == kind ? static_cast<T*>(h) : nullptr;
}

// WinINet's proxy list: entries "scheme=server" or "server", separated by
// spaces or semicolons; a server may carry "http://".
ProxySettings ParseProxyList(const char* list) {
  ProxySettings settings;
  if (list == nullptr) return settings;
  const std::string text(list);
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find_first_of(" ;", at);
    std::string entry = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (entry.empty()) continue;
    std::string scheme;
    const std::size_t equals = entry.find('=');
    if (equals != std::string::npos) {
      scheme = Lowered(entry.substr(0, equals));
      entry = entry.substr(equals + 1);
    }
    const std::size_t mark = entry.find("://");
    if (mark != std::string::npos) entry = entry.substr(mark + 3);
    if (scheme.empty() || scheme == "http") settings.http = entry;
    if (scheme.empty() || scheme == "https") settings.https = entry;
  }
  return settings;
}

// --- One exchange with libcurl --------------------------------------------

struct Target {
  bool secure = false;
  std::string host;
  uint16_t port = 80;
  std::string path;

  bool DefaultPort() const { return port == (secure ? 443 : 80); }
  std::string HostHeader() const {
    return DefaultPort() ? host : host + ":" + std::to_string(port);
  }
  std::string Origin() const {
    return std::string(secure ? "https://" : "http://") + host + ":" + std::to_string(port);
  }
  std::string AbsoluteForm() const {
    return std::string(secure ? "https://" : "http://") + HostHeader() + path;
  }
};

// Host names as a resolver takes them; anything else fails like an unknown
// name instead of letting the URL parser read it differently.
bool PlausibleHostName(const std::string& host) {
  return !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_';
  });
}

struct Capture {
  std::string statusLine;
  HeaderLines headers;
  std::string body;
};

size_t OnHeaderLine(char* data, size_t size, size_t count, void* user) {
  auto* capture = static_cast<Capture*>(user);
  std::string line(data, size * count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  if (line.compare(0, 5, "HTTP/") == 0) {
    // A new status line: an interim answer's lines are not the final ones.
    capture->statusLine = line;
    capture->headers.clear();
  } else if (auto header = ParseHeaderLine(line)) {
    if (EqualsIgnoreCase(header->name, "Content-Length")) {
      // Room for the announced body at once (within reason): a page grown
      // piece by piece costs several large reallocations.
      const unsigned long long announced = std::strtoull(header->value.c_str(), nullptr, 10);
      if (announced <= kMaxBodyReserve) capture->body.reserve(announced);
    }
    capture->headers.push_back(std::move(*header));
  }
  return size * count;
}

size_t OnBodyBytes(char* data, size_t size, size_t count, void* user) {
  static_cast<Capture*>(user)->body.append(data, size * count);
  return size * count;
}

std::optional<Response> Exchange(const Request& request, const Target& target,
                                 const std::string& verb, const HeaderLines& headers,
                                 const std::string& body) {
  if (!PlausibleHostName(target.host)) return std::nullopt;
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(curl_easy_init(), curl_easy_cleanup);
  if (!curl) return std::nullopt;
  CURL* e = curl.get();

  const std::string& proxy = target.secure ? request.proxy.https : request.proxy.http;
  const std::string base = target.Origin() + "/";
  // Through a proxy an http request names the whole address.
  const std::string requestTarget =
      !proxy.empty() && !target.secure ? target.AbsoluteForm() : target.path;
  curl_easy_setopt(e, CURLOPT_URL, base.c_str());
  curl_easy_setopt(e, CURLOPT_REQUEST_TARGET, requestTarget.c_str());
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  const std::string proxyUrl = proxy.empty() ? "" : "http://" + proxy;
  curl_easy_setopt(e, CURLOPT_PROXY, proxyUrl.c_str());
  curl_easy_setopt(e, CURLOPT_NOPROXY, "");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(request.connectTimeoutMs));
  if (request.receiveTimeoutMs > 0) {
    // No byte for the receive timeout ends the transfer, as a socket timeout would.
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>((request.receiveTimeoutMs + 999) / 1000));
  }

  if (verb == "GET" && body.empty()) {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.data());
    if (verb != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, verb.c_str());
  }

  // Exactly our lines: libcurl's own defaults are switched off.
  curl_slist* list = nullptr;
  for (const HeaderLine& h : headers) {
    const std::string line = h.value.empty() ? h.name + ";" : h.name + ": " + h.value;
    list = curl_slist_append(list, line.c_str());
  }
  for (const char* name : {"Accept", "Content-Type", "Expect", "User-Agent"}) {
    if (FirstHeader(headers, name) == nullptr) {
      list = curl_slist_append(list, (std::string(name) + ":").c_str());
    }
  }
  std::unique_ptr<curl_slist, decltype(&curl_slist_free_all)> listOwner(list, curl_slist_free_all);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, list);

  Capture capture;
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeaderLine);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &capture);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBodyBytes);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &capture);

  // A transfer cut short keeps what arrived, as WinINet's reads do.
  curl_easy_perform(e);
  if (capture.statusLine.empty()) return std::nullopt;
  Response response;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &response.status);
  response.statusLine = std::move(capture.statusLine);
  response.headers = std::move(capture.headers);
  response.body = std::move(capture.body);
  return response;
}

std::optional<Target> ResolveLocation(const Target& current, const std::string& location) {
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> url(curl_url(), curl_url_cleanup);
  if (!url) return std::nullopt;
  const std::string base = current.Origin() + current.path;
  if (curl_url_set(url.get(), CURLUPART_URL, base.c_str(), CURLU_URLENCODE) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_URL, location.c_str(), CURLU_URLENCODE) != CURLUE_OK) {
    return std::nullopt;
  }
  const auto part = [&](CURLUPart which, unsigned flags) -> std::optional<std::string> {
    char* value = nullptr;
    if (curl_url_get(url.get(), which, &value, flags) != CURLUE_OK) return std::nullopt;
    std::string s(value);
    curl_free(value);
    return s;
  };
  const auto scheme = part(CURLUPART_SCHEME, 0);
  const auto host = part(CURLUPART_HOST, 0);
  const auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
  const auto path = part(CURLUPART_PATH, 0);
  const auto query = part(CURLUPART_QUERY, 0);
  if (!scheme || !host || !port || !path) return std::nullopt;
  if (*scheme != "http" && *scheme != "https") return std::nullopt;
  Target next;
  next.secure = *scheme == "https";
  next.host = *host;
  next.port = static_cast<uint16_t>(std::atoi(port->c_str()));
  next.path = query ? *path + "?" + *query : *path;
  return next;
}

bool IsAutoRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307;
}

std::string RawHeaderBlock(const Response& response) {
  std::string block = response.statusLine + "\r\n";
  for (const HeaderLine& h : response.headers) {
    if (h.name == "Status") continue;  // WinINet keeps it out of the block too
    block += h.name + ": " + h.value + "\r\n";
  }
  return block + "\r\n";
}

// The caller's block: lines at CR or LF, empty ones and ones without ":" skipped.
HeaderLines ParseCallerHeaders(const char* headers, uint32_t length) {
  HeaderLines lines;
  if (headers == nullptr) return lines;
  const std::string text(headers, length == ~0u ? std::strlen(headers) : length);
  std::size_t at = 0;
  while (at <= text.size()) {
    const std::size_t end = text.find_first_of("\r\n", at);
    const std::string line =
        text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (auto header = ParseHeaderLine(line)) lines.push_back(std::move(*header));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return lines;
}

class CurlInternetLibrary final : public InternetLibrary {
 public:
  CurlInternetLibrary() { curl_global_init(CURL_GLOBAL_DEFAULT); }

  InternetHandle InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                               const char*, uint32_t) override {
    auto session = std::make_unique<InternetSession>();
    if (agent != nullptr) session->agent = agent;
    if (accessType == INTERNET_OPEN_TYPE_PROXY) session->proxy = ParseProxyList(proxy);
    return static_cast<Handle*>(session.release());
  }

  InternetHandle InternetConnectA(InternetHandle internet, const char* serverName,
                                  uint16_t serverPort, const char*, const char*, uint32_t service,
                                  uint32_t, uintptr_t) override {
    const auto* session = As<InternetSession>(internet, HandleKind::kInternet);
    if (session == nullptr || serverName == nullptr || *serverName == '\0' ||
        service != INTERNET_SERVICE_HTTP) {
      return nullptr;
    }
    auto connection = std::make_unique<Connection>();
    connection->agent = session->agent;
    connection->proxy = session->proxy;
    connection->host = serverName;
    connection->port = serverPort;
    return static_cast<Handle*>(connection.release());
  }

  InternetHandle HttpOpenRequestA(InternetHandle connection, const char* verb,
                                  const char* objectName, const char*, const char*, const char**,
                                  uint32_t flags, uintptr_t) override {
    const auto* c = As<Connection>(connection, HandleKind::kConnection);
    if (c == nullptr) return nullptr;
    auto request = std::make_unique<Request>();
    request->agent = c->agent;
    request->proxy = c->proxy;
    request->host = c->host;
    request->port = c->port;
    request->verb = verb != nullptr && *verb != '\0' ? verb : "GET";
    std::string path = objectName != nullptr ? objectName : "";
    if (path.empty() || (path[0] != '/' && Lowered(path.substr(0, 7)) != "http://")) {
      path.insert(0, "/");
    }
    // WinINet escapes spaces in the object name and nothing else.
    for (std::size_t at = path.find(' '); at != std::string::npos; at = path.find(' ', at)) {
      path.replace(at, 1, "%20");
    }
    request->path = path;
    request->flags = flags;
    return static_cast<Handle*>(request.release());
  }

  bool InternetSetOptionA(InternetHandle handle, uint32_t option, const void* buffer,
                          uint32_t bufferLength) override {
    auto* request = As<Request>(handle, HandleKind::kRequest);
    if (request == nullptr || buffer == nullptr || bufferLength < sizeof(uint32_t)) return false;
    uint32_t milliseconds;
    std::memcpy(&milliseconds, buffer, sizeof milliseconds);
    switch (option) {
      case INTERNET_OPTION_CONNECT_TIMEOUT:
        request->connectTimeoutMs = milliseconds;
        return true;
      case INTERNET_OPTION_SEND_TIMEOUT:
        return true;  // sending stalls are caught by the receive watch below
      case INTERNET_OPTION_RECEIVE_TIMEOUT:
        request->receiveTimeoutMs = milliseconds;
        return true;
      default:
        return false;
    }
  }

  bool HttpSendRequestA(InternetHandle handle, const char* headers, uint32_t headersLength,
                        const void* optional, uint32_t optionalLength) override {
    auto* request = As<Request>(handle, HandleKind::kRequest);
    if (request == nullptr) return false;
    request->response.reset();
    request->readPosition = 0;

    Target target;
    target.secure = (request->flags & INTERNET_FLAG_SECURE) != 0;
    target.host = request->host;
    target.port = request->port != 0 ? request->port : (target.secure ? 443 : 80);
    target.path = request->path;
    std::string verb = request->verb;
    std::string body = optional != nullptr && optionalLength > 0
                           ? std::string(static_cast<const char*>(optional), optionalLength)
                           : std::string();

    HeaderLines lines;
    lines.push_back({"Host", target.HostHeader()});
    if (!body.empty() || verb != "GET") {
      AddHeaderIfNew(lines, "Content-Length", std::to_string(body.size()));
    }
    if (request->agent) AddHeaderIfNew(lines, "User-Agent", *request->agent);
    for (const HeaderLine& line : ParseCallerHeaders(headers, headersLength)) {
      AddOrReplaceHeader(lines, line);
    }

    const bool useCookies = (request->flags & INTERNET_FLAG_NO_COOKIES) == 0;
    const bool followRedirects = (request->flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0;
    for (int redirects = 0;; ++redirects) {
      if (useCookies) {
        const std::string stored = ProcessCookieStore().CookieLineFor(target.host, target.path);
        if (!stored.empty()) AddOrReplaceHeader(lines, {"Cookie", stored});
      }
      std::optional<Response> response = Exchange(*request, target, verb, lines, body);
      if (!response) return false;
      if (useCookies) {
        for (const HeaderLine& h : response->headers) {
          if (EqualsIgnoreCase(h.name, "Set-Cookie")) {
            ProcessCookieStore().TakeSetCookie(target.host, target.path, h.value);
          }
        }
      }

      std::optional<Target> next;
      if (followRedirects && IsAutoRedirect(response->status) && redirects < kMaxAutoRedirects) {
        if (const HeaderLine* location = FirstHeader(response->headers, "Location")) {
          next = ResolveLocation(target, location->value);
        }
      }
      if (next && next->secure != target.secure) {
        const uint32_t allowed = next->secure ? INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
                                              : INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;
        if ((request->flags & allowed) == 0) next.reset();
      }
      if (!next) {
        request->response = std::move(response);
        return true;
      }

      if (verb != "GET" && verb != "HEAD" && response->status != 307) {
        verb = "GET";
        body.clear();
        const auto length = FindHeader(lines, "Content-Length");
        if (length != lines.end()) lines.erase(length);
      }
      target = *next;
      FindHeader(lines, "Host")->value = target.HostHeader();
    }
  }

  bool InternetReadFile(InternetHandle handle, void* buffer, uint32_t bytesToRead,
                        uint32_t* bytesRead) override {
    *bytesRead = 0;
    auto* request = As<Request>(handle, HandleKind::kRequest);
    if (request == nullptr || !request->response) return false;
    const std::string& body = request->response->body;
    const std::size_t n = std::min<std::size_t>(bytesToRead, body.size() - request->readPosition);
    std::memcpy(buffer, body.data() + request->readPosition, n);
    request->readPosition += n;
    *bytesRead = static_cast<uint32_t>(n);
    return true;
  }

  bool HttpQueryInfoA(InternetHandle handle, uint32_t infoLevel, void* buffer,
                      uint32_t* bufferLength, uint32_t*) override {
    auto* request = As<Request>(handle, HandleKind::kRequest);
    if (request == nullptr || !request->response || infoLevel != HTTP_QUERY_RAW_HEADERS_CRLF) {
      return false;
    }
    const std::string block = RawHeaderBlock(*request->response);
    const uint32_t needed = static_cast<uint32_t>(block.size() + 1);
    if (buffer == nullptr || *bufferLength < needed) {
      *bufferLength = needed;
      return false;
    }
    std::memcpy(buffer, block.c_str(), needed);
    *bufferLength = needed - 1;
    return true;
  }

  bool InternetCloseHandle(InternetHandle handle) override {
    if (handle == nullptr) return false;
    delete static_cast<Handle*>(handle);
    return true;
  }
};

}  // namespace

InternetLibrary& PlatformInternetLibrary() {
  static CurlInternetLibrary library;
  return library;
}

}  // namespace taviro
