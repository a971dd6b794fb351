// The Win32 calls the port components make, with the arguments they use and the failures they
// handle, each with the answer Windows gives. Built against the stand-ins it runs in the
// ordinary test run; built for Windows it runs under Wine: both must give the table's
// answers. A row where Wine itself departs from Windows says why and is skipped under Wine.
// Usage: win32_call_table DATA_FOLDER (tests/data). Exit status 0 when every row holds.
#include "portio/tdlportio.h"
#include "tests/win32/prepared_system.h"

#include <windows.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr char DeviceMap[] = "HARDWARE\\DEVICEMAP\\PARALLEL PORTS";
constexpr char Resources[] = "HARDWARE\\RESOURCEMAP\\LOADED PARALLEL DRIVER RESOURCES";
constexpr char RawList[] = "\\Device\\ParallelPort0.Raw";
constexpr REGSAM ReadRights = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
constexpr DWORD ManagerRights = SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_ENUMERATE_SERVICE |
                                SC_MANAGER_QUERY_LOCK_STATUS;
constexpr char MappingName[] = "KelvariCallTable";
constexpr DWORD MappingSize = 4096;

// Handles the rows hand on to the rows after them.
struct Held {
  SC_HANDLE Manager = nullptr, Service = nullptr;
  HMODULE Library = nullptr;
  HKEY Key = nullptr;
  HANDLE Mapping = nullptr;
  const BYTE* View = nullptr;
};
Held held;

std::string Handle(const void* handle) { return handle != nullptr ? "handle" : "null " + std::to_string(GetLastError()); }
std::string Bool(BOOL result) { return result != 0 ? "TRUE" : "FALSE " + std::to_string(GetLastError()); }
std::string Code(LONG result) { return std::to_string(result); }

SC_HANDLE CreateDriverService() {
  return CreateServiceA(held.Manager, DriverServiceName, DriverDisplayName,
                        DELETE | SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS, SERVICE_KERNEL_DRIVER,
                        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, "System32\\DRIVERS\\DLPortIO.SYS",
                        DriverGroupName, nullptr, nullptr, nullptr, nullptr);
}

