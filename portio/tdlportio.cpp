// TDLPortIO: service steps, library binding and batch port access.
#include "portio/tdlportio.h"

#include "portlib/dlportio.h"
#include "toolkit/toolkit.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace {

constexpr char DriverFileExtension[] = ".SYS";
constexpr char DriversFolder[] = "DRIVERS";

constexpr DWORD FullManagerRights =
    SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE | SC_MANAGER_ENUMERATE_SERVICE | SC_MANAGER_QUERY_LOCK_STATUS;
constexpr DWORD ReducedManagerRights = FullManagerRights & ~DWORD{SC_MANAGER_CREATE_SERVICE};
constexpr DWORD CreatedServiceRights = DELETE | SERVICE_STOP | SERVICE_START | SERVICE_QUERY_STATUS;
constexpr std::int32_t UnexpectedServiceState = -1;

// Error codes are shown as signed decimal numbers.
std::int32_t LastErrorCode() { return static_cast<std::int32_t>(GetLastError()); }

// What the slots hold while no library is bound: reads give 0, writes are dropped.
std::uint8_t InactiveReadPortUchar(std::uint32_t) { return 0; }
std::uint16_t InactiveReadPortUshort(std::uint32_t) { return 0; }
std::uint32_t InactiveReadPortUlong(std::uint32_t) { return 0; }
void InactiveWritePortUchar(std::uint32_t, std::uint8_t) {}
void InactiveWritePortUshort(std::uint32_t, std::uint16_t) {}
void InactiveWritePortUlong(std::uint32_t, std::uint32_t) {}
template <typename T>
void InactiveReadPortBuffer(std::uint32_t, T* Buffer, std::uint32_t Count) {
  if (Buffer != nullptr) std::fill(Buffer, Buffer + Count, T{0});
}
template <typename T>
void InactiveWritePortBuffer(std::uint32_t, const T*, std::uint32_t) {}

// Through void (*)(), the type-erased function pointer: Windows' own FARPROC returns INT_PTR.
template <typename Fn>
Fn Lookup(HMODULE Library, int EntryPoint) {
  using AnyFunction = void (*)();
  return reinterpret_cast<Fn>(
      reinterpret_cast<AnyFunction>(GetProcAddress(Library, dlportio::EntryPointNames[EntryPoint])));
}

}  // namespace

TDLPortIO::TDLPortIO(TComponent* Owner) : TComponent(Owner) {
  UnbindEntryPoints();

  OSVERSIONINFOA Version{};
  Version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&Version);
  FIsWinNT = Version.dwPlatformId == VER_PLATFORM_WIN32_NT;

  // A failed query, or a directory too long for the buffer, leaves the directory empty.
  std::array<char, MAX_PATH> SystemDirectory{};
  const UINT Length = GetSystemDirectoryA(SystemDirectory.data(), MAX_PATH);
  const std::string Directory = Length < MAX_PATH ? std::string(SystemDirectory.data(), Length) : std::string();
  FDriverPath = Directory + PathDelim + DriversFolder;
}

TDLPortIO::~TDLPortIO() {
  if (FActiveHW) CloseDriver();
}

void TDLPortIO::OpenDriver() {
  if (FActiveHW) return;
  if (FIsWinNT) {
    if (!ConnectSCM()) return;
    if (!DriverInstall()) {
      DisconnectSCM();
      return;
    }
    if (!DriverStart()) {
      DriverRemove();
      DisconnectSCM();
      return;
    }
  }

  const std::string LibraryPath = FDLLPath.empty() ? std::string(LibraryFileName)
                                                   : FDLLPath + PathDelim + LibraryFileName;
  FDLLHandle = LoadLibraryA(LibraryPath.c_str());
  if (FDLLHandle != nullptr) {
    BindEntryPoints();
    FActiveHW = AllBound();
  }
  if (FActiveHW) return;

  UnbindEntryPoints();
  if (FIsWinNT) {
    DriverStop();
    DriverRemove();
    DisconnectSCM();
  }
  if (FDLLHandle != nullptr) {
    FreeLibrary(FDLLHandle);
    FDLLHandle = nullptr;
  }
}

bool TDLPortIO::CloseDriver() {
  if (!FActiveHW) return false;
  if (FIsWinNT) {
    if (!DriverStop()) return false;
    if (!DriverRemove()) return false;
    DisconnectSCM();
  }
  if (FreeLibrary(FDLLHandle) == 0) return false;
  FDLLHandle = nullptr;
  FActiveHW = false;
  UnbindEntryPoints();
  return true;
}

