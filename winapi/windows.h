// The Windows interfaces the port component calls, with their Windows names, types and
// argument shapes, so that the code above reads as it would on Windows. The components include
// it as <windows.h>, which names this header on Linux and the real one in the Windows build
// (preset windows); tests/win32/call_table.cpp holds the stand-ins' answers against Win32's.
//
// On Linux these are stand-ins:
// - version: the non-NT family (platform id 1, VER_PLATFORM_WIN32_WINDOWS), because here
//   the port library reaches the ports itself and no kernel service is needed;
// - system directory: "/usr/lib", the home of the system's shared libraries;
// - service manager: an in-memory service database with the real states, access rights,
//   handle semantics and error codes (controlled by tests through winapi/fake.h); a kernel
//   driver starts only when its file is there;
// - dynamic libraries: dlopen/dlsym/dlclose; a bare file name is looked for in the
//   executable's folder first, then by the loader's own search;
// - player windows: each media player of the desktop (MPRIS on the D-Bus session bus)
//   appears as a top-level window of the media player's class (see "Player windows").
// The last error is per thread; a call that succeeds leaves it as it was.
// Not provided: wide-character (W) functions, remote machines, service configuration
// queries and changes, service-specific start arguments.
#pragma once

#include <cstddef>
#include <cstdint>

// Basic types.
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPDWORD = DWORD*;

// Opaque handles.
using HMODULE = struct HMODULE__*;
using HINSTANCE = HMODULE;
using SC_HANDLE = struct SC_HANDLE__*;
using FARPROC = void (*)();

inline constexpr UINT MAX_PATH = 260;

// Error codes (GetLastError).
inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_ACCESS_DENIED = 5;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_INVALID_NAME = 123;
inline constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
inline constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
inline constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
inline constexpr DWORD ERROR_DLL_INIT_FAILED = 1114;
inline constexpr DWORD ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr DWORD ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr DWORD ERROR_SERVICE_DISABLED = 1058;
inline constexpr DWORD ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr DWORD ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr DWORD ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr DWORD ERROR_DATABASE_DOES_NOT_EXIST = 1065;
inline constexpr DWORD ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr DWORD ERROR_SERVICE_EXISTS = 1073;
inline constexpr DWORD ERROR_DUPLICATE_SERVICE_NAME = 1078;
inline constexpr DWORD RPC_S_SERVER_UNAVAILABLE = 1722;

// Version.
inline constexpr DWORD VER_PLATFORM_WIN32s = 0;
inline constexpr DWORD VER_PLATFORM_WIN32_WINDOWS = 1;
inline constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
};
using LPOSVERSIONINFOA = OSVERSIONINFOA*;
static_assert(sizeof(OSVERSIONINFOA) == 148);

// Standard access rights.
inline constexpr DWORD DELETE = 0x00010000;
inline constexpr DWORD READ_CONTROL = 0x00020000;
inline constexpr DWORD WRITE_DAC = 0x00040000;
inline constexpr DWORD WRITE_OWNER = 0x00080000;
inline constexpr DWORD STANDARD_RIGHTS_REQUIRED = 0x000F0000;

// Service-manager access rights.
inline constexpr DWORD SC_MANAGER_CONNECT = 0x0001;
inline constexpr DWORD SC_MANAGER_CREATE_SERVICE = 0x0002;
inline constexpr DWORD SC_MANAGER_ENUMERATE_SERVICE = 0x0004;
inline constexpr DWORD SC_MANAGER_LOCK = 0x0008;
inline constexpr DWORD SC_MANAGER_QUERY_LOCK_STATUS = 0x0010;
inline constexpr DWORD SC_MANAGER_MODIFY_BOOT_CONFIG = 0x0020;
inline constexpr DWORD SC_MANAGER_ALL_ACCESS = 0x000F003F;

// Service access rights.
inline constexpr DWORD SERVICE_QUERY_CONFIG = 0x0001;
inline constexpr DWORD SERVICE_CHANGE_CONFIG = 0x0002;
inline constexpr DWORD SERVICE_QUERY_STATUS = 0x0004;
inline constexpr DWORD SERVICE_ENUMERATE_DEPENDENTS = 0x0008;
inline constexpr DWORD SERVICE_START = 0x0010;
inline constexpr DWORD SERVICE_STOP = 0x0020;
inline constexpr DWORD SERVICE_PAUSE_CONTINUE = 0x0040;
inline constexpr DWORD SERVICE_INTERROGATE = 0x0080;
inline constexpr DWORD SERVICE_USER_DEFINED_CONTROL = 0x0100;
inline constexpr DWORD SERVICE_ALL_ACCESS = 0x000F01FF;

