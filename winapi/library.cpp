// Stand-ins for dynamic library loading over dlopen/dlsym/dlclose. A bare file name (no
// '/') is looked for in the running executable's folder first (the folder of the file that
// /proc/self/exe leads to, whatever links the program was started through); when no such
// file is there the loader's own search decides, and when that folder cannot be read the
// load fails rather than leave the search to the loader alone. A name with a '/' is used as
// given. Libraries load with RTLD_NOW | RTLD_LOCAL, so every symbol a library needs is
// resolved when it loads and its own symbols stay out of the global scope. Only handles this
// module gave out are accepted. A library's start-up routine (LibraryStartUpName) runs once,
// when the library is first loaded; its refusal unloads the library and fails the load. Each
// failure leaves one line of text for GetLastLibraryErrorTextA.
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/windows.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

struct LoadedLibrary {
  int id;            // shown in the call log as lib#id; 0 until first shown since the reset
  int references;    // loads not yet matched by a free
  std::string path;  // the file it was loaded from
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
thread_local std::string lastLibraryError;

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

// Runs the start-up routine of a library loaded just now; false (the library unloaded, the
// reason in lastLibraryError) when it refuses.
bool startUp(void* handle, const std::string& path) {
  using StartUp = const char* (*)();
  const auto routine = reinterpret_cast<StartUp>(::dlsym(handle, LibraryStartUpName));
  const char* refusal = routine != nullptr ? routine() : nullptr;
  if (refusal == nullptr) return true;
  lastLibraryError = path + " refused to load: " + refusal;
  ::dlclose(handle);
  return false;
}

// The running executable's folder, as the kernel reports the executable; empty, with the
// reason in `unreadable`, when that cannot be read (no /proc, for one).
std::string executableFolder(std::string& unreadable) {
  std::error_code error;
  const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) unreadable = "/proc/self/exe: " + error.message();
  return executable.parent_path().string();
}

// dlopen of the file the name stands for; error and lastLibraryError are set when it cannot
// be loaded.
void* openLibrary(const std::string& name, DWORD& error, std::string& path) {
  constexpr int Mode = RTLD_NOW | RTLD_LOCAL;
  path = name;
  bool searched = false;
  std::string folder;
  if (name.find('/') == std::string::npos) {
    std::string unreadable;
    folder = executableFolder(unreadable);
    if (!unreadable.empty()) {
      error = ERROR_MOD_NOT_FOUND;
      lastLibraryError = name + " is looked for beside the program first, but the program's folder is unknown (" +
                         unreadable + ")";
      return nullptr;
    }
    const std::string besideExecutable = folder + '/' + name;
    if (fileExists(besideExecutable)) {
      path = besideExecutable;
    } else {
      searched = true;
    }
  }
  void* handle = ::dlopen(path.c_str(), Mode);
  if (handle == nullptr) {
    const char* reason = ::dlerror();
    if (searched) {
      error = ERROR_MOD_NOT_FOUND;
      lastLibraryError = name + " is neither beside the program (" + folder +
                         ") nor found by the loader's search: put it beside the program";
    } else if (!fileExists(path)) {
      error = ERROR_MOD_NOT_FOUND;
      lastLibraryError = path + " does not exist: put the library there";
    } else {
      error = ERROR_BAD_EXE_FORMAT;
      lastLibraryError = "cannot load " + path + ": " + (reason != nullptr ? reason : "not a loadable library");
    }
    return nullptr;
  }
  if (libraries.loaded.count(handle) == 0 && !startUp(handle, path)) {
    error = ERROR_DLL_INIT_FAILED;
    return nullptr;
  }
  return handle;
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR lpLibFileName) {
  const std::lock_guard lock(libraryMutex);
  std::vector<std::string> arguments{winapi::detail::stringText(lpLibFileName)};
  DWORD error = ERROR_SUCCESS;
  void* handle = nullptr;
  std::string path;
  lastLibraryError.clear();
  if (lpLibFileName == nullptr) {
    error = ERROR_INVALID_PARAMETER;
    lastLibraryError = "no library name given";
  } else if (const auto failure = libraries.loadFailures.find(lpLibFileName); failure != libraries.loadFailures.end()) {
    error = failure->second;
    lastLibraryError = std::string("cannot load ") + lpLibFileName + ": error #" + std::to_string(error);
  } else if (*lpLibFileName == '\0') {
    error = ERROR_MOD_NOT_FOUND;
    lastLibraryError = "no library name given";
  } else {
    handle = openLibrary(lpLibFileName, error, path);
  }
  if (handle != nullptr) {
    ++libraries.loaded.try_emplace(handle, LoadedLibrary{0, 0, path}).first->second.references;
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
  const auto found = libraries.loaded.find(handleOf(hModule));
  if (hModule == nullptr || found == libraries.loaded.end()) {
    error = ERROR_INVALID_HANDLE;
    lastLibraryError = "GetProcAddress: not a loaded library";
  } else if (lpProcName == nullptr) {
    error = ERROR_INVALID_PARAMETER;
    lastLibraryError = "GetProcAddress: no entry point name given";
  } else {
    address = reinterpret_cast<FARPROC>(::dlsym(handleOf(hModule), lpProcName));
    if (address == nullptr) {
      error = ERROR_PROC_NOT_FOUND;
      lastLibraryError = found->second.path + " lacks the entry point " + lpProcName +
                         ": replace it with a build that exports it";
    }
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

DWORD GetLastLibraryErrorTextA(LPSTR lpBuffer, DWORD nSize) {
  const auto length = static_cast<DWORD>(lastLibraryError.size());
  if (lpBuffer == nullptr || nSize <= length) return length + 1;
  std::copy(lastLibraryError.begin(), lastLibraryError.end(), lpBuffer);
  lpBuffer[length] = '\0';
  return length;
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
