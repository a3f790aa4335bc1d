// Writes the seed corpus of the loader's fuzz target (memory_library_fuzz):
//   memory_library_seeds tests/fuzz/corpus/memory_library
// Each seed is a small image that gets through every step of the loader
// with the fuzz target's simulated platform, so the fuzzer starts deep.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/skin/fuzz_platform.h"
#include "tests/skin/pe_builder.h"

using namespace taviro;
using namespace taviro::test;

namespace {

std::vector<uint8_t> Stub(uintptr_t routine) {
  const auto stub = simulated::CodeStub(routine);
  return {stub.begin(), stub.end()};
}

bool Write(const std::string& dir, const char* name, const Bytes& bytes) {
  const std::string path = dir + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == std::size_t(bytes.size());
  return std::fclose(f) == 0 && ok;
}

// A DLL much like a linker writes one: relocated code, imports, exports.
PeBuilder Dll(uintptr_t entry) {
  PeBuilder pe;
  pe.entryPoint = pe.PlaceCode(Stub(entry));
  pe.PlaceAddress(pe.entryPoint);
  pe.Import("KERNEL32.dll", {ImportSymbol::Name("Sleep"), ImportSymbol::Ordinal(1)});
  pe.exportBase = 1;
  pe.Export("SkinH_AttachRes", pe.entryPoint);
  pe.Export("Start", pe.PlaceCode(Stub(entry)));
  pe.ExportForwarder("Forward", "KERNEL32.Sleep");
  pe.AddSection(0x3000, 0x1000, {});
  return pe;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: memory_library_seeds DIR\n");
    return 2;
  }
  const std::string dir = argv[1];
  const fuzz::FuzzPlatform p = fuzz::SetUpFuzzPlatform();
  bool ok = true;

  ok &= Write(dir, "dll", Dll(p.start).Build().bytes);

  PeBuilder refusing = Dll(p.refuse);
  ok &= Write(dir, "dll_refusing", refusing.Build().bytes);

  PeBuilder moved = Dll(p.start);
  moved.imageBase = 0;  // never placed there: always relocated
  ok &= Write(dir, "dll_moved", moved.Build().bytes);

  // Odd length: the fuzz target maps it with the resolver.
  PeBuilder resolved = Dll(p.start);
  resolved.Import("NOSUCH.dll", {ImportSymbol::Name("Resolved")});
  Bytes bytes = resolved.Build().bytes;
  if (bytes.size() % 2 == 0) bytes = JoinBytes(bytes, Bytes("", 1));
  ok &= Write(dir, "dll_resolver", bytes);

  // An entry point that is the resolver routine itself: called as an entry
  // point, it must not take the entry point's arguments for names.
  PeBuilder entryResolver = Dll(p.resolver);
  Bytes entryBytes = entryResolver.Build().bytes;
  if (entryBytes.size() % 2 == 0) entryBytes = JoinBytes(entryBytes, Bytes("", 1));
  ok &= Write(dir, "dll_entry_is_resolver", entryBytes);

  PeBuilder exe;
  exe.characteristics = kExecutable;
  exe.sectionAlignment = 0x200;
  exe.PlaceText("no relocations");
  exe.AddSection(0x2000, 0x10, std::vector<uint8_t>(0x80, 0x90));
  ok &= Write(dir, "exe", exe.Build().bytes);

  return ok ? 0 : 1;
}
