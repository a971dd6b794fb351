// The 240x64 frame the module shows, computed from RAM and controller registers: text
// through the character ROM or CG RAM, graphics at six pixels per byte (bit 5 leftmost),
// the OR / EXOR / AND combination or text attribute mode, the display mode bits, and the
// cursor. No side effects; the caller supplies the blink phase (blinkPhaseOn() of the
// state, or a wall clock). Leaves out: the LCD's contrast, response time and backlight.
//
// Choices where the module leaves room: a layer switched off contributes nothing, and with
// only one layer on the combine mode does not matter; undefined combine codes render as OR;
// in attribute mode graphics are not shown, and attributes apply only with the graphic
// layer on (without it, text shows plain); a blinking cell is blank in the off phase; the
// cursor darkens its lines of the cell at (cursorX, cursorY), whether text is on or not,
// and only inside the 40x8 cells of the screen.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "t6963/module_state.h"
#include "t6963/t6963c.h"

namespace t6963 {

struct Frame {
  // 1 = dark (on) pixel, row-major, Width x Height.
  std::array<std::uint8_t, t6963c::Width * t6963c::Height> pixels{};

  std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * t6963c::Width + x)]; }
};

Frame render(const ModuleState& state, bool blinkPhaseOn);

// The six pixels (bit 5 leftmost) of the displayed image at graphic byte column `column`
// (0..39) and pixel row `row` (0..63), text and graphics combined, without the cursor.
// Screen peek and screen copy read the display through this.
std::uint8_t displayedByte(const ModuleState& state, int column, int row, bool blinkPhaseOn);

// Text art: one line per pixel row, '#' for on, '.' for off, each line ended by '\n'.
std::string frameToText(const Frame& frame);

}  // namespace t6963
