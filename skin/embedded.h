// The two constant byte strings compiled into the program, generated at
// build time by tools/bytes-to-cpp: our skin library's DLL image (32-bit
// builds; empty elsewhere, where no 32-bit DLL is built) and our skin,
// compiled by tools/skin-compile from skin/skins/taviro.skin.
#pragma once

#include <cstdint>

namespace taviro::embedded {

extern const uint8_t kSkinLibraryImage[];
extern const uint32_t kSkinLibraryImageSize;
extern const uint8_t kSkinData[];
extern const uint32_t kSkinDataSize;

}  // namespace taviro::embedded
