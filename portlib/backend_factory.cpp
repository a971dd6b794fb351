// Backend selection from the settings.
#include "portlib/backend_factory.h"

#include <exception>
#include <string>

#include "portlib/device_backend.h"
#include "portlib/virtual_backend.h"

namespace portlib {

std::unique_ptr<PortBackend> createBackend(const Settings& settings, const DiagnosticSink& report) {
  if (settings.backend == BackendKind::Device) return DeviceBackend::open(settings.devicePath, report);
  try {
    return std::make_unique<VirtualModuleBackend>(settings);
  } catch (const std::exception& error) {
    report(std::string("cannot attach the virtual display module ") + segmentNameOf(settings) + ": " +
           error.what() + "; port reads give 0x00 and writes are dropped");
  }
  return std::make_unique<SilentBackend>();
}

}  // namespace portlib
