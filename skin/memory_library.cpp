#include "skin/memory_library.h"

#include <cstring>
#include <map>
#include <mutex>

#include "skin/image_platform.h"

namespace taviro {

namespace {

constexpr uint16_t kDosMagic = 0x5A4D;     // "MZ"
constexpr uint32_t kNtSignature = 0x4550;  // "PE\0\0"
constexpr uint32_t kDosHeaderSize = 64;
constexpr uint32_t kNtHeadersSize = 248;   // signature, file header, PE32 optional header
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kExportDirectorySize = 40;
constexpr uint32_t kRelocationBlockHead = 8;
constexpr uint16_t kRelocationHighLow = 3;
constexpr uint32_t kImportByOrdinal = 0x80000000u;
constexpr uint32_t kDllProcessDetach = 0;
constexpr uint32_t kDllProcessAttach = 1;
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

// A run of memory (the byte string or a mapped image) whose every access is
// checked against its size first.
class Region {
 public:
  Region(const uint8_t* data, uint64_t size) : data_(const_cast<uint8_t*>(data)), size_(size) {}
  Region(uintptr_t base, uint64_t size) : data_(reinterpret_cast<uint8_t*>(base)), size_(size) {}

  bool Has(uint64_t offset, uint64_t n) const { return offset <= size_ && n <= size_ - offset; }
  uint16_t U16(uint64_t offset) const { return Read<uint16_t>(offset); }
  uint32_t U32(uint64_t offset) const { return Read<uint32_t>(offset); }
  void PutU32(uint64_t offset, uint32_t value) {
    std::memcpy(data_ + offset, &value, sizeof value);
  }
  // True when a NUL-terminated string starts at `offset` and ends inside;
  // *length is then its length without the NUL.
  bool HasString(uint64_t offset, uint64_t* length) const {
    if (offset >= size_) return false;
    const void* nul = std::memchr(data_ + offset, 0, size_ - offset);
    if (nul == nullptr) return false;
    *length = static_cast<const uint8_t*>(nul) - (data_ + offset);
    return true;
  }
  uintptr_t Address(uint64_t offset) const { return reinterpret_cast<uintptr_t>(data_ + offset); }

 private:
  template <class T>
  T Read(uint64_t offset) const {
    T value;
    std::memcpy(&value, data_ + offset, sizeof value);
    return value;
  }

  uint8_t* data_;
  uint64_t size_;
};

bool ParseHeaders(const uint8_t* data, uint64_t length, ImageHeaders& h) {
  const Region file(data, length);
  if (!file.Has(0, kDosHeaderSize)) return false;
  if (file.U16(0) != kDosMagic) return false;
  const int32_t lfanew = static_cast<int32_t>(file.U32(60));
  // A negative offset would put the NT headers before the byte string.
  if (lfanew < 0) return false;
  const uint64_t nt = static_cast<uint32_t>(lfanew);
  if (!file.Has(nt, kNtHeadersSize)) return false;
  if (file.U32(nt) != kNtSignature) return false;
  h.characteristics = file.U16(nt + 22);
  if ((h.characteristics & kImageFileExecutable) == 0) return false;

  const uint16_t count = file.U16(nt + 6);
  const uint64_t headersSize = nt + kNtHeadersSize + uint64_t{kSectionHeaderSize} * count;
  if (!file.Has(0, headersSize)) return false;
  h.headersSize = static_cast<uint32_t>(headersSize);
  h.addressOfEntryPoint = file.U32(nt + 40);
  h.imageBase = file.U32(nt + 52);
  h.sectionAlignment = file.U32(nt + 56);
  h.exports = {file.U32(nt + 120), file.U32(nt + 124)};
  h.imports = {file.U32(nt + 128), file.U32(nt + 132)};
  h.relocations = {file.U32(nt + 160), file.U32(nt + 164)};

  uint64_t size = file.U32(nt + 80);
  h.sections.clear();
  h.sections.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t at = nt + kNtHeadersSize + uint64_t{kSectionHeaderSize} * i;
    ImageSection s{file.U32(at + 8), file.U32(at + 12), file.U32(at + 16), file.U32(at + 20)};
    const uint64_t extent = s.virtualSize > s.sizeOfRawData ? s.virtualSize : s.sizeOfRawData;
    const uint64_t end = AlignUp(s.virtualAddress + extent, h.sectionAlignment);
    // The image has to fit below 4 GiB.
    if (end >= kAddressSpace) return false;
    if (end > size) size = end;
    if (s.sizeOfRawData > 0 && s.virtualAddress != 0 &&
        !file.Has(s.pointerToRawData, s.sizeOfRawData)) {
      return false;
    }
    h.sections.push_back(s);
  }
  if (size == 0) return false;
  // The headers are copied into the image, so the image holds them too.
  const uint64_t headersEnd = AlignUp(headersSize, h.sectionAlignment);
  if (headersEnd > size) size = headersEnd;
  if (size >= kAddressSpace) return false;
  h.sizeOfImage = static_cast<uint32_t>(size);

