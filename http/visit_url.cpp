#include "http/visit_url.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "http/charset.h"
#include "http/cookies.h"
#include "http/url_parts.h"

namespace taviro {

const char kDefaultUserAgent[] =
    "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1; KORVA; .NET CLR 2.0.50727; "
    ".NET CLR 3.0.04506.648; .NET CLR 3.5.21022)";

namespace {

constexpr uint32_t kReadPieceSize = 1024;
constexpr uint32_t kRawHeaderBufferSize = 5000;
// Larger header blocks than this are not read at all.
constexpr uint32_t kMaxRawHeaderSize = 1 << 20;
// A typical result page fits without regrowing the buffer piece by piece.
constexpr std::size_t kInitialBodyRoom = 128 * 1024;

// Windows' documented defaults, set explicitly: Wine's WinINet has no send or
// receive timeout at all, and a silent engine must not hold a worker forever.
constexpr uint32_t kConnectTimeoutMs = 60000;
constexpr uint32_t kSendTimeoutMs = 30000;
constexpr uint32_t kReceiveTimeoutMs = 30000;

const Text kUtf8Marker("charset=utf-8");
// The marker counts in a body only when it begins within its first 499 bytes.
constexpr int32_t kLastUtf8MarkerPosition = 499;

class ScopedInternetHandle {
 public:
  ScopedInternetHandle(InternetLibrary& library, InternetHandle handle)
      : library_(library), handle_(handle) {}
  ~ScopedInternetHandle() { Close(); }
  ScopedInternetHandle(const ScopedInternetHandle&) = delete;
  ScopedInternetHandle& operator=(const ScopedInternetHandle&) = delete;

