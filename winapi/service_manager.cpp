// Stand-in for the Service Control Manager: an in-memory service database of the local
// machine with the real one's states, access rights, handle semantics and error codes.
// Service names compare without regard to ASCII case, as on Windows. Started services
// reach their state at once (no pending phase unless a test asks for one); a service
// marked for deletion goes when it is stopped and its last handle is closed.
// Not modelled: remote machines, the database lock, service configuration queries and
// changes, dependencies between services, service processes.
#include "winapi/detail.h"
#include "winapi/fake.h"
#include "winapi/windows.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using winapi::fake::Call;
using winapi::fake::CallRecord;
using winapi::fake::Service;
using winapi::fake::ServiceConfig;

constexpr char ActiveDatabaseName[] = "ServicesActive";

struct HandleEntry {
  bool manager;          // a manager handle; otherwise a service handle
  DWORD rights;          // granted when it was opened
  std::string service;   // key of the service of a service handle
};

struct FailureRule {
  Call call;
  DWORD code;
  int times;
  int after;
  int seen = 0;
};

struct ServiceState {
  std::map<std::string, Service> services;  // by lower-case name
  std::map<std::uintptr_t, HandleEntry> handles;
  std::uintptr_t nextHandle = 1;
  std::vector<FailureRule> rules;
  DWORD grantableManagerRights = SC_MANAGER_ALL_ACCESS;
  DWORD stateAfterStart = SERVICE_RUNNING;
  bool driverFilesChecked = true;
};

std::mutex serviceMutex;
ServiceState state;

