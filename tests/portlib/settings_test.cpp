// The library's environment settings: accepted values, and bad values rejected with one
// clear line naming the variable while the default stays in force.
#include "portlib/settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "t6963/shared_module.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

struct Outcome {
  portlib::Settings settings;
  std::vector<std::string> lines;
};

Outcome readFrom(const std::map<std::string, std::string>& environment) {
  Outcome outcome;
  outcome.settings = portlib::readSettings(
      [&](const char* name) {
        const auto it = environment.find(name);
        return it == environment.end() ? nullptr : it->second.c_str();
      },
      [&](std::string_view line) { outcome.lines.emplace_back(line); });
  return outcome;
}

TEST(Settings, NothingSetGivesTheVirtualModuleOnTheDefaultSegmentLeavingItsSettingsAlone) {
  const auto [settings, lines] = readFrom({});
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_EQ(settings.backend, portlib::BackendKind::VirtualModule);
  EXPECT_EQ(portlib::segmentNameOf(settings), t6963::SharedModule::defaultName());
  EXPECT_EQ(settings.powerOn, t6963::PowerOnContents::Random);
  EXPECT_FALSE(settings.disconnected.has_value());
  EXPECT_FALSE(settings.busyAccesses.has_value());
}

TEST(Settings, AcceptedValuesAllTakeEffect) {
  const auto [settings, lines] = readFrom({{portlib::EnvSegment, "/kelvari-test-lcd"},
                                           {portlib::EnvPowerOn, "zero"},
                                           {portlib::EnvDisconnected, "1"},
                                           {portlib::EnvBusy, "250"}});
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_EQ(portlib::segmentNameOf(settings), "/kelvari-test-lcd");
  EXPECT_EQ(settings.powerOn, t6963::PowerOnContents::Zero);
  EXPECT_EQ(settings.disconnected, true);
  EXPECT_EQ(settings.busyAccesses, 250u);
}

TEST(Settings, DeviceBackendTakesAnAbsolutePathAndLcdNamesTheVirtualModule) {
  const auto device = readFrom({{portlib::EnvBackend, "/dev/port"}});
  EXPECT_EQ(device.settings.backend, portlib::BackendKind::Device);
  EXPECT_EQ(device.settings.devicePath, "/dev/port");
  const auto lcd = readFrom({{portlib::EnvBackend, "lcd"}});
  EXPECT_EQ(lcd.settings.backend, portlib::BackendKind::VirtualModule);
  EXPECT_THAT(device.lines, IsEmpty());
  EXPECT_THAT(lcd.lines, IsEmpty());
}

TEST(Settings, PpdevTakesAParportDeviceAndTheShadowSwitch) {
  const auto ppdev = readFrom({{portlib::EnvBackend, "ppdev"}, {portlib::EnvParport, "/dev/parport1"}, {portlib::EnvShadow, "1"}});
  EXPECT_THAT(ppdev.lines, IsEmpty());
  EXPECT_EQ(ppdev.settings.backend, portlib::BackendKind::Parport);
  EXPECT_EQ(ppdev.settings.parportPath, "/dev/parport1");
  EXPECT_TRUE(ppdev.settings.shadow);
  EXPECT_FALSE(readFrom({{portlib::EnvBackend, "ppdev"}}).settings.shadow);
  const auto named = readFrom({{portlib::EnvBackend, "/dev/parport2"}});
  EXPECT_EQ(named.settings.backend, portlib::BackendKind::Parport);
  EXPECT_EQ(named.settings.parportPath, "/dev/parport2");

  for (const char* bad : {"/dev/port", "parport1", "/dev/parport", "/dev/parport1x", "/dev/parport1234"}) {
    const auto rejected = readFrom({{portlib::EnvParport, bad}, {portlib::EnvShadow, "yes"}});
    EXPECT_THAT(rejected.lines, ElementsAre(HasSubstr(portlib::EnvParport), HasSubstr(portlib::EnvShadow))) << bad;
    EXPECT_EQ(rejected.settings.parportPath, "");
  }
}

