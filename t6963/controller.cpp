// Command set, parameters, busy time and status word of the controller (see module.h for
// the behaviour chosen where the chip leaves room).
#include "t6963/controller.h"

#include <array>

#include "t6963/atomic_word.h"
#include "t6963/renderer.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

namespace cmd = t6963c::cmd;
namespace sta = t6963c::sta;

std::uint8_t& ramAt(ModuleState& state, unsigned address) { return state.ram[address & state.build.ramMask()]; }

std::uint16_t word(std::uint8_t low, std::uint8_t high) { return static_cast<std::uint16_t>(low | high << 8); }

// Column and row of the address pointer inside the displayed graphic area, if it is there.
bool graphicPosition(const ModuleState& state, int& column, int& row) {
  const ControllerRegisters& c = state.controller;
  if (c.graphicArea == 0) return false;
  const unsigned offset = static_cast<unsigned>(c.addressPointer - c.graphicHome) & state.build.ramMask();
  if (offset >= unsigned{c.graphicArea} * state.build.height) return false;
  row = static_cast<int>(offset / c.graphicArea);
  column = static_cast<int>(offset % c.graphicArea);
  return column < state.build.displayedColumns();
}

void screenPeek(ModuleState& state, ControllerClock& clock) {
  ControllerRegisters& c = state.controller;
  int column = 0;
  int row = 0;
  c.peekCopyError = graphicPosition(state, column, row) ? 0 : 1;
  if (c.peekCopyError == 0) c.readLatch = displayedByte(state, column, row, blinkPhaseOn(state, clock.blinkNow()));
}

void screenCopy(ModuleState& state, ControllerClock& clock) {
  ControllerRegisters& c = state.controller;
  int first = 0;
  int row = 0;
  c.peekCopyError = graphicPosition(state, first, row) ? 0 : 1;
  if (c.peekCopyError != 0) return;
  const bool phase = blinkPhaseOn(state, clock.blinkNow());
  const int columns = state.build.displayedColumns();
  std::array<std::uint8_t, MaxLineBytes> line{};
  for (int column = first; column < columns; ++column) {
    line[static_cast<std::size_t>(column)] = displayedByte(state, column, row, phase);
  }
  const unsigned rowStart = c.graphicHome + static_cast<unsigned>(row) * c.graphicArea;
  for (int column = first; column < columns; ++column) {
    ramAt(state, rowStart + static_cast<unsigned>(column)) = line[static_cast<std::size_t>(column)];
  }
}

void writeData(ModuleState& state, int step) {
  ControllerRegisters& c = state.controller;
  ramAt(state, c.addressPointer) = c.parameters[1];
  c.addressPointer = static_cast<std::uint16_t>(c.addressPointer + step);
}

void readData(ModuleState& state, int step) {
  ControllerRegisters& c = state.controller;
  c.readLatch = ramAt(state, c.addressPointer);
  c.addressPointer = static_cast<std::uint16_t>(c.addressPointer + step);
}

