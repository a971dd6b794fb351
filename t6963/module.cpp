// The port registers and bus cycles of the virtual display module (see module.h).
#include "t6963/module.h"

#include <atomic>

#include "t6963/atomic_word.h"
#include "t6963/controller.h"
#include "t6963/port_lines.h"
#include "t6963/seqlock.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

namespace ctl = t6963c::ctl;
namespace ecr = t6963c::ecr;

// What this port returns where nothing drives a value: no printer on the status inputs
// (pulled up, BUSY inverted), the control register's unused top bits, an undecoded port.
constexpr std::uint8_t StatusLinesIdle = 0x7F;
constexpr std::uint8_t ControlReadsAsOne = 0xC0;
constexpr std::uint8_t Undecoded = 0xFF;
}  // namespace

Module::Module(ModuleState& state, BusTrace* trace) noexcept
    : state_(&state),
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
  const BusState& bus = state_->bus;
  const bool controllerDrives = readCycle(bus.control) && !isDisconnected(*state_);
  if (portDrives(bus.control, bus.ecr)) {
    if (controllerDrives && (bus.ecr & ecr::ModeMask) != ecr::ModeByte) {
      violation(ViolationKind::ReadWithoutByteMode, bus.dataLatch);
    }
    return traced(BusAccess::DataRead, bus.dataLatch);
  }
  if (!controllerDrives) return traced(BusAccess::DataRead, FloatingLines);
  return traced(BusAccess::DataRead,
                (bus.control & ctl::Cd) != 0 ? detail::statusWord(*state_) : state_->controller.readLatch);
}

void Module::writeControl(std::uint8_t value) noexcept {
  BusState& bus = state_->bus;
  const std::uint8_t old = bus.control;
  if (value == old) {
    traced(BusAccess::ControlWrite, value);
    return;
  }
  bus.control = value;
  if (!isDisconnected(*state_)) {
    const auto released = static_cast<std::uint8_t>(old & ~value);
    const bool chipEnabled = (old & ctl::Ce) != 0;
    if ((released & ctl::Wr) != 0) {
      if (chipEnabled) {
        takeByte((old & ctl::Cd) != 0, old);
      } else {
        violation(ViolationKind::StrobeWithoutCe, bus.dataLatch);
      }
    }
    if ((released & ctl::Rd) != 0) {
      if (chipEnabled) {
        endReadCycle((old & ctl::Cd) != 0);
      } else {
        violation(ViolationKind::StrobeWithoutCe, bus.dataLatch);
      }
    }
  }
  if (((old ^ value) & (ctl::Ce | ctl::Rd | ctl::DirInput)) != 0) updateContention();
  traced(BusAccess::ControlWrite, value);
}

void Module::writeEcr(std::uint8_t value) noexcept {
  state_->bus.ecr = value;
  updateContention();
  traced(BusAccess::EcrWrite, value);
}

void Module::updateContention() noexcept {
  BusState& bus = state_->bus;
  const bool both = portDrives(bus.control, bus.ecr) && readCycle(bus.control) && !isDisconnected(*state_);
  if (both && bus.contention == 0) violation(ViolationKind::BusContention, bus.dataLatch);
  bus.contention = both ? 1 : 0;
}

// A write cycle ended with /WR released while /CE was asserted. `oldControl` is the
// control register during the cycle.
void Module::takeByte(bool command, std::uint8_t oldControl) noexcept {
  BusState& bus = state_->bus;
  const std::uint8_t byte = portDrives(oldControl, bus.ecr) ? bus.dataLatch : FloatingLines;
  event_ |= trace_info::StrobedIn;
  const StateUpdate update(*state_);
  if (!update) return;
  if (detail::isBusy(*state_)) {
    recordViolation(ViolationKind::WriteWhileBusy, byte);
    return;
  }
  if (!command) {
    detail::acceptData(*state_, byte);
    return;
  }
  switch (detail::executeCommand(*state_, byte)) {
    case detail::CommandResult::Executed: break;
    case detail::CommandResult::RejectedInAutoMode: recordViolation(ViolationKind::CommandInAutoMode, byte); break;
    case detail::CommandResult::Unknown: recordViolation(ViolationKind::UnknownCommand, byte); break;
  }
}

void Module::endReadCycle(bool command) noexcept {
  if (command || state_->controller.autoMode != AutoMode::Read) return;
  const StateUpdate update(*state_);
  if (update) detail::finishDataRead(*state_);
}

void Module::violation(ViolationKind kind, std::uint8_t value) noexcept {
  const StateUpdate update(*state_);
  if (update) recordViolation(kind, value);
}

// Called inside a StateUpdate.
void Module::recordViolation(ViolationKind kind, std::uint8_t value) noexcept {
  Violations& v = state_->violations;
  const BusState& bus = state_->bus;
  v.recent[v.total % ViolationHistorySize] =
      ViolationRecord{bus.accessCount, kind, bus.control, bus.ecr, value};
  ++v.counts[static_cast<std::size_t>(kind)];
  ++v.total;
  if ((event_ & trace_info::ViolationMask) == 0) {
    event_ |= static_cast<std::uint8_t>((static_cast<unsigned>(kind) + 1) << trace_info::ViolationShift);
  }
}

}  // namespace t6963
