// Decoding the bus trace into the bus log and line levels (see bus_decoder.h).
#include "t6963/bus_decoder.h"

#include <cstdio>
#include <optional>

#include "t6963/port_lines.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

namespace cmd = t6963c::cmd;
namespace ctl = t6963c::ctl;
namespace sta = t6963c::sta;

std::string hex2(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFU);
  return text;
}

std::string hex4(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value & 0xFFFFU);
  return text;
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
    return {powerOn.control, powerOn.dataLatch, powerOn.ecr};
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

class LogDecoder {
 public:
  explicit LogDecoder(const TraceCopy& trace) : registers_(PortRegisters::atStart(trace)) {}

  void step(std::uint64_t access, const BusRecord& record) {
    const PortRegisters before = registers_;
    registers_.apply(record);
    // After an unanswered wait, control writes and reads may still begin the next poll;
    // anything else ends the wait.
    if (waitGivenUp_ && record.access() != BusAccess::ControlWrite && record.access() != BusAccess::DataRead) {
      addNotReady();
    }
    if (record.access() == BusAccess::ControlWrite && polls_ > 0 && !answered(lastStatus_) && before.control &&
        (*before.control & ctl::Ce) != 0 && (record.value & ctl::Ce) == 0) {
      waitGivenUp_ = true;
      releaseAccess_ = access;
    }
    if (record.strobedIn()) {
      strobe(access, record, before);
    } else if (record.hasViolation()) {
      violation(access, record.violation(), violationByte(record));
    } else if (record.access() == BusAccess::DataRead) {
      read(access, record.value);
    }
  }

  std::vector<BusLogEntry> finish() {
    if (waitGivenUp_) {
      addNotReady();
    } else if (polls_ > 0) {
      add(lastPollAccess_, BusLogKind::Status, lastStatus_,
          "status " + hex2(lastStatus_) + ": " + describeStatus(lastStatus_));
    }
    return std::move(entries_);
  }

 private:
  enum class AutoMode { Off, Write, Read };

  static bool answered(std::uint8_t status) {
    return (status & sta::Ready) == sta::Ready || (status & (sta::AutoWriteOk | sta::AutoReadOk)) != 0;
  }

  void add(std::uint64_t access, BusLogKind kind, std::uint8_t byte, std::string text) {
    if (waitGivenUp_) addNotReady();
    entries_.push_back(BusLogEntry{access, kind, byte, polls_, std::move(text)});
    polls_ = 0;
  }

  // One line for the whole wait: its polls, how long they took, what the status said.
  void addNotReady() {
    waitGivenUp_ = false;
    const double microseconds = static_cast<double>(releaseAccess_ - firstPollAccess_ + 1) * AccessMicroseconds;
    char duration[32];
    if (microseconds < 1000) {
      std::snprintf(duration, sizeof duration, "%.0f µs", microseconds);
    } else {
      std::snprintf(duration, sizeof duration, "%.1f ms", microseconds / 1000);
    }
    std::string text = "status " + hex2(lastStatus_) + ": " + describeStatus(lastStatus_) +
                       (sameStatus_ ? " at every poll" : " at the last poll") + " over " + duration +
                       "; the controller never became ready";
    entries_.push_back(BusLogEntry{releaseAccess_, BusLogKind::NotReady, lastStatus_, polls_, std::move(text)});
    polls_ = 0;
  }

  std::uint8_t violationByte(const BusRecord& record) const {
    return record.access() == BusAccess::DataRead ? record.value : registers_.latch.value_or(0);
  }

  void violation(std::uint64_t access, ViolationKind kind, std::uint8_t byte) {
    std::string detail;
    switch (kind) {
      case ViolationKind::BusContention:
        detail = "port and controller both drive the data lines, port " + hex2(byte);
        break;
      case ViolationKind::StrobeWithoutCe: detail = "nothing taken, lines " + hex2(byte); break;
      case ViolationKind::ReadWithoutByteMode: detail = "read the port's own latch " + hex2(byte); break;
      default: break;
    }
    std::string text(violationName(kind));
    if (!detail.empty()) text += ": " + detail;
    add(access, BusLogKind::Violation, byte, std::move(text));
  }

  void strobe(std::uint64_t access, const BusRecord& record, const PortRegisters& during) {
    const auto byte = during.lines();
    if (!during.control || !byte) return;  // the cycle began before the trace
    const bool command = (*during.control & ctl::Cd) != 0;
    if (record.hasViolation() && refusesByte(record.violation())) {
      const ViolationKind kind = record.violation();
      const std::string what = kind == ViolationKind::UnknownCommand ? hex2(*byte)
                                                                      : (command ? "command " : "data ") + hex2(*byte);
      add(access, BusLogKind::Violation, *byte, std::string(violationName(kind)) + ": " + what + " ignored");
      return;
    }
    if (command) {
      executed(access, *byte);
    } else {
      data(access, *byte);
    }
    if (record.hasViolation()) violation(access, record.violation(), violationByte(record));
  }

