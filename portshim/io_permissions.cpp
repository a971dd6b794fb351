// The port grants of ioperm and iopl (see io_permissions.h).
#include "portshim/io_permissions.h"

#include <array>
#include <cerrno>

#include "t6963/t6963c.h"

namespace portshim {
namespace {

constexpr std::array<std::uint16_t, 4> ModulePorts = {t6963c::DataPort, t6963c::StatusPort, t6963c::ControlPort,
                                                      t6963c::EcrPort};
constexpr unsigned long PortCount = 0x10000;
constexpr int MaxIoplLevel = 3;

// The bit of a module port, or 0 for any other port.
unsigned bitOf(unsigned long port) {
  for (unsigned i = 0; i < ModulePorts.size(); ++i) {
    if (ModulePorts[i] == port) return 1U << i;
  }
  return 0;
}

}  // namespace

int IoPermissions::ioperm(unsigned long from, unsigned long count, bool turnOn) noexcept {
  if (from + count <= from || from + count > PortCount) return EINVAL;
  unsigned bits = 0;
  for (unsigned long port = from; port < from + count; ++port) {
    const unsigned bit = bitOf(port);
    if (bit == 0 && turnOn) return EPERM;
    bits |= bit;
  }
  if (turnOn) {
    ioperm_.fetch_or(bits);
  } else {
    ioperm_.fetch_and(~bits);
  }
  return 0;
}

int IoPermissions::iopl(int level) noexcept {
  if (level < 0 || level > MaxIoplLevel) return EINVAL;
  iopl_.store(level > 0);
  return 0;
}

bool IoPermissions::allows(std::uint16_t port) const noexcept {
  const unsigned bit = bitOf(port);
  return bit != 0 && (iopl_.load(std::memory_order_relaxed) || (ioperm_.load(std::memory_order_relaxed) & bit) != 0);
}

}  // namespace portshim
