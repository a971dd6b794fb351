// Decoding the bus trace into the bus log and line levels (see bus_decoder.h).
#include "t6963/bus_decoder.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string_view>

#include "t6963/port_lines.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

namespace cmd = t6963c::cmd;
namespace ctl = t6963c::ctl;
namespace line = t6963c::line;
namespace sta = t6963c::sta;

constexpr std::size_t LogTimeBytes = 32;

// The log time of `at` (appendLogTime), written into the end of `text`.
std::string_view logTime(char (&text)[LogTimeBytes], std::uint64_t at, const LogTimeBase& time) {
  __extension__ typedef unsigned __int128 Wide;  // ticks times 10^15, beyond 64 bits
  const auto decimals = static_cast<std::size_t>(time.decimals);
  std::uint64_t scale = 1'000'000;  // units of 10^-decimals µs per second
  for (std::size_t i = 0; i < decimals; ++i) scale *= 10;
  const std::uint64_t ticks = at - time.origin;
  const std::uint64_t half = time.ticksPerSecond / 2;
  std::uint64_t scaled = 0;
  std::uint64_t units = __builtin_mul_overflow(ticks, scale, &scaled) || scaled > ~std::uint64_t{0} - half
                            ? static_cast<std::uint64_t>((Wide{ticks} * scale + half) / time.ticksPerSecond)
                            : (scaled + half) / time.ticksPerSecond;
  // From the last digit: the decimals, the point, the whole microseconds.
  char* const end = text + LogTimeBytes;
  char* first = end;
  for (std::size_t i = 0; i < decimals; ++i, units /= 10) *--first = static_cast<char>('0' + units % 10);
  if (decimals > 0) *--first = '.';
  do {
    *--first = static_cast<char>('0' + units % 10);
    units /= 10;
  } while (units != 0);
  return {first, static_cast<std::size_t>(end - first)};
}

// Without printf: a replayed capture's log formats one or more per byte.
constexpr char HexDigits[] = "0123456789ABCDEF";

std::string hex2(unsigned value) { return {'0', 'x', HexDigits[value >> 4 & 0xFU], HexDigits[value & 0xFU]}; }

// "auto write 0x4D": `prefix` and the byte, made at its length in one go.
template <std::size_t PrefixBytes>
std::string withByte(const char (&prefix)[PrefixBytes], std::uint8_t byte) {
  constexpr std::size_t Length = PrefixBytes - 1;
  std::string text(Length + 4, 'x');
  std::copy_n(prefix, Length, text.begin());
  text[Length] = '0';
  text[Length + 2] = HexDigits[byte >> 4];
  text[Length + 3] = HexDigits[byte & 0xFU];
  return text;
}

std::string hex4(unsigned value) {
  return {'0', 'x', HexDigits[value >> 12 & 0xFU], HexDigits[value >> 8 & 0xFU], HexDigits[value >> 4 & 0xFU],
          HexDigits[value & 0xFU]};
}

unsigned word(std::uint8_t low, std::uint8_t high) { return low | unsigned{high} << 8; }

std::string modeSetText(std::uint8_t opcode) {
  std::string text = "mode set: ";
  switch (opcode & cmd::ModeCombineMask) {
    case cmd::ModeOr: text += "OR"; break;
    case cmd::ModeExor: text += "EXOR"; break;
    case cmd::ModeAnd: text += "AND"; break;
    case cmd::ModeTextAttribute: text += "text attribute"; break;
    default: text += "undefined combine code " + std::to_string(opcode & cmd::ModeCombineMask); break;
  }
  return text + ((opcode & cmd::ModeExternalCg) != 0 ? ", external CG RAM" : ", internal CG ROM");
}

std::string displayModeText(std::uint8_t opcode) {
  std::string layers;
  const auto add = [&](std::uint8_t flag, const char* name) {
    if ((opcode & flag) == 0) return;
    if (!layers.empty()) layers += ", ";
    layers += name;
  };
  add(cmd::DisplayTextOn, "text");
  add(cmd::DisplayGraphicOn, "graphics");
  add(cmd::DisplayCursorOn, "cursor");
  add(cmd::DisplayCursorBlink, "blink");
  return "display mode: " + (layers.empty() ? std::string("off") : layers);
}

