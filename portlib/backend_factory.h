// Choosing and opening the backend the settings ask for. A backend that cannot be opened
// throws BackendError, whose text names the cause and the remedy; the library then refuses
// to load. The shadow view is an extra: when its module cannot be attached, that is
// reported in one line and the real ports work on without it.
#pragma once

#include <filesystem>
#include <memory>

#include "portlib/device_backend.h"
#include "portlib/parport_backend.h"
#include "portlib/parport_calls.h"
#include "portlib/port_backend.h"
#include "portlib/settings.h"

namespace portlib {

// What the backends reach of the system; the tests replace each part.
struct BackendSystem {
  ParportCalls* parport = &systemParportCalls();
  std::filesystem::path parportDirectory = ParportDirectory;
  DeviceFiles deviceFiles = DeviceFiles::CharacterDevicesOnly;
};

std::unique_ptr<PortBackend> createBackend(const Settings& settings, const DiagnosticSink& report,
                                           const BackendSystem& system = {});

}  // namespace portlib
