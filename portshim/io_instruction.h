// The x86-64 port instructions a program without I/O permission traps on, and their
// effect when served: IN and OUT with the port in DX or as an 8-bit immediate, of 8, 16
// and 32 bits (operand-size prefix 0x66 for 16; REX.W keeps 32). Legacy prefixes that do
// not change them (segment, address size, REP, LOCK) and a REX prefix are stepped over.
// The string forms INS and OUTS are not decoded: they stay the program's fault.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "portlib/port_backend.h"

namespace portshim {

struct IoInstruction {
  bool isIn = false;
  unsigned width = 1;          // bytes: 1, 2 or 4
  bool portInDx = true;
  std::uint8_t immediatePort = 0;
  std::size_t length = 0;      // bytes of the whole instruction
};

// Decodes the instruction at `code`, reading no byte past its end; nullopt for anything
// but the forms above.
std::optional<IoInstruction> decodeIoInstruction(const std::uint8_t* code) noexcept;

// The port the instruction addresses, given the program's RDX.
std::uint16_t portOf(const IoInstruction& instruction, std::uint64_t rdx) noexcept;

// Carries the instruction out through the port-access layer and returns the program's new
// RAX: IN replaces AL or AX and keeps the rest, or sets EAX and clears the upper half, as
// the processor does; OUT leaves it unchanged.
std::uint64_t execute(const IoInstruction& instruction, portlib::PortBackend& backend, std::uint16_t port,
                      std::uint64_t rax) noexcept;

}  // namespace portshim
