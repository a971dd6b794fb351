// The registry image: its tree, its text form and the image of the machine's parallel ports.
#include "winapi/registry_image.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>

namespace winapi {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits "a\b\c" at the backslashes.
std::vector<std::string_view> PathParts(std::string_view path) {
  std::vector<std::string_view> parts;
  while (true) {
    const auto separator = path.find('\\');
    parts.push_back(path.substr(0, separator));
    if (separator == std::string_view::npos) return parts;
    path.remove_prefix(separator + 1);
  }
}

// The text form, read line by line.
class ImageParser {
 public:
  explicit ImageParser(std::string_view text) {
    std::string_view rest = text;
    while (!rest.empty()) {
      const auto end = rest.find('\n');
      lines_.push_back(rest.substr(0, end));
      if (end == std::string_view::npos) break;
      rest.remove_prefix(end + 1);
    }
  }

  RegistryImage Parse() {
    for (line_ = 0; line_ < lines_.size(); ++line_) {
      const std::string_view line = Trim(lines_[line_]);
      if (line.empty() || line.front() == ';') continue;
      if (line_ == 0 && line == "REGEDIT4") continue;
      if (line.front() == '[') {
        OpenKey(line);
      } else {
        SetValue(line);
      }
    }
    return std::move(image_);
  }

 private:
  [[noreturn]] void Fail(const std::string& what) const {
    throw RegistryFormatError("line " + std::to_string(line_ + 1) + ": " + what);
  }

  void OpenKey(std::string_view line) {
    if (line.back() != ']') Fail("a key line must end with ']'");
    const std::string_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == '-') Fail("deleting keys is not supported");
    const auto separator = path.find('\\');
    const std::string_view rootName = path.substr(0, separator);
    RegistryKey* root = nullptr;
    if (SameName(rootName, image_.localMachine.name)) root = &image_.localMachine;
    if (SameName(rootName, image_.dynData.name)) root = &image_.dynData;
    if (root == nullptr) Fail("unknown root key '" + std::string(rootName) + "'");
    if (separator == std::string_view::npos) {
      key_ = root;
      return;
    }
    const std::string_view below = path.substr(separator + 1);
    for (const std::string_view part : PathParts(below))
      if (part.empty()) Fail("empty key name in '" + std::string(path) + "'");
    key_ = &RegistryImage::Create(*root, below);
  }

  void SetValue(std::string_view line) {
    if (key_ == nullptr) Fail("a value before the first key");
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (line.front() == '"') {
      name = QuotedText(line);
    } else {
      Fail("a value name must be quoted or @");
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') Fail("'=' expected after the value name");
    line = Trim(line.substr(1));

    if (!line.empty() && line.front() == '"') {
      const std::string text = QuotedText(line);
      if (!Trim(line).empty()) Fail("text after the closing quote");
      key_->SetString(name, text);
    } else if (line.starts_with("dword:")) {
      const std::uint32_t number = HexNumber(line.substr(6), 8, "dword");
      key_->SetValue(name, REG_DWORD,
                     {static_cast<BYTE>(number), static_cast<BYTE>(number >> 8), static_cast<BYTE>(number >> 16),
                      static_cast<BYTE>(number >> 24)});
    } else if (line.starts_with("hex")) {
      HexValue(name, line.substr(3));
    } else if (line.empty()) {
      Fail("missing data");
    } else if (line.front() == '-') {
      Fail("deleting values is not supported");
    } else {
      Fail("unknown data form '" + std::string(line) + "'");
    }
  }

  // Reads a quoted text at the start of `line` and leaves `line` after its closing quote.
  std::string QuotedText(std::string_view& line) const {
    std::string text;
    for (std::size_t i = 1; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"') {
        line.remove_prefix(i + 1);
        return text;
      }
      if (c == '\\') {
        if (i + 1 == line.size() || (line[i + 1] != '\\' && line[i + 1] != '"'))
          Fail("only \\\\ and \\\" may follow a backslash in quotes");
        text += line[++i];
      } else {
        text += c;
      }
    }
    Fail("missing closing quote");
  }