TEST(Settings, BoundaryValuesAreAccepted) {
  const auto low = readFrom({{portlib::EnvBusy, "0"}, {portlib::EnvDisconnected, "0"}, {portlib::EnvPowerOn, "random"}});
  EXPECT_EQ(low.settings.busyAccesses, 0u);
  EXPECT_EQ(low.settings.disconnected, false);
  EXPECT_EQ(low.settings.powerOn, t6963::PowerOnContents::Random);
  const auto high = readFrom({{portlib::EnvBusy, "1000000"}, {portlib::EnvSegment, "/" + std::string(254, 'x')}});
  EXPECT_EQ(high.settings.busyAccesses, portlib::MaxBusyAccesses);
  EXPECT_EQ(high.settings.segmentName.size(), 255u);
  EXPECT_THAT(low.lines, IsEmpty());
  EXPECT_THAT(high.lines, IsEmpty());
}

TEST(Settings, EmptyValuesCountAsUnset) {
  const auto [settings, lines] = readFrom({{portlib::EnvBackend, ""},
                                           {portlib::EnvSegment, ""},
                                           {portlib::EnvPowerOn, ""},
                                           {portlib::EnvDisconnected, ""},
                                           {portlib::EnvBusy, ""}});
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_EQ(settings.backend, portlib::BackendKind::VirtualModule);
  EXPECT_FALSE(settings.disconnected.has_value());
  EXPECT_FALSE(settings.busyAccesses.has_value());
}

struct BadValueRow {
  const char* name;
  const char* variable;
  std::string value;
};

class SettingsBadValue : public ::testing::TestWithParam<BadValueRow> {};

TEST_P(SettingsBadValue, IsReportedOnceByNameAndTheDefaultStays) {
  const auto& row = GetParam();
  const auto [settings, lines] = readFrom({{row.variable, row.value}});
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_THAT(lines[0], HasSubstr(row.variable));
  EXPECT_THAT(lines[0], HasSubstr("\"" + row.value + "\""));
  EXPECT_THAT(lines[0], HasSubstr("expected"));

  const portlib::Settings defaults;
  EXPECT_EQ(settings.backend, defaults.backend);
  EXPECT_EQ(settings.segmentName, defaults.segmentName);
  EXPECT_EQ(settings.powerOn, defaults.powerOn);
  EXPECT_EQ(settings.disconnected, defaults.disconnected);
  EXPECT_EQ(settings.busyAccesses, defaults.busyAccesses);
  EXPECT_EQ(settings.build, t6963::StandardBuild);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingsBadValue,
    ::testing::Values(BadValueRow{"BackendRelativePath", portlib::EnvBackend, "dev/port"},
                      BadValueRow{"BackendUnknownWord", portlib::EnvBackend, "LCD"},
                      BadValueRow{"SegmentWithoutSlash", portlib::EnvSegment, "kelvari"},
                      BadValueRow{"SegmentOnlySlash", portlib::EnvSegment, "/"},
                      BadValueRow{"SegmentInnerSlash", portlib::EnvSegment, "/a/b"},
                      BadValueRow{"SegmentTooLong", portlib::EnvSegment, "/" + std::string(255, 'x')},
                      BadValueRow{"PowerOnUpperCase", portlib::EnvPowerOn, "Zero"},
                      BadValueRow{"PowerOnUnknown", portlib::EnvPowerOn, "garbage"},
                      BadValueRow{"DisconnectedWord", portlib::EnvDisconnected, "yes"},
                      BadValueRow{"DisconnectedTwo", portlib::EnvDisconnected, "2"},
                      BadValueRow{"BusyNegative", portlib::EnvBusy, "-1"},
                      BadValueRow{"BusyPlusSign", portlib::EnvBusy, "+5"},
                      BadValueRow{"BusyTrailingText", portlib::EnvBusy, "10ms"},
                      BadValueRow{"BusyLeadingSpace", portlib::EnvBusy, " 10"},
                      BadValueRow{"BusyAboveLimit", portlib::EnvBusy, "1000001"},
                      BadValueRow{"BusyOverflow", portlib::EnvBusy, "99999999999999999999"},
                      BadValueRow{"BusyHex", portlib::EnvBusy, "0x10"},
                      BadValueRow{"SizeWithoutHeight", portlib::EnvSize, "240x"},
                      BadValueRow{"SizeZeroWide", portlib::EnvSize, "0x64"},
                      BadValueRow{"SizeWiderThanAnyScan", portlib::EnvSize, "641x64"},
                      BadValueRow{"SizeWiderThanTheDefaultFontScans", portlib::EnvSize, "481x64"},
                      BadValueRow{"SizeRowsNotWholeLines", portlib::EnvSize, "240x60"},
                      BadValueRow{"SizeDualScanOddLines", portlib::EnvSize, "240x136"},
                      BadValueRow{"SizeTallerThanDualScan", portlib::EnvSize, "240x272"},
                      BadValueRow{"FontNine", portlib::EnvFont, "9x8"},
                      BadValueRow{"FontRows", portlib::EnvFont, "6x7"},
                      BadValueRow{"RamSixteen", portlib::EnvRam, "16K"},
                      BadValueRow{"WiringLineMissing", portlib::EnvWiring, "WR:STROBE,CE:AUTOFD,CD:INIT"},
                      BadValueRow{"WiringLineTwice", portlib::EnvWiring, "WR:STROBE,CE:AUTOFD,CD:INIT,WR:SLCTIN"},
                      BadValueRow{"WiringPortLineTwice", portlib::EnvWiring, "WR:STROBE,CE:STROBE,CD:INIT,RD:SLCTIN"},
                      BadValueRow{"WiringStrobeTied", portlib::EnvWiring, "WR:GND,CE:AUTOFD,CD:INIT,RD:SLCTIN"},
                      BadValueRow{"WiringUnknownWire", portlib::EnvWiring, "WR:BUSY,CE:AUTOFD,CD:INIT,RD:SLCTIN"}),
    [](const auto& rowInfo) { return rowInfo.param.name; });

