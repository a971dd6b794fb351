// A T6963C bus in the controller's terms: the one place where bus cycles become data bytes,
// commands with their parameters, status polls folded into waits, data reads and protocol
// violations (the viewer's bus log, `lcdview --log`, a replayed capture's log), and where the
// bus trace (bus_trace.h) becomes levels of the controller's lines (the waveform export).
//
// Two layers. BusLogBuilder takes the cycles of any front end, at positions of its own (the
// records of a port trace, the samples of a capture), and keeps the log; decodeBusLog()
// feeds it from a port trace. That replays the port registers from the accesses and turns
// control writes into the controller's lines through the module's cable. A trace that holds
// the whole history starts from the port's power-on registers; a trace whose oldest records
// were overwritten starts with the registers unknown, and each becomes known at its first
// write (or read back): until then, bytes strobed in are left out of the log and lines show
// as unknown. The controller's own state (parameters, auto mode) is followed from the
// commands; at the start it is taken as normal mode with both parameters present. Leaves
// out: power cycles (they are not port accesses), and a module that was disconnected (its
// lines are shown as if it drove them).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "t6963/bus_trace.h"

namespace t6963 {

// "set address pointer 0x0200", "display mode: text, graphics, cursor, blink", ...: a
// command byte with the last two data bytes before it (`first` older, `second` newest), as
// the controller takes them. Bytes the controller does not decode give "unknown command".
std::string describeCommand(std::uint8_t opcode, std::uint8_t first, std::uint8_t second);
// The data bytes the command takes (0, 1 or 2).
int commandParameterCount(std::uint8_t opcode);
// "ready", "busy", "auto write ready", "auto read ready", with ", peek/copy error".
std::string describeStatus(std::uint8_t status);

enum class BusLogKind : std::uint8_t {
  Data,       // a data byte the controller took
  Command,    // a command the controller executed
  Read,       // a data read cycle: the byte the controller drove
  Status,     // status polls not followed by anything else (the end of the trace)
  NotReady,   // a wait given up: status polls that never showed ready, then /CE released
  Violation,  // a protocol violation, including bytes the controller refused
};

struct BusLogEntry {
  std::uint64_t at = 0;      // where: the record number in a port trace, the sample in a capture
  BusLogKind kind = BusLogKind::Data;
  std::uint8_t byte = 0;     // the byte on the lines (Status, NotReady: the last status read)
  std::uint32_t polls = 0;   // status reads since the previous entry, folded into this one
  std::string text;
};

// How a log's positions read as time. A port trace counts port accesses of a real port, as
// the waveform export does: one microsecond each. A capture counts samples.
struct LogTimeBase {
  std::uint64_t ticksPerSecond = 1'000'000;
  int decimals = 0;            // of the microseconds printed, at most 9
  std::uint64_t origin = 0;    // the position printed as time 0
};
inline constexpr LogTimeBase PortTraceTime{};

// The microseconds from the origin to `at`, rounded half up to the time base's decimals:
// "6.29", computed in integers.
void appendLogTime(std::string& out, std::uint64_t at, const LogTimeBase& time);

// The log of one bus, fed in the order things happened on it.
class BusLogBuilder {
 public:
  explicit BusLogBuilder(const LogTimeBase& time = PortTraceTime) : time_(time) {}

  // A status read cycle that read `status`: folded into the next entry, or into a wait.
  void statusRead(std::uint64_t at, std::uint8_t status);
  // A data read cycle: the byte the controller drove.
  void dataRead(std::uint64_t at, std::uint8_t value);
  // /CE released: after status reads that never showed ready, the wait was given up.
  void chipReleased(std::uint64_t at);
  // Something that cannot continue a given-up wait with another poll: the wait ends there.
  void waitEnds(std::uint64_t at);
  // A write cycle (C/D high: a command) the controller took, or refused for `refusal`
  // (WriteWhileBusy, UnknownCommand, CommandInAutoMode).
  void written(std::uint64_t at, bool command, std::uint8_t byte, std::optional<ViolationKind> refusal = {});
  // A protocol violation that refuses nothing; `byte` is the one involved.
  void violation(std::uint64_t at, ViolationKind kind, std::uint8_t byte);
  // A front end's own line (a timing violation of a capture, a finding): text as given.
  void note(std::uint64_t at, BusLogKind kind, std::uint8_t byte, std::string text);

  // The entries complete so far, taken out: a long log is written as it grows. Polls and a
  // wait not yet ended stay for later entries.
  std::vector<BusLogEntry> takeEntries();
  // The entries not yet taken, and a wait or polls still open at the end.
  std::vector<BusLogEntry> finish();

 private:
  enum class AutoMode : std::uint8_t { Off, Write, Read };

  void add(std::uint64_t at, BusLogKind kind, std::uint8_t byte, std::string text);
  void addNotReady();
  void data(std::uint64_t at, std::uint8_t byte);
  void executed(std::uint64_t at, std::uint8_t opcode);

  LogTimeBase time_;
  std::array<std::uint8_t, 2> parameters_{};
  int parameterCount_ = 2;
  AutoMode autoMode_ = AutoMode::Off;
  std::uint32_t polls_ = 0;
  std::uint8_t lastStatus_ = 0;
  std::uint64_t lastPollAt_ = 0;
  std::uint64_t firstPollAt_ = 0;
  bool sameStatus_ = true;
  // The polls so far never showed ready and then /CE was released at releaseAt_.
  bool waitGivenUp_ = false;
  std::uint64_t releaseAt_ = 0;
  std::vector<BusLogEntry> entries_;
};

std::vector<BusLogEntry> decodeBusLog(const TraceCopy& trace);

// "accesses 1 to 5200, the whole history" or "accesses 900001 to 2997152; older accesses
// were overwritten".
std::string busLogHeader(const TraceCopy& trace);
// "module 240x64 6x8 8K, cable WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN"
std::string moduleHeader(const ModuleBuild& build);
// One line, no newline: time, kind, byte, text, folded polls.
std::string formatBusLogEntry(const BusLogEntry& entry, const LogTimeBase& time = PortTraceTime);
// The same line appended to `out`, for a long log written as it grows.
void appendBusLogEntry(std::string& out, const BusLogEntry& entry, const LogTimeBase& time = PortTraceTime);
// The two header lines and every entry, one per line.
std::string formatBusLog(const TraceCopy& trace);

// The controller's lines at the module's pins, after the cable: data lines, strobes and C/D
// at their levels (/WR, /RD and /CE are active low), and the port's data direction.
enum class Line : std::uint8_t { D0, D1, D2, D3, D4, D5, D6, D7, Wr, Rd, Ce, Cd, PortInput };
inline constexpr std::size_t LineCount = 13;
// "D0" .. "D7", "/WR", "/RD", "/CE", "C/D", "DIR" (1: the port reads the data lines).
const char* lineName(Line line);

// Unknown: not yet known from the trace, or driven by both sides. Floating: nobody drives.
enum class Level : char { Low = '0', High = '1', Unknown = 'x', Floating = 'z' };
using LineLevels = std::array<Level, LineCount>;  // indexed by Line

// Levels before the first record (element 0) and after each record (element i + 1). While
// the controller drives the data lines in a read cycle, they show what the port read in
// that cycle, from its start (unknown if the cycle had no read).
std::vector<LineLevels> decodeLineLevels(const TraceCopy& trace);

}  // namespace t6963
