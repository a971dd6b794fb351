// The version query, the system directory and the last error.
#include "winapi/fake.h"
#include "winapi/windows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override { winapi::fake::reset(); }
  void TearDown() override { winapi::fake::reset(); }

  static OSVERSIONINFOA Query(BOOL& result, DWORD size = sizeof(OSVERSIONINFOA)) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = size;
    result = GetVersionExA(&info);
    return info;
  }
};

TEST_F(SystemTest, VersionFamilyIsOtherThanNtUntilSwitched) {
  BOOL result = 0;
  EXPECT_EQ(Query(result).dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_NE(result, 0);
  winapi::fake::setNtFamily(true);
  EXPECT_EQ(Query(result).dwPlatformId, VER_PLATFORM_WIN32_NT);
  EXPECT_NE(result, 0);
}

TEST_F(SystemTest, VersionQueryFailsWithoutTouchingTheRecord) {
  winapi::fake::setNtFamily(true);
  BOOL result = 1;
  EXPECT_EQ(Query(result, 0).dwPlatformId, 0U);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

  winapi::fake::failVersionQuery(true);
  EXPECT_EQ(Query(result).dwPlatformId, 0U);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(GetVersionExA(nullptr), 0);
}

TEST_F(SystemTest, SystemDirectoryCopiesOnlyWhenItFits) {
  char buffer[MAX_PATH];
  std::memset(buffer, 'x', sizeof buffer);
  const std::string directory = "/usr/lib";
  EXPECT_EQ(GetSystemDirectoryA(buffer, MAX_PATH), directory.size());
  EXPECT_EQ(std::string(buffer), directory);

  std::memset(buffer, 'x', sizeof buffer);
  const auto exact = static_cast<UINT>(directory.size());
  EXPECT_EQ(GetSystemDirectoryA(buffer, exact), exact + 1);  // no room for the terminator
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(GetSystemDirectoryA(nullptr, 0), exact + 1);
  EXPECT_EQ(GetSystemDirectoryA(buffer, exact + 1), exact);
}

TEST_F(SystemTest, LastErrorIsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seenByOther = 1;
  std::thread other([&] {
    seenByOther = GetLastError();
    SetLastError(ERROR_INVALID_HANDLE);
  });
  other.join();
  EXPECT_EQ(seenByOther, ERROR_SUCCESS);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

}  // namespace
