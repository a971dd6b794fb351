// TDLPrinterPortIO: the two registry walks that find the ports, the selection of a port,
// and the pin and character operations on the selected port.
#include "portio/tdlprinterportio.h"


#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr REGSAM ReadRights = KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS;
constexpr DWORD TextBufferSize = MAX_PATH;  // names, key paths and string values
constexpr DWORD BinaryBufferSize = 128;     // "Allocation" and resource lists
constexpr long HighestLpt = 8;

// Windows 95/98.
constexpr char DeviceNodes[] = "Config Manager\\Enum";  // under HKEY_DYN_DATA
constexpr char HardwareKeys[] = "Enum\\";               // under HKEY_LOCAL_MACHINE
constexpr char LptPrefix[] = "LPT";
constexpr std::uint16_t IoRangeMarker = 12;  // "Allocation" word that precedes a base
constexpr std::size_t LastMarkerWord = 62;

// NT family, all under HKEY_LOCAL_MACHINE.
constexpr char DeviceMap[] = "HARDWARE\\DEVICEMAP\\PARALLEL PORTS";
constexpr char ParportResources[] = "HARDWARE\\RESOURCEMAP\\LOADED PARALLEL DRIVER RESOURCES\\Parport";
constexpr char DosDeviceLptPrefix[] = "\\DosDevices\\LPT";
constexpr char DevicePrefix[] = "\\Device\\Parallel";
constexpr char RawResourcesPrefix[] = "\\Device\\ParallelPort";
constexpr char RawResourcesSuffix[] = ".Raw";
constexpr std::size_t ResourceListMinimum = 26;
constexpr std::size_t ResourceListBaseOffset = 24;  // low word of the first port range's start

// Registers, relative to the base address.
constexpr std::uint16_t DataRegister = 0;
constexpr std::uint16_t StatusRegister = 1;
constexpr std::uint16_t ControlRegister = 2;

// Control register bits; the connector inverts strobe, auto-feed and select-in.
constexpr std::uint8_t ControlStrobe = 0x01;    // pin 1
constexpr std::uint8_t ControlAutoFeed = 0x02;  // pin 14
constexpr std::uint8_t ControlInit = 0x04;      // pin 16
constexpr std::uint8_t ControlSelectIn = 0x08;  // pin 17
constexpr std::uint8_t StatusBusy = 0x80;       // pin 11, inverted: 1 = not busy

// Strobe asserted and released, with select-in asserted, init and auto-feed at rest,
// interrupt off and the data lines driven.
constexpr std::uint8_t PrintStrobeOn = ControlSelectIn | ControlInit | ControlStrobe;  // 0x0D
constexpr std::uint8_t PrintStrobeOff = ControlSelectIn | ControlInit;                // 0x0C
constexpr DWORD StrobeMilliseconds = 1;

// Where a connector pin lies. HighWhenSet: the level is high when the bit is 1 (false for
// the pins the port inverts).
struct PinLine {
  std::optional<std::uint16_t> Register;  // none: not a signal pin
  std::uint8_t Mask;
  bool HighWhenSet;
  bool Output;
};

constexpr std::array<PinLine, 18> PinMap{{
    {std::nullopt, 0x00, false, false},       // 0
    {ControlRegister, ControlStrobe, false, true},  // 1 strobe
    {DataRegister, 0x01, true, true},         // 2 data 0
    {DataRegister, 0x02, true, true},         // 3
    {DataRegister, 0x04, true, true},         // 4
    {DataRegister, 0x08, true, true},         // 5
    {DataRegister, 0x10, true, true},         // 6
    {DataRegister, 0x20, true, true},         // 7
    {DataRegister, 0x40, true, true},         // 8
    {DataRegister, 0x80, true, true},         // 9 data 7
    {StatusRegister, 0x40, true, false},      // 10 acknowledge
    {StatusRegister, StatusBusy, false, false},     // 11 busy
    {StatusRegister, 0x20, true, false},      // 12 paper end
    {StatusRegister, 0x10, true, false},      // 13 select out
    {ControlRegister, ControlAutoFeed, false, true},  // 14 auto-feed
    {StatusRegister, 0x08, true, false},      // 15 error
    {ControlRegister, ControlInit, true, true},     // 16 initialise
    {ControlRegister, ControlSelectIn, false, true},  // 17 select-in
}};

