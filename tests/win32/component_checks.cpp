// The port components on the family the version query reports, in both builds of the checks:
// TDLPrinterPortIO's detection over the registry images against the ports the images hold
// (tests/data/portio/registry/detected.txt), then TDLPortIO's open and close: on the NT family
// the service steps, whose driver cannot start (there is no driver file), and on the 95/98
// family the recording DLPortIO.dll bound and driven.
// Usage: win32_component_checks DATA_FOLDER 9x|nt. Exit status 0 when every check holds.
#include "portio/tdlprinterportio.h"
#include "tests/portio/port_recorder.h"
#include "tests/win32/prepared_system.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Expect(bool holds, const std::string& what) {
  std::printf("%s  %s\n", holds ? "ok  " : "FAIL", what.c_str());
  failures += holds ? 0 : 1;
}

// "<family> <image>: <count> ports, LPTn 0xBASE ..." as the detection left the component.
std::string Detected(const std::string& family, const std::filesystem::path& image) {
  TDLPrinterPortIO component(nullptr);
  char line[64];
  std::snprintf(line, sizeof line, ": %d ports", component.LPTNumPorts());
  std::string text = family + " " + image.filename().string() + line;
  for (std::uint8_t number = 1; number <= 8; ++number) {
    component.SetLPTNumber(number);
    if (component.LPTBasePort() == 0) continue;
    std::snprintf(line, sizeof line, ", LPT%d 0x%x", number, component.LPTBasePort());
    text += line;
  }
  return text;
}

void CheckDetection(const std::filesystem::path& data, const std::string& family) {
  std::vector<std::filesystem::path> images;
  // The images of this family's layout ("nt_", "9x_") and those of neither prefix.
  for (const auto& entry : std::filesystem::directory_iterator(data / "portio" / "registry")) {
    const std::string name = entry.path().filename().string();
    const bool otherFamily = name.rfind(family == "nt" ? "9x_" : "nt_", 0) == 0;
    if (entry.path().extension() == ".reg" && !otherFamily) images.push_back(entry.path());
  }
  std::sort(images.begin(), images.end());
  std::vector<std::string> expected;
  std::ifstream table(data / "portio" / "registry" / "detected.txt");
  for (std::string line; std::getline(table, line);)
    if (line.rfind(family + " ", 0) == 0) expected.push_back(line);
  Expect(expected.size() == images.size(), "detected.txt has a line for each of the " +
                                                std::to_string(images.size()) + " images");
  for (const auto& image : images) {
    if (image.filename() == "long_names.reg" && !win32_check::StandIns()) {
      std::printf("skip  %s %s: a real registry holds no key name over 255 characters\n", family.c_str(),
                  image.filename().string().c_str());
      continue;
    }
    win32_check::ShowRegistryImage(image);
    const std::string found = Detected(family, image);
    Expect(std::find(expected.begin(), expected.end(), found) != expected.end(), found);
  }
}

std::string Service() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, DriverServiceName, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const std::string state = service == nullptr ? "absent " + std::to_string(GetLastError())
                            : QueryServiceStatus(service, &status) != 0 ? "state " + std::to_string(status.dwCurrentState)
                                                                          : "unknown";
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return state;
}

void CheckServicePath() {
  // Windows refuses to start a driver without its file with ERROR_FILE_NOT_FOUND; Wine's
  // driver host with ERROR_DLL_INIT_FAILED (the call table says more).
  const std::string Refused = win32_check::UnderWine() ? "1114" : "2";
  TDLPortIO component(nullptr);
  component.SetDLLPath(win32_check::RecorderFolder());
  component.OpenDriver();
  Expect(!component.ActiveHW() && component.LastError() == "DriverStart: Error #" + Refused,
         "OpenDriver: installed, start refused, removed: \"" + component.LastError() + "\"");
  Expect(Service() == "absent 1060", "nothing left installed: " + Service());

  const bool installed = component.ConnectSCM() && component.DriverInstall();
  Expect(installed, "ConnectSCM, DriverInstall");
  Expect(Service() == "state 1", "installed, stopped: " + Service());
  const bool started = component.DriverStart();
  Expect(!started && component.LastError() == "DriverStart: Error #" + Refused,
         "DriverStart: \"" + component.LastError() + "\"");
  const bool stopped = component.DriverStop();
  Expect(!stopped && component.LastError() == "DriverStop: Error #1062", "DriverStop: \"" + component.LastError() + "\"");
  const bool removed = component.DriverRemove() && component.DisconnectSCM();
  Expect(removed, "DriverRemove, DisconnectSCM");
  Expect(Service() == "absent 1060", "removed: " + Service());
}

void CheckLibraryPath() {
  TDLPortIO component(nullptr);
  component.SetDLLPath(win32_check::RecorderFolder());
  component.OpenDriver();
  Expect(component.ActiveHW(), "OpenDriver binds the recording DLPortIO.dll");
  component.SetPortByte(0x378, 0x5A);
  const std::uint8_t status = component.GetPortByte(0x379);

  const std::string folder = win32_check::RecorderFolder();
  const std::string file = folder.empty() ? LibraryFileName : folder + PathDelim + LibraryFileName;
  HMODULE recorder = LoadLibraryA(file.c_str());
  using AnyFunction = void (*)();
  const auto events = reinterpret_cast<PortRecorderEventsFn>(
      reinterpret_cast<AnyFunction>(GetProcAddress(recorder, "PortRecorderEvents")));
  const PortRecorderEvent* first = nullptr;
  const std::size_t count = events != nullptr ? events(&first) : 0;
  const std::vector<PortRecorderEvent> expected{{'w', 1, 0x378, 0x5A}, {'r', 1, 0x379, PortRecorderUntouched(0x379)}};
  Expect(count == expected.size() && std::equal(expected.begin(), expected.end(), first) &&
             status == static_cast<std::uint8_t>(PortRecorderUntouched(0x379)),
         "the library recorded the write and the read through its entry points");
  if (recorder != nullptr) FreeLibrary(recorder);
  const bool closed = component.CloseDriver();
  Expect(closed && !component.ActiveHW(), "CloseDriver releases it");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string family = argc == 3 ? argv[2] : "";
  if (family != "9x" && family != "nt") {
    std::fprintf(stderr, "usage: win32_component_checks DATA_FOLDER 9x|nt\n");
    return 2;
  }
  try {
    const bool nt = family == "nt";
    if (!win32_check::UseFamily(nt ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS)) {
      std::fprintf(stderr, "the version query does not report the %s family\n", family.c_str());
      return 1;
    }
    CheckDetection(argv[1], family);
    if (nt) {
      CheckServicePath();
    } else {
      CheckLibraryPath();
    }
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return failures == 0 ? 0 : 1;
}
