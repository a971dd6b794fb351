// The Win32 calls the port components make, with the arguments they use and the failures they
// handle, each with the answer Windows gives: against the stand-ins and under Wine alike. A row
// where Wine itself departs from Windows says why and is skipped under Wine.
// Usage: win32_call_table DATA_FOLDER (tests/data). Exit status 0 when every row holds.
#include "tests/win32/prepared_system.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr char DeviceMap[] = "HARDWARE\\DEVICEMAP\\PARALLEL PORTS";
constexpr char Resources[] = "HARDWARE\\RESOURCEMAP\\LOADED PARALLEL DRIVER RESOURCES";
constexpr char Parport[] = "HARDWARE\\RESOURCEMAP\\LOADED PARALLEL DRIVER RESOURCES\\Parport";
constexpr char RawList[] = "\\Device\\ParallelPort0.Raw";
constexpr char MappingName[] = "KelvariCallTable";
constexpr DWORD MappingSize = 4096;
constexpr char Parallel0[] = "\\Device\\Parallel0";
constexpr DWORD NoSize = ~0U;  // RegQueryValueExA given no size at all
constexpr DWORD ManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;

std::filesystem::path dataFolder;
// Handles the rows hand on to the rows after them.
SC_HANDLE manager = nullptr;
SC_HANDLE service = nullptr;
SERVICE_STATUS status{};
HMODULE library = nullptr;
HKEY key = nullptr;
BYTE buffer[MAX_PATH];
HANDLE mapping = nullptr;

std::string Handle(const void* handle) {
  return handle != nullptr ? "handle" : "null " + std::to_string(GetLastError());
}
std::string Bool(BOOL result) { return result != 0 ? "TRUE" : "FALSE " + std::to_string(GetLastError()); }
std::string Code(LONG result) { return std::to_string(result); }

std::string Version(DWORD structSize) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = structSize;
  const BOOL ok = GetVersionExA(&version);
  return Bool(ok) + " platform=" + std::to_string(version.dwPlatformId);
}

std::string SystemDirectoryNeeds() {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  return "length+" + std::to_string(GetSystemDirectoryA(directory, 2) - length);
}

SC_HANDLE CreateDriverService() {
  return CreateServiceA(manager, DriverServiceName, DriverDisplayName,
                        DELETE | SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS, SERVICE_KERNEL_DRIVER,
                        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "System32\\DRIVERS\\DLPortIO.SYS",
                        DriverGroupName, nullptr, nullptr, nullptr, nullptr);
}

std::string Status() {
  const BOOL ok = QueryServiceStatus(service, &status);
  return Bool(ok) + " state=" + std::to_string(status.dwCurrentState);
}

std::string Load(const std::filesystem::path& file) { return Handle(library = LoadLibraryA(file.string().c_str())); }
std::string Entry(const char* name) { return Handle(reinterpret_cast<void*>(GetProcAddress(library, name))); }

std::string Open(const char* path) {
  if (key != nullptr) RegCloseKey(key);
  key = nullptr;
  return Code(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS, &key));
}

// RegEnumKeyExA or RegEnumValueA on the key held, into a name buffer of `nameSize`.
std::string Enum(bool subkeys, DWORD index, DWORD nameSize) {
  char name[MAX_PATH] = {};
  DWORD size = nameSize;
  const LONG result = subkeys ? RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr)
                              : RegEnumValueA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  std::string answer = Code(result) + " size=" + std::to_string(size);
  if (result == ERROR_SUCCESS) answer.append(" ").append(name);
  return answer;
}

std::string Query(const char* name, BYTE* data, DWORD dataSize) {
  DWORD type = REG_NONE;
  DWORD size = dataSize;
  const LONG result = RegQueryValueExA(key, name, nullptr, &type, data, dataSize == NoSize ? nullptr : &size);
  return Code(result) + " type=" + std::to_string(type) + (dataSize == NoSize ? "" : " size=" + std::to_string(size));
}

struct Row {
  const char* Call;
  const char* Answer;
  std::string (*Run)();
  const char* WineDeparture = nullptr;  // why Wine answers otherwise; the row is skipped under Wine
};

