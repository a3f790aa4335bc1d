// The loader over the simulated platform: images written by PeBuilder,
// entry points and resolvers as host routines standing at addresses.
// Memory the simulated platform hands out is fenced (a guard page, and
// AddressSanitizer poisoning of the slack), so any read or write outside an
// image fails these tests.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <tuple>
#include <functional>
#include <string>
#include <vector>

#include "skin/image_platform.h"
#include "skin/memory_library.h"
#include "tests/skin/pe_builder.h"

namespace taviro {
namespace {

namespace sim = simulated;
using test::BuiltImage;
using test::Get32;
using test::ImportSymbol;
using test::kDll;
using test::kExecutable;
using test::kNtOffset;
using test::kSectionTable;
using test::PeBuilder;
using test::Put16;
using test::Put32;

constexpr uint32_t kBase = 0x10000000;

std::vector<uint8_t> Stub(uintptr_t routine) {
  const auto stub = sim::CodeStub(routine);
  return {stub.begin(), stub.end()};
}

// The reasons an entry point was called with, in order.
std::vector<uint32_t> Reasons(uintptr_t routine) {
  std::vector<uint32_t> reasons;
  for (const sim::CallRecord& c : sim::Calls()) {
    if (c.routine == routine) {
      EXPECT_EQ(c.arguments[0], 0u);  // module handle 0, never the image base
      EXPECT_EQ(c.arguments[2], 0u);
      reasons.push_back(c.arguments[1]);
    }
  }
  return reasons;
}

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::Reset(); }
  void TearDown() override {
    EXPECT_EQ(sim::StrayCalls(), 0);
    sim::Reset();
  }

  static uintptr_t Answering(uint32_t result) {
    return sim::PlaceRoutine([result](const sim::CallArguments&) { return result; });
  }

  // A DLL whose entry point is the given routine, with one relocated word.
  static PeBuilder Dll(uintptr_t entry) {
    PeBuilder pe;
    pe.imageBase = kBase;
    pe.entryPoint = pe.PlaceCode(Stub(entry));
    pe.PlaceAddress(pe.entryPoint);
    return pe;
  }

  static Bytes Truncated(const Bytes& b, std::size_t n) { return Bytes(b.data(), n); }
};

// --- Headers -----------------------------------------------------------------

TEST_F(LoaderTest, JudgesHeadersBeforeAllocatingAnything) {
  struct Case {
    const char* name;
    std::function<Bytes(Bytes)> change;
    bool loads;
  };
  const uint32_t nt = kNtOffset;
  const std::vector<Case> cases = {
      {"well-formed", [](Bytes b) { return b; }, true},
      // Exact-size byte strings: AddressSanitizer sees a read of byte 63.
      {"63 bytes", [](Bytes b) { return Truncated(b, 63); }, false},
      {"64 bytes, judged by the NT header check", [](Bytes b) { return Truncated(b, 64); }, false},
      {"no MZ", [](Bytes b) { Put16(b, 0, 0x4D5A); return b; }, false},
      {"negative e_lfanew", [](Bytes b) { Put32(b, 60, 0xFFFFFFC0u); return b; }, false},
      {"e_lfanew far past the end", [](Bytes b) { Put32(b, 60, 0x7FFFFFF0); return b; }, false},
      {"NT headers one byte short", [nt](Bytes b) { return Truncated(b, nt + 247); }, false},
      {"no PE signature", [nt](Bytes b) { Put32(b, nt, 0x00004551); return b; }, false},
      {"executable bit clear", [nt](Bytes b) { Put16(b, nt + 22, kDll); return b; }, false},
      {"section table past the end",
       [nt](Bytes b) { Put16(b, nt + 6, 0xFFFF); return b; }, false},
      {"section table one byte short",
       [](Bytes b) { return Truncated(b, kSectionTable + 39); }, false},
      {"SizeOfImage 0 and no sections",
       [nt](Bytes b) { Put16(b, nt + 6, 0); Put32(b, nt + 80, 0); return b; }, false},
      {"raw data past the end of the byte string",
       [](Bytes b) { Put32(b, kSectionTable + 20, b.size() - 4); return b; }, false},
      {"section reaching past 4 GiB",
       [](Bytes b) { Put32(b, kSectionTable + 12, 0xFFFFF000u); return b; }, false},
      {"DLL entry point outside the image",
       [nt](Bytes b) { Put32(b, nt + 40, 0x00100000); return b; }, false},
      {"image larger than the platform grants",
       [nt](Bytes b) { Put32(b, nt + 80, 0x7FFF0000); return b; }, false},
  };
  const uintptr_t entry = Answering(1);
  const Bytes good = Dll(entry).Build().bytes;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    const uintptr_t again = Answering(1);  // the same address after Reset
    ASSERT_EQ(again, entry);
    const Bytes bytes = c.change(good);
    MemoryLibrary library;
    EXPECT_EQ(library.Load(bytes), c.loads);
    if (!c.loads) {
      EXPECT_EQ(library.GetHandle(), 0u);
      EXPECT_TRUE(sim::LiveBlocks().empty());
      EXPECT_TRUE(sim::Calls().empty());
    }
  }
}