// Service types.
inline constexpr DWORD SERVICE_KERNEL_DRIVER = 0x01;
inline constexpr DWORD SERVICE_FILE_SYSTEM_DRIVER = 0x02;
inline constexpr DWORD SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr DWORD SERVICE_WIN32_SHARE_PROCESS = 0x20;

// Start types.
inline constexpr DWORD SERVICE_BOOT_START = 0;
inline constexpr DWORD SERVICE_SYSTEM_START = 1;
inline constexpr DWORD SERVICE_AUTO_START = 2;
inline constexpr DWORD SERVICE_DEMAND_START = 3;
inline constexpr DWORD SERVICE_DISABLED = 4;

// Error control.
inline constexpr DWORD SERVICE_ERROR_IGNORE = 0;
inline constexpr DWORD SERVICE_ERROR_NORMAL = 1;
inline constexpr DWORD SERVICE_ERROR_SEVERE = 2;
inline constexpr DWORD SERVICE_ERROR_CRITICAL = 3;

// Current states.
inline constexpr DWORD SERVICE_STOPPED = 1;
inline constexpr DWORD SERVICE_START_PENDING = 2;
inline constexpr DWORD SERVICE_STOP_PENDING = 3;
inline constexpr DWORD SERVICE_RUNNING = 4;
inline constexpr DWORD SERVICE_CONTINUE_PENDING = 5;
inline constexpr DWORD SERVICE_PAUSE_PENDING = 6;
inline constexpr DWORD SERVICE_PAUSED = 7;

// Controls, and the controls a service accepts.
inline constexpr DWORD SERVICE_CONTROL_STOP = 1;
inline constexpr DWORD SERVICE_CONTROL_PAUSE = 2;
inline constexpr DWORD SERVICE_CONTROL_CONTINUE = 3;
inline constexpr DWORD SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr DWORD SERVICE_ACCEPT_STOP = 0x01;

struct SERVICE_STATUS {
  DWORD dwServiceType;
  DWORD dwCurrentState;
  DWORD dwControlsAccepted;
  DWORD dwWin32ExitCode;
  DWORD dwServiceSpecificExitCode;
  DWORD dwCheckPoint;
  DWORD dwWaitHint;
};
using LPSERVICE_STATUS = SERVICE_STATUS*;

// Last error.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// Version and folders.
BOOL GetVersionExA(LPOSVERSIONINFOA lpVersionInformation);
// Copies the system directory (no trailing separator) and returns its length; when the
// buffer is too small it returns the size needed, terminator included, and copies nothing.
UINT GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);

// Service Control Manager.
SC_HANDLE OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName, DWORD dwDesiredAccess);
SC_HANDLE OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, DWORD dwDesiredAccess);
SC_HANDLE CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName, LPCSTR lpDisplayName,
                         DWORD dwDesiredAccess, DWORD dwServiceType, DWORD dwStartType,
                         DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                         LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId, LPCSTR lpDependencies,
                         LPCSTR lpServiceStartName, LPCSTR lpPassword);
BOOL QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus);
BOOL StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCSTR* lpServiceArgVectors);
BOOL ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus);
BOOL DeleteService(SC_HANDLE hService);
BOOL CloseServiceHandle(SC_HANDLE hSCObject);

// Dynamic libraries.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);

// ---------------------------------------------------------------------------------------
// Named shared memory, read-only (the sensor reader). A mapping's name is a POSIX
// shared-memory object: "/" followed by the name (a test may put a prefix of its own
// before the name, winapi/fake.h). As a Windows mapping lives only while its creator holds
// it, the object counts only while a process holds a write lock on it (an open file
// description lock, fcntl F_OFD_SETLK): one left by a publisher that ended fails with
// ERROR_FILE_NOT_FOUND. Only a regular file owned by this user or by root is read, opened
// without blocking: a symbolic link, FIFO, device or directory fails with
// ERROR_FILE_INVALID, another user's object with ERROR_ACCESS_DENIED, each reason said
// once on standard error. Only FILE_MAP_READ is granted. A view is a copy of the bytes read when it
// is mapped, its length fixed then: 0 maps from the offset to the end of the object, and a
// view reaching past the object's end fails with ERROR_ACCESS_DENIED, as a view larger
// than its mapping does on Windows. Handles and views are checked: an unknown one fails with
// ERROR_INVALID_HANDLE or ERROR_INVALID_ADDRESS. Not provided: creating mappings, write
// access, file-backed mappings, inheritance (bInheritHandle is ignored).
// ---------------------------------------------------------------------------------------
using HANDLE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using SIZE_T = std::size_t;

