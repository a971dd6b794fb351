// Real port access through the kernel's port device /dev/port, where the file offset is the
// port number: one pread or pwrite of one byte per access. For ports that no parport
// driver owns; it needs root and is forbidden under kernel lockdown. No other device is
// ever opened (character device 1,4 only, checked before the open and on the descriptor),
// so a wrong path never sends port bytes into a disk, /dev/zero or a watchdog. Only the registers of
// the first parallel port reach the file (0x378-0x37f and 0x778-0x77a): every other port
// is refused, so a typing error in a port number never reaches a disk or interrupt
// controller. Not modelled: timing of the real bus; a failed access (a read that gives no
// byte included) reads 0x00 and is reported once.
#pragma once

#include <atomic>
#include <string>

#include "portlib/backend_error.h"
#include "portlib/port_backend.h"
#include "portlib/settings.h"

namespace portlib {

// Which files the device backend opens. Only the tests drive it on a regular file; no
// setting reaches RegularFilesForTests.
enum class DeviceFiles { CharacterDevicesOnly, RegularFilesForTests };

class DeviceBackend final : public PortBackend {
 public:
  // Opens the port device for reading and writing, never through a symbolic link. Throws
  // BackendError with the remedy when that fails or the file is another one.
  DeviceBackend(const std::string& path, const DiagnosticSink& report,
                DeviceFiles files = DeviceFiles::CharacterDevicesOnly);
  ~DeviceBackend() override;

  std::uint8_t read(std::uint16_t port) noexcept override;
  void write(std::uint16_t port, std::uint8_t value) noexcept override;

  static bool isInUse(std::uint16_t port) noexcept;

 private:
  void reportFailure(const char* operation, std::uint16_t port, const char* cause) noexcept;

  int fd_ = -1;
  std::string path_;
  DiagnosticSink report_;
  OutsidePortReport outside_;
  std::atomic<bool> failureReported_{false};
};

}  // namespace portlib
