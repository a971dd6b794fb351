// A capture's bus cycles fed to the virtual display module and to the bus-log decoder, and
// the log that comes of it, time first, in `lcdview --log`'s line formats:
// - the module is a ModuleState of the settings' build, its RAM before the first sample as
//   DLPORTIO_LCD_POWERON says (random contents from a fixed seed, so a capture always replays
//   to the same glass), every command timed on the capture's clock (busy for
//   DLPORTIO_LCD_BUSY microseconds); no port accesses are counted;
// - each write cycle goes through the controller at its end; a byte it refuses is a protocol
//   violation, counted in the module and logged by the decoder;
// - each read cycle logs what the real controller drove. A status read is compared with the
//   model's ready bits (STA0-STA3; STA7's phase cannot be known): the real controller busy
//   where the model says ready is a finding, said once for a run of such polls; the real
//   controller ready (STA0 and STA1, or STA2 or STA3 in auto mode) where the model's busy
//   time has not yet passed ends that busy time (the real chip knows its own). A data read
//   is compared with the model's byte in the bits that do not depend on the RAM's power-on
//   contents (a second model, its RAM powered on as the complement, tells which bits do); a
//   difference is a finding. The byte read is then taken into the model, at the RAM address
//   it came from when it came from RAM (auto read; the latch after a read command, once);
// - timing violations and the extractor's protocol findings are VIOLATION lines; a cycle with
//   x or z on the lines it takes is not replayed and is one too;
// - `until`: the capture is read up to that sample and no further; the log ends and the
//   module stays as it stood.
// The log's time is microseconds from the first sample with the decimals the rate resolves;
// rules the rate cannot resolve are said once, in the lines before the log; a summary closes
// it. Leaves out the reading of the capture (capture_reader.h) and the segment.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "replay/bus_cycles.h"
#include "t6963/bus_decoder.h"
#include "t6963/controller.h"
#include "t6963/module_state.h"

namespace replay {

// Decimals of a microsecond that one sample period resolves: 1 MHz 0, 24 MHz 2, 1 GHz 3.
int microsecondDecimals(std::uint64_t rate);
// The log's time base for a capture at `rate`: sample 0 is time 0.
t6963::LogTimeBase captureTime(std::uint64_t rate);
// "24 MHz", "12.5 MHz", "1 GHz", "44.1 kHz".
std::string formatRate(std::uint64_t rate);
// A duration in ns, in ns or µs with at most two decimals: "41.67 ns", "1 µs".
std::string formatDuration(double nanoseconds);

// `--until TIME`: microseconds as the log prints them ("6.29"); throws CaptureError if malformed.
struct Until {
  std::uint64_t units = 0;  // TIME in units of 10^-Decimals µs
  static constexpr int Decimals = 9;
};
Until parseUntil(std::string_view text);
// The last sample whose time, printed at the rate's decimals, is not past `until`.
std::uint64_t lastSampleUntil(const Until& until, std::uint64_t rate);

struct ReplaySetup {
  t6963::ModuleBuild build;
  t6963::PowerOnContents powerOn = t6963::PowerOnContents::Random;
  std::uint32_t busyMicroseconds = t6963::DefaultBusyAccesses;
  std::optional<Until> until;
};

class ModuleReplay : public CycleSink {
 public:
  ModuleReplay(const ReplaySetup& setup, std::ostream& out);

  std::uint64_t captureBegins(const CaptureInfo& info) override;
  void unmeasurable(TimingRule rule) override;
  void writeCycle(const Cycle& cycle) override;
  void readCycle(const Cycle& cycle) override;
  void chipReleased(std::uint64_t sample) override;
  void timingViolation(const TimingViolation& violation) override;
  void protocolFinding(const ProtocolFinding& finding) override;
  void captureEnds(std::uint64_t samples) override;

  // The replayed module, at the end of the capture or at `until`.
  const t6963::ModuleState& module() const { return model_; }

 private:
  // The capture's time, set at each cycle before the controller is asked.
  class CaptureClock final : public t6963::ControllerClock {
   public:
    t6963::Nanoseconds at = 0;
    t6963::Nanoseconds now() noexcept override { return at; }
  };

  // Replay's own kinds beside the module's ViolationKind, for the summary.
  enum class Finding : std::uint8_t { ControllerBusy, ReadDiffers };
  enum class Lost : std::uint8_t { UndefinedLines, LineWentUndefined };

  void at(std::uint64_t sample);
  void statusRead(const Cycle& cycle);
  void dataRead(const Cycle& cycle);
  void endDataRead();
  void undefinedLines(const Cycle& cycle, bool write);
  void violation(std::uint64_t sample, t6963::ViolationKind kind, std::uint8_t byte);
  void note(std::uint64_t sample, t6963::BusLogKind kind, std::uint8_t byte, std::string text);
  void append(const std::vector<t6963::BusLogEntry>& entries);
  void drain();  // the entries complete so far, every EntriesPerDrain calls
  void flush();

  ReplaySetup setup_;
  std::ostream& out_;
  std::uint64_t rate_ = 1;
  std::uint64_t lastSample_ = AllSamples;  // the last sample replayed (until)
  t6963::LogTimeBase time_;
  t6963::BusLogBuilder log_;
  std::string text_;             // formatted lines not yet written
  unsigned sinceDrain_ = 0;
  CaptureClock clock_;
  t6963::ModuleState model_{};
  t6963::ModuleState complement_{};  // RAM powered on as model_'s complement
  std::optional<std::uint16_t> readAddress_;  // outside auto read: where the latch came from in RAM
  bool busyRun_ = false;         // the polls since the last finding saw the controller busy

  std::uint64_t dataWritten_ = 0;
  std::uint64_t commandsWritten_ = 0;
  std::uint64_t refused_ = 0;
  std::uint64_t statusReads_ = 0;
  std::uint64_t dataReads_ = 0;
  std::array<std::uint64_t, TimingFigures.size()> timing_{};
  std::array<std::uint64_t, t6963::ViolationKindCount> protocol_{};
  std::array<std::uint64_t, 2> lost_{};
  std::array<std::uint64_t, 2> findings_{};
};

}  // namespace replay
