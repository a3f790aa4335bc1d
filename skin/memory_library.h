// A PE32 DLL mapped from a byte string, never from disk: placed, relocated,
// linked, started, and asked for its exports, with the system's loader left
// out. Everything reaches the platform through image_platform.h.
//
// Malformed images are refused rather than trusted: every read and write
// stays inside the byte string or the image, every walk is bounded by the
// image, and no code is called that is not the image's (relocated to where
// it lies) or a resolved symbol. The loader remembers the size of each image
// it mapped, because the headers inside an image may have been overwritten
// by its own sections.
#pragma once

#include <cstdint>
#include <vector>

#include "text/text.h"

namespace taviro {

#if defined(_WIN32) && !defined(_WIN64)
#define TAVIRO_STDCALL __stdcall
#else
#define TAVIRO_STDCALL
#endif

// Called for each import before GetProcAddress, through CallAddress:
// addresses of the library's name (inside the image) and of the symbol's
// name (an ordinal as its decimal text), and the value given to Load. It
// answers the symbol's address, or 0 to let GetProcAddress look it up. Load
// takes it by address (RoutineAddress).
using ImportResolver = uint32_t(TAVIRO_STDCALL*)(uint32_t libraryName, uint32_t symbolName,
                                                 uint32_t resolverValue);

class MemoryLibrary {
 public:
  MemoryLibrary() = default;

  // Frees the image held, if any (abandoning it when it cannot be unmapped),
  // then maps `image`. True when an image is held afterwards.
  bool Load(const Bytes& image, uintptr_t resolver = 0, uint32_t resolverValue = 0);
  // True when no image is held afterwards; keeps the image when unmapping
  // fails.
  bool Free();
  // An export by name or, for the decimal text of an integer, by ordinal.
  uintptr_t GetExport(const Text& name) const;
  uintptr_t GetEntryPoint() const;
  uintptr_t GetHandle() const { return base_; }
  // A second holder of the same image; the image is not duplicated.
  MemoryLibrary Copy() const { return *this; }
  // Lets go of the image without unmapping it: it stays mapped until the
  // process ends. The destructor does the same.
  void Destroy() { base_ = 0; }

 private:
  uintptr_t base_ = 0;
};

// The header fields the loader reads, with the image size as the loader
// uses it (enlarged to cover every section and the headers).
struct ImageSection {
  uint32_t virtualSize;
  uint32_t virtualAddress;
  uint32_t sizeOfRawData;
  uint32_t pointerToRawData;
};

struct DataDirectory {
  uint32_t virtualAddress;
  uint32_t size;
};

struct ImageHeaders {
  uint32_t headersSize;  // DOS header, stub, NT headers and section table
  uint16_t characteristics;
  uint32_t addressOfEntryPoint;
  uint32_t imageBase;
  uint32_t sectionAlignment;
  uint32_t sizeOfImage;
  DataDirectory exports;
  DataDirectory imports;
  DataDirectory relocations;
  std::vector<ImageSection> sections;
};

constexpr uint16_t kImageFileExecutable = 0x0002;
constexpr uint16_t kImageFileDll = 0x2000;

// Steps behind MemoryLibrary, public for the tests.
uintptr_t MapImage(const Bytes& image, uintptr_t resolver, uint32_t resolverValue);
bool UnmapImage(uintptr_t base);
uintptr_t FindExport(uintptr_t base, const Text& name);
uintptr_t AllocateImage(uintptr_t preferred, uint32_t size);
// The smallest multiple of `alignment` not below `value`; an alignment of 0
// leaves the value as it is.
uint64_t AlignUp(uint64_t value, uint32_t alignment);
// Reads and checks the headers of a PE32 file of `length` bytes. False for
// anything the loader refuses before allocating.
bool ReadImageHeaders(const uint8_t* file, std::size_t length, ImageHeaders& headers);
// False when the relocation blocks are malformed (the image then cannot
// run where it lies).
bool ApplyRelocations(uintptr_t base, const ImageHeaders& headers);
bool ResolveImports(uintptr_t base, const ImageHeaders& headers, uintptr_t resolver,
                    uint32_t resolverValue);

}  // namespace taviro
