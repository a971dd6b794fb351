// The parallel port in front of the controller: decoded registers and their read-back,
// the connector inversion, strobe edges, the module's cable, the data direction in each ECR
// mode, bus contention and the other violations, the disconnected cable, and power-on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "bench_protocol.h"
#include "t6963/bus_decoder.h"
#include "t6963/module.h"
#include "t6963/port_lines.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

using namespace t6963c;
using testing::BenchProtocol;

template <typename Case>
std::string nameOf(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

class PortTest : public ::testing::Test {
 protected:
  PortTest() { powerOn(state_, PowerOnContents::Zero, 0, 0); }

  void control(std::initializer_list<std::uint8_t> values) {
    for (std::uint8_t value : values) module_.write(ControlPort, value);
  }
  void byteMode() { module_.write(EcrPort, ecr::ModeByte); }
  unsigned count(ViolationKind kind) const { return state_.violations.counts[static_cast<std::size_t>(kind)]; }

  ModuleState state_;
  Module module_{state_, nullptr, testing::stoppedClock};
  BenchProtocol bench_{module_};
};

// --- Registers ---------------------------------------------------------------------------

class UndecodedPort : public PortTest, public ::testing::WithParamInterface<std::uint16_t> {};

TEST_P(UndecodedPort, ReadsAllOnesAndIgnoresWrites) {
  const ModuleState before = state_;
  module_.write(GetParam(), 0x5A);
  EXPECT_EQ(module_.read(GetParam()), 0xFF);
  ModuleState after = state_;
  after.bus.accessCount = before.bus.accessCount;
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0) << "a write to an undecoded port changed the state";
}

INSTANTIATE_TEST_SUITE_P(PortTest, UndecodedPort,
                         ::testing::Values(0x0000, LptBase + 3, LptBase + 4, LptBase + 0x400, LptBase + 0x401,
                                           0x278, 0x3BC, EcrPort + 1, 0xFFFF));

TEST_F(PortTest, RegistersReadBackAsThePortShowsThem) {
  module_.write(DataPort, 0xA5);
  EXPECT_EQ(module_.read(DataPort), 0xA5) << "SPP: the data register reads its latch";
  module_.write(ControlPort, 0x24);
  EXPECT_EQ(module_.read(ControlPort), 0xE4) << "bits 6 and 7 read as 1";
  EXPECT_EQ(module_.read(StatusPort), 0x7F) << "no printer: inputs pulled up, BUSY inverted";
  EXPECT_EQ(module_.read(EcrPort), 0x15) << "power-on ECR: SPP, FIFO empty";
  module_.write(EcrPort, 0x37);
  EXPECT_EQ(module_.read(EcrPort), 0x35) << "FIFO full reads 0, FIFO empty reads 1";
  EXPECT_EQ(state_.bus.accessCount, 8U);
}

// --- Strobes -----------------------------------------------------------------------------

TEST_F(PortTest, ByteIsTakenWhenWrIsReleasedWithTheLinesAtThatMoment) {
  module_.write(DataPort, 0x11);
  control({0x00, 0x02, 0x03});
  EXPECT_EQ(state_.controller.parameterCount, 0) << "asserting /WR takes nothing yet";
  module_.write(DataPort, 0x22);
  control({0x03, 0x03});
  EXPECT_EQ(state_.controller.parameterCount, 0) << "repeating a level is no edge";
  control({0x02});
  EXPECT_EQ(state_.controller.parameterCount, 1);
  EXPECT_EQ(state_.controller.parameters[1], 0x22);
  control({0x00, 0x02, 0x00});
  EXPECT_EQ(state_.controller.parameterCount, 1) << "/CE alone strobes nothing";
  EXPECT_EQ(state_.violations.total, 0U);
}

TEST_F(PortTest, SoftwareOneAssertsTheInvertedLines) {
  // Levels as a driver that forgot the inversion would write them: /WR "high" = bit 0 set.
  module_.write(DataPort, 0x24);
  control({0x07, 0x05, 0x04, 0x05, 0x07});
  EXPECT_EQ(state_.controller.lastCommand, 0x00) << "no command: /CE was never asserted around a /WR release";
  EXPECT_GT(count(ViolationKind::StrobeWithoutCe), 0U);
}

