#include "skin/skin_attachment.h"

#include "skin/embedded.h"
#include "skin/image_platform.h"

namespace taviro {

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

uintptr_t AddressOf(const Bytes& bytes) {
  return bytes.empty() ? 0 : reinterpret_cast<uintptr_t>(bytes.data());
}

}  // namespace

MemoryLibrary& SkinLibrary() {
  // Never destroyed: shutting down must not unmap the library.
  static MemoryLibrary* library = new MemoryLibrary;
  return *library;
}

const Bytes& SkinLibraryImage() {
  static const Bytes* image =
      new Bytes(embedded::kSkinLibraryImage, embedded::kSkinLibraryImageSize);
  return *image;
}

const Bytes& SkinData() {
  static const Bytes* skin = new Bytes(embedded::kSkinData, embedded::kSkinDataSize);
  return *skin;
}

void LoadSkinLibrary() { SkinLibrary().Load(SkinLibraryImage(), 0, 0); }

uint32_t AttachSkinAt(uintptr_t skin, uint32_t length, uintptr_t password, uint32_t first,
                      uint32_t second, uint32_t third) {
  const uintptr_t attach = SkinLibrary().GetExport("SkinH_AttachRes");
  if (attach == 0) return 0;
  // A truncated address would hand the library someone else's memory.
  if (skin >= kAddressSpace || password >= kAddressSpace) return 0;
  return CallAddress(attach, static_cast<uint32_t>(skin), length, static_cast<uint32_t>(password),
                     first, second, third);
}

uint32_t AttachSkin(const Bytes& skin, const Text* password, uint32_t first, uint32_t second,
                    uint32_t third) {
  const uintptr_t passwordAddress =
      password == nullptr ? 0 : reinterpret_cast<uintptr_t>(password->c_str());
  return AttachSkinAt(AddressOf(skin), static_cast<uint32_t>(BytesLength(skin)), passwordAddress,
                      first, second, third);
}

void OnMainWindowCreated() { AttachSkin(SkinData()); }

}  // namespace taviro
