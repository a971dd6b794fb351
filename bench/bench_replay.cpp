// kelvari-replay on sigrok session files of at least 50 million samples at 100 MHz (half a
// second), of a microcontroller that sets up a 240x64 glass (6x8 font) once and then redraws
// it frame after frame: the address pointer (two data bytes and the command), auto write, the
// 40 x 64 graphic bytes (a moving pattern), auto reset, the same for the 40 x 8 text bytes:
// 2,884 data bytes and 6 commands a frame. It drives the bus as replay_test::McuBus does, by
// the clock: C/D and D0-D7 set, /WR low 150 ns later for 120 ns, then 2 µs after a data byte
// and 5 µs after a command, so a byte every 2.27 µs and a frame every 6.6 ms. Two captures:
// - animation: the frames back to back, as for an animation (222,000 bytes in 0.5 s);
// - bursts: a frame every 20 ms, the bus idle between (72,000 bytes in 0.5 s).
// Each is written once into a temporary folder through libsigrok's srzip output, as sigrok-cli
// stores a capture: a member per packet, here of 1 Mi samples (2 MiB, 10 ms; fx2lafw sizes
// its USB transfers, a packet each, for 10 ms). Samples per second on one core through
// libsigrok's session loader, the change scan, the cycle extractor and the replayed module
// with its log written to /dev/null; without the module and its log; the change scan alone on
// samples in memory; the same file through sigrok-cli's parallel decoder (the real command,
// wall time, the best of several runs each) as a ratio; and the peak memory of kelvari-replay
// on two minutes of the animation (12 billion samples).
#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "replay/capture_reader.h"
#include "replay/cycle_extractor.h"
#include "replay/module_replay.h"
#include "replay/sample_scanner.h"
#include "t6963/t6963c.h"
#include "tests/replay/bus_capture.h"


