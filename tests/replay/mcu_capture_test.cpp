// Captures of a microcontroller driving the bus, at 24 MHz and 100 MHz, read back as a
// sigrok session file, as VCD, as sigrok-cli's CSV and as raw binary: every byte at its
// time, each planted fault reported where its short interval ends, and nothing else, in
// the cycles and in the decoded log; and the glass the bytes draw.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <map>

#include "t6963/renderer.h"
#include "t6963/t6963c.h"
#include "tests/replay/bus_capture.h"

namespace replay_test {
namespace {

using replay::TimingRule;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

enum class FileKind { Session, Vcd, Csv, Binary };

struct McuRow {
  const char* name;
  std::uint64_t rate;
  FileKind kind;
  std::vector<TimingRule> unmeasurable;  // as the file's rate resolves
  bool dataHoldReported;                 // 20 ns after the end is one sample at 24 MHz: 41.67 ns
};
// Cases print by name: test names stay the same between builds.
void PrintTo(const McuRow& row, std::ostream* out) { *out << row.name; }

class McuCapture : public ::testing::TestWithParam<McuRow> {
 protected:
  // Text home and area, the address pointer, then "KEL" with the faults planted among the
  // bytes, and the text layer on.
  static McuBus traffic(std::uint64_t rate) {
    McuBus bus(rate);
    for (const std::uint8_t command : {t6963c::cmd::SetTextHome, t6963c::cmd::SetAddressPointer}) {
      bus.write(false, 0x00);
      bus.write(false, 0x00);
      bus.write(true, command);
    }
    bus.write(false, 40);
    bus.write(false, 0x00);
    bus.write(true, t6963c::cmd::SetTextArea);
    bus.write(false, 'K' - 0x20, Fault::ShortWrPulse);
    bus.write(true, t6963c::cmd::WriteIncrement, Fault::LateCd);
    bus.write(false, 'E' - 0x20, Fault::EarlyData);
    bus.write(true, t6963c::cmd::WriteIncrement);
    bus.write(false, 'L' - 0x20);
    bus.write(true, t6963c::cmd::WriteIncrement);
    bus.write(true, t6963c::cmd::DisplayMode | t6963c::cmd::DisplayTextOn);
    return bus;
  }

  // The row's file of the capture: its path and how it is read.
  std::pair<std::string, replay::ReadOptions> file(const Capture& capture, std::string& channels) {
    const std::string session = dir_.filePath("bus.sr").toStdString();
    replay::ReadOptions options;
    switch (GetParam().kind) {
      case FileKind::Session: writeSession(session, capture); return {session, options};
      case FileKind::Vcd: {
        const std::string vcd = dir_.filePath("bus.vcd").toStdString();
        writeVcd(vcd, capture);
        return {vcd, options};
      }
      case FileKind::Binary: {
        // Channels named by their numbers: mapped by index.
        const std::string binary = dir_.filePath("bus.bin").toStdString();
        writeBinary(binary, capture);
        options.format = replay::parseInputFormat("binary:numchannels=16:samplerate=" + std::to_string(capture.rate));
        channels = "D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,CD=8,WR=9,RD=10,CE=11";
        return {binary, options};
      }
      case FileKind::Csv: {
        const std::string csv = dir_.filePath("bus.csv").toStdString();
        writeSession(session, capture);
        const auto run = runProgram(sigrokCli(), {"-i", session, "-O", "csv:label=channel", "-o", csv});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        options.format = replay::parseInputFormat("csv:samplerate=" + std::to_string(capture.rate));
        return {csv, options};
      }
    }
    return {};
  }

