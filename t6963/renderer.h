// The frame the module's glass shows, computed from RAM, controller registers and the
// module's build: text through the character ROM or CG RAM in cells as wide as the font
// strap, graphics at as many pixels per byte (bit FS-1 leftmost), ceil(width / FS) bytes of
// each line shown, the OR / EXOR / AND combination or text attribute mode, the display mode
// bits, and the cursor. No side effects; the caller supplies the blink phase (blinkPhaseOn()
// of the state, or a wall clock). Leaves out: the LCD's contrast, response time and backlight.
//
// Choices where the module leaves room: a layer switched off contributes nothing, and with
// only one layer on the combine mode does not matter; undefined combine codes render as OR;
// in attribute mode graphics are not shown, and attributes apply only with the graphic
// layer on (without it, text shows plain); a blinking cell is blank in the off phase; the
// cursor darkens its lines of the cell at (cursorX, cursorY), whether text is on or not,
// and only inside the cells of the glass. The ROM's 5x7 glyphs stand at the left of a wider
// cell and fill a 5-pixel one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "t6963/module_state.h"
#include "t6963/t6963c.h"

namespace t6963 {

struct Frame {
  // A blank frame of this system's own 240x64 glass, or of the given size.
  Frame() : Frame(t6963c::Width, t6963c::Height) {}
  Frame(int frameWidth, int frameHeight)
      : width(frameWidth), height(frameHeight), pixels(static_cast<std::size_t>(frameWidth * frameHeight)) {}

  int width;
  int height;
  // 1 = dark (on) pixel, row-major, width x height.
  std::vector<std::uint8_t> pixels;

  std::uint8_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
  friend bool operator==(const Frame&, const Frame&) = default;
};

Frame render(const ModuleState& state, bool blinkPhaseOn);

// The FS pixels (bit FS-1 leftmost) of the displayed image at graphic byte column `column`
// (0 to the build's displayed columns) and pixel row `row`, text and graphics combined,
// without the cursor. Screen peek and screen copy read the display through this.
std::uint8_t displayedByte(const ModuleState& state, int column, int row, bool blinkPhaseOn);

// Text art: one line per pixel row, '#' for on, '.' for off, each line ended by '\n'.
std::string frameToText(const Frame& frame);

}  // namespace t6963
