#include "http/url_parts.h"

#include <gtest/gtest.h>

#include "tests/http/print_text.h"

namespace taviro {
namespace {

struct AddressCase {
  const char* address;
  const char* host;
  const char* hostWithPort;
  int32_t port;
  const char* path;
};

TEST(UrlPartsTest, SplitsAddresses) {
  const AddressCase cases[] = {
      // Upper-case scheme and host, explicit port, mixed-case path.
      {"HTTP://WWW.Example.COM:8080/Path/To?Q=A", "www.example.com", "www.example.com:8080", 8080,
       "/Path/To?Q=A"},
      // No scheme: taken as http, path "/" when no slash follows the host.
      {"www.example.com", "www.example.com", "www.example.com", 80, "/"},
      {"https://secure.example.com/login", "secure.example.com", "secure.example.com", 443,
       "/login"},
      {"HtTpS://Secure.Example.com", "secure.example.com", "secure.example.com", 443, "/"},
      {"https://a.com:8443/x", "a.com", "a.com:8443", 8443, "/x"},
      {"http://www.a.com:8080", "www.a.com", "www.a.com:8080", 8080, "/"},
      // A host that ends in ":" with no digits: port 0.
      {"http://host:/x", "host", "host:", 0, "/x"},
      // "?" right after the host keeps the query in the host.
      {"http://www.a.com?q=1", "www.a.com?q=1", "www.a.com?q=1", 80, "/"},
      // No scheme, but "http://" further on: the host is taken after it.
      {"www.a.com/x?u=http://b.com/y", "b.com", "b.com", 80, "/y"},
      // A one-letter host also occurs in the scheme, where UrlPath finds it.
      {"http://h/path", "h", "h", 80, "//h/path"},
      {"", "", "", 80, "/"},
  };
  for (const AddressCase& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(UrlHost(c.address), Text(c.host));
    EXPECT_EQ(UrlHost(c.address, false, true), Text(c.hostWithPort));
    EXPECT_EQ(UrlPort(c.address), c.port);
    EXPECT_EQ(UrlPath(c.address), Text(c.path));
  }
}

TEST(UrlPartsTest, LastTwoLabels) {
  EXPECT_EQ(UrlHost("http://www.sub.example.com/x", true), Text("example.com"));
  EXPECT_EQ(UrlHost("http://a.b.c/", true), Text("b.c"));
  EXPECT_EQ(UrlHost("http://localhost/", true), Text("localhost"));
  // The port stays attached to the last label.
  EXPECT_EQ(UrlHost("http://www.a.com:81/", true, true), Text("a.com:81"));
  EXPECT_EQ(UrlHost("http://www.a.com:81/", true, false), Text("a.com"));
}

TEST(UrlPartsTest, HeaderValue) {
  const struct {
    const char* line;
    const char* value;
  } cases[] = {
      {"Location: http://a.com:8080/x", "http://a.com:8080/x"},  // later colons stay
      {"NoColonHere", ""},
      {"X:   spaced value  ", "spaced value"},
      {"Empty:", ""},
      {":leading", "leading"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    EXPECT_EQ(HeaderValue(c.line), Text(c.value));
  }
}

TEST(UrlPartsTest, CookieName) {
  const struct {
    const char* pair;
    const char* name;
  } cases[] = {
      {" name =value", "name"}, {"novalue", "novalue"}, {"  bare  ", "bare"},
      {"=v", ""},               {"a=b=c", "a"},         {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pair);
    EXPECT_EQ(CookieName(c.pair), Text(c.name));
  }
}

TEST(UrlPartsTest, TextBetween) {
  const struct {
    const char* text;
    const char* left;
    const char* right;
    int32_t start;
    bool caseSensitive;
    const char* expected;
  } cases[] = {
      {"HTTP/1.1 301 Moved Permanently", "HTTP/1.1 ", " Moved", 1, false, "301"},
      {"http/1.1 301 moved permanently", "HTTP/1.1 ", " Moved", 1, false, "301"},
      {"HTTP/1.1 301 moved permanently", "HTTP/1.1 ", " Moved", 1, true, ""},
      {"HTTP/1.0 301 Moved Permanently", "HTTP/1.1 ", " Moved", 1, false, ""},
      {"HTTP/1.1 200 OK", "HTTP/1.1 ", " Moved", 1, false, ""},
      {"ab", "a", "b", 1, false, ""},  // right marker directly after the left one
      {"x=1;x=2;", "x=", ";", 4, false, "2"},
      {"A=1;a=2;", "a=", ";", 1, true, "2"},
      {"A=1;a=2;", "a=", ";", 1, false, "1"},
      // "#引号" stands for a double quote in either marker.
      {"<a href=\"u\">", "href=#引号", "#引号", 1, false, "u"},
      {"", "a", "b", 1, false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TextBetween(c.text, c.left, c.right, c.start, c.caseSensitive), Text(c.expected));
  }
}

}  // namespace
}  // namespace taviro
