// Who drives the controller's data lines: facts shared by the bus side (module.cpp) and the
// bus trace's decoder (bus_decoder.h). Only byte mode turns the port's lines around (read
// from the port's registers); the controller drives them during a read cycle (/CE and /RD
// asserted, read from the controller's lines after the cable). Lines that nobody drives
// float low: this port has no pull-ups.
#pragma once

#include <cstdint>

#include "t6963/t6963c.h"

namespace t6963 {

inline constexpr std::uint8_t FloatingLines = 0x00;

constexpr bool portDrives(std::uint8_t control, std::uint8_t ecr) {
  return (ecr & t6963c::ecr::ModeMask) != t6963c::ecr::ModeByte || (control & t6963c::ctl::DirInput) == 0;
}

// `lines`: t6963c::line bits.
constexpr bool readCycle(std::uint8_t lines) {
  return (lines & t6963c::line::Ce) != 0 && (lines & t6963c::line::Rd) != 0;
}

}  // namespace t6963
