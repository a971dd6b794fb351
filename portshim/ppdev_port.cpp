// The ppdev requests over the module's registers (see ppdev_port.h).
#include "portshim/ppdev_port.h"

#include <sys/ioctl.h>
#include <sys/time.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

#include <cerrno>
#include <cstring>

#include "t6963/t6963c.h"

namespace portshim {
namespace {

namespace ctl = t6963c::ctl;

// The four output lines of the control register (strobe, auto-feed, init, select-in).
constexpr std::uint8_t ControlLines = 0x0F;
constexpr std::int64_t DefaultTimeoutMicroseconds = 5'000'000;
constexpr int UserFlagsMask = PP_FLAGMASK;
// The kernel's IEEE 1284 phases a new mode starts in (its enum ieee1284_phase).
constexpr int ForwardIdlePhase = 1;
constexpr int ReverseIdlePhase = 5;

int initialPhase(int mode) {
  const int transfer = mode & ~(IEEE1284_DEVICEID | IEEE1284_ADDR);
  return transfer == IEEE1284_MODE_NIBBLE || transfer == IEEE1284_MODE_BYTE ? ReverseIdlePhase : ForwardIdlePhase;
}

template <typename Value>
int copyIn(const void* argument, Value& value) {
  if (argument == nullptr) return -EFAULT;
  std::memcpy(&value, argument, sizeof value);
  return 0;
}

template <typename Value>
int copyOut(void* argument, const Value& value) {
  if (argument == nullptr) return -EFAULT;
  std::memcpy(argument, &value, sizeof value);
  return 0;
}

}  // namespace

std::uint8_t ecrFor(PortMode mode) noexcept {
  namespace ecr = t6963c::ecr;
  return (mode == PortMode::Byte ? ecr::ModeByte : ecr::ModeSpp) | ecr::ErrorInterruptDisable | ecr::ServiceInterrupt;
}

PpdevPort::PpdevPort(portlib::PortBackend& backend, PortMode mode) noexcept
    : backend_(&backend),
      mode_(mode),
      ieeeMode_(IEEE1284_MODE_COMPAT),
      phase_(initialPhase(IEEE1284_MODE_COMPAT)),
      timeoutMicroseconds_(DefaultTimeoutMicroseconds) {}

int PpdevPort::ioctl(unsigned long request, void* argument) noexcept {
  const int result = unclaimedRequest(request, argument);
  if (result != -ENOTTY) return result;
  if (!claimed_) return -EINVAL;
  return claimedRequest(request, argument);
}

int PpdevPort::readWrite() const noexcept { return claimed_ ? -EIO : -EINVAL; }

// The requests the kernel serves with or without a claim; ENOTTY for the others.
int PpdevPort::unclaimedRequest(unsigned long request, void* argument) noexcept {
  switch (request) {
    case PPCLAIM:
      if (claimed_) return -EBUSY;
      claim();
      return 0;
    case PPEXCL:
      if (registered_) return exclusive_ ? 0 : -EINVAL;
      exclusive_ = true;
      return 0;
    case PPSETMODE: {
      int mode = 0;
      if (const int error = copyIn(argument, mode)) return error;
      ieeeMode_ = mode;
      phase_ = initialPhase(mode);
      return 0;
    }
    case PPGETMODE: return copyOut(argument, ieeeMode_);
    case PPSETPHASE: return copyIn(argument, phase_);
    case PPGETPHASE: return copyOut(argument, phase_);
    case PPGETMODES: {
      const unsigned modes = PARPORT_MODE_PCSPP | (mode_ == PortMode::Byte ? PARPORT_MODE_TRISTATE : 0U);
      return copyOut(argument, modes);
    }
    case PPSETFLAGS: {
      int flags = 0;
      if (const int error = copyIn(argument, flags)) return error;
      userFlags_ = flags & UserFlagsMask;
      return 0;
    }
    case PPGETFLAGS: return copyOut(argument, userFlags_);
    default: return -ENOTTY;
  }
}

int PpdevPort::claimedRequest(unsigned long request, void* argument) noexcept {
  using t6963c::DataPort;
  using t6963c::StatusPort;
  switch (request) {
    case PPRELEASE:
      savedControl_ = control_;
      claimed_ = false;
      return 0;
    case PPYIELD: return 0;
    case PPRSTATUS: return copyOut(argument, backend_->read(StatusPort));
    case PPRDATA: return copyOut(argument, backend_->read(DataPort));
    case PPRCONTROL: return copyOut(argument, static_cast<std::uint8_t>(control_ & ControlLines));
    case PPWDATA: {
      std::uint8_t value = 0;
      if (const int error = copyIn(argument, value)) return error;
      backend_->write(DataPort, value);
      return 0;
    }
    case PPWCONTROL: {
      std::uint8_t value = 0;
      if (const int error = copyIn(argument, value)) return error;
      frobControl(static_cast<std::uint8_t>(ControlLines | (value & ctl::DirInput)), value);
      return 0;
    }
    case PPFCONTROL: {
      ppdev_frob_struct frob{};
      if (const int error = copyIn(argument, frob)) return error;
      frobControl(frob.mask, frob.val);
      return 0;
    }
    case PPDATADIR: {
      int reverse = 0;
      if (const int error = copyIn(argument, reverse)) return error;
      frobControl(ctl::DirInput, reverse != 0 ? ctl::DirInput : 0);
      return 0;
    }
    case PPNEGOT: {
      int mode = 0;
      if (const int error = copyIn(argument, mode)) return error;
      return mode == IEEE1284_MODE_COMPAT ? 0 : -EIO;
    }
    case PPWCTLONIRQ: return copyIn(argument, interruptControl_);
    case PPCLRIRQ: return copyOut(argument, 0);
    case PPSETTIME: {
      timeval time{};
      if (const int error = copyIn(argument, time)) return error;
      if (time.tv_sec < 0 || time.tv_usec < 0) return -EINVAL;
      const std::int64_t microseconds = std::int64_t{time.tv_sec} * 1'000'000 + time.tv_usec;
      if (microseconds <= 0) return -EINVAL;
      timeoutMicroseconds_ = microseconds;
      return 0;
    }
    case PPGETTIME: {
      timeval time{};
      time.tv_sec = timeoutMicroseconds_ / 1'000'000;
      time.tv_usec = timeoutMicroseconds_ % 1'000'000;
      return copyOut(argument, time);
    }
    default: return -ENOTTY;
  }
}

void PpdevPort::claim() noexcept {
  claimed_ = true;
  if (!registered_) savedControl_ = backend_->read(t6963c::ControlPort);
  registered_ = true;
  control_ = static_cast<std::uint8_t>(savedControl_ & writableControl());
  backend_->write(t6963c::ControlPort, control_);
  if (mode_ == PortMode::Byte) backend_->write(t6963c::EcrPort, ecrFor(mode_));
}

// The kernel's frob of the control register: the direction bit when the mask holds it,
// the four output lines as (lines & ~mask) ^ value; bits the port cannot hold stay clear.
void PpdevPort::frobControl(std::uint8_t mask, std::uint8_t value) noexcept {
  auto next = control_;
  if ((mask & ctl::DirInput) != 0) next = static_cast<std::uint8_t>((next & ~ctl::DirInput) | (value & ctl::DirInput));
  next = static_cast<std::uint8_t>((next & ~(mask & ControlLines)) ^ (value & ControlLines));
  control_ = static_cast<std::uint8_t>(next & writableControl());
  backend_->write(t6963c::ControlPort, control_);
}

std::uint8_t PpdevPort::writableControl() const noexcept {
  return mode_ == PortMode::Byte ? ControlLines | ctl::DirInput : ControlLines;
}

}  // namespace portshim
