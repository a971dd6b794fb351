// Stand-ins for dynamic library loading over dlopen/dlsym/dlclose. A bare file name (no
// '/') is looked for in the running executable's folder first; when no such file is there
// the loader's own search decides. A name with a '/' is used as given. Libraries load with
// RTLD_NOW | RTLD_LOCAL, so every symbol a library needs is resolved when it loads and its
// own symbols stay out of the global scope. Only handles this module gave out are accepted.
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/toolkit.h"
#include "winapi/windows.h"

#include <dlfcn.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

struct LoadedLibrary {
  int id;          // shown in the call log as lib#id; 0 until first shown since the reset
  int references;  // loads not yet matched by a free
};

struct LibraryState {
  std::map<void*, LoadedLibrary> loaded;
  int nextId = 1;
  std::map<std::string, DWORD> loadFailures;
  DWORD freeFailureCode = ERROR_SUCCESS;
  int freeFailuresLeft = 0;
  int loads = 0;
  int frees = 0;
};

std::mutex libraryMutex;
LibraryState libraries;

bool fileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void* handleOf(HMODULE module) { return static_cast<void*>(module); }

std::string moduleText(HMODULE module) {
  if (module == nullptr) return "(null)";
  const auto found = libraries.loaded.find(handleOf(module));
  if (found == libraries.loaded.end()) return "bad";
  if (found->second.id == 0) found->second.id = libraries.nextId++;
  return "lib#" + std::to_string(found->second.id);
}

void logLibraryCall(std::string function, std::vector<std::string> arguments, std::string result, DWORD error) {
  if (error != ERROR_SUCCESS) SetLastError(error);
  winapi::detail::logCall(
      winapi::fake::CallRecord{std::move(function), std::move(arguments), std::move(result), error});
}

// dlopen of the file the name stands for; error is set when it cannot be loaded.
void* openLibrary(const std::string& name, DWORD& error) {
  constexpr int Mode = RTLD_NOW | RTLD_LOCAL;
  std::string path = name;
  bool searched = false;
  if (name.find(PathDelim) == std::string::npos) {
    const std::string besideExecutable = ExtractFileDir(ParamStr(0)) + PathDelim + name;
    if (fileExists(besideExecutable)) {
      path = besideExecutable;
    } else {
      searched = true;
    }
  }
  void* handle = ::dlopen(path.c_str(), Mode);
  if (handle == nullptr) error = searched || !fileExists(path) ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
  return handle;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  const std::lock_guard lock(libraryMutex);
  std::vector<std::string> arguments{winapi::detail::stringText(lpLibFileName)};
  DWORD error = ERROR_SUCCESS;
  void* handle = nullptr;
  if (lpLibFileName == nullptr) {
    error = ERROR_INVALID_PARAMETER;
  } else if (const auto failure = libraries.loadFailures.find(lpLibFileName); failure != libraries.loadFailures.end()) {
    error = failure->second;
  } else if (*lpLibFileName == '\0') {
    error = ERROR_MOD_NOT_FOUND;
  } else {
    handle = openLibrary(lpLibFileName, error);
  }
  if (handle != nullptr) {
    ++libraries.loaded.try_emplace(handle, LoadedLibrary{0, 0}).first->second.references;
    ++libraries.loads;
  }
  const auto module = static_cast<HMODULE>(handle);
  logLibraryCall("LoadLibraryA", std::move(arguments), moduleText(module), error);
  return module;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
  const std::lock_guard lock(libraryMutex);
  std::vector<std::string> arguments{moduleText(hModule), winapi::detail::stringText(lpProcName)};
  FARPROC address = nullptr;
  DWORD error = ERROR_SUCCESS;
  if (hModule == nullptr || libraries.loaded.count(handleOf(hModule)) == 0) {
    error = ERROR_INVALID_HANDLE;
  } else if (lpProcName == nullptr) {
    error = ERROR_INVALID_PARAMETER;
  } else {
    address = reinterpret_cast<FARPROC>(::dlsym(handleOf(hModule), lpProcName));
    if (address == nullptr) error = ERROR_PROC_NOT_FOUND;
  }
  logLibraryCall("GetProcAddress", std::move(arguments), address == nullptr ? "(null)" : "address", error);
  return address;
}

BOOL FreeLibrary(HMODULE hLibModule) {
  const std::lock_guard lock(libraryMutex);
  std::vector<std::string> arguments{moduleText(hLibModule)};
  DWORD error = ERROR_SUCCESS;
  const auto found = libraries.loaded.find(handleOf(hLibModule));
  if (hLibModule == nullptr || found == libraries.loaded.end()) {
    error = ERROR_INVALID_HANDLE;
  } else if (libraries.freeFailuresLeft != 0) {
    if (libraries.freeFailuresLeft > 0) --libraries.freeFailuresLeft;
    error = libraries.freeFailureCode;
  } else {
    ::dlclose(found->first);
    if (--found->second.references == 0) libraries.loaded.erase(found);
    ++libraries.frees;
  }
  logLibraryCall("FreeLibrary", std::move(arguments), error == ERROR_SUCCESS ? "1" : "0", error);
  return error == ERROR_SUCCESS ? 1 : 0;
}

namespace winapi::detail {

void resetLibraries() {
  const std::lock_guard lock(libraryMutex);
  LibraryState fresh;
  // Still loaded: keep accepting their handles, numbered afresh in the order they next show.
  fresh.loaded = std::move(libraries.loaded);
  for (auto& entry : fresh.loaded) entry.second.id = 0;
  libraries = std::move(fresh);
}

}  // namespace winapi::detail

namespace winapi::fake {

void failLoadLibrary(std::string name, DWORD code) {
  const std::lock_guard lock(libraryMutex);
  libraries.loadFailures.insert_or_assign(std::move(name), code);
}

void failFreeLibrary(DWORD code, int times) {
  const std::lock_guard lock(libraryMutex);
  libraries.freeFailureCode = code;
  libraries.freeFailuresLeft = times;
}

int loadedLibraries() {
  const std::lock_guard lock(libraryMutex);
  return libraries.loads;
}

int freedLibraries() {
  const std::lock_guard lock(libraryMutex);
  return libraries.frees;
}

}  // namespace winapi::fake
