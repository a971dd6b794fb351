// The port registers and bus cycles of the virtual display module (see module.h).
#include "t6963/module.h"

#include <algorithm>
#include <atomic>
#include <limits>

#include "t6963/atomic_word.h"
#include "t6963/port_lines.h"
#include "t6963/seqlock.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

namespace ctl = t6963c::ctl;
namespace ecr = t6963c::ecr;
namespace line = t6963c::line;

// What this port returns where nothing drives a value: no printer on the status inputs
// (pulled up, BUSY inverted), the control register's unused top bits, an undecoded port.
constexpr std::uint8_t StatusLinesIdle = 0x7F;
constexpr std::uint8_t ControlReadsAsOne = 0xC0;
constexpr std::uint8_t Undecoded = 0xFF;
}  // namespace

Module::Module(ModuleState& state, BusTrace* trace, Clock clock) noexcept
    : state_(&state),
      cable_(cableTable(state.build.cable)),
      clock_(clock),
      records_(trace != nullptr ? trace->records.data() : &discardedRecord_),
      slotMask_(trace != nullptr ? TraceCapacity - 1 : 0),
      recorded_(trace != nullptr ? &trace->recorded : &discardedCount_) {}

// Appends the record of the access that ends now, with what the controller made of it.
// Every access ends here; the control, ECR and data-register reads end their own accesses,
// so that read() and write() stay bare dispatchers.
inline std::uint8_t Module::traced(BusAccess access, std::uint8_t value) noexcept {
  auto recorded = detail::atomicWord(*recorded_);
  const std::uint64_t index = recorded.load(std::memory_order_relaxed);
  // The count of the previous record is out before this one may overwrite an old slot, so
  // that a reader can tell which records of its copy were overwritten (copyTrace).
  std::atomic_thread_fence(std::memory_order_release);
  records_[index & slotMask_] = BusRecord{value, static_cast<std::uint8_t>(static_cast<std::uint8_t>(access) | event_)};
  event_ = 0;
  recorded.store(index + 1, std::memory_order_release);
  return value;
}

// The clock for busy time. Each reading also tells whether the driver is slower than a port
// access a microsecond, and so when the blink phase reads the clock next, and takes up a
// changed blink period or a power-on.
Nanoseconds Module::now() noexcept {
  BusState& bus = state_->bus;
  BusClock& clock = bus.clock;
  const Nanoseconds now = clock_();
  const auto accesses = static_cast<Nanoseconds>(bus.accessCount - clock.readingAccess);
  const bool slow = now - clock.readingNs > accesses * AccessNanoseconds;
  clock.nextReadingAccess = bus.accessCount + (slow ? 1 : BlinkClockInterval);
  clock.readingNs = now;
  clock.readingAccess = bus.accessCount;
  clock.halvesByClock = blinkHalvesByClock(*state_, now);
  countBlinkHalves();
  return now;
}

// The blink half periods the access count has passed, and until when that holds.
void Module::countBlinkHalves() noexcept {
  BusClock& clock = state_->bus.clock;
  const std::uint64_t half = detail::loadWord(state_->settings.blinkHalfPeriodAccesses);
  if (half == 0) {
    clock.halvesByAccesses = 0;
    clock.halvesUntilAccess = std::numeric_limits<std::uint64_t>::max();
    return;
  }
  clock.halvesByAccesses = (state_->bus.accessCount - state_->powerOnAccess) / half;
  clock.halvesUntilAccess = state_->powerOnAccess + (clock.halvesByAccesses + 1) * half;
}

// STA7 now, without a division or a clock reading at most status reads.
inline bool Module::blinkOn() noexcept {
  const BusState& bus = state_->bus;
  if (bus.accessCount >= bus.clock.nextReadingAccess) {
    now();
  } else if (bus.accessCount >= bus.clock.halvesUntilAccess) {
    countBlinkHalves();
  }
  return std::max(bus.clock.halvesByAccesses, bus.clock.halvesByClock) % 2 == 0;
}

Nanoseconds Module::blinkNow() noexcept { return blinkClock(); }

std::uint8_t Module::read(std::uint16_t port) noexcept {
  BusState& bus = state_->bus;
  ++bus.accessCount;
  switch (port) {
    case t6963c::DataPort: return readData();
    case t6963c::StatusPort: return traced(BusAccess::OtherRead, StatusLinesIdle);
    case t6963c::ControlPort:
      return traced(BusAccess::ControlRead, static_cast<std::uint8_t>(bus.control | ControlReadsAsOne));
    case t6963c::EcrPort:
      return traced(BusAccess::EcrRead, static_cast<std::uint8_t>((bus.ecr & ~ecr::FifoFull) | ecr::FifoEmpty));
    default: return traced(BusAccess::OtherRead, Undecoded);
  }
}

void Module::write(std::uint16_t port, std::uint8_t value) noexcept {
  BusState& bus = state_->bus;
  ++bus.accessCount;
  switch (port) {
    case t6963c::DataPort:
      bus.dataLatch = value;
      traced(BusAccess::DataWrite, value);
      return;
    case t6963c::ControlPort: writeControl(value); return;
    case t6963c::EcrPort: writeEcr(value); return;
    default: traced(BusAccess::OtherWrite, value); return;
  }
}

