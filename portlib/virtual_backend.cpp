// The virtual display module as the library's backend.
#include "portlib/virtual_backend.h"

namespace portlib {
namespace {

// The segment, its bus claimed and the module of the build the settings ask for.
t6963::SharedModule claimedModule(const Settings& settings, const DiagnosticSink& report) {
  auto shared = t6963::SharedModule::open(segmentNameOf(settings), settings.powerOn, settings.build);
  shared.claimBus();
  const t6963::ModuleBuild found = shared.snapshot().build;
  if (found != settings.build) {
    shared.rebuild(settings.build, settings.powerOn);
    report("the virtual display " + shared.name() + " was rebuilt as " + t6963::describe(settings.build) +
           " (it was " + t6963::describe(found) + ")");
  }
  return shared;
}

}  // namespace

VirtualModuleBackend::VirtualModuleBackend(const Settings& settings, const DiagnosticSink& report)
    : shared_(claimedModule(settings, report)), module_(shared_.state(), &shared_.trace()) {
  if (settings.disconnected) t6963::setDisconnected(shared_.state(), *settings.disconnected);
  if (settings.busyAccesses) t6963::setBusyAccesses(shared_.state(), *settings.busyAccesses);
}

std::uint8_t VirtualModuleBackend::read(std::uint16_t port) noexcept { return module_.read(port); }

void VirtualModuleBackend::write(std::uint16_t port, std::uint8_t value) noexcept { module_.write(port, value); }

}  // namespace portlib
