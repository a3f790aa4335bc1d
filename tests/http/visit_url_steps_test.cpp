// VisitUrl's own steps, over a scripted internet library that records every
// call: the arguments and order of the calls, the header block, the flags,
// the handling of failed opens and failed queries, and the header parsing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "http/visit_url.h"
#include "tests/http/print_text.h"

namespace taviro {
namespace {

const char kUrl[] = "http://www.example.com:8080/p?q=1";
const char kDefaultBlockFor[] =
    "Referer: http://www.example.com:8080/p?q=1\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
    "Content-Type: application/x-www-form-urlencoded";

// One scripted answer: the body pieces InternetReadFile hands out and the
// raw header block HttpQueryInfoA reports.
struct ScriptedAnswer {
  std::vector<std::string> pieces;
  std::string rawHeaders = "HTTP/1.1 200 OK\r\n\r\n";
  bool queryFails = false;
  bool queryWritesNoNul = false;  // fills the whole buffer, reports success
  bool readFails = false;         // after the pieces
};

class RecordingLibrary final : public InternetLibrary {
 public:
  std::vector<std::string> calls;
  bool failOpen = false, failConnect = false, failRequest = false;
  std::deque<ScriptedAnswer> answers;  // one per request; the last repeats

  // What the requests sent.
  std::vector<std::string> agents, proxies, hosts, paths, verbs, blocks, bodies;
  std::vector<uint32_t> accessTypes, flags, queryBufferSizes;
  std::vector<uint16_t> ports;

  InternetHandle InternetOpenA(const char* agent, uint32_t accessType, const char* proxy,
                               const char* bypass, uint32_t openFlags) override {
    calls.push_back("InternetOpenA");
    agents.push_back(agent);
    accessTypes.push_back(accessType);
    proxies.push_back(proxy == nullptr ? "(null)" : proxy);
    EXPECT_EQ(accessType == 3 ? std::string("") : std::string("(null)"),
              bypass == nullptr ? "(null)" : bypass);
    EXPECT_EQ(openFlags, 0u);
    return failOpen ? nullptr : Handle(1);
  }
  InternetHandle InternetConnectA(InternetHandle internet, const char* host, uint16_t port,
                                  const char* user, const char* password, uint32_t service,
                                  uint32_t connectFlags, uintptr_t context) override {
    calls.push_back("InternetConnectA");
    EXPECT_EQ(internet, Handle(1));
    EXPECT_EQ(user, nullptr);
    EXPECT_EQ(password, nullptr);
    EXPECT_EQ(service, INTERNET_SERVICE_HTTP);
    EXPECT_EQ(connectFlags, 0u);
    EXPECT_EQ(context, 0u);
    hosts.push_back(host);
    ports.push_back(port);
    return failConnect ? nullptr : Handle(2);
  }
  InternetHandle HttpOpenRequestA(InternetHandle connection, const char* verb, const char* path,
                                  const char* version, const char* referrer,
                                  const char** acceptTypes, uint32_t requestFlags,
                                  uintptr_t context) override {
    calls.push_back("HttpOpenRequestA");
    EXPECT_EQ(connection, Handle(2));
    EXPECT_STREQ(version, "HTTP/1.1");
    EXPECT_EQ(referrer, nullptr);
    EXPECT_EQ(acceptTypes, nullptr);
    EXPECT_EQ(context, 0u);
    verbs.push_back(verb);
    paths.push_back(path);
    flags.push_back(requestFlags);
    return failRequest ? nullptr : Handle(3);
  }
  bool InternetSetOptionA(InternetHandle handle, uint32_t option, const void* buffer,
                          uint32_t length) override {
    EXPECT_EQ(handle, Handle(3));
    EXPECT_EQ(length, 4u);
    uint32_t value;
    std::memcpy(&value, buffer, sizeof value);
    calls.push_back("InternetSetOptionA " + std::to_string(option) + "=" + std::to_string(value));
    return true;
  }
  bool HttpSendRequestA(InternetHandle request, const char* headers, uint32_t headersLength,
                        const void* optional, uint32_t optionalLength) override {
    calls.push_back("HttpSendRequestA");
    EXPECT_EQ(request, Handle(3));
    EXPECT_EQ(std::strlen(headers), headersLength);
    blocks.emplace_back(headers, headersLength);
    bodies.emplace_back(optionalLength == 0 ? "" : static_cast<const char*>(optional),
                        optionalLength);
    current_ = answers.empty() ? ScriptedAnswer() : answers.front();
    if (answers.size() > 1) answers.pop_front();
    return true;
  }
  bool InternetReadFile(InternetHandle request, void* buffer, uint32_t toRead,
                        uint32_t* read) override {
    calls.push_back("InternetReadFile");
    EXPECT_EQ(request, Handle(3));
    EXPECT_EQ(toRead, 1024u);
    *read = 0;
    if (current_.pieces.empty()) return !current_.readFails;
    const std::string piece = current_.pieces.front();
    current_.pieces.erase(current_.pieces.begin());
    std::memcpy(buffer, piece.data(), piece.size());
    *read = static_cast<uint32_t>(piece.size());
    return true;
  }
  bool HttpQueryInfoA(InternetHandle request, uint32_t level, void* buffer, uint32_t* length,
                      uint32_t* index) override {
    calls.push_back("HttpQueryInfoA");
    EXPECT_EQ(request, Handle(3));
    EXPECT_EQ(level, HTTP_QUERY_RAW_HEADERS_CRLF);
    EXPECT_EQ(index, nullptr);
    queryBufferSizes.push_back(*length);
    if (current_.queryFails) return false;
    if (current_.queryWritesNoNul) {
      std::memset(buffer, 'h', *length);
      return true;
    }
    // As WinINet: a block that does not fit with its NUL is not written.
    const uint32_t needed = static_cast<uint32_t>(current_.rawHeaders.size() + 1);
    if (needed > *length) {
      *length = needed;
      return false;
    }
    std::memcpy(buffer, current_.rawHeaders.c_str(), needed);
    return true;
  }
  bool InternetCloseHandle(InternetHandle handle) override {
    calls.push_back("InternetCloseHandle " +
                    std::to_string(reinterpret_cast<uintptr_t>(handle)));
    return true;
  }

