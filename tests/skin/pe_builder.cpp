#include "tests/skin/pe_builder.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace taviro::test {

namespace {

uint32_t Align(uint32_t value, uint32_t alignment) {
  return alignment == 0 ? value : (value + alignment - 1) / alignment * alignment;
}

class Writer {
 public:
  explicit Writer(std::vector<uint8_t>& out) : out_(out) {}
  uint32_t Rva() const { return kBodyRva + static_cast<uint32_t>(out_.size()); }
  uint32_t Put(const void* data, std::size_t n) {
    const uint32_t rva = Rva();
    const auto* p = static_cast<const uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
    return rva;
  }
  uint32_t Put16(uint16_t v) { return Put(&v, 2); }
  uint32_t Put32(uint32_t v) { return Put(&v, 4); }
  uint32_t PutText(const std::string& s) { return Put(s.c_str(), s.size() + 1); }
  uint32_t Zeros(std::size_t n) {
    const uint32_t rva = Rva();
    out_.resize(out_.size() + n);
    return rva;
  }
  void Align(uint32_t n) {
    while (out_.size() % n != 0) out_.push_back(0);
  }
  void Patch32(uint32_t rva, uint32_t v) { std::memcpy(&out_[rva - kBodyRva], &v, 4); }
  void Patch16(uint32_t rva, uint16_t v) { std::memcpy(&out_[rva - kBodyRva], &v, 2); }

 private:
  std::vector<uint8_t>& out_;
};

void Store16(std::vector<uint8_t>& b, uint32_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); }
void Store32(std::vector<uint8_t>& b, uint32_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

}  // namespace

uint32_t PeBuilder::Place(const void* data, std::size_t n) { return Writer(body_).Put(data, n); }

uint32_t PeBuilder::PlaceText(const std::string& text) { return Writer(body_).PutText(text); }

uint32_t PeBuilder::PlaceWord(uint32_t value) {
  AlignBody(4);
  return Writer(body_).Put32(value);
}

uint32_t PeBuilder::PlaceAddress(uint32_t rva) {
  const uint32_t at = PlaceWord(imageBase + rva);
  Relocate(at);
  return at;
}

void PeBuilder::AlignBody(uint32_t n) { Writer(body_).Align(n); }

void PeBuilder::Relocate(uint32_t rva, uint16_t type) { relocations_.emplace_back(rva, type); }

void PeBuilder::Import(const std::string& library, const std::vector<ImportSymbol>& symbols) {
  imports_.emplace_back(library, symbols);
}

void PeBuilder::Export(const std::string& name, uint32_t rva) {
  exports_.push_back({name, rva, std::nullopt});
}

void PeBuilder::ExportForwarder(const std::string& name, const std::string& target) {
  exports_.push_back({name, 0, target});
}

void PeBuilder::AddSection(uint32_t virtualAddress, uint32_t virtualSize,
                           std::vector<uint8_t> raw) {
  sections_.push_back({virtualAddress, virtualSize, std::move(raw)});
}

