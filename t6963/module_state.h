// All of the virtual display module's state in one plain struct: the module's build, the
// parallel port's registers, the T6963C controller's registers, up to 64 KiB of display RAM,
// the settings a viewer changes live, the protocol violations seen, and the words that keep
// readers tear-free. It holds no pointers and is trivially copyable, so it can live in shared
// memory and be copied whole. Behaviour lives elsewhere: the bus side in module.h, the
// controller in controller.h, rendering in renderer.h, the segment in shared_module.h.
//
// Field guide for readers (tests, the viewer): registers and memory are read straight from
// a ModuleState, e.g. `state.ram[addr]`, `state.controller.addressPointer`,
// `state.controller.displayMode`, `state.violations.counts`, `state.build.width`. Fields
// are grouped by who writes them:
//   - `update`, `writer`, `readerWaiting`: the tear-free read protocol (seqlock.h);
//   - `settings`: written live by any process, read by the bus side at each use;
//   - `bus`: port registers, line state and the bus side's clock, written by the bus side on
//     every access, outside the update protocol (single bytes and words);
//   - `build`, `controller`, `violations`, `ram`, `powerOn*`: changed only inside an update
//     (seqlock.h), so a consistent copy shows them together.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <type_traits>

#include "t6963/atomic_word.h"
#include "t6963/module_build.h"
#include "t6963/t6963c.h"

