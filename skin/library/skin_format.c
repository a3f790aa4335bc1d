#include "skin/library/skin_format.h"

static uint32_t Read16(const uint8_t* p) { return (uint32_t)p[0] | ((uint32_t)p[1] << 8); }

static uint32_t Read32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

uint32_t SkinChecksum(const uint8_t* bytes, uint32_t length) {
  uint32_t hash = 2166136261u;
  uint32_t i;
  for (i = 0; i < length; ++i) {
    hash ^= bytes[i];
    hash *= 16777619u;
  }
  return hash;
}

int ReadSkin(const uint8_t* bytes, uint32_t length, Skin* skin) {
  Skin read;
  uint32_t total, count, at, i, end;
  if (bytes == 0 || length < kSkinHeaderSize + 4) return 0;
  if (bytes[0] != '.' || bytes[1] != 'S' || bytes[2] != 'H' || bytes[3] != 'E') return 0;
  if (Read16(bytes + 4) != kSkinVersion) return 0;
  count = Read16(bytes + 6);
  total = Read32(bytes + 8);
  /* A skin cut short says so: its own length is more than was handed over. */
  if (total < kSkinHeaderSize + 4 || total > length) return 0;
  end = total - 4;
  if (SkinChecksum(bytes, end) != Read32(bytes + end)) return 0;

  for (i = 0; i < sizeof read; ++i) ((uint8_t*)&read)[i] = 0;
  at = kSkinHeaderSize;
  for (i = 0; i < count; ++i) {
    uint32_t kind, size;
    const uint8_t* payload;
    if (end - at < 2) return 0;
    kind = bytes[at];
    size = bytes[at + 1];
    if (end - at - 2 < size) return 0;
    payload = bytes + at + 2;
    if (kind >= kSkinColourRecord && kind < kSkinColourRecord + kSkinColourCount) {
      if (size != 4) return 0;
      read.colours[kind - kSkinColourRecord] = Read32(payload) & 0x00FFFFFFu;
      read.hasColour |= 1u << (kind - kSkinColourRecord);
    } else if (kind == kSkinFontRecord) {
      uint32_t n;
      if (size < 5 || size - 4 >= kSkinFaceNameSize) return 0;
      read.fontHeight = (int16_t)Read16(payload);
      read.fontWeight = (int32_t)Read16(payload + 2);
      for (n = 0; n < size - 4; ++n) {
        if (payload[4 + n] == 0) return 0;
        read.faceName[n] = (char)payload[4 + n];
      }
      read.faceName[n] = 0;
    }
    at += 2 + size;
  }
  if (at != end) return 0;
  *skin = read;
  return 1;
}