  static InternetHandle Handle(uintptr_t n) { return reinterpret_cast<InternetHandle>(n); }

 private:
  ScriptedAnswer current_;
};

ScriptedAnswer Answer(std::string rawHeaders, std::vector<std::string> pieces = {}) {
  ScriptedAnswer a;
  a.rawHeaders = std::move(rawHeaders);
  a.pieces = std::move(pieces);
  return a;
}

TEST(VisitUrlStepsTest, CallsTheLibraryInOrder) {
  RecordingLibrary library;
  library.answers.push_back(Answer("HTTP/1.1 200 OK\r\n\r\n", {"hello ", "world"}));
  const Bytes body = VisitUrlThrough(library, kUrl);

  EXPECT_EQ(body.view(), "hello world");
  const std::vector<std::string> expected = {
      "InternetOpenA",        "InternetConnectA",       "HttpOpenRequestA",
      "InternetSetOptionA 2=60000", "InternetSetOptionA 5=30000", "InternetSetOptionA 6=30000",
      "HttpSendRequestA",     "InternetReadFile",       "InternetReadFile",
      "InternetReadFile",     "HttpQueryInfoA",         "InternetCloseHandle 3",
      "InternetCloseHandle 2", "InternetCloseHandle 1"};
  EXPECT_EQ(library.calls, expected);
  EXPECT_EQ(library.agents[0], kDefaultUserAgent);
  EXPECT_EQ(library.accessTypes[0], INTERNET_OPEN_TYPE_DIRECT);
  EXPECT_EQ(library.proxies[0], "(null)");
  EXPECT_EQ(library.hosts[0], "www.example.com");
  EXPECT_EQ(library.ports[0], 8080);
  EXPECT_EQ(library.verbs[0], "GET");
  EXPECT_EQ(library.paths[0], "/p?q=1");
  EXPECT_EQ(library.blocks[0], kDefaultBlockFor);
  EXPECT_EQ(library.bodies[0], "");
}

TEST(VisitUrlStepsTest, RequestFlags) {
  const uint32_t always = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NEED_FILE;
  const struct {
    const char* url;
    bool supplyCookies;
    bool noRedirect;
    uint32_t flags;
  } cases[] = {
      {"http://a.com/", false, false, always | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS},
      {"HTTPS://a.com/", false, false, always | INTERNET_FLAG_SECURE},
      {"http://a.com/", true, false,
       always | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS | INTERNET_FLAG_NO_COOKIES},
      {"https://a.com/", true, true,
       always | INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTO_REDIRECT},
      // An empty cookie text supplied still switches the library's cookies off.
      {"a.com/", true, false,
       always | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS | INTERNET_FLAG_NO_COOKIES},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    RecordingLibrary library;
    Text cookies;
    VisitUrlThrough(library, c.url, std::nullopt, std::nullopt,
                    c.supplyCookies ? &cookies : nullptr, nullptr, nullptr, nullptr,
                    c.noRedirect);
    ASSERT_EQ(library.flags.size(), 1u);
    EXPECT_EQ(library.flags[0], c.flags);
  }
}

TEST(VisitUrlStepsTest, ProxyGoesIntoTheProxyList) {
  RecordingLibrary library;
  VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr, nullptr, nullptr, nullptr,
                  std::nullopt, nullptr, Text("127.0.0.1:8888"));
  EXPECT_EQ(library.accessTypes[0], INTERNET_OPEN_TYPE_PROXY);
  EXPECT_EQ(library.proxies[0], "http=127.0.0.1:8888");
}

TEST(VisitUrlStepsTest, AgentFromTheCallersHeaderLines) {
  const struct {
    const char* headers;
    const char* agent;
  } cases[] = {
      {"", kDefaultUserAgent},
      {"user-agent: Mine/1.0\r\nX-A: 1", "Mine/1.0"},
      {"X-A: 1\r\nUSER-AGENT:   Padded  \r\nZ: 1", "Padded"},
      // The last line, or one without value: the value after the first colon
      // of the whole header text.
      {"User-Agent: Solo/2", "Solo/2"},
      {"Referer: r\r\nUser-Agent:", "r\r\nUser-Agent:"},
      // A name that merely ends in the word counts too.
      {"X-User-Agent: Other\r\nA: b", "Other"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.headers);
    RecordingLibrary library;
    Text headers = c.headers;
    VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr, nullptr, &headers);
    EXPECT_EQ(library.agents[0], c.agent);
  }
}

