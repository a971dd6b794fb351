// The replay's test harness: captures of a T6963C bus as a microcontroller drives it (/CE
// held low across bytes, no status reads, waits by the clock), with faults planted at known
// samples; the same capture written as a sigrok session file (libsigrok's srzip output), as
// a VCD, and converted by sigrok-cli; a sink that records what the extractor gives; and the
// kelvari-replay executable run with a bound.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "replay/bus_cycles.h"
#include "replay/capture_reader.h"
#include "replay/module_replay.h"
#include "t6963/module_state.h"
#include "tests/tools/program_run.h"

namespace replay_test {

using replay::BusLine;

// A capture's channels, as analysers label them: capture channel k carries ChannelLines[k].
inline constexpr std::array<BusLine, replay::BusLineCount> ChannelLines = {
    BusLine::D0, BusLine::D1, BusLine::D2, BusLine::D3, BusLine::D4, BusLine::D5,
    BusLine::D6, BusLine::D7, BusLine::Cd, BusLine::Wr, BusLine::Rd, BusLine::Ce};
inline const std::array<std::string, replay::BusLineCount> AnalyserNames = {
    "DB0", "DB1", "DB2", "DB3", "DB4", "DB5", "DB6", "DB7", "A0", "WR#", "nRD", "CE"};

// Levels with bit(line) per bus line, from `sample` on.
struct Change {
  std::uint64_t sample = 0;
  replay::Levels levels;
};

struct Capture {
  std::uint64_t rate = 0;
  std::uint64_t samples = 0;
  std::vector<Change> changes;  // the first at sample 0
};

enum class Fault { None, ShortWrPulse, LateCd, EarlyData };

// Whole samples of a duration, rounded up: what a microcontroller's delay loop gives.
std::uint64_t samplesOf(double nanoseconds, std::uint64_t rate);

// A microcontroller writing bytes: C/D and D0-D7 set together, 150 ns later /WR low for
// 120 ns, 60 ns after /WR rises the next byte may change the lines; it waits by the clock,
// 2 µs after a data byte and 5 µs after a command (beyond the controller's busy time).
// Faults: a /WR pulse of 40 ns; C/D set only 40 ns before /WR falls; data changed 20 ns
// after /WR rises. Reads, where a test asks for them: C/D set, 150 ns later /RD low for
// 150 ns with the controller's byte on the lines from 100 ns in; released lines read low.
class McuBus {
 public:
  struct Byte {
    std::uint64_t end;  // the sample where /WR rises
    bool command;
    std::uint8_t byte;
  };
  struct Planted {
    replay::TimingRule rule;
    std::uint64_t sample;  // where the short interval ends
    std::uint64_t length;  // its samples
  };

  explicit McuBus(std::uint64_t rate);
  void write(bool command, std::uint8_t byte, Fault fault = Fault::None);
  // A read cycle in which the controller drives `byte` (C/D high: the status).
  void read(bool status, std::uint8_t byte);
  // The bus left as it is.
  void idle(double nanoseconds) { wait(nanoseconds); }
  std::uint64_t now() const { return now_; }  // the next sample
  // /CE released, then a microsecond of idle bus.
  Capture finish();

  const std::vector<Byte>& bytes() const { return bytes_; }
  const std::vector<Planted>& planted() const { return planted_; }

 private:
  void set(BusLine line, bool high);
  void setData(std::uint8_t byte);
  void wait(double nanoseconds);
  void mark();

  std::uint64_t rate_;
  std::uint64_t now_ = 0;
  replay::Levels levels_;
  std::vector<Change> changes_;
  std::vector<Byte> bytes_;
  std::vector<Planted> planted_;
};

// The capture in files, channels in ChannelLines order named `names`.
void writeVcd(const std::string& path, const Capture& capture,
              const std::array<std::string, replay::BusLineCount>& names = AnalyserNames);
void writeSession(const std::string& path, const Capture& capture,
                  const std::array<std::string, replay::BusLineCount>& names = AnalyserNames);
// The capture as dense 16-bit samples, channel k carrying ChannelLines[k], in blocks of
// SessionBlockSamples (the last one shorter), as writeSession() gives them to libsigrok.
inline constexpr std::size_t SessionBlockSamples = std::size_t{1} << 20;
void forEachBlock(const Capture& capture, const std::function<void(const std::uint16_t*, std::size_t)>& take);
// Raw 16-bit little-endian samples, as `-I binary:numchannels=16` reads them.
void writeBinary(const std::string& path, const Capture& capture);

using tools_test::ProgramRun;
using tools_test::runProgram;
// kelvari-replay run to its end, with "NAME=VALUE" added to its environment.
ProgramRun runReplay(const std::vector<std::string>& arguments, const std::vector<std::string>& environment = {});
// kelvari-replay's path.
std::string replayProgram();
// sigrok-cli's path, empty if it is not installed.
std::string sigrokCli();

struct Recorded {
  replay::CaptureInfo info;
  std::vector<replay::TimingRule> unmeasurable;
  std::vector<replay::Cycle> writes;
  std::vector<replay::Cycle> reads;
  std::vector<std::uint64_t> releases;
  std::vector<replay::TimingViolation> timing;
  std::vector<replay::ProtocolFinding> protocol;
  std::uint64_t samples = 0;
  std::vector<std::string> notes;
};

class RecordingSink : public replay::CycleSink {
 public:
  Recorded recorded;

  std::uint64_t captureBegins(const replay::CaptureInfo& info) override {
    recorded.info = info;
    return replay::AllSamples;
  }
  void unmeasurable(replay::TimingRule rule) override { recorded.unmeasurable.push_back(rule); }
  void writeCycle(const replay::Cycle& cycle) override { recorded.writes.push_back(cycle); }
  void readCycle(const replay::Cycle& cycle) override { recorded.reads.push_back(cycle); }
  void chipReleased(std::uint64_t sample) override { recorded.releases.push_back(sample); }
  void timingViolation(const replay::TimingViolation& violation) override { recorded.timing.push_back(violation); }
  void protocolFinding(const replay::ProtocolFinding& finding) override { recorded.protocol.push_back(finding); }
  void captureEnds(std::uint64_t samples) override { recorded.samples = samples; }
};

// The file through the reader and the extractor.
Recorded replayFile(const std::string& path, const replay::ReadOptions& options = {},
                    const std::string& channels = {}, replay::Wiring wiring = {});

// The file through the reader, the extractor and the replayed module (module_replay.h), with
// the module's RAM zeroed at power-on: the log and the module at its end.
struct ReplayedModule {
  std::string log;
  t6963::ModuleState module;
};
replay::ReplaySetup zeroedModule();
ReplayedModule replayModule(const std::string& path, const replay::ReplaySetup& setup = zeroedModule(),
                            const replay::ReadOptions& options = {}, const std::string& channels = {});

// The module the bytes make when the controller takes every one of them, from zeroed RAM.
t6963::ModuleState moduleOf(const std::vector<McuBus::Byte>& bytes);

// One line of the decoded log: "      6.29  VIOLATION 0x24  C/D setup 40 ns, needs >= 100 ns".
struct LogLine {
  double microseconds = 0;
  std::string kind;
  std::uint8_t byte = 0;
  std::string text;
};
// The log's entry lines (those that start with a time), in order.
std::vector<LogLine> entryLines(const std::string& log);
std::vector<LogLine> linesOfKind(const std::string& log, const std::string& kind);

// Nanoseconds from the first sample, rounded: comparable across rates.
std::int64_t nanosecondsAt(std::uint64_t sample, std::uint64_t rate);

}  // namespace replay_test
