// The service-manager stand-in: connecting, handle rights, state transitions with their
// error codes, deletion, injected failures, the call log and the last error.
#include "winapi/fake.h"
#include "winapi/windows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using winapi::fake::Call;

constexpr char Name[] = "Probe";

class ServiceManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winapi::fake::reset();
    winapi::fake::setDriverFilesChecked(false);  // the probe driver has no file
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager_, nullptr);
  }
  void TearDown() override { winapi::fake::reset(); }

  static void Install(DWORD state, DWORD startType = SERVICE_DEMAND_START) {
    winapi::fake::ServiceConfig config;
    config.name = Name;
    config.startType = startType;
    winapi::fake::addService(config, state);
  }
  SC_HANDLE Open(DWORD rights) const { return OpenServiceA(manager_, Name, rights); }
  static DWORD State() { return winapi::fake::findService(Name).value().state; }

  SC_HANDLE manager_ = nullptr;
};

// --- Connecting ----------------------------------------------------------------------

struct ConnectRow {
  const char* name;
  const char* machine;
  const char* database;
  DWORD access;
  DWORD grantable;
  DWORD error;  // ERROR_SUCCESS: connects
};

void PrintTo(const ConnectRow& row, std::ostream* os) { *os << row.name; }

class ConnectTest : public ::testing::TestWithParam<ConnectRow> {
 protected:
  void SetUp() override { winapi::fake::reset(); }
};

TEST_P(ConnectTest, ConnectsOrFailsWithTheCode) {
  const ConnectRow& row = GetParam();
  winapi::fake::setGrantableManagerRights(row.grantable);
  SetLastError(ERROR_SUCCESS);
  const SC_HANDLE manager = OpenSCManagerA(row.machine, row.database, row.access);
  EXPECT_EQ(manager != nullptr, row.error == ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), row.error);
  EXPECT_EQ(winapi::fake::openServiceHandles(), manager != nullptr ? 1 : 0);
}

constexpr DWORD NoCreate = SC_MANAGER_ALL_ACCESS & ~SC_MANAGER_CREATE_SERVICE;