TEST(VisitUrlStepsTest, DefaultHeaderLines) {
  const std::string referer = std::string("Referer: ") + kUrl;
  const std::string tail = "\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
                           "Content-Type: application/x-www-form-urlencoded";
  const struct {
    const char* name;
    const char* headers;
    const char* cookies;  // nullptr: not supplied
    std::string block;
  } cases[] = {
      {"none given", "", nullptr, referer + tail},
      {"caller's lines first", "X-A: 1", nullptr, "X-A: 1\r\n" + referer + tail},
      {"other letter case is not recognised", "referer: r\r\naccept: text/html", nullptr,
       "referer: r\r\naccept: text/html\r\n" + referer + tail},
      {"all four given", "Referer: r\r\nAccept: a\r\nAccept-Language: en\r\nContent-Type: t",
       nullptr, "Referer: r\r\nAccept: a\r\nAccept-Language: en\r\nContent-Type: t"},
      {"Accept-Language is no Accept line", "Accept-Language: en", nullptr,
       "Accept-Language: en\r\n" + referer +
           "\r\nAccept: */*\r\nContent-Type: application/x-www-form-urlencoded"},
      {"cookie line appended beside the caller's", "Cookie: z=9", "a=1",
       "Cookie: z=9\r\n" + referer + tail + "\r\nCookie: a=1"},
      {"empty cookies add no line", "", "", referer + tail},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingLibrary library;
    Text headers = c.headers;
    Text cookies = c.cookies != nullptr ? c.cookies : "";
    VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt,
                    c.cookies != nullptr ? &cookies : nullptr, nullptr, &headers);
    EXPECT_EQ(library.blocks[0], c.block);
    EXPECT_EQ(headers.view(), c.block);  // the caller's variable receives the block
  }
}