// Executes a command outside auto mode; false if the opcode is not decoded.
bool execute(ModuleState& state, std::uint8_t opcode, ControllerClock& clock) {
  ControllerRegisters& c = state.controller;
  const std::uint8_t first = c.parameters[0];
  const std::uint8_t second = c.parameters[1];
  switch (opcode) {
    case cmd::SetCursorPointer:
      c.cursorX = first & cmd::CursorXMask;
      c.cursorY = second & cmd::CursorYMask;
      return true;
    case cmd::SetOffsetRegister: c.offset = first & cmd::OffsetMask; return true;
    case cmd::SetAddressPointer: c.addressPointer = word(first, second); return true;
    case cmd::SetTextHome: c.textHome = word(first, second); return true;
    case cmd::SetTextArea: c.textArea = first; return true;
    case cmd::SetGraphicHome: c.graphicHome = word(first, second); return true;
    case cmd::SetGraphicArea: c.graphicArea = first; return true;
    case cmd::AutoWrite: c.autoMode = AutoMode::Write; return true;
    case cmd::AutoRead:
      c.autoMode = AutoMode::Read;
      c.readLatch = ramAt(state, c.addressPointer);
      return true;
    case cmd::AutoReset: return true;
    case cmd::WriteIncrement: writeData(state, +1); return true;
    case cmd::WriteDecrement: writeData(state, -1); return true;
    case cmd::WriteNoChange: writeData(state, 0); return true;
    case cmd::ReadIncrement: readData(state, +1); return true;
    case cmd::ReadDecrement: readData(state, -1); return true;
    case cmd::ReadNoChange: readData(state, 0); return true;
    case cmd::ScreenPeek: screenPeek(state, clock); return true;
    case cmd::ScreenCopy: screenCopy(state, clock); return true;
    default: break;
  }
  const std::uint8_t family = opcode & cmd::FamilyMask;
  if (family == cmd::ModeSet) {
    c.modeSet = opcode;
  } else if (family == cmd::DisplayMode) {
    c.displayMode = opcode;
  } else if ((opcode & ~cmd::CursorLinesMask) == cmd::CursorPattern) {
    c.cursorLines = static_cast<std::uint8_t>((opcode & cmd::CursorLinesMask) + 1);
  } else if ((opcode & ~cmd::BitNumberMask) == cmd::BitReset) {
    ramAt(state, c.addressPointer) &= static_cast<std::uint8_t>(~(1U << (opcode & cmd::BitNumberMask)));
  } else if ((opcode & ~cmd::BitNumberMask) == cmd::BitSet) {
    ramAt(state, c.addressPointer) |= static_cast<std::uint8_t>(1U << (opcode & cmd::BitNumberMask));
  } else {
    return false;
  }
  return true;
}

void acceptData(ModuleState& state, std::uint8_t byte) {
  ControllerRegisters& c = state.controller;
  switch (c.autoMode) {
    case AutoMode::Write:
      ramAt(state, c.addressPointer) = byte;
      ++c.addressPointer;
      return;
    case AutoMode::Read: return;  // the lines are the controller's to drive: nothing to take
    case AutoMode::Off: break;
  }
  c.parameters[0] = c.parameters[1];
  c.parameters[1] = byte;
  if (c.parameterCount < c.parameters.size()) ++c.parameterCount;
}

}  // namespace

WriteResult writeCycle(ModuleState& state, bool command, std::uint8_t byte, bool timeCommand, ControllerClock& clock) {
  if (isBusy(state, clock)) return WriteResult::Busy;
  ControllerRegisters& c = state.controller;
  if (!command) {
    acceptData(state, byte);
    return WriteResult::Taken;
  }
  if (c.autoMode != AutoMode::Off) {
    if (byte != cmd::AutoReset) return WriteResult::RejectedInAutoMode;
    c.autoMode = AutoMode::Off;
  } else if (!execute(state, byte, clock)) {
    return WriteResult::UnknownCommand;
  }
  c.lastCommand = byte;
  c.parameterCount = 0;
  const std::uint32_t busy = detail::loadWord(state.settings.busyAccesses);
  c.busyUntilAccess = state.bus.accessCount + busy;
  if (busy == 0) {
    c.busyUntilNs = BusyEnded;  // ready at once, also where no access is counted
  } else {
    c.busyUntilNs = timeCommand ? clock.now() + Nanoseconds{busy} * AccessNanoseconds : Unstamped;
  }
  return WriteResult::Taken;
}

void endBusy(ModuleState& state) {
  state.controller.busyUntilAccess = 0;
  state.controller.busyUntilNs = BusyEnded;
}

void finishDataRead(ModuleState& state) {
  ControllerRegisters& c = state.controller;
  if (c.autoMode != AutoMode::Read) return;
  ++c.addressPointer;
  c.readLatch = ramAt(state, c.addressPointer);
}

}  // namespace t6963
