// kelvari-replay's capture side on a sigrok session file of 50 million samples at 100 MHz (a
// microcontroller writing bytes, 2 µs apart; written once into a temporary folder):
// samples per second on one core through libsigrok's loader, the change scan and the cycle
// extractor, with the interim log written to /dev/null and without it; the change scan
// alone on samples in memory; and the same file through sigrok-cli's parallel decoder
// (the real command, wall time), as a ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "replay/capture_reader.h"
#include "replay/cycle_extractor.h"
#include "replay/module_replay.h"
#include "replay/sample_scanner.h"
#include "tests/replay/bus_capture.h"

namespace {

constexpr std::uint64_t Rate = 100'000'000;
constexpr std::uint64_t MinimumSamples = 50'000'000;
const std::array<std::string, replay::BusLineCount> Names = {"D0", "D1", "D2", "D3", "D4", "D5", "D6",
                                                             "D7", "CD", "WR", "RD", "CE"};

class SessionFile {
 public:
  SessionFile() {
    char folder[] = "/tmp/kelvari-bench-replay-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    folder_ = folder;
    replay_test::McuBus bus(Rate);
    for (unsigned i = 0; bus.bytes().empty() || bus.bytes().back().end < MinimumSamples; ++i) {
      bus.write(i % 3 == 2, static_cast<std::uint8_t>(i * 37));
    }
    const auto capture = bus.finish();
    samples_ = capture.samples;
    bytes_ = bus.bytes().size();
    replay_test::writeSession(path(), capture, Names);
  }
  ~SessionFile() { std::filesystem::remove_all(folder_); }

  std::string path() const { return folder_ + "/bus.sr"; }
  std::uint64_t samples() const { return samples_; }
  std::size_t bytes() const { return bytes_; }

 private:
  std::string folder_;
  std::uint64_t samples_ = 0;
  std::size_t bytes_ = 0;
};

const SessionFile& sessionFile() {
  static const SessionFile file;
  return file;
}

class CountingSink : public replay::CycleSink {
 public:
  std::uint64_t cycles = 0;

  void captureBegins(const replay::CaptureInfo&) override {}
  void unmeasurable(replay::TimingRule) override {}
  void writeCycle(const replay::Cycle&) override { ++cycles; }
  void readCycle(const replay::Cycle&) override { ++cycles; }
  void chipReleased(std::uint64_t) override {}
  void timingViolation(const replay::TimingViolation&) override {}
  void protocolFinding(const replay::ProtocolFinding&) override {}
  void captureEnds(std::uint64_t) override {}
};

std::uint64_t replaySession(replay::CycleSink& sink) {
  replay::CycleExtractor extractor(sink, "", {});
  return replay::readCapture(sessionFile().path(), extractor, {}).samples;
}

void BM_ReplaySession(benchmark::State& state) {
  sessionFile();  // written before the timing starts
  std::uint64_t samples = 0;
  for (auto _ : state) {
    CountingSink sink;
    samples += replaySession(sink);
    if (sink.cycles != sessionFile().bytes()) state.SkipWithError("bytes lost");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(samples));
}
BENCHMARK(BM_ReplaySession)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReplaySessionLogged(benchmark::State& state) {
  std::ofstream null("/dev/null");
  std::uint64_t samples = 0;
  for (auto _ : state) {
    replay::ModuleReplay log({}, null);
    samples += replaySession(log);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(samples));
}
BENCHMARK(BM_ReplaySessionLogged)->Unit(benchmark::kMillisecond)->UseRealTime();

// 16-bit samples in memory: a change every 100 samples, as on a busy bus.
void BM_ScanSamples(benchmark::State& state) {
  class Counting : public replay::ChangeSink {
   public:
    std::uint64_t changes = 0;
    replay::ChannelSelection begin(const replay::CaptureInfo&) override { return {}; }
    void change(std::uint64_t, const replay::Levels&) override { ++changes; }
    void end(std::uint64_t) override {}
  } sink;
  std::vector<std::uint16_t> samples(std::size_t{1} << 22);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint16_t>(i / 100 * 0x155);
  replay::ChannelSelection selection;
  for (unsigned channel = 0; channel < 12; ++channel) selection.emplace_back(channel);
  for (auto _ : state) {
    replay::SampleScanner scanner(selection, 2, sink);
    scanner.scan(reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size() * 2);
    benchmark::DoNotOptimize(sink.changes);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples.size()));
}
BENCHMARK(BM_ScanSamples)->Unit(benchmark::kMillisecond);

// One run each, wall time: this replay, and sigrok-cli's parallel decoder on /WR.
void BM_AgainstSigrokCli(benchmark::State& state) {
  const std::string sigrok = replay_test::sigrokCli();
  if (sigrok.empty()) {
    state.SkipWithError("sigrok-cli is not installed");
    return;
  }
  std::string decoder = "parallel:clk=WR";
  for (int line = 0; line < 8; ++line) decoder += ":d" + std::to_string(line) + "=D" + std::to_string(line);
  double replaySeconds = 0;
  double sigrokSeconds = 0;
  for (auto _ : state) {
    auto start = std::chrono::steady_clock::now();
    CountingSink sink;
    replaySession(sink);
    replaySeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    start = std::chrono::steady_clock::now();
    const auto run = replay_test::runProgram(sigrok, {"-i", sessionFile().path(), "-P", decoder}, 3600);
    sigrokSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // sigrok-cli 0.7.2 aborts on its way out (status 134) after printing every word.
    if (run.out.empty()) state.SkipWithError(("sigrok-cli failed: " + run.err).c_str());
  }
  const auto samples = static_cast<double>(sessionFile().samples());
  state.counters["replay_samples_per_s"] = samples / replaySeconds;
  state.counters["sigrok_cli_samples_per_s"] = samples / sigrokSeconds;
  state.counters["ratio"] = sigrokSeconds / replaySeconds;
}
BENCHMARK(BM_AgainstSigrokCli)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