  InternetHandle get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Close() {
    if (handle_ != nullptr) library_.InternetCloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  InternetLibrary& library_;
  InternetHandle handle_;
};

// The variables one call works on: the caller's own, or ours for those the
// caller left out, so that a follow-up sees them as this call left them.
struct CallVariables {
  int32_t method;
  Text postText;
  Text& cookies;
  bool cookiesSupplied;
  Text& returnedCookies;
  Text& extraHeaders;
  Text& location;
  bool noRedirect;
  Bytes& postBytes;
  std::optional<Text> proxy;
  Text& rawHeaders;
};

struct SingleRequest {
  bool opened = false;
  bool movedWithLocation = false;
  Bytes body;
};

Text AgentFor(const Text& extraHeaders) {
  if (FindText(extraHeaders, "User-Agent:", 1, /*ignoreCase=*/true) == -1) {
    return kDefaultUserAgent;
  }
  Text agent = TrimText(TextBetween(extraHeaders, "User-Agent:", "\r\n"));
  // The line is the last one (no CR LF after it) or has no value.
  if (agent.empty()) agent = HeaderValue(extraHeaders);
  return agent;
}

uint32_t RequestFlags(const Text& url, const CallVariables& v) {
  uint32_t flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NEED_FILE;
  if (v.cookiesSupplied) flags |= INTERNET_FLAG_NO_COOKIES;
  if (v.noRedirect) flags |= INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (ToLowerCase(TextLeft(url, 5)) == "https") {
    flags |= INTERNET_FLAG_SECURE;
  } else {
    flags |= INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
  }
  return flags;
}

// Appends the default lines the caller has not written, each search made on
// the block built so far, letter case compared.
void AddDefaultHeaderLines(Text& block, const Text& url, const Text& cookies) {
  if (FindText(block, "Referer:") == -1) {
    block = block.empty() ? JoinText("Referer: ", url) : JoinText(block, "\r\nReferer: ", url);
  }
  if (FindText(block, "Accept:") == -1) block = JoinText(block, "\r\nAccept: */*");
  if (FindText(block, "Accept-Language:") == -1) {
    block = JoinText(block, "\r\nAccept-Language: zh-cn");
  }
  if (FindText(block, "Content-Type:") == -1) {
    block = JoinText(block, "\r\nContent-Type: application/x-www-form-urlencoded");
  }
  // Sent even when the caller's block has a Cookie line of its own.
  if (!cookies.empty()) block = JoinText(block, "\r\nCookie: ", cookies);
}

void SetTimeouts(InternetLibrary& library, InternetHandle request) {
  const struct {
    uint32_t option;
    uint32_t milliseconds;
  } timeouts[] = {{INTERNET_OPTION_CONNECT_TIMEOUT, kConnectTimeoutMs},
                  {INTERNET_OPTION_SEND_TIMEOUT, kSendTimeoutMs},
                  {INTERNET_OPTION_RECEIVE_TIMEOUT, kReceiveTimeoutMs}};
  for (const auto& t : timeouts) {
    library.InternetSetOptionA(request, t.option, &t.milliseconds, sizeof t.milliseconds);
  }
}

Bytes ReadBody(InternetLibrary& library, InternetHandle request) {
  std::string body;
  body.reserve(kInitialBodyRoom);
  for (;;) {
    char piece[kReadPieceSize] = {};
    uint32_t read = 0;
    if (!library.InternetReadFile(request, piece, kReadPieceSize, &read) || read == 0) break;
    body.append(piece, std::min(read, kReadPieceSize));
  }
  return Bytes(body);
}

Text QueryRawHeaders(InternetLibrary& library, InternetHandle request) {
  std::string block(kRawHeaderBufferSize, ' ');
  uint32_t size = kRawHeaderBufferSize;
  bool written = library.HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, block.data(), &size,
                                        nullptr);
  // A block that does not fit reports the size it needs. It is read whole
  // rather than lost together with its Location and Set-Cookie lines.
  if (!written && size > kRawHeaderBufferSize && size <= kMaxRawHeaderSize) {
    block.assign(size + 1, ' ');
    size = static_cast<uint32_t>(block.size());
    written = library.HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, block.data(), &size,
                                     nullptr);
  }
  // Windows fails the query for a request that got no answer; Wine answers an
  // empty block ("\r\n"), which counts as not written so that both look the
  // same. Neither is a buffer without its NUL taken as a block.
  if (!written || std::memchr(block.data(), '\0', block.size()) == nullptr ||
      std::strcmp(block.c_str(), "\r\n") == 0) {
    return BlankText(kRawHeaderBufferSize);
  }
  return Text(block.c_str());
}

// One request and its answer: everything up to the "301" decision.
SingleRequest RequestOnce(InternetLibrary& library, const Text& url, CallVariables& v) {
  SingleRequest result;
  const char* verb = v.method == 1 ? "POST" : "GET";
  const Text agent = AgentFor(v.extraHeaders);

  ScopedInternetHandle internet(
      library, v.proxy ? library.InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PROXY,
                                               JoinText("http=", *v.proxy).c_str(), "", 0)
                       : library.InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_DIRECT, nullptr,
                                               nullptr, 0));
  if (!internet) return result;
  // The library takes a 16-bit port; one outside it would silently become
  // another port, so it counts as a connection that cannot be opened.
  const int32_t port = UrlPort(url);
  ScopedInternetHandle connection(
      library, port >= 0 && port <= 0xFFFF
                   ? library.InternetConnectA(internet.get(), UrlHost(url).c_str(),
                                              static_cast<uint16_t>(port), nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, 0)
                   : nullptr);
  if (!connection) return result;
  ScopedInternetHandle request(
      library, library.HttpOpenRequestA(connection.get(), verb, UrlPath(url).c_str(), "HTTP/1.1",
                                        nullptr, nullptr, RequestFlags(url, v), 0));
  if (!request) return result;
  result.opened = true;
  SetTimeouts(library, request.get());

  AddDefaultHeaderLines(v.extraHeaders, url, v.cookies);
  const Text& block = v.extraHeaders;
  if (v.method == 0) {
    library.HttpSendRequestA(request.get(), block.c_str(), TextLength(block), nullptr, 0);
  } else {
    if (v.postBytes.empty()) v.postBytes = TextToBytes(v.postText);
    library.HttpSendRequestA(request.get(), block.c_str(), TextLength(block), v.postBytes.data(),
                             BytesLength(v.postBytes));
  }

  result.body = ReadBody(library, request.get());
  v.rawHeaders = QueryRawHeaders(library, request.get());
  request.Close();
  connection.Close();
  internet.Close();

  bool sawLocation = false;
  v.returnedCookies = Text();
  const TextArray lines = SplitText(v.rawHeaders, "\r\n");
  for (int32_t i = 1; i <= ArraySize(lines); ++i) {
    const Text& line = ArrayItem(lines, i);
    if (FindText(line, "Location:") != -1) {
      v.location = HeaderValue(line);
      sawLocation = true;
    }
    if (FindText(line, "Set-Cookie") != -1) {
      v.returnedCookies =
          JoinText(v.returnedCookies, TrimText(TextBetween(line, "Set-Cookie:", ";")), "; ");
    }
  }
  if (v.cookiesSupplied) MergeCookies(v.cookies, v.returnedCookies);
  if (v.location.empty()) v.location = v.rawHeaders;

  result.movedWithLocation =
      sawLocation && TextBetween(v.rawHeaders, "HTTP/1.1 ", " Moved") == "301";
  return result;
}

