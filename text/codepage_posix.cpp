// Stand-in for the Windows converters on hosts without them.
//
// Code page 936 is decoded by hand through a table filled once from glibc's
// "CP936" converter, because iconv stops at input that Windows renders
// anyway: 0x80 is the euro sign, 0xFF is U+F8F5, a lead byte (81-FE) with an
// invalid trail becomes one '?' that takes the trail with it, a lead byte at
// the end becomes '?', and every pair glibc refuses (the user-defined areas
// and the slots GBK leaves empty) is a private-use character, numbered the
// way Windows numbers them. UTF-8 is decoded by hand as Windows Vista and
// later do: each maximal ill-formed subpart becomes one U+FFFD.
//
// Known differences from Windows, kept out of the shared tests: Windows'
// best-fit mappings (UTF-16 to 936, for example the cent and yen signs) are
// not reproduced; such characters become '?'.
#include "text/codepage.h"

#include <iconv.h>

#include <algorithm>
#include <iterator>

namespace taviro {
namespace {

constexpr uint32_t kMbPrecomposed = 0x1;  // MB_PRECOMPOSED: the default rendering anyway
constexpr char16_t kReplacement = 0xFFFD;

// --- Code page 936 tables ----------------------------------------------------

constexpr int kLeadFirst = 0x81, kLeadLast = 0xFE;
constexpr int kTrailFirst = 0x40, kTrailLast = 0xFE;
constexpr int kTrailCount = kTrailLast - kTrailFirst + 1;

bool IsTrail(uint8_t b) { return b >= kTrailFirst && b <= kTrailLast && b != 0x7F; }

// The three user-defined rectangles, in the order Windows numbers them from
// U+E000: AAA1-AFFE, F8A1-FEFE (94 per row), A140-A7A0 (96 per row).
int UserDefinedIndex(int lead, int trail) {
  if (lead >= 0xAA && lead <= 0xAF && trail >= 0xA1) return (lead - 0xAA) * 94 + (trail - 0xA1);
  if (lead >= 0xF8 && trail >= 0xA1) return 564 + (lead - 0xF8) * 94 + (trail - 0xA1);
  if (lead >= 0xA1 && lead <= 0xA7 && trail <= 0xA0)
    return 564 + 658 + (lead - 0xA1) * 96 + (trail < 0x80 ? trail - 0x40 : trail - 0x41);
  return -1;
}
constexpr char16_t kFirstGapUnit = 0xE766;  // after the 1894 user-defined characters

struct Gbk936 {
  bool ready = false;
  char16_t pairToUnit[kLeadLast - kLeadFirst + 1][kTrailCount] = {};
  uint16_t unitToBytes[0x10000] = {};  // 0: not in the code page
};

char16_t DecodePairWithIconv(iconv_t cd, uint8_t lead, uint8_t trail) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  char out[8];
  char* inPtr = in;
  char* outPtr = out;
  size_t inLeft = 2, outLeft = sizeof out;
  if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0 ||
      outLeft != sizeof out - 2)
    return 0;
  return static_cast<char16_t>(static_cast<uint8_t>(out[0]) | static_cast<uint8_t>(out[1]) << 8);
}

Gbk936* BuildGbk936() {
  auto* t = new Gbk936;
  iconv_t cd = iconv_open("UTF-16LE", "CP936");
  if (cd == reinterpret_cast<iconv_t>(-1)) return t;  // no converter: 936 conversions fail
  char16_t nextGapUnit = kFirstGapUnit;
  for (int lead = kLeadFirst; lead <= kLeadLast; ++lead) {
    for (int trail = kTrailFirst; trail <= kTrailLast; ++trail) {
      if (trail == 0x7F) continue;
      char16_t unit = DecodePairWithIconv(cd, lead, trail);
      if (unit == 0) {
        int user = UserDefinedIndex(lead, trail);
        unit = user >= 0 ? static_cast<char16_t>(0xE000 + user) : nextGapUnit++;
      }
      t->pairToUnit[lead - kLeadFirst][trail - kTrailFirst] = unit;
      if (t->unitToBytes[unit] == 0) t->unitToBytes[unit] = static_cast<uint16_t>(lead << 8 | trail);
    }
  }
  iconv_close(cd);
  for (int b = 0; b < 0x80; ++b) t->unitToBytes[b] = static_cast<uint16_t>(b);
  t->unitToBytes[0x20AC] = 0x80;
  t->unitToBytes[0xF8F5] = 0xFF;
  t->ready = true;
  return t;
}

