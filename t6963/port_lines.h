// Who drives the controller's data lines, read from the port's registers: facts shared by
// the bus side (module.cpp) and the bus trace's decoder (bus_decoder.h). Only byte mode
// turns the port's lines around; the controller drives them during a read cycle (/CE and
// /RD asserted). Lines that nobody drives float low: this port has no pull-ups.
#pragma once

#include <cstdint>

#include "t6963/t6963c.h"

namespace t6963 {

inline constexpr std::uint8_t FloatingLines = 0x00;

constexpr bool portDrives(std::uint8_t control, std::uint8_t ecr) {
  return (ecr & t6963c::ecr::ModeMask) != t6963c::ecr::ModeByte || (control & t6963c::ctl::DirInput) == 0;
}

constexpr bool readCycle(std::uint8_t control) {
  return (control & t6963c::ctl::Ce) != 0 && (control & t6963c::ctl::Rd) != 0;
}

}  // namespace t6963
