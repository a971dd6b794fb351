// The T6963C controller's reaction to the bus cycles its front end has decided on: a byte
// written (data or a command), what a read cycle drives onto the data lines, and the end of
// a data read. Front ends: the port model (module.h), which decides cycles from port
// accesses through the module's cable, and a replayed capture, which decides them from
// sampled lines. The caller wraps state changes in a StateUpdate when the state is shared.
//
// Busy time: after each command the controller is busy for `settings.busyAccesses` port
// accesses or, when the front end times the command on its clock, as many microseconds,
// whichever ends first. While busy the status shows neither ready bit and bytes written are
// refused. The blink phase (STA7) is blinkPhaseOn() at the front end's blink time.
#pragma once

#include <cstdint>

#include "t6963/module_state.h"
#include "t6963/t6963c.h"

namespace t6963 {

// The front end's clock, asked only when the controller needs the time.
class ControllerClock {
 public:
  // Now, for busy time.
  virtual Nanoseconds now() noexcept = 0;
  // Now or a little before, for the blink phase: a front end may answer from a recent reading.
  virtual Nanoseconds blinkNow() noexcept { return now(); }

 protected:
  ControllerClock() = default;
  ControllerClock(const ControllerClock&) = default;
  ControllerClock& operator=(const ControllerClock&) = default;
  ~ControllerClock() = default;
};

enum class WriteResult : std::uint8_t { Taken, Busy, RejectedInAutoMode, UnknownCommand };

// Inline: the port model asks at every strobe and status read; the clock only while the
// access count says busy.
inline bool isBusy(const ModuleState& state, ControllerClock& clock) {
  const ControllerRegisters& c = state.controller;
  if (state.bus.accessCount > c.busyUntilAccess || c.busyUntilNs == BusyEnded) return false;
  return c.busyUntilNs == Unstamped || clock.now() < c.busyUntilNs;
}

// The status word a status read cycle drives: the controller busy or not, STA7 as given.
// Inline: the port model reads it at every poll.
inline std::uint8_t statusWord(const ControllerRegisters& c, bool busy, bool blinkOn) {
  namespace sta = t6963c::sta;
  std::uint8_t status = sta::ControllerOk;
  if (c.peekCopyError != 0) status |= sta::PeekCopyError;
  if (blinkOn) status |= sta::BlinkNormal;
  if (busy) return status;
  switch (c.autoMode) {
    case AutoMode::Off: return status | sta::Ready;
    // The auto reset is a command the controller takes in auto mode: STA0/STA1 say so.
    case AutoMode::Write: return status | sta::Ready | sta::AutoWriteOk;
    case AutoMode::Read: return status | sta::Ready | sta::AutoReadOk;
  }
  return status;
}

// A write cycle ended with `byte` on the data lines (C/D high: a command). `timeCommand`
// times a command on the clock, so that its busy time may end by the clock as well.
WriteResult writeCycle(ModuleState& state, bool command, std::uint8_t byte, bool timeCommand, ControllerClock& clock);

// The front end saw the real controller ready (a replayed capture's status read): the
// model's busy time ends now, whatever was left of it.
void endBusy(ModuleState& state);

// A data read cycle ended (/RD released): auto read moves on to the next byte.
void finishDataRead(ModuleState& state);

}  // namespace t6963
