// ioperm and iopl as an unprivileged process meets them, except for the module's ports:
// the data, status and control registers at the base and the ECR at base + 0x402.
//   - ioperm(from, num, on): EINVAL for an empty or wrapping range or one past port
//     0xFFFF; turning off always succeeds; turning on succeeds only when every port of the
//     range is one of the module's, else EPERM and nothing changes.
//   - iopl(level): EINVAL above 3; any level above 0 grants the module's ports (and no
//     other, whose instructions keep trapping); 0 takes that grant back.
// The grants are the process's, not each thread's as the kernel keeps them.
#pragma once

#include <atomic>
#include <cstdint>

namespace portshim {

class IoPermissions {
 public:
  // 0, or the errno the call fails with.
  int ioperm(unsigned long from, unsigned long count, bool turnOn) noexcept;
  int iopl(int level) noexcept;

  // Whether an instruction at `port` is served: the port the instruction names must be
  // granted; the bytes of a wider access beyond it go through the port-access layer as the
  // port library's wide accesses do.
  bool allows(std::uint16_t port) const noexcept;

 private:
  // One bit per module port (data, status, control, ECR), granted by ioperm.
  std::atomic<unsigned> ioperm_{0};
  std::atomic<bool> iopl_{false};
};

}  // namespace portshim