TEST(VisitUrlStepsTest, MethodAndBody) {
  const struct {
    const char* name;
    int32_t method;
    const char* postText;
    std::string postBytes;
    const char* verb;
    std::string sent;
    std::string postBytesAfter;
  } cases[] = {
      {"GET sends no body", 0, "ignored", "", "GET", "", ""},
      {"POST fills postBytes from postText", 1, "q=1&w=2", "", "POST", "q=1&w=2", "q=1&w=2"},
      {"postBytes win over postText", 1, "text", std::string("b\0b", 3), "POST",
       std::string("b\0b", 3), std::string("b\0b", 3)},
      {"other methods: GET with a body", 2, "q=1", "", "GET", "q=1", "q=1"},
      {"POST with nothing to send", 1, "", "", "POST", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingLibrary library;
    Bytes postBytes(c.postBytes);
    VisitUrlThrough(library, kUrl, c.method, Text(c.postText), nullptr, nullptr, nullptr,
                    nullptr, std::nullopt, &postBytes);
    EXPECT_EQ(library.verbs[0], c.verb);
    EXPECT_EQ(library.bodies[0], c.sent);
    EXPECT_EQ(postBytes.view(), c.postBytesAfter);
  }
}

TEST(VisitUrlStepsTest, FailedOpensCloseWhatIsOpenAndChangeNothing) {
  const struct {
    const char* name;
    bool failOpen, failConnect, failRequest;
    std::vector<std::string> calls;
  } cases[] = {
      {"internet handle", true, false, false, {"InternetOpenA"}},
      {"connection", false, true, false,
       {"InternetOpenA", "InternetConnectA", "InternetCloseHandle 1"}},
      {"request", false, false, true,
       {"InternetOpenA", "InternetConnectA", "HttpOpenRequestA", "InternetCloseHandle 2",
        "InternetCloseHandle 1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingLibrary library;
    library.failOpen = c.failOpen;
    library.failConnect = c.failConnect;
    library.failRequest = c.failRequest;
    Text cookies = "c=1", returned = "r", headers = "X: 1", location = "l", raw = "raw";
    Bytes postBytes;
    const Bytes body = VisitUrlThrough(library, kUrl, 1, Text("p=1"), &cookies, &returned,
                                       &headers, &location, true, &postBytes, Text("proxy:1"),
                                       &raw);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(library.calls, c.calls);
    EXPECT_EQ(cookies, Text("c=1"));
    EXPECT_EQ(returned, Text("r"));
    EXPECT_EQ(headers, Text("X: 1"));
    EXPECT_EQ(location, Text("l"));
    EXPECT_EQ(raw, Text("raw"));
    EXPECT_TRUE(postBytes.empty());
  }
}

TEST(VisitUrlStepsTest, PortOutsideSixteenBitsIsNoConnection) {
  for (const char* url : {"http://a.com:70000/x", "http://a.com:-1/x"}) {
    SCOPED_TRACE(url);
    RecordingLibrary library;
    Text headers = "X: 1";
    EXPECT_TRUE(VisitUrlThrough(library, url, std::nullopt, std::nullopt, nullptr, nullptr,
                                &headers)
                    .empty());
    EXPECT_EQ(library.calls, (std::vector<std::string>{"InternetOpenA", "InternetCloseHandle 1"}));
    EXPECT_EQ(headers, Text("X: 1"));
  }
}

TEST(VisitUrlStepsTest, ReadsUntilACountOfZeroOrAFailedRead) {
  RecordingLibrary library;
  ScriptedAnswer a = Answer("HTTP/1.1 200 OK\r\n\r\n",
                            {std::string(1024, 'x'), std::string("\0y", 2), "z"});
  a.readFails = true;
  library.answers.push_back(a);
  const Bytes body = VisitUrlThrough(library, kUrl);
  EXPECT_EQ(body.view(), std::string(1024, 'x') + std::string("\0y", 2) + "z");
}

TEST(VisitUrlStepsTest, FailedHeaderQueryLeavesFiveThousandSpaces) {
  RecordingLibrary library;
  ScriptedAnswer a = Answer("", {"body"});
  a.queryFails = true;
  library.answers.push_back(a);
  Text location, raw, returned = "stale";
  const Bytes body = VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr,
                                     &returned, nullptr, &location, std::nullopt, nullptr,
                                     std::nullopt, &raw);
  EXPECT_EQ(body.view(), "body");
  EXPECT_EQ(raw, BlankText(5000));
  EXPECT_EQ(location, BlankText(5000));
  EXPECT_EQ(returned, Text());
}

// Wine's WinINet answers an empty block where Windows fails the query for a
// request without answer; a buffer filled without NUL is no block either.
TEST(VisitUrlStepsTest, BlocksWindowsWouldNotWriteCountAsUnwritten) {
  for (const bool noNul : {true, false}) {
    SCOPED_TRACE(noNul ? "no NUL" : "empty block");
    RecordingLibrary library;
    ScriptedAnswer a = Answer("\r\n", {"body"});
    a.queryWritesNoNul = noNul;
    library.answers.push_back(a);
    Text raw, location;
    VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr, nullptr, nullptr,
                    &location, std::nullopt, nullptr, std::nullopt, &raw);
    EXPECT_EQ(raw, BlankText(5000));
    EXPECT_EQ(location, BlankText(5000));
  }
}

TEST(VisitUrlStepsTest, LargeHeaderBlockIsReadWhole) {
  const std::string big = "HTTP/1.1 301 Moved Permanently\r\nX-Pad: " + std::string(6000, 'p') +
                          "\r\nSet-Cookie: s=1; Path=/\r\nLocation: http://next.com\r\n\r\n";
  RecordingLibrary library;
  library.answers.push_back(Answer(big, {"first"}));
  library.answers.push_back(Answer("HTTP/1.1 200 OK\r\n\r\n", {"second"}));
  Text raw, returned;
  const Bytes body = VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr,
                                     &returned, nullptr, nullptr, true, nullptr, std::nullopt, &raw);
  // First the 5000-byte buffer, then one of the size the library asked for.
  ASSERT_GE(library.queryBufferSizes.size(), 2u);
  EXPECT_EQ(library.queryBufferSizes[0], 5000u);
  EXPECT_GE(library.queryBufferSizes[1], big.size() + 1);
  // Its Location was seen, so the "301" was followed.
  EXPECT_EQ(body.view(), "second");
  EXPECT_EQ(library.hosts.back(), "next.com");
}