std::string EnumValue(DWORD index, DWORD nameSize) {
  char name[MAX_PATH] = {};
  DWORD size = nameSize;
  const LONG result = RegEnumValueA(held.Key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
  return Code(result) + " size=" + std::to_string(size) + (result == ERROR_SUCCESS ? " " + std::string(name) : "");
}

std::string QueryValue(const char* name, DWORD dataSize, bool withData) {
  BYTE data[MAX_PATH] = {};
  DWORD size = dataSize;
  DWORD type = REG_NONE;
  const LONG result = RegQueryValueExA(held.Key, name, nullptr, &type, withData ? data : nullptr, &size);
  return Code(result) + " type=" + std::to_string(type) + " size=" + std::to_string(size);
}

std::string SystemDirectoryNeeds() {
  char directory[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryA(directory, MAX_PATH);
  char tiny[2] = {};
  return GetSystemDirectoryA(tiny, sizeof tiny) == length + 1 ? "length+1" : "other";
}

struct Row {
  const char* Call;
  const char* Answer;  // as the row's run writes it
  std::function<std::string()> Run;
  const char* WineDeparture = nullptr;  // why Wine answers otherwise; the row is skipped under Wine
};

std::vector<Row> Rows(const std::filesystem::path& data) {
  const std::string absentLibrary = (data / "absent" / LibraryFileName).string();
  const std::string notALibrary = (data / "portio" / "registry" / "nt_ports.reg").string();
  const std::string recorder = win32_check::RecorderFolder().empty()
                                   ? std::string(LibraryFileName)
                                   : win32_check::RecorderFolder() + PathDelim + LibraryFileName;
  return {
      // The version query and the system directory.
      {"GetVersionExA(size 148) on the NT family", "TRUE platform=2",
       [] {
         OSVERSIONINFOA v{};
         v.dwOSVersionInfoSize = sizeof v;
         const BOOL ok = GetVersionExA(&v);
         return Bool(ok) + " platform=" + std::to_string(v.dwPlatformId);
       }},
      {"GetVersionExA(size 0)", "FALSE 122",
       [] {
         OSVERSIONINFOA v{};
         return Bool(GetVersionExA(&v));
       }},
      {"GetSystemDirectoryA(buffer of 2)", "length+1", SystemDirectoryNeeds},
      // The service manager, as TDLPortIO's steps call it.
      {"OpenSCManagerA(null, null, connect|create|enumerate|lock status)", "handle",
       [] { return Handle(held.Manager = OpenSCManagerA(nullptr, nullptr, ManagerRights)); }},
      {"OpenServiceA(DLPortIO, query status), not installed", "null 1060",
       [] { return Handle(OpenServiceA(held.Manager, DriverServiceName, SERVICE_QUERY_STATUS)); }},
      {"CreateServiceA(DLPortIO, kernel driver, demand start)", "handle",
       [] { return Handle(held.Service = CreateDriverService()); }},
      {"CreateServiceA(DLPortIO) again", "null 1073", [] { return Handle(CreateDriverService()); }},
      {"QueryServiceStatus(DLPortIO)", "TRUE state=1",
       [] {
         SERVICE_STATUS s{};
         const BOOL ok = QueryServiceStatus(held.Service, &s);
         return Bool(ok) + " state=" + std::to_string(s.dwCurrentState);
       }},
      {"StartServiceA(DLPortIO, 0, null), no driver file", "FALSE 2",
       [] { return Bool(StartServiceA(held.Service, 0, nullptr)); },
       "Wine starts a kernel driver in its winedevice.exe host, which reports the missing file as a "
       "failed DLL start-up (1114)"},
      {"ControlService(DLPortIO, stop), stopped", "FALSE 1062",
       [] {
         SERVICE_STATUS s{};
         return Bool(ControlService(held.Service, SERVICE_CONTROL_STOP, &s));
       }},
      {"DeleteService(DLPortIO)", "TRUE", [] { return Bool(DeleteService(held.Service)); }},
      {"DeleteService(DLPortIO) again, handle still open", "FALSE 1072",
       [] { return Bool(DeleteService(held.Service)); }},
      {"CreateServiceA(DLPortIO), marked for delete", "null 1072", [] { return Handle(CreateDriverService()); }},
      {"CloseServiceHandle(last handle of DLPortIO)", "TRUE", [] { return Bool(CloseServiceHandle(held.Service)); }},
      {"OpenServiceA(DLPortIO, delete) after its last handle closed", "null 1060",
       [] { return Handle(OpenServiceA(held.Manager, DriverServiceName, DELETE)); }},
      {"CloseServiceHandle(manager)", "TRUE", [] { return Bool(CloseServiceHandle(held.Manager)); }},
      {"CloseServiceHandle(null)", "FALSE 6", [] { return Bool(CloseServiceHandle(nullptr)); }},
      // The port library.
      {"LoadLibraryA(folder without it\\DLPortIO.dll)", "null 126",
       [absentLibrary] { return Handle(LoadLibraryA(absentLibrary.c_str())); }},
      {"LoadLibraryA(a text file)", "null 193", [notALibrary] { return Handle(LoadLibraryA(notALibrary.c_str())); }},
      {"LoadLibraryA(recording DLPortIO.dll)", "handle",
       [recorder] { return Handle(held.Library = LoadLibraryA(recorder.c_str())); }},
      {"GetProcAddress(DLPortIO.dll, DlPortWritePortUchar)", "handle",
       [] { return Handle(reinterpret_cast<void*>(GetProcAddress(held.Library, "DlPortWritePortUchar"))); }},
      {"GetProcAddress(DLPortIO.dll, an entry it lacks)", "null 127",
       [] { return Handle(reinterpret_cast<void*>(GetProcAddress(held.Library, "DlPortReadPortUquad"))); }},
      {"FreeLibrary(DLPortIO.dll)", "TRUE", [] { return Bool(FreeLibrary(held.Library)); }},
      // The registry, as the NT walk reads it (image nt_ports.reg).
      {"RegOpenKeyExA(HKLM, HARDWARE\\NoSuchKey)", "2",
       [] {
         HKEY key = nullptr;
         return Code(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\NoSuchKey", 0, ReadRights, &key));
       }},
      {"RegOpenKeyExA(HKLM, device map, query|enumerate)", "0",
       [] { return Code(RegOpenKeyExA(HKEY_LOCAL_MACHINE, DeviceMap, 0, ReadRights, &held.Key)); }},
      {"RegEnumValueA(device map, 0, name buffer of 4)", "234 size=4", [] { return EnumValue(0, 4); }},
      {"RegEnumValueA(device map, 0, name buffer of MAX_PATH)", "0 size=17 \\Device\\Parallel0",
       [] { return EnumValue(0, MAX_PATH); }},
      {"RegEnumValueA(device map, past the last)", "259 size=260", [] { return EnumValue(3, MAX_PATH); }},
      {"RegQueryValueExA(\\Device\\Parallel0, buffer of 4)", "234 type=1 size=17",
       [] { return QueryValue("\\Device\\Parallel0", 4, true); }},
      {"RegQueryValueExA(\\Device\\Parallel0, no buffer)", "0 type=1 size=17",
       [] { return QueryValue("\\Device\\Parallel0", 0, false); }},
      {"RegQueryValueExA(a missing value)", "2 type=0 size=260", [] { return QueryValue("\\Device\\Parallel9", MAX_PATH, true); }},
      {"RegCloseKey(device map)", "0", [] { return Code(RegCloseKey(held.Key)); }},
      {"RegOpenKeyExA(HKLM, resource map)", "0",
       [] { return Code(RegOpenKeyExA(HKEY_LOCAL_MACHINE, Resources, 0, ReadRights, &held.Key)); }},
      {"RegEnumKeyExA(resource map, 0, name buffer of 4)", "234 size=4",
       [] {
         char name[MAX_PATH] = {};
         DWORD size = 4;
         const LONG result = RegEnumKeyExA(held.Key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
         return Code(result) + " size=" + std::to_string(size);
       }},
      {"RegCloseKey(resource map)", "0", [] { return Code(RegCloseKey(held.Key)); }},
      {"RegOpenKeyExA(HKLM, resource map\\Parport)", "0",
       [] {
         return Code(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(Resources) + "\\Parport").c_str(), 0, ReadRights,
                                   &held.Key));
       }},
      {"RegQueryValueExA(a resource list, as text)", "0 type=8 size=36", [] { return QueryValue(RawList, MAX_PATH, true); }},
      {"RegQueryValueExA(a resource list, type only)", "0 type=8",
       [] {
         DWORD type = REG_NONE;
         const LONG result = RegQueryValueExA(held.Key, RawList, nullptr, &type, nullptr, nullptr);
         return Code(result) + " type=" + std::to_string(type);
       }},
      {"RegCloseKey(Parport)", "0", [] { return Code(RegCloseKey(held.Key)); }},
      // The named mapping, read-only.
      {"OpenFileMappingA(read, 0, absent)", "null 2",
       [] { return Handle(OpenFileMappingA(FILE_MAP_READ, 0, "KelvariNoSuchMapping")); }},
      {"OpenFileMappingA(read, 0, present)", "handle",
       [] { return Handle(held.Mapping = OpenFileMappingA(FILE_MAP_READ, 0, MappingName)); }},
      {"MapViewOfFile(read, 0, 0, twice its size)", "null 5",
       [] { return Handle(MapViewOfFile(held.Mapping, FILE_MAP_READ, 0, 0, 2 * MappingSize)); }},
      {"MapViewOfFile(read, 0, 0, 0)", "handle byte 200=200",
       [] {
         held.View = static_cast<const BYTE*>(MapViewOfFile(held.Mapping, FILE_MAP_READ, 0, 0, 0));
         return Handle(held.View) + (held.View != nullptr ? " byte 200=" + std::to_string(held.View[200]) : "");
       }},
      {"UnmapViewOfFile(view)", "TRUE", [] { return Bool(UnmapViewOfFile(held.View)); }},
      {"CloseHandle(mapping)", "TRUE", [] { return Bool(CloseHandle(held.Mapping)); }},
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: win32_call_table DATA_FOLDER\n");
    return 2;
  }
  const std::filesystem::path data = argv[1];
  try {
    if (!win32_check::UseFamily(VER_PLATFORM_WIN32_NT)) {
      std::fprintf(stderr, "the system does not report the NT family\n");
      return 1;
    }
    win32_check::ShowRegistryImage(data / "portio" / "registry" / "nt_ports.reg");
    win32_check::PublishMapping(MappingName, MappingSize);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "cannot prepare the table: %s\n", error.what());
    return 1;
  }
  const bool wine = win32_check::UnderWine();
  int failed = 0;
  for (const Row& row : Rows(data)) {
    if (wine && row.WineDeparture != nullptr) {
      std::printf("skip  %s: %s (Wine departs: %s)\n", row.Call, row.Answer, row.WineDeparture);
      continue;
    }
    SetLastError(ERROR_SUCCESS);
    const std::string answer = row.Run();
    const bool holds = answer == row.Answer;
    failed += holds ? 0 : 1;
    std::printf("%s  %s: %s%s\n", holds ? "ok  " : "FAIL", row.Call, answer.c_str(),
                holds ? "" : (" (Windows: " + std::string(row.Answer) + ")").c_str());
  }
  std::printf("%d of the rows differ\n", failed);
  return failed == 0 ? 0 : 1;
}
