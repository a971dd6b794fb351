// The frame of the module's display (see renderer.h for the choices made).
#include "t6963/renderer.h"

#include "t6963/character_rom.h"

namespace t6963 {
namespace {

namespace cmd = t6963c::cmd;
namespace attr = t6963c::attr;

std::uint8_t ramAt(const ModuleState& state, int address) {
  return state.ram[static_cast<unsigned>(address) & RamAddressMask];
}

// One row of the glyph of `code`, from the ROM or from CG RAM.
std::uint8_t glyphRow(const ModuleState& state, std::uint8_t code, int row) {
  const ControllerRegisters& c = state.controller;
  const bool externalCg = (c.modeSet & cmd::ModeExternalCg) != 0;
  if (!externalCg && code < cmd::FirstCgRamCode) return romGlyph(code)[static_cast<std::size_t>(row)];
  const int address = (c.offset & cmd::OffsetMask) << cmd::CgOffsetShift | code << cmd::CgCodeShift | row;
  return ramAt(state, address) & t6963c::PixelMask;
}

std::uint8_t withAttribute(std::uint8_t text, std::uint8_t attribute, bool blinkPhaseOn) {
  if ((attribute & attr::Blink) != 0 && !blinkPhaseOn) return 0;
  switch (attribute & attr::KindMask) {
    case attr::Inhibit: return 0;
    case attr::Reverse: return static_cast<std::uint8_t>(~text & t6963c::PixelMask);
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
    return withAttribute(text, ramAt(state, c.graphicHome + textRow * c.graphicArea + column), blinkPhaseOn);
  }
  if (!graphicOn) return text;
  const std::uint8_t graphic = ramAt(state, c.graphicHome + row * c.graphicArea + column) & t6963c::PixelMask;
  if (!textOn) return graphic;
  switch (combine) {
    case cmd::ModeExor: return text ^ graphic;
    case cmd::ModeAnd: return text & graphic;
    default: return text | graphic;
  }
}

Frame render(const ModuleState& state, bool blinkPhaseOn) {
  const ControllerRegisters& c = state.controller;
  const bool cursorShown = (c.displayMode & cmd::DisplayCursorOn) != 0 &&
                           ((c.displayMode & cmd::DisplayCursorBlink) == 0 || blinkPhaseOn) &&
                           c.cursorX < t6963c::Columns && c.cursorY < t6963c::TextRows;
  const int cursorTop = (c.cursorY + 1) * t6963c::FontHeight - c.cursorLines;
  const int cursorBottom = (c.cursorY + 1) * t6963c::FontHeight;

  Frame frame;
  auto pixel = frame.pixels.begin();
  for (int row = 0; row < t6963c::Height; ++row) {
    const bool cursorRow = cursorShown && row >= cursorTop && row < cursorBottom;
    for (int column = 0; column < t6963c::Columns; ++column) {
      std::uint8_t cell = displayedByte(state, column, row, blinkPhaseOn);
      if (cursorRow && column == c.cursorX) cell = t6963c::PixelMask;
      for (int bit = t6963c::LeftmostPixelBit; bit >= 0; --bit) *pixel++ = static_cast<std::uint8_t>((cell >> bit) & 1);
    }
  }
  return frame;
}

std::string frameToText(const Frame& frame) {
  std::string text;
  text.reserve(static_cast<std::size_t>((t6963c::Width + 1) * t6963c::Height));
  for (int y = 0; y < t6963c::Height; ++y) {
    for (int x = 0; x < t6963c::Width; ++x) text += frame.at(x, y) != 0 ? '#' : '.';
    text += '\n';
  }
  return text;
}

}  // namespace t6963