  // An entry point outside the image is not code of the image.
  if ((h.characteristics & kImageFileDll) != 0 && h.addressOfEntryPoint >= h.sizeOfImage) {
    return false;
  }
  return true;
}

// The size of every image mapped here and not yet unmapped. The headers
// inside an image cannot tell it: sections, relocations and thunks may
// legally land on them, so after mapping they need not match the file.
class MappedImages {
 public:
  void Add(uintptr_t base, uint32_t size) {
    std::lock_guard<std::mutex> hold(lock_);
    sizes_[base] = size;
  }
  void Remove(uintptr_t base) {
    std::lock_guard<std::mutex> hold(lock_);
    sizes_.erase(base);
  }
  // 0 for an address that is not the base of a mapped image.
  uint32_t SizeOf(uintptr_t base) const {
    std::lock_guard<std::mutex> hold(lock_);
    const auto it = sizes_.find(base);
    return it == sizes_.end() ? 0 : it->second;
  }

 private:
  mutable std::mutex lock_;
  std::map<uintptr_t, uint32_t> sizes_;
};

MappedImages& Mapped() {
  static MappedImages* images = new MappedImages;  // outlives every static user
  return *images;
}

// The few header fields read back from a mapped image, each read checked
// against the image's size.
struct MappedHeaders {
  bool signatures = false;  // "MZ" and "PE" in place
  uint16_t characteristics = 0;
  uint32_t addressOfEntryPoint = 0;
  DataDirectory exports{};
};

bool ReadMappedHeaders(const Region& image, MappedHeaders& h) {
  if (!image.Has(0, kDosHeaderSize)) return false;
  const int32_t lfanew = static_cast<int32_t>(image.U32(60));
  if (lfanew < 0) return false;
  const uint64_t nt = static_cast<uint32_t>(lfanew);
  if (!image.Has(nt, kNtHeadersSize)) return false;
  h.signatures = image.U16(0) == kDosMagic && image.U32(nt) == kNtSignature;
  h.characteristics = image.U16(nt + 22);
  h.addressOfEntryPoint = image.U32(nt + 40);
  h.exports = {image.U32(nt + 120), image.U32(nt + 124)};
  return true;
}

// Without an entry-point RVA a DLL has nothing to start (the system's loader
// agrees); calling the image base would run its DOS header. An entry point
// outside the image is not the image's code.
bool HasEntryToCall(uint16_t characteristics, uint32_t entry, uint32_t sizeOfImage) {
  return (characteristics & kImageFileDll) != 0 && entry != 0 && entry < sizeOfImage;
}

// A few bytes below 4 GiB for the decimal text of an ordinal handed to the
// resolver; released when the import walk ends.
class OrdinalText {
 public:
  OrdinalText() = default;
  OrdinalText(const OrdinalText&) = delete;
  OrdinalText& operator=(const OrdinalText&) = delete;
  ~OrdinalText() {
    if (block_ != 0) VirtualFree(block_, 0, MEM_RELEASE);
  }

