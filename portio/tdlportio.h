// TDLPortIO: the component that opens the port library DLPortIO.dll, binds its twelve
// entry points and reads and writes I/O ports through them. On the NT family it also
// installs and starts the library's kernel driver as the service "DLPortIO" when opened,
// and on closing stops and removes exactly what it installed and started itself.
//
// The component raises nothing: service steps return booleans, OpenDriver leaves its
// outcome in ActiveHW, and a failed service step leaves its message in LastError, which
// nothing clears. Port calls on an inactive component reach harmless stand-ins (reads give
// 0, writes are dropped), never an unbound or released entry point.
// Not here: the printer-port descendant and the design-time registration.
#pragma once

#include "portlib/dlportio.h"
#include "toolkit/toolkit.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>

inline constexpr char LibraryFileName[] = "DLPortIO.dll";
inline constexpr char DriverServiceName[] = "DLPortIO";
inline constexpr char DriverDisplayName[] = "DriverLINX Port I/O Driver";
inline constexpr char DriverGroupName[] = "SST miniport drivers";

// One element of a PortControl batch.
struct TPortRec {
  std::uint16_t Port;
  std::uint8_t Value;  // byte to write, or receives the byte read
  bool IsWrite;        // true: write Value to Port; false: read Port into Value
};

// What PortCommand does with one record; any other code skips the record.
enum TPortAction : std::int8_t {
  paReadByte = 0,    // low 8 bits of Value = byte read
  paReadWord = 1,    // low 16 bits of Value = word read
  paReadDWord = 2,   // Value = double word read
  paWriteByte = 3,   // write the low 8 bits of Value
  paWriteWord = 4,   // write the low 16 bits of Value
  paWriteDWord = 5,  // write Value
};

// One element of a PortCommand batch.
struct TPortCommand {
  std::uint16_t Port;
  std::uint32_t Value;  // byte and word actions touch only its low 8 or 16 bits
  TPortAction Action;
};

class TDLPortIO : public TComponent {
 public:
  explicit TDLPortIO(TComponent* Owner);
  ~TDLPortIO() override;

  void OpenDriver();
  bool CloseDriver();

  std::uint8_t GetPortByte(std::uint16_t Port) { return FReadPortUchar(Port); }
  void SetPortByte(std::uint16_t Port, std::uint8_t Value) { FWritePortUchar(Port, Value); }
  void PortControl(TPortRec* Ports, std::uint16_t NumPorts);
  void PortCommand(TPortCommand* Ports, std::uint16_t NumPorts);

  // The steps of OpenDriver and CloseDriver; true on success.
  bool ConnectSCM();
  bool DisconnectSCM();
  bool DriverInstall();
  bool DriverStart();
  bool DriverStop();
  bool DriverRemove();

  // Folder of DLPortIO.SYS; defaults to the system directory + "/DRIVERS".
  const std::string& DriverPath() const { return FDriverPath; }
  void SetDriverPath(std::string Value) { FDriverPath = std::move(Value); }
  // Folder of DLPortIO.dll; empty leaves the choice to the library search.
  const std::string& DLLPath() const { return FDLLPath; }
  void SetDLLPath(std::string Value) { FDLLPath = std::move(Value); }
  bool ActiveHW() const { return FActiveHW; }
  // Held for the component's users; no operation depends on it.
  bool HardAccess() const { return FHardAccess; }
  void SetHardAccess(bool Value) { FHardAccess = Value; }
  const std::string& LastError() const { return FLastError; }

 private:
  void BindEntryPoints();
  void UnbindEntryPoints();
  bool AllBound() const;
  bool Fail(const char* Step, std::int32_t Code);

  bool FActiveHW = false;
  bool FHardAccess = true;
  bool FIsWinNT = false;
  HMODULE FDLLHandle = nullptr;
  SC_HANDLE FSCMHandle = nullptr;
  std::string FDriverPath;
  std::string FDLLPath;
  std::string FLastError;
  bool FDrvWasInstalled = false;
  bool FDrvWasRunning = false;
  DlPortReadPortUcharFn FReadPortUchar;
  DlPortReadPortUshortFn FReadPortUshort;
  DlPortReadPortUlongFn FReadPortUlong;
  DlPortWritePortUcharFn FWritePortUchar;
  DlPortWritePortUshortFn FWritePortUshort;
  DlPortWritePortUlongFn FWritePortUlong;
  DlPortReadPortBufferUcharFn FReadPortBufferUchar;
  DlPortReadPortBufferUshortFn FReadPortBufferUshort;
  DlPortReadPortBufferUlongFn FReadPortBufferUlong;
  DlPortWritePortBufferUcharFn FWritePortBufferUchar;
  DlPortWritePortBufferUshortFn FWritePortBufferUshort;
  DlPortWritePortBufferUlongFn FWritePortBufferUlong;
};
