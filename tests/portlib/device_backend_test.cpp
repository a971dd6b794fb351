// Real-port access through a device file, driven on regular files in a temporary folder
// through the tests' own switch (never on real ports). Without the switch only the kernel's
// port device would open: every other device, a regular file or a link is refused.
#include "portlib/device_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "portlib/port_access.h"
#include "t6963/t6963c.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

std::vector<unsigned char> contentsOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class DeviceBackendTest : public ::testing::Test {
 protected:
  std::unique_ptr<portlib::PortBackend> openBackend(
      const std::string& path, portlib::DeviceFiles files = portlib::DeviceFiles::RegularFilesForTests) {
    return std::make_unique<portlib::DeviceBackend>(path, [this](std::string_view line) { lines.emplace_back(line); },
                                                    files);
  }
  std::string pathOf(const char* name) const { return dir.filePath(name).toStdString(); }

  QTemporaryDir dir;
  std::vector<std::string> lines;
};

TEST_F(DeviceBackendTest, WritesLandAtThePortOffsetAndReadsReturnThem) {
  const auto path = pathOf("ports");
  std::ofstream(path, std::ios::binary).close();
  auto backend = openBackend(path);

  backend->write(t6963c::DataPort, 0xA5);
  portlib::writeValue<std::uint16_t>(*backend, t6963c::ControlPort, 0x2E26);
  backend->write(0x037F, 0x7F);

  const auto bytes = contentsOf(path);
  ASSERT_THAT(bytes, SizeIs(0x037F + 1));
  EXPECT_EQ(bytes[0x037F], 0x7F);
  EXPECT_EQ(bytes[t6963c::DataPort], 0xA5);
  EXPECT_EQ(bytes[t6963c::StatusPort], 0x00);
  EXPECT_EQ(bytes[t6963c::ControlPort], 0x26);
  EXPECT_EQ(bytes[t6963c::ControlPort + 1], 0x2E);

  EXPECT_EQ(backend->read(t6963c::DataPort), 0xA5);
  EXPECT_EQ(portlib::readValue<std::uint16_t>(*backend, t6963c::ControlPort), 0x2E26);
  EXPECT_THAT(lines, IsEmpty());
}

TEST_F(DeviceBackendTest, ReadsWhatTheFileHoldsAndAReadGivingNoByteFailsReportedOnce) {
  const auto path = pathOf("ports");
  std::vector<char> image(0x400, 0);
  image[0x379] = static_cast<char>(0xD8);
  std::ofstream(path, std::ios::binary).write(image.data(), static_cast<std::streamsize>(image.size()));
  auto backend = openBackend(path);

  EXPECT_EQ(backend->read(t6963c::StatusPort), 0xD8);
  EXPECT_EQ(backend->read(t6963c::EcrPort), 0x00);  // beyond the end of the file
  EXPECT_EQ(backend->read(t6963c::EcrPort), 0x00);
  backend->write(t6963c::DataPort, 0x5A);
  EXPECT_EQ(backend->read(t6963c::DataPort), 0x5A);
  EXPECT_THAT(lines, ElementsAre(HasSubstr("read at 0x77a on " + path + " failed: no byte came back")));
}

struct UnopenableRow {
  const char* name;
  const char* entry;  // path inside the temporary folder ("" is the folder itself), or absolute
  portlib::DeviceFiles files;
  const char* remedy;
};

class DeviceBackendUnopenable : public DeviceBackendTest, public ::testing::WithParamInterface<UnopenableRow> {};

TEST_P(DeviceBackendUnopenable, RefusesWithTheCauseAndItsRemedy) {
  const auto path = *GetParam().entry == '/' ? std::string(GetParam().entry) : pathOf(GetParam().entry);
  std::ofstream(pathOf("ports"), std::ios::binary).close();
  std::filesystem::create_symlink(pathOf("ports"), pathOf("link"));
  try {
    openBackend(path, GetParam().files);
    FAIL() << "opened " << path;
  } catch (const portlib::BackendError& error) {
    EXPECT_THAT(error.what(), HasSubstr(path));
    EXPECT_THAT(error.what(), HasSubstr(GetParam().remedy));
  }
  EXPECT_THAT(lines, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceBackendUnopenable,
    ::testing::Values(
        UnopenableRow{"MissingFile", "no-such-device", portlib::DeviceFiles::RegularFilesForTests, "No such file"},
        UnopenableRow{"MissingFolder", "no-such-folder/port", portlib::DeviceFiles::RegularFilesForTests, "No such"},
        UnopenableRow{"Directory", "", portlib::DeviceFiles::RegularFilesForTests, "is a directory, not the"},
        UnopenableRow{"RegularFileWithoutTheTestSwitch", "ports", portlib::DeviceFiles::CharacterDevicesOnly,
                      "is a regular file, not the kernel's port device (character device 1,4): give /dev/port"},
        UnopenableRow{"SymbolicLink", "link", portlib::DeviceFiles::RegularFilesForTests, "is a symbolic link"},
        UnopenableRow{"DevZero", "/dev/zero", portlib::DeviceFiles::CharacterDevicesOnly, "is character device 1,5"},
        UnopenableRow{"DevFull", "/dev/full", portlib::DeviceFiles::RegularFilesForTests, "is character device 1,7"}),
    [](const auto& rowInfo) { return rowInfo.param.name; });

TEST_F(DeviceBackendTest, PortsOutsideTheFirstParallelPortNeverReachTheFile) {
  const auto path = pathOf("ports");
  std::ofstream(path, std::ios::binary).close();
  auto backend = openBackend(path);
  for (const int port : {0x0000, 0x0020, 0x01F0, 0x0377, 0x0380, 0x0777, 0x077B}) {
    backend->write(static_cast<std::uint16_t>(port), 0x5A);
    EXPECT_EQ(backend->read(static_cast<std::uint16_t>(port)), 0xFF) << std::hex << port;
  }
  backend->write(t6963c::EcrPort, 0x35);
  EXPECT_THAT(contentsOf(path), SizeIs(t6963c::EcrPort + 1));
  EXPECT_EQ(contentsOf(path)[0x0377], 0x00);
  EXPECT_THAT(lines, ElementsAre(HasSubstr("0x0")));
}

}  // namespace