std::string keyOf(std::string_view name) {
  std::string key(name);
  std::transform(key.begin(), key.end(), key.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return key;
}

std::uintptr_t idOf(SC_HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

SC_HANDLE newHandle(HandleEntry entry) {
  const std::uintptr_t id = state.nextHandle++;
  state.handles.emplace(id, std::move(entry));
  return reinterpret_cast<SC_HANDLE>(id);
}

std::string handleText(SC_HANDLE handle) {
  if (handle == nullptr) return "(null)";
  const auto found = state.handles.find(idOf(handle));
  const std::string prefix = found == state.handles.end() ? "bad#" : found->second.manager ? "scm#" : "svc#";
  return prefix + std::to_string(idOf(handle));
}

HandleEntry* managerEntry(SC_HANDLE handle) {
  const auto found = state.handles.find(idOf(handle));
  return found != state.handles.end() && found->second.manager ? &found->second : nullptr;
}

HandleEntry* serviceEntry(SC_HANDLE handle) {
  const auto found = state.handles.find(idOf(handle));
  return found != state.handles.end() && !found->second.manager ? &found->second : nullptr;
}

// The injected failure for this call, or ERROR_SUCCESS. Every matching rule counts it.
DWORD injectedFailure(Call call) {
  DWORD code = ERROR_SUCCESS;
  for (FailureRule& rule : state.rules) {
    if (rule.call != call) continue;
    const int index = rule.seen++;
    const bool failing =
        index >= rule.after && (rule.times == winapi::fake::Always || index < rule.after + rule.times);
    if (failing && code == ERROR_SUCCESS) code = rule.code;
  }
  return code;
}

void removeIfDone(const std::string& key) {
  const auto found = state.services.find(key);
  if (found == state.services.end()) return;
  if (!found->second.markedForDelete || found->second.state != SERVICE_STOPPED) return;
  const bool referenced = std::any_of(state.handles.begin(), state.handles.end(), [&](const auto& handle) {
    return !handle.second.manager && handle.second.service == key;
  });
  if (!referenced) state.services.erase(found);
}

void fillStatus(const Service& service, SERVICE_STATUS& status) {
  status = SERVICE_STATUS{};
  status.dwServiceType = service.config.serviceType;
  status.dwCurrentState = service.state;
  status.dwControlsAccepted = service.state == SERVICE_RUNNING || service.state == SERVICE_PAUSED
                                  ? SERVICE_ACCEPT_STOP
                                  : 0;
}

// The list of a double-zero-terminated string block, kept with its inner zeros.
std::string dependencyList(LPCSTR dependencies) {
  if (dependencies == nullptr) return {};
  std::string list;
  for (const char* item = dependencies; *item != '\0'; item += std::string_view(item).size() + 1) {
    if (!list.empty()) list.push_back('\0');
    list += item;
  }
  return list;
}

bool validServiceType(DWORD type) {
  return type == SERVICE_KERNEL_DRIVER || type == SERVICE_FILE_SYSTEM_DRIVER ||
         type == SERVICE_WIN32_OWN_PROCESS || type == SERVICE_WIN32_SHARE_PROCESS;
}

bool isDriver(DWORD type) { return type == SERVICE_KERNEL_DRIVER || type == SERVICE_FILE_SYSTEM_DRIVER; }

// Finishes one call: logs it and sets the last error when it failed.
template <typename Result>
Result finish(std::string function, std::vector<std::string> arguments, Result result, DWORD error) {
  std::string resultText;
  if constexpr (std::is_same_v<Result, SC_HANDLE>) {
    resultText = handleText(result);
  } else {
    resultText = std::to_string(result);
  }
  if (error != ERROR_SUCCESS) SetLastError(error);
  winapi::detail::logCall(CallRecord{std::move(function), std::move(arguments), std::move(resultText), error});
  return result;
}

DWORD openManager(LPCSTR machine, LPCSTR database, DWORD access, SC_HANDLE& result) {
  if (machine != nullptr && *machine != '\0') return RPC_S_SERVER_UNAVAILABLE;
  if (database != nullptr && std::string_view(database) != ActiveDatabaseName) return ERROR_DATABASE_DOES_NOT_EXIST;
  if ((access & ~state.grantableManagerRights) != 0) return ERROR_ACCESS_DENIED;
  result = newHandle(HandleEntry{true, access | SC_MANAGER_CONNECT, {}});
  return ERROR_SUCCESS;
}

DWORD openService(SC_HANDLE manager, LPCSTR name, DWORD access, SC_HANDLE& result) {
  if (managerEntry(manager) == nullptr) return ERROR_INVALID_HANDLE;
  if (name == nullptr || *name == '\0') return ERROR_INVALID_NAME;
  const std::string key = keyOf(name);
  if (state.services.count(key) == 0) return ERROR_SERVICE_DOES_NOT_EXIST;
  result = newHandle(HandleEntry{false, access, key});
  return ERROR_SUCCESS;
}

struct CreateArguments {
  SC_HANDLE manager;
  LPCSTR name;
  LPCSTR displayName;
  DWORD access;
  DWORD serviceType;
  DWORD startType;
  DWORD errorControl;
  LPCSTR binaryPath;
  LPCSTR loadOrderGroup;
  LPDWORD tagId;
  LPCSTR dependencies;
  LPCSTR startName;
};

DWORD createService(const CreateArguments& a, SC_HANDLE& result) {
  const HandleEntry* manager = managerEntry(a.manager);
  if (manager == nullptr) return ERROR_INVALID_HANDLE;
  if ((manager->rights & SC_MANAGER_CREATE_SERVICE) == 0) return ERROR_ACCESS_DENIED;
  if (a.name == nullptr || *a.name == '\0') return ERROR_INVALID_NAME;
  const std::string_view name(a.name);
  if (name.find_first_of("/\\") != std::string_view::npos) return ERROR_INVALID_NAME;
  if (a.binaryPath == nullptr || *a.binaryPath == '\0') return ERROR_INVALID_PARAMETER;
  if (!validServiceType(a.serviceType) || a.startType > SERVICE_DISABLED ||
      a.errorControl > SERVICE_ERROR_CRITICAL)
    return ERROR_INVALID_PARAMETER;
  const bool earlyStart = a.startType == SERVICE_BOOT_START || a.startType == SERVICE_SYSTEM_START;
  if (earlyStart && !isDriver(a.serviceType)) return ERROR_INVALID_PARAMETER;
  if (a.tagId != nullptr && !earlyStart) return ERROR_INVALID_PARAMETER;

  const std::string key = keyOf(name);
  const auto existing = state.services.find(key);
  if (existing != state.services.end())
    return existing->second.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_EXISTS;
  const std::string displayName = a.displayName != nullptr ? a.displayName : a.name;
  const std::string displayKey = keyOf(displayName);
  for (const auto& [otherKey, other] : state.services) {
    if (keyOf(other.config.displayName) == displayKey || otherKey == displayKey) return ERROR_DUPLICATE_SERVICE_NAME;
  }

  Service service;
  service.config = ServiceConfig{a.name,
                                 displayName,
                                 a.serviceType,
                                 a.startType,
                                 a.errorControl,
                                 a.binaryPath,
                                 a.loadOrderGroup != nullptr ? a.loadOrderGroup : "",
                                 dependencyList(a.dependencies),
                                 a.startName != nullptr ? a.startName : ""};
  if (a.tagId != nullptr) *a.tagId = 1;
  state.services.emplace(key, std::move(service));
  result = newHandle(HandleEntry{false, a.access, key});
  return ERROR_SUCCESS;
}

// The service behind a service handle, checked for the right the call needs.
DWORD serviceFor(SC_HANDLE handle, DWORD right, Service*& service) {
  const HandleEntry* entry = serviceEntry(handle);
  if (entry == nullptr) return ERROR_INVALID_HANDLE;
  if ((entry->rights & right) != right) return ERROR_ACCESS_DENIED;
  service = &state.services.at(entry->service);
  return ERROR_SUCCESS;
}

DWORD queryStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
  Service* service = nullptr;
  if (const DWORD error = serviceFor(handle, SERVICE_QUERY_STATUS, service)) return error;
  if (status == nullptr) return ERROR_INVALID_PARAMETER;
  fillStatus(*service, *status);
  return ERROR_SUCCESS;
}

DWORD startService(SC_HANDLE handle) {
  Service* service = nullptr;
  if (const DWORD error = serviceFor(handle, SERVICE_START, service)) return error;
  if (service->markedForDelete) return ERROR_SERVICE_MARKED_FOR_DELETE;
  if (service->config.startType == SERVICE_DISABLED) return ERROR_SERVICE_DISABLED;
  if (service->state != SERVICE_STOPPED) return ERROR_SERVICE_ALREADY_RUNNING;
  // Starting a kernel driver loads its file, which must be there.
  std::error_code ignored;
  if (state.driverFilesChecked && service->config.serviceType == SERVICE_KERNEL_DRIVER &&
      !std::filesystem::is_regular_file(service->config.binaryPath, ignored))
    return ERROR_FILE_NOT_FOUND;
  service->state = state.stateAfterStart;
  return ERROR_SUCCESS;
}

DWORD controlRight(DWORD control) {
  switch (control) {
    case SERVICE_CONTROL_STOP: return SERVICE_STOP;
    case SERVICE_CONTROL_PAUSE:
    case SERVICE_CONTROL_CONTINUE: return SERVICE_PAUSE_CONTINUE;
    case SERVICE_CONTROL_INTERROGATE: return SERVICE_INTERROGATE;
    default: return SERVICE_USER_DEFINED_CONTROL;
  }
}

DWORD controlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  constexpr DWORD FirstUserControl = 128;
  constexpr DWORD LastUserControl = 255;
  if (control > LastUserControl || (control > SERVICE_CONTROL_INTERROGATE && control < FirstUserControl) ||
      control == 0)
    return ERROR_INVALID_PARAMETER;
  Service* service = nullptr;
  if (const DWORD error = serviceFor(handle, controlRight(control), service)) return error;
  if (status == nullptr) return ERROR_INVALID_PARAMETER;
  if (service->state == SERVICE_STOPPED) return ERROR_SERVICE_NOT_ACTIVE;
  switch (control) {
    case SERVICE_CONTROL_STOP:
      if (service->state != SERVICE_RUNNING && service->state != SERVICE_PAUSED)
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
      service->state = SERVICE_STOPPED;
      break;
    case SERVICE_CONTROL_INTERROGATE:
      break;
    default:  // drivers accept neither pause, continue nor their own controls
      return ERROR_INVALID_SERVICE_CONTROL;
  }
  fillStatus(*service, *status);
  return ERROR_SUCCESS;
}

