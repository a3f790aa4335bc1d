// VisitUrl against a real HTTP server on loopback (tests/http/test_server.py,
// started around this program). The same cases run on both targets: with
// WinINet itself on win32 and with the libcurl stand-in on the host, so a
// difference between the two shows up here.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http/transport.h"
#include "http/visit_url.h"
#include "tests/http/test_server_client.h"
#include "tests/http/print_text.h"

namespace taviro {
namespace {

using testing::CannedResponse;
using testing::FillBytes;
using testing::RecordedRequest;
using testing::TestServer;

const TestServer& Server() {
  static const std::optional<TestServer> server = TestServer::FromEnvironment();
  if (!server) {
    ADD_FAILURE() << "TAVIRO_TEST_SERVER_PORT is not set: run this program through "
                     "tests/http/test_server.py";
    std::abort();
  }
  return *server;
}

std::string Origin() { return Server().Url(""); }

// "{origin}" stands for "http://127.0.0.1:<port>", "{hostport}" for
// "127.0.0.1:<port>" and "{closed}" for a port nothing listens on.
std::string Expand(std::string s) {
  const struct {
    const char* mark;
    std::function<std::string()> value;
  } marks[] = {{"{origin}", [] { return Origin(); }},
               {"{hostport}", [] { return "127.0.0.1:" + std::to_string(Server().port()); }},
               {"{closed}", [] { return std::to_string(Server().ClosedPort()); }}};
  for (const auto& m : marks) {
    for (std::size_t at = s.find(m.mark); at != std::string::npos; at = s.find(m.mark, at)) {
      const std::string value = m.value();
      s.replace(at, std::strlen(m.mark), value);
      at += value.size();
    }
  }
  return s;
}

std::string Ok(const std::string& body, const std::string& extraLines = "") {
  return "HTTP/1.1 200 OK\r\n" + extraLines + "Content-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body;
}

std::string Head(const std::string& raw) { return raw.substr(0, raw.find("\r\n\r\n") + 4); }

struct Route {
  std::string path;
  CannedResponse response;
  bool append = false;
};

Route R(std::string path, std::string raw) { return {std::move(path), {std::move(raw)}}; }

struct Call {
  std::string url;
  std::optional<int32_t> method;
  std::optional<std::string> postText;
  std::optional<std::string> cookies;  // supplied when set
  std::string extraHeaders;
  bool noRedirect = false;
  std::optional<std::string> proxy;