const PinLine* LineOf(std::uint8_t Pin) {
  if (Pin >= PinMap.size() || !PinMap[Pin].Register) return nullptr;
  return &PinMap[Pin];
}

// A key opened for reading, closed at the latest when it goes out of scope.
class RegKey {
 public:
  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { Close(); }

  bool Open(HKEY Root, const std::string& Path) {
    Close();
    if (Path.size() >= TextBufferSize) return false;  // does not fit the path buffer
    return RegOpenKeyExA(Root, Path.c_str(), 0, ReadRights, &FKey) == ERROR_SUCCESS;
  }
  void Close() {
    if (FKey != nullptr) RegCloseKey(FKey);
    FKey = nullptr;
  }
  HKEY Handle() const { return FKey; }

 private:
  HKEY FKey = nullptr;
};

enum class NameKind { Subkeys, Values };

// Every name under the key, in enumeration order. A name too long for the buffer is left
// out; an error other than the end of the list ends it.
std::vector<std::string> ListNames(const RegKey& Key, NameKind Kind) {
  std::vector<std::string> Names;
  for (DWORD Index = 0;; ++Index) {
    std::array<char, TextBufferSize> Name{};
    DWORD Size = TextBufferSize;
    const LONG Result = Kind == NameKind::Subkeys
                            ? RegEnumKeyExA(Key.Handle(), Index, Name.data(), &Size, nullptr, nullptr, nullptr, nullptr)
                            : RegEnumValueA(Key.Handle(), Index, Name.data(), &Size, nullptr, nullptr, nullptr, nullptr);
    if (Result == static_cast<LONG>(ERROR_MORE_DATA)) continue;
    if (Result != ERROR_SUCCESS) break;
    Names.emplace_back(Name.data(), ::strnlen(Name.data(), TextBufferSize - 1));
  }
  return Names;
}

// A REG_SZ value read into the text buffer: the text up to its terminator or the end of
// the data. None when the value is missing, of another type or too long for the buffer.
std::optional<std::string> ReadText(const RegKey& Key, const char* Name) {
  std::array<char, TextBufferSize> Text{};
  DWORD Size = TextBufferSize;
  DWORD Type = REG_NONE;
  if (RegQueryValueExA(Key.Handle(), Name, nullptr, &Type, reinterpret_cast<LPBYTE>(Text.data()), &Size) !=
          ERROR_SUCCESS ||
      Type != REG_SZ)
    return std::nullopt;
  return std::string(Text.data(), ::strnlen(Text.data(), std::min(Size, TextBufferSize)));
}

// A value of the given type read into the binary buffer; none when it is missing, of
// another type or longer than the buffer.
std::optional<std::vector<BYTE>> ReadBinary(const RegKey& Key, const char* Name, DWORD WantedType) {
  std::array<BYTE, BinaryBufferSize> Data{};
  DWORD Size = BinaryBufferSize;
  DWORD Type = REG_NONE;
  if (RegQueryValueExA(Key.Handle(), Name, nullptr, &Type, Data.data(), &Size) != ERROR_SUCCESS || Type != WantedType)
    return std::nullopt;
  return std::vector<BYTE>(Data.begin(), Data.begin() + std::min(Size, BinaryBufferSize));
}

// Whether a device node reports a problem: none when "Problem" is missing or not binary;
// true when it cannot be read or holds any byte other than 0.
std::optional<bool> DeviceProblem(const RegKey& Node) {
  DWORD Type = REG_NONE;
  DWORD Size = 0;
  if (RegQueryValueExA(Node.Handle(), "Problem", nullptr, &Type, nullptr, &Size) != ERROR_SUCCESS || Type != REG_BINARY)
    return std::nullopt;
  std::vector<BYTE> Data(Size);
  DWORD ReadSize = Size;
  if (RegQueryValueExA(Node.Handle(), "Problem", nullptr, nullptr, Data.data(), &ReadSize) != ERROR_SUCCESS)
    return true;
  Data.resize(std::min(ReadSize, Size));
  for (const BYTE Byte : Data)
    if (Byte != 0) return true;
  return false;
}

