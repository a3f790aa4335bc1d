/* Taviro's skin format, read by the skin library.
 *
 * Little-endian throughout:
 *   0   4  ".SHE"
 *   4   2  version, 1
 *   6   2  number of records
 *   8   4  length of the whole skin, this header and the checksum included
 *   12  ..  records: kind (1 byte), payload size (1 byte), payload
 *   L-4 4  checksum: FNV-1a (32 bits) of every byte before it
 * A record of an unknown kind is skipped, so older libraries read newer
 * skins. Plain C without a C library: the skin library has none. */
#ifndef TAVIRO_SKIN_FORMAT_H
#define TAVIRO_SKIN_FORMAT_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum SkinColour {
  kSkinWindowBackground,
  kSkinWindowText,
  kSkinButtonFace,
  kSkinButtonText,
  kSkinEditBackground,
  kSkinEditText,
  kSkinListBackground,
  kSkinListText,
  kSkinHeaderBackground,
  kSkinHeaderText,
  kSkinColourCount
};

/* Record kinds: 1 + a SkinColour for a colour (payload: 0x00BBGGRR, as
 * Windows' COLORREF); kSkinFontRecord for the font (payload: height, 16
 * bits signed, as CreateFont takes it; weight, 16 bits; the face name). */
#define kSkinColourRecord 1
#define kSkinFontRecord 32
#define kSkinFaceNameSize 32
#define kSkinHeaderSize 12
#define kSkinVersion 1

typedef struct Skin {
  uint32_t colours[kSkinColourCount];
  uint32_t hasColour; /* bit n set: colours[n] was given */
  int32_t fontHeight;
  int32_t fontWeight;
  char faceName[kSkinFaceNameSize]; /* empty: the skin names no font */
} Skin;

/* 1 and *skin filled when `bytes` holds a whole, intact skin of at most
 * `length` bytes; 0 otherwise, *skin untouched. */
int ReadSkin(const uint8_t* bytes, uint32_t length, Skin* skin);

uint32_t SkinChecksum(const uint8_t* bytes, uint32_t length);

#ifdef __cplusplus
}
#endif

#endif