  Call& Method(int32_t m) { method = m; return *this; }
  Call& PostText(std::string t) { postText = std::move(t); return *this; }
  Call& Cookies(std::string c) { cookies = std::move(c); return *this; }
  Call& ExtraHeaders(std::string h) { extraHeaders = std::move(h); return *this; }
  Call& NoRedirect() { noRedirect = true; return *this; }
  Call& Proxy(std::string p) { proxy = std::move(p); return *this; }
};

Call To(std::string url) {
  Call c;
  c.url = std::move(url);
  return c;
}

struct Outcome {
  Bytes body;
  Text cookies, returned, headers, location, raw;
  Bytes postBytes;
  std::vector<RecordedRequest> requests;
};

Outcome Perform(const std::vector<Route>& routes, const Call& call) {
  Server().Reset();
  for (const Route& r : routes) {
    CannedResponse response = r.response;
    response.raw = Expand(response.raw);
    if (r.append) {
      Server().AppendRoute(r.path, response);
    } else {
      Server().Route(r.path, response);
    }
  }
  Outcome o;
  o.cookies = Text(call.cookies.value_or(""));
  o.headers = Text(call.extraHeaders);
  std::optional<Text> proxy;
  if (call.proxy) proxy = Text(Expand(*call.proxy));
  std::optional<Text> postText;
  if (call.postText) postText = Text(*call.postText);
  o.body = VisitUrl(Text(Expand(call.url)), call.method, postText,
                    call.cookies ? &o.cookies : nullptr, &o.returned, &o.headers, &o.location,
                    call.noRedirect, &o.postBytes, proxy, &o.raw);
  for (const std::string& raw : Server().Requests()) {
    o.requests.push_back(RecordedRequest::Parse(raw));
  }
  return o;
}

using Values = std::vector<std::string>;

struct ServerCase {
  const char* name;
  std::vector<Route> routes;
  Call call;
  std::function<void(const Outcome&)> check;
};

void RunCases(const std::vector<ServerCase>& cases) {
  for (const ServerCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = Perform(c.routes, c.call);
    c.check(o);
  }
}

// --- The request ------------------------------------------------------------

TEST(VisitUrlServerTest, Request) {
  const std::string defaultBlock =
      "Referer: {origin}/plain\r\nAccept: */*\r\nAccept-Language: zh-cn\r\n"
      "Content-Type: application/x-www-form-urlencoded";
  RunCases({
      {"default header lines, in order, GET with Content-Type too",
       {R("/plain", Ok("ok"))},
       To("{origin}/plain"),
       [&](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "ok");
         EXPECT_EQ(o.headers.view(), Expand(defaultBlock));
         ASSERT_EQ(o.requests.size(), 1u);
         const RecordedRequest& r = o.requests[0];
         EXPECT_EQ(r.requestLine, "GET /plain HTTP/1.1");
         EXPECT_EQ(r.Values("User-Agent"), Values{kDefaultUserAgent});
         EXPECT_EQ(r.Values("Host"), Values{Expand("{hostport}")});
         // The four lines are sent as they stand in the block, in its order.
         std::size_t next = 0;
         for (const char* line : {"Referer: {origin}/plain", "Accept: */*",
                                  "Accept-Language: zh-cn",
                                  "Content-Type: application/x-www-form-urlencoded"}) {
           const auto it = std::find(r.headerLines.begin() + next, r.headerLines.end(),
                                     Expand(line));
           ASSERT_NE(it, r.headerLines.end()) << line;
           next = static_cast<std::size_t>(it - r.headerLines.begin()) + 1;
         }
         EXPECT_EQ(r.body, "");
       }},
      {"a caller's User-Agent in any letter case replaces the agent",
       {R("/agent", Ok("ok"))},
       To("{origin}/agent").ExtraHeaders("user-agent: Mine/1.0\r\nX-Extra: 1"),
       [](const Outcome& o) {
         ASSERT_EQ(o.requests.size(), 1u);
         EXPECT_EQ(o.requests[0].Values("User-Agent"), Values{"Mine/1.0"});
         EXPECT_EQ(o.requests[0].Values("X-Extra"), Values{"1"});
       }},
      {"supplied cookies go out as a Cookie line",
       {R("/cookie-line", Ok("ok"))},
       To("{origin}/cookie-line").Cookies("a=1; b=2"),
       [](const Outcome& o) {
         ASSERT_EQ(o.requests.size(), 1u);
         EXPECT_EQ(o.requests[0].Values("Cookie"), Values{"a=1; b=2"});
       }},
      {"POST sends postText and fills postBytes",
       {R("/form", Ok("posted"))},
       To("{origin}/form").Method(1).PostText("q=1&w=2"),
       [](const Outcome& o) {
         ASSERT_EQ(o.requests.size(), 1u);
         EXPECT_EQ(o.requests[0].requestLine, "POST /form HTTP/1.1");
         EXPECT_EQ(o.requests[0].body, "q=1&w=2");
         EXPECT_EQ(o.requests[0].Values("Content-Length"), Values{"7"});
         EXPECT_EQ(o.postBytes.view(), "q=1&w=2");
         EXPECT_EQ(o.body.view(), "posted");
       }},
      {"method 2 sends the body with GET",
       {R("/form", Ok("ok"))},
       To("{origin}/form").Method(2).PostText("q=1"),
       [](const Outcome& o) {
         ASSERT_EQ(o.requests.size(), 1u);
         EXPECT_EQ(o.requests[0].requestLine, "GET /form HTTP/1.1");
         EXPECT_EQ(o.requests[0].body, "q=1");
         EXPECT_EQ(o.requests[0].Values("Content-Length"), Values{"3"});
       }},
      {"POST with nothing to send",
       {R("/form", Ok("ok"))},
       To("{origin}/form").Method(1),
       [](const Outcome& o) {
         ASSERT_EQ(o.requests.size(), 1u);
         EXPECT_EQ(o.requests[0].requestLine, "POST /form HTTP/1.1");
         EXPECT_EQ(o.requests[0].body, "");
         EXPECT_EQ(o.requests[0].Values("Content-Length"), Values{"0"});
       }},
      {"through an http proxy the request names the whole address",
       {R("/via?x=1", Ok("proxied"))},
       To("http://proxied.example/via?x=1").Proxy("{hostport}"),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "proxied");
         ASSERT_EQ(o.requests.size(), 1u);
         const std::string& line = o.requests[0].requestLine;
         EXPECT_EQ(line.rfind("GET http://proxied.example", 0), 0u) << line;
         EXPECT_NE(line.find("/via?x=1 HTTP/1.1"), std::string::npos) << line;
       }},
  });
}