TEST_F(PortTest, CdHighMakesTheByteACommand) {
  bench_.dataCycle(0x34);
  bench_.dataCycle(0x12);
  bench_.commandCycle(cmd::SetAddressPointer);
  EXPECT_EQ(state_.controller.addressPointer, 0x1234);
  EXPECT_EQ(state_.controller.lastCommand, cmd::SetAddressPointer);
}

TEST_F(PortTest, ReleasingWrAndCeTogetherStillTakesTheByte) {
  module_.write(DataPort, 0x5A);
  control({0x02, 0x03, 0x00});
  EXPECT_EQ(state_.controller.parameterCount, 1);
  EXPECT_EQ(state_.controller.parameters[1], 0x5A);
}

struct StrobeCase {
  const char* name;
  std::vector<std::uint8_t> controls;
  unsigned strobesWithoutCe;
};
void PrintTo(const StrobeCase& c, std::ostream* out) { *out << c.name; }

class StrobeWithoutCe : public PortTest, public ::testing::WithParamInterface<StrobeCase> {};

TEST_P(StrobeWithoutCe, IsCountedAndTakesNothing) {
  module_.write(DataPort, cmd::SetAddressPointer);
  for (std::uint8_t value : GetParam().controls) module_.write(ControlPort, value);
  EXPECT_EQ(count(ViolationKind::StrobeWithoutCe), GetParam().strobesWithoutCe);
  EXPECT_EQ(state_.violations.total, GetParam().strobesWithoutCe);
  EXPECT_EQ(state_.controller.parameterCount, 0);
  EXPECT_EQ(state_.controller.lastCommand, 0x00);
}

INSTANTIATE_TEST_SUITE_P(
    PortTest, StrobeWithoutCe,
    ::testing::Values(StrobeCase{"DataWritePulse", {0x00, 0x01, 0x00}, 1},
                      StrobeCase{"CommandWritePulse", {0x04, 0x05, 0x04}, 1},
                      StrobeCase{"ReadPulse", {0x20, 0x28, 0x20}, 1},
                      StrobeCase{"CeReleasedBeforeWr", {0x02, 0x03, 0x01, 0x00}, 1},
                      StrobeCase{"TwoPulses", {0x01, 0x00, 0x01, 0x00}, 2}),
    nameOf<StrobeCase>);

// --- Cables ----------------------------------------------------------------------------------

// The bench's protocol on a module of `cable`, as a driver configured for that cable speaks
// it: the address pointer set, two bytes written and advanced. A cable whose status cannot
// be read sends without waiting, its module busy for no time.
struct CabledRun {
  explicit CabledRun(const Cable& cable) {
    state.build.cable = cable;
    state.bus.control = idleControl(cable);
    powerOn(state, PowerOnContents::Zero, 0, 0);
    const bool writeOnly = cable.wire(ControllerLine::Rd).source == Wire::Source::Supply;
    if (writeOnly) setBusyAccesses(state, 0);
    Module module(state, trace.get(), testing::stoppedClock);
    BenchProtocol bench(module, cable);
    const std::pair<bool, std::uint8_t> bytes[] = {{false, 0x00}, {false, 0x02}, {true, cmd::SetAddressPointer},
                                                   {false, 0xA5}, {true, cmd::WriteIncrement},
                                                   {false, 0x5A}, {true, cmd::WriteIncrement}};
    for (const auto& [command, byte] : bytes) {
      if (writeOnly) {
        command ? bench.commandCycle(byte) : bench.dataCycle(byte);
        status = bench.statusNow();
      } else {
        EXPECT_TRUE(command ? bench.command(byte) : bench.data(byte));
      }
    }
    const auto copy = copyTrace(*trace, state.build);
    for (const auto& entry : decodeBusLog(copy)) log.push_back(entry.text);
    for (const auto& levels : decodeLineLevels(copy)) {
      ce += static_cast<char>(levels[static_cast<std::size_t>(Line::Ce)]);
      rd += static_cast<char>(levels[static_cast<std::size_t>(Line::Rd)]);
    }
  }

  ModuleState state;
  std::unique_ptr<BusTrace> trace = std::make_unique<BusTrace>();
  std::uint8_t status = 0xFF;  // on a write-only cable, what the last status read gave
  std::vector<std::string> log;
  std::string ce, rd;          // the levels of /CE and /RD after each access
};