  void data(std::uint64_t access, std::uint8_t byte) {
    switch (autoMode_) {
      case AutoMode::Write: add(access, BusLogKind::Data, byte, "auto write " + hex2(byte)); return;
      case AutoMode::Read:
        add(access, BusLogKind::Data, byte, "data " + hex2(byte) + ", not taken in auto read");
        return;
      case AutoMode::Off: break;
    }
    parameters_[0] = parameters_[1];
    parameters_[1] = byte;
    if (parameterCount_ < 2) ++parameterCount_;
    add(access, BusLogKind::Data, byte, "data " + hex2(byte));
  }

  void executed(std::uint64_t access, std::uint8_t opcode) {
    std::string text = describeCommand(opcode, parameters_[0], parameters_[1]);
    const int needed = autoMode_ == AutoMode::Off ? commandParameterCount(opcode) : 0;
    if (parameterCount_ < needed) {
      text += " (" + std::to_string(parameterCount_) + " of " + std::to_string(needed) + " data bytes sent)";
    }
    if (opcode == cmd::AutoWrite) autoMode_ = AutoMode::Write;
    if (opcode == cmd::AutoRead) autoMode_ = AutoMode::Read;
    if (opcode == cmd::AutoReset) autoMode_ = AutoMode::Off;
    parameterCount_ = 0;
    add(access, BusLogKind::Command, opcode, std::move(text));
  }

  // A read of the data register; only a read cycle with the port listening is bus traffic.
  void read(std::uint64_t access, std::uint8_t value) {
    const auto drives = registers_.portDrives();
    if (!registers_.control || !readCycle(*registers_.control) || !drives || *drives) return;
    if ((*registers_.control & ctl::Cd) != 0) {
      waitGivenUp_ = false;
      if (polls_++ == 0) {
        firstPollAccess_ = access;
        sameStatus_ = true;
      } else if (value != lastStatus_) {
        sameStatus_ = false;
      }
      lastStatus_ = value;
      lastPollAccess_ = access;
      return;
    }
    add(access, BusLogKind::Read, value, (autoMode_ == AutoMode::Read ? "auto read " : "read ") + hex2(value));
  }

  PortRegisters registers_;
  std::array<std::uint8_t, 2> parameters_{};
  int parameterCount_ = 2;
  AutoMode autoMode_ = AutoMode::Off;
  std::uint32_t polls_ = 0;
  std::uint8_t lastStatus_ = 0;
  std::uint64_t lastPollAccess_ = 0;
  std::uint64_t firstPollAccess_ = 0;
  bool sameStatus_ = true;
  // The polls so far never showed ready and then /CE was released at releaseAccess_.
  bool waitGivenUp_ = false;
  std::uint64_t releaseAccess_ = 0;
  std::vector<BusLogEntry> entries_;
};

const char* kindName(BusLogKind kind) {
  switch (kind) {
    case BusLogKind::Data: return "data";
    case BusLogKind::Command: return "command";
    case BusLogKind::Read: return "read";
    case BusLogKind::Status: return "status";
    case BusLogKind::NotReady: return "not ready";
    case BusLogKind::Violation: return "VIOLATION";
  }
  return "?";
}

// Who drives the data lines after an access, and with what.
enum class Driver : std::uint8_t { Unknown, Port, Controller, Nobody, Both };

}  // namespace

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
  LogDecoder decoder(trace);
  for (std::size_t i = 0; i < trace.records.size(); ++i) decoder.step(trace.firstAccess + i, trace.records[i]);
  return decoder.finish();
}

std::string busLogHeader(const TraceCopy& trace) {
  if (trace.records.empty()) return "no port accesses recorded yet";
  const std::string range = "accesses " + std::to_string(trace.firstAccess) + " to " +
                            std::to_string(trace.firstAccess + trace.records.size() - 1);
  return trace.wholeHistory() ? range + ", the whole history" : range + "; older accesses were overwritten";
}

std::string formatBusLogEntry(const BusLogEntry& entry) {
  char head[48];
  std::snprintf(head, sizeof head, "%12llu  %-9s %s  ", static_cast<unsigned long long>(entry.access),
                kindName(entry.kind), hex2(entry.byte).c_str());
  std::string line = head + entry.text;
  if (entry.polls > 0) line += " [" + std::to_string(entry.polls) + (entry.polls == 1 ? " poll]" : " polls]");
  return line;
}

std::string formatBusLog(const TraceCopy& trace) {
  std::string text = busLogHeader(trace) + '\n';
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
  for (std::size_t step = 0; step < steps; ++step) {
    if (step > 0) registers.apply(trace.records[step - 1]);
    LineLevels& line = levels[step];
    line.fill(Level::Unknown);
    const auto drives = registers.portDrives();
    if (registers.control) {
      const std::uint8_t c = *registers.control;
      const auto pin = [](bool high) { return high ? Level::High : Level::Low; };
      line[static_cast<std::size_t>(Line::Wr)] = pin((c & ctl::Wr) == 0);
      line[static_cast<std::size_t>(Line::Rd)] = pin((c & ctl::Rd) == 0);
      line[static_cast<std::size_t>(Line::Ce)] = pin((c & ctl::Ce) == 0);
      line[static_cast<std::size_t>(Line::Cd)] = pin((c & ctl::Cd) != 0);
      if (drives) line[static_cast<std::size_t>(Line::PortInput)] = pin(!*drives);
      const bool controller = readCycle(c);
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
