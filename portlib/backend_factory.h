// Choosing the backend the settings ask for. Never fails: a backend that cannot be opened
// is reported in one line and replaced by the SilentBackend.
#pragma once

#include <memory>

#include "portlib/port_backend.h"
#include "portlib/settings.h"

namespace portlib {

std::unique_ptr<PortBackend> createBackend(const Settings& settings, const DiagnosticSink& report);

}  // namespace portlib