BuiltImage PeBuilder::Build() const {
  BuiltImage out;
  std::vector<uint8_t> body = body_;
  Writer w(body);

  if (!imports_.empty()) {
    w.Align(4);
    out.importDirectory = w.Zeros(20 * (imports_.size() + 1));
    for (std::size_t i = 0; i < imports_.size(); ++i) {
      const auto& [library, symbols] = imports_[i];
      const uint32_t name = w.PutText(library);
      std::vector<uint32_t> values;
      for (const ImportSymbol& s : symbols) {
        if (s.ordinal != 0) {
          values.push_back(0x80000000u | s.ordinal);
        } else {
          w.Align(2);
          const uint32_t hint = w.Put16(0);
          w.PutText(s.name);
          values.push_back(hint);
        }
      }
      w.Align(4);
      std::vector<uint32_t> thunks;
      for (uint32_t v : values) thunks.push_back(w.Put32(v));
      w.Put32(0);
      out.thunks.push_back(thunks);
      const uint32_t descriptor = out.importDirectory + 20 * static_cast<uint32_t>(i);
      w.Patch32(descriptor + 12, name);
      w.Patch32(descriptor + 16, thunks.empty() ? w.Rva() - 4 : thunks.front());
    }
  }

  uint32_t exportSize = 0;
  if (!exports_.empty()) {
    w.Align(4);
    const uint32_t directory = w.Zeros(40);
    const uint32_t functions = w.Zeros(4 * exports_.size());
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < exports_.size(); ++i) {
      if (!exports_[i].name.empty()) named.push_back(i);
    }
    const uint32_t names = w.Zeros(4 * named.size());
    const uint32_t ordinals = w.Zeros(2 * named.size());
    const uint32_t dllName = w.PutText("test.dll");
    // Names one after another in table order, as linkers write them.
    for (std::size_t k = 0; k < named.size(); ++k) {
      w.Patch32(names + 4 * static_cast<uint32_t>(k), w.PutText(exports_[named[k]].name));
      w.Patch16(ordinals + 2 * static_cast<uint32_t>(k), static_cast<uint16_t>(named[k]));
    }
    for (std::size_t i = 0; i < exports_.size(); ++i) {
      const uint32_t rva =
          exports_[i].forwarder ? w.PutText(*exports_[i].forwarder) : exports_[i].rva;
      w.Patch32(functions + 4 * static_cast<uint32_t>(i), rva);
    }
    exportSize = w.Rva() - directory;
    w.Patch32(directory + 12, dllName);
    w.Patch32(directory + 16, exportBase);
    w.Patch32(directory + 20, static_cast<uint32_t>(exports_.size()));
    w.Patch32(directory + 24, static_cast<uint32_t>(named.size()));
    w.Patch32(directory + 28, functions);
    w.Patch32(directory + 32, names);
    w.Patch32(directory + 36, ordinals);
    out.exportDirectory = directory;
  }

  if (!relocations_.empty()) {
    w.Align(4);
    out.relocationDirectory = w.Rva();
    std::map<uint32_t, std::vector<uint16_t>> pages;
    for (const auto& [rva, type] : relocations_) {
      pages[rva & ~0xFFFu].push_back(static_cast<uint16_t>((type << 12) | (rva & 0xFFF)));
    }
    for (auto& [page, entries] : pages) {
      if (entries.size() % 2 != 0) entries.push_back(0);  // type 0 pads to 32 bits
      w.Put32(page);
      w.Put32(8 + 2 * static_cast<uint32_t>(entries.size()));
      for (uint16_t e : entries) w.Put16(e);
    }
    out.relocationSize = w.Rva() - out.relocationDirectory;
    w.Zeros(8);  // the zero block head that ends the walk
  }

  const uint32_t count = 1 + static_cast<uint32_t>(sections_.size());
  const uint32_t headersSize = Align(kSectionTable + 40 * count, fileAlignment);
  const uint32_t bodySize = static_cast<uint32_t>(body.size());
  const uint32_t bodyRaw = Align(bodySize, fileAlignment);

  uint32_t imageEnd = Align(kBodyRva + std::max<uint32_t>(bodySize, 1), sectionAlignment);
  for (const Section& s : sections_) {
    const uint32_t extent = std::max<uint32_t>(s.virtualSize, static_cast<uint32_t>(s.raw.size()));
    imageEnd = std::max(imageEnd, Align(s.virtualAddress + extent, sectionAlignment));
  }
  out.sizeOfImage = sizeOfImage.value_or(imageEnd);

  std::vector<uint8_t> file(headersSize + bodyRaw);
  file[0] = 'M';
  file[1] = 'Z';
  Store32(file, 60, kNtOffset);
  const uint32_t nt = kNtOffset;
  Store32(file, nt, 0x4550);
  Store16(file, nt + 4, 0x14C);
  Store16(file, nt + 6, static_cast<uint16_t>(count));
  Store16(file, nt + 20, 224);
  Store16(file, nt + 22, characteristics);
  Store16(file, nt + 24, 0x10B);  // PE32
  Store32(file, nt + 40, entryPoint);
  Store32(file, nt + 52, imageBase);
  Store32(file, nt + 56, sectionAlignment);
  Store32(file, nt + 60, fileAlignment);
  Store32(file, nt + 80, out.sizeOfImage);
  Store32(file, nt + 84, headersSize);
  Store16(file, nt + 92, 2);  // GUI subsystem
  Store32(file, nt + 116, 16);
  if (out.exportDirectory != 0) {
    Store32(file, nt + 120, out.exportDirectory);
    Store32(file, nt + 124, exportSize);
  }
  if (out.importDirectory != 0) {
    Store32(file, nt + 128, out.importDirectory);
    Store32(file, nt + 132, 20 * static_cast<uint32_t>(imports_.size() + 1));
  }
  if (out.relocationDirectory != 0) {
    Store32(file, nt + 160, out.relocationDirectory);
    Store32(file, nt + 164, out.relocationSize);
  }

  const auto sectionHeader = [&](uint32_t index, const char* name, uint32_t va, uint32_t vsize,
                                 uint32_t rawSize, uint32_t rawAt) {
    const uint32_t at = kSectionTable + 40 * index;
    std::memcpy(&file[at], name, std::min<std::size_t>(8, std::strlen(name)));
    Store32(file, at + 8, vsize);
    Store32(file, at + 12, va);
    Store32(file, at + 16, rawSize);
    Store32(file, at + 20, rawSize == 0 ? 0 : rawAt);
    Store32(file, at + 36, 0xE0000060);  // code, data, readable, writable, executable
  };
  sectionHeader(0, ".text", kBodyRva, bodySize, bodyRaw, headersSize);
  std::copy(body.begin(), body.end(), file.begin() + headersSize);
  out.bodyFileOffset = headersSize;

  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const Section& s = sections_[i];
    const uint32_t rawAt = static_cast<uint32_t>(file.size());
    const uint32_t rawSize = static_cast<uint32_t>(s.raw.size());
    sectionHeader(1 + static_cast<uint32_t>(i), ".data", s.virtualAddress, s.virtualSize, rawSize,
                  rawAt);
    file.insert(file.end(), s.raw.begin(), s.raw.end());
  }

  out.bytes = Bytes(file.data(), file.size());
  return out;
}

void Put16(Bytes& bytes, uint32_t offset, uint16_t value) {
  std::memcpy(bytes.data() + offset, &value, 2);
}

void Put32(Bytes& bytes, uint32_t offset, uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

uint32_t Get32(uintptr_t address) {
  uint32_t value;
  std::memcpy(&value, reinterpret_cast<const void*>(address), 4);
  return value;
}

}  // namespace taviro::test