// The port's registers as far as the trace has shown them.
struct PortRegisters {
  std::optional<std::uint8_t> control;
  std::optional<std::uint8_t> latch;
  std::optional<std::uint8_t> ecr;

  static PortRegisters atStart(const TraceCopy& trace) {
    if (!trace.wholeHistory()) return {};
    const BusState powerOn;
    return {idleControl(trace.build.cable), powerOn.dataLatch, powerOn.ecr};
  }

  void apply(const BusRecord& record) {
    switch (record.access()) {
      case BusAccess::DataWrite: latch = record.value; break;
      case BusAccess::ControlWrite:
      case BusAccess::ControlRead: control = record.value; break;  // reads back what matters
      case BusAccess::EcrWrite:
      case BusAccess::EcrRead: ecr = record.value; break;          // reads back its mode
      default: break;
    }
  }

  std::optional<bool> portDrives() const {
    if (control && (*control & ctl::DirInput) == 0) return true;
    if (!control || !ecr) return std::nullopt;
    return t6963::portDrives(*control, *ecr);
  }

  // The byte a write cycle strobes in with these registers, if known.
  std::optional<std::uint8_t> lines() const {
    const auto drives = portDrives();
    if (!drives) return std::nullopt;
    return *drives ? latch : std::optional<std::uint8_t>(FloatingLines);
  }
};

bool refusesByte(ViolationKind kind) {
  return kind == ViolationKind::WriteWhileBusy || kind == ViolationKind::UnknownCommand ||
         kind == ViolationKind::CommandInAutoMode;
}

bool answered(std::uint8_t status) {
  return (status & sta::Ready) == sta::Ready || (status & (sta::AutoWriteOk | sta::AutoReadOk)) != 0;
}

// Turns a port trace's records into the builder's cycles, through the module's cable.
class PortTraceReader {
 public:
  explicit PortTraceReader(const TraceCopy& trace)
      : registers_(PortRegisters::atStart(trace)), cable_(cableTable(trace.build.cable)) {}

  void step(std::uint64_t access, const BusRecord& record) {
    const PortRegisters before = registers_;
    registers_.apply(record);
    // After an unanswered wait, control writes and reads and data reads may still begin the
    // next poll; anything else ends the wait.
    const BusAccess kind = record.access();
    if (kind != BusAccess::ControlWrite && kind != BusAccess::ControlRead && kind != BusAccess::DataRead) {
      log_.waitEnds(access);
    }
    if (kind == BusAccess::ControlWrite && before.control && (lines(*before.control) & line::Ce) != 0 &&
        (lines(record.value) & line::Ce) == 0) {
      log_.chipReleased(access);
    }
    if (record.strobedIn()) {
      strobe(access, record, before);
    } else if (record.hasViolation()) {
      log_.violation(access, record.violation(), violationByte(record));
    } else if (kind == BusAccess::DataRead) {
      read(access, record.value);
    }
  }

  std::vector<BusLogEntry> finish() { return log_.finish(); }

 private:
  std::uint8_t lines(std::uint8_t control) const { return cable_[control & line::ControlBits]; }

  std::uint8_t violationByte(const BusRecord& record) const {
    return record.access() == BusAccess::DataRead ? record.value : registers_.latch.value_or(0);
  }

  void strobe(std::uint64_t access, const BusRecord& record, const PortRegisters& during) {
    const auto byte = during.lines();
    if (!during.control || !byte) return;  // the cycle began before the trace
    const bool command = (lines(*during.control) & line::Cd) != 0;
    const bool refused = record.hasViolation() && refusesByte(record.violation());
    log_.written(access, command, *byte, refused ? std::optional(record.violation()) : std::nullopt);
    if (record.hasViolation() && !refused) log_.violation(access, record.violation(), violationByte(record));
  }

