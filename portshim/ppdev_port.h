// One open /dev/parportN as the kernel's ppdev serves it for a claimed PC-style port
// (parport_pc), over the virtual module's port registers. Every ioctl of <linux/ppdev.h>
// behaves as the kernel's does, with its error codes:
//   - mode, phase, modes and flags work without a claim; everything else needs one
//     (EINVAL), an unknown request with a claim is ENOTTY;
//   - the port reports compatibility mode and the modes PCSPP, plus TRISTATE in byte mode;
//     IEEE 1284 negotiation of any other mode is refused as with no 1284 peripheral (EIO);
//   - control reads give the four output lines, writes keep the shadow the kernel keeps
//     (the direction bit only through PPDATADIR, PPFCONTROL or a PPWCONTROL with bit 5);
//     on the plain SPP port the direction bit is not writable, and the interrupt enable
//     bit never is (nothing here raises interrupts);
//   - a claim puts back the control lines saved at release and, on the bidirectional port,
//     its ECR in byte mode. The first claim keeps the lines as the port has them, where the
//     kernel would set its own start value (/INIT high, select-in low): with this wiring
//     that start value is a /RD pulse without /CE, which the module counts as a violation;
//   - no interrupts: PPCLRIRQ reports 0, PPWCTLONIRQ is stored and never fires.
// read() and write() move bytes in IEEE 1284 transfers, which this port has no peripheral
// for: readWrite() answers EINVAL without a claim and EIO with one.
//
// Not modelled: a second descriptor's claim waiting for the first (it is refused with
// EBUSY), timeouts ever running out (nothing here waits).
#pragma once

#include <cstdint>

#include "portlib/port_backend.h"

namespace portshim {

// The port as the BIOS left it: bidirectional (PS/2, byte mode) or plain SPP.
enum class PortMode { Byte, Spp };

// The ECR as the BIOS leaves it for the mode and the kernel puts it back at a claim: the
// mode, error and service interrupts off.
std::uint8_t ecrFor(PortMode mode) noexcept;

class PpdevPort {
 public:
  PpdevPort(portlib::PortBackend& backend, PortMode mode) noexcept;

  // Serves one ioctl; 0 on success, else the negated errno the kernel gives.
  int ioctl(unsigned long request, void* argument) noexcept;

  // What read() and write() on the descriptor return: the negated errno.
  int readWrite() const noexcept;

 private:
  int unclaimedRequest(unsigned long request, void* argument) noexcept;
  int claimedRequest(unsigned long request, void* argument) noexcept;
  void claim() noexcept;
  void frobControl(std::uint8_t mask, std::uint8_t value) noexcept;
  std::uint8_t writableControl() const noexcept;

  portlib::PortBackend* backend_;
  PortMode mode_;
  bool claimed_ = false;
  bool registered_ = false;  // claimed once: too late for PPEXCL
  bool exclusive_ = false;
  int ieeeMode_;
  int phase_;
  int userFlags_ = 0;
  std::uint8_t control_ = 0;       // the control register as last written (the kernel's shadow)
  std::uint8_t savedControl_ = 0;  // put back at the next claim
  std::uint8_t interruptControl_ = 0;
  std::int64_t timeoutMicroseconds_;
};

}  // namespace portshim
