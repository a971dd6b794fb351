// Facts of the T6963C controller and of the way this system wires it to the PC parallel
// port: register offsets, control bits with their connector pins and inversion, the
// controller's own lines, ECR modes, status bits and opcodes. Shared by the wire protocol,
// the virtual display module and the tests, so that no magic byte is written twice. Holds no
// behaviour. Other modules' glass, font strap, RAM and cable are in module_build.h.
#pragma once

#include <cstdint>

namespace t6963c {

// Parallel-port registers, relative to the port's base address.
namespace reg {
inline constexpr std::uint16_t Data = 0x000;     // D0-D7 of the controller
inline constexpr std::uint16_t Status = 0x001;   // unused by this wiring
inline constexpr std::uint16_t Control = 0x002;  // strobes, C/D and the data direction
inline constexpr std::uint16_t Ecr = 0x402;      // extended control register
}  // namespace reg

// The display hangs on the first parallel port at this fixed base.
inline constexpr std::uint16_t LptBase = 0x378;
inline constexpr std::uint16_t DataPort = LptBase + reg::Data;        // 0x378
inline constexpr std::uint16_t StatusPort = LptBase + reg::Status;    // 0x379
inline constexpr std::uint16_t ControlPort = LptBase + reg::Control;  // 0x37A
inline constexpr std::uint16_t EcrPort = LptBase + reg::Ecr;          // 0x77A

// Control register bits as software writes them. Bits 0, 1 and 3 are inverted between the
// register and the connector, so writing 1 asserts the controller's active-low line.
namespace ctl {
inline constexpr std::uint8_t Wr = 0x01;         // bit 0, pin 1 strobe (inverted): /WR
inline constexpr std::uint8_t Ce = 0x02;         // bit 1, pin 14 auto-feed (inverted): /CE
inline constexpr std::uint8_t Cd = 0x04;         // bit 2, pin 16 init (not inverted): C/D, 1 = command/status
inline constexpr std::uint8_t Rd = 0x08;         // bit 3, pin 17 select-in (inverted): /RD
inline constexpr std::uint8_t DirInput = 0x20;   // bit 5: 1 = the port reads the data lines
inline constexpr std::uint8_t Inverted = Wr | Ce | Rd;  // bits the connector inverts

// Whole control values of this system's status read, and the idle value between transfers.
inline constexpr std::uint8_t Released = 0x00;                      // output direction, every line released
inline constexpr std::uint8_t StatusSelect = DirInput | Cd | Ce;    // 0x26: input, C/D high, chip enabled
inline constexpr std::uint8_t StatusRead = StatusSelect | Rd;       // 0x2E: the same with /RD asserted
}  // namespace ctl

// The controller's control lines as the module sees them, one bit each, set while the line
// is active: /WR, /CE and /RD low, C/D high (command or status). On this system's cable they
// are the control register's own bits 0 to 3.
namespace line {
inline constexpr std::uint8_t Wr = 0x01;
inline constexpr std::uint8_t Ce = 0x02;
inline constexpr std::uint8_t Cd = 0x04;
inline constexpr std::uint8_t Rd = 0x08;
inline constexpr std::uint8_t ControlBits = 0x0F;  // the control register bits a cable can use
}  // namespace line

// ECR mode field (bits 7..5).
namespace ecr {
inline constexpr std::uint8_t ModeMask = 0xE0;
inline constexpr std::uint8_t KeepMask = 0x1F;  // bits outside the mode field
inline constexpr std::uint8_t ModeSpp = 0x00;
inline constexpr std::uint8_t ModeByte = 0x20;  // bidirectional (PS/2)
inline constexpr std::uint8_t ModeFifo = 0x40;
inline constexpr std::uint8_t ModeEcp = 0x60;
inline constexpr std::uint8_t ModeEpp = 0x80;
inline constexpr std::uint8_t ModeTest = 0xC0;
inline constexpr std::uint8_t ModeConfig = 0xE0;
inline constexpr std::uint8_t FifoEmpty = 0x01;  // read-only status bits of the ECR
inline constexpr std::uint8_t FifoFull = 0x02;
inline constexpr std::uint8_t ServiceInterrupt = 0x04;       // 1 = DMA and service interrupts off
inline constexpr std::uint8_t ErrorInterruptDisable = 0x10;  // 1 = nFault interrupt off
}  // namespace ecr

// Status word bits, read from the data lines with C/D high.
namespace sta {
inline constexpr std::uint8_t CommandOk = 0x01;    // STA0 command execution possible
inline constexpr std::uint8_t DataOk = 0x02;       // STA1 data read/write possible
inline constexpr std::uint8_t AutoReadOk = 0x04;   // STA2 auto mode data read possible
inline constexpr std::uint8_t AutoWriteOk = 0x08;  // STA3 auto mode data write possible
inline constexpr std::uint8_t ControllerOk = 0x20; // STA5 controller operation possible
inline constexpr std::uint8_t PeekCopyError = 0x40;// STA6 error flag of screen peek/copy
inline constexpr std::uint8_t BlinkNormal = 0x80;  // STA7 1 = normal display, 0 = blink-off phase
inline constexpr std::uint8_t Ready = CommandOk | DataOk;
}  // namespace sta

// Command opcodes; data bytes go first, the command byte last.
namespace cmd {
inline constexpr std::uint8_t SetCursorPointer = 0x21;   // X, Y
inline constexpr std::uint8_t SetOffsetRegister = 0x22;  // offset, 0
inline constexpr std::uint8_t SetAddressPointer = 0x24;  // low, high
inline constexpr std::uint8_t SetTextHome = 0x40;        // low, high
inline constexpr std::uint8_t SetTextArea = 0x41;        // columns, 0
inline constexpr std::uint8_t SetGraphicHome = 0x42;     // low, high
inline constexpr std::uint8_t SetGraphicArea = 0x43;     // columns, 0

inline constexpr std::uint8_t ModeSet = 0x80;            // + CG + combine mode
inline constexpr std::uint8_t ModeOr = 0x00;
inline constexpr std::uint8_t ModeExor = 0x01;
inline constexpr std::uint8_t ModeAnd = 0x03;
inline constexpr std::uint8_t ModeTextAttribute = 0x04;
inline constexpr std::uint8_t ModeExternalCg = 0x08;

inline constexpr std::uint8_t DisplayMode = 0x90;        // + flags; 0x90 alone = display off
inline constexpr std::uint8_t DisplayCursorBlink = 0x01;
inline constexpr std::uint8_t DisplayCursorOn = 0x02;
inline constexpr std::uint8_t DisplayTextOn = 0x04;
inline constexpr std::uint8_t DisplayGraphicOn = 0x08;

inline constexpr std::uint8_t CursorPattern = 0xA0;      // + (lines - 1)
inline constexpr std::uint8_t CursorBlock = 0xA7;        // 8 lines

inline constexpr std::uint8_t AutoWrite = 0xB0;
inline constexpr std::uint8_t AutoRead = 0xB1;
inline constexpr std::uint8_t AutoReset = 0xB2;

inline constexpr std::uint8_t WriteIncrement = 0xC0;     // one data byte
inline constexpr std::uint8_t ReadIncrement = 0xC1;
inline constexpr std::uint8_t WriteDecrement = 0xC2;
inline constexpr std::uint8_t ReadDecrement = 0xC3;
inline constexpr std::uint8_t WriteNoChange = 0xC4;
inline constexpr std::uint8_t ReadNoChange = 0xC5;

inline constexpr std::uint8_t ScreenPeek = 0xE0;
inline constexpr std::uint8_t ScreenCopy = 0xE8;

inline constexpr std::uint8_t BitReset = 0xF0;           // + bit number
inline constexpr std::uint8_t BitSet = 0xF8;             // + bit number

// Fields inside the command bytes and their parameters.
inline constexpr std::uint8_t FamilyMask = 0xF0;         // mode set and display mode: flags in the low nibble
inline constexpr std::uint8_t ModeCombineMask = 0x07;    // of ModeSet
inline constexpr std::uint8_t DisplayFlagsMask = 0x0F;   // of DisplayMode
inline constexpr std::uint8_t CursorLinesMask = 0x07;    // of CursorPattern: lines - 1
inline constexpr std::uint8_t BitNumberMask = 0x07;      // of BitReset / BitSet
inline constexpr std::uint8_t CursorXMask = 0x7F;
inline constexpr std::uint8_t CursorYMask = 0x1F;
inline constexpr std::uint8_t OffsetMask = 0x1F;
inline constexpr int CgOffsetShift = 11;                 // CG RAM address = offset << 11 | code << 3 | row
inline constexpr int CgCodeShift = 3;
inline constexpr std::uint8_t FirstCgRamCode = 0x80;     // internal CG: codes from here come from CG RAM
}  // namespace cmd

// Text attribute bytes (graphic area in text attribute mode), one per text cell.
namespace attr {
inline constexpr std::uint8_t Normal = 0x00;
inline constexpr std::uint8_t Inhibit = 0x03;
inline constexpr std::uint8_t Reverse = 0x05;
inline constexpr std::uint8_t Blink = 0x08;      // combinable with Reverse or Inhibit
inline constexpr std::uint8_t KindMask = 0x07;   // Normal, Inhibit or Reverse
}  // namespace attr

// This system's own module, which the test bench drives: 240x64 pixels, strapped for the 6x8
// font. The virtual module can be built otherwise (module_build.h).
inline constexpr int Width = 240;
inline constexpr int Height = 64;
inline constexpr int FontWidth = 6;
inline constexpr int FontHeight = 8;
inline constexpr int Columns = Width / FontWidth;   // 40
inline constexpr int TextRows = Height / FontHeight; // 8
inline constexpr std::uint8_t PixelMask = 0x3F;     // graphic and glyph bytes show bits 5..0
inline constexpr int LeftmostPixelBit = FontWidth - 1;  // bit 5

}  // namespace t6963c