  std::uint32_t HexNumber(std::string_view digits, std::size_t maxDigits, const char* what) const {
    digits = Trim(digits);
    std::uint32_t number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number, 16);
    if (digits.empty() || digits.size() > maxDigits || error != std::errc() || end != digits.data() + digits.size())
      Fail(std::string("bad ") + what + " '" + std::string(digits) + "'");
    return number;
  }

  // hex:.. or hex(N):.., the list going on over lines that end in a backslash.
  void HexValue(const std::string& name, std::string_view form) {
    DWORD type = REG_BINARY;
    if (!form.empty() && form.front() == '(') {
      const auto close = form.find(')');
      if (close == std::string_view::npos) Fail("missing ')' after hex(");
      type = HexNumber(form.substr(1, close - 1), 8, "value type");
      form.remove_prefix(close + 1);
    }
    if (form.empty() || form.front() != ':') Fail("':' expected after hex");
    std::string list(form.substr(1));
    const std::size_t firstLine = line_;
    while (!Trim(list).empty() && Trim(list).back() == '\\') {
      list = std::string(Trim(list));
      list.pop_back();
      if (line_ + 1 == lines_.size()) Fail("the hex list goes on past the end");
      list += Trim(lines_[++line_]);
    }

    std::vector<BYTE> data;
    std::string_view rest = Trim(list);
    while (!rest.empty()) {
      const auto comma = rest.find(',');
      const std::string_view item = Trim(rest.substr(0, comma));
      std::uint32_t byte = 0;
      const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), byte, 16);
      if (item.empty() || item.size() > 2 || error != std::errc() || end != item.data() + item.size()) {
        line_ = firstLine;
        Fail("bad byte '" + std::string(item) + "' in a hex list");
      }
      data.push_back(static_cast<BYTE>(byte));
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
      if (Trim(rest).empty()) Fail("a hex list must not end in ','");
    }
    key_->SetValue(name, type, std::move(data));
  }

  std::vector<std::string_view> lines_;
  std::size_t line_ = 0;
  RegistryImage image_;
  RegistryKey* key_ = nullptr;
};

void PutWord(std::vector<BYTE>& data, std::size_t offset, std::uint32_t value) {
  data[offset] = static_cast<BYTE>(value);
  data[offset + 1] = static_cast<BYTE>(value >> 8);
}

void PutDword(std::vector<BYTE>& data, std::size_t offset, std::uint32_t value) {
  PutWord(data, offset, value & 0xFFFFU);
  PutWord(data, offset + 2, value >> 16);
}

// 95/98: a device node per port. "Allocation" holds the node's logical configuration: a
// header word, then an I/O range record whose marker word 12 is followed by the range's
// base and end.
void AddDeviceNode(RegistryImage& image, const ParallelPort& port) {
  const std::string instance = std::to_string(port.number);
  char hardwareKey[32];
  std::snprintf(hardwareKey, sizeof hardwareKey, "BIOS\\*PNP0400\\%04u", port.number);

  RegistryKey& node = RegistryImage::Create(image.dynData, "Config Manager\\Enum\\parport" + instance);
  node.SetValue("Problem", REG_BINARY, {0, 0, 0, 0});
  node.SetString("HardwareKey", hardwareKey);
  std::vector<BYTE> allocation(12, 0);
  constexpr std::uint32_t ConfigVersion = 0x0400;
  constexpr std::uint32_t IoRangeMarker = 12;
  constexpr std::uint32_t RangeLength = 8;
  PutWord(allocation, 0, ConfigVersion);
  PutWord(allocation, 4, IoRangeMarker);
  PutWord(allocation, 6, port.base);
  PutWord(allocation, 8, port.base + RangeLength - 1);
  node.SetValue("Allocation", REG_BINARY, std::move(allocation));

  RegistryImage::Create(image.localMachine, std::string("Enum\\") + hardwareKey)
      .SetString("PortName", "LPT" + std::to_string(port.number + 1));
}

// NT: the device map names the port's device and its DOS name; the resource map holds the
// port's raw resources as a CM_RESOURCE_LIST with one full descriptor (ISA bus 0) holding
// one partial descriptor: an exclusive I/O port range at the base.
void AddDeviceMapEntry(RegistryImage& image, const ParallelPort& port) {
  const std::string instance = std::to_string(port.number);
  RegistryImage::Create(image.localMachine, "HARDWARE\\DEVICEMAP\\PARALLEL PORTS")
      .SetString("\\Device\\Parallel" + instance, "\\DosDevices\\LPT" + std::to_string(port.number + 1));

  constexpr std::uint32_t InterfaceTypeIsa = 1;
  constexpr BYTE ResourceTypePort = 1;
  constexpr BYTE ShareDeviceExclusive = 1;
  constexpr std::uint32_t PortIo = 1;
  constexpr std::uint32_t RangeLength = 8;
  std::vector<BYTE> list(36, 0);
  PutDword(list, 0, 1);                 // full descriptors
  PutDword(list, 4, InterfaceTypeIsa);  // interface type; bus number 0 at 8
  PutWord(list, 12, 1);                 // partial list version
  PutWord(list, 14, 1);                 // revision
  PutDword(list, 16, 1);                // partial descriptors
  list[20] = ResourceTypePort;
  list[21] = ShareDeviceExclusive;
  PutWord(list, 22, PortIo);            // flags
  PutDword(list, 24, port.base);        // start, low part; the high part at 28 stays 0
  PutDword(list, 32, RangeLength);
  RegistryImage::Create(image.localMachine, "HARDWARE\\RESOURCEMAP\\LOADED PARALLEL DRIVER RESOURCES\\Parport")
      .SetValue("\\Device\\ParallelPort" + instance + ".Raw", REG_RESOURCE_LIST, std::move(list));
}