void TDLPortIO::PortControl(TPortRec* Ports, std::uint16_t NumPorts) {
  for (std::uint16_t i = 0; i < NumPorts; ++i) {
    TPortRec& Record = Ports[i];
    if (Record.IsWrite) {
      FWritePortUchar(Record.Port, Record.Value);
    } else {
      Record.Value = FReadPortUchar(Record.Port);
    }
  }
}

void TDLPortIO::PortCommand(TPortCommand* Ports, std::uint16_t NumPorts) {
  constexpr std::uint32_t ByteMask = 0xFF;
  constexpr std::uint32_t WordMask = 0xFFFF;
  for (std::uint16_t i = 0; i < NumPorts; ++i) {
    TPortCommand& Record = Ports[i];
    switch (Record.Action) {
      case paReadByte:
        Record.Value = (Record.Value & ~ByteMask) | FReadPortUchar(Record.Port);
        break;
      case paReadWord:
        Record.Value = (Record.Value & ~WordMask) | FReadPortUshort(Record.Port);
        break;
      case paReadDWord:
        Record.Value = FReadPortUlong(Record.Port);
        break;
      case paWriteByte:
        FWritePortUchar(Record.Port, static_cast<std::uint8_t>(Record.Value & ByteMask));
        break;
      case paWriteWord:
        FWritePortUshort(Record.Port, static_cast<std::uint16_t>(Record.Value & WordMask));
        break;
      case paWriteDWord:
        FWritePortUlong(Record.Port, Record.Value);
        break;
      default:
        break;
    }
  }
}

bool TDLPortIO::ConnectSCM() {
  FSCMHandle = OpenSCManagerA(nullptr, nullptr, FullManagerRights);
  if (FSCMHandle == nullptr && GetLastError() == ERROR_ACCESS_DENIED)
    FSCMHandle = OpenSCManagerA(nullptr, nullptr, ReducedManagerRights);
  if (FSCMHandle == nullptr) return Fail("ConnectSCM", LastErrorCode());
  return true;
}

bool TDLPortIO::DisconnectSCM() {
  if (FSCMHandle == nullptr) return false;
  const BOOL Closed = CloseServiceHandle(FSCMHandle);
  FSCMHandle = nullptr;
  return Closed != 0;
}

bool TDLPortIO::DriverInstall() {
  FDrvWasInstalled = false;
  const std::string DriverFile = FDriverPath + PathDelim + DriverServiceName + DriverFileExtension;

  SC_HANDLE Service = OpenServiceA(FSCMHandle, DriverServiceName, SERVICE_QUERY_STATUS);
  if (Service != nullptr) {
    FDrvWasInstalled = true;
    CloseServiceHandle(Service);
    return true;
  }

  Service = CreateServiceA(FSCMHandle, DriverServiceName, DriverDisplayName, CreatedServiceRights,
                           SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, DriverFile.c_str(),
                           DriverGroupName, nullptr, nullptr, nullptr, nullptr);
  if (Service == nullptr) return Fail("DriverInstall", LastErrorCode());
  CloseServiceHandle(Service);
  return true;
}

bool TDLPortIO::DriverStart() {
  FDrvWasRunning = false;
  std::optional<std::int32_t> ErrorCode;

  SC_HANDLE Service = OpenServiceA(FSCMHandle, DriverServiceName, SERVICE_QUERY_STATUS);
  if (Service == nullptr) return Fail("DriverStart", LastErrorCode());

  SERVICE_STATUS Status{};
  const bool Queried = QueryServiceStatus(Service, &Status) != 0;
  if (!Queried) ErrorCode = LastErrorCode();
  CloseServiceHandle(Service);

  if (Queried) {
    if (Status.dwCurrentState == SERVICE_RUNNING) {
      FDrvWasRunning = true;
    } else if (Status.dwCurrentState == SERVICE_STOPPED) {
      Service = OpenServiceA(FSCMHandle, DriverServiceName, SERVICE_START);
      if (Service == nullptr) {
        ErrorCode = LastErrorCode();
      } else {
        if (StartServiceA(Service, 0, nullptr) == 0) ErrorCode = LastErrorCode();
        CloseServiceHandle(Service);
      }
    } else {
      ErrorCode = UnexpectedServiceState;
    }
  }

  if (ErrorCode) return Fail("DriverStart", *ErrorCode);
  return true;
}

