// Which opens the preloaded library serves (see shim_settings.h).
#include "portshim/shim_settings.h"

#include "portlib/settings.h"

namespace portshim {

bool servesParport(const ShimSettings& settings, std::string_view path) {
  return settings.parport.empty() ? portlib::isParportPath(path) : path == settings.parport;
}

}  // namespace portshim
