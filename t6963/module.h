// The bus side of the virtual display module: every port access of the parallel port at
// t6963c::LptBase goes through Module::read / Module::write, which model the port's
// registers and the T6963C module of the state's build behind it (module_build.h).
//
// Port: data latch; control register, whose bits 0, 1 and 3 the connector inverts (a 1
// pulls STROBE, AUTOFD and SLCTIN low) and whose bit 5 turns the data lines to input; ECR
// with its mode field. Only byte mode turns the lines around: in every other mode the port
// drives the lines and a data read returns its own latch. The status register reads 0x7F
// (inputs pulled up, BUSY inverted); the control register reads back with bits 6 and 7 set;
// the ECR reads back with its FIFO-empty bit set. Other ports are not decoded: they read
// 0xFF and ignore writes. The module's cable turns the four control outputs into the
// controller's /WR, /CE, C/D and /RD once, at each control write; below that the model sees
// only controller lines.
//
// Controller: bus cycles on strobe edges. A byte is taken when /WR is released while /CE
// was asserted (C/D high: command, low: data); a read cycle drives the status (C/D high) or
// the read latch (C/D low) onto the data lines while /CE and /RD are both asserted, and a
// data read cycle in auto-read mode advances the address pointer when /RD is released. A
// byte strobed in while the port's lines are input is the floating lines' 0x00.
// Data bytes shift into a two-byte parameter register; a command takes the last one or two
// bytes from it, so a missing parameter is whatever stood there before. After each command
// the controller is busy for `settings.busyAccesses` port accesses or as many microseconds
// of the system's monotonic clock, whichever ends first (controller.h): the status shows
// neither ready bit, and bytes strobed in are ignored and counted. The clock is read only
// where it can matter, so that a driver that polls pays nothing for it: a command is timed
// when no status was read since the byte before it (a driver that waits by the clock or not
// at all), and a driver that polls before its bytes is held by the access count alone, as it
// sees ready as soon as it polls. In auto mode the status shows STA2 or STA3 beside STA0/STA1,
// which still say that a command (the auto reset) can be taken. Screen peek and copy need the
// address pointer in the displayed part of the graphic area (the build's displayed columns of
// its rows); otherwise they set STA6 and do nothing. Peek reads the displayed image at the
// current blink phase; screen copy copies the displayed line from the pointer's column to the
// end of the line. STA5 is always set; STA7 follows blinkPhaseOn(). The blink phase reads the
// clock at each status read while the driver is slower than a port access a microsecond, and
// every BlinkClockInterval accesses while it is faster.
//
// Not modelled: the FIFO, ECP and EPP machinery of the port (those modes act as SPP for
// the data register), interrupts, the printer status lines, timing below one port access
// (setup and hold times, a /WR pulse shorter than the chip needs), the busy time at the end
// of each display line, the controller's /RESET and /HALT lines, and what the real chip
// does with undefined command bytes (they are ignored and counted) or undefined mode-set
// combine codes (rendered as OR).
//
// Every access is appended to the bus trace given at construction (bus_trace.h): the byte
// read or written, the register, and whether the controller took a byte or saw a protocol
// violation. Without a trace nothing is recorded.
//
// One bus side at a time drives a state, as one program drives a real port; its updates
// are nevertheless serialised with other writers (seqlock.h). A byte or violation that
// comes while another process stays in the middle of an update (a viewer's power cycle,
// stopped) is lost, as a module held in reset loses it. read/write never throw. The build
// is read once, at construction: it changes only when the module is rebuilt, which no
// program does while another drives the bus.
#pragma once

#include <cstdint>

#include "t6963/bus_trace.h"
#include "t6963/controller.h"
#include "t6963/module_build.h"
#include "t6963/module_state.h"

namespace t6963 {

// While a driver makes more than one access a microsecond, the blink phase reads the clock
// once in this many accesses.
inline constexpr std::uint64_t BlinkClockInterval = 1024;

class Module final : private ControllerClock {
 public:
  using Clock = Nanoseconds (*)() noexcept;

  // `trace` may be null: then no access is recorded. `clock` is the time of busy and blink.
  explicit Module(ModuleState& state, BusTrace* trace = nullptr, Clock clock = monotonicNow) noexcept;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  std::uint8_t read(std::uint16_t port) noexcept;
  void write(std::uint16_t port, std::uint8_t value) noexcept;

 private:
  Nanoseconds now() noexcept override;
  Nanoseconds blinkNow() noexcept override;
  Nanoseconds blinkClock() noexcept {
    const BusState& bus = state_->bus;
    return bus.accessCount >= bus.clock.nextReadingAccess ? now() : bus.clock.readingNs;
  }
  bool blinkOn() noexcept;
  void countBlinkHalves() noexcept;
  std::uint8_t lines(std::uint8_t control) const noexcept { return cable_[control & t6963c::line::ControlBits]; }
  std::uint8_t readData() noexcept;
  void writeControl(std::uint8_t value) noexcept;
  void endStrobes(std::uint8_t released, std::uint8_t before, std::uint8_t oldControl) noexcept;
  void writeEcr(std::uint8_t value) noexcept;
  void updateContention() noexcept;
  void takeByte(bool command, std::uint8_t oldControl) noexcept;
  void endReadCycle(bool command) noexcept;
  void violation(ViolationKind kind, std::uint8_t value) noexcept;  // in an update of its own
  void recordViolation(ViolationKind kind, std::uint8_t value) noexcept;
  std::uint8_t traced(BusAccess access, std::uint8_t value) noexcept;

  ModuleState* state_;
  CableTable cable_;
  Clock clock_;
  // Where records go: the trace's ring, or without a trace one discarded slot, so that
  // recording costs the same few stores either way and never branches.
  BusRecord* records_;
  std::uint64_t slotMask_;
  std::uint64_t* recorded_;
  std::uint8_t event_ = 0;  // trace_info bits of the access in progress
  BusRecord discardedRecord_{};
  std::uint64_t discardedCount_ = 0;
};

}  // namespace t6963