namespace {

namespace cmd = t6963c::cmd;

constexpr std::uint64_t Rate = 100'000'000;
constexpr std::uint64_t MinimumSamples = 50'000'000;
constexpr double BurstPeriodNs = 20e6;
constexpr unsigned LongCaptureRepeats = 240;  // two minutes of the same half second
const std::array<std::string, replay::BusLineCount> Names = {"D0", "D1", "D2", "D3", "D4", "D5", "D6",
                                                             "D7", "CD", "WR", "RD", "CE"};

enum class Traffic { Animation, Bursts };

// The glass set up once, then redrawn frame after frame: a moving pattern of graphics under
// a line of text.
replay_test::McuBus drawingMicrocontroller(Traffic traffic) {
  replay_test::McuBus bus(Rate);
  const auto send = [&](std::initializer_list<std::uint8_t> data, std::uint8_t command) {
    for (const std::uint8_t byte : data) bus.write(false, byte);
    bus.write(true, command);
  };
  send({0x00, 0x00}, cmd::SetTextHome);
  send({40, 0x00}, cmd::SetTextArea);
  send({0x00, 0x02}, cmd::SetGraphicHome);
  send({40, 0x00}, cmd::SetGraphicArea);
  send({}, static_cast<std::uint8_t>(cmd::ModeSet | cmd::ModeExor));
  send({}, static_cast<std::uint8_t>(cmd::DisplayMode | cmd::DisplayTextOn | cmd::DisplayGraphicOn));
  for (unsigned frame = 0; bus.now() < MinimumSamples; ++frame) {
    const std::uint64_t start = bus.now();
    send({0x00, 0x02}, cmd::SetAddressPointer);
    send({}, cmd::AutoWrite);
    for (unsigned i = 0; i < 40 * 64; ++i) bus.write(false, static_cast<std::uint8_t>((i + frame) * 7 & 0x3F));
    send({}, cmd::AutoReset);
    send({0x00, 0x00}, cmd::SetAddressPointer);
    send({}, cmd::AutoWrite);
    for (unsigned i = 0; i < 40 * 8; ++i) bus.write(false, static_cast<std::uint8_t>(0x21 + (i + frame) % 58));
    send({}, cmd::AutoReset);
    if (traffic == Traffic::Bursts) bus.idle(BurstPeriodNs - static_cast<double>(bus.now() - start) * 1e9 / Rate);
  }
  return bus;
}

// A session file that holds `capture` `repeats` times in a row, as one capture, written with
// libarchive in one pass (libsigrok's srzip output rewrites the archive for every member, which
// for thousands of members takes hours). The capture's length is a multiple of the block, so
// every repetition's members are the same blocks. Deflated at level 1, for the writing's sake.
void writeLongSession(const std::string& path, const replay_test::Capture& capture, unsigned repeats) {
  std::vector<std::vector<std::uint16_t>> blocks;
  replay_test::forEachBlock(capture, [&](const std::uint16_t* samples, std::size_t count) {
    blocks.emplace_back(samples, samples + count);
  });
  const std::unique_ptr<archive, int (*)(archive*)> zip(archive_write_new(), archive_write_free);
  if (archive_write_set_format_zip(zip.get()) != ARCHIVE_OK ||
      archive_write_set_options(zip.get(), "zip:compression=deflate,zip:compression-level=1") != ARCHIVE_OK ||
      archive_write_open_filename(zip.get(), path.c_str()) != ARCHIVE_OK) {
    std::abort();
  }
  std::string metadata = "[global]\nsigrok version=0.5.2\n\n[device 1]\ncapturefile=logic-1\ntotal probes=" +
                         std::to_string(Names.size()) + "\nsamplerate=100 MHz\ntotal analog=0\n";
  for (std::size_t k = 0; k < Names.size(); ++k) metadata += "probe" + std::to_string(k + 1) + "=" + Names[k] + "\n";
  metadata += "unitsize=2\n";
  const auto add = [&](const std::string& name, const void* data, std::size_t size) {
    const std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
    archive_entry_set_pathname(entry.get(), name.c_str());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), static_cast<la_int64_t>(size));
    if (archive_write_header(zip.get(), entry.get()) != ARCHIVE_OK ||
        archive_write_data(zip.get(), data, size) != static_cast<la_ssize_t>(size)) {
      std::abort();
    }
  };
  add("version", "2", 1);
  add("metadata", metadata.data(), metadata.size());
  unsigned member = 0;
  for (unsigned repeat = 0; repeat < repeats; ++repeat) {
    for (const auto& block : blocks) {
      add("logic-1-" + std::to_string(++member), block.data(), block.size() * sizeof(std::uint16_t));
    }
  }
  if (archive_write_close(zip.get()) != ARCHIVE_OK) std::abort();
}

class SessionFile {
 public:
  explicit SessionFile(Traffic traffic) {
    char folder[] = "/tmp/kelvari-bench-replay-XXXXXX";
    if (mkdtemp(folder) == nullptr) std::abort();
    folder_ = folder;
    auto bus = drawingMicrocontroller(traffic);
    capture_ = bus.finish();
    // Idle to the end of the last block, so that the capture repeats block by block.
    capture_.samples += replay_test::SessionBlockSamples - capture_.samples % replay_test::SessionBlockSamples;
    bytes_ = bus.bytes().size();
    replay_test::writeSession(path(), capture_, Names);
  }
  ~SessionFile() { std::filesystem::remove_all(folder_); }

  std::string path() const { return folder_ + "/bus.sr"; }
  std::string longPath() const { return folder_ + "/long.sr"; }
  const replay_test::Capture& capture() const { return capture_; }
  std::size_t bytes() const { return bytes_; }

 private:
  std::string folder_;
  replay_test::Capture capture_;
  std::size_t bytes_ = 0;
};

const SessionFile& sessionFile(Traffic traffic) {
  static const SessionFile animation(Traffic::Animation);
  static const SessionFile bursts(Traffic::Bursts);
  return traffic == Traffic::Animation ? animation : bursts;
}