const Gbk936& Tables() {
  static const Gbk936* tables = BuildGbk936();  // never freed: lives as long as the process
  return *tables;
}

// Precomposed characters of code page 936 that have a canonical two-unit
// decomposition, for WC_COMPOSITECHECK. Sorted by (base, mark).
struct Composition {
  char16_t base, mark, composed;
};
constexpr Composition kCompositions[] = {
    {0x003C, 0x0338, 0x226E}, {0x003D, 0x0338, 0x2260}, {0x003E, 0x0338, 0x226F},
    {0x0061, 0x0300, 0x00E0}, {0x0061, 0x0301, 0x00E1}, {0x0061, 0x0304, 0x0101},
    {0x0061, 0x030C, 0x01CE}, {0x0065, 0x0300, 0x00E8}, {0x0065, 0x0301, 0x00E9},
    {0x0065, 0x0302, 0x00EA}, {0x0065, 0x0304, 0x0113}, {0x0065, 0x030C, 0x011B},
    {0x0069, 0x0300, 0x00EC}, {0x0069, 0x0301, 0x00ED}, {0x0069, 0x0304, 0x012B},
    {0x0069, 0x030C, 0x01D0}, {0x006E, 0x0301, 0x0144}, {0x006E, 0x030C, 0x0148},
    {0x006F, 0x0300, 0x00F2}, {0x006F, 0x0301, 0x00F3}, {0x006F, 0x0304, 0x014D},
    {0x006F, 0x030C, 0x01D2}, {0x0075, 0x0300, 0x00F9}, {0x0075, 0x0301, 0x00FA},
    {0x0075, 0x0304, 0x016B}, {0x0075, 0x0308, 0x00FC}, {0x0075, 0x030C, 0x01D4},
    {0x00FC, 0x0300, 0x01DC}, {0x00FC, 0x0301, 0x01D8}, {0x00FC, 0x0304, 0x01D6},
    {0x00FC, 0x030C, 0x01DA}, {0x0415, 0x0308, 0x0401}, {0x0418, 0x0306, 0x0419},
    {0x0435, 0x0308, 0x0451}, {0x0438, 0x0306, 0x0439}, {0x304B, 0x3099, 0x304C},
    {0x304D, 0x3099, 0x304E}, {0x304F, 0x3099, 0x3050}, {0x3051, 0x3099, 0x3052},
    {0x3053, 0x3099, 0x3054}, {0x3055, 0x3099, 0x3056}, {0x3057, 0x3099, 0x3058},
    {0x3059, 0x3099, 0x305A}, {0x305B, 0x3099, 0x305C}, {0x305D, 0x3099, 0x305E},
    {0x305F, 0x3099, 0x3060}, {0x3061, 0x3099, 0x3062}, {0x3064, 0x3099, 0x3065},
    {0x3066, 0x3099, 0x3067}, {0x3068, 0x3099, 0x3069}, {0x306F, 0x3099, 0x3070},
    {0x306F, 0x309A, 0x3071}, {0x3072, 0x3099, 0x3073}, {0x3072, 0x309A, 0x3074},
    {0x3075, 0x3099, 0x3076}, {0x3075, 0x309A, 0x3077}, {0x3078, 0x3099, 0x3079},
    {0x3078, 0x309A, 0x307A}, {0x307B, 0x3099, 0x307C}, {0x307B, 0x309A, 0x307D},
    {0x309D, 0x3099, 0x309E}, {0x30A6, 0x3099, 0x30F4}, {0x30AB, 0x3099, 0x30AC},
    {0x30AD, 0x3099, 0x30AE}, {0x30AF, 0x3099, 0x30B0}, {0x30B1, 0x3099, 0x30B2},
    {0x30B3, 0x3099, 0x30B4}, {0x30B5, 0x3099, 0x30B6}, {0x30B7, 0x3099, 0x30B8},
    {0x30B9, 0x3099, 0x30BA}, {0x30BB, 0x3099, 0x30BC}, {0x30BD, 0x3099, 0x30BE},
    {0x30BF, 0x3099, 0x30C0}, {0x30C1, 0x3099, 0x30C2}, {0x30C4, 0x3099, 0x30C5},
    {0x30C6, 0x3099, 0x30C7}, {0x30C8, 0x3099, 0x30C9}, {0x30CF, 0x3099, 0x30D0},
    {0x30CF, 0x309A, 0x30D1}, {0x30D2, 0x3099, 0x30D3}, {0x30D2, 0x309A, 0x30D4},
    {0x30D5, 0x3099, 0x30D6}, {0x30D5, 0x309A, 0x30D7}, {0x30D8, 0x3099, 0x30D9},
    {0x30D8, 0x309A, 0x30DA}, {0x30DB, 0x3099, 0x30DC}, {0x30DB, 0x309A, 0x30DD},
    {0x30FD, 0x3099, 0x30FE},
};