TEST(VisitUrlStepsTest, HeaderLinesSetLocationAndReturnedCookies) {
  const struct {
    const char* name;
    const char* raw;
    const char* locationBefore;
    const char* location;  // nullptr: the raw block itself
    const char* returned;
  } cases[] = {
      {"two cookies, each followed by \"; \"",
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; Path=/\r\nSet-Cookie:  b=2 ;HttpOnly\r\n\r\n", "",
       nullptr, "a=1; b=2; "},
      {"a Set-Cookie line without \";\" adds an empty pair",
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n", "", nullptr, "; "},
      {"Set-Cookie in other letter case is not seen", "HTTP/1.1 200 OK\r\nset-cookie: a=1;\r\n\r\n",
       "", nullptr, ""},
      {"Content-Location counts, a later line replaces an earlier one",
       "HTTP/1.1 200 OK\r\nLocation: http://a/1\r\nContent-Location: /c\r\n\r\n", "", "/c", ""},
      {"location is not cleared beforehand", "HTTP/1.1 200 OK\r\n\r\n", "kept", "kept", ""},
      {"location in other letter case is not seen", "HTTP/1.1 200 OK\r\nlocation: /x\r\n\r\n",
       "", nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingLibrary library;
    library.answers.push_back(Answer(c.raw));
    Text location = c.locationBefore, returned, raw;
    VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr, &returned, nullptr,
                    &location, std::nullopt, nullptr, std::nullopt, &raw);
    EXPECT_EQ(raw, Text(c.raw));
    EXPECT_EQ(location, Text(c.location != nullptr ? c.location : c.raw));
    EXPECT_EQ(returned, Text(c.returned));
  }
}

TEST(VisitUrlStepsTest, SuppliedCookiesAreMerged) {
  RecordingLibrary library;
  library.answers.push_back(
      Answer("HTTP/1.1 200 OK\r\nSet-Cookie: b=3; Path=/\r\nSet-Cookie: c=4\r\n\r\n"));
  Text cookies = "a=1; b=2", returned;
  VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, &cookies, &returned);
  // "c=4" had no ";": an empty pair was returned, and the merge carries it.
  EXPECT_EQ(cookies, Text("b=3; ; a=1"));
  EXPECT_EQ(returned, Text("b=3;;"));
}

