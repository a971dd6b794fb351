// The bus trace as a Value Change Dump, for logic-analyser tools (GTKWave, PulseView,
// sigrok-cli): the controller's lines D0-D7, /WR, /RD, /CE (pin levels, active low), C/D
// and the port's data direction DIR, one port access per microsecond as on a real port.
// Record n of the trace is at time n us; the levels before the first record are dumped one
// microsecond earlier, and the dump ends one microsecond after the last. Unknown levels
// are 'x', data lines that nobody drives 'z' (bus_decoder.h says when). Leaves out:
// timing inside an access, and the port's other lines.
#pragma once

#include <QString>

#include "t6963/bus_trace.h"

namespace lcdview {

// Writes the dump to `path` through a temporary file in the same folder that replaces the
// file only when complete. Returns an empty string, or the reason it failed (bad name,
// full disk, ...); on failure no file, partial or temporary, is left behind.
QString writeVcd(const QString& path, const t6963::TraceCopy& trace);

}  // namespace lcdview
