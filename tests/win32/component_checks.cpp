// The port components on the family the version query reports: TDLPrinterPortIO's detection
// over the registry images, then TDLPortIO's open and close: on the NT family the service
// steps, whose driver cannot start (there is no driver file); on the 95/98 family the
// recording DLPortIO.dll bound and driven.
// Usage: win32_component_checks DATA_FOLDER 9x|nt. Exit status 0 when every check holds.
#include "portio/tdlprinterportio.h"
#include "tests/portio/port_recorder.h"
#include "tests/win32/prepared_system.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using win32_check::Same;

// "<count> ports, LPTn 0xBASE ..." as the detection left the component.
std::string Detected() {
  TDLPrinterPortIO component(nullptr);
  std::string text = std::to_string(component.LPTNumPorts()) + " ports";
  char port[32];
  for (std::uint8_t number = 1; number <= 8; ++number) {
    component.SetLPTNumber(number);
    std::snprintf(port, sizeof port, ", LPT%d 0x%x", number, component.LPTBasePort());
    if (component.LPTBasePort() != 0) text += port;
  }
  return text;
}

// Each image of this family's layout ("nt_", "9x_") or of neither prefix has its line in
// detected.txt: "<family> <image>: <what Detected() gives>".
void CheckDetection(const std::filesystem::path& folder, const std::string& family) {
  std::map<std::string, std::string> expected;
  std::ifstream table(folder / "detected.txt");
  for (std::string line; std::getline(table, line);) {
    const std::size_t colon = line.find(": ");
    expected[line.substr(0, colon)] = line.substr(colon + 2);
  }
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string image = family + " " + entry.path().filename().string();
    if (entry.path().extension() != ".reg" || image.rfind(family == "nt" ? "nt 9x_" : "9x nt_", 0) == 0) continue;
    if (image.ends_with(" long_names.reg") && !win32_check::StandIns()) {
      std::printf("skip  %s: a real registry holds no key name over 255 characters\n", image.c_str());
      continue;
    }
    win32_check::ShowRegistryImage(entry.path());
    const auto line = expected.find(image);
    Same(image, Detected(), line != expected.end() ? line->second : "a line in detected.txt");
  }
}

// The driver service as the service manager holds it: "state <n>" or "absent <error>".
std::string Service() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, DriverServiceName, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  std::string state = service == nullptr ? "absent " + std::to_string(GetLastError()) : "not queried";
  if (service != nullptr && QueryServiceStatus(service, &status) != 0)
    state = "state " + std::to_string(status.dwCurrentState);
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return state;
}

void CheckServicePath() {
  // Windows refuses to start a driver without its file with ERROR_FILE_NOT_FOUND; Wine's
  // driver host with ERROR_DLL_INIT_FAILED (the call table says more).
  const std::string refused = win32_check::UnderWine() ? "DriverStart: Error #1114" : "DriverStart: Error #2";
  TDLPortIO component(nullptr);
  component.SetDLLPath(win32_check::RecorderFolder());
  const auto outcome = [&component](bool succeeded) { return succeeded ? "done" : component.LastError(); };
  component.OpenDriver();
  Same("OpenDriver: installs, start refused, removes", outcome(component.ActiveHW()), refused);
  Same("the service after OpenDriver", Service(), "absent 1060");
  Same("ConnectSCM, DriverInstall", outcome(component.ConnectSCM() && component.DriverInstall()), "done");
  Same("the service installed", Service(), "state 1");
  Same("DriverStart", outcome(component.DriverStart()), refused);
  Same("DriverStop", outcome(component.DriverStop()), "DriverStop: Error #1062");
  Same("DriverRemove, DisconnectSCM", outcome(component.DriverRemove() && component.DisconnectSCM()), "done");
  Same("the service removed", Service(), "absent 1060");
}

void CheckLibraryPath() {
  TDLPortIO component(nullptr);
  component.SetDLLPath(win32_check::RecorderFolder());
  component.OpenDriver();
  Same("OpenDriver binds the recording DLPortIO.dll", component.ActiveHW() ? "bound" : component.LastError(), "bound");
  component.SetPortByte(0x378, 0x5A);
  const std::uint8_t status = component.GetPortByte(0x379);
  const HMODULE recorder = LoadLibraryA(win32_check::RecorderFile().c_str());
  const auto events = reinterpret_cast<PortRecorderEventsFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(recorder, "PortRecorderEvents")));
  const PortRecorderEvent* first = nullptr;
  const std::size_t count = events != nullptr ? events(&first) : 0;
  const std::vector<PortRecorderEvent> expected{{'w', 1, 0x378, 0x5A}, {'r', 1, 0x379, PortRecorderUntouched(0x379)}};
  const bool recorded = std::vector(first, first + count) == expected &&
                        status == static_cast<std::uint8_t>(PortRecorderUntouched(0x379));
  Same("the library's record of a write and a read", recorded ? "both" : "other", "both");
  FreeLibrary(recorder);
  Same("CloseDriver releases it", component.CloseDriver() && !component.ActiveHW() ? "released" : "held", "released");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string family = argc == 3 ? argv[2] : "";
  if (family != "9x" && family != "nt") {
    std::fprintf(stderr, "usage: win32_component_checks DATA_FOLDER 9x|nt\n");
    return 2;
  }
  try {
    if (!win32_check::UseFamily(family == "nt" ? VER_PLATFORM_WIN32_NT : VER_PLATFORM_WIN32_WINDOWS))
      throw std::runtime_error("the version query does not report the " + family + " family");
    CheckDetection(std::filesystem::path(argv[1]) / "portio" / "registry", family);
    family == "nt" ? CheckServicePath() : CheckLibraryPath();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
  return win32_check::failures == 0 ? 0 : 1;
}