  // A read of the data register; only a read cycle with the port listening is bus traffic.
  void read(std::uint64_t access, std::uint8_t value) {
    const auto drives = registers_.portDrives();
    if (!registers_.control || !readCycle(lines(*registers_.control)) || !drives || *drives) return;
    if ((lines(*registers_.control) & line::Cd) != 0) {
      log_.statusRead(access, value);
    } else {
      log_.dataRead(access, value);
    }
  }

  PortRegisters registers_;
  CableTable cable_;
  BusLogBuilder log_;
};

// The kind's name in its column, as wide as the longest.
constexpr std::size_t KindWidth = 9;
const char* paddedKindName(BusLogKind kind) {
  switch (kind) {
    case BusLogKind::Data: return "data     ";
    case BusLogKind::Command: return "command  ";
    case BusLogKind::Read: return "read     ";
    case BusLogKind::Status: return "status   ";
    case BusLogKind::NotReady: return "not ready";
    case BusLogKind::Violation: return "VIOLATION";
  }
  return "?        ";
}

// Who drives the data lines after an access, and with what.
enum class Driver : std::uint8_t { Unknown, Port, Controller, Nobody, Both };

}  // namespace

void BusLogBuilder::add(std::uint64_t at, BusLogKind kind, std::uint8_t byte, std::string text) {
  if (waitGivenUp_) addNotReady();
  entries_.emplace_back(at, kind, byte, polls_, std::move(text));
  polls_ = 0;
}

// One line for the whole wait: its polls, how long they took, what the status said.
void BusLogBuilder::addNotReady() {
  waitGivenUp_ = false;
  const double microseconds =
      static_cast<double>(releaseAt_ - firstPollAt_ + 1) * 1e6 / static_cast<double>(time_.ticksPerSecond);
  char duration[32];
  if (microseconds < 1000) {
    std::snprintf(duration, sizeof duration, "%.0f µs", microseconds);
  } else {
    std::snprintf(duration, sizeof duration, "%.1f ms", microseconds / 1000);
  }
  std::string text = "status " + hex2(lastStatus_) + ": " + describeStatus(lastStatus_) +
                     (sameStatus_ ? " at every poll" : " at the last poll") + " over " + duration +
                     "; the controller never became ready";
  entries_.push_back(BusLogEntry{releaseAt_, BusLogKind::NotReady, lastStatus_, polls_, std::move(text)});
  polls_ = 0;
}

void BusLogBuilder::statusRead(std::uint64_t at, std::uint8_t status) {
  waitGivenUp_ = false;
  if (polls_++ == 0) {
    firstPollAt_ = at;
    sameStatus_ = true;
  } else if (status != lastStatus_) {
    sameStatus_ = false;
  }
  lastStatus_ = status;
  lastPollAt_ = at;
}

void BusLogBuilder::dataRead(std::uint64_t at, std::uint8_t value) {
  add(at, BusLogKind::Read, value,
      autoMode_ == AutoMode::Read ? withByte("auto read ", value) : withByte("read ", value));
}

void BusLogBuilder::chipReleased(std::uint64_t at) {
  if (polls_ == 0 || answered(lastStatus_)) return;
  waitGivenUp_ = true;
  releaseAt_ = at;
}

void BusLogBuilder::waitEnds(std::uint64_t) {
  if (waitGivenUp_) addNotReady();
}

void BusLogBuilder::written(std::uint64_t at, bool command, std::uint8_t byte, std::optional<ViolationKind> refusal) {
  if (refusal) {
    const std::string what = *refusal == ViolationKind::UnknownCommand ? hex2(byte) : (command ? "command " : "data ") + hex2(byte);
    add(at, BusLogKind::Violation, byte, std::string(violationName(*refusal)) + ": " + what + " ignored");
  } else if (command) {
    executed(at, byte);
  } else {
    data(at, byte);
  }
}

