// The replay's output until the bus-log decoder takes the cycles: one line per cycle and
// per finding on standard output, time first, and a closing summary. Every text the
// replay prints about a capture is made here: times, rates and the lines. Leaves out /CE
// released (it is counted) and what the controller made of the bytes.
#pragma once

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include "replay/bus_cycles.h"

namespace replay {

// Decimals of a microsecond that one sample period resolves: 1 MHz 0, 24 MHz 2, 1 GHz 3.
int microsecondDecimals(std::uint64_t rate);
// Microseconds from the first sample, with microsecondDecimals(rate) decimals: "12.04".
std::string formatTime(std::uint64_t sample, std::uint64_t rate);
// "24 MHz", "12.5 MHz", "1 GHz", "44.1 kHz".
std::string formatRate(std::uint64_t rate);
// A duration in ns, in ns or µs with at most two decimals: "41.67 ns", "1 µs".
std::string formatDuration(double nanoseconds);

class InterimLog : public CycleSink {
 public:
  explicit InterimLog(std::ostream& out) : out_(out) {}

  void captureBegins(const CaptureInfo& info) override;
  void unmeasurable(TimingRule rule) override;
  void writeCycle(const Cycle& cycle) override;
  void readCycle(const Cycle& cycle) override;
  void chipReleased(std::uint64_t sample) override;
  void timingViolation(const TimingViolation& violation) override;
  void protocolFinding(const ProtocolFinding& finding) override;
  void captureEnds(std::uint64_t samples) override;

 private:
  void cycleLine(const char* direction, const char* kind, const Cycle& cycle);

  std::ostream& out_;
  std::uint64_t rate_ = 1;
  std::uint64_t dataWritten_ = 0;
  std::uint64_t commandsWritten_ = 0;
  std::uint64_t statusReads_ = 0;
  std::uint64_t dataReads_ = 0;
  std::uint64_t undefinedCycles_ = 0;
  std::uint64_t chipReleases_ = 0;
  std::array<std::uint64_t, TimingFigures.size()> timing_{};
  std::array<std::uint64_t, 4> protocol_{};  // by ProtocolKind
};

}  // namespace replay
