// The character ROM's table as a whole: the cell's blank column and row, the two blank
// codes, no glyph drawn twice, and the ROM's seven address bits. The shapes themselves are
// reviewed in the character_set.txt golden frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "t6963/character_rom.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

bool blank(const std::array<std::uint8_t, 8>& glyph) {
  return std::all_of(glyph.begin(), glyph.end(), [](std::uint8_t row) { return row == 0; });
}

TEST(CharacterRom, EveryGlyphLeavesTheRightColumnAndBottomRowBlank) {
  for (int code = 0; code < RomGlyphCount; ++code) {
    const auto& glyph = romGlyph(static_cast<std::uint8_t>(code));
    for (std::size_t row = 0; row < glyph.size(); ++row) {
      EXPECT_EQ(glyph[row] & ~0x3E, 0) << "code 0x" << std::hex << code << " row " << row;
    }
    EXPECT_EQ(glyph[7], 0) << "code 0x" << std::hex << code;
  }
}

TEST(CharacterRom, OnlySpaceAnd0x5FAreBlankAndNoGlyphRepeats) {
  std::set<std::array<std::uint8_t, 8>> seen;
  for (int code = 0; code < RomGlyphCount; ++code) {
    const auto& glyph = romGlyph(static_cast<std::uint8_t>(code));
    const bool expectBlank = code == 0x00 || code == 0x5F;
    EXPECT_EQ(blank(glyph), expectBlank) << "code 0x" << std::hex << code;
    if (!expectBlank) {
      EXPECT_TRUE(seen.insert(glyph).second) << "code 0x" << std::hex << code << " repeats a glyph";
    }
  }
}

TEST(CharacterRom, DecodesSevenAddressBits) {
  for (int code = 0; code < RomGlyphCount; ++code) {
    EXPECT_EQ(&romGlyph(static_cast<std::uint8_t>(code | 0x80)), &romGlyph(static_cast<std::uint8_t>(code)));
  }
}

}  // namespace
}  // namespace t6963
