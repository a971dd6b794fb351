// DLPortIO.dll: the twelve C entry points over the backend chosen when the library is
// loaded, and its start-up routine DllStartUp. Each entry point is one call into
// port_access.h, which makes one virtual call per byte; nothing here locks, allocates or
// looks at the environment per access, and nothing is thrown across the C boundary. All
// other symbols stay hidden (dlportio.map).
//
// The backend is opened while the library loads. When it cannot be, the library says why
// on standard error and DllStartUp hands the loader that reason, so the load fails as a
// Windows DLL's load fails when its entry point refuses. Loaded without a loader that asks
// (a plain dlopen), the library works on: port reads give 0x00 and writes are dropped.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <type_traits>

#include "portlib/backend_factory.h"
#include "portlib/dlportio.h"
#include "portlib/port_access.h"
#include "portlib/settings.h"

#define DLPORTIO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

portlib::SilentBackend silentBackend;
portlib::PortBackend* activeBackend = &silentBackend;
// Initialised on first use: the start-up runs before the file's dynamic initialisers may.
std::string& startUpFailure() {
  static std::string reason;
  return reason;
}

#ifdef DLPORTIO_REGULAR_FILES_FOR_TESTS
constexpr auto DeviceFiles = portlib::DeviceFiles::RegularFilesForTests;
#else
constexpr auto DeviceFiles = portlib::DeviceFiles::CharacterDevicesOnly;
#endif

void writeDiagnostic(std::string_view line) {
  std::fprintf(stderr, "DLPortIO.dll: %.*s\n", static_cast<int>(line.size()), line.data());
}

__attribute__((constructor)) void attachBackend() noexcept {
  try {
    const auto settings = portlib::readSettings([](const char* name) { return std::getenv(name); }, writeDiagnostic);
    portlib::BackendSystem system;
    system.deviceFiles = DeviceFiles;
    activeBackend = portlib::createBackend(settings, writeDiagnostic, system).release();
    return;
  } catch (const std::exception& error) {
    startUpFailure() = error.what();
  } catch (...) {
    startUpFailure() = "no backend";
  }
  writeDiagnostic(startUpFailure() + "; the library refuses to load");
}

__attribute__((destructor)) void detachBackend() noexcept {
  if (activeBackend != &silentBackend) delete activeBackend;
  activeBackend = &silentBackend;
}

}  // namespace

DLPORTIO_EXPORT const char* DllStartUp() { return startUpFailure().empty() ? nullptr : startUpFailure().c_str(); }

DLPORTIO_EXPORT std::uint8_t DlPortReadPortUchar(std::uint32_t port) {
  return portlib::readByte(*activeBackend, port);
}
DLPORTIO_EXPORT std::uint16_t DlPortReadPortUshort(std::uint32_t port) {
  return portlib::readValue<std::uint16_t>(*activeBackend, port);
}
DLPORTIO_EXPORT std::uint32_t DlPortReadPortUlong(std::uint32_t port) {
  return portlib::readValue<std::uint32_t>(*activeBackend, port);
}
DLPORTIO_EXPORT void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) {
  portlib::writeByte(*activeBackend, port, value);
}
DLPORTIO_EXPORT void DlPortWritePortUshort(std::uint32_t port, std::uint16_t value) {
  portlib::writeValue(*activeBackend, port, value);
}
DLPORTIO_EXPORT void DlPortWritePortUlong(std::uint32_t port, std::uint32_t value) {
  portlib::writeValue(*activeBackend, port, value);
}
DLPORTIO_EXPORT void DlPortReadPortBufferUchar(std::uint32_t port, std::uint8_t* buffer, std::uint32_t count) {
  portlib::readBuffer(*activeBackend, port, buffer, count);
}
DLPORTIO_EXPORT void DlPortReadPortBufferUshort(std::uint32_t port, std::uint16_t* buffer,
                                                std::uint32_t count) {
  portlib::readBuffer(*activeBackend, port, buffer, count);
}
DLPORTIO_EXPORT void DlPortReadPortBufferUlong(std::uint32_t port, std::uint32_t* buffer,
                                               std::uint32_t count) {
  portlib::readBuffer(*activeBackend, port, buffer, count);
}
DLPORTIO_EXPORT void DlPortWritePortBufferUchar(std::uint32_t port, const std::uint8_t* buffer,
                                                std::uint32_t count) {
  portlib::writeBuffer(*activeBackend, port, buffer, count);
}
DLPORTIO_EXPORT void DlPortWritePortBufferUshort(std::uint32_t port, const std::uint16_t* buffer,
                                                 std::uint32_t count) {
  portlib::writeBuffer(*activeBackend, port, buffer, count);
}
DLPORTIO_EXPORT void DlPortWritePortBufferUlong(std::uint32_t port, const std::uint32_t* buffer,
                                                std::uint32_t count) {
  portlib::writeBuffer(*activeBackend, port, buffer, count);
}

// The definitions have exactly the types the component and the loader bind them as.
static_assert(std::is_same_v<decltype(&DllStartUp), DllStartUpFn>);
static_assert(std::is_same_v<decltype(&DlPortReadPortUchar), DlPortReadPortUcharFn>);
static_assert(std::is_same_v<decltype(&DlPortReadPortUshort), DlPortReadPortUshortFn>);
static_assert(std::is_same_v<decltype(&DlPortReadPortUlong), DlPortReadPortUlongFn>);
static_assert(std::is_same_v<decltype(&DlPortWritePortUchar), DlPortWritePortUcharFn>);
static_assert(std::is_same_v<decltype(&DlPortWritePortUshort), DlPortWritePortUshortFn>);
static_assert(std::is_same_v<decltype(&DlPortWritePortUlong), DlPortWritePortUlongFn>);
static_assert(std::is_same_v<decltype(&DlPortReadPortBufferUchar), DlPortReadPortBufferUcharFn>);
static_assert(std::is_same_v<decltype(&DlPortReadPortBufferUshort), DlPortReadPortBufferUshortFn>);
static_assert(std::is_same_v<decltype(&DlPortReadPortBufferUlong), DlPortReadPortBufferUlongFn>);
static_assert(std::is_same_v<decltype(&DlPortWritePortBufferUchar), DlPortWritePortBufferUcharFn>);
static_assert(std::is_same_v<decltype(&DlPortWritePortBufferUshort), DlPortWritePortBufferUshortFn>);
static_assert(std::is_same_v<decltype(&DlPortWritePortBufferUlong), DlPortWritePortBufferUlongFn>);
