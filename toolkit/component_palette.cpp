// The component palette that design-time registration fills.
#include "toolkit/toolkit.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex paletteMutex;
std::vector<TPaletteEntry> palette;

}  // namespace

void RegisterComponents(const std::string& Page, const std::vector<TComponentClass>& Classes) {
  const std::lock_guard lock(paletteMutex);
  for (const TComponentClass& Class : Classes) {
    const bool known = std::any_of(palette.begin(), palette.end(), [&](const TPaletteEntry& entry) {
      return entry.Class.ClassName == Class.ClassName;
    });
    if (!known) palette.push_back(TPaletteEntry{Page, Class});
  }
}

std::vector<TPaletteEntry> ComponentPalette() {
  const std::lock_guard lock(paletteMutex);
  return palette;
}