void BusLogBuilder::violation(std::uint64_t at, ViolationKind kind, std::uint8_t byte) {
  std::string detail;
  switch (kind) {
    case ViolationKind::BusContention: detail = "port and controller both drive the data lines, port " + hex2(byte); break;
    case ViolationKind::StrobeWithoutCe: detail = "nothing taken, lines " + hex2(byte); break;
    case ViolationKind::ReadWithoutByteMode: detail = "read the port's own latch " + hex2(byte); break;
    default: break;
  }
  std::string text(violationName(kind));
  if (!detail.empty()) text += ": " + detail;
  add(at, BusLogKind::Violation, byte, std::move(text));
}

void BusLogBuilder::note(std::uint64_t at, BusLogKind kind, std::uint8_t byte, std::string text) {
  add(at, kind, byte, std::move(text));
}

void BusLogBuilder::data(std::uint64_t at, std::uint8_t byte) {
  switch (autoMode_) {
    case AutoMode::Write: add(at, BusLogKind::Data, byte, withByte("auto write ", byte)); return;
    case AutoMode::Read: add(at, BusLogKind::Data, byte, "data " + hex2(byte) + ", not taken in auto read"); return;
    case AutoMode::Off: break;
  }
  parameters_[0] = parameters_[1];
  parameters_[1] = byte;
  if (parameterCount_ < 2) ++parameterCount_;
  add(at, BusLogKind::Data, byte, withByte("data ", byte));
}

void BusLogBuilder::executed(std::uint64_t at, std::uint8_t opcode) {
  std::string text = describeCommand(opcode, parameters_[0], parameters_[1]);
  const int needed = autoMode_ == AutoMode::Off ? commandParameterCount(opcode) : 0;
  if (parameterCount_ < needed) {
    text += " (" + std::to_string(parameterCount_) + " of " + std::to_string(needed) + " data bytes sent)";
  }
  if (opcode == cmd::AutoWrite) autoMode_ = AutoMode::Write;
  if (opcode == cmd::AutoRead) autoMode_ = AutoMode::Read;
  if (opcode == cmd::AutoReset) autoMode_ = AutoMode::Off;
  parameterCount_ = 0;
  add(at, BusLogKind::Command, opcode, std::move(text));
}

// The next entries go to a vector as large as this one: a long log is taken out often.
std::vector<BusLogEntry> BusLogBuilder::takeEntries() {
  std::vector<BusLogEntry> next;
  next.reserve(entries_.capacity());
  return std::exchange(entries_, std::move(next));
}

std::vector<BusLogEntry> BusLogBuilder::finish() {
  if (waitGivenUp_) {
    addNotReady();
  } else if (polls_ > 0) {
    add(lastPollAt_, BusLogKind::Status, lastStatus_, "status " + hex2(lastStatus_) + ": " + describeStatus(lastStatus_));
  }
  return std::move(entries_);
}

std::string describeCommand(std::uint8_t opcode, std::uint8_t first, std::uint8_t second) {
  switch (opcode) {
    case cmd::SetCursorPointer:
      return "set cursor pointer X " + std::to_string(first & cmd::CursorXMask) + ", Y " +
             std::to_string(second & cmd::CursorYMask);
    case cmd::SetOffsetRegister: return "set offset register " + hex2(first & cmd::OffsetMask);
    case cmd::SetAddressPointer: return "set address pointer " + hex4(word(first, second));
    case cmd::SetTextHome: return "set text home " + hex4(word(first, second));
    case cmd::SetTextArea: return "set text area " + std::to_string(first) + " bytes per row";
    case cmd::SetGraphicHome: return "set graphic home " + hex4(word(first, second));
    case cmd::SetGraphicArea: return "set graphic area " + std::to_string(first) + " bytes per row";
    case cmd::AutoWrite: return "auto write on";
    case cmd::AutoRead: return "auto read on";
    case cmd::AutoReset: return "auto reset";
    case cmd::WriteIncrement: return "write " + hex2(second) + " and advance";
    case cmd::WriteDecrement: return "write " + hex2(second) + " and go back";
    case cmd::WriteNoChange: return "write " + hex2(second) + " in place";
    case cmd::ReadIncrement: return "read and advance";
    case cmd::ReadDecrement: return "read and go back";
    case cmd::ReadNoChange: return "read in place";
    case cmd::ScreenPeek: return "screen peek";
    case cmd::ScreenCopy: return "screen copy";
    default: break;
  }
  const std::uint8_t family = opcode & cmd::FamilyMask;
  if (family == cmd::ModeSet) return modeSetText(opcode);
  if (family == cmd::DisplayMode) return displayModeText(opcode);
  const unsigned low = opcode & cmd::CursorLinesMask;
  if ((opcode & ~cmd::CursorLinesMask) == cmd::CursorPattern) {
    return "cursor pattern: " + std::to_string(low + 1) + (low == 0 ? " line" : " lines");
  }
  if ((opcode & ~cmd::BitNumberMask) == cmd::BitReset) return "bit reset " + std::to_string(low);
  if ((opcode & ~cmd::BitNumberMask) == cmd::BitSet) return "bit set " + std::to_string(low);
  return "unknown command";
}

