// Arbitrary byte strings mapped by the loader over the simulated platform.
// The platform fences every block it hands out (a guard page, and poisoned
// slack under AddressSanitizer), so any access outside the byte string or
// the image crashes. Beyond that: no call lands outside an image or a
// routine, a failed Load leaves nothing allocated, an answered export lies
// inside the image, and Free releases the image unless its own sections
// overwrote the signatures it checks.
#include <cstring>

#include "skin/image_platform.h"
#include "skin/memory_library.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/skin/fuzz_platform.h"

using namespace taviro;
using taviro::fuzz::Require;
namespace sim = taviro::simulated;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::FuzzPlatform platform = fuzz::SetUpFuzzPlatform();
  const Bytes image(data, size);
  MemoryLibrary library;
  // Odd lengths go through the resolver as well.
  const bool loaded = library.Load(image, (size & 1) != 0 ? platform.resolver : 0,
                                    fuzz::kResolverValue);
  Require(sim::StrayCalls() == 0);
  if (!loaded) {
    Require(library.GetHandle() == 0);
    Require(sim::LiveBlocks().empty());
    return 0;
  }
  Require(sim::LiveBlocks().size() == 1);
  const sim::Block block = sim::LiveBlocks()[0];
  const uintptr_t base = library.GetHandle();
  Require(base == block.address);
  for (const char* name : {"Start", "SkinH_AttachRes", "0", "1", "2", "5", "-1", "06"}) {
    const uintptr_t found = library.GetExport(name);
    Require(found == 0 || (found >= base && found < base + block.size));
  }
  library.GetEntryPoint();

  const auto* b = reinterpret_cast<const uint8_t*>(base);
  int32_t nt = -1;
  std::memcpy(&nt, b + 60, 4);
  uint32_t signature = 0;
  if (nt >= 0 && uint64_t(nt) + 248 <= block.size) std::memcpy(&signature, b + nt, 4);
  const bool signatures = b[0] == 'M' && b[1] == 'Z' && signature == 0x4550;
  Require(library.Free() == signatures);
  Require(sim::LiveBlocks().size() == (signatures ? 0u : 1u));
  Require(sim::StrayCalls() == 0);
  return 0;
}
