// Bus cycles and timing findings from level changes.
#include "replay/cycle_extractor.h"

#include <utility>

namespace replay {
namespace {

constexpr std::array<BusLine, 3> Strobes = {BusLine::Wr, BusLine::Rd, BusLine::Ce};
constexpr std::uint64_t StrobeBits = bit(BusLine::Wr) | bit(BusLine::Rd) | bit(BusLine::Ce);

std::uint64_t changedBits(const Levels& before, const Levels& after) {
  return (before.high ^ after.high) | (before.undefined ^ after.undefined) | (before.floating ^ after.floating);
}

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
  // With /WR, /RD and /CE as they were, no cycle ends or starts and no pulse is measured.
  if ((changedBits(before, now_) & StrobeBits) == 0) {
    checkChanges(before, sample);
    return;
  }
  const LineStates was(before);
  const LineStates is(now_);
  endCycle(write_, BusLine::Wr, before, is, sample);
  endCycle(read_, BusLine::Rd, before, is, sample);
  checkPulses(was, is, sample);
  if ((was.low & is.high & bit(BusLine::Ce)) != 0) sink_.chipReleased(sample);
  checkChanges(before, sample);
  noteFalls(was, is, sample);
  startCycles(was, is, sample);
}

void CycleExtractor::end(std::uint64_t samples) { sink_.captureEnds(samples); }

void CycleExtractor::takeInitial(const Levels& levels) {
  started_ = true;
  now_ = levels;
  const LineStates is(now_);
  const bool ceLow = (is.low & bit(BusLine::Ce)) != 0;
  const bool wrLow = (is.low & bit(BusLine::Wr)) != 0;
  const bool rdLow = (is.low & bit(BusLine::Rd)) != 0;
  if (ceLow && wrLow) write_ = OpenCycle{};
  if (ceLow && rdLow) read_ = OpenCycle{};
  // A strobe already low at the first sample may have met /CE before it: no finding.
  strobeMetCe_ = {wrLow, rdLow};
}

void CycleExtractor::endCycle(std::optional<OpenCycle>& open, BusLine strobeLine, const Levels& before,
                              const LineStates& is, std::uint64_t sample) {
  if (!open) return;
  const std::uint64_t lines = bit(strobeLine) | bit(BusLine::Ce);
  if ((is.high & lines) != 0) {
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
  if ((is.undefined & lines) != 0) {
    open.reset();
    const BusLine lost = (is.undefined & bit(BusLine::Ce)) != 0 ? BusLine::Ce : strobeLine;
    sink_.protocolFinding({ProtocolKind::CycleLost, sample, lost, dataBefore_});
  }
}

void CycleExtractor::checkPulses(const LineStates& was, const LineStates& is, std::uint64_t sample) {
  const std::uint64_t rose = was.low & is.high;
  for (const BusLine line : Strobes) {
    if ((rose & bit(line)) == 0) continue;
    const auto& fall = fallSeenAt_[strobe(line)];
    if (fall) check(TimingRule::PulseWidth, line, *fall, sample);
    if (line != BusLine::Ce && !strobeMetCe_[strobe(line)]) {
      sink_.protocolFinding(
          {line == BusLine::Wr ? ProtocolKind::WriteWithoutCe : ProtocolKind::ReadWithoutCe, sample, line, dataBefore_});
    }
  }
}

void CycleExtractor::checkChanges(const Levels& before, std::uint64_t sample) {
  const std::uint64_t changed = changedBits(before, now_);
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

void CycleExtractor::noteFalls(const LineStates& was, const LineStates& is, std::uint64_t sample) {
  const bool ceHigh = (is.high & bit(BusLine::Ce)) != 0;
  const std::uint64_t fell = ~was.low & is.low;
  for (const BusLine line : Strobes) {
    if ((fell & bit(line)) != 0) {
      fallSeenAt_[strobe(line)] = (was.high & bit(line)) != 0 ? std::optional(sample) : std::nullopt;
      if (line != BusLine::Ce) strobeMetCe_[strobe(line)] = false;
    }
    if (line != BusLine::Ce && (is.low & bit(line)) != 0 && !ceHigh) strobeMetCe_[strobe(line)] = true;
  }
}

void CycleExtractor::startCycles(const LineStates& was, const LineStates& is, std::uint64_t sample) {
  if ((is.low & bit(BusLine::Ce)) == 0) return;
  // The cycle starts here, by whichever of /CE and the strobe fell now; seen if neither of
  // them was x or z before.
  bool started = false;
  for (auto [open, strobeLine] : {std::pair{&write_, BusLine::Wr}, std::pair{&read_, BusLine::Rd}}) {
    if (*open || (is.low & bit(strobeLine)) == 0) continue;
    *open = OpenCycle{sample, (was.undefined & (bit(strobeLine) | bit(BusLine::Ce))) == 0};
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
  if (samples == 0 || !clock_.shorterThan(samples, rule)) return;
  sink_.timingViolation({rule, line, to, clock_.nanoseconds(samples), figure(rule).minimumNs, dataBefore_});
}

}  // namespace replay
