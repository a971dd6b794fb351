// The virtual display module as a backend: the segment the settings name, its settings
// applied only when given, and a segment that cannot be used replaced by the silent backend.
#include "portlib/virtual_backend.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <system_error>
#include <string>
#include <vector>

#include "portlib/backend_factory.h"
#include "portlib/port_access.h"
#include "t6963/t6963c.h"
#include "test_segment.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;

void ignore(std::string_view) {}

portlib::Settings settingsFor(const portlib_test::TestSegment& segment) {
  portlib::Settings settings;
  settings.segmentName = segment.name();
  settings.powerOn = t6963::PowerOnContents::Zero;
  return settings;
}

TEST(VirtualModuleBackend, WritesReachTheModuleInTheNamedSegment) {
  portlib_test::TestSegment segment;
  portlib::VirtualModuleBackend backend(settingsFor(segment), ignore);
  backend.write(t6963c::DataPort, 0xC3);
  EXPECT_EQ(backend.read(t6963c::DataPort), 0xC3);  // SPP mode: the port's own latch

  auto view = t6963::SharedModule::open(segment.name());
  EXPECT_EQ(view.state().bus.dataLatch, 0xC3);
  EXPECT_EQ(view.state().ram[0x0100], 0x00);  // created with zeroed RAM
  EXPECT_EQ(portlib::readByte(backend, 0x0100), 0xFF);  // a port the module does not decode
}

TEST(VirtualModuleBackend, GivenSettingsAreAppliedAndUnsetOnesLeaveTheSegmentAsItWas) {
  portlib_test::TestSegment segment;
  auto settings = settingsFor(segment);
  settings.disconnected = true;
  settings.busyAccesses = 77;
  { portlib::VirtualModuleBackend first(settings, ignore); }

  auto view = t6963::SharedModule::open(segment.name());
  EXPECT_TRUE(t6963::isDisconnected(view.state()));
  EXPECT_EQ(view.state().settings.busyAccesses, 77u);

  { portlib::VirtualModuleBackend second(settingsFor(segment), ignore); }
  EXPECT_TRUE(t6963::isDisconnected(view.state()));
  EXPECT_EQ(view.state().settings.busyAccesses, 77u);

  settings.disconnected = false;
  settings.busyAccesses = 0;
  { portlib::VirtualModuleBackend third(settings, ignore); }
  EXPECT_FALSE(t6963::isDisconnected(view.state()));
  EXPECT_EQ(view.state().settings.busyAccesses, 0u);
}

TEST(VirtualModuleBackend, ASecondDriverOfTheSameModuleIsRefusedWhileTheFirstHoldsIt) {
  portlib_test::TestSegment segment;
  auto first = std::make_unique<portlib::VirtualModuleBackend>(settingsFor(segment), ignore);
  try {
    portlib::createBackend(settingsFor(segment), [](std::string_view) {});
    FAIL() << "two drivers on one module";
  } catch (const portlib::BackendError& error) {
    EXPECT_THAT(error.what(), HasSubstr("driven by this process " + std::to_string(getpid())));
  }
  first.reset();
  EXPECT_NO_THROW(portlib::VirtualModuleBackend second(settingsFor(segment), ignore));
}

TEST(VirtualModuleBackend, AttachingKeepsWhatTheModuleHeld) {
  portlib_test::TestSegment segment;
  {
    auto creator = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
    creator.state().ram[0x1234] = 0xA5;
  }
  auto settings = settingsFor(segment);
  settings.powerOn = t6963::PowerOnContents::Random;
  portlib::VirtualModuleBackend backend(settings, ignore);
  EXPECT_EQ(t6963::SharedModule::open(segment.name()).state().ram[0x1234], 0xA5);
}

TEST(VirtualModuleBackend, AnotherBuildRebuildsTheModuleOnceNoDriverHoldsItAndSaysSo) {
  portlib_test::TestSegment segment;
  auto view = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
  view.state().ram[0x1234] = 0xA5;
  auto settings = settingsFor(segment);
  settings.build = {240, 128, 8, 0x8000, std::get<t6963::Cable>(t6963::parseCable("WR:INIT,CE:STROBE,CD:SLCTIN,RD:AUTOFD"))};
  std::vector<std::string> lines;
  const auto say = [&](std::string_view line) { lines.emplace_back(line); };
  {
    auto holder = std::make_unique<portlib::VirtualModuleBackend>(settingsFor(segment), ignore);
    EXPECT_THROW(portlib::VirtualModuleBackend refused(settings, say), std::system_error) << "a held module stays";
    EXPECT_EQ(view.snapshot().build, t6963::StandardBuild);
  }
  { portlib::VirtualModuleBackend rebuilding(settings, say); }
  EXPECT_THAT(lines, ElementsAre("the virtual display " + segment.name() +
                                 " was rebuilt as 240x128 8x8 32K, cable WR:INIT,CE:STROBE,CD:SLCTIN,RD:AUTOFD (it was "
                                 "240x64 6x8 8K, cable WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN)"));
  EXPECT_EQ(view.snapshot().build, settings.build);
  EXPECT_EQ(view.state().ram[0x1234], 0x00) << "a module swapped: memory as at power-on";
  EXPECT_EQ(t6963::recordedCount(view.trace()), 0U) << "the trace begins with the new module";
  { portlib::VirtualModuleBackend again(settings, say); }
  EXPECT_EQ(lines.size(), 1U) << "the same build is kept as it is";
}

TEST(BackendFactory, AnUnusableSegmentRefusesTheBackendNamingTheSegment) {
  portlib_test::TestSegment segment;
  const int fd = shm_open(segment.name().c_str(), O_CREAT | O_EXCL | O_RDWR, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, 100), 0);  // not the module's size
  close(fd);

  std::vector<std::string> lines;
  try {
    portlib::createBackend(settingsFor(segment), [&](std::string_view line) { lines.emplace_back(line); });
    FAIL() << "the backend opened";
  } catch (const portlib::BackendError& error) {
    EXPECT_THAT(error.what(), HasSubstr(segment.name()));
  }
  EXPECT_THAT(lines, IsEmpty());
}

TEST(BackendFactory, ChoosesTheBackendTheSettingsName) {
  portlib_test::TestSegment segment;
  std::vector<std::string> lines;
  const auto sink = [&](std::string_view line) { lines.emplace_back(line); };

  auto lcd = portlib::createBackend(settingsFor(segment), sink);
  lcd->write(t6963c::DataPort, 0x42);
  EXPECT_EQ(t6963::SharedModule::open(segment.name()).state().bus.dataLatch, 0x42);

  EXPECT_THAT(lines, IsEmpty());
}

}  // namespace
