// The T6963C controller's reaction to bytes taken from the bus: data bytes, commands and
// the status word. Internal to t6963/: the port and bus-cycle model (module.cpp) calls
// these inside a StateUpdate, after it has decided that a byte was strobed in.
#pragma once

#include <cstdint>

#include "t6963/module_state.h"

namespace t6963::detail {

enum class CommandResult { Executed, RejectedInAutoMode, Unknown };

bool isBusy(const ModuleState& state);

// The status word a status read cycle drives onto the data lines now.
std::uint8_t statusWord(const ModuleState& state);

void acceptData(ModuleState& state, std::uint8_t byte);

CommandResult executeCommand(ModuleState& state, std::uint8_t opcode);

// A data read cycle ended (/RD released): auto read moves on to the next byte.
void finishDataRead(ModuleState& state);

}  // namespace t6963::detail