inline constexpr DWORD FILE_MAP_READ = 0x0004;
inline constexpr DWORD ERROR_FILE_INVALID = 1006;
inline constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;
inline constexpr DWORD ERROR_INVALID_ADDRESS = 487;

HANDLE OpenFileMappingA(DWORD dwDesiredAccess, BOOL bInheritHandle, LPCSTR lpName);
LPVOID MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh,
                     DWORD dwFileOffsetLow, SIZE_T dwNumberOfBytesToMap);
BOOL UnmapViewOfFile(LPCVOID lpBaseAddress);
BOOL CloseHandle(HANDLE hObject);
// Registry, read-only (winapi/registry.cpp). The stand-in shows an in-memory image: by
// default the machine's own, built from the kernel's list of parallel ports in the layout
// that the reported family keeps them in; tests load prepared images (winapi/fake.h).
// Key and value names are matched without regard to case, as the real registry does. Only
// the two root keys below exist; asking for any right beyond KEY_READ gives
// ERROR_ACCESS_DENIED. Names are sized in characters with the terminator, data in bytes;
// string data is returned as stored, so a string stored without a terminator comes back
// without one. The functions return the error code and leave the last error alone.
using HKEY = struct HKEY__*;
using PHKEY = HKEY*;
using LPBYTE = BYTE*;
using REGSAM = DWORD;

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};
using PFILETIME = FILETIME*;

inline const HKEY HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(std::uintptr_t{0x80000002});
inline const HKEY HKEY_DYN_DATA = reinterpret_cast<HKEY>(std::uintptr_t{0x80000006});

inline constexpr DWORD ERROR_MORE_DATA = 234;
inline constexpr DWORD ERROR_NO_MORE_ITEMS = 259;

// Key access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_READ = 0x00020019;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_RESOURCE_LIST = 8;

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult);
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                   LPSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime);
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName, LPDWORD lpReserved,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData);
LONG RegCloseKey(HKEY hKey);

// Thread sleep (winapi/sleep.cpp): suspends the calling thread for the given milliseconds.
void Sleep(DWORD dwMilliseconds);
// Player windows. Each media player of the desktop appears as one top-level window of class
// "Winamp v1.x" (winapi/winamp.h) whose title is composed as that player composes its own
// and which answers the player's WM_USER queries; winapi/media_players.h says where the
// players come from. Every call is bounded in time: a player that is gone or does not answer
// in time makes its window invalid (texts empty, replies 0). Not provided: other window
// classes, window messages other than the player's queries, enumeration, window changes.
using HWND = struct HWND__*;
using WCHAR = wchar_t;
using LPWSTR = WCHAR*;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

inline constexpr UINT WM_USER = 0x0400;
inline constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;

// The window of the first matching player, or null. A null class name matches every class,
// a null window name every title. With several players, one that is playing comes first,
// then one that is paused, then any other; among equals the one with the lowest bus name.
HWND FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
// Copies at most nMaxCount - 1 characters of the window's title and a terminating zero;
// returns the number of characters copied (0 with an empty buffer for an invalid window).
// The A form gives the Windows ANSI code page (1252), "?" for characters it lacks.
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
int GetWindowTextW(HWND hWnd, LPWSTR lpString, int nMaxCount);
// Sends a message and returns the window's reply; a player's replies lie in the 32-bit
// range, as a window message's reply on 32-bit Windows does.
LRESULT SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// Loader start-up routines and failure texts (Linux stand-in only; Windows has neither).
// A library may export `const char* DllStartUp()`; LoadLibraryA calls it once after loading
// the library, in the place of a DLL's entry point, and when it returns a reason instead of
// null the library is unloaded and the load fails with ERROR_DLL_INIT_FAILED.
inline constexpr char LibraryStartUpName[] = "DllStartUp";
// Copies the reason for the latest failure of LoadLibraryA, or of GetProcAddress since the
// latest LoadLibraryA, on this thread (the library's path and what to do about it; empty
// when there was none) and returns its length; when the buffer is too small it returns the
// size needed, terminator included, and copies nothing.
DWORD GetLastLibraryErrorTextA(LPSTR lpBuffer, DWORD nSize);