struct CableCase {
  const char* name;
  const char* wiring;
};
void PrintTo(const CableCase& c, std::ostream* out) { *out << c.name; }

class OnAnyCable : public ::testing::TestWithParam<CableCase> {};

TEST_P(OnAnyCable, TheDriverOfThatCableWritesWhatTheStandardCableWouldAndTheLogSaysSo) {
  const Cable cable = std::get<Cable>(parseCable(GetParam().wiring));
  const CabledRun run(cable);
  const CabledRun standard(cable.wire(ControllerLine::Rd).source == Wire::Source::Supply
                               ? std::get<Cable>(parseCable("WR:STROBE,CE:AUTOFD,CD:INIT,RD:VCC"))
                               : StandardCable);
  EXPECT_EQ(run.state.violations.total, 0U);
  EXPECT_EQ(run.state.ram[0x0200], 0xA5);
  EXPECT_EQ(run.state.ram[0x0201], 0x5A);
  EXPECT_EQ(run.state.controller.addressPointer, 0x0202);
  EXPECT_EQ(run.log, standard.log);
  EXPECT_EQ(run.log.size(), 7U);
  if (cable.wire(ControllerLine::Ce).source == Wire::Source::Ground) {
    EXPECT_EQ(run.ce.find_first_not_of('0'), std::string::npos) << "a tied /CE stays low: " << run.ce;
  }
  if (cable.wire(ControllerLine::Rd).source == Wire::Source::Supply) {
    EXPECT_EQ(run.rd.find_first_not_of('1'), std::string::npos) << "a tied /RD stays high: " << run.rd;
    EXPECT_EQ(run.status, FloatingLines) << "the status of a write-only cable cannot be read";
  }
}

INSTANTIATE_TEST_SUITE_P(
    PortTest, OnAnyCable,
    ::testing::Values(CableCase{"GraphlcdWindows", "WR:INIT,CE:STROBE,CD:SLCTIN,RD:AUTOFD"},
                      CableCase{"GraphlcdSerialInverted", "WR:!STROBE,CE:!AUTOFD,CD:!INIT,RD:!SLCTIN"},
                      CableCase{"Lcd4linuxMovedWires", "WR:SLCTIN,CE:INIT,CD:AUTOFD,RD:STROBE"},
                      CableCase{"ChipEnableToGround", "WR:STROBE,CE:GND,CD:INIT,RD:SLCTIN"},
                      CableCase{"WriteOnly", "WR:AUTOFD,CE:STROBE,CD:INIT,RD:VCC"}),
    nameOf<CableCase>);

// --- Data lines and modes ------------------------------------------------------------------

struct ReadCase {
  const char* name;
  std::uint8_t ecr;
  std::uint8_t control;  // during the read
  std::uint8_t expected;
  unsigned contention;
  unsigned readsWithoutByteMode;
};
void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class DataRead : public PortTest, public ::testing::WithParamInterface<ReadCase> {};

// Latch 0x5A on the port; the controller, asked, drives its status 0xA3.
TEST_P(DataRead, ReturnsWhatDrivesTheLines) {
  const ReadCase& c = GetParam();
  module_.write(DataPort, 0x5A);
  module_.write(EcrPort, c.ecr);
  control({static_cast<std::uint8_t>(c.control & ~ctl::Rd), c.control});
  EXPECT_EQ(module_.read(DataPort), c.expected);
  EXPECT_EQ(module_.read(DataPort), c.expected);
  EXPECT_EQ(count(ViolationKind::BusContention), c.contention);
  EXPECT_EQ(count(ViolationKind::ReadWithoutByteMode), c.readsWithoutByteMode);
  EXPECT_EQ(state_.violations.total, c.contention + c.readsWithoutByteMode);
}