int commandParameterCount(std::uint8_t opcode) {
  switch (opcode) {
    case cmd::SetCursorPointer:
    case cmd::SetOffsetRegister:
    case cmd::SetAddressPointer:
    case cmd::SetTextHome:
    case cmd::SetTextArea:
    case cmd::SetGraphicHome:
    case cmd::SetGraphicArea: return 2;
    case cmd::WriteIncrement:
    case cmd::WriteDecrement:
    case cmd::WriteNoChange: return 1;
    default: return 0;
  }
}

std::string describeStatus(std::uint8_t status) {
  std::string text = (status & sta::AutoWriteOk) != 0       ? "auto write ready"
                     : (status & sta::AutoReadOk) != 0        ? "auto read ready"
                     : (status & sta::Ready) == sta::Ready    ? "ready"
                                                              : "busy";
  if ((status & sta::PeekCopyError) != 0) text += ", peek/copy error";
  return text;
}

std::vector<BusLogEntry> decodeBusLog(const TraceCopy& trace) {
  PortTraceReader reader(trace);
  for (std::size_t i = 0; i < trace.records.size(); ++i) reader.step(trace.firstAccess + i, trace.records[i]);
  return reader.finish();
}

std::string busLogHeader(const TraceCopy& trace) {
  if (trace.records.empty()) return "no port accesses recorded yet";
  const std::string range = "accesses " + std::to_string(trace.firstAccess) + " to " +
                            std::to_string(trace.firstAccess + trace.records.size() - 1);
  return trace.wholeHistory() ? range + ", the whole history" : range + "; older accesses were overwritten";
}

std::string moduleHeader(const ModuleBuild& build) { return "module " + describe(build); }

void appendLogTime(std::string& out, std::uint64_t at, const LogTimeBase& time) {
  char text[LogTimeBytes];
  out.append(logTime(text, at, time));
}

void appendBusLogEntry(std::string& out, const BusLogEntry& entry, const LogTimeBase& time) {
  constexpr std::size_t TimeWidth = 12;
  // Time, kind and byte in their columns, put together before one append: a long log appends
  // a line per byte. The time ends its buffer, spaces before it.
  char stamp[LogTimeBytes];
  std::fill_n(stamp, LogTimeBytes, ' ');
  const std::string_view at = logTime(stamp, entry.at, time);
  char head[LogTimeBytes + 2 + KindWidth + 7];
  char* end = at.size() <= TimeWidth ? std::copy_n(stamp + LogTimeBytes - TimeWidth, TimeWidth, head)
                                     : std::copy(at.begin(), at.end(), head);
  end = std::copy_n(paddedKindName(entry.kind), KindWidth, std::fill_n(end, 2, ' '));
  const char byte[] = {' ', '0', 'x', HexDigits[entry.byte >> 4], HexDigits[entry.byte & 0xFU], ' ', ' '};
  end = std::copy_n(byte, sizeof byte, end);
  out.append(head, static_cast<std::size_t>(end - head)).append(entry.text);
  if (entry.polls > 0) out.append(" [").append(std::to_string(entry.polls)).append(entry.polls == 1 ? " poll]" : " polls]");
}

