// kelvari-replay on files: its output for a session file, bad input refused with one line,
// a session file cut short, --until, which every reader stops at, a VCD whose clock jumps by
// hours, and Kelvari's own traffic in lcdview's VCD and what sigrok-cli makes of it, which
// must replay to the module's glass and bus log.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "t6963/bus_decoder.h"
#include "t6963/module.h"
#include "t6963/renderer.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"
#include "tests/portlib/test_segment.h"
#include "tests/replay/bus_capture.h"
#include "tests/t6963/bench_protocol.h"

namespace replay_test {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Data, data, command at 24 MHz.
McuBus threeBytes() {
  McuBus bus(24'000'000);
  bus.write(false, 0x00);
  bus.write(false, 0x02);
  bus.write(true, 0x24, Fault::ShortWrPulse);
  return bus;
}

TEST(ReplayProgram, PrintsEachCycleAndFindingTimeFirstThenTheSummary) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("bus.sr").toStdString();
  auto bus = threeBytes();
  writeSession(file, bus.finish());
  const auto run = runReplay({file});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.err, IsEmpty());
  // Bytes end 1.5 µs + 166.67 + 125 ns in (delays round up to whole samples), then every
  // 2.29 µs (2,000 + 166.67 + 125 ns); after the command the bus waits 5 µs.
  EXPECT_EQ(run.out,
            "module 240x64 6x8 8K, cable WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN\n"
            "display RAM before the first sample: random\n"
            "note: at 24 MHz, C/D hold times under 41.67 ns cannot be measured\n"
            "note: at 24 MHz, data hold times under 41.67 ns cannot be measured\n"
            "        1.79  data      0x00  data 0x00\n"
            "        4.08  data      0x02  data 0x02\n"
            "        6.29  command   0x24  set address pointer 0x0200\n"
            "        6.29  VIOLATION 0x24  /WR pulse width 41.67 ns, needs >= 80 ns\n"
            "capture: 296 samples, 12.33 µs at 24 MHz\n"
            "bytes: 3 written (2 data, 1 commands), 0 refused; 0 status reads, 0 data reads\n"
            "violations: 1 (pulse width 1)\n"
            "findings: 0\n");
}

