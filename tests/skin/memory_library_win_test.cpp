// The loader on Windows itself: real VirtualAlloc, LoadLibraryA and
// GetProcAddress, images written by PeBuilder. In the 32-bit build the
// images carry real machine code (entry points, exports) and CallAddress
// runs it. An x86-64 build cannot call 32-bit code: there CallAddress
// answers 0, so the cases that run image code are skipped and a DLL with an
// entry point is refused.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "skin/image_platform.h"
#include "skin/memory_library.h"
#include "tests/skin/pe_builder.h"

namespace taviro {
namespace {

using test::BuiltImage;
using test::Get32;
using test::ImportSymbol;
using test::kExecutable;
using test::PeBuilder;

constexpr bool kRunsImageCode = sizeof(void*) == 4;
constexpr uint32_t kBase = 0x20000000;

bool IsFree(uintptr_t address) {
  MEMORY_BASIC_INFORMATION info;
  return VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) != 0 &&
         info.State == MEM_FREE;
}

void Append32(std::vector<uint8_t>& code, uint32_t v) {
  for (int i = 0; i < 4; ++i) code.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// mov eax, [esp+4]; add eax, [esp+8]; ... over `count` arguments; then
// ret n (stdcall, pops them) or ret (cdecl, leaves them).
std::vector<uint8_t> SumCode(int count, bool popsArguments) {
  std::vector<uint8_t> code = {0x8B, 0x44, 0x24, 0x04};
  for (int i = 2; i <= count; ++i) {
    code.insert(code.end(), {0x03, 0x44, 0x24, static_cast<uint8_t>(4 * i)});
  }
  if (popsArguments) {
    code.insert(code.end(), {0xC2, static_cast<uint8_t>(4 * count), 0x00});
  } else {
    code.push_back(0xC3);
  }
  return code;
}

uint32_t entryCalls = 0;
uint32_t lastReason = 0xFFFFFFFF;

// DllMain that counts its calls, keeps the reason and answers `answer`:
//   inc dword [entryCalls]; mov eax, [esp+8]; mov [lastReason], eax;
//   mov eax, answer; ret 12
std::vector<uint8_t> EntryCode(uint32_t answer) {
  std::vector<uint8_t> code = {0xFF, 0x05};
  Append32(code, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&entryCalls)));
  code.insert(code.end(), {0x8B, 0x44, 0x24, 0x08, 0xA3});
  Append32(code, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&lastReason)));
  code.push_back(0xB8);
  Append32(code, answer);
  code.insert(code.end(), {0xC2, 0x0C, 0x00});
  return code;
}

TEST(WindowsLoader, CallAddressKeepsTheCallersStack) {
  if (!kRunsImageCode) GTEST_SKIP() << "32-bit code cannot run in a 64-bit build";
  struct Case {
    const char* name;
    int count;
    bool pops;
  };
  const Case cases[] = {
      {"three arguments, popped", 3, true},
      {"three arguments, left", 3, false},
      {"ten arguments, popped", 10, true},
      {"ten arguments, left", 10, false},
      {"one argument of ten given", 1, true},
  };
  const uintptr_t page = VirtualAlloc(0, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  ASSERT_NE(page, 0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> code = SumCode(c.count, c.pops);
    std::memcpy(reinterpret_cast<void*>(page), code.data(), code.size());
    volatile uint32_t guard = 0x600DF00D;  // a local that a broken stack would lose
    uint32_t expected = 0;
    for (int i = 1; i <= c.count; ++i) expected += i;
    // The same call twice: a leaked or over-popped stack shows by the second.
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(CallAddress(page, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10), expected);
    }
    EXPECT_EQ(guard, 0x600DF00Du);
  }
  EXPECT_EQ(CallAddress(0, 1, 2, 3), 0u);  // never calls address 0
  VirtualFree(page, 0, MEM_RELEASE);
}

struct Placed {
  BuiltImage image;
  uint32_t data;     // a word of the image
  uint32_t pointer;  // a relocated word holding imageBase + data
};

Placed WithRelocations(uint16_t characteristics) {
  PeBuilder pe;
  pe.imageBase = kBase;
  pe.characteristics = characteristics;
  Placed p;
  p.data = pe.PlaceWord(0x12345678);
  p.pointer = pe.PlaceAddress(p.data);
  // GetData: nop x3; mov eax, imageBase + data; ret. The nops put the
  // immediate, which is relocated too, on a word of its own.
  pe.AlignBody(4);
  const uint32_t getData = pe.PlaceCode({0x90, 0x90, 0x90, 0xB8});
  pe.PlaceAddress(p.data);
  pe.PlaceCode({0xC3});
  pe.Export("GetData", getData);
  p.image = pe.Build();
  return p;
}

