// The in-memory registry image behind the registry stand-ins: keys with values, read from a
// text in the form of a registry export, or built from the kernel's list of parallel ports
// in the layout that a Windows family keeps its printer ports in.
//
// Text form (that of a REGEDIT4 export): an optional "REGEDIT4" first line; "; comment"
// lines; "[ROOT\path\of\key]" opens a key (and every key above it) under HKEY_LOCAL_MACHINE
// or HKEY_DYN_DATA; then one value per line, "name"=data or @=data for the unnamed value,
// where data is "text" (REG_SZ, stored with its terminator; \\ and \" are the escapes),
// dword:1234abcd (REG_DWORD), hex:0c,00 (REG_BINARY) or hex(N):.. (type N, the bytes as
// they stand, so also strings without a terminator). A hex list may go on over lines that
// end in a backslash. A value set twice keeps the later data.
// Not provided: deletions ("[-key]", "name"=-), other root keys, wide-character text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace winapi {

struct RegistryValue {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct RegistryKey {
  std::string name;
  std::vector<RegistryValue> values;  // in the order first set
  std::vector<RegistryKey> subkeys;   // in the order first created

  // Lookups ignore ASCII case, as the registry does; null when absent.
  const RegistryKey* FindSubkey(std::string_view keyName) const;
  const RegistryValue* FindValue(std::string_view valueName) const;
  // The subkey of that name, created when absent.
  RegistryKey& Subkey(std::string_view keyName);
  // Sets a value; one of the same name is replaced in place.
  void SetValue(std::string_view valueName, DWORD type, std::vector<BYTE> data);
  void SetString(std::string_view valueName, std::string_view text);  // REG_SZ with terminator
};

struct RegistryImage {
  RegistryKey localMachine{"HKEY_LOCAL_MACHINE", {}, {}};
  RegistryKey dynData{"HKEY_DYN_DATA", {}, {}};

  // The key at a backslash-separated path below a root ("" is the root itself); null when
  // any part is absent or empty.
  static const RegistryKey* Find(const RegistryKey& root, std::string_view path);
  // The key at a path, created with the keys above it when absent.
  static RegistryKey& Create(RegistryKey& root, std::string_view path);
};

class RegistryFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads an image from its text form; a line that is not of the form raises
// RegistryFormatError("line N: what is wrong").
RegistryImage ParseRegistryImage(std::string_view text);
// The same from a file; a file that cannot be read raises RegistryFormatError too.
RegistryImage LoadRegistryImage(const std::filesystem::path& file);

// One parallel port the kernel lists: parportN, with the base address of its registers.
struct ParallelPort {
  unsigned number;  // N of parportN; Windows calls it LPT(N+1)
  std::uint16_t base;
};

inline constexpr char KernelParportRoot[] = "/proc/sys/dev/parport";

// The ports below a tree laid out as /proc/sys/dev/parport: every folder parportN whose
// base-addr file begins with a decimal base address within the I/O space, ordered by N.
// A missing tree (no parport driver loaded) gives no ports.
std::vector<ParallelPort> KernelParallelPorts(const std::filesystem::path& root);

// An image that holds the ports where the family's own registry keeps them: for the
// 95/98 family device nodes under HKEY_DYN_DATA "Config Manager\Enum" with their hardware
// keys under "Enum"; for the NT family the device map and the raw resource lists under
// HKEY_LOCAL_MACHINE "HARDWARE".
RegistryImage ParallelPortImage(const std::vector<ParallelPort>& ports, bool ntFamily);

}  // namespace winapi
