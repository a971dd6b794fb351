// A frame of the virtual display as a picture that looks like the LCD: each display pixel
// is a square of scale x scale image pixels in the backlight or the dark pixel colour, and
// from scale 3 on its last row and column are the darker gap of the pixel grid. Leaves out
// the bezel and anything outside the glass.
#pragma once

#include <QImage>
#include <QRgb>

#include "t6963/renderer.h"

namespace lcdview {

struct LcdPalette {
  QRgb backlight;  // a pixel that is off
  QRgb pixelOn;    // a dark pixel
  QRgb grid;       // the gap between pixels
};

// Yellow-green backlight with near-black pixels, as on common T6963C modules.
inline constexpr LcdPalette YellowGreen{qRgb(0xA6, 0xC4, 0x3C), qRgb(0x1C, 0x26, 0x12), qRgb(0x94, 0xB0, 0x33)};

inline constexpr int MinScale = 1;
inline constexpr int MaxScale = 16;
inline constexpr int GridFromScale = 3;

// scale is clamped to MinScale..MaxScale.
QImage frameToImage(const t6963::Frame& frame, int scale, const LcdPalette& palette = YellowGreen);

}  // namespace lcdview