INSTANTIATE_TEST_SUITE_P(
    Rows, ConnectTest,
    ::testing::Values(ConnectRow{"Local", nullptr, nullptr, 0x17, SC_MANAGER_ALL_ACCESS, ERROR_SUCCESS},
                      ConnectRow{"EmptyMachine", "", "ServicesActive", 0x17, SC_MANAGER_ALL_ACCESS, ERROR_SUCCESS},
                      ConnectRow{"Remote", "\\\\other", nullptr, 0x17, SC_MANAGER_ALL_ACCESS, RPC_S_SERVER_UNAVAILABLE},
                      ConnectRow{"OtherDatabase", nullptr, "ServicesFailed", 0x17, SC_MANAGER_ALL_ACCESS,
                                 ERROR_DATABASE_DOES_NOT_EXIST},
                      ConnectRow{"MoreThanGrantable", nullptr, nullptr, 0x17, NoCreate, ERROR_ACCESS_DENIED},
                      ConnectRow{"WithinGrantable", nullptr, nullptr, 0x15, NoCreate, ERROR_SUCCESS}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ServiceManagerTest, ServiceCallsNeedAManagerHandle) {
  Install(SERVICE_STOPPED);
  const SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
  ASSERT_NE(service, nullptr);
  for (const SC_HANDLE bad : {SC_HANDLE{nullptr}, service}) {
    EXPECT_EQ(OpenServiceA(bad, Name, SERVICE_QUERY_STATUS), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  ASSERT_NE(CloseServiceHandle(manager_), 0);
  EXPECT_EQ(Open(SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CloseServiceHandle(manager_), 0);  // closed twice
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  // A service handle outlives the manager handle it was opened through.
  SERVICE_STATUS status{};
  EXPECT_NE(QueryServiceStatus(service, &status), 0);
}

TEST_F(ServiceManagerTest, ServicesAreFoundByNameInAnyCase) {
  Install(SERVICE_RUNNING);
  EXPECT_NE(OpenServiceA(manager_, "PROBE", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(OpenServiceA(manager_, "Other", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_DOES_NOT_EXIST);
  EXPECT_EQ(OpenServiceA(manager_, "", SERVICE_QUERY_STATUS), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

// --- Handle rights -------------------------------------------------------------------

struct RightRow {
  const char* name;
  DWORD needed;
  std::function<BOOL(SC_HANDLE)> call;
};

void PrintTo(const RightRow& row, std::ostream* os) { *os << row.name; }

class HandleRightsTest : public ServiceManagerTest, public ::testing::WithParamInterface<RightRow> {};

TEST_P(HandleRightsTest, CallNeedsItsRightOnTheHandle) {
  const RightRow& row = GetParam();
  Install(SERVICE_RUNNING);
  const SC_HANDLE without = Open(SERVICE_ALL_ACCESS & ~row.needed);
  EXPECT_EQ(row.call(without), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_NE(row.call(Open(row.needed)), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HandleRightsTest,
    ::testing::Values(RightRow{"Query", SERVICE_QUERY_STATUS,
                               [](SC_HANDLE h) {
                                 SERVICE_STATUS status{};
                                 return QueryServiceStatus(h, &status);
                               }},
                      RightRow{"Stop", SERVICE_STOP,
                               [](SC_HANDLE h) {
                                 SERVICE_STATUS status{};
                                 return ControlService(h, SERVICE_CONTROL_STOP, &status);
                               }},
                      RightRow{"Interrogate", SERVICE_INTERROGATE,
                               [](SC_HANDLE h) {
                                 SERVICE_STATUS status{};
                                 return ControlService(h, SERVICE_CONTROL_INTERROGATE, &status);
                               }},
                      RightRow{"Delete", DELETE, [](SC_HANDLE h) { return DeleteService(h); }}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ServiceManagerTest, StartNeedsTheStartRight) {
  Install(SERVICE_STOPPED);
  EXPECT_EQ(StartServiceA(Open(SERVICE_ALL_ACCESS & ~SERVICE_START), 0, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(State(), SERVICE_STOPPED);
  EXPECT_NE(StartServiceA(Open(SERVICE_START), 0, nullptr), 0);
}

// --- State transitions ---------------------------------------------------------------

struct TransitionRow {
  const char* name;
  DWORD before;
  DWORD error;
  DWORD after;
};

void PrintTo(const TransitionRow& row, std::ostream* os) { *os << row.name; }

class StartTest : public ServiceManagerTest, public ::testing::WithParamInterface<TransitionRow> {};

TEST_P(StartTest, StartsOnlyAStoppedService) {
  const TransitionRow& row = GetParam();
  Install(row.before);
  const BOOL started = StartServiceA(Open(SERVICE_START), 0, nullptr);
  EXPECT_EQ(started != 0, row.error == ERROR_SUCCESS);
  if (row.error != ERROR_SUCCESS) {
    EXPECT_EQ(GetLastError(), row.error);
  }
  EXPECT_EQ(State(), row.after);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StartTest,
    ::testing::Values(TransitionRow{"Stopped", SERVICE_STOPPED, ERROR_SUCCESS, SERVICE_RUNNING},
                      TransitionRow{"Running", SERVICE_RUNNING, ERROR_SERVICE_ALREADY_RUNNING, SERVICE_RUNNING},
                      TransitionRow{"StartPending", SERVICE_START_PENDING, ERROR_SERVICE_ALREADY_RUNNING,
                                    SERVICE_START_PENDING},
                      TransitionRow{"StopPending", SERVICE_STOP_PENDING, ERROR_SERVICE_ALREADY_RUNNING,
                                    SERVICE_STOP_PENDING},
                      TransitionRow{"Paused", SERVICE_PAUSED, ERROR_SERVICE_ALREADY_RUNNING, SERVICE_PAUSED}),
    [](const auto& row) { return std::string(row.param.name); });

class StopTest : public ServiceManagerTest, public ::testing::WithParamInterface<TransitionRow> {};

TEST_P(StopTest, StopsARunningOrPausedService) {
  const TransitionRow& row = GetParam();
  Install(row.before);
  SERVICE_STATUS status{};
  const BOOL stopped = ControlService(Open(SERVICE_STOP), SERVICE_CONTROL_STOP, &status);
  EXPECT_EQ(stopped != 0, row.error == ERROR_SUCCESS);
  if (row.error != ERROR_SUCCESS) {
    EXPECT_EQ(GetLastError(), row.error);
  } else {
    EXPECT_EQ(status.dwCurrentState, SERVICE_STOPPED);
    EXPECT_EQ(status.dwServiceType, SERVICE_KERNEL_DRIVER);
  }
  EXPECT_EQ(State(), row.after);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StopTest,
    ::testing::Values(
        TransitionRow{"Running", SERVICE_RUNNING, ERROR_SUCCESS, SERVICE_STOPPED},
        TransitionRow{"Paused", SERVICE_PAUSED, ERROR_SUCCESS, SERVICE_STOPPED},
        TransitionRow{"Stopped", SERVICE_STOPPED, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED},
        TransitionRow{"StartPending", SERVICE_START_PENDING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_START_PENDING},
        TransitionRow{"StopPending", SERVICE_STOP_PENDING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_STOP_PENDING},
        TransitionRow{"ContinuePending", SERVICE_CONTINUE_PENDING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                      SERVICE_CONTINUE_PENDING},
        TransitionRow{"PausePending", SERVICE_PAUSE_PENDING, ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
                      SERVICE_PAUSE_PENDING}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(ServiceManagerTest, DriversTakeNoControlButStopAndInterrogate) {
  Install(SERVICE_RUNNING);
  const SC_HANDLE service = Open(SERVICE_ALL_ACCESS);
  SERVICE_STATUS status{};
  EXPECT_EQ(ControlService(service, SERVICE_CONTROL_PAUSE, &status), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_SERVICE_CONTROL);
  for (const DWORD bogus : {DWORD{0}, DWORD{5}, DWORD{300}}) {
    EXPECT_EQ(ControlService(service, bogus, &status), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_NE(ControlService(service, SERVICE_CONTROL_INTERROGATE, &status), 0);
  EXPECT_EQ(status.dwCurrentState, SERVICE_RUNNING);
  EXPECT_EQ(status.dwControlsAccepted, SERVICE_ACCEPT_STOP);
  EXPECT_EQ(State(), SERVICE_RUNNING);
}

TEST_F(ServiceManagerTest, DisabledServiceDoesNotStartAndStartStateCanBeChosen) {
  Install(SERVICE_STOPPED, SERVICE_DISABLED);
  EXPECT_EQ(StartServiceA(Open(SERVICE_START), 0, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_DISABLED);

  Install(SERVICE_STOPPED);
  winapi::fake::setStateAfterStart(SERVICE_START_PENDING);
  EXPECT_NE(StartServiceA(Open(SERVICE_START), 0, nullptr), 0);
  EXPECT_EQ(State(), SERVICE_START_PENDING);
}

// --- Creating and deleting -----------------------------------------------------------

SC_HANDLE Create(SC_HANDLE manager, const char* name, const char* display = "Probe driver",
                 const char* path = "/opt/probe.sys", DWORD type = SERVICE_KERNEL_DRIVER,
                 DWORD start = SERVICE_DEMAND_START, DWORD errorControl = SERVICE_ERROR_NORMAL,
                 LPDWORD tag = nullptr) {
  return CreateServiceA(manager, name, display, SERVICE_ALL_ACCESS, type, start, errorControl, path, "Group", tag,
                        "First\0Second\0", nullptr, nullptr);
}

TEST_F(ServiceManagerTest, CreateRecordsTheConfigurationStopped) {
  const SC_HANDLE service = Create(manager_, Name);
  ASSERT_NE(service, nullptr);
  const auto created = winapi::fake::findService(Name);
  ASSERT_TRUE(created.has_value());
  EXPECT_EQ(created->config.displayName, "Probe driver");
  EXPECT_EQ(created->config.binaryPath, "/opt/probe.sys");
  EXPECT_EQ(created->config.loadOrderGroup, "Group");
  EXPECT_EQ(created->config.dependencies, std::string("First\0Second", 12));
  EXPECT_EQ(created->state, SERVICE_STOPPED);
  EXPECT_NE(StartServiceA(service, 0, nullptr), 0);  // the handle has the rights asked for
}

TEST_F(ServiceManagerTest, CreateRejectsWhatTheRealOneRejects) {
  Install(SERVICE_STOPPED);
  DWORD tag = 0;
  struct Case {
    const char* what;
    std::function<SC_HANDLE()> create;
    DWORD error;
  };
  const SC_HANDLE reduced = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  for (const Case& c : std::initializer_list<Case>{
           {"existing name", [&] { return Create(manager_, "PROBE"); }, ERROR_SERVICE_EXISTS},
           {"display name in use", [&] { return Create(manager_, "New", "probe"); }, ERROR_DUPLICATE_SERVICE_NAME},
           {"no create right", [&] { return Create(reduced, "New"); }, ERROR_ACCESS_DENIED},
           {"bad handle", [&] { return Create(nullptr, "New"); }, ERROR_INVALID_HANDLE},
           {"empty name", [&] { return Create(manager_, ""); }, ERROR_INVALID_NAME},
           {"separator in name", [&] { return Create(manager_, "a\\b"); }, ERROR_INVALID_NAME},
           {"no path", [&] { return Create(manager_, "New", "New", nullptr); }, ERROR_INVALID_PARAMETER},
           {"bad type", [&] { return Create(manager_, "New", "New", "/p", 0x40); }, ERROR_INVALID_PARAMETER},
           {"bad start", [&] { return Create(manager_, "New", "New", "/p", 1, 5); }, ERROR_INVALID_PARAMETER},
           {"bad error control",
            [&] { return Create(manager_, "New", "New", "/p", 1, 3, 4); }, ERROR_INVALID_PARAMETER},
           {"boot start for a process",
            [&] { return Create(manager_, "New", "New", "/p", SERVICE_WIN32_OWN_PROCESS, SERVICE_BOOT_START); },
            ERROR_INVALID_PARAMETER},
           {"tag for demand start", [&] { return Create(manager_, "New", "New", "/p", 1, 3, 1, &tag); },
            ERROR_INVALID_PARAMETER},
       }) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.create(), nullptr);
    EXPECT_EQ(GetLastError(), c.error);
  }
  EXPECT_EQ(winapi::fake::services().size(), 1U);
}

TEST_F(ServiceManagerTest, DeletedStoppedServiceGoesWithItsLastHandle) {
  Install(SERVICE_STOPPED);
  const SC_HANDLE other = Open(SERVICE_QUERY_STATUS);
  const SC_HANDLE service = Open(DELETE | SERVICE_START);
  ASSERT_NE(DeleteService(service), 0);
  EXPECT_TRUE(winapi::fake::findService(Name)->markedForDelete);
  EXPECT_EQ(DeleteService(service), 0);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(StartServiceA(service, 0, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);
  EXPECT_EQ(Create(manager_, Name), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SERVICE_MARKED_FOR_DELETE);

  CloseServiceHandle(service);
  EXPECT_TRUE(winapi::fake::findService(Name).has_value());
  CloseServiceHandle(other);
  EXPECT_FALSE(winapi::fake::findService(Name).has_value());
}

TEST_F(ServiceManagerTest, DeletedRunningServiceGoesOnceStopped) {
  Install(SERVICE_RUNNING);
  const SC_HANDLE deleter = Open(DELETE);
  ASSERT_NE(DeleteService(deleter), 0);
  CloseServiceHandle(deleter);
  EXPECT_EQ(State(), SERVICE_RUNNING);

  const SC_HANDLE stopper = Open(SERVICE_STOP);
  SERVICE_STATUS status{};
  ASSERT_NE(ControlService(stopper, SERVICE_CONTROL_STOP, &status), 0);
  EXPECT_TRUE(winapi::fake::findService(Name).has_value());
  CloseServiceHandle(stopper);
  EXPECT_FALSE(winapi::fake::findService(Name).has_value());
}

// --- Injected failures, the log and the last error -----------------------------------

TEST_F(ServiceManagerTest, InjectedFailuresCountMatchingCalls) {
  Install(SERVICE_RUNNING);
  winapi::fake::failCall(Call::OpenServiceA, ERROR_ACCESS_DENIED, 2, 1);
  std::vector<bool> opened;
  for (int i = 0; i < 4; ++i) opened.push_back(Open(SERVICE_QUERY_STATUS) != nullptr);
  EXPECT_THAT(opened, ElementsAre(true, false, false, true));

  // Several rules: each counts the call, the first failing one gives the code.
  winapi::fake::failCall(Call::DeleteService, ERROR_INVALID_HANDLE, 1, 1);
  winapi::fake::failCall(Call::DeleteService, ERROR_ACCESS_DENIED);
  const SC_HANDLE service = Open(DELETE);
  EXPECT_EQ(DeleteService(service), 0);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(DeleteService(service), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(winapi::fake::findService(Name)->markedForDelete);  // a failed call changes nothing
}

TEST_F(ServiceManagerTest, InjectedFailureOfCreateOrCloseChangesNothing) {
  winapi::fake::failCall(Call::CreateServiceA, ERROR_DUPLICATE_SERVICE_NAME, 1);
  EXPECT_EQ(Create(manager_, Name), nullptr);
  EXPECT_THAT(winapi::fake::services(), IsEmpty());

  winapi::fake::failCall(Call::CloseServiceHandle, ERROR_INVALID_HANDLE, 1);
  EXPECT_EQ(CloseServiceHandle(manager_), 0);
  EXPECT_EQ(winapi::fake::openServiceHandles(), 1);
  EXPECT_NE(CloseServiceHandle(manager_), 0);
  EXPECT_EQ(winapi::fake::openServiceHandles(), 0);
}

TEST_F(ServiceManagerTest, LogHoldsEveryCallWithItsArgumentsResultAndError) {
  Install(SERVICE_STOPPED);
  winapi::fake::clearCallLog();
  const SC_HANDLE service = Open(SERVICE_START);
  StartServiceA(service, 0, nullptr);
  StartServiceA(service, 0, nullptr);
  CloseServiceHandle(service);
  const auto log = winapi::fake::callLog();
  ASSERT_EQ(log.size(), 4U);
  EXPECT_EQ(log[0].function, "OpenServiceA");
  EXPECT_THAT(log[0].arguments, ElementsAre("scm#1", "Probe", "0x10"));
  EXPECT_EQ(log[0].result, "svc#2");
  EXPECT_EQ(log[1].result, "1");
  EXPECT_EQ(log[1].error, ERROR_SUCCESS);
  EXPECT_THAT(log[2].arguments, ElementsAre("svc#2", "0x0", "(null)"));
  EXPECT_EQ(log[2].result, "0");
  EXPECT_EQ(log[2].error, ERROR_SERVICE_ALREADY_RUNNING);
  EXPECT_THAT(winapi::fake::calledFunctions(),
              ElementsAre("OpenServiceA", "StartServiceA", "StartServiceA", "CloseServiceHandle"));
}

TEST_F(ServiceManagerTest, SuccessLeavesTheLastErrorAlone) {
  Install(SERVICE_RUNNING);
  SetLastError(ERROR_FILE_NOT_FOUND);
  SERVICE_STATUS status{};
  ASSERT_NE(QueryServiceStatus(Open(SERVICE_QUERY_STATUS), &status), 0);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(ServiceManagerTest, ResetEmptiesEverything) {
  Install(SERVICE_RUNNING);
  winapi::fake::failCall(Call::OpenSCManagerA, ERROR_ACCESS_DENIED);
  winapi::fake::reset();
  EXPECT_THAT(winapi::fake::services(), IsEmpty());
  EXPECT_THAT(winapi::fake::callLog(), IsEmpty());
  EXPECT_EQ(winapi::fake::openServiceHandles(), 0);
  EXPECT_NE(OpenSCManagerA(nullptr, nullptr, 0x17), nullptr);
}

}  // namespace
