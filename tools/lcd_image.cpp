// Frame to LCD-looking image.
#include "tools/lcd_image.h"

#include <algorithm>
#include <cstring>


namespace lcdview {

QImage frameToImage(const t6963::Frame& frame, int scale, const LcdPalette& palette) {
  scale = std::clamp(scale, MinScale, MaxScale);
  const bool grid = scale >= GridFromScale;
  QImage image(frame.width * scale, frame.height * scale, QImage::Format_RGB32);
  const auto rowBytes = static_cast<std::size_t>(image.bytesPerLine());

  for (int y = 0; y < frame.height; ++y) {
    // Draw the first image row of this display row, copy it down, then draw the gap row.
    auto* first = reinterpret_cast<QRgb*>(image.scanLine(y * scale));
    for (int x = 0; x < frame.width; ++x) {
      const bool on = frame.pixels[static_cast<std::size_t>(y * frame.width + x)] != 0;
      QRgb* cell = first + x * scale;
      std::fill(cell, cell + scale, on ? palette.pixelOn : palette.backlight);
      if (grid) cell[scale - 1] = palette.grid;
    }
    const int copies = grid ? scale - 1 : scale;
    for (int row = 1; row < copies; ++row) std::memcpy(image.scanLine(y * scale + row), first, rowBytes);
    if (grid) {
      auto* gap = reinterpret_cast<QRgb*>(image.scanLine(y * scale + scale - 1));
      std::fill(gap, gap + image.width(), palette.grid);
    }
  }
  return image;
}

}  // namespace lcdview
