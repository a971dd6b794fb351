// TDLPortIO and the service "DLPortIO": construction, what OpenDriver and CloseDriver do
// to the service from each state it can be in, every failing step, and the exact
// service-manager traces against golden files.
#include "portio_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>

namespace portio_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Not;
using winapi::fake::Call;

using ServiceStepTest = PortioTest;

// --- Construction -------------------------------------------------------------------

TEST_F(ServiceStepTest, NewComponentHasItsDefaultsAndTouchesNothing) {
  for (const bool nt : {false, true}) {
    SCOPED_TRACE(nt ? "NT family" : "other family");
    winapi::fake::setNtFamily(nt);
    const TDLPortIO component(nullptr);
    EXPECT_FALSE(component.ActiveHW());
    EXPECT_TRUE(component.HardAccess());
    EXPECT_EQ(component.DLLPath(), "");
    EXPECT_EQ(component.LastError(), "");
    EXPECT_EQ(component.DriverPath(), "/usr/lib/DRIVERS");
  }
  EXPECT_THAT(winapi::fake::callLog(), IsEmpty());
  EXPECT_EQ(winapi::fake::loadedLibraries(), 0);
  EXPECT_THAT(winapi::fake::services(), IsEmpty());
}

TEST_F(ServiceStepTest, DriverPathFollowsTheSystemDirectory) {
  winapi::fake::setSystemDirectory("/opt/system");
  EXPECT_EQ(TDLPortIO(nullptr).DriverPath(), "/opt/system/DRIVERS");

  // A directory that does not fit the 260-character buffer is not read at all.
  winapi::fake::setSystemDirectory("/" + std::string(MAX_PATH, 'd'));
  EXPECT_EQ(TDLPortIO(nullptr).DriverPath(), "/DRIVERS");
}

TEST_F(ServiceStepTest, FailedVersionQueryMeansNotNt) {
  winapi::fake::setNtFamily(true);
  winapi::fake::failVersionQuery(true);
  TDLPortIO component(nullptr);
  component.SetDLLPath(LibraryFolder());
  component.OpenDriver();
  EXPECT_TRUE(component.ActiveHW());
  EXPECT_FALSE(Called("OpenSCManagerA"));
}

TEST_F(ServiceStepTest, OtherFamilyNeverCallsTheServiceManager) {
  auto component = NewComponent(false);
  component->OpenDriver();
  ASSERT_TRUE(component->ActiveHW());
  EXPECT_TRUE(component->CloseDriver());
  for (const std::string& name : winapi::fake::calledFunctions())
    EXPECT_THAT(name, ::testing::AnyOf("LoadLibraryA", "GetProcAddress", "FreeLibrary"));
  EXPECT_EQ(component->LastError(), "");
}

// --- The service from each state it can be in ---------------------------------------

struct ServiceRow {
  const char* name;
  std::optional<DWORD> before;  // nullopt: not installed
  bool opens;
  std::optional<DWORD> afterOpen;
  std::optional<DWORD> afterClose;
};

void PrintTo(const ServiceRow& row, std::ostream* os) { *os << row.name; }

class ServiceTableTest : public PortioTest, public ::testing::WithParamInterface<ServiceRow> {};

