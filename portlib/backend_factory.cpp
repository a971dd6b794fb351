// Backend selection from the settings.
#include "portlib/backend_factory.h"

#include <exception>
#include <string>

#include "portlib/backend_error.h"
#include "portlib/shadow_backend.h"
#include "portlib/virtual_backend.h"
#include "t6963/t6963c.h"

namespace portlib {
namespace {

std::unique_ptr<PortBackend> virtualModule(const Settings& settings, const DiagnosticSink& report) {
  try {
    return std::make_unique<VirtualModuleBackend>(settings, report);
  } catch (const BackendError&) {
    throw;
  } catch (const std::exception& error) {
    throw BackendError("cannot attach the virtual display module " + segmentNameOf(settings) + ": " + error.what());
  }
}

std::unique_ptr<PortBackend> realPorts(const Settings& settings, const DiagnosticSink& report,
                                       const BackendSystem& system) {
  if (settings.backend == BackendKind::Device) {
    return std::make_unique<DeviceBackend>(settings.devicePath, report, system.deviceFiles);
  }
  const auto port = chooseParport(listParports(system.parportDirectory), settings.parportPath);
  auto backend = std::make_unique<ParportBackend>(*system.parport, port, report);
  std::string where;
  if (port.base == t6963c::LptBase) {
    where = " (base 0x378)";
  } else if (port.base != 0) {
    where = " (its base " + portText(port.base) + " stands in for 0x378)";
  }
  report("real ports through " + port.device + where);
  return backend;
}

}  // namespace

std::unique_ptr<PortBackend> createBackend(const Settings& settings, const DiagnosticSink& report,
                                           const BackendSystem& system) {
  if (settings.backend == BackendKind::VirtualModule) return virtualModule(settings, report);
  auto real = realPorts(settings, report, system);
  if (!settings.shadow) return real;
  std::unique_ptr<PortBackend> shadow;
  try {
    shadow = virtualModule(settings, report);
  } catch (const BackendError& error) {
    report(std::string(error.what()) + "; real ports work on without the shadow view");
    return real;
  }
  return std::make_unique<ShadowBackend>(std::move(real), std::move(shadow));
}

}  // namespace portlib
