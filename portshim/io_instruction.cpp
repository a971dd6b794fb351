// Decoding and carrying out trapped IN/OUT instructions (see io_instruction.h).
#include "portshim/io_instruction.h"

#include "portlib/port_access.h"

namespace portshim {
namespace {

constexpr std::size_t MaxInstructionLength = 15;
constexpr std::uint8_t OperandSize = 0x66;
constexpr std::uint8_t RexW = 0x08;

bool isNeutralPrefix(std::uint8_t byte) {
  switch (byte) {
    case 0x26: case 0x2E: case 0x36: case 0x3E: case 0x64: case 0x65:  // segment overrides
    case 0x67:                                                         // address size
    case 0xF0: case 0xF2: case 0xF3:                                   // LOCK, REPNE, REP
      return true;
    default: return false;
  }
}

bool isRex(std::uint8_t byte) { return (byte & 0xF0) == 0x40; }

}  // namespace

std::optional<IoInstruction> decodeIoInstruction(const std::uint8_t* code) noexcept {
  bool operandSize = false;
  std::uint8_t rex = 0;
  std::size_t at = 0;
  for (; at < MaxInstructionLength; ++at) {
    const std::uint8_t byte = code[at];
    if (byte == OperandSize) {
      operandSize = true;
    } else if (isRex(byte)) {
      rex = byte;  // only a REX right before the opcode counts; a legacy prefix after it clears it
      continue;
    } else if (!isNeutralPrefix(byte)) {
      break;
    }
    rex = 0;
  }
  if (at >= MaxInstructionLength) return std::nullopt;
  const std::uint8_t opcode = code[at];
  // E4..E7: port as imm8; EC..EF: port in DX. Bit 0: AL (0) or eAX (1); bit 1: IN (0) or OUT (1).
  if ((opcode & 0xF4) != 0xE4) return std::nullopt;
  IoInstruction instruction;
  instruction.portInDx = (opcode & 0x08) != 0;
  instruction.isIn = (opcode & 0x02) == 0;
  instruction.width = (opcode & 0x01) == 0 ? 1U : (operandSize && (rex & RexW) == 0) ? 2U : 4U;
  instruction.length = at + 1;
  if (!instruction.portInDx) instruction.immediatePort = code[instruction.length++];
  return instruction;
}

std::uint16_t portOf(const IoInstruction& instruction, std::uint64_t rdx) noexcept {
  return instruction.portInDx ? static_cast<std::uint16_t>(rdx) : instruction.immediatePort;
}

std::uint64_t execute(const IoInstruction& instruction, portlib::PortBackend& backend, std::uint16_t port,
                      std::uint64_t rax) noexcept {
  switch (instruction.width) {
    case 1:
      if (!instruction.isIn) {
        portlib::writeByte(backend, port, static_cast<std::uint8_t>(rax));
        return rax;
      }
      return (rax & ~std::uint64_t{0xFF}) | portlib::readByte(backend, port);
    case 2:
      if (!instruction.isIn) {
        portlib::writeValue(backend, port, static_cast<std::uint16_t>(rax));
        return rax;
      }
      return (rax & ~std::uint64_t{0xFFFF}) | portlib::readValue<std::uint16_t>(backend, port);
    default:
      if (!instruction.isIn) {
        portlib::writeValue(backend, port, static_cast<std::uint32_t>(rax));
        return rax;
      }
      return portlib::readValue<std::uint32_t>(backend, port);
  }
}

}  // namespace portshim
