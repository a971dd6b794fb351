// A T6963C module's build: the glass it drives, the font-select strap, the RAM soldered
// beside it, and the cable that ties its control lines to the PC's parallel port. The build
// is the module's hardware, fixed when the module is made; the renderer, the controller's
// peek and copy, the bus decoder and the waveform export all read it from the module.
//
// Cable: each controller line (/WR, /CE, C/D, /RD) is driven by one of the port's four
// control outputs, named as lcd4linux names them (STROBE, AUTOFD, INIT, SLCTIN), directly or
// through an inverter in the cable ('!'), or is tied: /CE to ground (always selected), /RD
// to +5 V (a write-only cable, whose status can never be read). The port's own inversion of
// STROBE, AUTOFD and SLCTIN lies before the cable. The data lines go straight through.
//
// Limits, from what the controller can scan: a font 5, 6, 7 or 8 pixels wide; a line of at
// most 80 bytes, so a glass at most 80 x font pixels wide; 2 to 16 character lines (16 to 128
// rows), or a dual-scan glass of two such halves (up to 256 rows, in steps of 16); 8, 32 or
// 64 KiB of RAM, addresses wrapping at its size.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "t6963/t6963c.h"

namespace t6963 {

// The port's control outputs, in control register bit order (bit 0 = STROBE).
enum class PortLine : std::uint8_t { Strobe, AutoFeed, Init, SelectIn };
inline constexpr std::size_t PortLineCount = 4;

// The controller's control lines, in the bit order of t6963c::line.
enum class ControllerLine : std::uint8_t { Wr, Ce, Cd, Rd };
inline constexpr std::size_t ControllerLineCount = 4;

struct Wire {
  enum class Source : std::uint8_t { Port, Ground, Supply };
  Source source = Source::Port;
  PortLine port = PortLine::Strobe;  // with Source::Port
  bool inverted = false;             // an inverter in the cable, with Source::Port

  friend bool operator==(const Wire&, const Wire&) = default;
};

// Indexed by ControllerLine.
struct Cable {
  std::array<Wire, ControllerLineCount> wires;

  const Wire& wire(ControllerLine line) const { return wires[static_cast<std::size_t>(line)]; }
  friend bool operator==(const Cable&, const Cable&) = default;
};

// This system's cable, the same as lcd4linux's default, LCDd's and graphlcd's "Standard":
// WR:STROBE, CE:AUTOFD, CD:INIT, RD:SLCTIN.
inline constexpr Cable StandardCable{{Wire{Wire::Source::Port, PortLine::Strobe, false},
                                      Wire{Wire::Source::Port, PortLine::AutoFeed, false},
                                      Wire{Wire::Source::Port, PortLine::Init, false},
                                      Wire{Wire::Source::Port, PortLine::SelectIn, false}}};

inline constexpr int MinFontWidth = 5;
inline constexpr int MaxFontWidth = 8;
inline constexpr int MaxLineBytes = 80;
inline constexpr int RowsPerTextLine = t6963c::FontHeight;
inline constexpr int MinRows = 2 * RowsPerTextLine;          // 16
inline constexpr int MaxSingleScanRows = 16 * RowsPerTextLine;  // 128
inline constexpr int MaxRows = 2 * MaxSingleScanRows;        // 256, dual scan
inline constexpr int DualScanStep = 2 * RowsPerTextLine;     // 16
inline constexpr int MaxWidth = MaxLineBytes * MaxFontWidth;  // 640
inline constexpr std::uint32_t MaxRamBytes = 0x10000;

struct ModuleBuild {
  std::uint16_t width = t6963c::Width;
  std::uint16_t height = t6963c::Height;
  std::uint8_t fontWidth = t6963c::FontWidth;  // pixels per text cell and per graphic byte
  std::uint32_t ramBytes = 0x2000;             // 8, 32 or 64 KiB
  Cable cable = StandardCable;

  // Bytes of a display line the glass shows: ceil(width / fontWidth).
  int displayedColumns() const { return (width + fontWidth - 1) / fontWidth; }
  int textRows() const { return height / RowsPerTextLine; }
  std::uint8_t pixelMask() const { return static_cast<std::uint8_t>((1U << fontWidth) - 1); }
  std::uint16_t ramMask() const { return static_cast<std::uint16_t>(ramBytes - 1); }

  friend bool operator==(const ModuleBuild&, const ModuleBuild&) = default;
};

static_assert(std::is_trivially_copyable_v<ModuleBuild>);

// This system's own module: 240x64, strapped 6x8, 8 KiB, on the standard cable.
inline constexpr ModuleBuild StandardBuild{};

// "240x128 8x8 32K, cable WR:INIT,CE:STROBE,CD:SLCTIN,RD:AUTOFD"
std::string describe(const ModuleBuild& build);
// "WR:STROBE,CE:GND,CD:!INIT,RD:VCC": the form DLPORTIO_LCD_WIRING takes.
std::string describe(const Cable& cable);
// "/WR", "/CE", "C/D", "/RD"
const char* lineName(ControllerLine line);

// The settings' text forms. Each gives the value, or the reason it is refused, naming what
// is accepted.
struct GlassSize {
  int width = 0;
  int height = 0;
};
template <typename Value>
using Parsed = std::variant<Value, std::string>;

Parsed<GlassSize> parseGlassSize(std::string_view text);  // "240x128"
Parsed<int> parseFontWidth(std::string_view text);        // "5x8" .. "8x8"
Parsed<std::uint32_t> parseRamBytes(std::string_view text);  // "8K", "32K", "64K"
Parsed<Cable> parseCable(std::string_view text);          // "WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN"

// The controller lines (t6963c::line bits) for each value of the control register's low four
// bits, through the port's own inversion and the cable: the bus side's one lookup per
// control write.
using CableTable = std::array<std::uint8_t, 16>;
CableTable cableTable(const Cable& cable);

// The control register value that leaves every controller line the cable drives released
// (C/D low too): where the virtual port starts, so that no cable begins with a strobe held.
std::uint8_t idleControl(const Cable& cable);

// Why a glass of `size` cannot be scanned with a font `fontWidth` pixels wide, or nothing.
std::optional<std::string> glassRefusal(GlassSize size, int fontWidth);

}  // namespace t6963
