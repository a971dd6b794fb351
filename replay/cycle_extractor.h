// Bus cycles from a capture's level changes, at the capture's own resolution, with the
// datasheet's timing checked on them (bus_timing.h):
// - a write is taken at the end of its cycle, the first rising edge of /WR or /CE while both
//   were low, with C/D and D0-D7 as they stood in the last sample before that edge; a read
//   cycle (/RD and /CE low) likewise, with the byte the controller drove;
// - C/D setup is checked at a cycle's start (the later of /CE and the strobe falling), data
//   setup and the pulse widths at the rising edges, C/D and data hold at the first change
//   after a cycle's end (a new cycle's start ends the wait for it). A C/D change inside a
//   cycle breaks C/D setup at any rate: it is reported at the change, as a negative time;
// - a line that is x or z: a cycle whose taken lines were x or z is reported with them
//   marked undefined, never with invented bits; a strobe or /CE that goes x or z inside a
//   cycle loses the cycle (a finding); a line's fall from x or z, or one before the first
//   sample, is not a seen edge, so no interval is measured from it.
// Within one sample come the cycles that end, the findings at their end, /CE released,
// then the start of a new cycle and its findings. A tied /CE is low and a tied /RD high
// throughout. Leaves out cycles still open at the end of the capture.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "replay/bus_cycles.h"

namespace replay {

class CycleExtractor : public ChangeSink {
 public:
  // `channelMap` as `--channels` takes it (bus_lines.h), empty for names alone.
  CycleExtractor(CycleSink& sink, std::string channelMap, Wiring wiring);

  Reading begin(const CaptureInfo& info) override;
  void change(std::uint64_t sample, const Levels& levels) override;
  void end(std::uint64_t samples) override;

 private:
  // The lines low, high, and x or z, as bit(line) each: worked out once for every change.
  struct LineStates {
    std::uint64_t undefined;
    std::uint64_t high;
    std::uint64_t low;
    explicit LineStates(const Levels& levels)
        : undefined(levels.undefined | levels.floating),
          high(levels.high & ~undefined),
          low(~levels.high & ~undefined) {}
  };
  struct OpenCycle {
    std::uint64_t start = 0;
    bool startSeen = false;
  };
  static constexpr std::size_t StrobeCount = 3;  // /WR, /RD, /CE, at index line - BusLine::Wr

  static std::size_t strobe(BusLine line) { return static_cast<std::size_t>(line) - static_cast<std::size_t>(BusLine::Wr); }
  void takeInitial(const Levels& levels);
  // Ends `open` if its strobe or /CE rose, or loses it if one of them went x or z.
  void endCycle(std::optional<OpenCycle>& open, BusLine strobeLine, const Levels& before, const LineStates& is,
                std::uint64_t sample);
  void checkPulses(const LineStates& was, const LineStates& is, std::uint64_t sample);
  void checkChanges(const Levels& before, std::uint64_t sample);
  void noteFalls(const LineStates& was, const LineStates& is, std::uint64_t sample);
  void startCycles(const LineStates& was, const LineStates& is, std::uint64_t sample);
  void check(TimingRule rule, BusLine line, std::uint64_t from, std::uint64_t to);

  CycleSink& sink_;
  std::string channelMap_;
  Wiring wiring_;
  SampleClock clock_{1};
  bool started_ = false;
  Levels now_;
  std::uint8_t dataBefore_ = 0;  // D0-D7 in the sample before the change under way
  std::optional<OpenCycle> write_;
  std::optional<OpenCycle> read_;
  std::array<std::optional<std::uint64_t>, StrobeCount> fallSeenAt_;
  std::array<bool, 2> strobeMetCe_{};  // /WR, /RD: /CE was not high at some time in the pulse
  std::optional<std::uint64_t> cdChangedAt_;
  std::optional<std::uint64_t> dataChangedAt_;
  std::optional<std::uint64_t> cdHoldFrom_;
  std::optional<std::uint64_t> dataHoldFrom_;
};

}  // namespace replay
