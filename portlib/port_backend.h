// The seam between the port library's entry points and what stands behind them: one byte
// read or written at one 16-bit I/O port. Backends are the virtual display module, real
// ports through a device file, and the silent backend below. Backends take no locks; their
// callers (one thread, as the test bench) serialise the accesses.
#pragma once

#include <cstdint>

namespace portlib {

class PortBackend {
 public:
  PortBackend() = default;
  PortBackend(const PortBackend&) = delete;
  PortBackend& operator=(const PortBackend&) = delete;
  virtual ~PortBackend() = default;

  virtual std::uint8_t read(std::uint16_t port) noexcept = 0;
  virtual void write(std::uint16_t port, std::uint8_t value) noexcept = 0;
};

// Nothing behind the ports: every read gives 0x00 and writes are dropped. Stands in when
// the chosen backend cannot be opened, so a display wait sees a module that never answers.
class SilentBackend final : public PortBackend {
 public:
  std::uint8_t read(std::uint16_t) noexcept override { return 0x00; }
  void write(std::uint16_t, std::uint8_t) noexcept override {}
};

}  // namespace portlib