  QTemporaryDir dir_;
};

// The cycles, then the decoded log: a VIOLATION line for each planted fault where its
// interval ends, with what was measured and what is needed, and no other; and the glass
// shows what the bytes draw.
TEST_P(McuCapture, EveryByteAndEachPlantedFaultComeOutAtTheirTimesAndNothingElse) {
  if (GetParam().kind == FileKind::Csv && sigrokCli().empty()) GTEST_SKIP() << "sigrok-cli is not installed";
  const auto bus = traffic(GetParam().rate);
  const Capture capture = McuBus(bus).finish();
  std::string channels;
  const auto [path, options] = file(capture, channels);
  const Recorded got = replayFile(path, options, channels);
  const std::uint64_t rate = got.info.sampleRate;

  // The span, to a sample of the capture's rate (a VCD in nanoseconds rounds its last stamp).
  EXPECT_LE(std::abs(nanosecondsAt(got.samples, rate) - nanosecondsAt(capture.samples, capture.rate)),
            static_cast<std::int64_t>(1e9 / static_cast<double>(capture.rate)));
  EXPECT_THAT(got.unmeasurable, ElementsAreArray(GetParam().unmeasurable));
  ASSERT_EQ(got.writes.size(), bus.bytes().size());
  for (std::size_t i = 0; i < got.writes.size(); ++i) {
    const auto& write = got.writes[i];
    EXPECT_EQ(write.byte, bus.bytes()[i].byte) << "byte " << i;
    EXPECT_EQ(write.command, bus.bytes()[i].command) << "byte " << i;
    EXPECT_EQ(write.undefinedData | static_cast<int>(write.commandUndefined), 0) << "byte " << i;
    EXPECT_TRUE(write.startSeen) << "byte " << i;
    EXPECT_LE(std::abs(nanosecondsAt(write.end, rate) - nanosecondsAt(bus.bytes()[i].end, capture.rate)), 1)
        << "byte " << i;
  }
  EXPECT_THAT(got.reads, IsEmpty());
  EXPECT_THAT(got.protocol, IsEmpty());
  ASSERT_EQ(got.releases.size(), 1U);

  std::vector<McuBus::Planted> expected;
  for (const auto& planted : bus.planted()) {
    if (planted.rule != TimingRule::DataHold || GetParam().dataHoldReported) expected.push_back(planted);
  }
  ASSERT_EQ(got.timing.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const auto& violation = got.timing[i];
    const double plantedNs = static_cast<double>(expected[i].length) * 1e9 / static_cast<double>(capture.rate);
    EXPECT_EQ(violation.rule, expected[i].rule) << "violation " << i;
    EXPECT_LE(std::abs(nanosecondsAt(violation.sample, rate) - nanosecondsAt(expected[i].sample, capture.rate)), 1)
        << "violation " << i;
    EXPECT_NEAR(violation.measuredNs, plantedNs, 1) << "violation " << i;
    EXPECT_EQ(violation.neededNs, replay::figure(expected[i].rule).minimumNs);
    if (violation.rule == TimingRule::PulseWidth) {
      EXPECT_EQ(violation.line, BusLine::Wr);
    }
  }

  const std::map<TimingRule, std::string> texts = {
      {TimingRule::PulseWidth, "/WR pulse width "}, {TimingRule::CdSetup, "C/D setup "}, {TimingRule::DataHold, "data hold "}};
  const ReplayedModule decoded = replayModule(path, zeroedModule(), options, channels);
  const double periodUs = 1e6 / static_cast<double>(capture.rate);
  const auto violations = linesOfKind(decoded.log, "VIOLATION");
  ASSERT_EQ(violations.size(), expected.size()) << decoded.log;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const std::string needs = ", needs >= " + std::to_string(replay::figure(expected[i].rule).minimumNs) + " ns";
    EXPECT_THAT(violations[i].text, ::testing::StartsWith(texts.at(expected[i].rule))) << i;
    EXPECT_THAT(violations[i].text, ::testing::EndsWith(needs)) << i;
    const double measured = std::stod(violations[i].text.substr(texts.at(expected[i].rule).size()));
    EXPECT_NEAR(measured, static_cast<double>(expected[i].length) * periodUs * 1000, 1) << violations[i].text;
    EXPECT_NEAR(violations[i].microseconds, static_cast<double>(expected[i].sample) * periodUs, periodUs) << i;
  }
  EXPECT_THAT(decoded.log, HasSubstr("\nviolations: " + std::to_string(expected.size()) + " ("));
  EXPECT_THAT(decoded.log, HasSubstr("\nfindings: 0\n"));

