// Real port access through a device file such as /dev/port, where the file offset is the
// port number: one pread or pwrite of one byte per access. Any file works the same, which
// is how the tests drive it (a regular file, never real ports). Not modelled: timing of
// the real bus; a failed access reads 0x00 and is reported once.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "portlib/port_backend.h"
#include "portlib/settings.h"

namespace portlib {

class DeviceBackend final : public PortBackend {
 public:
  // Opens the file for reading and writing. When that fails, reports why in one line and
  // returns a SilentBackend instead.
  static std::unique_ptr<PortBackend> open(const std::string& path, const DiagnosticSink& report);

  ~DeviceBackend() override;

  std::uint8_t read(std::uint16_t port) noexcept override;
  void write(std::uint16_t port, std::uint8_t value) noexcept override;

 private:
  DeviceBackend(int fd, std::string path, DiagnosticSink report);
  void reportFailure(const char* operation, std::uint16_t port, int error) noexcept;

  int fd_;
  std::string path_;
  DiagnosticSink report_;
  std::atomic<bool> failureReported_{false};
};

}  // namespace portlib
