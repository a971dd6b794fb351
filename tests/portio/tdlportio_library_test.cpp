// TDLPortIO and its port library: where the library is loaded from, binding all twelve
// entry points (and failing without any one of them), releasing it, repeated and redundant
// opens and closes, and closing on destruction.
#include "port_recorder.h"
#include "portio_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace portio_test {
namespace {

using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using winapi::fake::Call;

using LibraryTest = PortioTest;

std::vector<std::string> LoadedPaths() {
  std::vector<std::string> paths;
  for (const auto& record : winapi::fake::callLog())
    if (record.function == "LoadLibraryA") paths.push_back(record.arguments.at(0));
  return paths;
}

TEST_F(LibraryTest, LibraryPathIsComposedFromDllPath) {
  struct Case {
    std::string dllPath;
    std::string loaded;
  };
  const std::string folder = LibraryFolder();
  for (const Case& c : {Case{folder, folder + "/DLPortIO.dll"}, Case{folder + "/", folder + "//DLPortIO.dll"}}) {
    SCOPED_TRACE(c.dllPath);
    winapi::fake::clearCallLog();
    TDLPortIO component(nullptr);
    component.SetDLLPath(c.dllPath);
    component.OpenDriver();
    EXPECT_TRUE(component.ActiveHW());
    EXPECT_THAT(LoadedPaths(), ElementsAreArray({c.loaded}));
  }
}

TEST_F(LibraryTest, EmptyDllPathLeavesTheSearchToTheLoader) {
  // Made to fail so that no library that happens to be on the search path is loaded.
  winapi::fake::failLoadLibrary(LibraryFileName, ERROR_MOD_NOT_FOUND);
  TDLPortIO component(nullptr);
  component.OpenDriver();
  EXPECT_FALSE(component.ActiveHW());
  EXPECT_THAT(LoadedPaths(), ElementsAreArray({"DLPortIO.dll"}));
}

TEST_F(LibraryTest, BindsTheTwelveEntryPointsByNameInOrder) {
  auto component = NewComponent(false);
  component->OpenDriver();
  ASSERT_TRUE(component->ActiveHW());
  std::vector<std::string> looked;
  for (const auto& record : winapi::fake::callLog())
    if (record.function == "GetProcAddress") looked.push_back(record.arguments.at(1));
  EXPECT_THAT(looked, ElementsAreArray(dlportio::EntryPointNames));
}

// Each entry point missing in turn; the previous failure message must survive.
class MissingEntryPointTest : public PortioTest, public ::testing::WithParamInterface<int> {};

TEST_P(MissingEntryPointTest, LibraryIsReleasedAndPortCallsStayHarmless) {
  const int missing = GetParam();
  const PortRecorder recorder(LibraryFile(missing));
  InstallService(SERVICE_START_PENDING);
  auto component = NewComponent(true, missing);
  component->OpenDriver();
  ASSERT_EQ(component->LastError(), "DriverStart: Error #-1");
  winapi::fake::setServiceState(DriverServiceName, SERVICE_STOPPED);
  winapi::fake::clearCallLog();

  component->OpenDriver();
  EXPECT_FALSE(component->ActiveHW());
  EXPECT_EQ(component->LastError(), "DriverStart: Error #-1");
  EXPECT_EQ(CallCount("GetProcAddress"), 12);  // every lookup is made, even after a miss
  for (const auto& record : winapi::fake::callLog()) {
    if (record.function == "GetProcAddress") {
      const bool isMissing = record.arguments.at(1) == dlportio::EntryPointNames[missing - 1];
      EXPECT_EQ(record.result == "(null)", isMissing) << record.arguments.at(1);
    }
  }
  EXPECT_EQ(CallCount("FreeLibrary"), 1);
  EXPECT_EQ(LibrariesHeld(), 0);
  EXPECT_EQ(ServiceState(), SERVICE_STOPPED);  // started by this open, stopped again
  EXPECT_EQ(winapi::fake::openServiceHandles(), 0);

  // The slots bound before the miss must not lead into the released library.
  EXPECT_EQ(component->GetPortByte(0x378), 0);
  component->SetPortByte(0x378, 0x55);
  TPortCommand read{0x379, 0xFFFFFFFF, paReadDWord};
  component->PortCommand(&read, 1);
  EXPECT_EQ(read.Value, 0U);
  EXPECT_THAT(recorder.events(), IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(EachOfTwelve, MissingEntryPointTest, ::testing::Range(1, 13),
                         [](const auto& row) { return std::string(dlportio::EntryPointNames[row.param - 1]); });

TEST_F(LibraryTest, FailedReleaseAfterAFailedBindStillLeavesTheComponentClosed) {
  winapi::fake::failFreeLibrary(ERROR_INVALID_HANDLE, 1);
  auto component = NewComponent(false, 7);
  component->OpenDriver();
  EXPECT_FALSE(component->ActiveHW());
  EXPECT_EQ(component->GetPortByte(0x378), 0);

  component->SetDLLPath(LibraryFolder());
  component->OpenDriver();
  EXPECT_TRUE(component->ActiveHW());
}

TEST_F(LibraryTest, FailedReleaseOnCloseKeepsTheComponentUsable) {
  const PortRecorder recorder(LibraryFile());
  recorder.reset();
  auto component = NewComponent(false);
  component->OpenDriver();
  winapi::fake::failFreeLibrary(ERROR_INVALID_HANDLE, 1);
  EXPECT_FALSE(component->CloseDriver());
  EXPECT_TRUE(component->ActiveHW());
  component->SetPortByte(0x378, 0x42);
  EXPECT_EQ(component->GetPortByte(0x378), 0x42);
  EXPECT_TRUE(component->CloseDriver());
  EXPECT_EQ(LibrariesHeld(), 0);
}

TEST_F(LibraryTest, OpenOnAnActiveComponentMakesNoCall) {
  for (const bool nt : {false, true}) {
    SCOPED_TRACE(nt ? "NT family" : "other family");
    auto component = NewComponent(nt);
    component->OpenDriver();
    ASSERT_TRUE(component->ActiveHW());
    winapi::fake::clearCallLog();
    const int loaded = winapi::fake::loadedLibraries();
    component->OpenDriver();
    EXPECT_TRUE(component->ActiveHW());
    EXPECT_THAT(winapi::fake::callLog(), IsEmpty());
    EXPECT_EQ(winapi::fake::loadedLibraries(), loaded);
    EXPECT_TRUE(component->CloseDriver());
  }
}

TEST_F(LibraryTest, CloseOnAnInactiveComponentMakesNoCall) {
  auto component = NewComponent(true);
  EXPECT_FALSE(component->CloseDriver());
  component->SetDLLPath("/nonexistent");
  component->OpenDriver();
  winapi::fake::clearCallLog();
  EXPECT_FALSE(component->CloseDriver());
  EXPECT_THAT(winapi::fake::callLog(), IsEmpty());
}

TEST_F(LibraryTest, EveryOpenRepeatsTheWholeSequence) {
  auto component = NewComponent(true);
  std::vector<std::string> firstCycle;
  for (int cycle = 0; cycle < 3; ++cycle) {
    SCOPED_TRACE(cycle);
    winapi::fake::clearCallLog();
    component->OpenDriver();
    ASSERT_TRUE(component->ActiveHW());
    EXPECT_EQ(ServiceState(), SERVICE_RUNNING);
    EXPECT_TRUE(component->CloseDriver());
    EXPECT_EQ(ServiceState(), std::nullopt);
    const auto functions = winapi::fake::calledFunctions();
    if (cycle == 0) firstCycle = functions;
    EXPECT_EQ(functions, firstCycle);
  }
  EXPECT_EQ(winapi::fake::loadedLibraries(), 3);
  EXPECT_EQ(LibrariesHeld(), 0);
  EXPECT_EQ(winapi::fake::openServiceHandles(), 0);
}

TEST_F(LibraryTest, HistoryIsTakenAfreshByEachOpen) {
  // Running before the first open: left alone. Stopped before the second: started and
  // stopped again by that one.
  InstallService(SERVICE_RUNNING);
  auto component = NewComponent(true);
  component->OpenDriver();
  EXPECT_TRUE(component->CloseDriver());
  EXPECT_EQ(ServiceState(), SERVICE_RUNNING);

  winapi::fake::setServiceState(DriverServiceName, SERVICE_STOPPED);
  component->OpenDriver();
  EXPECT_EQ(ServiceState(), SERVICE_RUNNING);
  EXPECT_TRUE(component->CloseDriver());
  EXPECT_EQ(ServiceState(), SERVICE_STOPPED);
}

TEST_F(LibraryTest, DestructionClosesAnActiveComponent) {
  {
    auto component = NewComponent(true);
    component->OpenDriver();
    ASSERT_TRUE(component->ActiveHW());
  }
  EXPECT_EQ(ServiceState(), std::nullopt);
  EXPECT_EQ(LibrariesHeld(), 0);
  EXPECT_EQ(winapi::fake::openServiceHandles(), 0);
}

TEST_F(LibraryTest, OwnerDestroysAndSoClosesItsComponent) {
  winapi::fake::setNtFamily(true);
  {
    TComponent form(nullptr);
    auto* component = new TDLPortIO(&form);
    component->SetName("DLPortIO1");
    component->SetDLLPath(LibraryFolder());
    component->OpenDriver();
    ASSERT_TRUE(component->ActiveHW());
    ASSERT_EQ(form.ComponentCount(), 1);
    EXPECT_EQ(form.Components(0)->Name(), "DLPortIO1");
  }
  EXPECT_EQ(ServiceState(), std::nullopt);
  EXPECT_EQ(LibrariesHeld(), 0);
}

}  // namespace
}  // namespace portio_test