// --- What the response sets -------------------------------------------------

TEST(VisitUrlServerTest, ResponseHeaders) {
  const std::string twoCookies =
      Ok("ok", "Set-Cookie: sa=1; Path=/cookie-out\r\nSet-Cookie: sb=2; Path=/cookie-out\r\n");
  RunCases({
      {"returned cookies, raw block as the server sent it, location falls back to it",
       {R("/cookie-out", twoCookies)},
       To("{origin}/cookie-out"),
       [&](const Outcome& o) {
         EXPECT_EQ(o.returned, Text("sa=1; sb=2; "));
         EXPECT_EQ(o.raw.view(), Head(twoCookies));
         EXPECT_EQ(o.location, o.raw);
       }},
      {"header lines come back as name, colon, space, value",
       {R("/tight", "HTTP/1.1 200 OK\r\nX-Tight:value\r\nContent-Length: 0\r\n\r\n")},
       To("{origin}/tight"),
       [](const Outcome& o) {
         EXPECT_EQ(o.raw, Text("HTTP/1.1 200 OK\r\nX-Tight: value\r\nContent-Length: 0\r\n\r\n"));
       }},
      {"cookies merged into the caller's, returned without spaces",
       {R("/merge", Ok("ok", "Set-Cookie: b=3; Path=/merge\r\nSet-Cookie: c=4; Path=/merge\r\n"))},
       To("{origin}/merge").Cookies("a=1; b=2"),
       [](const Outcome& o) {
         EXPECT_EQ(o.cookies, Text("b=3; c=4; a=1"));
         EXPECT_EQ(o.returned, Text("b=3;c=4;"));
       }},
      {"a deleted cookie leaves the caller's text",
       {R("/del", Ok("ok", "Set-Cookie: a=deleted; Path=/del\r\n"))},
       To("{origin}/del").Cookies("a=1; b=2"),
       [](const Outcome& o) { EXPECT_EQ(o.cookies, Text("b=2")); }},
      {"Location on a 200 is reported, not followed",
       {R("/here", Ok("here", "Location: {origin}/x\r\n"))},
       To("{origin}/here"),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "here");
         EXPECT_EQ(o.location.view(), Expand("{origin}/x"));
         EXPECT_EQ(o.requests.size(), 1u);
       }},
  });
}

// --- "301" and the library's own redirects ----------------------------------

