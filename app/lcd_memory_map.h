// The display memory map this system sets up in the controller (LcdInit) and the character
// codes it writes. The controller's own facts (ports, bits, opcodes, geometry) are in
// t6963/t6963c.h; this header holds only what this system chose on top of them.
#pragma once

#include <cstdint>

#include "t6963/t6963c.h"

namespace kelvari::lcdmap {

// Text area: one character code per cell, cell (column, row) at TextHome + row * 40 + column.
inline constexpr std::int32_t TextHome = 0x0000;
// Graphic area: pixel (x, y) is bit t6963c::LeftmostPixelBit - x mod 6 (bit 5 - x mod 6) of
// the byte at GraphicHome + y * 40 + x / 6.
inline constexpr std::int32_t GraphicHome = 0x0200;
// Both areas are 40 bytes per row: 40 text columns, 40 six-pixel bytes.
inline constexpr std::int32_t BytesPerRow = 40;
static_assert(BytesPerRow == t6963c::Columns);

inline constexpr std::int32_t TextCells = BytesPerRow * t6963c::TextRows;  // 320
inline constexpr std::int32_t GraphicBytes = BytesPerRow * t6963c::Height;  // 2560
inline constexpr std::int32_t PixelsPerByte = t6963c::FontWidth;           // 6

// The built-in character generator's code of a character is its ASCII code less 32.
inline constexpr std::int32_t CharacterCodeOffset = 32;
inline constexpr std::uint8_t BlankCode = 0x00;

}  // namespace kelvari::lcdmap