// The base in an "Allocation": the word after the first word 12 among words 0 to 62 that is
// followed by a word other than 0.
std::optional<std::uint16_t> AllocatedBase(const std::vector<BYTE>& Allocation) {
  const auto Word = [&](std::size_t k) {
    return static_cast<std::uint16_t>(Allocation[2 * k] | Allocation[2 * k + 1] << 8);
  };
  const std::size_t Words = Allocation.size() / 2;
  for (std::size_t k = 0; k <= LastMarkerWord && k + 1 < Words; ++k)
    if (Word(k) == IoRangeMarker && Word(k + 1) != 0) return Word(k + 1);
  return std::nullopt;
}

// The LPT number in the text that follows an "LPT": a decimal long as strtol reads it.
long LptNumber(std::string_view Text, std::size_t PrefixAt, std::size_t PrefixLength) {
  const std::string Rest(Text.substr(PrefixAt + PrefixLength));
  return std::strtol(Rest.c_str(), nullptr, 10);
}

}  // namespace

TDLPrinterPortIO::TDLPrinterPortIO(TComponent* Owner) : TDLPortIO(Owner) {
  DetectPorts();
  SetLPTNumber(1);
}

TDLPrinterPortIO::~TDLPrinterPortIO() = default;

void TDLPrinterPortIO::DetectPorts() {
  OSVERSIONINFOA Version{};
  Version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&Version);
  if (Version.dwPlatformId == VER_PLATFORM_WIN32_NT) {
    DetectPortsNT();
  } else {
    DetectPorts9x();
  }
}

void TDLPrinterPortIO::DetectPorts9x() {
  FPortCount = 0;
  FPortBases.fill(0);

  std::vector<std::string> Devices;
  {
    RegKey Enum;
    if (!Enum.Open(HKEY_DYN_DATA, DeviceNodes)) return;
    Devices = ListNames(Enum, NameKind::Subkeys);
  }

  for (const std::string& Device : Devices) {
    const std::string NodePath = std::string(DeviceNodes) + '\\' + Device;
    RegKey Node;
    if (!Node.Open(HKEY_DYN_DATA, NodePath)) continue;
    const std::optional<bool> Problem = DeviceProblem(Node);
    if (!Problem) continue;
    const std::optional<std::string> HardwareKey = ReadText(Node, "HardwareKey");
    if (*Problem || !HardwareKey || HardwareKey->empty()) continue;
    Node.Close();

    RegKey Port;
    if (!Port.Open(HKEY_LOCAL_MACHINE, HardwareKeys + *HardwareKey)) continue;
    const std::string PortName = ReadText(Port, "PortName").value_or("");
    const std::size_t Lpt = PortName.find(LptPrefix);
    if (Lpt == std::string::npos) continue;
    const long Number = LptNumber(PortName, Lpt, std::strlen(LptPrefix));
    Port.Close();

    if (!Node.Open(HKEY_DYN_DATA, NodePath)) continue;
    const std::optional<std::vector<BYTE>> Allocation = ReadBinary(Node, "Allocation", REG_BINARY);
    if (!Allocation) continue;
    const std::optional<std::uint16_t> Base = AllocatedBase(*Allocation);
    if (Base) AcceptPort(Number, *Base);
  }
}