const std::vector<Row> Rows{
    {"GetVersionExA(size 148)", "TRUE platform=2", [] { return Version(sizeof(OSVERSIONINFOA)); }},
    {"GetVersionExA(size 0)", "FALSE 122 platform=0", [] { return Version(0); }},
    {"GetSystemDirectoryA(buffer of 2)", "length+1", SystemDirectoryNeeds},
    // The service manager, as TDLPortIO's steps call it.
    {"OpenSCManagerA", "handle", [] { return Handle(manager = OpenSCManagerA(nullptr, nullptr, ManagerRights)); }},
    {"OpenServiceA, not installed", "null 1060",
     [] { return Handle(OpenServiceA(manager, DriverServiceName, SERVICE_QUERY_STATUS)); }},
    {"CreateServiceA", "handle", [] { return Handle(service = CreateDriverService()); }},
    {"CreateServiceA again", "null 1073", [] { return Handle(CreateDriverService()); }},
    {"QueryServiceStatus", "TRUE state=1", Status},
    {"StartServiceA, no driver file", "FALSE 2", [] { return Bool(StartServiceA(service, 0, nullptr)); },
     "Wine starts a kernel driver in its winedevice.exe host, which reports the missing file as a "
     "failed DLL start-up (1114)"},
    {"ControlService(stop), stopped", "FALSE 1062",
     [] { return Bool(ControlService(service, SERVICE_CONTROL_STOP, &status)); }},
    {"DeleteService", "TRUE", [] { return Bool(DeleteService(service)); }},
    {"CreateServiceA, marked for delete", "null 1072", [] { return Handle(CreateDriverService()); }},
    {"CloseServiceHandle", "TRUE", [] { return Bool(CloseServiceHandle(service)); }},
    {"CloseServiceHandle(null)", "FALSE 6", [] { return Bool(CloseServiceHandle(nullptr)); }},
    // The port library.
    {"LoadLibraryA, absent", "null 126", [] { return Load(dataFolder / "absent" / LibraryFileName); }},
    {"LoadLibraryA, a text file", "null 193", [] { return Load(dataFolder / "portio" / "registry" / "nt_ports.reg"); }},
    {"LoadLibraryA, recording DLPortIO.dll", "handle", [] { return Load(win32_check::RecorderFile()); }},
    {"GetProcAddress(DlPortWritePortUchar)", "handle", [] { return Entry("DlPortWritePortUchar"); }},
    {"GetProcAddress, an entry it lacks", "null 127", [] { return Entry("DlPortReadPortUquad"); }},
    // The registry, as the NT walk reads it (image nt_ports.reg); each open closes the key before.
    {"RegOpenKeyExA, no such key", "2", [] { return Open("HARDWARE\\NoSuchKey"); }},
    {"RegOpenKeyExA(device map)", "0", [] { return Open(DeviceMap); }},
    {"RegEnumValueA, name buffer of 4", "234 size=4", [] { return Enum(false, 0, 4); }},
    {"RegEnumValueA", "0 size=17 \\Device\\Parallel0", [] { return Enum(false, 0, MAX_PATH); }},
    {"RegEnumValueA, past the last", "259 size=260", [] { return Enum(false, 3, MAX_PATH); }},
    {"RegQueryValueExA, buffer of 4", "234 type=1 size=17", [] { return Query(Parallel0, buffer, 4); }},
    {"RegQueryValueExA, no buffer", "0 type=1 size=17", [] { return Query(Parallel0, nullptr, 0); }},
    {"RegQueryValueExA, missing value", "2 type=0 size=260", [] { return Query("Parallel9", buffer, MAX_PATH); }},
    {"RegOpenKeyExA(resource map)", "0", [] { return Open(Resources); }},
    {"RegEnumKeyExA, name buffer of 4", "234 size=4", [] { return Enum(true, 0, 4); }},
    {"RegOpenKeyExA(resource map\\Parport)", "0", [] { return Open(Parport); }},
    {"RegQueryValueExA, resource list", "0 type=8 size=36", [] { return Query(RawList, buffer, MAX_PATH); }},
    {"RegQueryValueExA, resource list, type only", "0 type=8", [] { return Query(RawList, nullptr, NoSize); }},
    // The named mapping, read-only.
    {"OpenFileMappingA, absent", "null 2", [] { return Handle(OpenFileMappingA(FILE_MAP_READ, 0, "KelvariNone")); }},
    {"OpenFileMappingA", "handle", [] { return Handle(mapping = OpenFileMappingA(FILE_MAP_READ, 0, MappingName)); }},
    {"MapViewOfFile, twice its size", "null 5",
     [] { return Handle(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 2 * MappingSize)); }},
    {"MapViewOfFile, all of it", "handle byte 200=200",
     [] {
       const auto* view = static_cast<const BYTE*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
       return Handle(view) + (view != nullptr ? " byte 200=" + std::to_string(view[200]) : "");
     }},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: win32_call_table DATA_FOLDER\n");
    return 2;
  }
  dataFolder = argv[1];
  try {
    if (!win32_check::UseFamily(VER_PLATFORM_WIN32_NT)) throw std::runtime_error("the system is not of the NT family");
    win32_check::ShowRegistryImage(dataFolder / "portio" / "registry" / "nt_ports.reg");
    win32_check::PublishMapping(MappingName, MappingSize);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "cannot prepare the table: %s\n", error.what());
    return 1;
  }
  for (const Row& row : Rows) {
    if (win32_check::UnderWine() && row.WineDeparture != nullptr) {
      std::printf("skip  %s: %s (Wine departs: %s)\n", row.Call, row.Answer, row.WineDeparture);
      continue;
    }
    SetLastError(ERROR_SUCCESS);
    win32_check::Same(row.Call, row.Run(), row.Answer);
  }
  std::printf("%d of the rows differ\n", win32_check::failures);
  return win32_check::failures == 0 ? 0 : 1;
}