TEST(VisitUrlStepsTest, MovedFollowUpUsesLocationPlusCurrentPath) {
  RecordingLibrary library;
  library.answers.push_back(Answer(
      "HTTP/1.1 301 Moved Permanently\r\nLocation: http://other.com:81\r\n\r\n", {"moved"}));
  library.answers.push_back(Answer("HTTP/1.1 200 OK\r\n\r\n", {"final"}));
  Text headers, location;
  const Bytes body = VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr,
                                     nullptr, &headers, &location, true);
  EXPECT_EQ(body.view(), "final");
  ASSERT_EQ(library.hosts.size(), 2u);
  EXPECT_EQ(library.hosts[1], "other.com");
  EXPECT_EQ(library.ports[1], 81);
  EXPECT_EQ(library.paths[1], "/p?q=1");
  // The follow-up names the first address as its referrer.
  EXPECT_EQ(library.blocks[1], kDefaultBlockFor);
  EXPECT_EQ(location, Text("HTTP/1.1 200 OK\r\n\r\n"));
}

TEST(VisitUrlStepsTest, OnlyAnExactHttp11MovedIsFollowed) {
  const struct {
    const char* statusLine;
    bool followed;
  } cases[] = {
      {"HTTP/1.1 301 Moved Permanently", true},
      {"HTTP/1.1 301 moved permanently", true},
      {"HTTP/1.1 301 Permanently Moved", false},
      {"HTTP/1.0 301 Moved Permanently", false},
      {"HTTP/1.1 302 Moved Temporarily", false},
      {"HTTP/1.1 301", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statusLine);
    RecordingLibrary library;
    library.answers.push_back(
        Answer(std::string(c.statusLine) + "\r\nLocation: http://b.com\r\n\r\n", {"first"}));
    library.answers.push_back(Answer("HTTP/1.1 200 OK\r\n\r\n", {"second"}));
    const Bytes body = VisitUrlThrough(library, kUrl);
    EXPECT_EQ(body.view(), c.followed ? "second" : "first");
  }
}

TEST(VisitUrlStepsTest, MovedChainStopsAfterTenFollowUps) {
  RecordingLibrary library;
  library.answers.push_back(
      Answer("HTTP/1.1 301 Moved Permanently\r\nLocation: http://loop.com\r\n\r\n", {"again"}));
  Text location;
  const Bytes body = VisitUrlThrough(library, "http://loop.com/x", std::nullopt, std::nullopt,
                                     nullptr, nullptr, nullptr, &location);
  EXPECT_EQ(body.view(), "again");
  EXPECT_EQ(library.verbs.size(), static_cast<std::size_t>(kMaxMovedFollowUps + 1));
  EXPECT_EQ(location, Text("http://loop.com"));
}

TEST(VisitUrlStepsTest, MovedWithoutLocationReturnsItsBody) {
  RecordingLibrary library;
  library.answers.push_back(Answer("HTTP/1.1 301 Moved Permanently\r\n\r\n", {"stay"}));
  Text location;
  const Bytes body = VisitUrlThrough(library, kUrl, std::nullopt, std::nullopt, nullptr, nullptr,
                                     nullptr, &location);
  EXPECT_EQ(body.view(), "stay");
  EXPECT_EQ(library.verbs.size(), 1u);
  EXPECT_EQ(location, Text("HTTP/1.1 301 Moved Permanently\r\n\r\n"));
}

}  // namespace
}  // namespace taviro