TEST(VisitUrlServerTest, Redirects) {
  const std::string moved = "HTTP/1.1 301 Moved Permanently\r\nLocation: ";
  RunCases({
      {"301 with noRedirect: Location plus the current path, first address as referrer",
       {R("/start?q=1", moved + "{origin}/next\r\nContent-Length: 5\r\n\r\nfirst"),
        R("/next/start?q=1", Ok("second"))},
       To("{origin}/start?q=1").NoRedirect(),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "second");
         ASSERT_EQ(o.requests.size(), 2u);
         EXPECT_EQ(o.requests[1].requestLine, "GET /next/start?q=1 HTTP/1.1");
         EXPECT_EQ(o.requests[1].Values("Referer"), Values{Expand("{origin}/start?q=1")});
         EXPECT_EQ(o.location, o.raw);  // cleared before the follow-up, which had none
       }},
      {"a bare scheme and host as Location: the same path there",
       {{"/same?x=1", {moved + "{origin}\r\nContent-Length: 0\r\n\r\n"}},
        {"/same?x=1", {Ok("arrived")}, true}},
       To("{origin}/same?x=1").NoRedirect(),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "arrived");
         ASSERT_EQ(o.requests.size(), 2u);
         EXPECT_EQ(o.requests[1].requestLine, "GET /same?x=1 HTTP/1.1");
       }},
      {"a 302 is not followed by us",
       {R("/found", "HTTP/1.1 302 Found\r\nLocation: {origin}/elsewhere\r\nContent-Length: 5\r\n"
                    "\r\nfound")},
       To("{origin}/found").NoRedirect(),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "found");
         EXPECT_EQ(o.location.view(), Expand("{origin}/elsewhere"));
         EXPECT_EQ(o.requests.size(), 1u);
       }},
      {"a 301 of another protocol version is not followed",
       {R("/old", "HTTP/1.0 301 Moved Permanently\r\nLocation: {origin}/x\r\nContent-Length: 4\r\n"
                  "\r\nold1")},
       To("{origin}/old").NoRedirect(),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "old1");
         EXPECT_EQ(o.raw.view().substr(0, 33), "HTTP/1.0 301 Moved Permanently\r\nL");
         EXPECT_EQ(o.requests.size(), 1u);
       }},
      {"a 301 without Location returns its own body",
       {R("/nowhere", "HTTP/1.1 301 Moved Permanently\r\nContent-Length: 5\r\n\r\nstays")},
       To("{origin}/nowhere"),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "stays");
         EXPECT_EQ(o.location, o.raw);
         EXPECT_EQ(o.requests.size(), 1u);
       }},
      {"a 301 loop stops after ten follow-ups with the last body",
       {R("/loop", moved + "{origin}\r\nContent-Length: 4\r\n\r\nloop")},
       To("{origin}/loop").NoRedirect(),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "loop");
         EXPECT_EQ(o.requests.size(), static_cast<std::size_t>(kMaxMovedFollowUps + 1));
       }},
      {"a POST follow-up sends the same body",
       {R("/post-move", moved + "{origin}/moved\r\nContent-Length: 0\r\n\r\n"),
        R("/moved/post-move", Ok("done"))},
       To("{origin}/post-move").Method(1).PostText("a=1").NoRedirect(),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "done");
         ASSERT_EQ(o.requests.size(), 2u);
         EXPECT_EQ(o.requests[1].requestLine, "POST /moved/post-move HTTP/1.1");
         EXPECT_EQ(o.requests[1].body, "a=1");
         EXPECT_EQ(o.postBytes.view(), "a=1");
       }},
      {"the library follows a 302 itself and sends the cookie the 302 set",
       {R("/auto/start", "HTTP/1.1 302 Found\r\nSet-Cookie: hop=1; Path=/auto\r\n"
                         "Location: /auto/end\r\nContent-Length: 0\r\n\r\n"),
        R("/auto/end", Ok("end"))},
       To("{origin}/auto/start"),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "end");
         ASSERT_EQ(o.requests.size(), 2u);
         EXPECT_EQ(o.requests[1].requestLine, "GET /auto/end HTTP/1.1");
         const Values cookies = o.requests[1].Values("Cookie");
         ASSERT_EQ(cookies.size(), 1u);
         EXPECT_NE(cookies[0].find("hop=1"), std::string::npos);
         EXPECT_EQ(o.raw.view().substr(0, 15), "HTTP/1.1 200 OK");
         EXPECT_EQ(o.returned, Text());  // the last answer's cookies only
       }},
      {"with supplied cookies the library neither keeps nor sends its own",
       {R("/nocookie/start", "HTTP/1.1 302 Found\r\nSet-Cookie: hop2=1; Path=/nocookie\r\n"
                             "Location: /nocookie/end\r\nContent-Length: 0\r\n\r\n"),
        R("/nocookie/end", Ok("end"))},
       To("{origin}/nocookie/start").Cookies("k=v"),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "end");
         ASSERT_EQ(o.requests.size(), 2u);
         for (const std::string& line : o.requests[1].Values("Cookie")) {
           EXPECT_EQ(line.find("hop2"), std::string::npos) << line;
         }
         EXPECT_EQ(o.cookies, Text("k=v"));
       }},
  });
}