namespace t6963 {

// Time on the front end's clock: the system's monotonic clock for a port, the capture's own
// time for a replayed capture.
using Nanoseconds = std::int64_t;
// A command whose time was not taken: its busy time ends by the access count alone.
inline constexpr Nanoseconds Unstamped = std::numeric_limits<Nanoseconds>::max();
// A busy time over by any clock: the controller's after power-on, after a command with no
// busy time, and once a front end has seen the real controller ready.
inline constexpr Nanoseconds BusyEnded = std::numeric_limits<Nanoseconds>::min();
// A port access takes about a microsecond on a real port; the module's times in accesses
// are as many microseconds of real time.
inline constexpr Nanoseconds AccessNanoseconds = 1000;

// Default busy time after a command, in port accesses (or as many microseconds). The
// command is taken on the control write that releases /WR; the test bench then writes
// control 0x00, reads and writes the ECR, writes control 0x26 and 0x2E and reads the status
// on the sixth access after that strobe. With four busy accesses its first poll already sees
// ready, with one access spare.
inline constexpr std::uint32_t DefaultBusyAccesses = 4;

// Time base of the blink condition (STA7): half a blink period lasts this many port accesses
// or as many microseconds since power-on, whichever comes first, about half a second.
// Zero disables blinking (STA7 stays at "normal display").
inline constexpr std::uint32_t DefaultBlinkHalfPeriodAccesses = 1U << 19;

// How many of the most recent violations are kept with their circumstances.
inline constexpr std::size_t ViolationHistorySize = 8;

enum class PowerOnContents : std::uint8_t { Random, Zero };

enum class AutoMode : std::uint8_t { Off, Write, Read };

enum class ViolationKind : std::uint8_t {
  BusContention,        // the port drives the data lines while the controller drives them (once per episode)
  StrobeWithoutCe,      // /WR or /RD released while /CE was not asserted
  WriteWhileBusy,       // a data or command byte strobed in while the controller was busy
  ReadWithoutByteMode,  // a controller read cycle read through a port not in byte mode
  CommandInAutoMode,    // a command other than auto reset sent in auto mode
  UnknownCommand,       // a command byte the controller does not decode
};
inline constexpr std::size_t ViolationKindCount = 6;

// Settings of the module that a viewer or test changes while the bus side runs. Each is
// one aligned word, written and read with atomic accesses.
struct Settings {
  std::uint32_t busyAccesses = DefaultBusyAccesses;
  std::uint32_t blinkHalfPeriodAccesses = DefaultBlinkHalfPeriodAccesses;
  // The cable is pulled: the module neither latches strobes nor drives the data lines, so
  // a data read in byte mode returns 0x00 (the lines float low: no pull-ups on this port)
  // and the status never becomes ready.
  std::uint32_t disconnected = 0;
};

// The bus side's clock (module.h): its latest reading, and the blink half periods passed
// since power-on as of then, by the clock and by the access count.
struct BusClock {
  Nanoseconds readingNs = 0;
  std::uint64_t readingAccess = 0;      // bus.accessCount at the reading
  std::uint64_t nextReadingAccess = 0;  // the blink phase reads the clock anew from here
  std::uint64_t halvesByClock = 0;
  std::uint64_t halvesByAccesses = 0;   // good until the access count reaches:
  std::uint64_t halvesUntilAccess = 0;
};

// The parallel port's registers as software wrote them, and the state of the bus.
struct BusState {
  std::uint8_t dataLatch = 0x00;  // output latch of the data register
  std::uint8_t control = 0x00;    // control register (bits 0, 1, 3 inverted at the connector)
  // ECR: SPP mode, interrupts off, FIFO empty.
  std::uint8_t ecr = t6963c::ecr::ModeSpp | t6963c::ecr::ErrorInterruptDisable | t6963c::ecr::ServiceInterrupt |
                     t6963c::ecr::FifoEmpty;
  std::uint8_t contention = 0;    // 1 while port and controller both drive the data lines
  std::uint8_t polledSinceStrobe = 0;  // 1 once the status was read since the last byte strobed in
  std::uint64_t accessCount = 0;  // port accesses so far: the module's time base
  BusClock clock;
};

struct ControllerRegisters {
  std::uint16_t addressPointer = 0;  // 16 bits; RAM is reached through RamAddressMask
  std::uint16_t textHome = 0;
  std::uint16_t graphicHome = 0;
  std::uint8_t textArea = 0;         // bytes per text row
  std::uint8_t graphicArea = 0;      // bytes per graphic row
  std::uint8_t cursorX = 0;          // 0..127
  std::uint8_t cursorY = 0;          // 0..31
  std::uint8_t offset = 0;           // CG RAM block, 0..31
  std::uint8_t modeSet = t6963c::cmd::ModeSet;          // last mode set byte: OR, internal CG
  std::uint8_t displayMode = t6963c::cmd::DisplayMode;  // last display mode byte: all off
  std::uint8_t cursorLines = 1;      // cursor height in lines from the bottom of the cell, 1..8
  AutoMode autoMode = AutoMode::Off;
  std::array<std::uint8_t, 2> parameters{};  // last two data bytes: [0] older, [1] newest
  std::uint8_t parameterCount = 0;   // data bytes since the last command, at most 2
  std::uint8_t readLatch = 0;        // what a data read cycle drives onto the lines
  std::uint8_t peekCopyError = 0;    // STA6: 1 after a peek or copy outside the graphic area
  std::uint8_t lastCommand = 0;      // last command byte taken
  // Busy while bus.accessCount <= busyUntilAccess and the clock reads before busyUntilNs.
  std::uint64_t busyUntilAccess = 0;
  Nanoseconds busyUntilNs = BusyEnded;  // not busy, also for a front end that counts no accesses
};

struct ViolationRecord {
  std::uint64_t access = 0;  // bus.accessCount when it happened
  ViolationKind kind = ViolationKind::BusContention;
  std::uint8_t control = 0;  // control register at that moment
  std::uint8_t ecr = 0;      // ECR at that moment
  std::uint8_t value = 0;    // the byte involved: the byte strobed in, or the port's latch
};

struct Violations {
  std::array<std::uint32_t, ViolationKindCount> counts{};  // indexed by ViolationKind
  std::uint32_t total = 0;
  // Ring of the last violations: the newest is recent[(total - 1) % ViolationHistorySize].
  std::array<ViolationRecord, ViolationHistorySize> recent{};
};

struct alignas(64) ModuleState {
  // Sequence number of updates in the high half; in the low half the id of the process in
  // the middle of an update, 0 while none is.
  std::uint64_t update = 0;
  std::uint64_t powerOnGeneration = 0;  // counts power-ons since the state was created
  std::uint64_t powerOnAccess = 0;      // bus.accessCount at the last power-on
  Nanoseconds powerOnNs = 0;            // the clock at the last power-on
  Settings settings;
  std::uint32_t readerWaiting = 0;  // a reader asks writers to pause between updates
  ModuleBuild build;
  BusState bus;
  ControllerRegisters controller;
  Violations violations;
  std::array<std::uint8_t, MaxRamBytes> ram{};  // the build's ramBytes of it are connected
  std::uint64_t writer = 0;  // the process that last began an update (process_claim.h)
};

static_assert(std::is_trivially_copyable_v<ModuleState>);
static_assert(std::is_standard_layout_v<ModuleState>);

// Power-on reset of the module: controller registers to their power-on values (display
// off, OR mode with the internal character generator, one-line cursor, all pointers and
// areas zero, normal mode, not busy), violations cleared, RAM filled from `seed` (Random)
// or zeroed, powerOnGeneration counted up, the blink phase started at `now`. The build, the
// parallel port's registers and the settings belong to the hardware, the PC and the viewer
// and are kept. Not synchronised: callers that share the state wrap it in a StateUpdate
// (seqlock.h).
void powerOn(ModuleState& state, PowerOnContents contents, std::uint64_t seed, Nanoseconds now);

// The system's monotonic clock, as the port front ends and viewers read it.
Nanoseconds monotonicNow() noexcept;

// Live settings changes, safe while the bus side runs in another thread or process.
void setBusyAccesses(ModuleState& state, std::uint32_t accesses);
void setBlinkHalfPeriodAccesses(ModuleState& state, std::uint32_t accesses);
void setDisconnected(ModuleState& state, bool disconnected);
// Inline: the bus side asks at nearly every port access.
inline bool isDisconnected(const ModuleState& state) { return detail::loadWord(state.settings.disconnected) != 0; }

// Blink half periods passed by the time `now`, since power-on: a half period ends after
// blinkHalfPeriodAccesses accesses or as many microseconds, whichever comes first. Zero
// disables blinking: no half period ever passes.
inline std::uint64_t blinkHalvesByClock(const ModuleState& state, Nanoseconds now) {
  const std::uint32_t half = detail::loadWord(state.settings.blinkHalfPeriodAccesses);
  if (half == 0 || now <= state.powerOnNs) return 0;
  return static_cast<std::uint64_t>(now - state.powerOnNs) / (std::uint64_t{half} * AccessNanoseconds);
}
// Blink condition at the state's current access count and the time `now`: true in the
// normal-display phase.
inline bool blinkPhaseOn(const ModuleState& state, Nanoseconds now) {
  const std::uint32_t half = detail::loadWord(state.settings.blinkHalfPeriodAccesses);
  if (half == 0) return true;
  const std::uint64_t byAccesses = (state.bus.accessCount - state.powerOnAccess) / half;
  const std::uint64_t byClock = blinkHalvesByClock(state, now);
  return (byAccesses > byClock ? byAccesses : byClock) % 2 == 0;
}

// Records a violation in the state's counts and recent history. Call inside an update.
void recordViolation(ModuleState& state, const ViolationRecord& record);

// Short English names and descriptions, for status lines and test messages.
std::string_view violationName(ViolationKind kind);
std::string describe(const ViolationRecord& record);

}  // namespace t6963
