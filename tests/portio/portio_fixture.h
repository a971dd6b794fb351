// Shared ground of the component's tests: a clean set of Windows stand-ins for every test,
// the folders of the test port libraries, and the call log as text.
#pragma once

#include "portio/tdlportio.h"
#include "winapi/fake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace portio_test {

// Folder of the complete recording library, or of the one without entry point `omit`.
inline std::string LibraryFolder(int omit = 0) {
  return std::string(PORTIO_TEST_LIBS) + (omit == 0 ? "/complete" : "/omit-" + std::to_string(omit));
}

inline std::string LibraryFile(int omit = 0) { return LibraryFolder(omit) + "/" + LibraryFileName; }

// One logged call as "Function(arg, arg) -> result", with " [error]" when it failed.
inline std::string TraceLine(const winapi::fake::CallRecord& record) {
  std::string line = record.function + "(";
  for (std::size_t i = 0; i < record.arguments.size(); ++i) line += (i == 0 ? "" : ", ") + record.arguments[i];
  line += ") -> " + record.result;
  if (record.error != ERROR_SUCCESS) line += " [" + std::to_string(record.error) + "]";
  return line;
}

inline std::vector<std::string> Trace() {
  std::vector<std::string> lines;
  for (const auto& record : winapi::fake::callLog()) lines.push_back(TraceLine(record));
  return lines;
}

inline bool Called(const std::string& function) {
  const auto names = winapi::fake::calledFunctions();
  return std::find(names.begin(), names.end(), function) != names.end();
}

inline int CallCount(const std::string& function) {
  const auto names = winapi::fake::calledFunctions();
  return static_cast<int>(std::count(names.begin(), names.end(), function));
}

inline std::optional<DWORD> ServiceState() {
  const auto service = winapi::fake::findService(DriverServiceName);
  return service ? std::optional<DWORD>(service->state) : std::nullopt;
}

inline void InstallService(DWORD state) {
  winapi::fake::ServiceConfig config;
  config.name = DriverServiceName;
  config.displayName = DriverDisplayName;
  winapi::fake::addService(config, state);
}

// Libraries the stand-ins have loaded and not yet freed.
inline int LibrariesHeld() { return winapi::fake::loadedLibraries() - winapi::fake::freedLibraries(); }

class PortioTest : public ::testing::Test {
 protected:
  // A machine where the driver's file is installed.
  void SetUp() override {
    winapi::fake::reset();
    winapi::fake::setDriverFilesChecked(false);
  }
  void TearDown() override { winapi::fake::reset(); }

  // A component of the given family whose library comes from the complete test library.
  static std::unique_ptr<TDLPortIO> NewComponent(bool nt, int omit = 0) {
    winapi::fake::setNtFamily(nt);
    auto component = std::make_unique<TDLPortIO>(nullptr);
    component->SetDLLPath(LibraryFolder(omit));
    return component;
  }
};

}  // namespace portio_test
