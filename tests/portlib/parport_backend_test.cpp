// The ppdev backend against a fake parport: the wire protocol's accesses become the
// driver's calls (none for the ECR), the card's own base works beside LPT1's, other ports
// are refused, failures carry their remedy, each kind of failed call is reported once and
// leaves the lines as the port has them; the port is found from a stand-in of
// /proc/sys/dev/parport, and the shadow view feeds the virtual module.
#include "portlib/parport_backend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_parport.h"
#include "portlib/backend_factory.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"
#include "test_segment.h"

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::SizeIs;
using namespace t6963c;

// A PCI card: base 0x3010, its second range (ECR at + 2) at 0x3000.
const portlib::ParportEntry Card{"/dev/parport0", 0x3010, 0x3000};

class ParportBackendTest : public ::testing::Test {
 protected:
  portlib::ParportBackend open(const portlib::ParportEntry& port = Card) {
    return portlib::ParportBackend(fake, port, [this](std::string_view line) { lines.emplace_back(line); });
  }

  portlib_test::FakeParport fake;
  std::vector<std::string> lines;
};

TEST_F(ParportBackendTest, ClaimsExclusivelyAndReleasesAtTheEnd) {
  { auto backend = open(); }
  EXPECT_THAT(fake.calls, ElementsAre("open /dev/parport0", "PPEXCL", "PPCLAIM", "PPGETMODES", "PPRCONTROL", "PPRELEASE",
                                      "close"));
}

TEST_F(ParportBackendTest, OneLcdByteCostsTwelveCallsAndTheEcrNone) {
  auto backend = open();
  fake.calls.clear();
  const std::uint8_t ecr = backend.read(EcrPort);
  backend.write(EcrPort, static_cast<std::uint8_t>((ecr & ecr::KeepMask) | ecr::ModeByte));
  backend.write(ControlPort, 0x26);
  backend.write(ControlPort, 0x2E);
  EXPECT_EQ(backend.read(DataPort), fake.dataLines);
  backend.write(ControlPort, 0x26);
  backend.write(ControlPort, 0x00);
  backend.write(DataPort, 0x5A);
  for (const std::uint8_t control : std::initializer_list<std::uint8_t>{0x00, 0x02, 0x03, 0x02, 0x00}) backend.write(ControlPort, control);

  EXPECT_EQ(ecr & ecr::ModeMask, ecr::ModeByte);
  EXPECT_THAT(fake.calls, ElementsAre("PPDATADIR 1", "PPWCONTROL 0x6", "PPWCONTROL 0xe", "PPRDATA", "PPWCONTROL 0x6",
                                      "PPWCONTROL 0x0", "PPDATADIR 0", "PPWDATA 0x5a", "PPWCONTROL 0x2",
                                      "PPWCONTROL 0x3", "PPWCONTROL 0x2", "PPWCONTROL 0x0"));
  EXPECT_EQ(backend.read(ControlPort), 0x00);  // the soft copy: no call
  EXPECT_THAT(fake.calls, SizeIs(12));
  EXPECT_THAT(lines, IsEmpty());
}

TEST_F(ParportBackendTest, Lpt1AndTheCardsOwnRegistersReachThePortAndNothingElseDoes) {
  struct Row {
    std::uint16_t port;
    const char* call;  // "" when answered without a call
    std::uint8_t value;
  };
  const Row rows[] = {
      {DataPort, "PPRDATA", 0x03},     {StatusPort, "PPRSTATUS", 0x78}, {ControlPort, "", 0x0C}, {EcrPort, "", 0x35},
      {0x3010, "PPRDATA", 0x03},       {0x3011, "PPRSTATUS", 0x78},     {0x3012, "", 0x0C},      {0x3002, "", 0x35},
      {0x01F0, "", 0xFF},              {0x0020, "", 0xFF},              {0x037B, "", 0xFF},      {0x3013, "", 0xFF},
  };
  auto backend = open();
  for (const auto& row : rows) {
    fake.calls.clear();
    EXPECT_EQ(backend.read(row.port), row.value) << std::hex << row.port;
    EXPECT_EQ(fake.calls, std::string(row.call).empty() ? std::vector<std::string>{} : std::vector<std::string>{row.call})
        << std::hex << row.port;
  }
  fake.calls.clear();
  backend.write(0x01F0, 0x12);
  backend.write(0x3010, 0x34);
  EXPECT_THAT(fake.calls, ElementsAre("PPWDATA 0x34"));
  ASSERT_THAT(lines, SizeIs(1));  // the refusals, reported once
  EXPECT_THAT(lines[0], HasSubstr("0x1f0"));
}