TEST(Settings, TheModulesBuildTakesAnyScannableGlassFontRamAndCable) {
  const auto [settings, lines] = readFrom({{portlib::EnvSize, "640X256"},
                                           {portlib::EnvFont, "8x8"},
                                           {portlib::EnvRam, "32k"},
                                           {portlib::EnvWiring, "wr:!init, ce:GND ,CD:slctin,RD:VCC"}});
  EXPECT_THAT(lines, IsEmpty());
  EXPECT_EQ(t6963::describe(settings.build), "640x256 8x8 32K, cable WR:!INIT,CE:GND,CD:SLCTIN,RD:VCC");
  EXPECT_EQ(settings.build.displayedColumns(), 80);
  const auto narrow = readFrom({{portlib::EnvSize, "128x64"}, {portlib::EnvFont, "6x8"}, {portlib::EnvRam, "64K"}});
  EXPECT_EQ(t6963::describe(narrow.settings.build), "128x64 6x8 64K, cable WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN");
  EXPECT_EQ(narrow.settings.build.displayedColumns(), 22) << "the last byte stands partly beyond the glass";
}

TEST(Settings, EachBadValueIsReportedWhileGoodOnesStillApply) {
  const auto [settings, lines] = readFrom({{portlib::EnvBackend, "port"},
                                           {portlib::EnvPowerOn, "zero"},
                                           {portlib::EnvBusy, "many"},
                                           {portlib::EnvDisconnected, "1"}});
  EXPECT_THAT(lines, ElementsAre(HasSubstr(portlib::EnvBackend), HasSubstr(portlib::EnvBusy)));
  EXPECT_EQ(settings.powerOn, t6963::PowerOnContents::Zero);
  EXPECT_EQ(settings.disconnected, true);
}

}  // namespace