std::uint8_t Module::readData() noexcept {
  BusState& bus = state_->bus;
  const std::uint8_t controllerLines = lines(bus.control);
  const bool controllerDrives = readCycle(controllerLines) && !isDisconnected(*state_);
  if (portDrives(bus.control, bus.ecr)) {
    if (controllerDrives && (bus.ecr & ecr::ModeMask) != ecr::ModeByte) {
      violation(ViolationKind::ReadWithoutByteMode, bus.dataLatch);
    }
    return traced(BusAccess::DataRead, bus.dataLatch);
  }
  if (!controllerDrives) return traced(BusAccess::DataRead, FloatingLines);
  if ((controllerLines & line::Cd) == 0) return traced(BusAccess::DataRead, state_->controller.readLatch);
  bus.polledSinceStrobe = 1;
  const bool busy = isBusy(*state_, *this);
  return traced(BusAccess::DataRead, statusWord(state_->controller, busy, blinkOn()));
}

void Module::writeControl(std::uint8_t value) noexcept {
  BusState& bus = state_->bus;
  const std::uint8_t old = bus.control;
  const std::uint8_t before = lines(old);
  const std::uint8_t after = lines(value);
  bus.control = value;
  const auto released = static_cast<std::uint8_t>(before & ~after & (line::Wr | line::Rd));
  if (released != 0 && !isDisconnected(*state_)) endStrobes(released, before, old);
  if (((before ^ after) & (line::Ce | line::Rd)) != 0 || ((old ^ value) & ctl::DirInput) != 0) updateContention();
  traced(BusAccess::ControlWrite, value);
}

// /WR or /RD (`released`) rose; `before` are the lines during the cycle, `oldControl` the
// control register then.
void Module::endStrobes(std::uint8_t released, std::uint8_t before, std::uint8_t oldControl) noexcept {
  const bool chipEnabled = (before & line::Ce) != 0;
  const bool command = (before & line::Cd) != 0;
  if ((released & line::Wr) != 0) {
    if (chipEnabled) {
      takeByte(command, oldControl);
    } else {
      violation(ViolationKind::StrobeWithoutCe, state_->bus.dataLatch);
    }
  }
  if ((released & line::Rd) != 0) {
    if (chipEnabled) {
      endReadCycle(command);
    } else {
      violation(ViolationKind::StrobeWithoutCe, state_->bus.dataLatch);
    }
  }
}

void Module::writeEcr(std::uint8_t value) noexcept {
  state_->bus.ecr = value;
  updateContention();
  traced(BusAccess::EcrWrite, value);
}

void Module::updateContention() noexcept {
  BusState& bus = state_->bus;
  const bool both = portDrives(bus.control, bus.ecr) && readCycle(lines(bus.control)) && !isDisconnected(*state_);
  if (both && bus.contention == 0) violation(ViolationKind::BusContention, bus.dataLatch);
  bus.contention = both ? 1 : 0;
}

// A write cycle ended with /WR released while /CE was asserted. `oldControl` is the
// control register during the cycle.
void Module::takeByte(bool command, std::uint8_t oldControl) noexcept {
  BusState& bus = state_->bus;
  const std::uint8_t byte = portDrives(oldControl, bus.ecr) ? bus.dataLatch : FloatingLines;
  event_ |= trace_info::StrobedIn;
  // A command is timed on the clock only when no status was read before it.
  const bool timeCommand = bus.polledSinceStrobe == 0;
  bus.polledSinceStrobe = 0;
  const StateUpdate update(*state_);
  if (!update) return;
  switch (writeCycle(*state_, command, byte, timeCommand, *this)) {
    case WriteResult::Taken: break;
    case WriteResult::Busy: recordViolation(ViolationKind::WriteWhileBusy, byte); break;
    case WriteResult::RejectedInAutoMode: recordViolation(ViolationKind::CommandInAutoMode, byte); break;
    case WriteResult::UnknownCommand: recordViolation(ViolationKind::UnknownCommand, byte); break;
  }
}

void Module::endReadCycle(bool command) noexcept {
  if (command || state_->controller.autoMode != AutoMode::Read) return;
  const StateUpdate update(*state_);
  if (update) finishDataRead(*state_);
}

void Module::violation(ViolationKind kind, std::uint8_t value) noexcept {
  const StateUpdate update(*state_);
  if (update) recordViolation(kind, value);
}

// Called inside a StateUpdate.
void Module::recordViolation(ViolationKind kind, std::uint8_t value) noexcept {
  const BusState& bus = state_->bus;
  t6963::recordViolation(*state_, ViolationRecord{bus.accessCount, kind, bus.control, bus.ecr, value});
  if ((event_ & trace_info::ViolationMask) == 0) {
    event_ |= static_cast<std::uint8_t>((static_cast<unsigned>(kind) + 1) << trace_info::ViolationShift);
  }
}

}  // namespace t6963
