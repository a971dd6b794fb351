// The ppdev backend and the search for its port.
#include "portlib/parport_backend.h"

#include <sys/ioctl.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

#include "t6963/t6963c.h"

namespace portlib {
namespace {

constexpr std::uint8_t ControlLines = 0x0F;  // bits 0-3: the lines PPWCONTROL drives
// The ECR as the kernel leaves a claimed port: byte mode, FIFO empty, interrupts off.
constexpr std::uint8_t ClaimedEcr = t6963c::ecr::ModeByte | t6963c::ecr::ErrorInterruptDisable |
                                    t6963c::ecr::ServiceInterrupt | t6963c::ecr::FifoEmpty;

struct CallInfo {
  unsigned long request;
  const char* name;
  const char* outcome;  // what the access does when the call fails
};

// By ParportBackend::Call.
constexpr CallInfo Calls[] = {
    {PPRDATA, "PPRDATA", "the read gives 0x00"},
    {PPRSTATUS, "PPRSTATUS", "the read gives 0x00"},
    {PPWDATA, "PPWDATA", "the data lines keep their last byte"},
    {PPWCONTROL, "PPWCONTROL", "the control lines stay as they were and the next write tries again"},
    {PPDATADIR, "PPDATADIR",
     "the data lines keep their direction; a read cycle then ends before /RD, as the port still drives them"},
};
static_assert(std::size(Calls) == ParportBackend::CallCount);

std::uint32_t deviceNumber(const std::string& device) {
  std::uint32_t number = 0;
  const auto digits = device.substr(device.find_first_of("0123456789"));
  std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return number;
}

std::string openFailure(const std::string& device, int error) {
  switch (error) {
    case EACCES:
    case EPERM: return device + ": permission denied: add yourself to group lp and log in again";
    case ENOENT:
    case ENODEV:
    case ENXIO: return device + ": no such device: load the ppdev driver (sudo modprobe ppdev)";
    default: return device + ": " + std::strerror(error);
  }
}

// The port reads the display's status on the data lines: it needs a mode that can turn them
// around (the kernel's tristate), which plain SPP lacks.
void requireBidirectional(ParportCalls& calls, int fd, const std::string& device) {
  unsigned int modes = 0;
  if (calls.ioctl(fd, PPGETMODES, &modes) < 0) {
    throw BackendError(device + ": cannot ask the port's modes: " + std::strerror(errno));
  }
  if ((modes & PARPORT_MODE_TRISTATE) == 0) {
    throw BackendError(device + ": the port cannot read its data lines (no bidirectional mode), so the display's "
                                "status cannot be read: set the port to PS/2, EPP or ECP in the BIOS setup");
  }
}

std::string claimFailure(const std::string& device, int error) {
  if (error == EBUSY) {
    return device + ": the port is busy: another program or driver (such as lp) holds it; close it or "
                    "unload lp (sudo rmmod lp)";
  }
  return device + ": cannot claim the port: " + std::strerror(error);
}

}  // namespace

std::vector<ParportEntry> listParports(const std::filesystem::path& directory) {
  std::vector<ParportEntry> ports;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (!isParportPath("/dev/" + name)) continue;
    std::ifstream baseAddr(entry.path() / "base-addr");
    ParportEntry port{"/dev/" + name, 0, 0};
    if (!(baseAddr >> port.base)) continue;
    if (!(baseAddr >> port.baseHigh)) port.baseHigh = 0;
    ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(),
            [](const ParportEntry& a, const ParportEntry& b) { return deviceNumber(a.device) < deviceNumber(b.device); });
  return ports;
}

ParportEntry chooseParport(const std::vector<ParportEntry>& ports, const std::string& named) {
  const auto withDevice = [&](const std::string& device) {
    return std::find_if(ports.begin(), ports.end(), [&](const ParportEntry& port) { return port.device == device; });
  };
  if (!named.empty()) {
    const auto found = withDevice(named);
    return found != ports.end() ? *found : ParportEntry{named, 0, 0};
  }
  if (ports.empty()) {
    throw BackendError(std::string("no parallel port: ") + ParportDirectory +
                       " lists none: load the port drivers (sudo modprobe parport_pc ppdev)");
  }
  const auto atLpt1 =
      std::find_if(ports.begin(), ports.end(), [](const ParportEntry& port) { return port.base == t6963c::LptBase; });
  if (atLpt1 != ports.end()) return *atLpt1;
  const auto first = withDevice("/dev/parport0");
  return first != ports.end() ? *first : ports.front();
}