TEST_F(ParportBackendTest, AnEcrWriteAskingForAnotherModeIsReportedOnceAndTheModeStays) {
  auto backend = open();
  backend.write(EcrPort, ecr::ModeEpp);
  backend.write(EcrPort, ecr::ModeSpp);
  EXPECT_EQ(backend.read(EcrPort) & ecr::ModeMask, ecr::ModeByte);
  EXPECT_THAT(lines, ElementsAre(HasSubstr("byte mode")));
}

TEST_F(ParportBackendTest, EachKindOfFailingCallIsReportedOnceAndReadsGiveZero) {
  auto backend = open();
  for (const char* call : {"PPRDATA", "PPRSTATUS", "PPWDATA", "PPWCONTROL", "PPDATADIR"}) fake.failing[call] = EIO;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(backend.read(DataPort), 0x00);
    EXPECT_EQ(backend.read(StatusPort), 0x00);
    backend.write(DataPort, 0x5A);
    for (const std::uint8_t control : {ctl::StatusSelect, ctl::Ce}) backend.write(ControlPort, control);
  }
  EXPECT_THAT(lines, ::testing::UnorderedElementsAre(HasSubstr("PPRDATA failed"), HasSubstr("PPRSTATUS failed"),
                                                     HasSubstr("PPWDATA failed"), HasSubstr("PPWCONTROL failed"),
                                                     HasSubstr("PPDATADIR failed")));
}

TEST_F(ParportBackendTest, AFailedControlWriteLeavesTheSoftCopyAndIsTriedAgain) {
  auto backend = open();
  fake.failing["PPWCONTROL"] = EIO;
  backend.write(ControlPort, 0x03);
  EXPECT_EQ(backend.read(ControlPort), fake.controlLines);
  fake.failing.clear();
  backend.write(ControlPort, 0x03);
  EXPECT_EQ(fake.calls.back(), "PPWCONTROL 0x3");
}

TEST_F(ParportBackendTest, AFailedTurnToInputEndsTheCycleBeforeTheReadStrobe) {
  auto backend = open();
  fake.failing["PPDATADIR"] = EIO;
  fake.calls.clear();
  for (const std::uint8_t control : {ctl::StatusSelect, ctl::StatusRead}) backend.write(ControlPort, control);
  EXPECT_THAT(fake.calls, ElementsAre("PPDATADIR failed", "PPWCONTROL 0x0", "PPDATADIR failed"));
}

struct OpenFailureRow {
  const char* name;
  int openError;
  const char* failingCall;
  const char* remedy;
  unsigned int modes = 0x03;  // the port's modes, as PPGETMODES gives them
};

class ParportOpenFailure : public ParportBackendTest, public ::testing::WithParamInterface<OpenFailureRow> {};