char16_t Compose(char16_t base, char16_t mark) {
  const Composition key{base, mark, 0};
  auto less = [](const Composition& a, const Composition& b) {
    return a.base != b.base ? a.base < b.base : a.mark < b.mark;
  };
  auto it = std::lower_bound(std::begin(kCompositions), std::end(kCompositions), key, less);
  return it != std::end(kCompositions) && it->base == base && it->mark == mark ? it->composed : 0;
}

// --- Output sinks: measure or write, failing when the room runs out ----------

template <class Unit>
class Sink {
 public:
  Sink(Unit* out, int32_t capacity) : out_(out), capacity_(capacity) {}
  void Put(Unit u) {
    if (capacity_ > 0) {
      if (count_ >= capacity_) {
        overflow_ = true;
        return;
      }
      out_[count_] = u;
    }
    ++count_;
  }
  int32_t Result() const { return overflow_ ? 0 : count_; }

 private:
  Unit* out_;
  int32_t capacity_;
  int32_t count_ = 0;
  bool overflow_ = false;
};

// --- Decoders -----------------------------------------------------------------

void DecodeGbk(const Gbk936& t, const uint8_t* in, int32_t n, Sink<char16_t>& sink) {
  for (int32_t i = 0; i < n;) {
    uint8_t b = in[i];
    if (b < 0x80) {
      sink.Put(b);
      ++i;
    } else if (b == 0x80) {
      sink.Put(0x20AC);
      ++i;
    } else if (b == 0xFF) {
      sink.Put(0xF8F5);
      ++i;
    } else if (i + 1 == n) {
      sink.Put(u'?');
      ++i;
    } else {
      uint8_t trail = in[i + 1];
      sink.Put(IsTrail(trail) ? t.pairToUnit[b - kLeadFirst][trail - kTrailFirst] : u'?');
      i += 2;
    }
  }
}

bool IsContinuation(uint8_t b) { return (b & 0xC0) == 0x80; }

void DecodeUtf8(const uint8_t* in, int32_t n, Sink<char16_t>& sink) {
  for (int32_t i = 0; i < n;) {
    uint8_t b = in[i];
    if (b < 0x80) {
      sink.Put(b);
      ++i;
      continue;
    }
    int need;
    uint32_t cp;
    uint8_t low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      need = 1, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      need = 2, cp = b & 0x0F;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;  // no encoded surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      need = 3, cp = b & 0x07;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      sink.Put(kReplacement);  // a byte that starts nothing
      ++i;
      continue;
    }
    int32_t j = i + 1;
    int got = 0;
    for (; got < need && j < n; ++got, ++j) {
      uint8_t c = in[j];
      if (got == 0 ? (c < low || c > high) : !IsContinuation(c)) break;
      cp = cp << 6 | (c & 0x3F);
    }
    i = j;  // a maximal subpart of a sequence is replaced as a whole
    if (got < need) {
      sink.Put(kReplacement);
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      sink.Put(static_cast<char16_t>(0xD800 | cp >> 10));
      sink.Put(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
    } else {
      sink.Put(static_cast<char16_t>(cp));
    }
  }
}