class CountingSink : public replay::CycleSink {
 public:
  std::uint64_t cycles = 0;

  std::uint64_t captureBegins(const replay::CaptureInfo&) override { return replay::AllSamples; }
  void unmeasurable(replay::TimingRule) override {}
  void writeCycle(const replay::Cycle&) override { ++cycles; }
  void readCycle(const replay::Cycle&) override { ++cycles; }
  void chipReleased(std::uint64_t) override {}
  void timingViolation(const replay::TimingViolation&) override {}
  void protocolFinding(const replay::ProtocolFinding&) override {}
  void captureEnds(std::uint64_t) override {}
};

std::uint64_t replaySession(const SessionFile& file, replay::CycleSink& sink) {
  replay::CycleExtractor extractor(sink, "", {});
  return replay::readCapture(file.path(), extractor, {}).samples;
}

// What kelvari-replay does with the file, its log to /dev/null.
std::uint64_t replayLogged(const SessionFile& file, std::ostream& out) {
  replay::ModuleReplay module({}, out);
  const std::uint64_t samples = replaySession(file, module);
  out.flush();
  return samples;
}

void BM_ReplaySessionLogged(benchmark::State& state, Traffic traffic) {
  const SessionFile& file = sessionFile(traffic);  // written before the timing starts
  std::ofstream null("/dev/null");
  std::uint64_t samples = 0;
  for (auto _ : state) samples += replayLogged(file, null);
  state.SetItemsProcessed(static_cast<std::int64_t>(samples));
}
BENCHMARK_CAPTURE(BM_ReplaySessionLogged, animation, Traffic::Animation)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_ReplaySessionLogged, bursts, Traffic::Bursts)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReplaySessionCyclesOnly(benchmark::State& state, Traffic traffic) {
  const SessionFile& file = sessionFile(traffic);
  std::uint64_t samples = 0;
  for (auto _ : state) {
    CountingSink sink;
    samples += replaySession(file, sink);
    if (sink.cycles != file.bytes()) state.SkipWithError("bytes lost");
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(samples));
}
BENCHMARK_CAPTURE(BM_ReplaySessionCyclesOnly, animation, Traffic::Animation)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_ReplaySessionCyclesOnly, bursts, Traffic::Bursts)->Unit(benchmark::kMillisecond)->UseRealTime();

// 16-bit samples in memory: a change every 100 samples, as on a busy bus.
void BM_ScanSamples(benchmark::State& state) {
  class Counting : public replay::ChangeSink {
   public:
    std::uint64_t changes = 0;
    replay::Reading begin(const replay::CaptureInfo&) override { return {}; }
    void change(std::uint64_t, const replay::Levels&) override { ++changes; }
    void end(std::uint64_t) override {}
  } sink;
  std::vector<std::uint16_t> samples(std::size_t{1} << 22);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::uint16_t>(i / 100 * 0x155);
  replay::Reading reading;
  for (unsigned channel = 0; channel < 12; ++channel) reading.channels.emplace_back(channel);
  for (auto _ : state) {
    replay::SampleScanner scanner(reading, 2, sink);
    scanner.scan(reinterpret_cast<const std::uint8_t*>(samples.data()), samples.size() * 2);
    benchmark::DoNotOptimize(sink.changes);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(samples.size()));
}
BENCHMARK(BM_ScanSamples)->Unit(benchmark::kMillisecond);

