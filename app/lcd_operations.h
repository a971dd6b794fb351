// Every display operation of the main window, and the initialisation sequence, built from
// the two write primitives of the byte layer (app/lcd_bus.h). Like the byte layer it runs
// over any port object with GetPortByte/SetPortByte, so it is tested against recording
// fakes as well as the real port component.
//
// Arithmetic is 32-bit signed with two's-complement wrap (no overflow trap), truncating
// division and sign-preserving shifts; only low bytes go to the wire. Positions are not
// range-checked: they land where the arithmetic puts them.
//
// Not here: the port registers and control lines (the byte layer), reading numbers from
// edit boxes, whether the port driver is open (the window's business), and any knowledge
// of how the controller reacts to the bytes.
#pragma once

#include <chrono>
#include <cstdint>

#include "app/lcd_bus.h"
#include "app/lcd_memory_map.h"
#include "t6963/t6963c.h"

namespace kelvari {

// The display layers the display-mode command switches on.
struct DisplayLayers {
  bool cursorBlink = false;
  bool cursor = false;
  bool graphics = false;
  bool text = false;
};

constexpr std::uint8_t displayModeByte(DisplayLayers layers) {
  using namespace t6963c::cmd;
  std::uint8_t mode = DisplayMode;
  if (layers.cursorBlink) mode |= DisplayCursorBlink;
  if (layers.cursor) mode |= DisplayCursorOn;
  if (layers.graphics) mode |= DisplayGraphicOn;
  if (layers.text) mode |= DisplayTextOn;
  return mode;
}

namespace wire {
// Two's-complement 32-bit arithmetic, as the display's address arithmetic is defined.
constexpr std::int32_t add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
constexpr std::int32_t multiply(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
constexpr std::uint8_t lowByte(std::int32_t value) { return static_cast<std::uint8_t>(value & 0xFF); }
constexpr std::uint8_t secondByte(std::int32_t value) { return lowByte(value >> 8); }
}  // namespace wire

// Fixed contents of the demonstrations.
namespace demo {
inline constexpr std::uint8_t PutByteCode = 0x6E;       // "Kirjain näytölle"
inline constexpr int CharacterSetPasses = 10;
inline constexpr int CharacterSetCodes = 127;           // codes 0..126
inline constexpr std::uint8_t CharacterSetDisplayMode =
    displayModeByte({.cursorBlink = true, .cursor = true, .graphics = false, .text = true});
inline constexpr std::int32_t SquareSide = 30;
}  // namespace demo

template <typename PortIO, typename Clock = std::chrono::steady_clock>
class LcdOperations {
 public:
  using Bus = LcdBus<PortIO, Clock>;
  static constexpr std::chrono::milliseconds DefaultReadyTimeout = Bus::DefaultReadyTimeout;
  static constexpr int PollsPerClockCheck = Bus::PollsPerClockCheck;

  explicit LcdOperations(PortIO& port, std::chrono::milliseconds readyTimeout = DefaultReadyTimeout)
      : bus_(port, readyTimeout) {}

  // The byte layer's primitives, under the names the operations are built from.
  void LcdWaitReady() { bus_.LcdWaitReady(); }
  void LcdWriteData(std::uint8_t value) { bus_.LcdWriteData(value); }
  void LcdWriteCommand(std::uint8_t value) { bus_.LcdWriteCommand(value); }

  // Text home, text area, graphic home, graphic area, OR mode with the internal character
  // generator, 8-line cursor at 0,0, every layer on. Memory and address pointer untouched.
  void LcdInit() {
    using namespace t6963c::cmd;
    using lcdmap::BytesPerRow;
    writeWordCommand(lcdmap::TextHome, SetTextHome);
    writeWordCommand(BytesPerRow, SetTextArea);
    writeWordCommand(lcdmap::GraphicHome, SetGraphicHome);
    writeWordCommand(BytesPerRow, SetGraphicArea);
    LcdWriteCommand(ModeSet | ModeOr);
    LcdWriteCommand(CursorBlock);
    LcdSetCursor(0, 0);
    LcdSetDisplayMode({.cursorBlink = true, .cursor = true, .graphics = true, .text = true});
  }

  void LcdSetAddress(std::int32_t column, std::int32_t row) {
    setAddressPointer(wire::add(wire::multiply(row, lcdmap::BytesPerRow), column));
  }

