// The default backend: the virtual display module in its shared-memory segment, its bus
// claimed for this process as a parallel port is claimed. Every port access goes straight
// to the module's bus side, which records it in the segment's bus trace; nothing is
// buffered or locked.
//
// The module is of the build the settings ask for. A segment made as another build is
// rebuilt once this process holds its bus (a module swapped on the port: display memory as
// at power-on, the viewer following), and that is said; while another program drives it,
// the claim refuses it as it refuses any second driver.
#pragma once

#include <memory>

#include "portlib/port_backend.h"
#include "portlib/settings.h"
#include "t6963/module.h"
#include "t6963/shared_module.h"

namespace portlib {

class VirtualModuleBackend final : public PortBackend {
 public:
  // Attaches to (or creates) the segment the settings name, claims its bus, rebuilds it if
  // need be (saying so on `report`) and applies the module settings they carry. Throws
  // std::system_error when the segment cannot be used or another program drives the module.
  VirtualModuleBackend(const Settings& settings, const DiagnosticSink& report);

  std::uint8_t read(std::uint16_t port) noexcept override;
  void write(std::uint16_t port, std::uint8_t value) noexcept override;

 private:
  t6963::SharedModule shared_;
  t6963::Module module_;
};

}  // namespace portlib
