// The checks' ground on Windows: the image's keys created volatile (HKEY_LOCAL_MACHINE
// "HARDWARE" holds no other kind, and volatile keys leave no trace in the registry), and a
// pagefile-backed named mapping.
#include "tests/win32/prepared_system.h"

#include "winapi/registry_image.h"

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace win32_check {

bool StandIns() { return false; }

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool UseFamily(DWORD platformId) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExA(&version) != 0 && version.dwPlatformId == platformId;
}

namespace {

struct Shown {
  HKEY root;
  std::string path;
  std::string value;  // empty: the key itself was created and goes
};
std::vector<Shown> shown;  // in the order made

void Check(LONG result, const std::string& what) {
  if (result != ERROR_SUCCESS) throw std::runtime_error(what + ": error " + std::to_string(result));
}

void Create(HKEY root, const std::string& path, const winapi::RegistryKey& key) {
  HKEY handle = nullptr;
  DWORD disposition = 0;
  Check(RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &handle,
                        &disposition),
        "creating " + path);
  const bool created = disposition == REG_CREATED_NEW_KEY;
  if (created) shown.push_back({root, path, {}});
  for (const winapi::RegistryValue& value : key.values) {
    Check(RegSetValueExA(handle, value.name.c_str(), 0, value.type, value.data.data(),
                         static_cast<DWORD>(value.data.size())),
          "setting " + path + "\\" + value.name);
    if (!created) shown.push_back({root, path, value.name});
  }
  RegCloseKey(handle);
  for (const winapi::RegistryKey& subkey : key.subkeys) Create(root, path + "\\" + subkey.name, subkey);
}

void TakeAwayShown() {
  for (auto it = shown.rbegin(); it != shown.rend(); ++it) {
    if (it->value.empty()) {
      RegDeleteKeyA(it->root, it->path.c_str());
    } else {
      RegDeleteKeyValueA(it->root, it->path.c_str(), it->value.c_str());
    }
  }
  shown.clear();
}

}  // namespace

void ShowRegistryImage(const std::filesystem::path& image) {
  static const bool takeAwayAtExit = std::atexit(TakeAwayShown) == 0;
  (void)takeAwayAtExit;
  TakeAwayShown();
  const winapi::RegistryImage loaded = winapi::LoadRegistryImage(image);
  for (const auto& [root, key] : {std::pair{HKEY_LOCAL_MACHINE, &loaded.localMachine},
                                  std::pair{HKEY_DYN_DATA, &loaded.dynData}})
    for (const winapi::RegistryKey& subkey : key->subkeys) Create(root, subkey.name, subkey);
}

void PublishMapping(const std::string& name, std::size_t size) {
  // Its handle stays open, and so the mapping published, until the program ends.
  const HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            static_cast<DWORD>(size), name.c_str());
  auto* bytes = static_cast<unsigned char*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, size));
  if (bytes == nullptr) throw std::runtime_error("cannot publish " + name + ": " + std::to_string(GetLastError()));
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i);
}

std::string RecorderFolder() { return {}; }

}  // namespace win32_check
