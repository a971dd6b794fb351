// The cycle extractor's rules on short, hand-made level sequences, read through the replayed
// module's log: simultaneous changes, unseen starts, x and z lines, strobes without /CE,
// C/D changing inside a cycle, holds; and the log's times, rates and summary.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "replay/cycle_extractor.h"
#include "replay/module_replay.h"
#include "tests/replay/bus_capture.h"

namespace {

using replay::BusLine;
using replay::bit;

// Levels as "D7..D0 WR RD CE CD", each 0, 1, x or z: "10100101 1101".
replay::Levels levelsOf(std::string_view text) {
  static constexpr std::array<BusLine, 12> Order = {BusLine::D7, BusLine::D6, BusLine::D5, BusLine::D4,
                                                    BusLine::D3, BusLine::D2, BusLine::D1, BusLine::D0,
                                                    BusLine::Wr, BusLine::Rd, BusLine::Ce, BusLine::Cd};
  replay::Levels levels;
  std::size_t line = 0;
  for (const char c : text) {
    if (c == ' ') continue;
    const auto lineBit = bit(Order.at(line++));
    if (c == '1') levels.high |= lineBit;
    if (c == 'x') levels.undefined |= lineBit;
    if (c == 'z') levels.floating |= lineBit;
  }
  return levels;
}

struct Step {
  std::uint64_t sample;
  const char* levels;
};

struct ExtractorRow {
  const char* name;
  std::uint64_t rate;
  std::vector<Step> steps;
  const char* log;  // the notes and entry lines
};
// Cases print by name: test names stay the same between builds.
void PrintTo(const ExtractorRow& row, std::ostream* out) { *out << row.name; }

class Extractor : public ::testing::TestWithParam<ExtractorRow> {};

TEST_P(Extractor, LogsTheCyclesAndFindingsOfTheSequence) {
  std::ostringstream out;
  replay::ModuleReplay log(replay_test::zeroedModule(), out);
  replay::CycleExtractor extractor(log, "", {});
  replay::CaptureInfo info{GetParam().rate, {}};
  for (const char* name : {"D0", "D1", "D2", "D3", "D4", "D5", "D6", "D7", "/WR", "/RD", "/CE", "C/D"}) {
    info.channels.push_back({static_cast<unsigned>(info.channels.size()), name});
  }
  ASSERT_EQ(extractor.begin(info).channels.size(), replay::BusLineCount);
  for (const auto& step : GetParam().steps) extractor.change(step.sample, levelsOf(step.levels));
  extractor.end(GetParam().steps.back().sample + 1);
  // The lines after the module's two header lines, before the summary.
  const std::string text = out.str();
  const std::size_t from = text.find('\n', text.find('\n') + 1) + 1;
  EXPECT_EQ(text.substr(from, text.find("capture: ") - from), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, Extractor,
    ::testing::Values(
        ExtractorRow{"ChangesInOneSampleAreSimultaneous", 100'000'000,
                     {{0, "00000000 1110"}, {10, "10100101 0101"}, {20, "01011010 1100"}},
                     "        0.20  command   0xA5  cursor pattern: 6 lines\n"},
        ExtractorRow{"ShortIntervalsEndWhereTheyAreReported", 1'000'000'000,
                     {{0, "00000000 1100"}, {10, "00000000 0100"}, {50, "00010010 0100"},
                      {100, "00010010 1100"}, {105, "00010010 1101"}, {120, "00010011 1101"}},
                     "       0.100  data      0x12  data 0x12\n"
                     "       0.100  VIOLATION 0x12  data setup 50 ns, needs >= 80 ns\n"
                     "       0.105  VIOLATION 0x12  C/D hold 5 ns, needs >= 10 ns\n"
                     "       0.120  VIOLATION 0x12  data hold 20 ns, needs >= 40 ns\n"},
        ExtractorRow{"PulsesOfStrobeAndChipEnableAreEachMeasured", 100'000'000,
                     {{0, "00000000 1110"}, {10, "00000000 0100"}, {15, "00000000 1110"}},
                     "        0.15  data      0x00  data 0x00\n"
                     "        0.15  VIOLATION 0x00  /WR pulse width 50 ns, needs >= 80 ns\n"
                     "        0.15  VIOLATION 0x00  /CE pulse width 50 ns, needs >= 80 ns\n"},
        ExtractorRow{"ACdChangeInsideTheCycleBreaksSetupAtAnyRate", 1'000'000,
                     {{0, "00000000 1100"}, {10, "00000000 0100"}, {13, "00000000 0101"}, {20, "00000000 1101"}},
                     "note: at 1 MHz, C/D setup times under 1 µs cannot be measured\n"
                     "note: at 1 MHz, C/D hold times under 1 µs cannot be measured\n"
                     "note: at 1 MHz, pulse widths under 1 µs cannot be measured\n"
                     "note: at 1 MHz, data setup times under 1 µs cannot be measured\n"
                     "note: at 1 MHz, data hold times under 1 µs cannot be measured\n"
                     "          13  VIOLATION 0x00  C/D setup: C/D changed 3 µs after the cycle started, needs to be "
                     "stable >= 100 ns before it\n"
                     "          20  VIOLATION 0x00  unknown command: 0x00 ignored\n"},
        ExtractorRow{"LateCdBeforeTheStart", 100'000'000,
                     {{0, "00000000 1100"}, {10, "00000000 1101"}, {12, "00000000 0101"}, {30, "00000000 1101"}},
                     "        0.12  VIOLATION 0x00  C/D setup 20 ns, needs >= 100 ns\n"
                     "        0.30  VIOLATION 0x00  unknown command: 0x00 ignored\n"},
        ExtractorRow{"AStartBeforeTheFirstSampleIsNotMeasured", 100'000'000,
                     {{0, "11000000 0101"}, {3, "11000000 1101"}},
                     "        0.03  command   0xC0  write 0x00 and advance\n"},
        ExtractorRow{"UndefinedLinesAreMarkedNotInvented", 100'000'000,
                     {{0, "1111x11z 1100"}, {10, "1111x11z 0100"}, {30, "1111x11z 1100"}, {40, "00000000 110x"},
                      {50, "00000000 010x"}, {70, "00000000 110x"}},
                     "        0.30  VIOLATION 0xF6  x or z on D0 D3 in a write cycle: the byte is unknown and not replayed\n"
                     "        0.70  VIOLATION 0x00  x or z on C/D in a write cycle: the byte is unknown and not replayed\n"},
        ExtractorRow{"AStrobeGoingUndefinedLosesTheCycle", 100'000'000,
                     {{0, "00000000 1100"}, {10, "00000000 0100"}, {30, "00000000 x100"}, {40, "00000000 1100"}},
                     "        0.30  VIOLATION 0x00  /WR went x or z in a cycle: the cycle is lost\n"},
        ExtractorRow{"ReadCyclesTakeWhatTheControllerDrove", 100'000'000,
                     {{0, "zzzzzzzz 1101"}, {20, "zzzzzzzz 1001"}, {30, "00000011 1001"}, {40, "zzzzzzzz 1101"},
                      {60, "zzzzzzzz 1111"}},
                     "        0.40  status    0x03  status 0x03: ready [1 poll]\n"},
        ExtractorRow{"StrobesWithoutChipEnableAndBothTogether", 100'000'000,
                     {{0, "00000000 1110"}, {10, "00000000 0110"}, {20, "00000000 1110"}, {30, "00000000 1010"},
                      {40, "00000000 1110"}, {50, "00000000 1100"}, {60, "00000000 0000"}, {70, "00000000 1100"}},
                     "        0.20  VIOLATION 0x00  strobe without /CE: nothing taken, lines 0x00\n"
                     "        0.40  VIOLATION 0x00  strobe without /CE: nothing taken, lines 0x00\n"
                     "        0.60  VIOLATION 0x00  bus contention: port and controller both drive the data lines, port 0x00\n"
                     "        0.70  data      0x00  data 0x00\n"
                     "        0.70  read      0x00  read 0x00\n"}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(ReplayLog, TimesCarryTheDecimalsTheRateResolves) {
  const struct {
    std::uint64_t sample, rate;
    const char* text;
  } rows[] = {
      {0, 1'000'000, "0"},           {12, 1'000'000, "12"},        {1, 24'000'000, "0.04"},
      {24, 24'000'000, "1.00"},      {3, 100'000'000, "0.03"},     {5, 10'000'000, "0.5"},
      {1, 1'000'000'000, "0.001"},   {123456789, 1'000'000'000, "123456.789"},
      {10'800'000'000'000, 1'000'000'000, "10800000000.000"},  {3, 200'000'000, "0.015"},
      {1, 4'000'000, "0.3"},  // 0.25 rounds up, as --until reads the log's times
  };
  for (const auto& row : rows) {
    const std::string line = t6963::formatBusLogEntry({row.sample, t6963::BusLogKind::Data, 0x12, 0, "data 0x12"},
                                                      replay::captureTime(row.rate));
    EXPECT_EQ(line, std::string(std::max<std::size_t>(12, std::strlen(row.text)) - std::strlen(row.text), ' ') +
                        row.text + "  data      0x12  data 0x12")
        << row.sample << " at " << row.rate;
  }
  EXPECT_EQ(replay::formatRate(24'000'000), "24 MHz");
  EXPECT_EQ(replay::formatRate(12'500'000), "12.5 MHz");
  EXPECT_EQ(replay::formatRate(1'000'000'000), "1 GHz");
  EXPECT_EQ(replay::formatRate(44'100), "44.1 kHz");
  EXPECT_EQ(replay::formatRate(200), "200 Hz");
}

// --until takes the times the log prints: a sample is replayed while its printed time is
// not past the one given.
TEST(ReplayLog, UntilTakesTheTimesAsTheLogPrintsThem) {
  const struct {
    const char* until;
    std::uint64_t rate, lastSample;
  } rows[] = {
      {"6.29", 24'000'000, 151},  // 6.2917 prints as 6.29; 6.3333 would not
      {"6.3", 24'000'000, 151},   {"6", 1'000'000, 6},          {"0", 100'000'000, 0},
      {"0.004", 1'000'000, 0},    {"1.0005", 1'000'000'000, 1000}, {"12345678.5", 1'000'000, 12345678},
      {"0.3", 4'000'000, 1},      // 0.25 prints as 0.3
  };
  for (const auto& row : rows) {
    EXPECT_EQ(replay::lastSampleUntil(replay::parseUntil(row.until), row.rate), row.lastSample)
        << row.until << " at " << row.rate;
  }
  for (const char* bad : {"", "-1", "1.", ".5", "1e3", "6.29us", "1.0000000001", "0x10"}) {
    EXPECT_THROW(replay::parseUntil(bad), replay::CaptureError) << '"' << bad << '"';
  }
}

TEST(ReplayLog, TheSummaryGivesSpanRateBytesAndViolationsAndFindingsByKind) {
  std::ostringstream out;
  replay::ModuleReplay log(replay_test::zeroedModule(), out);
  log.captureBegins({24'000'000, {}});
  log.writeCycle({.end = 10, .command = true, .byte = 0x9C});
  log.writeCycle({.end = 20, .byte = 0x01});  // busy after the command: refused
  log.readCycle({.end = 30, .command = true, .byte = 0x03, .undefinedData = 0x80});
  log.chipReleased(31);
  log.timingViolation({replay::TimingRule::PulseWidth, BusLine::Wr, 20, 41.67, 80, 0x01});
  log.protocolFinding({replay::ProtocolKind::WriteWithoutCe, 40, BusLine::Wr, 0x01});
  log.readCycle({.end = 200, .command = true, .byte = 0x20});
  log.captureEnds(2'400'000);
  EXPECT_THAT(out.str(), ::testing::EndsWith(
                             "capture: 2400000 samples, 100000.00 µs at 24 MHz\n"
                             "bytes: 2 written (1 data, 1 commands), 1 refused; 1 status reads, 0 data reads\n"
                             "violations: 4 (pulse width 1, strobe without /CE 1, byte sent while busy 1, "
                             "x or z on taken lines 1)\n"
                             "findings: 1 (controller busy where the model says ready 1)\n"));
}

}  // namespace