INSTANTIATE_TEST_SUITE_P(
    PortTest, DataRead,
    ::testing::Values(
        ReadCase{"ByteModeInputStatusCycle", ecr::ModeByte, 0x2E, 0xA3, 0, 0},
        ReadCase{"ByteModeInputNoCycleFloatsLow", ecr::ModeByte, 0x26 & ~ctl::Ce, 0x00, 0, 0},
        ReadCase{"ByteModeOutputDrivesAgainstTheController", ecr::ModeByte, 0x0E, 0x5A, 1, 0},
        ReadCase{"SppIgnoresTheDirectionBit", ecr::ModeSpp, 0x2E, 0x5A, 1, 2},
        ReadCase{"SppWithoutCycleIsAPlainLatchRead", ecr::ModeSpp, 0x20, 0x5A, 0, 0},
        ReadCase{"FifoModeActsAsSpp", ecr::ModeFifo, 0x2E, 0x5A, 1, 2},
        ReadCase{"EcpModeActsAsSpp", ecr::ModeEcp, 0x2E, 0x5A, 1, 2},
        ReadCase{"EppModeActsAsSpp", ecr::ModeEpp | 0x15, 0x2E, 0x5A, 1, 2}),
    nameOf<ReadCase>);

TEST_F(PortTest, ContentionIsCountedOncePerEpisode) {
  byteMode();
  control({0x26, 0x2E});  // controller drives, port listens
  EXPECT_EQ(count(ViolationKind::BusContention), 0U);
  control({0x0E, 0x0E});  // port turns to output while the controller still drives
  module_.write(DataPort, 0x01);
  EXPECT_EQ(count(ViolationKind::BusContention), 1U);
  control({0x2E});  // port lets go
  control({0x0E});  // and drives again
  EXPECT_EQ(count(ViolationKind::BusContention), 2U);
  control({0x06, 0x0E});  // /RD released (the cycle ends) then asserted again, port driving
  EXPECT_EQ(count(ViolationKind::BusContention), 3U);
  module_.write(EcrPort, ecr::ModeSpp);  // mode change while driving: still the same episode
  EXPECT_EQ(count(ViolationKind::BusContention), 3U);
  control({0x00});
  module_.write(EcrPort, ecr::ModeByte);
  control({0x26, 0x2E});
  module_.write(EcrPort, ecr::ModeSpp);  // SPP takes the lines from under the controller
  EXPECT_EQ(count(ViolationKind::BusContention), 4U);
}

TEST_F(PortTest, TheBenchProtocolCausesNoViolation) {
  for (int i = 0; i < 10; ++i) {
    ASSERT_TRUE(bench_.data(static_cast<std::uint8_t>(i)));
    ASSERT_TRUE(bench_.command(cmd::WriteIncrement));
  }
  ASSERT_TRUE(bench_.data(9));
  ASSERT_TRUE(bench_.data(0));
  ASSERT_TRUE(bench_.command(cmd::SetAddressPointer));
  ASSERT_TRUE(bench_.command(cmd::ReadDecrement));
  EXPECT_EQ(bench_.readData(), 9);
  EXPECT_EQ(state_.violations.total, 0U);
  EXPECT_EQ(state_.controller.addressPointer, 8);
}

TEST_F(PortTest, ByteStrobedWhileThePortListensIsTheFloatingLines) {
  byteMode();
  module_.write(DataPort, 0x5A);
  control({0x20, 0x22, 0x23, 0x22});
  EXPECT_EQ(state_.controller.parameters[1], 0x00);
  EXPECT_EQ(state_.controller.parameterCount, 1);
}

// --- Violation log -----------------------------------------------------------------------

TEST_F(PortTest, ViolationRingKeepsTheLastOnesWithTheirCircumstances) {
  constexpr unsigned Pulses = ViolationHistorySize + 3;
  for (unsigned i = 0; i < Pulses; ++i) {
    module_.write(DataPort, static_cast<std::uint8_t>(i));
    control({0x01, 0x00});
  }
  const Violations& v = state_.violations;
  ASSERT_EQ(v.total, Pulses);
  EXPECT_EQ(v.counts[static_cast<std::size_t>(ViolationKind::StrobeWithoutCe)], Pulses);
  for (unsigned back = 0; back < ViolationHistorySize; ++back) {
    const unsigned index = Pulses - 1 - back;
    const ViolationRecord& r = v.recent[index % ViolationHistorySize];
    EXPECT_EQ(r.kind, ViolationKind::StrobeWithoutCe);
    EXPECT_EQ(r.value, index) << "the latch at the time";
    EXPECT_EQ(r.control, 0x00) << "the control register after the release";
    EXPECT_EQ(r.access, 3U * index + 3) << "the access that released /WR";
  }
  EXPECT_EQ(describe(v.recent[(Pulses - 1) % ViolationHistorySize]),
            "access 33: strobe without /CE (byte 0x0A, control 0x00, ECR 0x15)");
}

