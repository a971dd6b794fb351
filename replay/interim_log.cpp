// The replay's interim log lines and summary.
#include "replay/interim_log.h"

#include <cmath>
#include <cstdio>

namespace replay {
namespace {

constexpr std::array<const char*, 4> ProtocolTexts = {"/WR pulse without /CE", "/RD pulse without /CE",
                                                      "/WR and /RD low together with /CE", "x or z in a cycle"};

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

std::string hexByte(std::uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", byte);
  return text;
}

}  // namespace

int microsecondDecimals(std::uint64_t rate) {
  int decimals = 0;
  for (WideProduct resolved = 1'000'000; resolved < rate; resolved *= 10) ++decimals;
  return decimals;
}

std::string formatTime(std::uint64_t sample, std::uint64_t rate) {
  const int decimals = microsecondDecimals(rate);
  WideProduct scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const WideProduct units = (static_cast<WideProduct>(sample) * scale * 2'000'000 + rate) / (WideProduct{2} * rate);
  std::string text = std::to_string(static_cast<std::uint64_t>(units / scale));
  if (decimals > 0) {
    std::string fraction = std::to_string(static_cast<std::uint64_t>(units % scale));
    text += '.' + std::string(static_cast<std::size_t>(decimals) - fraction.size(), '0') + fraction;
  }
  return text;
}

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

void InterimLog::captureBegins(const CaptureInfo& info) { rate_ = info.sampleRate; }

void InterimLog::unmeasurable(TimingRule rule) {
  out_ << "note: at " << formatRate(rate_) << ", " << figure(rule).plural << " under "
       << formatDuration(1e9 / static_cast<double>(rate_)) << " cannot be measured\n";
}

void InterimLog::cycleLine(const char* direction, const char* kind, const Cycle& cycle) {
  out_ << formatTime(cycle.end, rate_) << "  " << direction << "  " << (cycle.commandUndefined ? "C/D x/z" : kind)
       << "  " << hexByte(cycle.byte);
  if (cycle.undefinedData != 0) {
    out_ << "  undefined:";
    for (unsigned line = 0; line < 8; ++line) {
      if ((cycle.undefinedData >> line & 1U) != 0) out_ << ' ' << busLineName(static_cast<BusLine>(line));
    }
  }
  out_ << '\n';
  if (cycle.undefinedData != 0 || cycle.commandUndefined) ++undefinedCycles_;
}

void InterimLog::writeCycle(const Cycle& cycle) {
  cycleLine("write", cycle.command ? "command" : "data   ", cycle);
  ++(cycle.command ? commandsWritten_ : dataWritten_);
}

void InterimLog::readCycle(const Cycle& cycle) {
  cycleLine("read ", cycle.command ? "status " : "data   ", cycle);
  ++(cycle.command ? statusReads_ : dataReads_);
}

void InterimLog::chipReleased(std::uint64_t) { ++chipReleases_; }

void InterimLog::timingViolation(const TimingViolation& violation) {
  ++timing_[static_cast<std::size_t>(violation.rule)];
  const auto& rule = figure(violation.rule);
  out_ << formatTime(violation.sample, rate_) << "  VIOLATION  ";
  if (violation.rule == TimingRule::PulseWidth) out_ << busLineName(violation.line) << ' ';
  if (violation.measuredNs < 0) {
    out_ << rule.name << ": C/D changed " << formatDuration(-violation.measuredNs)
         << " after the cycle started, needs to be stable >= " << violation.neededNs << " ns before it\n";
    return;
  }
  out_ << rule.name << ' ' << formatDuration(violation.measuredNs) << ", needs >= " << violation.neededNs << " ns\n";
}

void InterimLog::protocolFinding(const ProtocolFinding& finding) {
  ++protocol_[static_cast<std::size_t>(finding.kind)];
  out_ << formatTime(finding.sample, rate_) << "  VIOLATION  ";
  if (finding.kind == ProtocolKind::CycleLost) {
    out_ << busLineName(finding.line) << " went x or z in a cycle: the cycle is lost\n";
    return;
  }
  out_ << ProtocolTexts[static_cast<std::size_t>(finding.kind)] << '\n';
}

void InterimLog::captureEnds(std::uint64_t samples) {
  out_ << "capture: " << samples << " samples, " << formatTime(samples, rate_) << " µs at " << formatRate(rate_)
       << '\n';
  out_ << "bytes: " << dataWritten_ + commandsWritten_ << " written (" << dataWritten_ << " data, "
       << commandsWritten_ << " commands), " << statusReads_ + dataReads_ << " read (" << statusReads_ << " status, "
       << dataReads_ << " data), " << undefinedCycles_ << " with x or z lines; /CE released " << chipReleases_
       << " times\n";
  std::uint64_t total = 0;
  std::string kinds;
  for (const auto& rule : TimingFigures) {
    const auto count = timing_[static_cast<std::size_t>(rule.rule)];
    if (count != 0) kinds += std::string(kinds.empty() ? "" : ", ") + rule.name + ' ' + std::to_string(count);
    total += count;
  }
  for (std::size_t kind = 0; kind < protocol_.size(); ++kind) {
    if (protocol_[kind] != 0) kinds += std::string(kinds.empty() ? "" : ", ") + ProtocolTexts[kind] + ' ' + std::to_string(protocol_[kind]);
    total += protocol_[kind];
  }
  out_ << "violations: " << total << (kinds.empty() ? "" : " (" + kinds + ")") << '\n';
}

}  // namespace replay
