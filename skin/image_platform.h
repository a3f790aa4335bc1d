// The five platform operations the in-memory library loader rests on.
//   image_platform_win32.cpp  VirtualAlloc, VirtualFree, LoadLibraryA and
//                             GetProcAddress themselves; CallAddress calls
//                             32-bit code (an x86-64 build cannot, see there)
//   image_platform_posix.cpp  a simulated platform: memory below 4 GiB, a
//                             table of fake libraries and symbols, and host
//                             routines standing at given addresses
//
// Images, and everything handed to their code, lie below 4 GiB: the loader
// stores addresses in 32-bit fields. Addresses are uintptr_t so the same
// logic holds on a 64-bit host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace taviro {

// The platform's own constants, under the platform's names. winnt.h defines
// them as macros with the same values; the win32 backend includes it first.
#ifndef MEM_COMMIT
constexpr uint32_t MEM_COMMIT = 0x1000;
constexpr uint32_t MEM_RESERVE = 0x2000;
constexpr uint32_t MEM_RELEASE = 0x8000;
constexpr uint32_t PAGE_EXECUTE_READWRITE = 0x40;
#endif

// Zero-filled, readable, writable and executable memory of `size` bytes at
// `address` when one is given (0: anywhere below 4 GiB); 0 when that is not
// possible.
uintptr_t VirtualAlloc(uintptr_t address, uint32_t size, uint32_t allocationType,
                       uint32_t protect);
// With size 0 and MEM_RELEASE: releases the whole block that starts at
// `address`.
bool VirtualFree(uintptr_t address, uint32_t size, uint32_t freeType);
// The module handle of a library given by name, or 0.
uintptr_t LoadLibraryA(const char* name);
// The address of a symbol of a loaded library, by name or by an ordinal
// below 65536 passed in place of the name (as Windows' MAKEINTRESOURCE does);
// 0 when not found.
uintptr_t GetProcAddress(uintptr_t module, const char* symbol);

// Calls the routine at `routine` as a Windows API routine with ten 32-bit
// arguments and returns its 32-bit result. A routine that declares fewer
// arguments sees the first ones; whether it pops them or not, the caller's
// stack is as it was. Address 0 is never called and answers 0.
uint32_t CallAddress(uintptr_t routine, uint32_t a1 = 0, uint32_t a2 = 0, uint32_t a3 = 0,
                     uint32_t a4 = 0, uint32_t a5 = 0, uint32_t a6 = 0, uint32_t a7 = 0,
                     uint32_t a8 = 0, uint32_t a9 = 0, uint32_t a10 = 0);

#if !defined(_WIN32)
// The simulated platform's controls, for tests and fuzzers. Not thread-safe:
// one thread drives it.
namespace simulated {

using CallArguments = std::array<uint32_t, 10>;
using HostRoutine = std::function<uint32_t(const CallArguments&)>;

// A routine's "machine code" inside a simulated image: eight bytes, the
// marker "SIM>" and the 32-bit address of a routine placed with
// PlaceRoutine. Calling the address where they lie runs that routine.
constexpr std::size_t kCodeStubSize = 8;
std::array<uint8_t, kCodeStubSize> CodeStub(uintptr_t routine);

// How a call through CallAddress was served.
enum class CallTarget {
  kRoutine,     // a routine placed with PlaceRoutine
  kImageStub,   // a code stub inside live simulated memory
  kImageOther,  // other bytes inside live simulated memory: answers 0
  kStray,       // anywhere else (never acceptable): answers 0
};

struct CallRecord {
  uintptr_t address;
  CallArguments arguments;
  CallTarget target;
  uintptr_t routine;  // the routine that ran, or 0
};

struct ProcLookup {
  uintptr_t module;
  std::string name;  // empty for a lookup by ordinal
  uint32_t ordinal;  // 0 for a lookup by name
};

// Forgets everything: releases all memory, libraries, routines and logs.
void Reset();

// Routines are numbered from a fixed page, so after Reset the n-th routine
// placed always stands at the same address (fuzz seeds rely on that).
uintptr_t PlaceRoutine(HostRoutine routine);

// A library that LoadLibraryA finds by name, ignoring letter case as
// Windows does; its symbols are found by exact name or by ordinal.
uintptr_t AddLibrary(const std::string& name);
void AddSymbol(uintptr_t library, const std::string& name, uintptr_t address);
void AddOrdinal(uintptr_t library, uint16_t ordinal, uintptr_t address);

// Blocks larger than this are refused (default 256 MiB).
void SetBlockLimit(uint32_t bytes);

// Live blocks from VirtualAlloc: start address and size asked for.
struct Block {
  uintptr_t address;
  uint32_t size;
};
std::vector<Block> LiveBlocks();

const std::vector<CallRecord>& Calls();
const std::vector<std::string>& LibraryLoads();
const std::vector<ProcLookup>& ProcLookups();
int StrayCalls();

}  // namespace simulated
#endif

}  // namespace taviro
