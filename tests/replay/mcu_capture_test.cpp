// Captures of a microcontroller driving the bus, at 24 MHz and 100 MHz, read back as a
// sigrok session file, as VCD, as sigrok-cli's CSV and as raw binary: every byte at its
// time, each planted fault reported where its short interval ends, and nothing else.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>

#include "tests/replay/bus_capture.h"

namespace replay_test {
namespace {

using replay::TimingRule;
using ::testing::ElementsAreArray;
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
  // Data, data, command, and a write with its parameters, with the faults planted among them.
  static McuBus traffic(std::uint64_t rate) {
    McuBus bus(rate);
    bus.write(false, 0x00);
    bus.write(false, 0x02);
    bus.write(true, 0x24);
    bus.write(false, 0x21, Fault::ShortWrPulse);
    bus.write(true, 0xC0, Fault::LateCd);
    bus.write(false, 0x42, Fault::EarlyData);
    bus.write(true, 0xC0);
    bus.write(false, 0xFF);
    bus.write(true, 0x98);
    return bus;
  }

  // The capture in the row's file, read back.
  Recorded replayed(const Capture& capture) {
    const std::string session = dir_.filePath("bus.sr").toStdString();
    switch (GetParam().kind) {
      case FileKind::Session:
        writeSession(session, capture);
        return replayFile(session);
      case FileKind::Vcd: {
        const std::string vcd = dir_.filePath("bus.vcd").toStdString();
        writeVcd(vcd, capture);
        return replayFile(vcd);
      }
      case FileKind::Binary: {
        // Channels named by their numbers: mapped by index.
        const std::string binary = dir_.filePath("bus.bin").toStdString();
        writeBinary(binary, capture);
        replay::ReadOptions options;
        options.format = replay::parseInputFormat("binary:numchannels=16:samplerate=" + std::to_string(capture.rate));
        return replayFile(binary, options, "D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,CD=8,WR=9,RD=10,CE=11");
      }
      case FileKind::Csv: {
        const std::string csv = dir_.filePath("bus.csv").toStdString();
        writeSession(session, capture);
        const auto run = runProgram(sigrokCli(), {"-i", session, "-O", "csv:label=channel", "-o", csv});
        EXPECT_EQ(run.exitCode, 0) << run.err;
        replay::ReadOptions options;
        options.format = replay::parseInputFormat("csv:samplerate=" + std::to_string(capture.rate));
        return replayFile(csv, options);
      }
    }
    return {};
  }

  QTemporaryDir dir_;
};

TEST_P(McuCapture, EveryByteAndEachPlantedFaultComeOutAtTheirTimesAndNothingElse) {
  if (GetParam().kind == FileKind::Csv && sigrokCli().empty()) GTEST_SKIP() << "sigrok-cli is not installed";
  const auto bus = traffic(GetParam().rate);
  const Capture capture = McuBus(bus).finish();
  const Recorded got = replayed(capture);
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

}  // namespace
}  // namespace replay_test
