// Our skin format as the skin library reads it, and the attachment of the
// skin through the loader over the simulated platform.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "skin/image_platform.h"
#include "skin/library/skin_format.h"
#include "skin/skin_attachment.h"
#include "tests/skin/pe_builder.h"

namespace taviro {
namespace {

namespace sim = simulated;

std::vector<uint8_t> Data(const Bytes& b) { return {b.data(), b.data() + b.size()}; }

void Put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); }

// A skin of the given records with a correct head and checksum.
std::vector<uint8_t> MakeSkin(const std::vector<std::vector<uint8_t>>& records) {
  std::vector<uint8_t> skin = {'.', 'S', 'H', 'E', 1, 0, static_cast<uint8_t>(records.size()), 0,
                               0, 0, 0, 0};
  for (const auto& r : records) skin.insert(skin.end(), r.begin(), r.end());
  Put32(skin, 8, static_cast<uint32_t>(skin.size() + 4));
  skin.resize(skin.size() + 4);
  Put32(skin, skin.size() - 4, SkinChecksum(skin.data(), static_cast<uint32_t>(skin.size() - 4)));
  return skin;
}

bool Reads(const std::vector<uint8_t>& skin, Skin* out = nullptr) {
  Skin scratch;
  return ReadSkin(skin.data(), static_cast<uint32_t>(skin.size()), out ? out : &scratch) == 1;
}

TEST(SkinFormat, ReadsTheSkinCompiledFromTheRepository) {
  Skin skin;
  ASSERT_TRUE(Reads(Data(SkinData()), &skin));
  EXPECT_EQ(skin.hasColour, (1u << kSkinColourCount) - 1);
  EXPECT_EQ(skin.colours[kSkinButtonText], 0xFFFFFFu);
  EXPECT_EQ(skin.colours[kSkinWindowBackground], 0xF8F3EEu);  // #EEF3F8 as 0x00BBGGRR
  EXPECT_STREQ(skin.faceName, "宋体");                        // GBK bytes
  EXPECT_EQ(skin.fontHeight, -12);
  EXPECT_EQ(skin.fontWeight, 400);
}

TEST(SkinFormat, RejectsWrongOrDamagedSkins) {
  const std::vector<uint8_t> good = Data(SkinData());
  for (std::size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(Reads(std::vector<uint8_t>(good.begin(), good.begin() + n))) << "cut to " << n;
  }
  for (std::size_t at = 0; at < good.size(); ++at) {
    std::vector<uint8_t> damaged = good;
    damaged[at] ^= 0x01;
    EXPECT_FALSE(Reads(damaged)) << "byte " << at;
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);  // a caller's length past the skin's own is fine
  EXPECT_TRUE(Reads(longer));
}

TEST(SkinFormat, JudgesRecords) {
  const std::vector<uint8_t> colour = {1 + kSkinListText, 4, 0x11, 0x22, 0x33, 0x44};
  const struct {
    const char* name;
    std::vector<std::vector<uint8_t>> records;
    bool reads;
  } cases[] = {
      {"no records", {}, true},
      {"a colour", {colour}, true},
      {"an unknown kind is skipped", {{99, 3, 1, 2, 3}, colour}, true},
      {"a colour of three bytes", {{1, 3, 1, 2, 3}}, false},
      {"a font without a face", {{kSkinFontRecord, 4, 0xF4, 0xFF, 0x90, 0x01}}, false},
      {"a face name with a NUL", {{kSkinFontRecord, 6, 0xF4, 0xFF, 0x90, 0x01, 'A', 0}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Skin skin;
    EXPECT_EQ(Reads(MakeSkin(c.records), &skin), c.reads);
    if (c.reads && !c.records.empty()) {
      EXPECT_EQ(skin.hasColour, 1u << kSkinListText);
      EXPECT_EQ(skin.colours[kSkinListText], 0x332211u);  // the top byte is not a colour
    }
  }
  // The count promises more records than the skin holds.
  std::vector<uint8_t> skin = MakeSkin({colour});
  skin[6] = 2;
  Put32(skin, skin.size() - 4, SkinChecksum(skin.data(), static_cast<uint32_t>(skin.size() - 4)));
  EXPECT_FALSE(Reads(skin));
}

class AttachTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SkinLibrary().Destroy();
    sim::Reset();
  }
  void TearDown() override {
    SkinLibrary().Destroy();
    sim::Reset();
  }

  // Maps a library whose SkinH_AttachRes records its arguments.
  void LoadFakeLibrary() {
    const uintptr_t attach = sim::PlaceRoutine([this](const sim::CallArguments& a) -> uint32_t {
      seen.push_back(a);
      return 0x5EE;
    });
    test::PeBuilder pe;
    pe.characteristics = test::kExecutable;
    const auto stub = sim::CodeStub(attach);
    pe.Export("SkinH_AttachRes", pe.PlaceCode({stub.begin(), stub.end()}));
    ASSERT_TRUE(SkinLibrary().Load(pe.Build().bytes));
  }

  std::vector<sim::CallArguments> seen;
};

TEST_F(AttachTest, CallsTheExportWithTheSkinAndThreeIntegers) {
  LoadFakeLibrary();
  const uintptr_t skin = VirtualAlloc(0, 9533, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  const uintptr_t password = VirtualAlloc(0, 16, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  EXPECT_EQ(AttachSkinAt(skin, 9533, 0, 0, 0, 0), 0x5EEu);
  EXPECT_EQ(AttachSkinAt(skin, 9533, password, 1, 2, 3), 0x5EEu);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], (sim::CallArguments{static_cast<uint32_t>(skin), 9533, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(seen[1], (sim::CallArguments{static_cast<uint32_t>(skin), 9533,
                                         static_cast<uint32_t>(password), 1, 2, 3, 0, 0, 0, 0}));
}

TEST_F(AttachTest, NeverHandsOverATruncatedAddress) {
  LoadFakeLibrary();
  const uintptr_t skin = reinterpret_cast<uintptr_t>(SkinData().data());
  const uint32_t answer = AttachSkin(SkinData());
  if (skin >= (uint64_t{1} << 32)) {
    EXPECT_EQ(answer, 0u);
    EXPECT_TRUE(seen.empty());
  } else {
    EXPECT_EQ(answer, 0x5EEu);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0][1], static_cast<uint32_t>(SkinData().size()));
  }
  EXPECT_EQ(AttachSkinAt(uintptr_t{0x100000000}, 4, 0, 0, 0, 0), 0u);
}

TEST_F(AttachTest, WithoutTheExportNothingIsCalled) {
  // This build embeds no 32-bit library: start-up goes on without one.
  LoadSkinLibrary();
  EXPECT_EQ(SkinLibrary().GetHandle(), 0u);
  OnMainWindowCreated();
  EXPECT_EQ(AttachSkin(SkinData()), 0u);
  EXPECT_TRUE(sim::Calls().empty());

  test::PeBuilder pe;  // a library that lacks SkinH_AttachRes
  pe.characteristics = test::kExecutable;
  pe.Export("SkinH_Attach", pe.PlaceWord(0));
  ASSERT_TRUE(SkinLibrary().Load(pe.Build().bytes));
  EXPECT_EQ(AttachSkinAt(0x10000, 4, 0, 0, 0, 0), 0u);
  EXPECT_TRUE(sim::Calls().empty());
}

}  // namespace
}  // namespace taviro
