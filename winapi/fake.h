// Test controls of the Windows stand-ins (winapi/windows.h): the reported version family,
// the in-memory service database, injected failures of service-manager and library
// calls, the log of calls made, the name prefix of shared memory, the registry image and
// the media players behind the player windows. Everything here is process-wide; reset()
// returns it to the start state: non-NT family, empty database, no failures, empty log,
// counters zero, no prefix, the machine's registry, the session bus's players and no
// player window handles.
#pragma once

#include "winapi/media_players.h"
#include "winapi/registry_image.h"
#include "winapi/windows.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace winapi::fake {

// The calls whose failure can be injected.
enum class Call {
  OpenSCManagerA,
  OpenServiceA,
  CreateServiceA,
  QueryServiceStatus,
  StartServiceA,
  ControlService,
  DeleteService,
  CloseServiceHandle,
};

// A service as CreateServiceA records it.
struct ServiceConfig {
  std::string name;
  std::string displayName;
  DWORD serviceType = SERVICE_KERNEL_DRIVER;
  DWORD startType = SERVICE_DEMAND_START;
  DWORD errorControl = SERVICE_ERROR_NORMAL;
  std::string binaryPath;
  std::string loadOrderGroup;
  std::string dependencies;  // the double-zero-terminated list, '\0'-separated
  std::string startName;
};

struct Service {
  ServiceConfig config;
  DWORD state = SERVICE_STOPPED;
  bool markedForDelete = false;  // removed once stopped and no handle to it is open
};

// One call of a service-manager, library or shared-memory stand-in (the version and
// folder queries are not logged). Arguments as text: strings as given ("(null)" for a null
// pointer), numbers in hexadecimal ("0x17"), handles as "scm#n", "svc#n", "lib#n", "map#n",
// views as "view#n", or "(null)". The result in the same form ("1"/"0" for BOOL); error is the last error the
// call set (ERROR_SUCCESS when it succeeded).
struct CallRecord {
  std::string function;
  std::vector<std::string> arguments;
  std::string result;
  DWORD error = ERROR_SUCCESS;
};

inline constexpr int Always = -1;

void reset();

// Version and folders.
void setNtFamily(bool nt);
void failVersionQuery(bool fail);
void setSystemDirectory(std::string directory);

// Service database.
void addService(ServiceConfig config, DWORD state = SERVICE_STOPPED);
void setServiceState(std::string_view name, DWORD state);
std::optional<Service> findService(std::string_view name);
std::vector<Service> services();
// Whether StartServiceA looks for a kernel driver's file (its binary path) and, as Windows
// does, fails with ERROR_FILE_NOT_FOUND when there is none (default true). Off: every driver
// counts as present, as on a machine where the driver is installed.
void setDriverFilesChecked(bool checked);
// The state StartServiceA leaves a started service in (default SERVICE_RUNNING).
void setStateAfterStart(DWORD state);
// The manager rights this caller may be granted; asking for more gives ERROR_ACCESS_DENIED
// (default SC_MANAGER_ALL_ACCESS).
void setGrantableManagerRights(DWORD rights);
// Service-manager and service handles that are open now.
int openServiceHandles();

// Makes `call` fail with `code`: the first `after` matching calls still succeed, then the
// next `times` calls fail (Always: every one). Several rules may stand side by side; the
// first that applies wins. A failing call changes nothing but the last error.
void failCall(Call call, DWORD code, int times = Always, int after = 0);

// Libraries. A failing LoadLibraryA is matched by the name exactly as passed.
void failLoadLibrary(std::string name, DWORD code);
// The next `times` FreeLibrary calls fail with `code` and leave the library loaded.
void failFreeLibrary(DWORD code, int times = 1);
int loadedLibraries();  // successful LoadLibraryA calls since reset()
int freedLibraries();   // successful FreeLibrary calls since reset()

// The log of those calls since reset() or clearCallLog(), in order.
std::vector<CallRecord> callLog();
std::vector<std::string> calledFunctions();
void clearCallLog();

// Named shared memory. A mapping's name is looked up as "/" + prefix + name; a test sets a
// prefix of its own (with its process id in it) so that it meets neither a block published
// on the machine nor one of another test. reset() clears the prefix.
void setSharedMemoryPrefix(std::string prefix);
// The POSIX shared-memory object OpenFileMappingA opens for `name` under the prefix.
std::string sharedMemoryObjectName(std::string_view name);
int openMappingHandles();  // mapping handles open now
int openMappedViews();     // views mapped now
// Registry. The image shown until one is loaded, and again after reset(), is the machine's:
// built from the kernel's parallel-port list below `parportRoot` (KernelParportRoot after
// reset()) at each open of a root key, in the layout of the family reported then. A loaded
// image stays until the next load or reset(); handles open at a change keep showing the
// image they were opened in. Registry calls are logged too: the result is the code
// returned, in decimal (error stays ERROR_SUCCESS); a successful RegOpenKeyExA adds the
// handle it gave ("key#n") as a last argument. Sleep is not logged.
void loadRegistry(RegistryImage image);
void loadRegistryFile(const std::filesystem::path& file);  // raises RegistryFormatError
void useMachineRegistry(std::filesystem::path parportRoot);
int openRegistryKeys();  // key handles given out and not yet closed

// Called with the time asked at each Sleep, before the thread sleeps (null, and after
// reset(): no watch).
void setSleepObserver(std::function<void(DWORD)> observer);
// Player windows: these players stand behind them instead of the session bus's until
// reset(). Calls of the stand-ins are not logged.
void setMediaPlayers(std::shared_ptr<MediaPlayers> players);

}  // namespace winapi::fake
