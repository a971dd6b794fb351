// The datasheet's bus timing (../shared/t6963c.md, "Bus timing") as the replay checks it in
// a capture's own time, and the sample clock that measures it. An interval of k samples is
// k sample periods; k = 0 means the changes were simultaneous, as far as the capture can
// tell, and breaks no rule. A rule whose minimum is shorter than one sample period cannot
// be resolved at that rate and is never reported as broken. Leaves out the controller's
// access and output hold times: they are the controller's, not the host's.
#pragma once

#include <array>
#include <cstdint>

namespace replay {

__extension__ typedef unsigned __int128 WideProduct;  // rate times nanoseconds, beyond 64 bits

enum class TimingRule : std::uint8_t {
  CdSetup,     // C/D stable -> start of the cycle
  CdHold,      // end of the cycle -> C/D changes
  PulseWidth,  // /CE, /RD or /WR falling -> rising
  DataSetup,   // D0-D7 stable -> end of a write cycle
  DataHold,    // end of a write cycle -> D0-D7 change
};

struct TimingFigure {
  TimingRule rule;
  std::uint32_t minimumNs;
  const char* name;    // "C/D setup"
  const char* plural;  // "C/D setup times"
};

inline constexpr std::array<TimingFigure, 5> TimingFigures = {{
    {TimingRule::CdSetup, 100, "C/D setup", "C/D setup times"},
    {TimingRule::CdHold, 10, "C/D hold", "C/D hold times"},
    {TimingRule::PulseWidth, 80, "pulse width", "pulse widths"},
    {TimingRule::DataSetup, 80, "data setup", "data setup times"},
    {TimingRule::DataHold, 40, "data hold", "data hold times"},
}};

constexpr const TimingFigure& figure(TimingRule rule) { return TimingFigures[static_cast<std::size_t>(rule)]; }

// Nanoseconds counted in samples of one rate, exactly (no rounding before the comparison).
class SampleClock {
 public:
  explicit constexpr SampleClock(std::uint64_t rate) : rate_(rate) {
    for (const auto& rule : TimingFigures) {
      // The fewest samples not shorter than the minimum: samples * 10^9 >= minimum * rate.
      const WideProduct product = static_cast<WideProduct>(rule.minimumNs) * rate;
      fewestSamples_[static_cast<std::size_t>(rule.rule)] =
          static_cast<std::uint64_t>((product + Billion - 1) / Billion);
    }
  }

  std::uint64_t rate() const { return rate_; }
  double nanoseconds(std::uint64_t samples) const { return static_cast<double>(samples) * 1e9 / static_cast<double>(rate_); }
  // One sample period is no longer than the rule's minimum.
  bool resolves(TimingRule rule) const {
    return static_cast<WideProduct>(figure(rule).minimumNs) * rate_ >= Billion;
  }
  // `samples` periods are shorter than the rule's minimum (never more than one sample for a
  // rule the rate does not resolve).
  bool shorterThan(std::uint64_t samples, TimingRule rule) const {
    return samples < fewestSamples_[static_cast<std::size_t>(rule)];
  }

 private:
  static constexpr WideProduct Billion = 1'000'000'000;
  std::uint64_t rate_;
  std::array<std::uint64_t, TimingFigures.size()> fewestSamples_{};
};

}  // namespace replay