// --- Charset ----------------------------------------------------------------

std::string MarkerAt(int position) {
  // Byte `position` (1-based) starts the marker; a UTF-8 "中" follows.
  return std::string(static_cast<std::size_t>(position - 1), 'x') + "charset=utf-8 \xE4\xB8\xAD";
}
std::string ConvertedMarkerAt(int position) {
  return std::string(static_cast<std::size_t>(position - 1), 'x') + "charset=utf-8 \xD6\xD0";
}

TEST(VisitUrlServerTest, Charset) {
  const std::string utf8Header = "Content-Type: text/html; charset=utf-8\r\n";
  const std::string nulBody("a\0\xE4\xB8\xAD", 5);
  RunCases({
      {"marker beginning at byte 499 converts",
       {R("/c", Ok(MarkerAt(499), "Content-Type: text/html\r\n"))},
       To("{origin}/c"),
       [](const Outcome& o) { EXPECT_EQ(o.body.view(), ConvertedMarkerAt(499)); }},
      {"marker beginning at byte 500 does not",
       {R("/c", Ok(MarkerAt(500)))},
       To("{origin}/c"),
       [](const Outcome& o) { EXPECT_EQ(o.body.view(), MarkerAt(500)); }},
      {"unless the headers announce UTF-8",
       {R("/c", Ok(MarkerAt(500), utf8Header))},
       To("{origin}/c"),
       [](const Outcome& o) { EXPECT_EQ(o.body.view(), ConvertedMarkerAt(500)); }},
      {"upper-case UTF-8 converts nothing",
       {R("/c", Ok("charset=UTF-8 \xE4\xB8\xAD", "Content-Type: text/html; charset=UTF-8\r\n"))},
       To("{origin}/c"),
       [](const Outcome& o) { EXPECT_EQ(o.body.view(), "charset=UTF-8 \xE4\xB8\xAD"); }},
      {"a NUL inside a converted body stays in its place",
       {R("/c", Ok(nulBody, utf8Header))},
       To("{origin}/c"),
       [](const Outcome& o) { EXPECT_EQ(o.body.view(), std::string("a\0\xD6\xD0", 4)); }},
      {"a NUL inside a plain body stays too",
       {R("/c", Ok(std::string("a\0b", 3)))},
       To("{origin}/c"),
       [](const Outcome& o) { EXPECT_EQ(o.body.view(), std::string("a\0b", 3)); }},
      {"invalid UTF-8 is rendered, never cut short",
       {R("/c", Ok("x\xFFy", utf8Header))},
       To("{origin}/c"),
       [](const Outcome& o) { EXPECT_EQ(o.body.view(), "x?y"); }},
  });
}

// --- Bad input and faults -----------------------------------------------------