DWORD deleteService(SC_HANDLE handle) {
  Service* service = nullptr;
  if (const DWORD error = serviceFor(handle, DELETE, service)) return error;
  if (service->markedForDelete) return ERROR_SERVICE_MARKED_FOR_DELETE;
  service->markedForDelete = true;
  return ERROR_SUCCESS;
}

DWORD closeHandle(SC_HANDLE handle) {
  const auto found = state.handles.find(idOf(handle));
  if (handle == nullptr || found == state.handles.end()) return ERROR_INVALID_HANDLE;
  const HandleEntry entry = found->second;
  state.handles.erase(found);
  if (!entry.manager) removeIfDone(entry.service);
  return ERROR_SUCCESS;
}

}  // namespace

SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess) {
  const std::lock_guard lock(serviceMutex);
  using winapi::detail::hexText, winapi::detail::stringText;
  SC_HANDLE result = nullptr;
  DWORD error = injectedFailure(Call::OpenSCManagerA);
  if (error == ERROR_SUCCESS) error = openManager(lpMachineName, lpDatabaseName, dwDesiredAccess, result);
  return finish("OpenSCManagerA", {stringText(lpMachineName), stringText(lpDatabaseName), hexText(dwDesiredAccess)},
                result, error);
}

SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess) {
  const std::lock_guard lock(serviceMutex);
  using winapi::detail::hexText, winapi::detail::stringText;
  std::vector<std::string> arguments{handleText(hSCManager), stringText(lpServiceName), hexText(dwDesiredAccess)};
  SC_HANDLE result = nullptr;
  DWORD error = injectedFailure(Call::OpenServiceA);
  if (error == ERROR_SUCCESS) error = openService(hSCManager, lpServiceName, dwDesiredAccess, result);
  return finish("OpenServiceA", std::move(arguments), result, error);
}

SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                         DWORD dwServiceType, DWORD dwStartType, DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                         LPCSTR lpServiceStartName, LPCSTR lpPassword) {
  const std::lock_guard lock(serviceMutex);
  using winapi::detail::hexText, winapi::detail::stringText;
  std::vector<std::string> arguments{handleText(hSCManager),
                                     stringText(lpServiceName),
                                     stringText(lpDisplayName),
                                     hexText(dwDesiredAccess),
                                     hexText(dwServiceType),
                                     hexText(dwStartType),
                                     hexText(dwErrorControl),
                                     stringText(lpBinaryPathName),
                                     stringText(lpLoadOrderGroup),
                                     lpdwTagId == nullptr ? "(null)" : "tag",
                                     lpDependencies == nullptr ? "(null)" : dependencyList(lpDependencies),
                                     stringText(lpServiceStartName),
                                     lpPassword == nullptr ? "(null)" : "password"};
  SC_HANDLE result = nullptr;
  DWORD error = injectedFailure(Call::CreateServiceA);
  if (error == ERROR_SUCCESS) {
    error = createService(CreateArguments{hSCManager, lpServiceName, lpDisplayName, dwDesiredAccess, dwServiceType,
                                          dwStartType, dwErrorControl, lpBinaryPathName, lpLoadOrderGroup,
                                          lpdwTagId, lpDependencies, lpServiceStartName},
                          result);
  }
  return finish("CreateServiceA", std::move(arguments), result, error);
}

BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  const std::lock_guard lock(serviceMutex);
  std::vector<std::string> arguments{handleText(hService), lpServiceStatus == nullptr ? "(null)" : "status"};
  DWORD error = injectedFailure(Call::QueryServiceStatus);
  if (error == ERROR_SUCCESS) error = queryStatus(hService, lpServiceStatus);
  return finish<BOOL>("QueryServiceStatus", std::move(arguments), error == ERROR_SUCCESS, error);
}

BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors) {
  const std::lock_guard lock(serviceMutex);
  std::vector<std::string> arguments{handleText(hService), winapi::detail::hexText(dwNumServiceArgs),
                                     lpServiceArgVectors == nullptr ? "(null)" : "arguments"};
  DWORD error = injectedFailure(Call::StartServiceA);
  if (error == ERROR_SUCCESS) error = startService(hService);
  return finish<BOOL>("StartServiceA", std::move(arguments), error == ERROR_SUCCESS, error);
}

BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  const std::lock_guard lock(serviceMutex);
  std::vector<std::string> arguments{handleText(hService), winapi::detail::hexText(dwControl),
                                     lpServiceStatus == nullptr ? "(null)" : "status"};
  DWORD error = injectedFailure(Call::ControlService);
  if (error == ERROR_SUCCESS) error = controlService(hService, dwControl, lpServiceStatus);
  return finish<BOOL>("ControlService", std::move(arguments), error == ERROR_SUCCESS, error);
}

BOOL DeleteService(SC_HANDLE hService) {
  const std::lock_guard lock(serviceMutex);
  std::vector<std::string> arguments{handleText(hService)};
  DWORD error = injectedFailure(Call::DeleteService);
  if (error == ERROR_SUCCESS) error = deleteService(hService);
  return finish<BOOL>("DeleteService", std::move(arguments), error == ERROR_SUCCESS, error);
}

BOOL CloseServiceHandle(SC_HANDLE hSCObject) {
  const std::lock_guard lock(serviceMutex);
  std::vector<std::string> arguments{handleText(hSCObject)};
  DWORD error = injectedFailure(Call::CloseServiceHandle);
  if (error == ERROR_SUCCESS) error = closeHandle(hSCObject);
  return finish<BOOL>("CloseServiceHandle", std::move(arguments), error == ERROR_SUCCESS, error);
}

namespace winapi::detail {

void resetServices() {
  const std::lock_guard lock(serviceMutex);
  state = ServiceState{};
}

}  // namespace winapi::detail

namespace winapi::fake {

void addService(ServiceConfig config, DWORD serviceState) {
  const std::lock_guard lock(serviceMutex);
  if (config.displayName.empty()) config.displayName = config.name;
  const std::string key = keyOf(config.name);
  state.services.insert_or_assign(key, Service{std::move(config), serviceState, false});
}

void setServiceState(std::string_view name, DWORD serviceState) {
  const std::lock_guard lock(serviceMutex);
  const auto found = state.services.find(keyOf(name));
  if (found == state.services.end()) throw std::invalid_argument("no service named " + std::string(name));
  found->second.state = serviceState;
}

std::optional<Service> findService(std::string_view name) {
  const std::lock_guard lock(serviceMutex);
  const auto found = state.services.find(keyOf(name));
  if (found == state.services.end()) return std::nullopt;
  return found->second;
}

std::vector<Service> services() {
  const std::lock_guard lock(serviceMutex);
  std::vector<Service> all;
  std::transform(state.services.begin(), state.services.end(), std::back_inserter(all),
                 [](const auto& entry) { return entry.second; });
  return all;
}

void setDriverFilesChecked(bool checked) {
  const std::lock_guard lock(serviceMutex);
  state.driverFilesChecked = checked;
}

void setStateAfterStart(DWORD serviceState) {
  const std::lock_guard lock(serviceMutex);
  state.stateAfterStart = serviceState;
}

void setGrantableManagerRights(DWORD rights) {
  const std::lock_guard lock(serviceMutex);
  state.grantableManagerRights = rights;
}

int openServiceHandles() {
  const std::lock_guard lock(serviceMutex);
  return static_cast<int>(state.handles.size());
}

void failCall(Call call, DWORD code, int times, int after) {
  const std::lock_guard lock(serviceMutex);
  state.rules.push_back(FailureRule{call, code, times, after});
}

}  // namespace winapi::fake
