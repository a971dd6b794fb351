// Bus cycles and timing findings from level changes.
#include "replay/cycle_extractor.h"

#include <utility>

namespace replay {
namespace {

constexpr std::array<BusLine, 3> Strobes = {BusLine::Wr, BusLine::Rd, BusLine::Ce};

Cycle taken(const Levels& before, std::uint64_t start, bool startSeen, std::uint64_t end) {
  const std::uint64_t undefined = before.undefined | before.floating;
  Cycle cycle;
  cycle.start = start;
  cycle.startSeen = startSeen;
  cycle.end = end;
  cycle.command = (before.high & bit(BusLine::Cd)) != 0;
  cycle.commandUndefined = (undefined & bit(BusLine::Cd)) != 0;
  cycle.byte = static_cast<std::uint8_t>(before.high & ~undefined & DataBits);
  cycle.undefinedData = static_cast<std::uint8_t>(undefined & DataBits);
  return cycle;
}

}  // namespace

CycleExtractor::CycleExtractor(CycleSink& sink, std::string channelMap, Wiring wiring)
    : sink_(sink), channelMap_(std::move(channelMap)), wiring_(wiring) {}

Reading CycleExtractor::begin(const CaptureInfo& info) {
  const auto assignment = assignChannels(info, channelMap_, wiring_);
  clock_ = SampleClock(info.sampleRate);
  const std::uint64_t endSample = sink_.captureBegins(info);
  for (const auto& figureOfRule : TimingFigures) {
    if (!clock_.resolves(figureOfRule.rule)) sink_.unmeasurable(figureOfRule.rule);
  }
  return {selectionOf(assignment), endSample};
}

void CycleExtractor::change(std::uint64_t sample, const Levels& levels) {
  Levels after = levels;
  if (wiring_.rdTiedHigh) after.high |= bit(BusLine::Rd);
  if (!started_) {
    takeInitial(after);
    return;
  }
  const Levels before = std::exchange(now_, after);
  dataBefore_ = static_cast<std::uint8_t>(before.high & ~(before.undefined | before.floating) & DataBits);
  endCycle(write_, BusLine::Wr, before, sample);
  endCycle(read_, BusLine::Rd, before, sample);
  checkPulses(before, sample);
  if (level(before, BusLine::Ce) == Level::Low && level(now_, BusLine::Ce) == Level::High) sink_.chipReleased(sample);
  checkChanges(before, sample);
  noteFalls(before, sample);
  startCycles(before, sample);
}

void CycleExtractor::end(std::uint64_t samples) { sink_.captureEnds(samples); }

void CycleExtractor::takeInitial(const Levels& levels) {
  started_ = true;
  now_ = levels;
  const bool ceLow = level(now_, BusLine::Ce) == Level::Low;
  if (ceLow && level(now_, BusLine::Wr) == Level::Low) write_ = OpenCycle{};
  if (ceLow && level(now_, BusLine::Rd) == Level::Low) read_ = OpenCycle{};
  // A strobe already low at the first sample may have met /CE before it: no finding.
  strobeMetCe_ = {level(now_, BusLine::Wr) == Level::Low, level(now_, BusLine::Rd) == Level::Low};
}

void CycleExtractor::endCycle(std::optional<OpenCycle>& open, BusLine strobeLine, const Levels& before,
                              std::uint64_t sample) {
  if (!open) return;
  const Level strobeNow = level(now_, strobeLine);
  const Level ceNow = level(now_, BusLine::Ce);
  if (strobeNow == Level::High || ceNow == Level::High) {
    const Cycle cycle = taken(before, open->start, open->startSeen, sample);
    open.reset();
    if (strobeLine == BusLine::Wr) {
      sink_.writeCycle(cycle);
      if (dataChangedAt_) check(TimingRule::DataSetup, BusLine::D0, *dataChangedAt_, sample);
      dataHoldFrom_ = sample;
    } else {
      sink_.readCycle(cycle);
    }
    cdHoldFrom_ = sample;
    return;
  }
  if (strobeNow == Level::Undefined || ceNow == Level::Undefined) {
    open.reset();
    sink_.protocolFinding(
        {ProtocolKind::CycleLost, sample, ceNow == Level::Undefined ? BusLine::Ce : strobeLine, dataBefore_});
  }
}

void CycleExtractor::checkPulses(const Levels& before, std::uint64_t sample) {
  for (const BusLine line : Strobes) {
    if (level(before, line) != Level::Low || level(now_, line) != Level::High) continue;
    const auto& fall = fallSeenAt_[strobe(line)];
    if (fall) check(TimingRule::PulseWidth, line, *fall, sample);
    if (line != BusLine::Ce && !strobeMetCe_[strobe(line)]) {
      sink_.protocolFinding(
          {line == BusLine::Wr ? ProtocolKind::WriteWithoutCe : ProtocolKind::ReadWithoutCe, sample, line, dataBefore_});
    }
  }
}

void CycleExtractor::checkChanges(const Levels& before, std::uint64_t sample) {
  const std::uint64_t changed =
      (before.high ^ now_.high) | (before.undefined ^ now_.undefined) | (before.floating ^ now_.floating);
  if ((changed & bit(BusLine::Cd)) != 0) {
    if (cdHoldFrom_) check(TimingRule::CdHold, BusLine::Cd, *cdHoldFrom_, sample);
    cdHoldFrom_.reset();
    for (const auto* open : {&write_, &read_}) {
      if (*open && (*open)->startSeen) {
        sink_.timingViolation({TimingRule::CdSetup, BusLine::Cd, sample, -clock_.nanoseconds(sample - (*open)->start),
                               figure(TimingRule::CdSetup).minimumNs, dataBefore_});
      }
    }
    cdChangedAt_ = sample;
  }
  if ((changed & DataBits) != 0) {
    if (dataHoldFrom_) check(TimingRule::DataHold, BusLine::D0, *dataHoldFrom_, sample);
    dataHoldFrom_.reset();
    dataChangedAt_ = sample;
  }
}

void CycleExtractor::noteFalls(const Levels& before, std::uint64_t sample) {
  const bool ceHigh = level(now_, BusLine::Ce) == Level::High;
  for (const BusLine line : Strobes) {
    const Level was = level(before, line);
    const Level is = level(now_, line);
    if (is == Level::Low && was != Level::Low) {
      fallSeenAt_[strobe(line)] = was == Level::High ? std::optional(sample) : std::nullopt;
      if (line != BusLine::Ce) strobeMetCe_[strobe(line)] = false;
    }
    if (line != BusLine::Ce && is == Level::Low && !ceHigh) strobeMetCe_[strobe(line)] = true;
  }
}

void CycleExtractor::startCycles(const Levels& before, std::uint64_t sample) {
  if (level(now_, BusLine::Ce) != Level::Low) return;
  // The cycle starts here, by whichever of /CE and the strobe fell now; seen if each of them
  // fell from a known high.
  const auto seenStart = [&](BusLine strobeLine) {
    for (const BusLine line : {strobeLine, BusLine::Ce}) {
      if (level(before, line) == Level::Undefined) return false;
    }
    return true;
  };
  bool started = false;
  for (auto [open, strobeLine] : {std::pair{&write_, BusLine::Wr}, std::pair{&read_, BusLine::Rd}}) {
    if (*open || level(now_, strobeLine) != Level::Low) continue;
    *open = OpenCycle{sample, seenStart(strobeLine)};
    started = true;
    if ((*open)->startSeen && cdChangedAt_) check(TimingRule::CdSetup, BusLine::Cd, *cdChangedAt_, sample);
  }
  if (!started) return;
  cdHoldFrom_.reset();
  dataHoldFrom_.reset();
  if (write_ && read_) sink_.protocolFinding({ProtocolKind::WriteDuringRead, sample, BusLine::Rd, dataBefore_});
}

void CycleExtractor::check(TimingRule rule, BusLine line, std::uint64_t from, std::uint64_t to) {
  const std::uint64_t samples = to - from;
  if (samples == 0 || !clock_.resolves(rule) || !clock_.shorterThan(samples, rule)) return;
  sink_.timingViolation({rule, line, to, clock_.nanoseconds(samples), figure(rule).minimumNs, dataBefore_});
}

}  // namespace replay