TEST_F(LoaderTest, MapsAnImageWhoseHeadersEndTheByteString) {
  const struct {
    uint32_t sizeOfImage;
    uint32_t allocated;
  } cases[] = {
      {0x2000, 0x2000},
      {0x10, 0x1000},  // grown to hold the headers copied into it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sizeOfImage);
    PeBuilder pe;
    pe.characteristics = kExecutable;
    Bytes bytes = pe.Build().bytes;
    Put16(bytes, kNtOffset + 6, 0);  // no sections: the string ends with the NT headers
    Put32(bytes, kNtOffset + 80, c.sizeOfImage);
    const Bytes exact(bytes.data(), kNtOffset + 248);
    MemoryLibrary library;
    ASSERT_TRUE(library.Load(exact));
    ASSERT_EQ(sim::LiveBlocks().size(), 1u);
    EXPECT_EQ(sim::LiveBlocks()[0].size, c.allocated);
    EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(library.GetHandle()), exact.data(), exact.size()),
              0);
    EXPECT_TRUE(library.Free());
  }
}

// --- Placement and relocations ---------------------------------------------

struct Relocated {
  BuiltImage image;
  std::vector<uint32_t> type3;  // words holding imageBase + an RVA
  uint32_t typeA = 0;           // a word with a type-10 entry: left alone
  uint32_t plain = 0;           // a word with no entry
};

Relocated WithRelocations(uint32_t imageBase) {
  PeBuilder pe;
  pe.imageBase = imageBase;
  pe.characteristics = kExecutable;
  Relocated r;
  r.type3.push_back(pe.PlaceAddress(0x1000));
  r.type3.push_back(pe.PlaceAddress(0x1F00));
  r.typeA = pe.PlaceWord(0xA0A0A0A0);
  pe.Relocate(r.typeA, 10);
  r.plain = pe.PlaceWord(imageBase + 4);
  // Targets on a second page: a block of their own.
  std::vector<uint8_t> pad(0x1000 - 0x10);
  pe.Place(pad.data(), pad.size());
  r.type3.push_back(pe.PlaceAddress(0x2ABC));
  r.image = pe.Build();
  return r;
}

