// The controller's built-in character generator: 128 glyphs of 5x7 dots in a 6x8 cell,
// one byte per cell row with bit 5 the leftmost dot; the right column (bit 0) and the
// bottom row are blank. Codes: 0x00 space, 0x01-0x5E ASCII 0x21-0x7E (code = ASCII - 0x20),
// 0x5F blank, 0x60-0x7F the accented letters and currency signs of code page 437's
// 0x80-0x9F. The shapes are this module's own font.
#pragma once

#include <array>
#include <cstdint>

namespace t6963 {

inline constexpr int RomGlyphCount = 128;

// The glyph of `code`; the ROM decodes seven address bits, so code & 0x7F is used.
const std::array<std::uint8_t, 8>& romGlyph(std::uint8_t code);

}  // namespace t6963
