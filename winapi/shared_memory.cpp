// Stand-ins for named shared memory, read-only, over POSIX shared memory: a mapping handle
// is an open descriptor of the object "/" + prefix + name, a view a private copy of the
// object's bytes read when it is mapped (with pread, so an object that another process
// shrinks gives a short read, never SIGBUS). Whatever another local user can put at the
// name is checked on the open descriptor: it is opened without blocking and without
// following a symbolic link, and only a regular file owned by this user or by root, on
// which its publisher holds a write lock, counts as a mapping. Anything else counts as an
// absent one, and the reason is said once on standard error. Only handles and views this
// module gave out are accepted.
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/windows.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// Windows places views at multiples of its allocation granularity.
constexpr std::uint64_t AllocationGranularity = 65536;

struct Mapping {
  int id;  // shown in the call log as map#id
  int descriptor;
};

struct View {
  int id;  // shown in the call log as view#id
  std::unique_ptr<unsigned char[]> bytes;
};

struct SharedMemoryState {
  std::string prefix;
  std::map<HANDLE, Mapping> mappings;
  std::map<LPCVOID, View> views;
  int nextMappingId = 1;
  int nextViewId = 1;
  std::set<std::string> reasonsSaid;
};

std::mutex sharedMemoryMutex;
SharedMemoryState state;

// Keys of the handle table: unique addresses that are never dereferenced.
HANDLE newHandleKey() { return new char; }
void deleteHandleKey(HANDLE handle) { delete static_cast<char*>(handle); }

std::string mappingText(HANDLE handle) {
  if (handle == nullptr) return "(null)";
  const auto found = state.mappings.find(handle);
  return found == state.mappings.end() ? "bad" : "map#" + std::to_string(found->second.id);
}

std::string viewText(LPCVOID address) {
  if (address == nullptr) return "(null)";
  const auto found = state.views.find(address);
  return found == state.views.end() ? "bad" : "view#" + std::to_string(found->second.id);
}

DWORD errorOf(int error) {
  switch (error) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM:
      return ERROR_ACCESS_DENIED;
    case EINVAL:
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    case ELOOP:
      return ERROR_FILE_INVALID;
    default:
      return ERROR_INVALID_HANDLE;
  }
}

// Says why the object at a name counts as absent, the first time that reason comes up.
void sayOnce(const std::string& reason) {
  if (state.reasonsSaid.insert(reason).second) std::fprintf(stderr, "kelvari: %s\n", reason.c_str());
}

// Whether a process holds a write lock on the object, as its publisher does for as long as
// it runs. Tested without taking a lock, so a reader never stands in a publisher's way.
bool heldByPublisher(int descriptor) {
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  return ::fcntl(descriptor, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
}

// ERROR_SUCCESS when the open object may be read as a mapping; else the error, and the
// reason said once.
DWORD checkObject(int descriptor, const std::string& objectName) {
  struct stat status {};
  if (::fstat(descriptor, &status) != 0) return errorOf(errno);
  if (!S_ISREG(status.st_mode)) {
    sayOnce("shared memory " + objectName + " is not a regular file (a FIFO, device or directory): ignored");
    return ERROR_FILE_INVALID;
  }
  if (status.st_uid != ::geteuid() && status.st_uid != 0) {
    sayOnce("shared memory " + objectName + " belongs to user " + std::to_string(status.st_uid) + ": ignored");
    return ERROR_ACCESS_DENIED;
  }
  if (!heldByPublisher(descriptor)) {
    sayOnce("shared memory " + objectName + " is held by no running publisher (left by one that ended): ignored");
    return ERROR_FILE_NOT_FOUND;
  }
  return ERROR_SUCCESS;
}

void logSharedMemoryCall(std::string function, std::vector<std::string> arguments, std::string result, DWORD error) {
  if (error != ERROR_SUCCESS) SetLastError(error);
  winapi::detail::logCall(
      winapi::fake::CallRecord{std::move(function), std::move(arguments), std::move(result), error});
}

}  // namespace

HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName) {
  const std::lock_guard lock(sharedMemoryMutex);
  std::vector<std::string> arguments{winapi::detail::hexText(dwDesiredAccess), bInheritHandle != 0 ? "1" : "0",
                                     winapi::detail::stringText(lpName)};
  DWORD error = ERROR_SUCCESS;
  HANDLE handle = nullptr;
  if (lpName == nullptr) {
    error = ERROR_INVALID_PARAMETER;
  } else if (dwDesiredAccess != FILE_MAP_READ) {
    error = ERROR_ACCESS_DENIED;
  } else if (std::string(lpName).find('/') != std::string::npos) {
    error = ERROR_INVALID_NAME;
  } else {
    const std::string objectName = "/" + state.prefix + lpName;
    // shm_open adds O_NOFOLLOW and O_CLOEXEC; O_NONBLOCK keeps a FIFO from holding the open.
    const int descriptor = ::shm_open(objectName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY, 0);
    if (descriptor < 0) {
      const int openError = errno;
      error = errorOf(openError);
      if (openError == ELOOP) sayOnce("shared memory " + objectName + " is a symbolic link: ignored");
    } else if (error = checkObject(descriptor, objectName); error != ERROR_SUCCESS) {
      ::close(descriptor);
    } else {
      handle = newHandleKey();
      state.mappings.emplace(handle, Mapping{state.nextMappingId++, descriptor});
    }
  }
  logSharedMemoryCall("OpenFileMappingA", std::move(arguments), mappingText(handle), error);
  return handle;
}

LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap) {
  const std::lock_guard lock(sharedMemoryMutex);
  std::vector<std::string> arguments{mappingText(hFileMappingObject), winapi::detail::hexText(dwDesiredAccess),
                                     winapi::detail::hexText(dwFileOffsetHigh),
                                     winapi::detail::hexText(dwFileOffsetLow),
                                     winapi::detail::hexText(static_cast<DWORD>(dwNumberOfBytesToMap))};
  const std::uint64_t offset = (std::uint64_t{dwFileOffsetHigh} << 32) | dwFileOffsetLow;
  const auto mapping = state.mappings.find(hFileMappingObject);
  struct stat status {};
  DWORD error = ERROR_SUCCESS;
  void* view = nullptr;
  if (mapping == state.mappings.end()) {
    error = ERROR_INVALID_HANDLE;
  } else if (dwDesiredAccess != FILE_MAP_READ) {
    error = ERROR_ACCESS_DENIED;
  } else if (offset % AllocationGranularity != 0) {
    error = ERROR_MAPPED_ALIGNMENT;
  } else if (::fstat(mapping->second.descriptor, &status) != 0) {
    error = errorOf(errno);
  } else if (status.st_size == 0) {
    error = ERROR_FILE_INVALID;
  } else {
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const std::uint64_t length = dwNumberOfBytesToMap != 0 ? dwNumberOfBytesToMap : size - std::min(offset, size);
    std::unique_ptr<unsigned char[]> bytes;
    if (offset < size && length <= size - offset) bytes = std::make_unique_for_overwrite<unsigned char[]>(length);
    // No copy, or a short one: the object ends before the view does, or shrank since.
    if (!bytes || ::pread(mapping->second.descriptor, bytes.get(), length, static_cast<off_t>(offset)) !=
                      static_cast<ssize_t>(length)) {
      error = ERROR_ACCESS_DENIED;
    } else {
      view = bytes.get();
      state.views.emplace(view, View{state.nextViewId++, std::move(bytes)});
    }
  }
  logSharedMemoryCall("MapViewOfFile", std::move(arguments), viewText(view), error);
  return view;
}

BOOL UnmapViewOfFile(LPCVOID lpBaseAddress) {
  const std::lock_guard lock(sharedMemoryMutex);
  std::vector<std::string> arguments{viewText(lpBaseAddress)};
  DWORD error = ERROR_SUCCESS;
  const auto found = state.views.find(lpBaseAddress);
  if (found == state.views.end()) {
    error = ERROR_INVALID_ADDRESS;
  } else {
    state.views.erase(found);
  }
  logSharedMemoryCall("UnmapViewOfFile", std::move(arguments), error == ERROR_SUCCESS ? "1" : "0", error);
  return error == ERROR_SUCCESS ? 1 : 0;
}

BOOL CloseHandle(HANDLE hObject) {
  const std::lock_guard lock(sharedMemoryMutex);
  std::vector<std::string> arguments{mappingText(hObject)};
  DWORD error = ERROR_SUCCESS;
  const auto found = state.mappings.find(hObject);
  if (found == state.mappings.end()) {
    error = ERROR_INVALID_HANDLE;
  } else {
    ::close(found->second.descriptor);
    state.mappings.erase(found);
    deleteHandleKey(hObject);
  }
  logSharedMemoryCall("CloseHandle", std::move(arguments), error == ERROR_SUCCESS ? "1" : "0", error);
  return error == ERROR_SUCCESS ? 1 : 0;
}

namespace winapi::detail {

void resetSharedMemory() {
  const std::lock_guard lock(sharedMemoryMutex);
  state.prefix.clear();  // open handles and views stay valid until closed
  state.reasonsSaid.clear();
}

}  // namespace winapi::detail

namespace winapi::fake {

void setSharedMemoryPrefix(std::string prefix) {
  const std::lock_guard lock(sharedMemoryMutex);
  state.prefix = std::move(prefix);
}

std::string sharedMemoryObjectName(std::string_view name) {
  const std::lock_guard lock(sharedMemoryMutex);
  return "/" + state.prefix + std::string(name);
}

int openMappingHandles() {
  const std::lock_guard lock(sharedMemoryMutex);
  return static_cast<int>(state.mappings.size());
}

int openMappedViews() {
  const std::lock_guard lock(sharedMemoryMutex);
  return static_cast<int>(state.views.size());
}

}  // namespace winapi::fake
