// Stand-ins for the read-only registry functions over an in-memory image. A key handle
// holds the image it was opened in, so loading another image never pulls a tree from under
// an open handle. The machine's image is built afresh each time a root key is opened, from
// the kernel's parallel-port list and the family GetVersionExA reports at that moment.
// Every call is logged (winapi/fake.h).
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/registry_image.h"
#include "winapi/windows.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

using ImagePtr = std::shared_ptr<const winapi::RegistryImage>;

struct OpenKey {
  ImagePtr image;
  const winapi::RegistryKey* key;
  int id;  // shown in the call log as key#id
};

struct RegistryState {
  ImagePtr loaded;  // null: the machine's image
  std::filesystem::path parportRoot = winapi::KernelParportRoot;
  std::map<std::uintptr_t, OpenKey> open;
  int nextId = 1;
};

std::mutex registryMutex;
RegistryState registry;

// Handles given out lie far below the predefined root keys.
constexpr std::uintptr_t FirstHandle = 0x1000;

std::uintptr_t handleValue(HKEY key) { return reinterpret_cast<std::uintptr_t>(key); }

bool isRoot(HKEY key) { return key == HKEY_LOCAL_MACHINE || key == HKEY_DYN_DATA; }

std::string keyText(HKEY key) {
  if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (key == HKEY_DYN_DATA) return "HKEY_DYN_DATA";
  const auto found = registry.open.find(handleValue(key));
  return found == registry.open.end() ? "bad" : "key#" + std::to_string(found->second.id);
}

ImagePtr currentImage() {
  if (registry.loaded) return registry.loaded;
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  GetVersionExA(&version);
  return std::make_shared<const winapi::RegistryImage>(winapi::ParallelPortImage(
      winapi::KernelParallelPorts(registry.parportRoot), version.dwPlatformId == VER_PLATFORM_WIN32_NT));
}

// The image and key a handle stands for; no key when the handle is not valid.
std::pair<ImagePtr, const winapi::RegistryKey*> resolve(HKEY key) {
  if (isRoot(key)) {
    ImagePtr image = currentImage();
    const winapi::RegistryKey* root = key == HKEY_LOCAL_MACHINE ? &image->localMachine : &image->dynData;
    return {std::move(image), root};
  }
  const auto found = registry.open.find(handleValue(key));
  if (found == registry.open.end()) return {nullptr, nullptr};
  return {found->second.image, found->second.key};
}

LONG logged(std::string function, std::vector<std::string> arguments, LONG result) {
  winapi::detail::logCall(winapi::fake::CallRecord{std::move(function), std::move(arguments),
                                                   std::to_string(result), ERROR_SUCCESS});
  return result;
}