// Wall time, the best of several runs each: this replay with its log, and sigrok-cli's parallel
// decoder on /WR. The runs alternate, a few replays to each sigrok-cli run, so that a spell
// of load on the machine falls on both sides alike.
void BM_AgainstSigrokCli(benchmark::State& state, Traffic traffic) {
  constexpr int Rounds = 3;
  constexpr int ReplayRunsPerRound = 5;
  const std::string sigrok = replay_test::sigrokCli();
  if (sigrok.empty()) {
    state.SkipWithError("sigrok-cli is not installed");
    return;
  }
  std::string decoder = "parallel:clk=WR";
  for (int line = 0; line < 8; ++line) decoder += ":d" + std::to_string(line) + "=D" + std::to_string(line);
  const SessionFile& file = sessionFile(traffic);  // written before the timing starts
  std::ofstream null("/dev/null");
  const auto seconds = [](const auto& run) {
    const auto start = std::chrono::steady_clock::now();
    run();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  double replaySeconds = 1e9;
  double sigrokSeconds = 1e9;
  for (auto _ : state) {
    for (int round = 0; round < Rounds; ++round) {
      for (int run = 0; run < ReplayRunsPerRound; ++run) {
        replaySeconds = std::min(replaySeconds, seconds([&] { replayLogged(file, null); }));
      }
      sigrokSeconds = std::min(sigrokSeconds, seconds([&] {
        const auto result = replay_test::runProgram(sigrok, {"-i", file.path(), "-P", decoder}, 3600);
        // sigrok-cli 0.7.2 aborts on its way out (status 134) after printing every word.
        if (result.out.empty()) state.SkipWithError(("sigrok-cli failed: " + result.err).c_str());
      }));
    }
  }
  const auto samples = static_cast<double>(file.capture().samples);
  state.counters["replay_samples_per_s"] = samples / replaySeconds;
  state.counters["sigrok_cli_samples_per_s"] = samples / sigrokSeconds;
  state.counters["ratio"] = sigrokSeconds / replaySeconds;
}
BENCHMARK_CAPTURE(BM_AgainstSigrokCli, animation, Traffic::Animation)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_AgainstSigrokCli, bursts, Traffic::Bursts)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// kelvari-replay's peak resident memory on `path`, its log to /dev/null, in MiB: its VmHWM,
// read every millisecond while it runs. Spawned, so that this process waits until the child
// has its own memory (the rusage of a child forked from here counts this process's pages).
double peakMebibytes(const std::string& path) {
  const std::string program = replay_test::replayProgram();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> arguments = {const_cast<char*>(program.c_str()), const_cast<char*>(path.c_str()), nullptr};
  pid_t child = 0;
  const int error = posix_spawn(&child, program.c_str(), &actions, nullptr, arguments.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  const std::string status = "/proc/" + std::to_string(child) + "/status";
  double peak = 0;
  for (int exit = 0;;) {
    std::ifstream file(status);
    for (std::string line; std::getline(file, line);) {
      if (line.rfind("VmHWM:", 0) == 0) peak = std::max(peak, std::stod(line.substr(6)) / 1024);  // in kB
    }
    const pid_t done = ::waitpid(child, &exit, WNOHANG);
    if (done == child) return WIFEXITED(exit) && WEXITSTATUS(exit) == 0 ? peak : -1;
    if (done < 0) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The animation for two minutes: memory must not grow with the capture.
void BM_LongCapturePeakMemory(benchmark::State& state) {
  const SessionFile& file = sessionFile(Traffic::Animation);
  if (!std::filesystem::exists(file.longPath())) {
    writeLongSession(file.longPath(), file.capture(), LongCaptureRepeats);
  }
  double shortPeak = 0;
  double longPeak = 0;
  double longSeconds = 0;
  for (auto _ : state) {
    shortPeak = peakMebibytes(file.path());
    const auto start = std::chrono::steady_clock::now();
    longPeak = peakMebibytes(file.longPath());
    longSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  if (shortPeak < 0 || longPeak < 0) state.SkipWithError("kelvari-replay failed");
  state.counters["short_samples"] = static_cast<double>(file.capture().samples);
  state.counters["long_samples"] = static_cast<double>(file.capture().samples * LongCaptureRepeats);
  state.counters["peak_rss_short_MiB"] = shortPeak;
  state.counters["peak_rss_long_MiB"] = longPeak;
  state.counters["long_samples_per_s"] = static_cast<double>(file.capture().samples * LongCaptureRepeats) / longSeconds;
}
BENCHMARK(BM_LongCapturePeakMemory)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