TEST(VisitUrlServerTest, Faults) {
  const int64_t twentyMegabytes = 20 << 20;
  const std::string bigHead =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(twentyMegabytes) + "\r\n\r\n";
  const std::string cutHead = "HTTP/1.1 200 OK\r\nContent-Length: 10000\r\n\r\n";
  // A header block of exactly n bytes, Set-Cookie and Location included, its
  // padding in lines of 1000 bytes (WinINet cuts longer lines).
  const auto blockOf = [](std::size_t n) {
    std::string block = "HTTP/1.1 200 OK\r\nSet-Cookie: big=1; Path=/h\r\nLocation: /big\r\n";
    const std::string end = "Content-Length: 4\r\n\r\n";
    for (int line = 0; block.size() + end.size() < n; ++line) {
      const std::string name = "X-Pad" + std::to_string(line) + ": ";
      const std::size_t room = n - block.size() - end.size();
      const std::size_t size = std::min<std::size_t>(1000, room);
      block += name + std::string(size - name.size() - 2, 'p') + "\r\n";
    }
    return block + end + "body";
  };
  const auto nothingCame = [](const Outcome& o) {
    EXPECT_TRUE(o.body.empty());
    EXPECT_EQ(o.raw, BlankText(5000));
    EXPECT_EQ(o.location, BlankText(5000));
    EXPECT_EQ(o.returned, Text());
  };
  RunCases({
      {"connection refused", {}, To("http://127.0.0.1:{closed}/x"), nothingCame},
      {"no such host", {}, To("http://no-such-host.invalid/x"), nothingCame},
      {"a server that closes mid-body: the bytes read so far",
       {{"/cut", {cutHead, 0, 10000, static_cast<int64_t>(cutHead.size()) + 3000}}},
       To("{origin}/cut"),
       [&](const Outcome& o) {
         EXPECT_EQ(o.body.view(), FillBytes(0, 3000));
         EXPECT_EQ(o.raw.view(), cutHead);
       }},
      {"a 20 MB body is read whole",
       {{"/big", {bigHead, 0, twentyMegabytes}}},
       To("{origin}/big"),
       [&](const Outcome& o) {
         ASSERT_EQ(static_cast<int64_t>(o.body.size()), twentyMegabytes);
         EXPECT_TRUE(o.body.view() == FillBytes(0, twentyMegabytes));
       }},
      {"a header block of 4999 bytes fits",
       {R("/h4999", blockOf(4999))},
       To("{origin}/h4999"),
       [&](const Outcome& o) {
         EXPECT_EQ(o.raw.view(), Head(blockOf(4999)));
         EXPECT_EQ(o.location, Text("/big"));
         EXPECT_EQ(o.returned, Text("big=1; "));
         EXPECT_EQ(o.body.view(), "body");
       }},
      {"a header block of 5000 bytes and more is read whole, nothing lost",
       {R("/h5000", blockOf(5000))},
       To("{origin}/h5000"),
       [&](const Outcome& o) {
         EXPECT_EQ(o.raw.view(), Head(blockOf(5000)));
         EXPECT_EQ(o.location, Text("/big"));
         EXPECT_EQ(o.returned, Text("big=1; "));
         EXPECT_EQ(o.body.view(), "body");
       }},
      {"so is one of 20000 bytes",
       {R("/h20000", blockOf(20000))},
       To("{origin}/h20000"),
       [&](const Outcome& o) {
         EXPECT_EQ(o.raw.view(), Head(blockOf(20000)));
         EXPECT_EQ(o.returned, Text("big=1; "));
       }},
      {"a chunked body is decoded",
       {R("/chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")},
       To("{origin}/chunked"),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "hello world");
         EXPECT_EQ(o.raw, Text("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"));
       }},
      {"a body that ends with the connection",
       {R("/close", "HTTP/1.0 200 OK\r\n\r\nuntil close")},
       To("{origin}/close"),
       [](const Outcome& o) {
         EXPECT_EQ(o.body.view(), "until close");
         EXPECT_EQ(o.raw, Text("HTTP/1.0 200 OK\r\n\r\n"));
       }},
  });
}

// --- Across calls -------------------------------------------------------------

TEST(VisitUrlServerTest, LibraryCookieStoreServesCallsWithoutCookieText) {
  Server().Reset();
  Server().Route("/store/set", {Ok("set", "Set-Cookie: libstore=1; Path=/store\r\n")});
  Server().Route("/store/check", {Ok("check")});

  VisitUrl(Text(Origin() + "/store/set"));
  VisitUrl(Text(Origin() + "/store/check"));
  Text mine = "mine=1";
  VisitUrl(Text(Origin() + "/store/check"), std::nullopt, std::nullopt, &mine);

  const std::vector<std::string> raw = Server().Requests();
  ASSERT_EQ(raw.size(), 3u);
  const Values withStore = RecordedRequest::Parse(raw[1]).Values("Cookie");
  ASSERT_EQ(withStore.size(), 1u);
  EXPECT_NE(withStore[0].find("libstore=1"), std::string::npos);
  EXPECT_EQ(RecordedRequest::Parse(raw[2]).Values("Cookie"), Values{"mine=1"});
}

