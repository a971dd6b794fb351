// The frame of the module's display (see renderer.h for the choices made).
#include "t6963/renderer.h"

#include "t6963/character_rom.h"

namespace t6963 {
namespace {

namespace cmd = t6963c::cmd;
namespace attr = t6963c::attr;

std::uint8_t ramAt(const ModuleState& state, int address) {
  return state.ram[static_cast<unsigned>(address) & state.build.ramMask()];
}

// The ROM draws its five dots in bits 5..1 of a six-pixel cell: in a cell FS pixels wide
// they stand at its left.
constexpr int RomDotsShift = 1;
constexpr int RomGlyphWidth = 5;

// One row of the glyph of `code`, from the ROM or from CG RAM, in the build's FS bits.
std::uint8_t glyphRow(const ModuleState& state, std::uint8_t code, int row) {
  const ControllerRegisters& c = state.controller;
  const bool externalCg = (c.modeSet & cmd::ModeExternalCg) != 0;
  if (!externalCg && code < cmd::FirstCgRamCode) {
    const unsigned dots = romGlyph(code)[static_cast<std::size_t>(row)] >> RomDotsShift;
    return static_cast<std::uint8_t>(dots << (state.build.fontWidth - RomGlyphWidth));
  }
  const int address = (c.offset & cmd::OffsetMask) << cmd::CgOffsetShift | code << cmd::CgCodeShift | row;
  return ramAt(state, address) & state.build.pixelMask();
}

std::uint8_t withAttribute(std::uint8_t text, std::uint8_t attribute, bool blinkPhaseOn, std::uint8_t pixelMask) {
  if ((attribute & attr::Blink) != 0 && !blinkPhaseOn) return 0;
  switch (attribute & attr::KindMask) {
    case attr::Inhibit: return 0;
    case attr::Reverse: return static_cast<std::uint8_t>(~text & pixelMask);
    default: return text;
  }
}

}  // namespace

std::uint8_t displayedByte(const ModuleState& state, int column, int row, bool blinkPhaseOn) {
  const ControllerRegisters& c = state.controller;
  const bool textOn = (c.displayMode & cmd::DisplayTextOn) != 0;
  const bool graphicOn = (c.displayMode & cmd::DisplayGraphicOn) != 0;
  const int combine = c.modeSet & cmd::ModeCombineMask;
  const int textRow = row / t6963c::FontHeight;

  std::uint8_t text = 0;
  if (textOn) {
    const std::uint8_t code = ramAt(state, c.textHome + textRow * c.textArea + column);
    text = glyphRow(state, code, row % t6963c::FontHeight);
  }
  if (combine == cmd::ModeTextAttribute) {
    if (!textOn || !graphicOn) return text;
    return withAttribute(text, ramAt(state, c.graphicHome + textRow * c.graphicArea + column), blinkPhaseOn,
                         state.build.pixelMask());
  }
  if (!graphicOn) return text;
  const std::uint8_t graphic = ramAt(state, c.graphicHome + row * c.graphicArea + column) & state.build.pixelMask();
  if (!textOn) return graphic;
  switch (combine) {
    case cmd::ModeExor: return text ^ graphic;
    case cmd::ModeAnd: return text & graphic;
    default: return text | graphic;
  }
}

Frame render(const ModuleState& state, bool blinkPhaseOn) {
  const ControllerRegisters& c = state.controller;
  const ModuleBuild& build = state.build;
  const int columns = build.displayedColumns();
  const bool cursorShown = (c.displayMode & cmd::DisplayCursorOn) != 0 &&
                           ((c.displayMode & cmd::DisplayCursorBlink) == 0 || blinkPhaseOn) &&
                           c.cursorX < columns && c.cursorY < build.textRows();
  const int cursorTop = (c.cursorY + 1) * t6963c::FontHeight - c.cursorLines;
  const int cursorBottom = (c.cursorY + 1) * t6963c::FontHeight;

  Frame frame(build.width, build.height);
  auto pixel = frame.pixels.begin();
  for (int row = 0; row < build.height; ++row) {
    const bool cursorRow = cursorShown && row >= cursorTop && row < cursorBottom;
    int x = 0;
    for (int column = 0; column < columns; ++column) {
      std::uint8_t cell = displayedByte(state, column, row, blinkPhaseOn);
      if (cursorRow && column == c.cursorX) cell = build.pixelMask();
      // The last byte of a line may stand partly beyond the glass's right edge.
      for (int bit = build.fontWidth - 1; bit >= 0 && x < build.width; --bit, ++x) {
        *pixel++ = static_cast<std::uint8_t>((cell >> bit) & 1);
      }
    }
  }
  return frame;
}

std::string frameToText(const Frame& frame) {
  std::string text;
  text.reserve(static_cast<std::size_t>((frame.width + 1) * frame.height));
  for (int y = 0; y < frame.height; ++y) {
    for (int x = 0; x < frame.width; ++x) text += frame.at(x, y) != 0 ? '#' : '.';
    text += '\n';
  }
  return text;
}

}  // namespace t6963