std::optional<unsigned> ParportNumber(const std::string& folder) {
  constexpr std::string_view Prefix = "parport";
  if (!folder.starts_with(Prefix) || folder.size() == Prefix.size()) return std::nullopt;
  unsigned number = 0;
  const char* first = folder.data() + Prefix.size();
  const char* last = folder.data() + folder.size();
  const auto [end, error] = std::from_chars(first, last, number);
  if (error != std::errc() || end != last) return std::nullopt;
  return number;
}

}  // namespace

const RegistryKey* RegistryKey::FindSubkey(std::string_view keyName) const {
  for (const RegistryKey& key : subkeys)
    if (SameName(key.name, keyName)) return &key;
  return nullptr;
}

const RegistryValue* RegistryKey::FindValue(std::string_view valueName) const {
  for (const RegistryValue& value : values)
    if (SameName(value.name, valueName)) return &value;
  return nullptr;
}

RegistryKey& RegistryKey::Subkey(std::string_view keyName) {
  for (RegistryKey& key : subkeys)
    if (SameName(key.name, keyName)) return key;
  return subkeys.emplace_back(RegistryKey{std::string(keyName), {}, {}});
}

void RegistryKey::SetValue(std::string_view valueName, DWORD type, std::vector<BYTE> data) {
  for (RegistryValue& value : values) {
    if (SameName(value.name, valueName)) {
      value.type = type;
      value.data = std::move(data);
      return;
    }
  }
  values.push_back(RegistryValue{std::string(valueName), type, std::move(data)});
}

void RegistryKey::SetString(std::string_view valueName, std::string_view text) {
  std::vector<BYTE> data(text.begin(), text.end());
  data.push_back(0);
  SetValue(valueName, REG_SZ, std::move(data));
}

const RegistryKey* RegistryImage::Find(const RegistryKey& root, std::string_view path) {
  const RegistryKey* key = &root;
  if (path.empty()) return key;
  for (const std::string_view part : PathParts(path)) {
    if (part.empty()) return nullptr;
    key = key->FindSubkey(part);
    if (key == nullptr) return nullptr;
  }
  return key;
}

RegistryKey& RegistryImage::Create(RegistryKey& root, std::string_view path) {
  RegistryKey* key = &root;
  for (const std::string_view part : PathParts(path)) key = &key->Subkey(part);
  return *key;
}

RegistryImage ParseRegistryImage(std::string_view text) { return ImageParser(text).Parse(); }

RegistryImage LoadRegistryImage(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  if (!stream) throw RegistryFormatError(file.string() + ": cannot be read");
  const std::string text((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  try {
    return ParseRegistryImage(text);
  } catch (const RegistryFormatError& error) {
    throw RegistryFormatError(file.string() + ", " + error.what());
  }
}

std::vector<ParallelPort> KernelParallelPorts(const std::filesystem::path& root) {
  std::vector<ParallelPort> ports;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(root, error)) {
    const std::optional<unsigned> number = ParportNumber(entry.path().filename().string());
    if (!number) continue;
    std::ifstream file(entry.path() / "base-addr");
    unsigned long base = 0;
    if (!(file >> base) || base > 0xFFFF) continue;
    ports.push_back(ParallelPort{*number, static_cast<std::uint16_t>(base)});
  }
  std::sort(ports.begin(), ports.end(), [](const ParallelPort& a, const ParallelPort& b) { return a.number < b.number; });
  return ports;
}

RegistryImage ParallelPortImage(const std::vector<ParallelPort>& ports, bool ntFamily) {
  RegistryImage image;
  for (const ParallelPort& port : ports) {
    if (ntFamily) {
      AddDeviceMapEntry(image, port);
    } else {
      AddDeviceNode(image, port);
    }
  }
  return image;
}

}  // namespace winapi