  // 0 when no memory could be had.
  uintptr_t Write(uint32_t ordinal) {
    if (block_ == 0) {
      block_ = VirtualAlloc(0, kSize, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
      if (block_ == 0) return 0;
    }
    const Text text = IntToText(static_cast<int32_t>(ordinal));
    std::memcpy(reinterpret_cast<char*>(block_), text.c_str(), text.size() + 1);
    return block_;
  }

 private:
  static constexpr uint32_t kSize = 16;
  uintptr_t block_ = 0;
};

uint32_t Low32(uintptr_t address) { return static_cast<uint32_t>(address); }

}  // namespace

uint64_t AlignUp(uint64_t value, uint32_t alignment) {
  if (alignment == 0) return value;
  return (value + alignment - 1) / alignment * alignment;
}

bool ReadImageHeaders(const uint8_t* file, std::size_t length, ImageHeaders& headers) {
  return ParseHeaders(file, length, headers);
}

uintptr_t AllocateImage(uintptr_t preferred, uint32_t size) {
  const uint32_t type = MEM_COMMIT | MEM_RESERVE;
  const uintptr_t there = VirtualAlloc(preferred, size, type, PAGE_EXECUTE_READWRITE);
  if (there != 0) return there;
  return VirtualAlloc(0, size, type, PAGE_EXECUTE_READWRITE);
}

bool ApplyRelocations(uintptr_t base, const ImageHeaders& h) {
  Region image(base, h.sizeOfImage);
  const uint32_t delta = Low32(base) - h.imageBase;
  uint64_t r = h.relocations.virtualAddress;
  // Each block moves r on by at least its head, and r stays inside the
  // image, so the walk ends; a list without its zero block is malformed.
  for (;;) {
    if (!image.Has(r, kRelocationBlockHead)) return false;
    const uint32_t page = image.U32(r);
    if (page == 0) return true;
    const uint32_t blockSize = image.U32(r + 4);
    if (blockSize < kRelocationBlockHead || !image.Has(r, blockSize)) return false;
    const uint32_t count = (blockSize - kRelocationBlockHead) / 2;
    for (uint32_t i = 0; i < count; ++i) {
      const uint16_t entry = image.U16(r + kRelocationBlockHead + 2 * i);
      if ((entry >> 12) != kRelocationHighLow) continue;
      const uint64_t target = uint64_t{page} + (entry & 0xFFF);
      if (!image.Has(target, 4)) return false;
      image.PutU32(target, image.U32(target) + delta);
    }
    r += blockSize;
  }
}

bool ResolveImports(uintptr_t base, const ImageHeaders& h, uintptr_t resolver,
                    uint32_t resolverValue) {
  Region image(base, h.sizeOfImage);
  OrdinalText ordinalText;
  for (uint64_t p = h.imports.virtualAddress;; p += kImportDescriptorSize) {
    if (!image.Has(p, kImportDescriptorSize)) return false;
    const uint32_t firstThunk = image.U32(p + 16);
    if (firstThunk == 0) return true;
    const uint32_t name = image.U32(p + 12);
    uint64_t length = 0;
    if (!image.HasString(name, &length)) return false;
    const uintptr_t libraryName = image.Address(name);
    const uintptr_t module = LoadLibraryA(reinterpret_cast<const char*>(libraryName));

    for (uint64_t t = firstThunk;; t += 4) {
      if (!image.Has(t, 4)) return false;
      const uint32_t value = image.U32(t);
      if (value == 0) break;
      const char* symbol;  // for GetProcAddress: a name, or an ordinal in its place
      uintptr_t symbolText;
      if ((value & kImportByOrdinal) != 0) {
        const uint32_t ordinal = value & 0xFFFF;
        symbol = reinterpret_cast<const char*>(static_cast<uintptr_t>(ordinal));
        symbolText = resolver != 0 ? ordinalText.Write(ordinal) : 0;
        if (resolver != 0 && symbolText == 0) return false;
      } else {
        const uint64_t at = uint64_t{value} + 2;  // past the hint
        if (!image.HasString(at, &length)) return false;
        symbolText = image.Address(at);
        symbol = reinterpret_cast<const char*>(symbolText);
      }

      uint32_t address = 0;
      if (resolver != 0) {
        address = CallAddress(resolver, Low32(libraryName), Low32(symbolText), resolverValue);
      }
      // A library that did not load has no symbols: GetProcAddress with
      // handle 0 would search the calling program instead.
      if (address == 0 && module != 0) {
        const uintptr_t found = GetProcAddress(module, symbol);
        // A thunk holds 32 bits; a symbol above 4 GiB cannot be linked.
        if (found < kAddressSpace) address = static_cast<uint32_t>(found);
      }
      if (address == 0) return false;
      image.PutU32(t, address);
    }
  }
}

uintptr_t MapImage(const Bytes& image, uintptr_t resolver, uint32_t resolverValue) {
  ImageHeaders h;
  if (!ParseHeaders(image.data(), static_cast<uint32_t>(BytesLength(image)), h)) return 0;

  const uintptr_t base = AllocateImage(h.imageBase, h.sizeOfImage);
  if (base == 0) return 0;
  const auto fail = [base] {
    VirtualFree(base, 0, MEM_RELEASE);
    return uintptr_t{0};
  };
  // Code that was not relocated must not run anywhere but where it was
  // linked for.
  if (base != h.imageBase && h.relocations.size == 0) return fail();

  auto* memory = reinterpret_cast<uint8_t*>(base);
  std::memcpy(memory, image.data(), h.headersSize);
  for (const ImageSection& s : h.sections) {
    if (s.sizeOfRawData > 0 && s.virtualAddress != 0) {
      std::memcpy(memory + s.virtualAddress, image.data() + s.pointerToRawData, s.sizeOfRawData);
    }
  }

  if (h.relocations.size > 0 && !ApplyRelocations(base, h)) return fail();
  if (h.imports.virtualAddress > 0 && !ResolveImports(base, h, resolver, resolverValue)) {
    return fail();
  }

  if (HasEntryToCall(h.characteristics, h.addressOfEntryPoint, h.sizeOfImage)) {
    const uintptr_t entry = base + h.addressOfEntryPoint;
    if (CallAddress(entry, 0, kDllProcessAttach, 0) == 0) {
      CallAddress(entry, 0, kDllProcessDetach, 0);
      return fail();
    }
  }
  Mapped().Add(base, h.sizeOfImage);
  return base;
}

bool UnmapImage(uintptr_t base) {
  const uint32_t size = Mapped().SizeOf(base);
  MappedHeaders h;
  if (size == 0 || !ReadMappedHeaders(Region(base, size), h) || !h.signatures) return false;
  if (HasEntryToCall(h.characteristics, h.addressOfEntryPoint, size)) {
    CallAddress(base + h.addressOfEntryPoint, 0, kDllProcessDetach, 0);
  }
  if (!VirtualFree(base, 0, MEM_RELEASE)) return false;
  Mapped().Remove(base);
  return true;
}

uintptr_t FindExport(uintptr_t base, const Text& name) {
  const uint32_t size = Mapped().SizeOf(base);
  MappedHeaders h;
  if (size == 0 || !ReadMappedHeaders(Region(base, size), h) || !h.signatures) return 0;
  if (h.exports.size == 0) return 0;
  const Region image(base, size);
  const uint64_t directory = h.exports.virtualAddress;
  if (!image.Has(directory, kExportDirectorySize)) return 0;
  const uint32_t ordinalBase = image.U32(directory + 16);
  const uint32_t functionCount = image.U32(directory + 20);
  const uint32_t nameCount = image.U32(directory + 24);
  const uint32_t functions = image.U32(directory + 28);
  const uint32_t names = image.U32(directory + 32);
  const uint32_t nameOrdinals = image.U32(directory + 36);

  // 0 for an empty slot, for a slot outside the image, and for a forwarder
  // (an RVA inside the export directory names another library's symbol).
  const auto function = [&](uint64_t index) -> uintptr_t {
    const uint64_t at = functions + 4 * index;
    if (!image.Has(at, 4)) return 0;
    const uint32_t rva = image.U32(at);
    if (rva == 0 || rva >= size) return 0;
    if (rva >= directory && rva - directory < h.exports.size) return 0;
    return base + rva;
  };

  const int32_t number = TextToInt(name);
  if (CompareText(IntToText(number), name) == 0) {
    const int64_t index = int64_t{number} - int64_t{ordinalBase};
    if (index < 0 || index >= int64_t{functionCount}) return 0;
    return function(static_cast<uint64_t>(index));
  }

  if (!image.Has(names, 4)) return 0;
  uint64_t s = image.U32(names);
  uint64_t o = nameOrdinals;
  // Every step moves s on by at least one byte inside the image.
  for (uint32_t i = 0; i < nameCount; ++i) {
    uint64_t length = 0;
    if (!image.HasString(s, &length) || !image.Has(o, 2)) return 0;
    const uint16_t index = image.U16(o);
    if (index < functionCount &&
        CompareTextMultibyte(name, TextAtAddress(image.Address(s)), true) == 0) {
      if (const uintptr_t found = function(index)) return found;
    }
    s += length + 1;
    o += 2;
  }
  return 0;
}

bool MemoryLibrary::Load(const Bytes& image, uintptr_t resolver, uint32_t resolverValue) {
  // An old image that cannot be unmapped is abandoned, still mapped.
  if (base_ != 0) UnmapImage(base_);
  base_ = MapImage(image, resolver, resolverValue);
  return base_ != 0;
}

bool MemoryLibrary::Free() {
  if (base_ == 0) return true;
  if (!UnmapImage(base_)) return false;
  base_ = 0;
  return true;
}

uintptr_t MemoryLibrary::GetExport(const Text& name) const {
  if (base_ == 0) return 0;
  return FindExport(base_, name);
}

uintptr_t MemoryLibrary::GetEntryPoint() const {
  MappedHeaders h;
  if (base_ == 0 || !ReadMappedHeaders(Region(base_, Mapped().SizeOf(base_)), h)) return 0;
  return base_ + h.addressOfEntryPoint;
}

}  // namespace taviro
