// The virtual display module as the library's backend.
#include "portlib/virtual_backend.h"

namespace portlib {

VirtualModuleBackend::VirtualModuleBackend(const Settings& settings)
    : shared_(t6963::SharedModule::open(segmentNameOf(settings), settings.powerOn)),
      module_(shared_.state(), &shared_.trace()) {
  shared_.claimBus();
  if (settings.disconnected) t6963::setDisconnected(shared_.state(), *settings.disconnected);
  if (settings.busyAccesses) t6963::setBusyAccesses(shared_.state(), *settings.busyAccesses);
}

std::uint8_t VirtualModuleBackend::read(std::uint16_t port) noexcept { return module_.read(port); }

void VirtualModuleBackend::write(std::uint16_t port, std::uint8_t value) noexcept { module_.write(port, value); }

}  // namespace portlib