TEST_P(ServiceTableTest, OpenAndCloseLeaveTheServiceAsTheyFoundIt) {
  const ServiceRow& row = GetParam();
  if (row.before) InstallService(*row.before);
  auto component = NewComponent(true);

  component->OpenDriver();
  EXPECT_EQ(component->ActiveHW(), row.opens);
  EXPECT_EQ(ServiceState(), row.afterOpen);
  if (!row.opens) {
    EXPECT_EQ(component->LastError(), "DriverStart: Error #-1");
    EXPECT_FALSE(Called("StartServiceA"));
    EXPECT_FALSE(Called("DeleteService"));
    EXPECT_FALSE(Called("LoadLibraryA"));
    EXPECT_EQ(winapi::fake::openServiceHandles(), 0);
    EXPECT_FALSE(component->CloseDriver());
    return;
  }
  EXPECT_EQ(component->LastError(), "");
  EXPECT_EQ(winapi::fake::openServiceHandles(), 1);  // the manager stays connected
  EXPECT_EQ(LibrariesHeld(), 1);

  EXPECT_TRUE(component->CloseDriver());
  EXPECT_FALSE(component->ActiveHW());
  EXPECT_EQ(ServiceState(), row.afterClose);
  EXPECT_EQ(component->LastError(), "");
  EXPECT_EQ(winapi::fake::openServiceHandles(), 0);
  EXPECT_EQ(LibrariesHeld(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryState, ServiceTableTest,
    ::testing::Values(ServiceRow{"NotInstalled", std::nullopt, true, SERVICE_RUNNING, std::nullopt},
                      ServiceRow{"Stopped", SERVICE_STOPPED, true, SERVICE_RUNNING, SERVICE_STOPPED},
                      ServiceRow{"Running", SERVICE_RUNNING, true, SERVICE_RUNNING, SERVICE_RUNNING},
                      ServiceRow{"StartPending", SERVICE_START_PENDING, false, SERVICE_START_PENDING, {}},
                      ServiceRow{"StopPending", SERVICE_STOP_PENDING, false, SERVICE_STOP_PENDING, {}},
                      ServiceRow{"ContinuePending", SERVICE_CONTINUE_PENDING, false, SERVICE_CONTINUE_PENDING, {}},
                      ServiceRow{"PausePending", SERVICE_PAUSE_PENDING, false, SERVICE_PAUSE_PENDING, {}},
                      ServiceRow{"Paused", SERVICE_PAUSED, false, SERVICE_PAUSED, {}}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ServiceStepTest, CreatedServiceIsADemandStartKernelDriverAtTheDriverPath) {
  struct Case {
    std::string driverPath;
    std::string binaryPath;
  };
  for (const Case& c : {Case{"/opt/kelvari", "/opt/kelvari/DLPortIO.SYS"},
                        Case{"/opt/kelvari/", "/opt/kelvari//DLPortIO.SYS"}, Case{"", "/DLPortIO.SYS"}}) {
    SCOPED_TRACE(c.driverPath);
    auto component = NewComponent(true);
    component->SetDriverPath(c.driverPath);
    component->OpenDriver();
    ASSERT_TRUE(component->ActiveHW());
    const auto service = winapi::fake::findService(DriverServiceName);
    ASSERT_TRUE(service.has_value());
    EXPECT_EQ(service->config.name, "DLPortIO");
    EXPECT_EQ(service->config.displayName, "DriverLINX Port I/O Driver");
    EXPECT_EQ(service->config.serviceType, SERVICE_KERNEL_DRIVER);
    EXPECT_EQ(service->config.startType, SERVICE_DEMAND_START);
    EXPECT_EQ(service->config.errorControl, SERVICE_ERROR_NORMAL);
    EXPECT_EQ(service->config.loadOrderGroup, "SST miniport drivers");
    EXPECT_EQ(service->config.binaryPath, c.binaryPath);
    EXPECT_EQ(service->state, SERVICE_RUNNING);
    EXPECT_TRUE(component->CloseDriver());
  }
}

TEST_F(ServiceStepTest, AccessDeniedConnectRetriesWithoutCreateRight) {
  InstallService(SERVICE_STOPPED);
  winapi::fake::failCall(Call::OpenSCManagerA, ERROR_ACCESS_DENIED, 1);
  auto component = NewComponent(true);
  component->OpenDriver();
  EXPECT_TRUE(component->ActiveHW());
  const auto log = winapi::fake::callLog();
  ASSERT_GE(log.size(), 2U);
  EXPECT_EQ(TraceLine(log[0]), "OpenSCManagerA((null), (null), 0x17) -> (null) [5]");
  EXPECT_EQ(TraceLine(log[1]), "OpenSCManagerA((null), (null), 0x15) -> scm#1");
  EXPECT_EQ(component->LastError(), "");
}

TEST_F(ServiceStepTest, OtherConnectErrorsAreNotRetried) {
  winapi::fake::failCall(Call::OpenSCManagerA, RPC_S_SERVER_UNAVAILABLE);
  auto component = NewComponent(true);
  component->OpenDriver();
  EXPECT_EQ(CallCount("OpenSCManagerA"), 1);
  EXPECT_EQ(component->LastError(), "ConnectSCM: Error #1722");
}

TEST_F(ServiceStepTest, ReducedRightsStillOpenAnInstalledService) {
  InstallService(SERVICE_RUNNING);
  winapi::fake::setGrantableManagerRights(SC_MANAGER_ALL_ACCESS & ~SC_MANAGER_CREATE_SERVICE);
  auto component = NewComponent(true);
  component->OpenDriver();
  EXPECT_TRUE(component->ActiveHW());
  EXPECT_EQ(component->LastError(), "");
}

// --- Every failing step --------------------------------------------------------------

struct FailureRow {
  const char* name;
  std::optional<DWORD> before;  // service state before OpenDriver; nullopt: not installed
  std::function<void()> inject;
  bool duringClose;  // injected after a successful OpenDriver, then CloseDriver is called
  std::string lastError;
  bool active;
  std::optional<DWORD> serviceAfter;  // nullopt: not installed afterwards
  int handlesOpen;                    // service-manager handles still open
  int librariesHeld;
};

void PrintTo(const FailureRow& row, std::ostream* os) { *os << row.name; }

class FailureTableTest : public PortioTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(FailureTableTest, FailureIsReportedAndWhatWasAcquiredIsReleased) {
  const FailureRow& row = GetParam();
  if (row.before) InstallService(*row.before);
  auto component = NewComponent(true);
  if (row.duringClose) {
    component->OpenDriver();
    ASSERT_TRUE(component->ActiveHW());
    row.inject();
    EXPECT_FALSE(component->CloseDriver());
  } else {
    row.inject();
    component->OpenDriver();
  }
  EXPECT_EQ(component->ActiveHW(), row.active);
  EXPECT_EQ(component->LastError(), row.lastError);
  EXPECT_EQ(ServiceState(), row.serviceAfter);
  EXPECT_EQ(winapi::fake::openServiceHandles(), row.handlesOpen);
  EXPECT_EQ(LibrariesHeld(), row.librariesHeld);
}

void FailLibrary() { winapi::fake::failLoadLibrary(LibraryFile(), ERROR_MOD_NOT_FOUND); }

INSTANTIATE_TEST_SUITE_P(
    EveryStep, FailureTableTest,
    ::testing::Values(
        FailureRow{"ConnectDenied", std::nullopt,
                   [] { winapi::fake::failCall(Call::OpenSCManagerA, ERROR_ACCESS_DENIED); }, false,
                   "ConnectSCM: Error #5", false, std::nullopt, 0, 0},
        FailureRow{"ReducedRightsCannotCreate", std::nullopt,
                   [] { winapi::fake::setGrantableManagerRights(SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE |
                                                                SC_MANAGER_QUERY_LOCK_STATUS); },
                   false, "DriverInstall: Error #5", false, std::nullopt, 0, 0},
        FailureRow{"CreateFails", std::nullopt,
                   [] { winapi::fake::failCall(Call::CreateServiceA, ERROR_INVALID_PARAMETER); }, false,
                   "DriverInstall: Error #87", false, std::nullopt, 0, 0},
        FailureRow{"StartStatusOpenFails", std::nullopt,
                   [] { winapi::fake::failCall(Call::OpenServiceA, ERROR_ACCESS_DENIED, 1, 1); }, false,
                   "DriverStart: Error #5", false, std::nullopt, 0, 0},
        FailureRow{"QueryFails", std::nullopt,
                   [] { winapi::fake::failCall(Call::QueryServiceStatus, ERROR_INVALID_HANDLE); }, false,
                   "DriverStart: Error #6", false, std::nullopt, 0, 0},
        FailureRow{"StartOpenFails", std::nullopt,
                   [] { winapi::fake::failCall(Call::OpenServiceA, ERROR_ACCESS_DENIED, 1, 2); }, false,
                   "DriverStart: Error #5", false, std::nullopt, 0, 0},
        FailureRow{"StartFails", std::nullopt,
                   [] { winapi::fake::failCall(Call::StartServiceA, ERROR_FILE_NOT_FOUND); }, false,
                   "DriverStart: Error #2", false, std::nullopt, 0, 0},
        FailureRow{"StartFailsInstalledService", SERVICE_STOPPED,
                   [] { winapi::fake::failCall(Call::StartServiceA, ERROR_SERVICE_DISABLED); }, false,
                   "DriverStart: Error #1058", false, SERVICE_STOPPED, 0, 0},
        FailureRow{"LibraryMissing", std::nullopt, FailLibrary, false, "", false, std::nullopt, 0, 0},
        FailureRow{"LibraryMissingServiceWasStopped", SERVICE_STOPPED, FailLibrary, false, "", false,
                   SERVICE_STOPPED, 0, 0},
        FailureRow{"LibraryMissingServiceWasRunning", SERVICE_RUNNING, FailLibrary, false, "", false,
                   SERVICE_RUNNING, 0, 0},
        // The clean-up goes on after a failed stop: the running service is marked for deletion.
        FailureRow{"LibraryMissingStopFails", std::nullopt,
                   [] {
                     FailLibrary();
                     winapi::fake::failCall(Call::ControlService, ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
                   },
                   false, "DriverStop: Error #1061", false, SERVICE_RUNNING, 0, 0},
        FailureRow{"LibraryMissingRemoveFails", std::nullopt,
                   [] {
                     FailLibrary();
                     winapi::fake::failCall(Call::DeleteService, ERROR_ACCESS_DENIED);
                   },
                   false, "DriverRemove: Error #5", false, SERVICE_STOPPED, 0, 0},
        FailureRow{"CloseStopFails", std::nullopt,
                   [] { winapi::fake::failCall(Call::ControlService, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, 1); }, true,
                   "DriverStop: Error #1061", true, SERVICE_RUNNING, 1, 1},
        FailureRow{"CloseRemoveFails", std::nullopt,
                   [] { winapi::fake::failCall(Call::DeleteService, ERROR_ACCESS_DENIED, 1); }, true,
                   "DriverRemove: Error #5", true, SERVICE_STOPPED, 1, 1},
        FailureRow{"CloseFreeFails", std::nullopt, [] { winapi::fake::failFreeLibrary(ERROR_INVALID_HANDLE, 1); },
                   true, "", true, std::nullopt, 0, 1}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ServiceStepTest, LastErrorKeepsTheMostRecentFailureThroughLaterSuccess) {
  InstallService(SERVICE_START_PENDING);
  auto component = NewComponent(true);
  component->OpenDriver();
  EXPECT_EQ(component->LastError(), "DriverStart: Error #-1");

  winapi::fake::setServiceState(DriverServiceName, SERVICE_RUNNING);
  component->OpenDriver();
  EXPECT_TRUE(component->ActiveHW());
  EXPECT_TRUE(component->CloseDriver());
  EXPECT_EQ(component->LastError(), "DriverStart: Error #-1");

  winapi::fake::failCall(Call::OpenSCManagerA, ERROR_INVALID_PARAMETER);
  component->OpenDriver();
  EXPECT_EQ(component->LastError(), "ConnectSCM: Error #87");
}

TEST_F(ServiceStepTest, ServiceStepsReportTheErrorOfTheCallThatFailed) {
  // A step whose close succeeds after the failed call still reports the failed call's code.
  InstallService(SERVICE_RUNNING);
  auto component = NewComponent(true);
  ASSERT_TRUE(component->ConnectSCM());
  winapi::fake::failCall(Call::DeleteService, ERROR_SERVICE_MARKED_FOR_DELETE, 1);
  EXPECT_FALSE(component->DriverRemove());
  EXPECT_EQ(component->LastError(), "DriverRemove: Error #1072");
  EXPECT_TRUE(component->DisconnectSCM());
  EXPECT_FALSE(component->DisconnectSCM());
  EXPECT_EQ(winapi::fake::openServiceHandles(), 0);
}

// --- Golden service-manager traces ---------------------------------------------------

struct TraceRow {
  const char* name;
  std::optional<DWORD> before;
  bool nt;
};

void PrintTo(const TraceRow& row, std::ostream* os) { *os << row.name; }

class GoldenTraceTest : public PortioTest, public ::testing::WithParamInterface<TraceRow> {};

std::string ReadGolden(const std::string& name) {
  std::ifstream file(std::string(KELVARI_TEST_DATA) + "/portio/" + name + ".trace");
  EXPECT_TRUE(file.good()) << "missing golden trace " << name;
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

TEST_P(GoldenTraceTest, OpenAndCloseMakeExactlyTheseCalls) {
  const TraceRow& row = GetParam();
  if (row.before) InstallService(*row.before);
  auto component = NewComponent(row.nt);
  component->SetDriverPath("/opt/kelvari");
  std::ostringstream trace;
  trace << "# OpenDriver\n";
  component->OpenDriver();
  for (const std::string& line : Trace()) trace << line << "\n";
  winapi::fake::clearCallLog();
  trace << "# CloseDriver\n";
  component->CloseDriver();
  for (const std::string& line : Trace()) trace << line << "\n";

  EXPECT_EQ(Replace(trace.str(), LibraryFolder(), "<libs>"), ReadGolden(row.name));
}

INSTANTIATE_TEST_SUITE_P(Traces, GoldenTraceTest,
                         ::testing::Values(TraceRow{"nt_not_installed", std::nullopt, true},
                                           TraceRow{"nt_stopped", SERVICE_STOPPED, true},
                                           TraceRow{"nt_running", SERVICE_RUNNING, true},
                                           TraceRow{"other_family", std::nullopt, false}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace portio_test
