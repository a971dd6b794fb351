// The bus trace (bus_trace.h) in the controller's terms: the one place where recorded port
// accesses become data bytes, commands with their parameters, status polls, data reads and
// protocol violations (the viewer's bus log, `lcdview --log`), and levels of the
// controller's lines (the waveform export). Tests read both.
//
// The decoder replays the port registers from the accesses. A trace that holds the whole
// history starts from the port's power-on registers; a trace whose oldest records were
// overwritten starts with the registers unknown, and each becomes known at its first write
// (or read back): until then, bytes strobed in are left out of the log and lines show as
// unknown. The controller's own state (parameters, auto mode) is followed from the commands
// in the trace; at the start of an overwritten trace it is taken as normal mode with both
// parameters present. Leaves out: power cycles (they are not port accesses), and a module
// that was disconnected (its lines are shown as if it drove them).
#pragma once

#include <array>
#include <cstdint>
#include <string>
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
  std::uint64_t access = 0;  // record number in the trace
  BusLogKind kind = BusLogKind::Data;
  std::uint8_t byte = 0;     // the byte on the lines (Status, NotReady: the last status read)
  std::uint32_t polls = 0;   // status reads since the previous entry, folded into this one
  std::string text;
};

// Time in the log (how long a wait went unanswered) is counted in port accesses of a real
// port, as in the waveform export: one microsecond each.
inline constexpr double AccessMicroseconds = 1.0;

std::vector<BusLogEntry> decodeBusLog(const TraceCopy& trace);

// "accesses 1 to 5200, the whole history" or "accesses 900001 to 2997152; older accesses
// were overwritten".
std::string busLogHeader(const TraceCopy& trace);
// One line, no newline: access, kind, byte, text, folded polls.
std::string formatBusLogEntry(const BusLogEntry& entry);
// The header and every entry, one per line.
std::string formatBusLog(const TraceCopy& trace);

// The controller's lines at the module's connector side: data lines, strobes and C/D at
// their pin levels (/WR, /RD and /CE are active low), and the port's data direction.
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
