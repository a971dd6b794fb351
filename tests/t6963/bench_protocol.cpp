#include "bench_protocol.h"

#include "t6963/module_build.h"
#include "t6963/t6963c.h"

namespace t6963::testing {
namespace {

using namespace t6963c;

using ctl::Released;
using ctl::StatusSelect;
constexpr std::uint8_t DataSelect = ctl::DirInput | ctl::Ce;
constexpr std::uint8_t DataPulse[] = {Released, ctl::Ce, ctl::Ce | ctl::Wr, ctl::Ce, Released};
constexpr std::uint8_t CommandPulse[] = {ctl::Cd, ctl::Cd | ctl::Ce, ctl::Cd | ctl::Ce | ctl::Wr, ctl::Cd | ctl::Ce, Released};

// The wire values the bench sends, as its protocol lists them.
static_assert(StatusSelect == 0x26 && ctl::StatusRead == 0x2E);
static_assert(DataPulse[1] == 0x02 && DataPulse[2] == 0x03 && CommandPulse[0] == 0x04 && CommandPulse[2] == 0x07);

}  // namespace

// For each control value of this system's cable, the one that sets the same controller lines
// on `cable`, as a driver configured for that cable writes it; tied lines are left as tied.
BenchProtocol::BenchProtocol(Module& module, const Cable& cable) : module_(module) {
  const CableTable table = cableTable(cable);
  std::uint8_t free = line::ControlBits;
  if (cable.wire(ControllerLine::Ce).source != Wire::Source::Port) free &= static_cast<std::uint8_t>(~line::Ce);
  if (cable.wire(ControllerLine::Rd).source != Wire::Source::Port) free &= static_cast<std::uint8_t>(~line::Rd);
  for (unsigned wanted = 0; wanted < wired_.size(); ++wanted) {
    for (unsigned value = 0; value < table.size(); ++value) {
      if ((table[value] & free) == (wanted & free)) wired_[wanted] = static_cast<std::uint8_t>(value);
    }
  }
}

void BenchProtocol::control(std::uint8_t value) {
  module_.write(ControlPort, static_cast<std::uint8_t>((value & ~line::ControlBits) | wired_[value & line::ControlBits]));
}

void BenchProtocol::toByteMode() {
  const std::uint8_t ecrValue = module_.read(EcrPort);
  module_.write(EcrPort, static_cast<std::uint8_t>((ecrValue & ecr::KeepMask) | ecr::ModeByte));
}

std::uint8_t BenchProtocol::pollStatus() {
  control(StatusSelect);
  control(ctl::StatusRead);
  const std::uint8_t status = module_.read(DataPort);
  control(StatusSelect);
  return status;
}

std::optional<int> BenchProtocol::waitFor(std::uint8_t mask) {
  toByteMode();
  std::optional<int> polls;
  for (int poll = 1; poll <= PollLimit; ++poll) {
    if ((pollStatus() & mask) == mask) {
      polls = poll;
      break;
    }
  }
  control(Released);
  return polls;
}

std::optional<int> BenchProtocol::waitReady() { return waitFor(sta::Ready); }

void BenchProtocol::dataCycle(std::uint8_t value) {
  module_.write(DataPort, value);
  for (std::uint8_t wire : DataPulse) control(wire);
}

void BenchProtocol::commandCycle(std::uint8_t value) {
  module_.write(DataPort, value);
  for (std::uint8_t wire : CommandPulse) control(wire);
}

bool BenchProtocol::data(std::uint8_t value) {
  if (!waitReady()) return false;
  dataCycle(value);
  return true;
}

bool BenchProtocol::command(std::uint8_t value) {
  if (!waitReady()) return false;
  commandCycle(value);
  return true;
}

bool BenchProtocol::autoData(std::uint8_t value) {
  if (!waitFor(sta::AutoWriteOk)) return false;
  dataCycle(value);
  return true;
}

std::uint8_t BenchProtocol::readCycle() {
  toByteMode();
  control(DataSelect);
  control(static_cast<std::uint8_t>(DataSelect | ctl::Rd));
  const std::uint8_t value = module_.read(DataPort);
  control(DataSelect);
  control(Released);
  return value;
}

std::uint8_t BenchProtocol::statusNow() {
  toByteMode();
  const std::uint8_t status = pollStatus();
  control(Released);
  return status;
}

std::optional<std::uint8_t> BenchProtocol::readData() {
  if (!waitReady()) return std::nullopt;
  return readCycle();
}

std::optional<std::uint8_t> BenchProtocol::autoReadData() {
  if (!waitFor(sta::AutoReadOk)) return std::nullopt;
  return readCycle();
}

}  // namespace t6963::testing
