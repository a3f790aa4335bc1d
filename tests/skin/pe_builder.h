// Writes small PE32 images for the loader's tests: one body section at RVA
// 0x1000 that holds whatever the test places plus the import, export and
// relocation tables, and any further sections the test adds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "text/text.h"

namespace taviro::test {

constexpr uint32_t kNtOffset = 0x40;       // e_lfanew of every built image
constexpr uint32_t kSectionTable = kNtOffset + 248;
constexpr uint32_t kBodyRva = 0x1000;
constexpr uint16_t kExecutable = 0x0002;
constexpr uint16_t kDll = 0x2000;

struct ImportSymbol {
  std::string name;      // by name when ordinal is 0
  uint16_t ordinal = 0;
  static ImportSymbol Name(std::string n) { return {std::move(n), 0}; }
  static ImportSymbol Ordinal(uint16_t o) { return {{}, o}; }
};

struct BuiltImage {
  Bytes bytes;
  // thunks[i][j]: RVA of the j-th thunk of the i-th imported library.
  std::vector<std::vector<uint32_t>> thunks;
  uint32_t importDirectory = 0;
  uint32_t exportDirectory = 0;
  uint32_t relocationDirectory = 0;
  uint32_t relocationSize = 0;
  uint32_t sizeOfImage = 0;
  // File offset of an RVA inside the body section.
  uint32_t BodyOffset(uint32_t rva) const { return bodyFileOffset + (rva - kBodyRva); }
  uint32_t bodyFileOffset = 0;
};

class PeBuilder {
 public:
  uint32_t imageBase = 0x10000000;
  uint16_t characteristics = kExecutable | kDll | 0x0100;  // 0x0100: 32-bit machine
  uint32_t sectionAlignment = 0x1000;
  uint32_t fileAlignment = 0x200;
  uint32_t entryPoint = 0;
  uint32_t exportBase = 1;
  // The header's SizeOfImage; by default just enough for every section.
  std::optional<uint32_t> sizeOfImage;

  // Each returns the RVA where its bytes lie in the body.
  uint32_t Place(const void* data, std::size_t n);
  uint32_t PlaceText(const std::string& text);
  uint32_t PlaceWord(uint32_t value);
  // A word holding imageBase + rva, with a type-3 relocation for it.
  uint32_t PlaceAddress(uint32_t rva);
  // Machine code, or the simulated platform's stub for a host routine.
  uint32_t PlaceCode(const std::vector<uint8_t>& code) { return Place(code.data(), code.size()); }
  // Pads the body to a multiple of `n` bytes.
  void AlignBody(uint32_t n);

  // A relocation entry of any type for the word at `rva`.
  void Relocate(uint32_t rva, uint16_t type = 3);
  void Import(const std::string& library, const std::vector<ImportSymbol>& symbols);
  // Exports in table order: the n-th has ordinal exportBase + n. An empty
  // name leaves it without a name; an RVA of 0 leaves its slot empty.
  void Export(const std::string& name, uint32_t rva);
  // An export whose RVA points at "target" inside the export directory.
  void ExportForwarder(const std::string& name, const std::string& target);
  // A further section; its raw data follows the body's in the file.
  void AddSection(uint32_t virtualAddress, uint32_t virtualSize, std::vector<uint8_t> raw);

  BuiltImage Build() const;

 private:
  struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    std::vector<uint8_t> raw;
  };
  struct ExportEntry {
    std::string name;
    uint32_t rva;
    std::optional<std::string> forwarder;
  };

  std::vector<uint8_t> body_;
  std::vector<std::pair<uint32_t, uint16_t>> relocations_;
  std::vector<std::pair<std::string, std::vector<ImportSymbol>>> imports_;
  std::vector<ExportEntry> exports_;
  std::vector<Section> sections_;
};

void Put16(Bytes& bytes, uint32_t offset, uint16_t value);
void Put32(Bytes& bytes, uint32_t offset, uint32_t value);
uint32_t Get32(uintptr_t address);

}  // namespace taviro::test
