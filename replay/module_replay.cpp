// The replayed module and its log (see module_replay.h).
#include "replay/module_replay.h"

#include <cmath>
#include <cstdio>

#include "t6963/t6963c.h"

namespace replay {
namespace {

namespace cmd = t6963c::cmd;
namespace sta = t6963c::sta;
using t6963::BusLogKind;
using t6963::ViolationKind;

// The power-on garbage of a replayed module: the same for every replay of a capture.
constexpr std::uint64_t PowerOnSeed = 0x6B656C766172690AULL;
constexpr std::uint8_t ReadyBits = sta::Ready | sta::AutoReadOk | sta::AutoWriteOk;
constexpr unsigned EntriesPerDrain = 256;
constexpr std::size_t FlushBytes = std::size_t{1} << 16;
constexpr WideProduct Billion = 1'000'000'000;

std::string decimal(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  std::string result = text;
  if (result.find('.') != std::string::npos) {
    result.erase(result.find_last_not_of('0') + 1);
    if (result.back() == '.') result.pop_back();
  }
  return result == "-0" ? "0" : result;
}

std::string hex(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

WideProduct powerOfTen(int exponent) {
  WideProduct value = 1;
  for (int i = 0; i < exponent; ++i) value *= 10;
  return value;
}

// "C/D D0 D3": the lines of a cycle that were x or z.
std::string undefinedNames(const Cycle& cycle) {
  std::string names = cycle.commandUndefined ? busLineName(BusLine::Cd) : "";
  for (unsigned line = 0; line < 8; ++line) {
    if ((cycle.undefinedData >> line & 1U) == 0) continue;
    if (!names.empty()) names += ' ';
    names += busLineName(static_cast<BusLine>(line));
  }
  return names;
}

std::string timingText(const TimingViolation& violation) {
  const auto& rule = figure(violation.rule);
  std::string text = violation.rule == TimingRule::PulseWidth ? std::string(busLineName(violation.line)) + ' ' : "";
  if (violation.measuredNs < 0) {
    return text + rule.name + ": C/D changed " + formatDuration(-violation.measuredNs) +
           " after the cycle started, needs to be stable >= " + std::to_string(violation.neededNs) + " ns before it";
  }
  return text + rule.name + ' ' + formatDuration(violation.measuredNs) + ", needs >= " +
         std::to_string(violation.neededNs) + " ns";
}

void addKind(std::string& kinds, std::string_view name, std::uint64_t count, std::uint64_t& total) {
  if (count == 0) return;
  if (!kinds.empty()) kinds += ", ";
  kinds.append(name).append(" ").append(std::to_string(count));
  total += count;
}

}  // namespace

int microsecondDecimals(std::uint64_t rate) {
  int decimals = 0;
  for (WideProduct resolved = 1'000'000; resolved < rate; resolved *= 10) ++decimals;
  return decimals;
}

t6963::LogTimeBase captureTime(std::uint64_t rate) { return {rate, microsecondDecimals(rate), 0}; }

std::string formatRate(std::uint64_t rate) {
  const auto value = static_cast<double>(rate);
  if (rate >= 1'000'000'000) return decimal(value / 1e9, 3) + " GHz";
  if (rate >= 1'000'000) return decimal(value / 1e6, 3) + " MHz";
  if (rate >= 1'000) return decimal(value / 1e3, 3) + " kHz";
  return std::to_string(rate) + " Hz";
}

std::string formatDuration(double nanoseconds) {
  if (std::fabs(nanoseconds) >= 1000) return decimal(nanoseconds / 1000, 2) + " µs";
  return decimal(nanoseconds, 2) + " ns";
}

Until parseUntil(std::string_view text) {
  const auto refuse = [&] {
    return CaptureError("--until " + std::string(text) +
                        ": expected a time in microseconds as the log prints it, e.g. --until 6.29");
  };
  const std::size_t point = text.find('.');
  const std::string_view whole = text.substr(0, point);
  const std::string_view fraction = point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
  if (whole.empty() || whole.size() > 12 || fraction.size() > Until::Decimals ||
      (point != std::string_view::npos && fraction.empty())) {
    throw refuse();
  }
  Until until;
  for (const char c : whole) {
    if (c < '0' || c > '9') throw refuse();
    until.units = until.units * 10 + static_cast<unsigned>(c - '0');
  }
  for (int i = 0; i < Until::Decimals; ++i) {
    const char c = i < static_cast<int>(fraction.size()) ? fraction[static_cast<std::size_t>(i)] : '0';
    if (c < '0' || c > '9') throw refuse();
    until.units = until.units * 10 + static_cast<unsigned>(c - '0');
  }
  return until;
}

std::uint64_t lastSampleUntil(const Until& until, std::uint64_t rate) {
  // Printed with d decimals, sample s reads round(s * 10^(6 + d) / rate) units of 10^-d µs;
  // it is not past `until` while that is at most K, the whole units of `until`.
  const int decimals = microsecondDecimals(rate);
  const WideProduct whole = until.units / powerOfTen(Until::Decimals - decimals);
  const WideProduct limit = (2 * whole + 1) * rate;  // s * 2 * 10^(6 + d) < limit
  const WideProduct perSample = 2 * powerOfTen(6 + decimals);
  const WideProduct last = (limit + perSample - 1) / perSample - 1;
  return last > ~std::uint64_t{0} ? ~std::uint64_t{0} : static_cast<std::uint64_t>(last);
}

ModuleReplay::ModuleReplay(const ReplaySetup& setup, std::ostream& out) : setup_(setup), out_(out) {
  for (auto* state : {&model_, &complement_}) {
    state->build = setup.build;
    t6963::setBusyAccesses(*state, setup.busyMicroseconds);
    t6963::powerOn(*state, setup.powerOn, PowerOnSeed, 0);
  }
  for (std::size_t i = 0; i < model_.ram.size(); ++i) complement_.ram[i] = static_cast<std::uint8_t>(~model_.ram[i]);
}

std::uint64_t ModuleReplay::captureBegins(const CaptureInfo& info) {
  rate_ = info.sampleRate;
  time_ = captureTime(rate_);
  log_ = t6963::BusLogBuilder(time_);
  if (setup_.until) lastSample_ = lastSampleUntil(*setup_.until, rate_);
  text_ += t6963::moduleHeader(setup_.build) + '\n';
  text_ += std::string("display RAM before the first sample: ") +
           (setup_.powerOn == t6963::PowerOnContents::Zero ? "zero" : "random") + '\n';
  return lastSample_ == AllSamples ? AllSamples : lastSample_ + 1;
}

void ModuleReplay::unmeasurable(TimingRule rule) {
  text_ += "note: at " + formatRate(rate_) + ", " + figure(rule).plural + " under " +
           formatDuration(1e9 / static_cast<double>(rate_)) + " cannot be measured\n";
}

void ModuleReplay::at(std::uint64_t sample) {
  std::uint64_t product = 0;  // in 64 bits for the first minutes at 100 MHz
  clock_.at = static_cast<t6963::Nanoseconds>(__builtin_mul_overflow(sample, std::uint64_t{Billion}, &product)
                                                  ? static_cast<WideProduct>(sample) * Billion / rate_
                                                  : product / rate_);
}

void ModuleReplay::writeCycle(const Cycle& cycle) {
  busyRun_ = false;
  if (cycle.commandUndefined || cycle.undefinedData != 0) {
    undefinedLines(cycle, true);
    return;
  }
  at(cycle.end);
  const std::uint16_t pointer = model_.controller.addressPointer;
  const auto result = t6963::writeCycle(model_, cycle.command, cycle.byte, true, clock_);
  t6963::writeCycle(complement_, cycle.command, cycle.byte, true, clock_);
  ++(cycle.command ? commandsWritten_ : dataWritten_);
  std::optional<ViolationKind> refusal;
  switch (result) {
    case t6963::WriteResult::Taken: break;
    case t6963::WriteResult::Busy: refusal = ViolationKind::WriteWhileBusy; break;
    case t6963::WriteResult::RejectedInAutoMode: refusal = ViolationKind::CommandInAutoMode; break;
    case t6963::WriteResult::UnknownCommand: refusal = ViolationKind::UnknownCommand; break;
  }
  if (refusal) {
    ++refused_;
    ++protocol_[static_cast<std::size_t>(*refusal)];
    t6963::recordViolation(model_, {model_.bus.accessCount, *refusal, 0, 0, cycle.byte});
  } else {
    // Outside auto read, the read latch holds RAM's byte from a read command to the next
    // byte taken.
    readAddress_.reset();
    if (cycle.command && (cycle.byte == cmd::ReadIncrement || cycle.byte == cmd::ReadDecrement ||
                          cycle.byte == cmd::ReadNoChange)) {
      readAddress_ = pointer;
    }
  }
  log_.written(cycle.end, cycle.command, cycle.byte, refusal);
  drain();
}

void ModuleReplay::readCycle(const Cycle& cycle) {
  if (cycle.commandUndefined || cycle.undefinedData != 0) {
    busyRun_ = false;
    undefinedLines(cycle, false);
    if (!cycle.commandUndefined && !cycle.command) endDataRead();
  } else if (cycle.command) {
    statusRead(cycle);
  } else {
    busyRun_ = false;
    dataRead(cycle);
  }
  drain();
}

void ModuleReplay::statusRead(const Cycle& cycle) {
  ++statusReads_;
  at(cycle.end);
  const bool ready = (cycle.byte & sta::Ready) == sta::Ready || (cycle.byte & (sta::AutoReadOk | sta::AutoWriteOk)) != 0;
  if (ready && t6963::isBusy(model_, clock_)) {
    t6963::endBusy(model_);
    t6963::endBusy(complement_);
  }
  const std::uint8_t expected =
      t6963::statusWord(model_.controller, t6963::isBusy(model_, clock_), t6963::blinkPhaseOn(model_, clock_.at));
  if ((expected & ~cycle.byte & ReadyBits) == 0) {
    busyRun_ = false;
  } else if (!busyRun_) {
    busyRun_ = true;
    ++findings_[static_cast<std::size_t>(Finding::ControllerBusy)];
    note(cycle.end, BusLogKind::Status, cycle.byte,
         "status " + hex(cycle.byte) + ": " + t6963::describeStatus(cycle.byte) + ", where the model says " +
             t6963::describeStatus(expected) + " (" + hex(expected) + ")");
    return;
  }
  log_.statusRead(cycle.end, cycle.byte);
}

void ModuleReplay::dataRead(const Cycle& cycle) {
  ++dataReads_;
  const bool autoRead = model_.controller.autoMode == t6963::AutoMode::Read;
  const std::uint8_t expected = model_.controller.readLatch;
  const auto unknown = static_cast<std::uint8_t>(expected ^ complement_.controller.readLatch);
  if (((cycle.byte ^ expected) & ~unknown) != 0) {
    ++findings_[static_cast<std::size_t>(Finding::ReadDiffers)];
    note(cycle.end, BusLogKind::Read, cycle.byte,
         (autoRead ? "auto read " : "read ") + hex(cycle.byte) + ", where the model has " + hex(expected) +
             (unknown != 0 ? " (bits " + hex(unknown) + " unknown)" : ""));
  } else {
    log_.dataRead(cycle.end, cycle.byte);
  }
  const auto address = autoRead ? std::optional(model_.controller.addressPointer) : readAddress_;
  for (auto* state : {&model_, &complement_}) {
    state->controller.readLatch = cycle.byte;
    if (address) state->ram[*address & state->build.ramMask()] = cycle.byte;
  }
  readAddress_.reset();  // once: a later read of the same latch may no longer be RAM's
  endDataRead();
}

void ModuleReplay::endDataRead() {
  t6963::finishDataRead(model_);
  t6963::finishDataRead(complement_);
}

void ModuleReplay::undefinedLines(const Cycle& cycle, bool write) {
  ++lost_[static_cast<std::size_t>(Lost::UndefinedLines)];
  note(cycle.end, BusLogKind::Violation, cycle.byte,
       "x or z on " + undefinedNames(cycle) +
           (write ? " in a write cycle: the byte is unknown and not replayed"
                  : " in a read cycle: what the controller drove is unknown"));
}

void ModuleReplay::chipReleased(std::uint64_t sample) {
  log_.chipReleased(sample);
}

void ModuleReplay::timingViolation(const TimingViolation& violation) {
  ++timing_[static_cast<std::size_t>(violation.rule)];
  note(violation.sample, BusLogKind::Violation, violation.byte, timingText(violation));
}

void ModuleReplay::protocolFinding(const ProtocolFinding& finding) {
  switch (finding.kind) {
    case ProtocolKind::WriteWithoutCe:
    case ProtocolKind::ReadWithoutCe: violation(finding.sample, ViolationKind::StrobeWithoutCe, finding.byte); break;
    case ProtocolKind::WriteDuringRead: violation(finding.sample, ViolationKind::BusContention, finding.byte); break;
    case ProtocolKind::CycleLost:
      ++lost_[static_cast<std::size_t>(Lost::LineWentUndefined)];
      note(finding.sample, BusLogKind::Violation, finding.byte,
           std::string(busLineName(finding.line)) + " went x or z in a cycle: the cycle is lost");
      break;
  }
}

void ModuleReplay::violation(std::uint64_t sample, ViolationKind kind, std::uint8_t byte) {
  ++protocol_[static_cast<std::size_t>(kind)];
  t6963::recordViolation(model_, {model_.bus.accessCount, kind, 0, 0, byte});
  log_.violation(sample, kind, byte);
  drain();
}

void ModuleReplay::note(std::uint64_t sample, BusLogKind kind, std::uint8_t byte, std::string text) {
  log_.note(sample, kind, byte, std::move(text));
  drain();
}

void ModuleReplay::append(const std::vector<t6963::BusLogEntry>& entries) {
  for (const auto& entry : entries) {
    t6963::appendBusLogEntry(text_, entry, time_);
    text_ += '\n';
  }
  if (text_.size() >= FlushBytes) flush();
}

void ModuleReplay::drain() {
  if (++sinceDrain_ < EntriesPerDrain) return;
  sinceDrain_ = 0;
  append(log_.takeEntries());
}

void ModuleReplay::flush() {
  out_.write(text_.data(), static_cast<std::streamsize>(text_.size()));
  text_.clear();
}

void ModuleReplay::captureEnds(std::uint64_t samples) {
  append(log_.finish());
  const auto microseconds = [&](std::uint64_t sample) {
    std::string text;
    t6963::appendLogTime(text, sample, time_);
    return text.append(" µs");
  };
  const bool stopped = samples > lastSample_;
  text_ += "capture: " + std::to_string(samples) + " samples, " + microseconds(samples) + " at " + formatRate(rate_) +
           (stopped ? ", read no further (--until)\n" : "\n");
  if (stopped) text_ += "replayed up to " + microseconds(lastSample_) + " (--until)\n";
  text_ += "bytes: " + std::to_string(dataWritten_ + commandsWritten_) + " written (" + std::to_string(dataWritten_) +
           " data, " + std::to_string(commandsWritten_) + " commands), " + std::to_string(refused_) + " refused; " +
           std::to_string(statusReads_) + " status reads, " + std::to_string(dataReads_) + " data reads\n";
  std::uint64_t total = 0;
  std::string kinds;
  for (const auto& rule : TimingFigures) addKind(kinds, rule.name, timing_[static_cast<std::size_t>(rule.rule)], total);
  for (std::size_t kind = 0; kind < protocol_.size(); ++kind) {
    addKind(kinds, t6963::violationName(static_cast<ViolationKind>(kind)), protocol_[kind], total);
  }
  addKind(kinds, "x or z on taken lines", lost_[static_cast<std::size_t>(Lost::UndefinedLines)], total);
  addKind(kinds, "cycle lost to x or z", lost_[static_cast<std::size_t>(Lost::LineWentUndefined)], total);
  text_ += "violations: " + std::to_string(total) + (kinds.empty() ? "" : " (" + kinds + ")") + '\n';
  total = 0;
  kinds.clear();
  addKind(kinds, "controller busy where the model says ready",
          findings_[static_cast<std::size_t>(Finding::ControllerBusy)], total);
  addKind(kinds, "data read differs from the model", findings_[static_cast<std::size_t>(Finding::ReadDiffers)], total);
  text_ += "findings: " + std::to_string(total) + (kinds.empty() ? "" : " (" + kinds + ")") + '\n';
  flush();
}

}  // namespace replay