TEST_F(PortTest, EveryViolationKindHasItsOwnName) {
  std::vector<std::string_view> names;
  for (std::size_t k = 0; k < ViolationKindCount; ++k) {
    names.push_back(violationName(static_cast<ViolationKind>(k)));
    EXPECT_NE(names.back(), "unknown violation");
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(std::adjacent_find(names.begin(), names.end()), names.end());
}

// --- Disconnected cable ------------------------------------------------------------------

TEST_F(PortTest, DisconnectedModuleNeverAnswersNorTakesBytes) {
  setDisconnected(state_, true);
  EXPECT_FALSE(bench_.waitReady().has_value());
  byteMode();
  control({0x26, 0x2E});
  EXPECT_EQ(module_.read(DataPort), 0x00) << "undriven lines read low";
  control({0x26, 0x00});
  bench_.dataCycle(0x12);
  bench_.commandCycle(cmd::SetAddressPointer);
  control({0x01, 0x00, 0x0E});
  EXPECT_EQ(state_.controller.parameterCount, 0);
  EXPECT_EQ(state_.controller.addressPointer, 0);
  EXPECT_EQ(state_.violations.total, 0U) << "nothing at the far end of the cable to complain";

  setDisconnected(state_, false);
  control({0x00});
  EXPECT_EQ(bench_.waitReady(), 1);
  ASSERT_TRUE(bench_.data(0x12));
  EXPECT_EQ(state_.controller.parameters[1], 0x12);
}

// --- Power-on ----------------------------------------------------------------------------

TEST_F(PortTest, PowerOnResetsTheModuleButNotThePortOrSettings) {
  ASSERT_TRUE(bench_.data(0x34));
  ASSERT_TRUE(bench_.data(0x12));
  ASSERT_TRUE(bench_.command(cmd::SetAddressPointer));
  ASSERT_TRUE(bench_.command(0x9F));
  control({0x01, 0x00});
  module_.write(DataPort, 0x77);
  setBusyAccesses(state_, 9);
  setDisconnected(state_, true);
  const std::uint64_t generation = state_.powerOnGeneration;

  powerOn(state_, PowerOnContents::Zero, 0, 0);

  const ControllerRegisters fresh{};
  EXPECT_EQ(std::memcmp(&state_.controller, &fresh, sizeof fresh), 0);
  EXPECT_EQ(state_.controller.displayMode, 0x90) << "display off after power-on";
  EXPECT_EQ(state_.violations.total, 0U);
  EXPECT_EQ(state_.powerOnGeneration, generation + 1);
  EXPECT_EQ(state_.bus.dataLatch, 0x77);
  EXPECT_EQ(state_.bus.ecr & ecr::ModeMask, ecr::ModeByte);
  EXPECT_EQ(state_.settings.busyAccesses, 9U);
  EXPECT_TRUE(isDisconnected(state_));
}

TEST_F(PortTest, PowerOnRamIsRandomPerSeedOrZero) {
  ModuleState a;
  ModuleState b;
  ModuleState c;
  powerOn(a, PowerOnContents::Random, 1, 0);
  powerOn(b, PowerOnContents::Random, 1, 0);
  powerOn(c, PowerOnContents::Random, 2, 0);
  EXPECT_EQ(a.ram, b.ram);
  EXPECT_NE(a.ram, c.ram);
  std::array<unsigned, 256> histogram{};
  for (std::size_t i = 0; i < a.build.ramBytes; ++i) ++histogram[a.ram[i]];
  const auto [least, most] = std::minmax_element(histogram.begin(), histogram.end());
  EXPECT_GT(*least, 5U) << "every byte value appears";
  EXPECT_LT(*most, 70U) << "no value dominates (32 expected)";
  powerOn(a, PowerOnContents::Zero, 1, 0);
  EXPECT_TRUE(std::all_of(a.ram.begin(), a.ram.end(), [](std::uint8_t byte) { return byte == 0; }));
}

}  // namespace
}  // namespace t6963
