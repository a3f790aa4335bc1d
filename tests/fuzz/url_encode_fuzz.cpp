// UrlEncode: printable ASCII out; with both options off it is every byte as
// "%XX" and decodes back to the input; keepUnreserved keeps exactly the
// unreserved bytes.
#include <cctype>

#include "search/url_encode.h"
#include "tests/fuzz/fuzz_support.h"

using namespace taviro;
using taviro::fuzz::Require;

namespace {

std::string Decode(std::string_view encoded) {
  std::string out;
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != '%') {
      out.push_back(encoded[i]);
      continue;
    }
    Require(i + 2 < encoded.size());
    const auto hex = [](char c) -> int {
      Require(std::isxdigit(static_cast<unsigned char>(c)) &&
              !std::islower(static_cast<unsigned char>(c)));
      return c <= '9' ? c - '0' : c - 'A' + 10;
    };
    out.push_back(static_cast<char>(hex(encoded[i + 1]) * 16 + hex(encoded[i + 2])));
    i += 2;
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool keepUnreserved = (data[0] & 1) != 0;
  const bool utf8First = (data[0] & 2) != 0;
  const Text text = taviro::fuzz::Pieces(data + 1, size - 1, 1)[0];

  const Text encoded = UrlEncode(text, keepUnreserved, utf8First);
  for (unsigned char c : encoded.view()) Require(c >= 0x21 && c <= 0x7E);
  if (text.empty()) Require(encoded.empty());
  if (utf8First) return 0;

  Require(Decode(encoded.view()) == text.view());
  if (!keepUnreserved) Require(encoded.view().size() == text.view().size() * 3);
  return 0;
}
