// Real ports with the virtual display module watching: every access goes to the real port
// first, then the same access to the module, so the viewer shows what the real display
// should be showing. Reads answer from the real port; the module's own answer only keeps
// its clock (busy time counts port accesses) in step.
#pragma once

#include <memory>

#include "portlib/port_backend.h"

namespace portlib {

class ShadowBackend final : public PortBackend {
 public:
  ShadowBackend(std::unique_ptr<PortBackend> real, std::unique_ptr<PortBackend> shadow)
      : real_(std::move(real)), shadow_(std::move(shadow)) {}

  std::uint8_t read(std::uint16_t port) noexcept override {
    const std::uint8_t value = real_->read(port);
    shadow_->read(port);
    return value;
  }
  void write(std::uint16_t port, std::uint8_t value) noexcept override {
    real_->write(port, value);
    shadow_->write(port, value);
  }

 private:
  std::unique_ptr<PortBackend> real_;
  std::unique_ptr<PortBackend> shadow_;
};

}  // namespace portlib