  const auto glass = t6963::render(decoded.module, true);
  EXPECT_EQ(t6963::frameToText(glass), t6963::frameToText(t6963::render(moduleOf(bus.bytes()), true)));
  EXPECT_GT(std::count(glass.pixels.begin(), glass.pixels.end(), 1), 30) << "K, E and L on the glass";
}

INSTANTIATE_TEST_SUITE_P(
    Files, McuCapture,
    ::testing::Values(
        McuRow{"Session24MHz", 24'000'000, FileKind::Session, {TimingRule::CdHold, TimingRule::DataHold}, false},
        McuRow{"Session100MHz", 100'000'000, FileKind::Session, {}, true},
        // A VCD cannot state 24 MHz: the harness writes nanoseconds, which resolve every rule.
        McuRow{"Vcd24MHz", 24'000'000, FileKind::Vcd, {}, false},
        McuRow{"Vcd100MHz", 100'000'000, FileKind::Vcd, {}, true},
        McuRow{"Csv24MHz", 24'000'000, FileKind::Csv, {TimingRule::CdHold, TimingRule::DataHold}, false},
        McuRow{"Csv100MHz", 100'000'000, FileKind::Csv, {}, true},
        McuRow{"Binary24MHz", 24'000'000, FileKind::Binary, {TimingRule::CdHold, TimingRule::DataHold}, false}),
    [](const auto& tested) { return std::string(tested.param.name); });

// Status and data reads against the model, with a busy time of 20 µs: the real controller
// ready before that ends the model's busy time; busy where the model says ready is one
// finding for the run of such polls; a byte read from RAM the capture never wrote is taken
// into the model; one that differs from a byte written is a finding.
TEST(McuReads, AreComparedWithTheModelAndTheRealControllerIsBelievedAboutItsBusyTime) {
  namespace cmd = t6963c::cmd;
  constexpr std::uint8_t Ready = 0x2B;
  constexpr std::uint8_t Busy = 0x20;
  McuBus bus(100'000'000);
  bus.read(true, Ready);
  bus.write(false, 0x05);
  bus.write(false, 0x00);
  bus.write(true, cmd::SetAddressPointer);
  bus.read(true, Busy);   // the model is busy too
  bus.read(true, Ready);  // before the model's 20 µs have passed
  bus.write(true, cmd::ReadNoChange);
  bus.read(true, Ready);
  bus.read(false, 0x77);  // never written: taken
  bus.write(false, 0x42);
  bus.read(true, Busy);   // after a data byte the model is ready: a finding
  bus.read(true, Busy);
  bus.read(true, Ready);
  bus.write(true, cmd::WriteNoChange);
  bus.read(true, Ready);
  bus.write(true, cmd::ReadNoChange);
  bus.read(true, Ready);
  bus.read(false, 0x43);  // 0x42 was written: a finding
  bus.write(false, 0x10);
  bus.write(false, 0x00);
  bus.write(true, cmd::SetAddressPointer);
  bus.read(true, Ready);
  bus.write(true, cmd::AutoRead);
  bus.read(true, 0x27);  // auto read ready
  bus.read(false, 0x11);
  bus.read(false, 0x22);
  QTemporaryDir dir;
  const std::string file = dir.filePath("reads.sr").toStdString();
  writeSession(file, bus.finish());

  auto setup = zeroedModule();
  setup.busyMicroseconds = 20;
  const ReplayedModule got = replayModule(file, setup);
  EXPECT_THAT(linesOfKind(got.log, "VIOLATION"), IsEmpty()) << got.log;
  const auto status = linesOfKind(got.log, "status");
  ASSERT_EQ(status.size(), 1U) << got.log;
  EXPECT_EQ(status[0].text, "status 0x20: busy, where the model says ready (0xA3)");
  const auto reads = linesOfKind(got.log, "read");
  ASSERT_EQ(reads.size(), 4U) << got.log;
  EXPECT_EQ(reads[0].text, "read 0x77 [1 poll]");
  EXPECT_EQ(reads[1].text, "read 0x43, where the model has 0x42 [1 poll]");
  EXPECT_THAT(got.log, HasSubstr("\nbytes: 11 written (5 data, 6 commands), 0 refused; 11 status reads, 4 data reads\n"
                                 "violations: 0\n"
                                 "findings: 2 (controller busy where the model says ready 1, data read differs from the "
                                 "model 1)\n"));
  EXPECT_EQ(got.module.ram[0x0005], 0x43) << "the byte read is the RAM's";
  EXPECT_EQ(got.module.ram[0x0010], 0x11) << "auto read";
  EXPECT_EQ(got.module.ram[0x0011], 0x22) << "auto read";
}

}  // namespace
}  // namespace replay_test