ParportBackend::ParportBackend(ParportCalls& calls, ParportEntry port, const DiagnosticSink& report)
    : calls_(calls),
      port_(std::move(port)),
      report_(report),
      ecr_(ClaimedEcr),
      outside_(report, "the parallel port registers 0x378-0x37a and 0x77a" +
                           (port_.base != 0 && port_.base != t6963c::LptBase ? " (and the port's own)" : std::string())) {
  fd_ = calls_.open(port_.device.c_str());
  if (fd_ < 0) throw BackendError(openFailure(port_.device, errno));
  if (calls_.ioctl(fd_, PPEXCL, nullptr) < 0 || calls_.ioctl(fd_, PPCLAIM, nullptr) < 0) {
    const int error = errno;
    calls_.close(fd_);
    throw BackendError(claimFailure(port_.device, error));
  }
  std::uint8_t lines = 0;
  try {
    requireBidirectional(calls_, fd_, port_.device);
    if (calls_.ioctl(fd_, PPRCONTROL, &lines) < 0) throw BackendError(claimFailure(port_.device, errno));
  } catch (const BackendError&) {
    calls_.ioctl(fd_, PPRELEASE, nullptr);
    calls_.close(fd_);
    throw;
  }
  control_ = static_cast<std::uint8_t>(lines & ControlLines);  // a claimed port drives its data lines
}

ParportBackend::~ParportBackend() {
  calls_.ioctl(fd_, PPRELEASE, nullptr);
  calls_.close(fd_);
}

ParportBackend::Register ParportBackend::registerAt(std::uint16_t port) const noexcept {
  const auto at = [port](std::uint32_t base) -> Register {
    if (base == 0) return Register::Outside;
    if (port == base + t6963c::reg::Data) return Register::Data;
    if (port == base + t6963c::reg::Status) return Register::Status;
    if (port == base + t6963c::reg::Control) return Register::Control;
    return Register::Outside;
  };
  if (port == t6963c::EcrPort || (port_.baseHigh != 0 && port == port_.baseHigh + 2)) return Register::Ecr;
  const Register lpt1 = at(t6963c::LptBase);
  return lpt1 != Register::Outside ? lpt1 : at(port_.base);
}

bool ParportBackend::call(Call kind, void* argument) noexcept {
  const CallInfo& info = Calls[static_cast<std::size_t>(kind)];
  if (calls_.ioctl(fd_, info.request, argument) >= 0) return true;
  const int error = errno;
  reportOnce(failureReported_[static_cast<std::size_t>(kind)], report_, [&] {
    return port_.device + ": " + info.name + " failed: " + std::strerror(error) + "; " + info.outcome +
           " (reported once)";
  });
  return false;
}

std::uint8_t ParportBackend::read(std::uint16_t port) noexcept {
  std::uint8_t value = 0;
  switch (registerAt(port)) {
    case Register::Data: return call(Call::ReadData, &value) ? value : std::uint8_t{0x00};
    case Register::Status: return call(Call::ReadStatus, &value) ? value : std::uint8_t{0x00};
    case Register::Control: return control_;
    case Register::Ecr: return ecr_;
    case Register::Outside: break;
  }
  outside_.refuse("read", port);
  return OutsidePortReport::RefusedRead;
}

void ParportBackend::write(std::uint16_t port, std::uint8_t value) noexcept {
  switch (registerAt(port)) {
    case Register::Data: call(Call::WriteData, &value); return;
    case Register::Status: return;
    case Register::Control: writeControl(value); return;
    case Register::Ecr: writeEcr(value); return;
    case Register::Outside: break;
  }
  outside_.refuse("write", port);
}

// Turning the data lines to input stops the port driving them before any strobe moves;
// turning them to output waits until the strobes are released. The soft copy follows each
// call that succeeded, and only those.
void ParportBackend::writeControl(std::uint8_t value) noexcept {
  constexpr std::uint8_t Driven = ControlLines | t6963c::ctl::DirInput;
  control_ = static_cast<std::uint8_t>((control_ & Driven) | (value & ~Driven));  // bits no call drives
  const bool input = (value & t6963c::ctl::DirInput) != 0;
  const bool directionChanges = input != ((control_ & t6963c::ctl::DirInput) != 0);
  if (directionChanges && input && !turnDataLines(true)) {
    writeLines(t6963c::ctl::Released);  // the port still drives the data lines: no read strobe
    return;
  }
  writeLines(value);
  if (directionChanges && !input) turnDataLines(false);
}

void ParportBackend::writeLines(std::uint8_t value) noexcept {
  auto lines = static_cast<std::uint8_t>(value & ControlLines);
  if (lines == (control_ & ControlLines) || !call(Call::WriteControl, &lines)) return;
  control_ = static_cast<std::uint8_t>((control_ & ~ControlLines) | lines);
}

bool ParportBackend::turnDataLines(bool input) noexcept {
  int reverse = input ? 1 : 0;
  if (!call(Call::DataDirection, &reverse)) return false;
  control_ = static_cast<std::uint8_t>(input ? control_ | t6963c::ctl::DirInput : control_ & ~t6963c::ctl::DirInput);
  return true;
}

void ParportBackend::writeEcr(std::uint8_t value) noexcept {
  ecr_ = static_cast<std::uint8_t>((ClaimedEcr & t6963c::ecr::ModeMask) | (value & t6963c::ecr::KeepMask));
  if ((value & t6963c::ecr::ModeMask) == t6963c::ecr::ModeByte) return;
  reportOnce(modeReported_, report_, [&] {
    return port_.device + ": ECR write " + portText(value) +
           " asks for another mode than byte mode; the claimed port stays in byte mode (reported once)";
  });
}

}  // namespace portlib