bool AnnouncesUtf8(const Bytes& body, const Text& rawHeaders) {
  const int32_t at = FindBytes(body, TextToBytes(kUtf8Marker));
  if (at >= 1 && at <= kLastUtf8MarkerPosition) return true;
  return FindText(rawHeaders, kUtf8Marker) != -1;
}

}  // namespace

Bytes VisitUrlThrough(InternetLibrary& library, const Text& url, std::optional<int32_t> method,
                      std::optional<Text> postText, Text* cookies, Text* returnedCookies,
                      Text* extraHeaders, Text* location, std::optional<bool> noRedirect,
                      Bytes* postBytes, std::optional<Text> proxy, Text* rawHeaders) {
  Text ownCookies, ownReturnedCookies, ownExtraHeaders, ownLocation, ownRawHeaders;
  Bytes ownPostBytes;
  CallVariables v{method.value_or(0),
                  postText.value_or(Text()),
                  cookies != nullptr ? *cookies : ownCookies,
                  cookies != nullptr,
                  returnedCookies != nullptr ? *returnedCookies : ownReturnedCookies,
                  extraHeaders != nullptr ? *extraHeaders : ownExtraHeaders,
                  location != nullptr ? *location : ownLocation,
                  noRedirect.value_or(false),
                  postBytes != nullptr ? *postBytes : ownPostBytes,
                  std::move(proxy),
                  rawHeaders != nullptr ? *rawHeaders : ownRawHeaders};

  Text current = url;
  for (int followUps = 0;; ++followUps) {
    SingleRequest answer = RequestOnce(library, current, v);
    if (!answer.opened) return Bytes();
    if (answer.movedWithLocation && followUps < kMaxMovedFollowUps) {
      // The new address is the Location value with the current path appended.
      current = JoinText(v.location, UrlPath(current));
      v.location = Text();
      continue;
    }
    if (AnnouncesUtf8(answer.body, v.rawHeaders)) return Utf8ToGbk(answer.body);
    return std::move(answer.body);
  }
}

Bytes VisitUrl(const Text& url, std::optional<int32_t> method, std::optional<Text> postText,
               Text* cookies, Text* returnedCookies, Text* extraHeaders, Text* location,
               std::optional<bool> noRedirect, Bytes* postBytes, std::optional<Text> proxy,
               Text* rawHeaders) {
  return VisitUrlThrough(PlatformInternetLibrary(), url, method, std::move(postText), cookies,
                         returnedCookies, extraHeaders, location, noRedirect, postBytes,
                         std::move(proxy), rawHeaders);
}

}  // namespace taviro
