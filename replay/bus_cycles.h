// The bus cycles and findings the cycle extractor takes from a capture, at the capture's own
// resolution (sample numbers), and the sink interface that receives them (the replayed
// module, module_replay.h). Leaves out what the controller makes of a byte (busy, command
// decoding): that is the model's and the decoder's.
#pragma once

#include <cstdint>

#include "replay/bus_lines.h"
#include "replay/bus_timing.h"
#include "replay/capture.h"

namespace replay {

// One write or read cycle: /CE with /WR (or /RD) low.
struct Cycle {
  std::uint64_t start = 0;       // the later of /CE and the strobe falling
  bool startSeen = true;         // false: the cycle began before the first sample or while a line was x/z
  std::uint64_t end = 0;         // the first sample with /CE or the strobe high again
  bool command = false;          // C/D high: a command (write), the status (read)
  std::uint8_t byte = 0;         // D0-D7 in the last sample before `end`
  std::uint8_t undefinedData = 0;  // D0-D7 bits that were x or z there; their bits in `byte` are 0
  bool commandUndefined = false;   // C/D was x or z there: `command` means nothing
};

struct TimingViolation {
  TimingRule rule = TimingRule::CdSetup;
  BusLine line = BusLine::Cd;    // the line whose pulse was short (PulseWidth); C/D or D0 otherwise
  std::uint64_t sample = 0;      // where the too-short interval ends
  double measuredNs = 0;         // negative: C/D changed that long after the cycle had started
  std::uint32_t neededNs = 0;
  std::uint8_t byte = 0;         // D0-D7 in the last sample before `sample` (x and z bits 0)
};

enum class ProtocolKind : std::uint8_t {
  WriteWithoutCe,     // a /WR pulse while /CE stayed high
  ReadWithoutCe,      // a /RD pulse while /CE stayed high
  WriteDuringRead,    // /WR and /RD low together with /CE low
  CycleLost,          // /CE, /WR or /RD went x or z in a cycle: it was not taken
};

struct ProtocolFinding {
  ProtocolKind kind = ProtocolKind::WriteWithoutCe;
  std::uint64_t sample = 0;      // the strobe's rising edge; where both went low; where the line went x/z
  BusLine line = BusLine::Wr;    // CycleLost: the line that went x or z
  std::uint8_t byte = 0;         // D0-D7 in the last sample before `sample` (x and z bits 0)
};

class CycleSink {
 public:
  virtual ~CycleSink() = default;
  // Returns the first sample the sink does not want (AllSamples: every one): the capture is
  // read no further.
  virtual std::uint64_t captureBegins(const CaptureInfo& info) = 0;
  // Once per rule, before anything else: the rate cannot resolve the rule's minimum.
  virtual void unmeasurable(TimingRule rule) = 0;
  virtual void writeCycle(const Cycle& cycle) = 0;
  virtual void readCycle(const Cycle& cycle) = 0;
  // /CE rose: after the cycle it ended, if any.
  virtual void chipReleased(std::uint64_t sample) = 0;
  virtual void timingViolation(const TimingViolation& violation) = 0;
  virtual void protocolFinding(const ProtocolFinding& finding) = 0;
  virtual void captureEnds(std::uint64_t samples) = 0;
};

}  // namespace replay