  void LcdSetCursor(std::int32_t column, std::int32_t row) {
    LcdWriteData(wire::lowByte(column));
    LcdWriteData(wire::lowByte(row));
    LcdWriteCommand(t6963c::cmd::SetCursorPointer);
  }

  // All 320 text cells to the blank; leaves the address pointer one past the text area.
  void LcdClearText() { clearArea(lcdmap::TextHome, lcdmap::TextCells); }

  // Writes the zero-terminated 8-bit text from the address pointer onwards; characters
  // below the space and from 128 up (signed 8-bit values below 32) print as the blank.
  void LcdPrintText(const char* text) {
    for (const char* character = text; *character != '\0'; ++character) {
      const int code = static_cast<signed char>(*character) - lcdmap::CharacterCodeOffset;
      writeAndAdvance(code < 0 ? lcdmap::BlankCode : static_cast<std::uint8_t>(code));
    }
  }

  void LcdSetDisplayMode(DisplayLayers layers) { LcdWriteCommand(displayModeByte(layers)); }

  // One fixed character code at the address pointer, which then advances.
  void LcdPutFixedCharacter() { writeAndAdvance(demo::PutByteCode); }

  // Clears the text, shows it without graphics, and fills the text area ten times with the
  // codes 0..126, each pass shifted by one code.
  void LcdShowCharacterSet() {
    LcdClearText();
    LcdWriteCommand(demo::CharacterSetDisplayMode);
    for (int pass = 0; pass < demo::CharacterSetPasses; ++pass) {
      LcdSetAddress(0, 0);
      for (int cell = 0; cell < lcdmap::TextCells; ++cell) {
        writeAndAdvance(static_cast<std::uint8_t>((pass + cell) % demo::CharacterSetCodes));
      }
    }
  }

  // All 2560 graphic bytes to 0; leaves the address pointer one past the graphic area.
  void LcdClearGraphics() { clearArea(lcdmap::GraphicHome, lcdmap::GraphicBytes); }

  void LcdSetPixel(std::int32_t x, std::int32_t y) {
    const std::int32_t address = wire::add(
        wire::add(x / lcdmap::PixelsPerByte, wire::multiply(y, lcdmap::BytesPerRow)), lcdmap::GraphicHome);
    setAddressPointer(address);
    const std::int32_t bit = t6963c::LeftmostPixelBit - x % lcdmap::PixelsPerByte;
    LcdWriteCommand(static_cast<std::uint8_t>(wire::lowByte(bit) | t6963c::cmd::BitSet));
  }

  // The 30 x 30 pixels from (x, y), column by column, each column top to bottom.
  void LcdFillSquare(std::int32_t x, std::int32_t y) {
    for (std::int32_t i = 0; i < demo::SquareSide; ++i) {
      for (std::int32_t j = 0; j < demo::SquareSide; ++j) LcdSetPixel(wire::add(x, i), wire::add(y, j));
    }
  }

  // Even pixels of rows 1, 5, ..., 61 left to right, odd pixels of rows 3, 7, ..., 63
  // right to left.
  void LcdDrawStripePattern() {
    constexpr std::int32_t lastX = t6963c::Width - 1;
    for (std::int32_t y = 1; y < t6963c::Height - 1; y += 4) {
      for (std::int32_t x = 0; x < lastX; x += 2) LcdSetPixel(x, y);
      for (std::int32_t x = lastX; x > 0; x -= 2) LcdSetPixel(x, y + 2);
    }
  }

 private:
  void writeWordCommand(std::int32_t word, std::uint8_t command) {
    LcdWriteData(wire::lowByte(word));
    LcdWriteData(wire::secondByte(word));
    LcdWriteCommand(command);
  }

  void setAddressPointer(std::int32_t address) { writeWordCommand(address, t6963c::cmd::SetAddressPointer); }

  void writeAndAdvance(std::uint8_t value) {
    LcdWriteData(value);
    LcdWriteCommand(t6963c::cmd::WriteIncrement);
  }

  // Blank text cells and pixel bytes are both 0.
  void clearArea(std::int32_t start, std::int32_t count) {
    setAddressPointer(start);
    for (std::int32_t i = 0; i < count; ++i) writeAndAdvance(lcdmap::BlankCode);
  }

  Bus bus_;
};

}  // namespace kelvari
