// The viewer's status line for one consistent copy of the module's state: display mode,
// address pointer, cursor, violations (count and the newest), the module's build, and whether
// the module is disconnected. Plain text, no markup.
#pragma once

#include <QString>

#include "t6963/module_state.h"

namespace lcdview {

QString statusText(const t6963::ModuleState& state);

}  // namespace lcdview
