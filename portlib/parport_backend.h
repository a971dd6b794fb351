// Real ports without root through the kernel's ppdev driver (/dev/parportN): the port is
// found from /proc/sys/dev/parport, claimed exclusively, and each register access becomes
// the driver's call for it. The wire protocol's fixed LPT1 registers (0x378 data, 0x379
// status, 0x37A control, 0x77A ECR) are the registers of the chosen port, whatever its
// real base, so a PCI card at 0x3010 drives the display; its own base works too.
//   data     PPRDATA / PPWDATA
//   status   PPRSTATUS (writes dropped: the register is read-only)
//   control  bits 0-3 by PPWCONTROL, the direction bit 5 by PPDATADIR, each only when it
//            changes; read from a soft copy that changes only when its call succeeded. A
//            failed turn to input ends the bus cycle (the lines released) before /RD,
//            which would read against the port's own output
//   ECR      a soft copy in byte mode: the kernel keeps a claimed port there, so the
//            protocol's mode switch costs no call; a write asking for another mode is
//            reported once
// Every other port is refused, and each kind of failed call is reported once. A port that
// cannot turn its data lines around (no PARPORT_MODE_TRISTATE) is refused at the claim.
// Not done: EPP, ECP and FIFO transfers, interrupts.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "portlib/backend_error.h"
#include "portlib/parport_calls.h"
#include "portlib/port_backend.h"
#include "portlib/settings.h"

namespace portlib {

// One port the kernel's parport driver owns, as /proc/sys/dev/parport/<name>/base-addr
// gives it: its base and second I/O range (0 when it has none).
struct ParportEntry {
  std::string device;  // "/dev/parport0"
  std::uint32_t base = 0;
  std::uint32_t baseHigh = 0;
};

inline constexpr const char* ParportDirectory = "/proc/sys/dev/parport";

// The ports listed below `directory`, in device-number order; none when it does not exist.
std::vector<ParportEntry> listParports(const std::filesystem::path& directory);

// The port to drive: the one named (empty: the one at 0x378, else /dev/parport0). Throws
// BackendError when no port is named and none is listed.
ParportEntry chooseParport(const std::vector<ParportEntry>& ports, const std::string& named);

class ParportBackend final : public PortBackend {
 public:
  // Opens and claims the port exclusively; throws BackendError with the remedy when that
  // fails (no device, no permission, port busy, no bidirectional mode).
  ParportBackend(ParportCalls& calls, ParportEntry port, const DiagnosticSink& report);
  ~ParportBackend() override;

  std::uint8_t read(std::uint16_t port) noexcept override;
  void write(std::uint16_t port, std::uint8_t value) noexcept override;

  // The driver's calls made after the claim, each reported once when it fails.
  enum class Call : std::size_t { ReadData, ReadStatus, WriteData, WriteControl, DataDirection };
  static constexpr std::size_t CallCount = 5;

 private:
  enum class Register { Data, Status, Control, Ecr, Outside };

  Register registerAt(std::uint16_t port) const noexcept;
  bool call(Call kind, void* argument) noexcept;
  void writeControl(std::uint8_t value) noexcept;
  void writeLines(std::uint8_t value) noexcept;
  bool turnDataLines(bool input) noexcept;
  void writeEcr(std::uint8_t value) noexcept;

  ParportCalls& calls_;
  ParportEntry port_;
  DiagnosticSink report_;
  int fd_ = -1;
  std::uint8_t control_ = 0;
  std::uint8_t ecr_;
  OutsidePortReport outside_;
  std::array<std::atomic<bool>, CallCount> failureReported_{};
  std::atomic<bool> modeReported_{false};
};

}  // namespace portlib
