// The simulated platform as the loader's fuzz target sets it up; the seed
// writer sets it up the same way so that its images name the same routine
// addresses (routines stand at fixed addresses after Reset).
#pragma once

#include <cstdint>

#include "skin/image_platform.h"
#include "text/text.h"

namespace taviro::fuzz {

struct FuzzPlatform {
  uintptr_t start;     // an entry point that answers 1
  uintptr_t refuse;    // an entry point that answers 0
  uintptr_t resolver;  // knows "Resolved" in any library
};

// What the fuzz target passes to Load as the resolver's own value; a call
// to the resolver routine with anything else in that place is not a
// resolution (an image may well name the routine as its entry point).
constexpr uint32_t kResolverValue = 7;

inline FuzzPlatform SetUpFuzzPlatform() {
  namespace sim = simulated;
  sim::Reset();
  sim::SetBlockLimit(16u << 20);
  FuzzPlatform p{};
  p.start = sim::PlaceRoutine([](const sim::CallArguments&) { return 1u; });
  p.refuse = sim::PlaceRoutine([](const sim::CallArguments&) { return 0u; });
  const uintptr_t start = p.start;
  p.resolver = sim::PlaceRoutine([start](const sim::CallArguments& a) -> uint32_t {
    if (a[2] != kResolverValue) return 1;
    // Both addresses must be readable strings, wherever the image put them.
    TextAtAddress(a[0]);
    return TextAtAddress(a[1]) == Text("Resolved") ? static_cast<uint32_t>(start) : 0;
  });
  const uintptr_t kernel32 = sim::AddLibrary("KERNEL32.dll");
  sim::AddSymbol(kernel32, "Sleep", p.start);
  sim::AddOrdinal(kernel32, 1, p.start);
  return p;
}

}  // namespace taviro::fuzz