std::string formatBusLogEntry(const BusLogEntry& entry, const LogTimeBase& time) {
  std::string line;
  appendBusLogEntry(line, entry, time);
  return line;
}

std::string formatBusLog(const TraceCopy& trace) {
  std::string text = busLogHeader(trace) + '\n' + moduleHeader(trace.build) + '\n';
  for (const auto& entry : decodeBusLog(trace)) text += formatBusLogEntry(entry) + '\n';
  return text;
}

const char* lineName(Line line) {
  static constexpr const char* Names[LineCount] = {"D0",  "D1",  "D2",  "D3",  "D4",  "D5", "D6",
                                                   "D7",  "/WR", "/RD", "/CE", "C/D", "DIR"};
  return Names[static_cast<std::size_t>(line)];
}

std::vector<LineLevels> decodeLineLevels(const TraceCopy& trace) {
  const std::size_t steps = trace.records.size() + 1;
  std::vector<LineLevels> levels(steps);
  std::vector<Driver> drivers(steps);
  std::vector<std::optional<std::uint8_t>> data(steps);  // the data lines' value, if known

  PortRegisters registers = PortRegisters::atStart(trace);
  const CableTable cable = cableTable(trace.build.cable);
  for (std::size_t step = 0; step < steps; ++step) {
    if (step > 0) registers.apply(trace.records[step - 1]);
    LineLevels& now = levels[step];
    now.fill(Level::Unknown);
    const auto drives = registers.portDrives();
    if (registers.control) {
      const std::uint8_t active = cable[*registers.control & line::ControlBits];
      const auto pin = [](bool high) { return high ? Level::High : Level::Low; };
      now[static_cast<std::size_t>(Line::Wr)] = pin((active & line::Wr) == 0);
      now[static_cast<std::size_t>(Line::Rd)] = pin((active & line::Rd) == 0);
      now[static_cast<std::size_t>(Line::Ce)] = pin((active & line::Ce) == 0);
      now[static_cast<std::size_t>(Line::Cd)] = pin((active & line::Cd) != 0);
      if (drives) now[static_cast<std::size_t>(Line::PortInput)] = pin(!*drives);
      const bool controller = readCycle(active);
      if (!drives) {
        drivers[step] = Driver::Unknown;
      } else if (*drives) {
        drivers[step] = controller ? Driver::Both : Driver::Port;
        if (!controller) data[step] = registers.latch;
      } else if (controller) {
        drivers[step] = Driver::Controller;
        const BusRecord* last = step > 0 ? &trace.records[step - 1] : nullptr;
        if (last != nullptr && last->access() == BusAccess::DataRead) data[step] = last->value;
      } else {
        drivers[step] = Driver::Nobody;
      }
    }
  }

  // In each stretch the controller drives, the lines hold the value of the latest read in
  // it, and before its first read already that read's value.
  for (std::size_t step = 1; step < steps; ++step) {
    if (drivers[step] == Driver::Controller && !data[step] && drivers[step - 1] == Driver::Controller) {
      data[step] = data[step - 1];
    }
  }
  for (std::size_t step = steps - 1; step-- > 0;) {
    if (drivers[step] == Driver::Controller && !data[step] && drivers[step + 1] == Driver::Controller) {
      data[step] = data[step + 1];
    }
  }

  for (std::size_t step = 0; step < steps; ++step) {
    for (std::size_t bit = 0; bit < 8; ++bit) {
      Level level = Level::Unknown;
      if (drivers[step] == Driver::Nobody) {
        level = Level::Floating;
      } else if (data[step]) {
        level = ((unsigned{*data[step]} >> bit) & 1U) != 0 ? Level::High : Level::Low;
      }
      levels[step][bit] = level;
    }
  }
  return levels;
}

}  // namespace t6963