// Copies a name with its terminator when *size (characters, terminator included) allows;
// the real functions' rules: on success *size becomes the name's length.
LONG copyName(const std::string& name, LPSTR buffer, LPDWORD size) {
  if (buffer == nullptr || size == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  if (name.size() + 1 > *size) return static_cast<LONG>(ERROR_MORE_DATA);
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Type and data of a value as RegQueryValueExA and RegEnumValueA give them: a null buffer
// asks for the size only; a buffer too small gives ERROR_MORE_DATA and the size needed.
LONG copyData(const winapi::RegistryValue& value, LPDWORD type, LPBYTE data, LPDWORD size) {
  if (data != nullptr && size == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  if (type != nullptr) *type = value.type;
  if (size == nullptr) return ERROR_SUCCESS;
  const auto needed = static_cast<DWORD>(value.data.size());
  if (data != nullptr) {
    if (*size < needed) {
      *size = needed;
      return static_cast<LONG>(ERROR_MORE_DATA);
    }
    std::copy(value.data.begin(), value.data.end(), data);
  }
  *size = needed;
  return ERROR_SUCCESS;
}

}  // namespace

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult) {
  const std::lock_guard lock(registryMutex);
  const std::string path = lpSubKey == nullptr ? std::string() : std::string(lpSubKey);
  std::vector<std::string> arguments{keyText(hKey), winapi::detail::stringText(lpSubKey),
                                     winapi::detail::hexText(ulOptions), winapi::detail::hexText(samDesired)};
  const auto fail = [&](DWORD code) {
    return logged("RegOpenKeyExA", std::move(arguments), static_cast<LONG>(code));
  };
  if (phkResult == nullptr) return fail(ERROR_INVALID_PARAMETER);
  *phkResult = nullptr;
  if ((samDesired & ~KEY_READ) != 0) return fail(ERROR_ACCESS_DENIED);
  auto [image, parent] = resolve(hKey);
  if (parent == nullptr) return fail(ERROR_INVALID_HANDLE);
  const winapi::RegistryKey* key = winapi::RegistryImage::Find(*parent, path);
  if (key == nullptr) return fail(ERROR_FILE_NOT_FOUND);

  const int id = registry.nextId++;
  const std::uintptr_t value = FirstHandle + static_cast<std::uintptr_t>(id);
  registry.open.emplace(value, OpenKey{std::move(image), key, id});
  *phkResult = reinterpret_cast<HKEY>(value);
  arguments.push_back("key#" + std::to_string(id));
  return logged("RegOpenKeyExA", std::move(arguments), ERROR_SUCCESS);
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved, LPSTR lpClass,
                   LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
  const std::lock_guard lock(registryMutex);
  std::vector<std::string> arguments{keyText(hKey), std::to_string(dwIndex),
                                     lpcchName == nullptr ? "(null)" : std::to_string(*lpcchName)};
  const auto [image, key] = resolve(hKey);
  LONG result = ERROR_SUCCESS;
  if (key == nullptr) {
    result = static_cast<LONG>(ERROR_INVALID_HANDLE);
  } else if (lpReserved != nullptr) {
    result = static_cast<LONG>(ERROR_INVALID_PARAMETER);
  } else if (dwIndex >= key->subkeys.size()) {
    result = static_cast<LONG>(ERROR_NO_MORE_ITEMS);
  } else {
    result = copyName(key->subkeys[dwIndex].name, lpName, lpcchName);
    if (result == ERROR_SUCCESS && lpcchClass != nullptr) {  // keys here have no class
      if (lpClass != nullptr && *lpcchClass > 0) lpClass[0] = '\0';
      *lpcchClass = 0;
    }
    if (result == ERROR_SUCCESS && lpftLastWriteTime != nullptr) *lpftLastWriteTime = FILETIME{};
  }
  return logged("RegEnumKeyExA", std::move(arguments), result);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  const std::lock_guard lock(registryMutex);
  std::vector<std::string> arguments{keyText(hKey), std::to_string(dwIndex),
                                     lpcchValueName == nullptr ? "(null)" : std::to_string(*lpcchValueName)};
  const auto [image, key] = resolve(hKey);
  LONG result = ERROR_SUCCESS;
  if (key == nullptr) {
    result = static_cast<LONG>(ERROR_INVALID_HANDLE);
  } else if (lpReserved != nullptr) {
    result = static_cast<LONG>(ERROR_INVALID_PARAMETER);
  } else if (dwIndex >= key->values.size()) {
    result = static_cast<LONG>(ERROR_NO_MORE_ITEMS);
  } else {
    const winapi::RegistryValue& value = key->values[dwIndex];
    result = copyName(value.name, lpValueName, lpcchValueName);
    if (result == ERROR_SUCCESS) result = copyData(value, lpType, lpData, lpcbData);
  }
  return logged("RegEnumValueA", std::move(arguments), result);
}

LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  const std::lock_guard lock(registryMutex);
  std::vector<std::string> arguments{keyText(hKey), winapi::detail::stringText(lpValueName),
                                     lpcbData == nullptr ? "(null)" : std::to_string(*lpcbData)};
  const auto [image, key] = resolve(hKey);
  LONG result = ERROR_SUCCESS;
  if (key == nullptr) {
    result = static_cast<LONG>(ERROR_INVALID_HANDLE);
  } else if (lpReserved != nullptr) {
    result = static_cast<LONG>(ERROR_INVALID_PARAMETER);
  } else if (const winapi::RegistryValue* value = key->FindValue(lpValueName == nullptr ? "" : lpValueName);
             value == nullptr) {
    result = static_cast<LONG>(ERROR_FILE_NOT_FOUND);
  } else {
    result = copyData(*value, lpType, lpData, lpcbData);
  }
  return logged("RegQueryValueExA", std::move(arguments), result);
}

LONG RegCloseKey(HKEY hKey) {
  const std::lock_guard lock(registryMutex);
  std::vector<std::string> arguments{keyText(hKey)};
  LONG result = ERROR_SUCCESS;
  if (!isRoot(hKey) && registry.open.erase(handleValue(hKey)) == 0) result = static_cast<LONG>(ERROR_INVALID_HANDLE);
  return logged("RegCloseKey", std::move(arguments), result);
}

namespace winapi::detail {

void resetRegistry() {
  const std::lock_guard lock(registryMutex);
  registry = RegistryState{};
}

}  // namespace winapi::detail

namespace winapi::fake {

void loadRegistry(RegistryImage image) {
  const std::lock_guard lock(registryMutex);
  registry.loaded = std::make_shared<const RegistryImage>(std::move(image));
}

void loadRegistryFile(const std::filesystem::path& file) { loadRegistry(LoadRegistryImage(file)); }

void useMachineRegistry(std::filesystem::path parportRoot) {
  const std::lock_guard lock(registryMutex);
  registry.loaded.reset();
  registry.parportRoot = std::move(parportRoot);
}

int openRegistryKeys() {
  const std::lock_guard lock(registryMutex);
  return static_cast<int>(registry.open.size());
}

}  // namespace winapi::fake