TEST(VisitUrlServerTest, ConcurrentCallsShareNothing) {
  Server().Reset();
  const char* const paths[] = {"/soso", "/sogou", "/yahoo"};
  for (const char* path : paths) Server().Route(path, {Ok(std::string(path) + " page")});

  bool allRight[3] = {true, true, true};
  std::vector<std::thread> workers;
  for (int w = 0; w < 3; ++w) {
    workers.emplace_back([&, w] {
      for (int page = 0; page < 5; ++page) {
        Text headers, raw;
        const Bytes body = VisitUrl(Text(Origin() + paths[w]), std::nullopt, std::nullopt,
                                    nullptr, nullptr, &headers, nullptr, std::nullopt, nullptr,
                                    std::nullopt, &raw);
        allRight[w] = allRight[w] && body.view() == std::string(paths[w]) + " page" &&
                      headers.view().find(paths[w]) != std::string::npos &&
                      raw.view().rfind("HTTP/1.1 200 OK", 0) == 0;
      }
    });
  }
  for (std::thread& t : workers) t.join();
  EXPECT_TRUE(allRight[0] && allRight[1] && allRight[2]);
  EXPECT_EQ(Server().Requests().size(), 15u);
}

#ifndef _WIN32
// The stand-in's own bound on the redirects it follows (WinINet under Wine has
// none and would loop here for ever): the last answer comes back.
TEST(VisitUrlServerTest, StandInStopsAnEndlessRedirectChain) {
  Server().Reset();
  Server().Route("/again",
                 {"HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 5\r\n\r\nagain"});
  Text raw;
  const Bytes body = VisitUrl(Text(Origin() + "/again"), std::nullopt, std::nullopt, nullptr,
                              nullptr, nullptr, nullptr, std::nullopt, nullptr, std::nullopt, &raw);
  EXPECT_EQ(body.view(), "again");
  EXPECT_EQ(raw.view().substr(0, 18), "HTTP/1.1 302 Found");
  EXPECT_EQ(Server().Requests().size(), 31u);
}
#endif

// The receive timeout set on a request handle ends a silent exchange. VisitUrl
// sets 30 s; one second here keeps the test short.
TEST(VisitUrlServerTest, ReceiveTimeoutEndsASilentServer) {
  Server().Reset();
  Server().Route("/silent", {Ok("late"), 8000});
  InternetLibrary& library = PlatformInternetLibrary();
  InternetHandle internet =
      library.InternetOpenA("timeout-test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  ASSERT_NE(internet, nullptr);
  InternetHandle connection =
      library.InternetConnectA(internet, "127.0.0.1", static_cast<uint16_t>(Server().port()),
                               nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
  ASSERT_NE(connection, nullptr);
  InternetHandle request = library.HttpOpenRequestA(connection, "GET", "/silent", "HTTP/1.1",
                                                    nullptr, nullptr, INTERNET_FLAG_RELOAD, 0);
  ASSERT_NE(request, nullptr);
  const uint32_t oneSecond = 1000;
  for (uint32_t option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    EXPECT_TRUE(library.InternetSetOptionA(request, option, &oneSecond, sizeof oneSecond));
  }

  const auto start = std::chrono::steady_clock::now();
  const bool sent = library.HttpSendRequestA(request, "", 0, nullptr, 0);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(sent);
  EXPECT_LT(elapsed, std::chrono::seconds(6));

  // No status line: Windows fails the query, Wine reports an empty block.
  char block[5000] = {};
  uint32_t size = sizeof block;
  if (library.HttpQueryInfoA(request, HTTP_QUERY_RAW_HEADERS_CRLF, block, &size, nullptr)) {
    EXPECT_STREQ(block, "\r\n");
  }
  library.InternetCloseHandle(request);
  library.InternetCloseHandle(connection);
  library.InternetCloseHandle(internet);
}

}  // namespace
}  // namespace taviro