// A hookup that ties /CE to ground and /RD to +5 V: the capture carries neither, and the
// cable's ties in DLPORTIO_LCD_WIRING say so.
TEST(ReplayProgram, TheCablesTiesStandInForTheLinesACaptureDoesNotCarry) {
  QTemporaryDir dir;
  const std::string file = dir.filePath("tied.sr").toStdString();
  auto names = AnalyserNames;
  names[10] = "unused1";  // nRD
  names[11] = "unused2";  // CE
  writeSession(file, threeBytes().finish(), names);
  EXPECT_EQ(runReplay({file}).exitCode, 1);
  const auto run = runReplay({file}, {"DLPORTIO_LCD_WIRING=WR:STROBE,CE:GND,CD:INIT,RD:VCC"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(linesOfKind(run.out, "data").size(), 2U) << run.out;
  EXPECT_EQ(linesOfKind(run.out, "command").size(), 1U) << run.out;
}

struct BadInputRow {
  const char* name;
  std::function<std::vector<std::string>(const std::string& dir)> arguments;
  const char* message;
};
// Cases print by name: test names stay the same between builds.
void PrintTo(const BadInputRow& row, std::ostream* out) { *out << row.name; }

class ReplayBadInput : public ::testing::TestWithParam<BadInputRow> {};

TEST_P(ReplayBadInput, GetsOneClearLineAndExitStatusOneAndWritesNoSegment) {
  QTemporaryDir dir;
  portlib_test::TestSegment segment;
  auto arguments = GetParam().arguments(dir.path().toStdString());
  arguments.insert(arguments.begin(), {"--segment", segment.name()});
  const auto run = runReplay(arguments);
  EXPECT_FALSE(t6963::SharedModule::openExisting(segment.name())) << "a segment was made";
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_THAT(run.err, StartsWith("kelvari-replay: "));
  EXPECT_THAT(run.err, HasSubstr(GetParam().message));
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
}

std::string file(const std::string& dir, const char* name, const std::string& text) {
  writeText(dir + "/" + name, text);
  return dir + "/" + name;
}

// A mono 16-bit WAV of 100 samples at 8 kHz: an analog capture.
std::string wave(const std::string& dir) {
  std::string bytes = "RIFF";
  const auto word = [&](std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) bytes += static_cast<char>(value >> (8 * i) & 0xFF);
  };
  word(36 + 200, 4);
  bytes += "WAVEfmt ";
  word(16, 4), word(1, 2), word(1, 2), word(8000, 4), word(16000, 4), word(2, 2), word(16, 2);
  bytes += "data";
  word(200, 4);
  bytes += std::string(200, '\0');
  return file(dir, "tone.wav", bytes);
}

std::string sessionWith(const std::string& dir, std::array<std::string, replay::BusLineCount> names) {
  auto bus = threeBytes();
  writeSession(dir + "/named.sr", bus.finish(), names);
  return dir + "/named.sr";
}

const std::string VcdHeader = "$timescale 1 us $end\n$var wire 1 ! D0 $end\n";

INSTANTIATE_TEST_SUITE_P(
    Files, ReplayBadInput,
    ::testing::Values(
        BadInputRow{"Missing", [](const std::string& dir) { return std::vector<std::string>{dir + "/none.sr"}; },
                    "cannot read "},
        BadInputRow{"UnknownFormat",
                    [](const std::string& dir) { return std::vector<std::string>{file(dir, "notes.txt", "hello\n")}; },
                    "libsigrok does not recognise its format (name it with -I FORMAT)"},
        BadInputRow{"UnknownInputModule",
                    [](const std::string& dir) { return std::vector<std::string>{"-I", "saleae", file(dir, "x", "1")}; },
                    "libsigrok has no input format \"saleae\""},
        BadInputRow{"UnknownOption",
                    [](const std::string& dir) {
                      return std::vector<std::string>{"-I", "binary:speed=3", file(dir, "x.bin", "ab")};
                    },
                    "-I binary: no option \"speed\""},
        BadInputRow{"NoSampleRate",
                    [](const std::string& dir) {
                      return std::vector<std::string>{"-I", "binary:numchannels=16", file(dir, "x.bin", "abcd")};
                    },
                    "gives no sample rate"},
        BadInputRow{"ZeroSampleRate",
                    [](const std::string& dir) {
                      return std::vector<std::string>{"-I", "binary:numchannels=16:samplerate=0", file(dir, "x.bin", "ab")};
                    },
                    "gives no sample rate"},
        BadInputRow{"NoLogicChannels", [](const std::string& dir) { return std::vector<std::string>{wave(dir)}; },
                    "the capture has no logic channels"},
        BadInputRow{"SessionWithoutTheLines",
                    [](const std::string& dir) {
                      return std::vector<std::string>{sessionWith(dir, {"0", "1", "2", "3", "4", "5", "6", "7", "A0",
                                                                        "WR#", "nRD", "CLK"})};
                    },
                    "the capture has no channel for D0 D1 D2 D3 D4 D5 D6 D7 /CE"},
        BadInputRow{"MapToAMissingChannel",
                    [](const std::string& dir) {
                      return std::vector<std::string>{"--channels", "CE=12", sessionWith(dir, AnalyserNames)};
                    },
                    "--channels CE=12: the capture has no channel 12"},
        BadInputRow{"SessionCutBeforeItsMetadata",
                    [](const std::string& dir) {
                      const auto whole = sessionWith(dir, AnalyserNames);
                      std::filesystem::resize_file(whole, 40);
                      return std::vector<std::string>{whole};
                    },
                    "cut short before its metadata"},
        BadInputRow{"SessionWithADamagedMember",
                    [](const std::string& dir) {
                      const auto path = sessionWith(dir, AnalyserNames);
                      std::fstream bytes(path, std::ios::in | std::ios::out | std::ios::binary);
                      const std::string text((std::istreambuf_iterator<char>(bytes)), std::istreambuf_iterator<char>());
                      bytes.seekp(static_cast<std::streamoff>(text.find("logic-1-1") + 12));
                      bytes.write("\xFF\x00\xFF\x00", 4);
                      return std::vector<std::string>{path};
                    },
                    "the session file's member logic-1-1 is damaged: "},
        BadInputRow{"SessionWithADamagedMemberHeader",
                    [](const std::string& dir) {
                      const auto path = sessionWith(dir, AnalyserNames);
                      std::fstream bytes(path, std::ios::in | std::ios::out | std::ios::binary);
                      const std::string text((std::istreambuf_iterator<char>(bytes)), std::istreambuf_iterator<char>());
                      bytes.seekp(static_cast<std::streamoff>(text.rfind("PK\x03\x04", text.find("logic-1-1")) + 2));
                      bytes.write("\x00\x00", 2);
                      return std::vector<std::string>{path};
                    },
                    "the session file is damaged: "},
        BadInputRow{"VcdWithoutTimescale",
                    [](const std::string& dir) {
                      return std::vector<std::string>{file(dir, "x.vcd", "$var wire 1 ! D0 $end\n$enddefinitions $end\n#0\n")};
                    },
                    "no $timescale"},
        BadInputRow{"VcdWithoutOneBitVariables",
                    [](const std::string& dir) {
                      return std::vector<std::string>{"-I", "vcd", file(dir, "x.vcd", "$timescale 1 ns $end\n$var wire 8 ! bus $end\n$enddefinitions $end\n")};
                    },
                    "no logic channels"},
        BadInputRow{"VcdWithoutTheLines",
                    [](const std::string& dir) {
                      return std::vector<std::string>{file(dir, "x.vcd", VcdHeader + "$enddefinitions $end\n#0\n0!\n")};
                    },
                    "no channel for D1 D2"},
        BadInputRow{"VcdWhoseTimeRunsBackwards",
                    [](const std::string& dir) {
                      std::string text = "$timescale 1 ns $end\n";
                      for (const auto& name : AnalyserNames) text += "$var wire 1 " + name + " " + name + " $end\n";
                      return std::vector<std::string>{file(dir, "x.vcd", text + "$enddefinitions $end\n#5\n#4\n")};
                    },
                    "time runs backwards at #4"},
        BadInputRow{"TheSameChannelForTwoLines",
                    [](const std::string& dir) {
                      return std::vector<std::string>{"--channels", "D1=0", sessionWith(dir, AnalyserNames)};
                    },
                    "channel 0 is both D0 and D1"},
        BadInputRow{"UntilNotATime",
                    [](const std::string& dir) {
                      return std::vector<std::string>{"--until", "6.2.9", sessionWith(dir, AnalyserNames)};
                    },
                    "--until 6.2.9: expected a time in microseconds as the log prints it"}),
    [](const auto& tested) { return std::string(tested.param.name); });

TEST(ReplayProgram, ASessionFileCutShortReplaysWhatItHoldsAndSaysSo) {
  QTemporaryDir dir;
  const std::string whole = dir.filePath("whole.sr").toStdString();
  const std::string cut = dir.filePath("cut.sr").toStdString();
  McuBus bus(100'000'000);
  for (int i = 0; i < 400; ++i) bus.write(i % 2 == 0, static_cast<std::uint8_t>(i * 37));
  Capture capture = bus.finish();
  writeSession(whole, capture);
  std::filesystem::copy_file(whole, cut);
  std::filesystem::resize_file(cut, std::filesystem::file_size(whole) / 2);

  const Recorded got = replayFile(cut);
  ASSERT_EQ(got.notes.size(), 1U);
  EXPECT_THAT(got.notes[0], HasSubstr("cut.sr: the session file is cut short; replayed the " +
                                      std::to_string(got.samples) + " samples it holds"));
  EXPECT_LT(got.samples, capture.samples);
  ASSERT_FALSE(got.writes.empty());
  ASSERT_LT(got.writes.size(), bus.bytes().size());
  for (std::size_t i = 0; i < got.writes.size(); ++i) {
    EXPECT_EQ(got.writes[i].byte, bus.bytes()[i].byte) << i;
    EXPECT_EQ(got.writes[i].end, bus.bytes()[i].end) << i;
  }

  const auto run = runReplay({cut});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_THAT(run.err, HasSubstr("the session file is cut short"));
  const auto lines = entryLines(run.out);
  ASSERT_GE(lines.size(), 2U);
  EXPECT_EQ(lines[0].text, "unknown command: 0x00 ignored");
  EXPECT_EQ(lines[1].text, "data 0x25");
  for (std::size_t i = 0; i < 2; ++i) EXPECT_DOUBLE_EQ(lines[i].microseconds, static_cast<double>(bus.bytes()[i].end) / 100);
}

// --until with a time copied from the log: the log ends there, the segment holds the glass as
// it stood then (that of the bytes up to that time), and a later run rebuilds the segment as
// the module the settings give.
TEST(ReplayProgram, UntilEndsTheLogWhereItSaysAndTheSegmentHoldsTheGlassAsItStoodThen) {
  namespace cmd = t6963c::cmd;
  McuBus bus(24'000'000);
  for (const std::uint8_t byte : std::initializer_list<std::uint8_t>{0x00, 0x00, cmd::SetTextHome, 20, 0x00,
                                                                    cmd::SetTextArea, 0x00, 0x00, cmd::SetAddressPointer,
                                                                    cmd::DisplayMode | cmd::DisplayTextOn}) {
    bus.write(byte >= 0x24, byte);
  }
  for (const char c : std::string("T6963C")) {
    bus.write(false, static_cast<std::uint8_t>(c - 0x20));
    bus.write(true, cmd::WriteIncrement);
  }
  QTemporaryDir dir;
  const std::string file = dir.filePath("bus.sr").toStdString();
  writeSession(file, bus.finish());
  const std::vector<std::string> zero = {"DLPORTIO_LCD_POWERON=zero", "DLPORTIO_LCD_SIZE=128x64"};
  const auto whole = runReplay({file}, zero);
  ASSERT_EQ(whole.exitCode, 0) << whole.err;
  const auto lines = entryLines(whole.out);
  ASSERT_EQ(lines.size(), bus.bytes().size());
  constexpr std::size_t Stop = 15;  // the command that writes "9"
  std::ostringstream until;
  until.precision(2);
  until << std::fixed << lines[Stop].microseconds;

  portlib_test::TestSegment segment;
  const auto run = runReplay({"--segment", segment.name(), "--until", until.str(), file}, zero);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto replayed = entryLines(run.out);
  ASSERT_EQ(replayed.size(), Stop + 1) << run.out;
  EXPECT_EQ(replayed.back().text, "write 0x19 and advance");
  EXPECT_THAT(run.out, HasSubstr("\nreplayed up to " + until.str() + " µs (--until)\n"));
  const std::vector<McuBus::Byte> taken(bus.bytes().begin(), bus.bytes().begin() + Stop + 1);
  auto expected = moduleOf(taken);
  expected.build.width = 128;
  const auto glass = runProgram(LCDVIEW_PATH, {"--segment", segment.name(), "--text"});
  ASSERT_EQ(glass.exitCode, 0) << glass.err;
  EXPECT_EQ(glass.out, t6963::frameToText(t6963::render(expected, true)));
  EXPECT_THAT(glass.out, HasSubstr("#")) << "T69 on the glass";

  // The same segment again, as this system's own module: rebuilt, the whole capture in it.
  ASSERT_EQ(runReplay({"--segment", segment.name(), file}, {"DLPORTIO_LCD_POWERON=zero"}).exitCode, 0);
  const auto module = t6963::SharedModule::openExisting(segment.name());
  ASSERT_TRUE(module);
  const auto state = module->snapshot();
  EXPECT_EQ(state.build, t6963::StandardBuild);
  EXPECT_EQ(state.controller.addressPointer, 6);
}

// The bytes this process has read from files so far (Linux's count of read() and the like).
std::uint64_t bytesReadSoFar() {
  std::ifstream io("/proc/self/io");
  for (std::string key; io >> key;) {
    std::uint64_t value = 0;
    io >> value;
    if (key == "rchar:") return value;
  }
  ADD_FAILURE() << "no rchar in /proc/self/io";
  return 0;
}

enum class UntilFile { Session, CutSession, Binary, Vcd };
struct UntilRow {
  const char* name;
  UntilFile file;
};
void PrintTo(const UntilRow& row, std::ostream* out) { *out << row.name; }

class ReplayUntil : public ::testing::TestWithParam<UntilRow> {};

// 160 ms of a microcontroller writing varied bytes at 100 MHz, --until a millisecond in: the
// log ends at that byte and the summary's span is what was read. The reader leaves the rest
// of the file unread: a replay until near the end reads at least half the file more.
TEST_P(ReplayUntil, ReadsTheCaptureNoFurther) {
  McuBus bus(100'000'000);
  for (std::uint32_t word = 1; bus.now() < 16'000'000; word = word * 1103515245 + 12345) {
    bus.write(false, static_cast<std::uint8_t>(word >> 16));
  }
  const Capture capture = bus.finish();
  QTemporaryDir dir;
  std::string path = dir.filePath("bus").toStdString();
  replay::ReadOptions options;
  std::string channels;
  switch (GetParam().file) {
    case UntilFile::Session: writeSession(path, capture); break;
    case UntilFile::CutSession:
      writeSession(path, capture);
      std::filesystem::resize_file(path, std::filesystem::file_size(path) * 3 / 4);
      break;
    case UntilFile::Binary:
      writeBinary(path, capture);
      options.format = replay::parseInputFormat("binary:numchannels=16:samplerate=100000000");
      channels = "D0=0,D1=1,D2=2,D3=3,D4=4,D5=5,D6=6,D7=7,CD=8,WR=9,RD=10,CE=11";
      break;
    case UntilFile::Vcd:
      writeVcd(path, capture);
      options.format = replay::parseInputFormat("vcd");  // libsigrok's format detection reads 8 MiB
      break;
  }
  // The log, and the bytes this process read from files, of a replay until byte `stop`.
  const auto replayUntil = [&](std::size_t stop, std::string& until) {
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", static_cast<double>(bus.bytes()[stop].end) / 100);
    until = time;
    auto setup = zeroedModule();
    setup.until = replay::parseUntil(until);
    const std::uint64_t before = bytesReadSoFar();
    std::string log = replayModule(path, setup, options, channels).log;
    return std::pair(log, bytesReadSoFar() - before);
  };
  constexpr std::size_t Stop = 400;
  std::string until;
  const auto [log, read] = replayUntil(Stop, until);
  const auto lines = entryLines(log);
  ASSERT_EQ(lines.size(), Stop + 1);
  EXPECT_DOUBLE_EQ(lines.back().microseconds, static_cast<double>(bus.bytes()[Stop].end) / 100);
  EXPECT_THAT(log, HasSubstr("\ncapture: " + std::to_string(bus.bytes()[Stop].end + 1) + " samples, "));
  EXPECT_THAT(log, HasSubstr(" read no further (--until)\nreplayed up to " + until + " µs (--until)\n"));
  std::string late;
  EXPECT_GT(replayUntil(bus.bytes().size() - 10, late).second, read + std::filesystem::file_size(path) / 2)
      << "a file of " << std::filesystem::file_size(path) << " bytes; " << read << " read until " << until;
}

INSTANTIATE_TEST_SUITE_P(Files, ReplayUntil,
                         ::testing::Values(UntilRow{"Session", UntilFile::Session},
                                           UntilRow{"CutSession", UntilFile::CutSession},
                                           UntilRow{"Binary", UntilFile::Binary}, UntilRow{"Vcd", UntilFile::Vcd}),
                         [](const auto& tested) { return std::string(tested.param.name); });

TEST(ReplayVcd, AClockThatJumpsByHoursBetweenBurstsReplaysByItsChanges) {
  // Two bursts at 1 GHz, three hours apart: 10.8 trillion samples, a few hundred changes.
  constexpr std::uint64_t Rate = 1'000'000'000;
  constexpr std::uint64_t Jump = 3ULL * 3600 * Rate;
  McuBus first(Rate);
  McuBus second(Rate);
  for (int i = 0; i < 20; ++i) {
    first.write(false, static_cast<std::uint8_t>(i));
    second.write(true, static_cast<std::uint8_t>(0x80 + i));
  }
  Capture capture = first.finish();
  const Capture later = second.finish();
  for (auto change : later.changes) {
    change.sample += Jump;
    capture.changes.push_back(change);
  }
  capture.samples = Jump + later.samples;
  QTemporaryDir dir;
  const std::string file = dir.filePath("bursts.vcd").toStdString();
  writeVcd(file, capture);

  const Recorded got = replayFile(file);
  EXPECT_EQ(got.samples, capture.samples);
  ASSERT_EQ(got.writes.size(), 40U);
  EXPECT_EQ(got.writes[19].end, first.bytes()[19].end);
  EXPECT_EQ(got.writes[20].end, Jump + second.bytes()[0].end);
  EXPECT_EQ(got.writes[39].byte, 0x80 + 19);
  EXPECT_EQ(got.releases.size(), 2U);
  EXPECT_THAT(got.timing, IsEmpty());
}

// Kelvari's own traffic in the files a user has of it: lcdview's VCD, and that VCD after
// sigrok-cli made a session file and CSV of it.
enum class Converted { None, Session, Csv };
struct LcdviewRow {
  const char* name;
  Converted converted;
};
void PrintTo(const LcdviewRow& row, std::ostream* out) { *out << row.name; }

class LcdviewTraffic : public ::testing::TestWithParam<LcdviewRow> {
 protected:
  // Port accesses, or as many microseconds in the replay: more than the bench spends between
  // two strobes without polling.
  static constexpr std::uint32_t BusyAccesses = 9;

  // The test bench's protocol draws text and graphics, reads a byte back and sends a byte
  // while the controller is busy.
  static void draw(t6963::Module& bus) {
    namespace cmd = t6963c::cmd;
    t6963::testing::BenchProtocol bench(bus);
    const auto send = [&](std::initializer_list<std::uint8_t> data, std::uint8_t command) {
      for (const std::uint8_t byte : data) ASSERT_TRUE(bench.data(byte));
      ASSERT_TRUE(bench.command(command));
    };
    send({0x00, 0x00}, cmd::SetTextHome);
    send({40, 0x00}, cmd::SetTextArea);
    send({0x00, 0x02}, cmd::SetGraphicHome);
    send({40, 0x00}, cmd::SetGraphicArea);
    send({}, static_cast<std::uint8_t>(cmd::ModeSet | cmd::ModeExor));
    send({0x02, 0x00}, cmd::SetAddressPointer);
    send({}, cmd::AutoWrite);
    for (const char c : std::string("HELLO")) ASSERT_TRUE(bench.autoData(static_cast<std::uint8_t>(c - 0x20)));
    send({}, cmd::AutoReset);
    send({0x29, 0x02}, cmd::SetAddressPointer);
    for (const std::uint8_t pattern : std::initializer_list<std::uint8_t>{0x3F, 0x21, 0x2D}) {
      send({pattern}, cmd::WriteIncrement);
    }
    send({0x03, 0x00}, cmd::SetAddressPointer);
    send({}, cmd::ReadNoChange);
    ASSERT_EQ(bench.readData(), 'E' - 0x20);
    send({}, static_cast<std::uint8_t>(cmd::DisplayMode | cmd::DisplayTextOn | cmd::DisplayGraphicOn));
    bench.commandCycle(cmd::SetCursorPointer);  // no wait: refused while busy
  }

  // The capture file of the row, from lcdview's VCD.
  std::string capture(const std::string& vcd) {
    const std::string session = dir_.filePath("bus.sr").toStdString();
    const std::string csv = dir_.filePath("bus.csv").toStdString();
    switch (GetParam().converted) {
      case Converted::None: return vcd;
      case Converted::Session: convert({"-I", "vcd", "-i", vcd, "-o", session}); return session;
      case Converted::Csv:
        convert({"-I", "vcd", "-i", vcd, "-o", session});
        convert({"-i", session, "-O", "csv:label=channel", "-o", csv});
        return csv;
    }
    return {};
  }

  static void convert(const std::vector<std::string>& arguments) {
    const auto run = runProgram(sigrokCli(), arguments);
    ASSERT_EQ(run.exitCode, 0) << run.err;
  }

  QTemporaryDir dir_;
};

TEST_P(LcdviewTraffic, ReplaysToTheSameGlassWithTheSameBytesAtTheSameTimesAsTheModulesOwnLog) {
  if (GetParam().converted != Converted::None && sigrokCli().empty()) GTEST_SKIP() << "sigrok-cli is not installed";
  portlib_test::TestSegment made;
  auto original = t6963::SharedModule::open(made.name(), t6963::PowerOnContents::Zero);
  t6963::setBusyAccesses(original.state(), BusyAccesses);
  {
    t6963::Module bus(original.state(), &original.trace());
    draw(bus);
    if (HasFatalFailure()) return;
  }
  const std::string vcd = dir_.filePath("bus.vcd").toStdString();
  const auto exported = runProgram(LCDVIEW_PATH, {"--segment", made.name(), "--vcd", vcd});
  ASSERT_EQ(exported.exitCode, 0) << exported.err;
  const std::string file = capture(vcd);
  ASSERT_FALSE(HasFatalFailure());

  portlib_test::TestSegment replayed;
  const bool csv = GetParam().converted == Converted::Csv;
  std::vector<std::string> arguments = {"--segment", replayed.name(), file};
  if (csv) arguments.insert(arguments.begin(), {"-I", "csv:samplerate=1000000"});
  const auto run =
      runReplay(arguments, {"DLPORTIO_LCD_POWERON=zero", "DLPORTIO_LCD_BUSY=" + std::to_string(BusyAccesses)});
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const auto glass = runProgram(LCDVIEW_PATH, {"--segment", replayed.name(), "--text"});
  ASSERT_EQ(glass.exitCode, 0) << glass.err;
  EXPECT_EQ(glass.out, t6963::frameToText(t6963::render(original.snapshot(), true)));

  // The module's own log, one microsecond per port access, against the replay's at one
  // sample per microsecond: the same entries, polls folded alike, at the same times. A
  // read is logged at the port's read there, at the end of the read cycle (/RD released,
  // the next access) here.
  const auto own = entryLines(t6963::formatBusLog(t6963::copyTrace(original.trace(), t6963::StandardBuild)));
  const auto replayedEntries = entryLines(run.out);
  ASSERT_GT(own.size(), 30U);
  ASSERT_EQ(replayedEntries.size(), own.size()) << run.out;
  for (std::size_t i = 0; i < own.size(); ++i) {
    EXPECT_EQ(replayedEntries[i].kind, own[i].kind) << i;
    EXPECT_EQ(replayedEntries[i].byte, own[i].byte) << i;
    EXPECT_EQ(replayedEntries[i].text, own[i].text) << i;
    EXPECT_EQ(replayedEntries[i].microseconds, own[i].microseconds + (own[i].kind == "read" ? 1 : 0)) << i;
  }
  EXPECT_EQ(linesOfKind(run.out, "read").size(), 1U);
  EXPECT_THAT(run.out, HasSubstr("\nviolations: 1 (byte sent while busy 1)\nfindings: 0\n"));
}

INSTANTIATE_TEST_SUITE_P(Files, LcdviewTraffic,
                         ::testing::Values(LcdviewRow{"Vcd", Converted::None}, LcdviewRow{"Session", Converted::Session},
                                           LcdviewRow{"Csv", Converted::Csv}),
                         [](const auto& tested) { return std::string(tested.param.name); });

}  // namespace
}  // namespace replay_test