void TDLPrinterPortIO::DetectPortsNT() {
  FPortCount = 0;
  FPortBases.fill(0);

  std::vector<std::string> Devices;
  {
    RegKey Map;
    if (!Map.Open(HKEY_LOCAL_MACHINE, DeviceMap)) return;
    Devices = ListNames(Map, NameKind::Values);
  }

  for (const std::string& Device : Devices) {
    std::string DosName;
    {
      RegKey Map;
      if (Map.Open(HKEY_LOCAL_MACHINE, DeviceMap)) DosName = ReadText(Map, Device.c_str()).value_or("");
    }
    const std::size_t Lpt = DosName.find(DosDeviceLptPrefix);
    if (Lpt == std::string::npos) continue;
    const long Number = LptNumber(DosName, Lpt, std::strlen(DosDeviceLptPrefix));
    const std::size_t Parallel = Device.find(DevicePrefix);
    if (Parallel == std::string::npos) continue;
    const std::string Suffix = Device.substr(Parallel + std::strlen(DevicePrefix));

    RegKey Resources;
    if (!Resources.Open(HKEY_LOCAL_MACHINE, ParportResources)) continue;
    const std::string RawName = RawResourcesPrefix + Suffix + RawResourcesSuffix;
    if (RawName.size() >= TextBufferSize) continue;
    DWORD Type = REG_NONE;
    if (RegQueryValueExA(Resources.Handle(), RawName.c_str(), nullptr, &Type, nullptr, nullptr) != ERROR_SUCCESS ||
        Type != REG_RESOURCE_LIST)
      continue;
    const std::optional<std::vector<BYTE>> List = ReadBinary(Resources, RawName.c_str(), REG_RESOURCE_LIST);
    if (!List || List->size() < ResourceListMinimum) continue;
    const auto Base = static_cast<std::uint16_t>((*List)[ResourceListBaseOffset] |
                                                 (*List)[ResourceListBaseOffset + 1] << 8);
    AcceptPort(Number, Base);
  }
}

void TDLPrinterPortIO::AcceptPort(long Number, std::uint16_t Base) {
  if (Number < 0 || Number > HighestLpt) return;
  FPortBases[static_cast<std::size_t>(Number)] = Base;
  ++FPortCount;
}

std::uint8_t TDLPrinterPortIO::GetLPTNumPorts() const { return static_cast<std::uint8_t>(FPortCount & 0xFF); }

void TDLPrinterPortIO::SetLPTNumber(std::uint8_t Number) {
  if (Number < 1 || Number > HighestLpt) return;
  FCurrentLPT = Number;
  FCurrentBase = FPortBases[Number];
}

std::uint16_t TDLPrinterPortIO::GetLPTBasePort() const { return FCurrentBase; }

bool TDLPrinterPortIO::GetPin(std::uint8_t Pin) {
  const PinLine* Line = LineOf(Pin);
  if (Line == nullptr || FCurrentBase == 0) return false;
  const bool Set = (GetPortByte(static_cast<std::uint16_t>(FCurrentBase + *Line->Register)) & Line->Mask) != 0;
  return Set == Line->HighWhenSet;
}

void TDLPrinterPortIO::SetPin(std::uint8_t Pin, bool State) {
  const PinLine* Line = LineOf(Pin);
  if (Line == nullptr || !Line->Output || FCurrentBase == 0) return;
  const auto Port = static_cast<std::uint16_t>(FCurrentBase + *Line->Register);
  const std::uint8_t Value = GetPortByte(Port);
  const bool SetBit = State == Line->HighWhenSet;
  SetPortByte(Port, static_cast<std::uint8_t>(SetBit ? Value | Line->Mask : Value & ~Line->Mask));
}

bool TDLPrinterPortIO::LPTPrintChar(char Ch) {
  if (FCurrentBase == 0) return false;
  SetPortByte(static_cast<std::uint16_t>(FCurrentBase + DataRegister), static_cast<std::uint8_t>(Ch));
  SetPortByte(static_cast<std::uint16_t>(FCurrentBase + ControlRegister), PrintStrobeOn);
  Sleep(StrobeMilliseconds);
  SetPortByte(static_cast<std::uint16_t>(FCurrentBase + ControlRegister), PrintStrobeOff);
  return (GetPortByte(static_cast<std::uint16_t>(FCurrentBase + StatusRegister)) & StatusBusy) != 0;
}