TEST_F(LoaderTest, RelocatesByTheDistanceFromThePreferredBase) {
  struct Case {
    const char* name;
    uint32_t imageBase;
    bool block;  // take the preferred base first
  };
  const Case cases[] = {
      {"preferred base free", kBase, false},
      {"preferred base taken", kBase, true},
      // Lands below its preferred base: the difference wraps modulo 2^32.
      {"preferred base out of reach", 0xF0000000u, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    if (c.block) VirtualAlloc(c.imageBase, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    const Relocated r = WithRelocations(c.imageBase);
    MemoryLibrary library;
    ASSERT_TRUE(library.Load(r.image.bytes));
    const uintptr_t b = library.GetHandle();
    EXPECT_EQ(b == c.imageBase, !c.block);
    const uint32_t delta = static_cast<uint32_t>(b) - c.imageBase;
    for (uint32_t at : r.type3) {
      const uint32_t before = Get32(reinterpret_cast<uintptr_t>(r.image.bytes.data()) +
                                    r.image.BodyOffset(at));
      EXPECT_EQ(Get32(b + at), before + delta);
    }
    EXPECT_EQ(Get32(b + r.typeA), 0xA0A0A0A0u);
    EXPECT_EQ(Get32(b + r.plain), c.imageBase + 4);
    EXPECT_TRUE(library.Free());
  }
}

TEST_F(LoaderTest, NeverMovesAnImageWithoutRelocations) {
  const uintptr_t entry = Answering(1);
  PeBuilder pe;
  pe.imageBase = kBase;
  pe.entryPoint = pe.PlaceCode(Stub(entry));
  const Bytes bytes = pe.Build().bytes;

  MemoryLibrary library;
  ASSERT_TRUE(library.Load(bytes));
  EXPECT_EQ(library.GetHandle(), kBase);
  ASSERT_TRUE(library.Free());

  const uintptr_t blocker =
      VirtualAlloc(kBase, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  ASSERT_EQ(blocker, kBase);
  EXPECT_FALSE(library.Load(bytes));
  ASSERT_EQ(sim::LiveBlocks().size(), 1u);
  EXPECT_EQ(sim::LiveBlocks()[0].address, blocker);
  EXPECT_EQ(Reasons(entry), (std::vector<uint32_t>{1, 0}));  // only the first image's
}

TEST_F(LoaderTest, RefusesMalformedRelocationBlocks) {
  struct Case {
    const char* name;
    std::function<void(Bytes&, const BuiltImage&)> change;
  };
  const auto head = [](const BuiltImage& i) { return i.BodyOffset(i.relocationDirectory); };
  const Case cases[] = {
      {"SizeOfBlock 0 (would never end)",
       [&](Bytes& b, const BuiltImage& i) { Put32(b, head(i) + 4, 0); }},
      {"SizeOfBlock 4", [&](Bytes& b, const BuiltImage& i) { Put32(b, head(i) + 4, 4); }},
      {"block past the end of the image",
       [&](Bytes& b, const BuiltImage& i) { Put32(b, head(i) + 4, 0x10000); }},
      {"last block ends at the image's end, no zero block after it",
       [&](Bytes& b, const BuiltImage& i) {
         Put32(b, head(i) + 4, i.sizeOfImage - i.relocationDirectory);
       }},
      {"target outside the image",
       [&](Bytes& b, const BuiltImage& i) { Put32(b, head(i), 0x7FFFF000); }},
      {"directory outside the image",
       [](Bytes& b, const BuiltImage&) { Put32(b, kNtOffset + 160, 0x00FFFFFF); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    const uintptr_t entry = Answering(1);
    PeBuilder pe = Dll(entry);
    const BuiltImage image = pe.Build();
    Bytes bytes = image.bytes;
    c.change(bytes, image);
    MemoryLibrary library;
    EXPECT_FALSE(library.Load(bytes));
    EXPECT_TRUE(sim::LiveBlocks().empty());
    EXPECT_TRUE(Reasons(entry).empty());
  }
}

// --- Sections -----------------------------------------------------------------

TEST_F(LoaderTest, CopiesRawDataAndLeavesTheRestZero) {
  PeBuilder pe;
  pe.characteristics = kExecutable;
  pe.PlaceText("body");
  pe.AddSection(0x3000, 0x2000, {});                             // reserves space only
  pe.AddSection(0x6000, 0x10, std::vector<uint8_t>(0x300, 0xAB));  // raw longer than virtual
  pe.AddSection(0, 0x10, std::vector<uint8_t>(0x40, 0xCD));       // at RVA 0: not copied
  const BuiltImage image = pe.Build();
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(image.bytes));
  const auto* b = reinterpret_cast<const uint8_t*>(library.GetHandle());
  EXPECT_EQ(std::memcmp(b + 0x1000, "body", 5), 0);
  EXPECT_EQ(std::vector<uint8_t>(b + 0x3000, b + 0x5000), std::vector<uint8_t>(0x2000, 0));
  EXPECT_EQ(std::vector<uint8_t>(b + 0x6000, b + 0x6300), std::vector<uint8_t>(0x300, 0xAB));
  EXPECT_EQ(b[0x6300], 0);
  EXPECT_EQ(std::memcmp(b, "MZ", 2), 0);
}

// Sections may land on the headers; what is read back from them afterwards
// stays inside the image, and an entry point moved outside is not called.
TEST_F(LoaderTest, ReadsOverwrittenHeadersSafely) {
  struct Case {
    const char* name;
    uint32_t va;  // where the section's four bytes land
    uint32_t value;
    bool exportsFound;
    bool frees;
    std::vector<uint32_t> reasons;
  };
  const Case cases[] = {
      {"PE signature overwritten: cannot be unmapped", kNtOffset, 0x58585858, false, false, {1}},
      {"e_lfanew pointing far out", 60, 0x7FFFFFF0, false, false, {1}},
      {"e_lfanew negative", 60, 0x80000000u, false, false, {1}},
      {"entry point moved outside the image", kNtOffset + 40, 0x7FFFFFFF, true, true, {1}},
      {"export directory moved outside the image", kNtOffset + 120, 0x7FFFFFF0, false, true,
       {1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    const uintptr_t entry = Answering(1);
    PeBuilder pe = Dll(entry);
    pe.Export("Run", pe.entryPoint);
    std::vector<uint8_t> raw(4);
    std::memcpy(raw.data(), &c.value, 4);
    pe.AddSection(c.va, 4, raw);
    MemoryLibrary library;
    ASSERT_TRUE(library.Load(pe.Build().bytes));
    const uintptr_t run = library.GetHandle() + 0x1000;
    EXPECT_EQ(library.GetExport("Run"), c.exportsFound ? run : 0u);
    EXPECT_EQ(library.GetExport("1"), c.exportsFound ? run : 0u);
    library.GetEntryPoint();
    EXPECT_EQ(library.Free(), c.frees);
    EXPECT_EQ(library.GetHandle() != 0, !c.frees);
    EXPECT_EQ(sim::LiveBlocks().size(), c.frees ? 0u : 1u);
    EXPECT_EQ(Reasons(entry), c.reasons);
  }
}

TEST_F(LoaderTest, SizesTheImageToCoverEverySection) {
  struct Case {
    const char* name;
    uint32_t sizeOfImage;  // in the header
    uint32_t alignment;
    uint32_t va, virtualSize, rawSize;
    uint32_t allocated;
  };
  const Case cases[] = {
      {"header covers every section", 0x8000, 0x1000, 0x2000, 0x100, 0, 0x8000},
      {"virtual size reaches past", 0x2000, 0x1000, 0x3000, 0x1800, 0, 0x5000},
      {"raw data reaches past", 0x2000, 0x1000, 0x2000, 0x10, 0x1100, 0x4000},
      {"small alignment", 0x2000, 0x200, 0x2000, 0x10, 0x300, 0x2400},
      {"alignment 0 aligns nothing", 0x2000, 0, 0x2000, 0x123, 0, 0x2123},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    PeBuilder pe;
    pe.characteristics = kExecutable;
    pe.sectionAlignment = c.alignment;
    pe.sizeOfImage = c.sizeOfImage;
    pe.AddSection(c.va, c.virtualSize, std::vector<uint8_t>(c.rawSize, 0x5A));
    MemoryLibrary library;
    ASSERT_TRUE(library.Load(pe.Build().bytes));
    ASSERT_EQ(sim::LiveBlocks().size(), 1u);
    EXPECT_EQ(sim::LiveBlocks()[0].size, c.allocated);
    // The image carries the file's value; only the loader's copy grows.
    EXPECT_EQ(Get32(library.GetHandle() + kNtOffset + 80), c.sizeOfImage);
    EXPECT_TRUE(library.Free());
  }
}

// --- Imports --------------------------------------------------------------------

class ImportTest : public LoaderTest {
 protected:
  void SetUp() override {
    LoaderTest::SetUp();
    kernel32 = sim::AddLibrary("KERNEL32.dll");
    sim::AddSymbol(kernel32, "Sleep", 0x11110000);
    sim::AddSymbol(kernel32, "Beep", 0x33330000);
    sim::AddOrdinal(kernel32, 6, 0x66660000);
    user32 = sim::AddLibrary("USER32.dll");
    sim::AddSymbol(user32, "GetDC", 0x22220000);
  }

  static BuiltImage Importing(
      const std::vector<std::pair<std::string, std::vector<ImportSymbol>>>& imports) {
    PeBuilder pe;
    pe.characteristics = kExecutable;
    pe.PlaceWord(0);
    for (const auto& [library, symbols] : imports) pe.Import(library, symbols);
    return pe.Build();
  }

  uintptr_t kernel32 = 0;
  uintptr_t user32 = 0;
};

TEST_F(ImportTest, LinksByNameAndByOrdinal) {
  const BuiltImage image = Importing({
      {"kernel32.DLL", {ImportSymbol::Name("Sleep"), ImportSymbol::Ordinal(6)}},
      {"USER32.dll", {ImportSymbol::Name("GetDC")}},
  });
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(image.bytes));
  const uintptr_t b = library.GetHandle();
  EXPECT_EQ(Get32(b + image.thunks[0][0]), 0x11110000u);
  EXPECT_EQ(Get32(b + image.thunks[0][1]), 0x66660000u);
  EXPECT_EQ(Get32(b + image.thunks[1][0]), 0x22220000u);
  EXPECT_EQ(sim::LibraryLoads(), (std::vector<std::string>{"kernel32.DLL", "USER32.dll"}));
  const auto& lookups = sim::ProcLookups();
  ASSERT_EQ(lookups.size(), 3u);
  EXPECT_EQ(lookups[0].name, "Sleep");
  EXPECT_EQ(lookups[1].name, "");  // the ordinal travels as a number
  EXPECT_EQ(lookups[1].ordinal, 6u);
  EXPECT_EQ(lookups[1].module, kernel32);
  EXPECT_EQ(lookups[2].module, user32);
}

TEST_F(ImportTest, AsksTheResolverFirst) {
  struct Seen {
    std::string library, symbol;
    uint32_t value;
  };
  std::vector<Seen> seen;
  const uintptr_t resolver = sim::PlaceRoutine([&seen](const sim::CallArguments& a) -> uint32_t {
    const std::string symbol = TextAtAddress(a[1]).c_str();
    seen.push_back({TextAtAddress(a[0]).c_str(), symbol, a[2]});
    return symbol == "Sleep" || symbol == "6" ? 0x50500000 : 0;
  });
  const BuiltImage image = Importing({
      {"KERNEL32.dll",
       {ImportSymbol::Name("Sleep"), ImportSymbol::Ordinal(6), ImportSymbol::Name("Beep")}},
      {"NOSUCH.dll", {ImportSymbol::Name("Sleep")}},  // only the resolver knows it
  });
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(image.bytes, resolver, 77));
  const uintptr_t b = library.GetHandle();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].library, "KERNEL32.dll");
  EXPECT_EQ(seen[0].symbol, "Sleep");
  EXPECT_EQ(seen[1].symbol, "6");
  EXPECT_EQ(seen[2].symbol, "Beep");
  EXPECT_EQ(seen[3].library, "NOSUCH.dll");
  for (const Seen& s : seen) EXPECT_EQ(s.value, 77u);
  // The library name handed over is the one inside the image.
  for (const sim::CallRecord& c : sim::Calls()) {
    EXPECT_GE(c.arguments[0], b);
    EXPECT_LT(c.arguments[0], b + image.sizeOfImage);
  }
  // GetProcAddress decides only where the resolver answered 0.
  ASSERT_EQ(sim::ProcLookups().size(), 1u);
  EXPECT_EQ(sim::ProcLookups()[0].name, "Beep");
  EXPECT_EQ(Get32(b + image.thunks[0][0]), 0x50500000u);
  EXPECT_EQ(Get32(b + image.thunks[0][1]), 0x50500000u);
  EXPECT_EQ(Get32(b + image.thunks[0][2]), 0x33330000u);
  EXPECT_EQ(Get32(b + image.thunks[1][0]), 0x50500000u);
}

TEST_F(ImportTest, AnUnresolvedImportFailsTheMapping) {
  sim::AddSymbol(kernel32, "High", uintptr_t{0x100001000});
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::vector<ImportSymbol>>> imports;
    std::vector<std::string> lookedUp;
  };
  const std::vector<Case> cases = {
      {"unknown symbol: stops at once",
       {{"KERNEL32.dll",
         {ImportSymbol::Name("Sleep"), ImportSymbol::Name("Missing"), ImportSymbol::Name("Beep")}}},
       {"Sleep", "Missing"}},
      {"unknown ordinal", {{"KERNEL32.dll", {ImportSymbol::Ordinal(7)}}}, {""}},
      {"symbol case differs", {{"KERNEL32.dll", {ImportSymbol::Name("sleep")}}}, {"sleep"}},
      // Handle 0 would make GetProcAddress search the program itself.
      {"library that does not load", {{"NOSUCH.dll", {ImportSymbol::Name("Sleep")}}}, {}},
      {"symbol above 4 GiB", {{"KERNEL32.dll", {ImportSymbol::Name("High")}}}, {"High"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t lookupsBefore = sim::ProcLookups().size();
    const uintptr_t entry = Answering(1);
    PeBuilder pe;
    pe.entryPoint = pe.PlaceCode(Stub(entry));
    for (const auto& [library, symbols] : c.imports) pe.Import(library, symbols);
    MemoryLibrary library;
    EXPECT_FALSE(library.Load(pe.Build().bytes));
    EXPECT_TRUE(sim::LiveBlocks().empty());
    EXPECT_TRUE(Reasons(entry).empty());
    std::vector<std::string> lookedUp;
    for (std::size_t i = lookupsBefore; i < sim::ProcLookups().size(); ++i) {
      lookedUp.push_back(sim::ProcLookups()[i].name);
    }
    EXPECT_EQ(lookedUp, c.lookedUp);
  }
}

TEST_F(ImportTest, RefusesMalformedImportTables) {
  struct Case {
    const char* name;
    std::function<void(Bytes&, const BuiltImage&)> change;
  };
  const auto descriptor = [](const BuiltImage& i) { return i.BodyOffset(i.importDirectory); };
  const Case cases[] = {
      {"directory outside the image",
       [](Bytes& b, const BuiltImage&) { Put32(b, kNtOffset + 128, 0x00FFFFF0); }},
      {"library name outside the image",
       [&](Bytes& b, const BuiltImage& i) { Put32(b, descriptor(i) + 12, 0x00FFFFF0); }},
      {"library name at the image's end",
       [&](Bytes& b, const BuiltImage& i) { Put32(b, descriptor(i) + 12, i.sizeOfImage); }},
      {"thunks outside the image",
       [&](Bytes& b, const BuiltImage& i) { Put32(b, descriptor(i) + 16, i.sizeOfImage - 2); }},
      {"hint and name outside the image",
       [](Bytes& b, const BuiltImage& i) { Put32(b, i.BodyOffset(i.thunks[0][0]), 0x7FFFFFF0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BuiltImage image = Importing({{"KERNEL32.dll", {ImportSymbol::Name("Sleep")}}});
    Bytes bytes = image.bytes;
    c.change(bytes, image);
    MemoryLibrary library;
    EXPECT_FALSE(library.Load(bytes));
    EXPECT_TRUE(sim::LiveBlocks().empty());
  }
}

// --- Entry point and lifecycle ------------------------------------------------------

TEST_F(LoaderTest, StartsAndStopsOnlyADllWithAnEntryPoint) {
  struct Case {
    const char* name;
    uint16_t characteristics;
    bool entryRvaZero;
    uint32_t answer;
    bool loads;
    std::vector<uint32_t> reasonsAfterLoad;
    std::vector<uint32_t> reasonsAfterFree;
  };
  const Case cases[] = {
      {"DLL that starts", kExecutable | kDll, false, 1, true, {1}, {1, 0}},
      {"DLL that refuses: stopped again and released", kExecutable | kDll, false, 0, false,
       {1, 0}, {1, 0}},
      {"executable without the DLL bit: never started", kExecutable, false, 1, true, {}, {}},
      {"DLL without an entry point", kExecutable | kDll, true, 1, true, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Reset();
    const uintptr_t entry = Answering(c.answer);
    PeBuilder pe = Dll(entry);
    pe.characteristics = c.characteristics;
    if (c.entryRvaZero) pe.entryPoint = 0;
    MemoryLibrary library;
    EXPECT_EQ(library.Load(pe.Build().bytes), c.loads);
    EXPECT_EQ(Reasons(entry), c.reasonsAfterLoad);
    EXPECT_EQ(sim::LiveBlocks().size(), c.loads ? 1u : 0u);
    if (c.loads && !c.entryRvaZero) {
      EXPECT_EQ(library.GetEntryPoint(), library.GetHandle() + 0x1000);
      // The stub that was called is the image's, wherever the image lies.
      EXPECT_EQ(sim::Calls().empty() ? 0 : sim::Calls()[0].address,
                c.reasonsAfterLoad.empty() ? 0 : library.GetEntryPoint());
    }
    EXPECT_TRUE(library.Free());
    EXPECT_EQ(library.GetHandle(), 0u);
    EXPECT_EQ(Reasons(entry), c.reasonsAfterFree);
    EXPECT_TRUE(sim::LiveBlocks().empty());
  }
}

TEST_F(LoaderTest, LoadReleasesTheImageItHeldFirst) {
  std::vector<std::string> events;
  const auto entry = [&events](const char* who) {
    return sim::PlaceRoutine([&events, who](const sim::CallArguments& a) -> uint32_t {
      events.push_back(std::string(who) + (a[1] == 1 ? " attach" : " detach"));
      return 1;
    });
  };
  const Bytes first = Dll(entry("first")).Build().bytes;
  const Bytes second = Dll(entry("second")).Build().bytes;

  MemoryLibrary library;
  ASSERT_TRUE(library.Load(first));
  ASSERT_TRUE(library.Load(second));
  EXPECT_EQ(events, (std::vector<std::string>{"first attach", "first detach", "second attach"}));
  EXPECT_EQ(sim::LiveBlocks().size(), 1u);

  // Also when the new mapping then fails.
  EXPECT_FALSE(library.Load(Bytes("MZ", 2)));
  EXPECT_EQ(events.back(), "second detach");
  EXPECT_EQ(library.GetHandle(), 0u);
  EXPECT_TRUE(sim::LiveBlocks().empty());
}

TEST_F(LoaderTest, KeepsOrAbandonsAnImageThatCannotBeUnmapped) {
  const uintptr_t entry = Answering(1);
  const Bytes bytes = Dll(entry).Build().bytes;
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(bytes));
  const uintptr_t first = library.GetHandle();
  std::memcpy(reinterpret_cast<void*>(first), "XX", 2);  // its own code wiped its headers

  EXPECT_FALSE(library.Free());
  EXPECT_EQ(library.GetHandle(), first);
  EXPECT_EQ(library.GetExport("1"), 0u);

  // Load passes through empty anyway: the old image stays mapped, unheld.
  ASSERT_TRUE(library.Load(bytes));
  EXPECT_NE(library.GetHandle(), first);
  EXPECT_EQ(sim::LiveBlocks().size(), 2u);
  EXPECT_EQ(Reasons(entry), (std::vector<uint32_t>{1, 1}));
}

TEST_F(LoaderTest, CopyAndDestroyNeverTouchTheImage) {
  const uintptr_t entry = Answering(1);
  PeBuilder pe = Dll(entry);
  pe.Export("Run", pe.entryPoint);
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(pe.Build().bytes));
  MemoryLibrary copy = library.Copy();
  EXPECT_EQ(copy.GetHandle(), library.GetHandle());
  library.Destroy();
  EXPECT_EQ(library.GetHandle(), 0u);
  EXPECT_EQ(sim::LiveBlocks().size(), 1u);
  EXPECT_EQ(Reasons(entry), (std::vector<uint32_t>{1}));
  EXPECT_EQ(copy.GetExport("Run"), copy.GetHandle() + 0x1000);
  EXPECT_TRUE(copy.Free());
  EXPECT_TRUE(sim::LiveBlocks().empty());
}

TEST_F(LoaderTest, AnEmptyObjectAnswersZero) {
  MemoryLibrary library;
  EXPECT_FALSE(library.Load(Bytes()));
  EXPECT_EQ(library.GetHandle(), 0u);
  EXPECT_EQ(library.GetExport("Run"), 0u);
  EXPECT_EQ(library.GetExport("1"), 0u);
  EXPECT_EQ(library.GetEntryPoint(), 0u);
  EXPECT_TRUE(library.Free());
  EXPECT_TRUE(sim::Calls().empty());
}

// --- Exports --------------------------------------------------------------------------

class ExportTest : public LoaderTest {
 protected:
  // Ordinals 5 to 11. Names lie one after another in table order.
  void SetUp() override {
    LoaderTest::SetUp();
    PeBuilder pe;
    pe.characteristics = kExecutable;
    pe.exportBase = 5;
    alpha = pe.PlaceWord(0xA);
    unnamed = pe.PlaceWord(0x6);
    zeroPadded = pe.PlaceWord(0x06);
    plusSix = pe.PlaceWord(0x2B6);
    beta = pe.PlaceWord(0xB);
    pe.Export("Alpha", alpha);          // 5
    pe.Export("", unnamed);             // 6
    pe.Export("Beta", 0);               // 7: empty slot
    pe.ExportForwarder("Fwd", "OTHER.Func");  // 8
    pe.Export("06", zeroPadded);        // 9
    pe.Export("+6", plusSix);           // 10
    pe.Export("Beta", beta);            // 11: found past the empty one
    image = pe.Build();
  }

  BuiltImage image;
  uint32_t alpha = 0, unnamed = 0, zeroPadded = 0, plusSix = 0, beta = 0;
};

TEST_F(ExportTest, FindsByNameOrOrdinal) {
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(image.bytes));
  const uintptr_t b = library.GetHandle();
  const struct {
    const char* name;
    uint32_t rva;  // 0: not found
  } cases[] = {
      {"Alpha", alpha},   {"alpha", 0},       {"ALPHA", 0},    {"Alph", 0},
      {"Alpha ", 0},      {"5", alpha},       {"6", unnamed},  {"06", zeroPadded},
      {"+6", plusSix},    {"9", zeroPadded},  {"10", plusSix}, {"4", 0},
      {"12", 0},          {"-1", 0},          {"0", 0},        {"7", 0},
      {"Beta", beta},     {"11", beta},       {"Fwd", 0},      {"8", 0},
      {"", 0},            {" 6", 0},          {"test.dll", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(library.GetExport(c.name), c.rva == 0 ? 0 : b + c.rva);
  }
}

TEST_F(ExportTest, MalformedTablesAnswerZero) {
  const uint32_t dir = image.BodyOffset(image.exportDirectory);
  struct Case {
    const char* name;
    uint32_t offset;  // in the byte string
    uint32_t value;
  };
  const Case cases[] = {
      {"directory outside the image", kNtOffset + 120, 0x00FFFFF0},
      {"functions outside the image", dir + 28, 0x7FFFFFF0},
      {"names outside the image", dir + 32, 0x7FFFFFF0},
      {"ordinals outside the image", dir + 36, 0x7FFFFFF0},
      {"names running off the image", dir + 24, 0xFFFFFFFF},
      {"first name outside the image", image.BodyOffset(Get32(
           reinterpret_cast<uintptr_t>(image.bytes.data()) + dir + 32)), 0x7FFFFFF0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = image.bytes;
    Put32(bytes, c.offset, c.value);
    MemoryLibrary library;
    ASSERT_TRUE(library.Load(bytes));
    EXPECT_EQ(library.GetExport("Zeta"), 0u);
    library.GetExport("5");  // whatever it answers, it stays inside the image
    EXPECT_TRUE(library.Free());
  }
}

TEST_F(LoaderTest, AnImageWithoutExportsAnswersZero) {
  PeBuilder pe;
  pe.characteristics = kExecutable;
  pe.PlaceWord(0);
  MemoryLibrary library;
  ASSERT_TRUE(library.Load(pe.Build().bytes));
  EXPECT_EQ(library.GetExport("1"), 0u);
  EXPECT_EQ(library.GetExport("Run"), 0u);
}

// --- A DLL as MinGW links it ----------------------------------------------------

// Our skin library, cross-built by this build. Its DllMain cannot run here:
// a code stub stands in for it. Every import goes to the resolver, which
// answers a distinct address for each.
TEST_F(LoaderTest, MapsTheSkinLibraryAsTheLinkerWroteIt) {
#if !defined(TAVIRO_SKIN_LIBRARY_I686)
  GTEST_SKIP() << "no MinGW cross compiler for the 32-bit skin library";
#else
  std::ifstream file(TAVIRO_SKIN_LIBRARY_I686, std::ios::binary);
  ASSERT_TRUE(file) << TAVIRO_SKIN_LIBRARY_I686;
  const std::vector<char> original((std::istreambuf_iterator<char>(file)), {});
  Bytes dll(original.data(), original.size());
  ImageHeaders h;
  ASSERT_TRUE(ReadImageHeaders(dll.data(), dll.size(), h));
  ASSERT_GT(h.relocations.size, 0u);
  ASSERT_NE(h.exports.size, 0u);

  const auto place = [&](bool taken) {
    sim::Reset();
    const uintptr_t entry = Answering(1);
    for (const ImageSection& s : h.sections) {
      if (h.addressOfEntryPoint - s.virtualAddress < s.sizeOfRawData) {
        const auto stub = sim::CodeStub(entry);
        std::memcpy(dll.data() + s.pointerToRawData + (h.addressOfEntryPoint - s.virtualAddress),
                    stub.data(), stub.size());
      }
    }
    std::map<std::string, uint32_t> symbols;
    const uintptr_t resolver = sim::PlaceRoutine([&symbols](const sim::CallArguments& a) {
      const std::string name =
          std::string(TextAtAddress(a[0]).c_str()) + "!" + TextAtAddress(a[1]).c_str();
      return symbols.emplace(name, 0x40000000u + 16 * static_cast<uint32_t>(symbols.size()))
          .first->second;
    });
    if (taken) VirtualAlloc(h.imageBase, 0x1000, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
    MemoryLibrary library;
    EXPECT_TRUE(library.Load(dll, resolver, 0));
    EXPECT_EQ(library.GetHandle() == h.imageBase, !taken);
    EXPECT_EQ(Reasons(entry), std::vector<uint32_t>{1});
    EXPECT_EQ(sim::LibraryLoads(),
              (std::vector<std::string>{"GDI32.dll", "KERNEL32.dll", "USER32.dll"}));
    EXPECT_EQ(symbols.count("USER32.dll!SetWindowsHookExA"), 1u);
    EXPECT_EQ(symbols.count("GDI32.dll!CreateSolidBrush"), 1u);
    EXPECT_TRUE(sim::ProcLookups().empty());
    const std::vector<uint8_t> image(reinterpret_cast<const uint8_t*>(library.GetHandle()),
                                     reinterpret_cast<const uint8_t*>(library.GetHandle()) +
                                         h.sizeOfImage);
    const uintptr_t attach = library.GetExport("SkinH_AttachRes");
    EXPECT_NE(attach, 0u);
    EXPECT_EQ(library.GetExport("1"), attach);
    EXPECT_EQ(library.GetExport("SkinH_AttachRes@24"), 0u);
    EXPECT_EQ(library.GetExport("skinh_attachres"), 0u);
    const uintptr_t base = library.GetHandle();
    EXPECT_TRUE(library.Free());
    EXPECT_EQ(Reasons(entry), (std::vector<uint32_t>{1, 0}));
    return std::make_tuple(base, attach - base, image);
  };
  const auto [freeBase, freeAttach, freeImage] = place(false);
  const auto [movedBase, movedAttach, movedImage] = place(true);
  EXPECT_EQ(freeAttach, movedAttach);

  // The two placements differ exactly in the words the relocation table
  // names, each moved by the distance between the bases.
  ASSERT_EQ(freeImage.size(), movedImage.size());
  const auto word = [](const std::vector<uint8_t>& image, std::size_t at) {
    uint32_t value;
    std::memcpy(&value, &image[at], 4);
    return value;
  };
  const uint32_t delta = static_cast<uint32_t>(movedBase - freeBase);
  std::vector<bool> named(freeImage.size());
  int moved = 0;
  for (uint32_t r = h.relocations.virtualAddress; word(freeImage, r) != 0;
       r += word(freeImage, r + 4)) {
    for (uint32_t e = r + 8; e < r + word(freeImage, r + 4); e += 2) {
      const uint16_t entry = static_cast<uint16_t>(freeImage[e] | freeImage[e + 1] << 8);
      if (entry >> 12 != 3) continue;
      const uint32_t target = word(freeImage, r) + (entry & 0xFFF);
      EXPECT_EQ(word(movedImage, target) - word(freeImage, target), delta) << "RVA " << target;
      for (int i = 0; i < 4; ++i) named[target + i] = true;
      ++moved;
    }
  }
  for (std::size_t at = 0; at < freeImage.size(); ++at) {
    if (!named[at]) {
      ASSERT_EQ(freeImage[at], movedImage[at]) << "RVA " << at;
    }
  }
  EXPECT_GT(moved, 10);
#endif
}

}  // namespace
}  // namespace taviro
