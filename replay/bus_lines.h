// The twelve lines of a T6963C bus and how they are found among a capture's channels: by
// the names analyser users give them, by an explicit map (`--channels WR=3,CD=A0,...`), or
// not at all for /CE and /RD when the module's cable ties them. Leaves out which port line
// drives which bus line on a PC (the module's cable, t6963/): a capture sees the bus itself.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "replay/capture.h"

namespace replay {

// Also the bit of each line in the extractor's levels (selection element = line).
enum class BusLine : std::uint8_t { D0, D1, D2, D3, D4, D5, D6, D7, Wr, Rd, Ce, Cd };
inline constexpr std::size_t BusLineCount = 12;

constexpr std::uint64_t bit(BusLine line) { return std::uint64_t{1} << static_cast<unsigned>(line); }
inline constexpr std::uint64_t DataBits = 0xFF;

// "D0".."D7", "/WR", "/RD", "/CE", "C/D".
const char* busLineName(BusLine line);

// The line a channel name means, in any case: D0..D7 or DB0..DB7; /WR, WR, nWR, WR# (and
// the same for RD and CE); C/D, CD or A0. Kelvari's own VCD names are among them.
std::optional<BusLine> busLineForName(std::string_view name);

// Lines the module's cable ties instead of wiring them to the host.
struct Wiring {
  bool ceTiedLow = false;   // /CE on ground: always selected
  bool rdTiedHigh = false;  // /RD on +5 V: the bus is write-only
};

// The capture channel of each line; empty for a tied line.
using ChannelAssignment = std::array<std::optional<unsigned>, BusLineCount>;

// Finds every line by name, then applies `map` ("WR=3,CE=2,CD=C/D,D0=8", a line in any of
// the spellings above, a channel by index or by name), which overrides. Throws CaptureError
// for a malformed map and for a capture without a line it needs, naming every missing one.
ChannelAssignment assignChannels(const CaptureInfo& info, std::string_view map, const Wiring& wiring);

// The selection that puts each line at its own bit.
ChannelSelection selectionOf(const ChannelAssignment& assignment);

}  // namespace replay