TEST_P(ParportOpenFailure, RefusesWithTheRemedyAndLeavesNothingOpen) {
  fake.openError = GetParam().openError;
  fake.modes = GetParam().modes;
  if (*GetParam().failingCall != '\0') fake.failing[GetParam().failingCall] = EBUSY;
  try {
    open();
    FAIL() << "the backend opened";
  } catch (const portlib::BackendError& error) {
    EXPECT_THAT(error.what(), HasSubstr("/dev/parport0"));
    EXPECT_THAT(error.what(), HasSubstr(GetParam().remedy));
  }
  const auto opens = std::count_if(fake.calls.begin(), fake.calls.end(), [](const auto& c) { return c.starts_with("open"); });
  const auto closes = std::count(fake.calls.begin(), fake.calls.end(), "close");
  EXPECT_EQ(closes, GetParam().openError == 0 ? opens : 0);
  EXPECT_EQ(std::count(fake.calls.begin(), fake.calls.end(), "PPCLAIM"),
            std::count(fake.calls.begin(), fake.calls.end(), "PPRELEASE"));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ParportOpenFailure,
    ::testing::Values(OpenFailureRow{"NoPermission", EACCES, "", "add yourself to group lp and log in again"},
                      OpenFailureRow{"NoDevice", ENOENT, "", "modprobe ppdev"},
                      OpenFailureRow{"ClaimedElsewhere", 0, "PPEXCL", "busy"},
                      OpenFailureRow{"ClaimBusy", 0, "PPCLAIM", "busy"},
                      OpenFailureRow{"NoBidirectionalMode", 0, "", "set the port to PS/2, EPP or ECP in the BIOS setup",
                                     0x01}),
    [](const auto& rowInfo) { return rowInfo.param.name; });

// A stand-in of /proc/sys/dev/parport with the given ports (name, base-addr contents).
class ParportDirectory : public ::testing::Test {
 protected:
  void add(const std::string& name, const std::string& baseAddr) {
    std::filesystem::create_directory(root() / name);
    std::ofstream(root() / name / "base-addr") << baseAddr;
  }
  std::filesystem::path root() const { return dir.path().toStdString(); }

  QTemporaryDir dir;
};

TEST_F(ParportDirectory, ChoosesTheNamedPortElseTheOneAt0x378ElseParport0) {
  add("parport0", "12304\t12288\n");
  add("parport2", "888\t1912\n");
  add("parport10", "632\t0\n");
  add("default", "0\n");
  const auto ports = portlib::listParports(root());
  ASSERT_THAT(ports, SizeIs(3));
  EXPECT_EQ(ports[0].device, "/dev/parport0");
  EXPECT_EQ(ports[0].base, 0x3010u);
  EXPECT_EQ(ports[0].baseHigh, 0x3000u);
  EXPECT_EQ(ports[2].device, "/dev/parport10");

  EXPECT_EQ(portlib::chooseParport(ports, "").device, "/dev/parport2");
  EXPECT_EQ(portlib::chooseParport(ports, "/dev/parport10").base, 0x278u);
  EXPECT_EQ(portlib::chooseParport(ports, "/dev/parport5").base, 0u);  // not listed: tried all the same
  EXPECT_EQ(portlib::chooseParport({ports[0], ports[2]}, "").device, "/dev/parport0");
  EXPECT_EQ(portlib::chooseParport({ports[2]}, "").device, "/dev/parport10");
}

TEST_F(ParportDirectory, NoPortListedRefusesWithTheRemedy) {
  EXPECT_THAT(portlib::listParports(root() / "absent"), IsEmpty());
  try {
    portlib::chooseParport({}, "");
    FAIL() << "a port was chosen";
  } catch (const portlib::BackendError& error) {
    EXPECT_THAT(error.what(), HasSubstr("modprobe parport_pc"));
  }
}

TEST_F(ParportDirectory, TheFactorySaysWhichPortItTookAndTheShadowSeesEveryWrite) {
  add("parport0", "12304\t12288\n");
  portlib_test::TestSegment segment;
  portlib_test::FakeParport fake;
  portlib::Settings settings;
  settings.backend = portlib::BackendKind::Parport;
  settings.shadow = true;
  settings.segmentName = segment.name();
  std::vector<std::string> lines;
  portlib::BackendSystem system;
  system.parport = &fake;
  system.parportDirectory = root();

  auto backend = portlib::createBackend(settings, [&](std::string_view line) { lines.emplace_back(line); }, system);
  backend->write(DataPort, 0xA7);
  EXPECT_EQ(backend->read(StatusPort), fake.statusLines);

  EXPECT_THAT(lines, ElementsAre(HasSubstr("/dev/parport0 (its base 0x3010")));
  EXPECT_EQ(fake.calls.back(), "PPRSTATUS");
  EXPECT_EQ(t6963::SharedModule::open(segment.name()).state().bus.dataLatch, 0xA7);
}

}  // namespace
