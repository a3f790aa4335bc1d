// The address and header-field operations never fail and answer pieces of
// their input: a path starts with "/", a TextBetween result lies inside the
// text, a header value or cookie name has no spaces around it.
#include "http/url_parts.h"
#include "tests/fuzz/fuzz_support.h"

using namespace taviro;
using taviro::fuzz::Contains;
using taviro::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<Text> p = taviro::fuzz::Pieces(data, size, 4);
  const Text& address = p[0];
  const int32_t start = size > 0 ? static_cast<int8_t>(data[0]) : 1;

  const Text host = UrlHost(address);
  const Text hostWithPort = UrlHost(address, false, true);
  const Text lastTwo = UrlHost(address, true, true);
  const Text path = UrlPath(address);
  UrlPort(address);
  Require(!path.empty() && path[0] == '/');
  Require(Contains(address, path) || path == Text("/"));
  Require(Contains(hostWithPort, host));
  Require(Contains(hostWithPort, lastTwo));

  const Text between = TextBetween(p[1], p[2], p[3], start, (size & 1) != 0);
  Require(Contains(p[1], between));

  const Text value = HeaderValue(p[1]);
  const Text name = CookieName(p[1]);
  Require(Contains(p[1], value) && Contains(p[1], name));
  if (taviro::fuzz::IsAscii(p[1])) {
    for (const Text* t : {&value, &name}) {
      Require(t->empty() || ((*t)[0] != ' ' && (*t)[t->size() - 1] != ' '));
    }
    Require(name.view().find('=') == std::string_view::npos);
  }
  if (taviro::fuzz::IsAscii(address)) {
    for (unsigned char c : host.view()) Require(c != '/' && !(c >= 'A' && c <= 'Z'));
  }
  return 0;
}
