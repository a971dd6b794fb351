// The library stand-ins: where LoadLibraryA finds a library (the program's folder compared
// with the toolkit's ParamStr; a folder that cannot be read, in a private mount namespace
// without /proc, as root), a start-up routine's refusal, GetProcAddress, FreeLibrary with
// reference counts and injected failures, the failure texts and the counters tests read.
#include "winapi/fake.h"
#include "toolkit/toolkit.h"
#include "winapi/windows.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using ProbeLocationFn = const char* (*)();

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override { winapi::fake::reset(); }
  void TearDown() override { winapi::fake::reset(); }

  static std::string Location(HMODULE library) {
    const auto probe = reinterpret_cast<ProbeLocationFn>(GetProcAddress(library, "ProbeLocation"));
    return probe != nullptr ? probe() : "no probe";
  }
};

struct SearchRow {
  const char* name;
  std::string file;
  std::string location;  // empty: not loaded
  DWORD error;
};

void PrintTo(const SearchRow& row, std::ostream* os) { *os << row.name; }

class SearchOrderTest : public LibraryTest, public ::testing::WithParamInterface<SearchRow> {};

TEST_P(SearchOrderTest, FindsTheLibraryWhereExpected) {
  const SearchRow& row = GetParam();
  SetLastError(ERROR_SUCCESS);
  const HMODULE library = LoadLibraryA(row.file.c_str());
  if (row.location.empty()) {
    EXPECT_EQ(library, nullptr);
    EXPECT_EQ(GetLastError(), row.error);
    return;
  }
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(Location(library), row.location);
  EXPECT_NE(FreeLibrary(library), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SearchOrderTest,
    ::testing::Values(
        SearchRow{"BareNameBesideTheExecutableFirst", "winapi_search_probe.so", "beside-executable", 0},
        SearchRow{"PathAsGiven", std::string(WINAPI_SEARCH_DIR) + "/winapi_search_probe.so", "loader-search", 0},
        SearchRow{"MissingBareName", "winapi_no_such_probe.so", "", ERROR_MOD_NOT_FOUND},
        SearchRow{"MissingPath", "/nonexistent/winapi_search_probe.so", "", ERROR_MOD_NOT_FOUND},
        SearchRow{"RelativePathIsNotSearched", "./winapi_search_only_probe.so", "", ERROR_MOD_NOT_FOUND},
        SearchRow{"EmptyName", "", "", ERROR_MOD_NOT_FOUND}),
    [](const auto& row) { return std::string(row.param.name); });

#ifdef __SANITIZE_ADDRESS__
constexpr bool RunPathSearched = false;  // the sanitizer's dlopen runs from its own library
#else
constexpr bool RunPathSearched = true;
#endif

TEST_F(LibraryTest, BareNameNotBesideTheExecutableIsLeftToTheLoaderSearch) {
  const HMODULE system = LoadLibraryA("libm.so.6");
  ASSERT_NE(system, nullptr);
  EXPECT_NE(GetProcAddress(system, "cos"), nullptr);
  EXPECT_NE(FreeLibrary(system), 0);

  if (RunPathSearched) {
    const HMODULE probe = LoadLibraryA("winapi_search_only_probe.so");
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(Location(probe), "loader-search");
    EXPECT_NE(FreeLibrary(probe), 0);
  }
}

TEST_F(LibraryTest, FileThatIsNotALibraryIsABadFormat) {
  const std::string path = ::testing::TempDir() + "winapi_not_a_library.so";
  std::ofstream(path) << "not an ELF file\n";
  EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
  std::remove(path.c_str());
}

TEST_F(LibraryTest, InjectedLoadFailureMatchesTheNameAsPassed) {
  winapi::fake::failLoadLibrary("winapi_search_probe.so", ERROR_ACCESS_DENIED);
  EXPECT_EQ(LoadLibraryA("winapi_search_probe.so"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  const std::string besideExecutable = ExtractFileDir(ParamStr(0)) + "/winapi_search_probe.so";
  const HMODULE library = LoadLibraryA(besideExecutable.c_str());
  EXPECT_NE(library, nullptr);
  EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(winapi::fake::loadedLibraries(), 1);
  FreeLibrary(library);
}

TEST_F(LibraryTest, MissingNamesAndForeignHandlesGiveNull) {
  const HMODULE library = LoadLibraryA("winapi_search_probe.so");
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(GetProcAddress(library, "NoSuchEntry"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(library, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  int notALibrary = 0;
  const auto foreign = reinterpret_cast<HMODULE>(&notALibrary);
  for (const HMODULE bad : {HMODULE{nullptr}, foreign}) {
    EXPECT_EQ(GetProcAddress(bad, "ProbeLocation"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(FreeLibrary(bad), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_NE(FreeLibrary(library), 0);
}

std::string LastLibraryErrorText() {
  std::string text(GetLastLibraryErrorTextA(nullptr, 0), '\0');
  text.resize(GetLastLibraryErrorTextA(text.data(), static_cast<DWORD>(text.size())));
  return text;
}

TEST_F(LibraryTest, FailuresLeaveTheirReasonAndTheNextLoadClearsIt) {
  using ::testing::HasSubstr;
  const std::string probe = ExtractFileDir(ParamStr(0)) + "/winapi_search_probe.so";

  setenv("WINAPI_PROBE_REFUSAL", "no port here: plug one in", 1);
  EXPECT_EQ(LoadLibraryA("winapi_search_probe.so"), nullptr);
  unsetenv("WINAPI_PROBE_REFUSAL");
  EXPECT_EQ(GetLastError(), ERROR_DLL_INIT_FAILED);
  EXPECT_EQ(LastLibraryErrorText(), probe + " refused to load: no port here: plug one in");
  EXPECT_EQ(winapi::fake::loadedLibraries(), 0);

  const HMODULE library = LoadLibraryA("winapi_search_probe.so");
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(LastLibraryErrorText(), "");
  EXPECT_EQ(GetProcAddress(library, "NoSuchEntry"), nullptr);
  EXPECT_NE(GetProcAddress(library, "ProbeLocation"), nullptr);
  EXPECT_THAT(LastLibraryErrorText(), HasSubstr(probe + " lacks the entry point NoSuchEntry"));
  FreeLibrary(library);

  EXPECT_EQ(LoadLibraryA("winapi_no_such_library.so"), nullptr);
  EXPECT_THAT(LastLibraryErrorText(), HasSubstr("winapi_no_such_library.so is neither beside the program (" +
                                                ExtractFileDir(ParamStr(0)) + ")"));
  char tooSmall[4] = "abc";
  EXPECT_EQ(GetLastLibraryErrorTextA(tooSmall, sizeof tooSmall), LastLibraryErrorText().size() + 1);
  EXPECT_STREQ(tooSmall, "abc");
}

TEST_F(LibraryTest, BareNameFailsWithTheReasonWhileTheProgramsFolderCannotBeRead) {
  if (geteuid() != 0) GTEST_SKIP() << "hiding /proc needs root, for a private mount namespace";
  const pid_t child = fork();
  if (child == 0) {
    const bool hidden = unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                        mount("tmpfs", "/proc", "tmpfs", 0, nullptr) == 0;
    if (!hidden) _exit(2);
    const std::string reason = "winapi_search_probe.so is looked for beside the program first, but the program's "
                               "folder is unknown (/proc/self/exe: No such file or directory)";
    const bool refused = LoadLibraryA("winapi_search_probe.so") == nullptr && GetLastError() == ERROR_MOD_NOT_FOUND &&
                         LastLibraryErrorText() == reason;
    if (!refused) std::fprintf(stderr, "not refused as expected: %s\n", LastLibraryErrorText().c_str());
    _exit(refused ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot mount over /proc here";
  EXPECT_EQ(status, 0) << "the refusal's text is on standard error above";
}

TEST_F(LibraryTest, EveryLoadNeedsItsOwnFree) {
  const HMODULE first = LoadLibraryA("winapi_search_probe.so");
  const HMODULE second = LoadLibraryA("winapi_search_probe.so");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_NE(FreeLibrary(first), 0);
  EXPECT_EQ(Location(second), "beside-executable");
  EXPECT_NE(FreeLibrary(second), 0);
  EXPECT_EQ(FreeLibrary(first), 0);  // no longer loaded
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(winapi::fake::loadedLibraries(), 2);
  EXPECT_EQ(winapi::fake::freedLibraries(), 2);
}

TEST_F(LibraryTest, FailedFreeLeavesTheLibraryLoaded) {
  const HMODULE library = LoadLibraryA("winapi_search_probe.so");
  winapi::fake::failFreeLibrary(ERROR_INVALID_HANDLE, 1);
  EXPECT_EQ(FreeLibrary(library), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(winapi::fake::freedLibraries(), 0);
  EXPECT_EQ(Location(library), "beside-executable");
  EXPECT_NE(FreeLibrary(library), 0);
  EXPECT_EQ(winapi::fake::freedLibraries(), 1);
}

TEST_F(LibraryTest, CallsAreLogged) {
  const HMODULE library = LoadLibraryA("winapi_search_probe.so");
  GetProcAddress(library, "ProbeLocation");
  GetProcAddress(library, "Missing");
  FreeLibrary(library);
  const auto log = winapi::fake::callLog();
  ASSERT_EQ(log.size(), 4U);
  EXPECT_EQ(log[0].function, "LoadLibraryA");
  EXPECT_EQ(log[0].arguments, std::vector<std::string>{"winapi_search_probe.so"});
  EXPECT_EQ(log[0].result, "lib#1");
  EXPECT_EQ(log[1].result, "address");
  EXPECT_EQ(log[2].arguments, (std::vector<std::string>{"lib#1", "Missing"}));
  EXPECT_EQ(log[2].error, ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(log[3].function, "FreeLibrary");
  EXPECT_EQ(log[3].result, "1");
}

TEST_F(LibraryTest, LibrariesLeftLoadedAcrossAResetAreNumberedWhenTheyNextShow) {
  const HMODULE left = LoadLibraryA("winapi_search_probe.so");
  winapi::fake::failFreeLibrary(ERROR_INVALID_HANDLE, 1);
  FreeLibrary(left);
  winapi::fake::reset();
  const HMODULE fresh = LoadLibraryA((std::string(WINAPI_SEARCH_DIR) + "/winapi_search_only_probe.so").c_str());
  FreeLibrary(left);
  FreeLibrary(fresh);
  const auto log = winapi::fake::callLog();
  ASSERT_EQ(log.size(), 3U);
  EXPECT_EQ(log[0].result, "lib#1");
  EXPECT_EQ(log[1].arguments, std::vector<std::string>{"lib#2"});
  EXPECT_EQ(log[2].arguments, std::vector<std::string>{"lib#1"});
}

}  // namespace
