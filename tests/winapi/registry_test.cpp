// The registry stand-ins: in/out sizes of names and data, the end of an enumeration, rights,
// handles, and the text form of an image with its errors.
#include "winapi/fake.h"
#include "winapi/registry_image.h"
#include "winapi/windows.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using ::testing::HasSubstr;

constexpr char Image[] = R"(REGEDIT4
; a key with two subkeys and values of each form
[HKEY_LOCAL_MACHINE\Top\Four]
"Name"="abc"
"Path"="C:\\dir \"quoted\""
@=dword:12345678
"Raw"=hex(8):01,02,\
  03
[HKEY_LOCAL_MACHINE\Top\Seven77]
)";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winapi::fake::reset();
    winapi::fake::loadRegistry(winapi::ParseRegistryImage(Image));
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "top", 0, KEY_READ, &top_), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(top_, "FOUR", 0, KEY_QUERY_VALUE, &four_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegCloseKey(four_);
    RegCloseKey(top_);
    EXPECT_EQ(winapi::fake::openRegistryKeys(), 0);
    winapi::fake::reset();
  }
  HKEY top_ = nullptr;
  HKEY four_ = nullptr;
};

TEST_F(RegistryTest, NamesNeedRoomForTheirTerminator) {
  std::array<char, 16> name{};
  DWORD size = 5;  // "Four" and its terminator
  EXPECT_EQ(RegEnumKeyExA(top_, 0, name.data(), &size, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name.data()), "Four");
  EXPECT_EQ(size, 4U);
  size = 7;  // one short for "Seven77"
  EXPECT_EQ(RegEnumKeyExA(top_, 1, name.data(), &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  size = 16;
  EXPECT_EQ(RegEnumKeyExA(top_, 2, name.data(), &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

  size = 4;  // one short for "Path"
  EXPECT_EQ(RegEnumValueA(four_, 1, name.data(), &size, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  size = 5;
  DWORD type = REG_NONE;
  EXPECT_EQ(RegEnumValueA(four_, 1, name.data(), &size, nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::string(name.data()), "Path");
  EXPECT_EQ(type, REG_SZ);
  size = 16;
  EXPECT_EQ(RegEnumValueA(four_, 4, name.data(), &size, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, QueriesGiveTypeAndSizeAndNeverWriteBeyondTheBuffer) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(four_, "path", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 16U);  // C:\dir "quoted" and its terminator

  std::array<BYTE, 20> data{};
  data.fill(0xEE);
  size = 15;
  EXPECT_EQ(RegQueryValueExA(four_, "Path", nullptr, nullptr, data.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 16U);
  EXPECT_EQ(data[0], 0xEE);
  EXPECT_EQ(RegQueryValueExA(four_, "Path", nullptr, nullptr, data.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.data())), "C:\\dir \"quoted\"");
  EXPECT_EQ(data[16], 0xEE);

  size = 4;
  EXPECT_EQ(RegQueryValueExA(four_, "", nullptr, &type, data.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(size, 4U);
  EXPECT_THAT((std::array<BYTE, 5>{data[0], data[1], data[2], data[3], data[4]}),
              ::testing::ElementsAre(0x78, 0x56, 0x34, 0x12, 'i'));
  EXPECT_EQ(RegQueryValueExA(four_, "Raw", nullptr, &type, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_RESOURCE_LIST);
  EXPECT_EQ(RegQueryValueExA(four_, "Absent", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, KeysOpenForReadingOnlyAndHandlesOutliveANewImage) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Top\\Four", 0, KEY_READ | KEY_SET_VALUE, &key), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Top\\Five", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Top\\\\Four", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, "Top", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);

  winapi::fake::loadRegistry(winapi::RegistryImage{});
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(four_, "Name", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 4U);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Top", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);

  HKEY closed = nullptr;
  ASSERT_EQ(RegOpenKeyExA(four_, nullptr, 0, KEY_READ, &closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(closed), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExA(closed, "Name", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

TEST(RegistryImageTest, BadLinesAreReportedWithTheirNumber) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"a\"=\"b\"", "line 1: a value before the first key"},
      {"[HKEY_CURRENT_USER\\X]", "line 1: unknown root key"},
      {"[HKEY_DYN_DATA\\X\\\\Y]", "line 1: empty key name"},
      {"[HKEY_DYN_DATA\\X]\n\"a\"=\"b", "line 2: missing closing quote"},
      {"[HKEY_DYN_DATA\\X]\n\n\"a\"=\"\\n\"", "line 3: only"},
      {"[HKEY_DYN_DATA\\X]\n\"a\"=hex:01,2g", "line 2: bad byte '2g'"},
      {"[HKEY_DYN_DATA\\X]\n\"a\"=hex:01,\\\n  02,\\", "line 3: the hex list goes on past the end"},
      {"[HKEY_DYN_DATA\\X]\n\"a\"=dword:123456789", "line 2: bad dword"},
      {"[HKEY_DYN_DATA\\X]\n\"a\"=hex(8:00", "line 2: missing ')'"},
      {"[HKEY_DYN_DATA\\X]\na=1", "line 2: a value name must be quoted or @"},
      {"[HKEY_DYN_DATA\\X]\n\"a\"=-", "line 2: deleting values is not supported"},
      {"[-HKEY_DYN_DATA\\X]", "line 1: deleting keys is not supported"},
  };
  for (const auto& [text, message] : cases) {
    try {
      winapi::ParseRegistryImage(text);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const winapi::RegistryFormatError& error) {
      EXPECT_THAT(error.what(), HasSubstr(message)) << text;
    }
  }
  EXPECT_THROW(winapi::LoadRegistryImage("/nonexistent/image.reg"), winapi::RegistryFormatError);
}

}  // namespace