TEST(WindowsLoader, PlacesAtTheFreePreferredBaseOrRelocates) {
  for (const bool taken : {false, true}) {
    SCOPED_TRACE(taken ? "preferred base taken" : "preferred base free");
    ASSERT_TRUE(IsFree(kBase)) << "pick another preferred base for this test";
    void* blocker = nullptr;
    if (taken) blocker = ::VirtualAlloc(reinterpret_cast<void*>(kBase), 0x1000,
                                        MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    const Placed p = WithRelocations(kExecutable);
    MemoryLibrary library;
    ASSERT_TRUE(library.Load(p.image.bytes));
    const uintptr_t b = library.GetHandle();
    EXPECT_EQ(b == kBase, !taken);
    EXPECT_LT(uint64_t{b} + p.image.sizeOfImage, uint64_t{1} << 32);
    EXPECT_EQ(Get32(b + p.pointer), b + p.data);
    const uintptr_t getData = library.GetExport("GetData");
    EXPECT_EQ(getData, b + 0x1008);
    EXPECT_EQ(library.GetExport("1"), getData);
    if (kRunsImageCode) {
      EXPECT_EQ(CallAddress(getData), b + p.data);
    }
    EXPECT_TRUE(library.Free());
    EXPECT_TRUE(IsFree(b));
    if (blocker != nullptr) ::VirtualFree(blocker, 0, MEM_RELEASE);
  }
}

// The ordinal under which a library exports a name, read from its own table.
uint16_t OrdinalOf(HMODULE module, const char* name) {
  const auto* base = reinterpret_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  const auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + dir->AddressOfNameOrdinals);
  for (DWORD i = 0; i < dir->NumberOfNames; ++i) {
    if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0) {
      return static_cast<uint16_t>(dir->Base + ordinals[i]);
    }
  }
  return 0;
}

std::vector<std::string> resolverSeen;

uint32_t TAVIRO_STDCALL Resolver(uint32_t library, uint32_t symbol, uint32_t value) {
  resolverSeen.push_back(std::string(reinterpret_cast<const char*>(uintptr_t{library})) + "!" +
                         reinterpret_cast<const char*>(uintptr_t{symbol}) + "/" +
                         std::to_string(value));
  return std::strcmp(reinterpret_cast<const char*>(uintptr_t{symbol}), "Invented") == 0
             ? 0x00C0FFEE
             : 0;
}

TEST(WindowsLoader, LinksSystemLibrariesByNameAndOrdinal) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  const auto tickCount = reinterpret_cast<uintptr_t>(::GetProcAddress(kernel32, "GetTickCount"));
  const uint16_t ordinal = OrdinalOf(kernel32, "GetTickCount");
  ASSERT_NE(ordinal, 0);

  PeBuilder pe;
  pe.characteristics = kExecutable;
  pe.PlaceWord(0);
  pe.Import("KERNEL32.dll", {ImportSymbol::Name("GetTickCount"), ImportSymbol::Ordinal(ordinal)});
  const BuiltImage image = pe.Build();
  MemoryLibrary library;
  const bool loaded = library.Load(image.bytes);
  if (uint64_t{tickCount} >= (uint64_t{1} << 32)) {
    // A 64-bit system library above 4 GiB cannot go into a 32-bit thunk.
    EXPECT_FALSE(loaded);
    return;
  }
  ASSERT_TRUE(loaded);
  const uintptr_t b = library.GetHandle();
  EXPECT_EQ(Get32(b + image.thunks[0][0]), tickCount);
  EXPECT_EQ(Get32(b + image.thunks[0][1]), tickCount);
  EXPECT_TRUE(library.Free());
}

TEST(WindowsLoader, AsksTheResolverFirst) {
  if (!kRunsImageCode) GTEST_SKIP() << "the resolver is 32-bit code";
  const uint16_t ordinal = OrdinalOf(GetModuleHandleA("kernel32.dll"), "GetTickCount");
  PeBuilder pe;
  pe.characteristics = kExecutable;
  pe.PlaceWord(0);
  pe.Import("KERNEL32.dll", {ImportSymbol::Name("GetTickCount"), ImportSymbol::Ordinal(ordinal),
                             ImportSymbol::Name("Invented")});
  pe.Import("NOSUCH.dll", {ImportSymbol::Name("Invented")});
  const BuiltImage image = pe.Build();
  resolverSeen.clear();
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(image.bytes, RoutineAddress(&Resolver), 9));
  const uintptr_t b = library.GetHandle();
  EXPECT_EQ(Get32(b + image.thunks[0][2]), 0x00C0FFEEu);
  EXPECT_EQ(Get32(b + image.thunks[1][0]), 0x00C0FFEEu);
  EXPECT_EQ(resolverSeen, (std::vector<std::string>{
                              "KERNEL32.dll!GetTickCount/9",
                              "KERNEL32.dll!" + std::to_string(ordinal) + "/9",
                              "KERNEL32.dll!Invented/9",
                              "NOSUCH.dll!Invented/9",
                          }));
  EXPECT_TRUE(library.Free());
}

TEST(WindowsLoader, StartsADllAndStopsItWhenItRefuses) {
  struct Case {
    const char* name;
    uint32_t answer;
    bool loads;
    uint32_t calls;
  };
  const Case cases[] = {
      {"starts", 1, true, 1},
      {"refuses: stopped again and released", 0, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PeBuilder pe;
    pe.imageBase = kBase;
    pe.entryPoint = pe.PlaceCode(EntryCode(c.answer));
    entryCalls = 0;
    lastReason = 0xFFFFFFFF;
    MemoryLibrary library;
    const bool loaded = library.Load(pe.Build().bytes);
    if (!kRunsImageCode) {
      // The entry point cannot run, which reads as a refusal.
      EXPECT_FALSE(loaded);
      EXPECT_TRUE(IsFree(kBase));
      continue;
    }
    EXPECT_EQ(loaded, c.loads);
    EXPECT_EQ(entryCalls, c.calls);
    EXPECT_EQ(lastReason, c.loads ? 1u : 0u);
    EXPECT_TRUE(library.Free());
    EXPECT_EQ(lastReason, 0u);
    EXPECT_TRUE(IsFree(kBase));
  }
}

}  // namespace
}  // namespace taviro