// --- Encoders -----------------------------------------------------------------

void PutGbk(uint16_t bytes, Sink<char>& sink) {
  if (bytes > 0xFF) sink.Put(static_cast<char>(bytes >> 8));
  sink.Put(static_cast<char>(bytes & 0xFF));
}

void EncodeGbk(const Gbk936& t, const char16_t* in, int32_t n, bool compose, Sink<char>& sink) {
  for (int32_t i = 0; i < n; ++i) {
    char16_t u = in[i];
    if (compose) {
      // Fold a base and the marks after it while the result stays in the code
      // page; what cannot be folded is written character by character.
      while (i + 1 < n) {
        char16_t c = Compose(u, in[i + 1]);
        if (c == 0 || t.unitToBytes[c] == 0) break;
        u = c;
        ++i;
      }
    }
    uint16_t bytes = t.unitToBytes[u];
    if (u != 0 && bytes == 0) bytes = '?';
    PutGbk(bytes, sink);
  }
}

void EncodeUtf8(const char16_t* in, int32_t n, Sink<char>& sink) {
  for (int32_t i = 0; i < n; ++i) {
    uint32_t cp = in[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;  // a lone surrogate
    }
    if (cp < 0x80) {
      sink.Put(static_cast<char>(cp));
    } else if (cp < 0x800) {
      sink.Put(static_cast<char>(0xC0 | cp >> 6));
      sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      sink.Put(static_cast<char>(0xE0 | cp >> 12));
      sink.Put(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      sink.Put(static_cast<char>(0xF0 | cp >> 18));
      sink.Put(static_cast<char>(0x80 | (cp >> 12 & 0x3F)));
      sink.Put(static_cast<char>(0x80 | (cp >> 6 & 0x3F)));
      sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
}

// Windows' own argument checks: a length of -1 means up to and including the
// terminating zero; 0 or another negative length fails, as does a negative
// capacity.
template <class Unit>
bool NormaliseArguments(const Unit* in, int32_t& inLength, int32_t outCapacity) {
  if (in == nullptr || outCapacity < 0) return false;
  if (inLength == -1) {
    inLength = 0;
    while (in[inLength] != 0) ++inLength;
    ++inLength;
  }
  return inLength > 0;
}

uint32_t Resolve(uint32_t codePage) { return codePage == kCodePageAnsi ? kCodePageGbk : codePage; }

}  // namespace

int32_t CodePageToUtf16(uint32_t codePage, uint32_t flags, const char* in, int32_t inLength,
                        char16_t* out, int32_t outCapacity) {
  if (!NormaliseArguments(in, inLength, outCapacity)) return 0;
  const auto* bytes = reinterpret_cast<const uint8_t*>(in);
  Sink<char16_t> sink(out, outCapacity);
  switch (Resolve(codePage)) {
    case kCodePageGbk: {
      const Gbk936& t = Tables();
      if (!t.ready || (flags & ~kMbPrecomposed) != 0) return 0;
      DecodeGbk(t, bytes, inLength, sink);
      break;
    }
    case kCodePageUtf8:
      if (flags != 0) return 0;
      DecodeUtf8(bytes, inLength, sink);
      break;
    default:
      return 0;
  }
  return sink.Result();
}

int32_t Utf16ToCodePage(uint32_t codePage, uint32_t flags, const char16_t* in, int32_t inLength,
                        char* out, int32_t outCapacity) {
  if (!NormaliseArguments(in, inLength, outCapacity)) return 0;
  Sink<char> sink(out, outCapacity);
  switch (Resolve(codePage)) {
    case kCodePageGbk: {
      const Gbk936& t = Tables();
      if (!t.ready || (flags & ~kWcCompositeCheck) != 0) return 0;
      EncodeGbk(t, in, inLength, (flags & kWcCompositeCheck) != 0, sink);
      break;
    }
    case kCodePageUtf8:
      if (flags != 0) return 0;  // Windows rejects every flag but WC_ERR_INVALID_CHARS here
      EncodeUtf8(in, inLength, sink);
      break;
    default:
      return 0;
  }
  return sink.Result();
}

}  // namespace taviro