bool TDLPortIO::DriverStop() {
  if (FDrvWasRunning) return true;
  SC_HANDLE Service = OpenServiceA(FSCMHandle, DriverServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS);
  if (Service == nullptr) return Fail("DriverStop", LastErrorCode());
  SERVICE_STATUS Status{};
  const bool Stopped = ControlService(Service, SERVICE_CONTROL_STOP, &Status) != 0;
  const std::int32_t Code = LastErrorCode();
  CloseServiceHandle(Service);
  if (!Stopped) return Fail("DriverStop", Code);
  return true;
}

bool TDLPortIO::DriverRemove() {
  if (FDrvWasInstalled) return true;
  SC_HANDLE Service = OpenServiceA(FSCMHandle, DriverServiceName, DELETE);
  if (Service == nullptr) return Fail("DriverRemove", LastErrorCode());
  const bool Deleted = DeleteService(Service) != 0;
  const std::int32_t Code = LastErrorCode();
  CloseServiceHandle(Service);
  if (!Deleted) return Fail("DriverRemove", Code);
  return true;
}

void TDLPortIO::BindEntryPoints() {
  FReadPortUchar = Lookup<DlPortReadPortUcharFn>(FDLLHandle, 0);
  FReadPortUshort = Lookup<DlPortReadPortUshortFn>(FDLLHandle, 1);
  FReadPortUlong = Lookup<DlPortReadPortUlongFn>(FDLLHandle, 2);
  FWritePortUchar = Lookup<DlPortWritePortUcharFn>(FDLLHandle, 3);
  FWritePortUshort = Lookup<DlPortWritePortUshortFn>(FDLLHandle, 4);
  FWritePortUlong = Lookup<DlPortWritePortUlongFn>(FDLLHandle, 5);
  FReadPortBufferUchar = Lookup<DlPortReadPortBufferUcharFn>(FDLLHandle, 6);
  FReadPortBufferUshort = Lookup<DlPortReadPortBufferUshortFn>(FDLLHandle, 7);
  FReadPortBufferUlong = Lookup<DlPortReadPortBufferUlongFn>(FDLLHandle, 8);
  FWritePortBufferUchar = Lookup<DlPortWritePortBufferUcharFn>(FDLLHandle, 9);
  FWritePortBufferUshort = Lookup<DlPortWritePortBufferUshortFn>(FDLLHandle, 10);
  FWritePortBufferUlong = Lookup<DlPortWritePortBufferUlongFn>(FDLLHandle, 11);
}

void TDLPortIO::UnbindEntryPoints() {
  FReadPortUchar = InactiveReadPortUchar;
  FReadPortUshort = InactiveReadPortUshort;
  FReadPortUlong = InactiveReadPortUlong;
  FWritePortUchar = InactiveWritePortUchar;
  FWritePortUshort = InactiveWritePortUshort;
  FWritePortUlong = InactiveWritePortUlong;
  FReadPortBufferUchar = InactiveReadPortBuffer<std::uint8_t>;
  FReadPortBufferUshort = InactiveReadPortBuffer<std::uint16_t>;
  FReadPortBufferUlong = InactiveReadPortBuffer<std::uint32_t>;
  FWritePortBufferUchar = InactiveWritePortBuffer<std::uint8_t>;
  FWritePortBufferUshort = InactiveWritePortBuffer<std::uint16_t>;
  FWritePortBufferUlong = InactiveWritePortBuffer<std::uint32_t>;
}

bool TDLPortIO::AllBound() const {
  return FReadPortUchar != nullptr && FReadPortUshort != nullptr && FReadPortUlong != nullptr &&
         FWritePortUchar != nullptr && FWritePortUshort != nullptr && FWritePortUlong != nullptr &&
         FReadPortBufferUchar != nullptr && FReadPortBufferUshort != nullptr && FReadPortBufferUlong != nullptr &&
         FWritePortBufferUchar != nullptr && FWritePortBufferUshort != nullptr && FWritePortBufferUlong != nullptr;
}

bool TDLPortIO::Fail(const char* Step, std::int32_t Code) {
  FLastError = std::string(Step) + ": Error #" + IntToStr(Code);
  return false;
}
