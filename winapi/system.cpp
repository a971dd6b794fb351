// Stand-ins for the last error, the version query and the system directory; the shared
// call log and the process-wide reset of every stand-in.
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/windows.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr char DefaultSystemDirectory[] = "/usr/lib";

thread_local DWORD lastError = ERROR_SUCCESS;

struct SystemState {
  bool ntFamily = false;
  bool failVersionQuery = false;
  std::string systemDirectory = DefaultSystemDirectory;
};

std::mutex systemMutex;
SystemState systemState;

std::mutex logMutex;
std::vector<winapi::fake::CallRecord> callRecords;

}  // namespace

DWORD GetLastError() { return lastError; }

void SetLastError(DWORD dwErrCode) { lastError = dwErrCode; }

BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  const std::lock_guard lock(systemMutex);
  if (lpVersionInformation == nullptr || systemState.failVersionQuery) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  OSVERSIONINFOA& info = *lpVersionInformation;
  info = OSVERSIONINFOA{};
  info.dwOSVersionInfoSize = sizeof(OSVERSIONINFOA);
  if (systemState.ntFamily) {  // as Windows XP
    info.dwMajorVersion = 5;
    info.dwMinorVersion = 1;
    info.dwBuildNumber = 2600;
    info.dwPlatformId = VER_PLATFORM_WIN32_NT;
  } else {  // as Windows 98 SE
    info.dwMajorVersion = 4;
    info.dwMinorVersion = 10;
    info.dwBuildNumber = 2222;
    info.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
  }
  return 1;
}

UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
  const std::lock_guard lock(systemMutex);
  const std::string& directory = systemState.systemDirectory;
  const auto length = static_cast<UINT>(directory.size());
  if (lpBuffer == nullptr || uSize <= length) return length + 1;
  std::copy(directory.begin(), directory.end(), lpBuffer);
  lpBuffer[length] = '\0';
  return length;
}

namespace winapi::detail {

void logCall(fake::CallRecord record) {
  const std::lock_guard lock(logMutex);
  callRecords.push_back(std::move(record));
}

void resetCallLog() {
  const std::lock_guard lock(logMutex);
  callRecords.clear();
}

void resetSystem() {
  const std::lock_guard lock(systemMutex);
  systemState = SystemState{};
}

std::string hexText(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

std::string stringText(LPCSTR text) { return text == nullptr ? "(null)" : text; }

}  // namespace winapi::detail

namespace winapi::fake {

void reset() {
  detail::resetSystem();
  detail::resetServices();
  detail::resetLibraries();
  detail::resetSharedMemory();
  detail::resetRegistry();
  detail::resetSleep();
  detail::resetPlayerWindows();
  detail::resetCallLog();
  SetLastError(ERROR_SUCCESS);
}

void setNtFamily(bool nt) {
  const std::lock_guard lock(systemMutex);
  systemState.ntFamily = nt;
}

void failVersionQuery(bool fail) {
  const std::lock_guard lock(systemMutex);
  systemState.failVersionQuery = fail;
}

void setSystemDirectory(std::string directory) {
  const std::lock_guard lock(systemMutex);
  systemState.systemDirectory = std::move(directory);
}

std::vector<CallRecord> callLog() {
  const std::lock_guard lock(logMutex);
  return callRecords;
}

std::vector<std::string> calledFunctions() {
  const std::lock_guard lock(logMutex);
  std::vector<std::string> names;
  names.reserve(callRecords.size());
  for (const CallRecord& record : callRecords) names.push_back(record.function);
  return names;
}

void clearCallLog() { detail::resetCallLog(); }

}  // namespace winapi::fake
