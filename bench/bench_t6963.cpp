// Speed of the virtual display module: port accesses into the shared-memory model (the
// test bench's own protocol, and bare status polls), each with the bus trace recording
// into the segment's ring (recording:1, as the port library runs it) and without a trace
// (recording:0: the same branch-free code stores into a one-slot sink, so the pair shows
// what the ring's memory costs), a whole graphic clear, decoding the bus trace, rendering
// one frame, and a consistent copy with and without a writer streaming beside it.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "t6963/bus_decoder.h"
#include "t6963/module.h"
#include "t6963/renderer.h"
#include "t6963/seqlock.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"

namespace {

using namespace t6963c;

constexpr std::uint8_t StatusSelect = ctl::DirInput | ctl::Cd | ctl::Ce;
constexpr std::uint8_t DataPulse[] = {0, ctl::Ce, ctl::Ce | ctl::Wr, ctl::Ce, 0};
constexpr std::uint8_t CommandPulse[] = {ctl::Cd, ctl::Cd | ctl::Ce, ctl::Cd | ctl::Ce | ctl::Wr, ctl::Cd | ctl::Ce, 0};

// A segment of its own for each benchmark, removed afterwards.
class Segment {
 public:
  explicit Segment(const char* what)
      : name_("/kelvari-bench-" + std::to_string(::getpid()) + "-" + what),
        shared_((t6963::SharedModule::remove(name_), t6963::SharedModule::open(name_, t6963::PowerOnContents::Zero))) {}
  ~Segment() { t6963::SharedModule::remove(name_); }
  t6963::SharedModule& shared() { return shared_; }

 private:
  std::string name_;
  t6963::SharedModule shared_;
};

// One byte with the bench's protocol; returns the port accesses it took.
int sendByte(t6963::Module& module, std::uint8_t value, const std::uint8_t (&pulse)[5]) {
  int accesses = 2;
  const std::uint8_t ecrValue = module.read(EcrPort);
  module.write(EcrPort, static_cast<std::uint8_t>((ecrValue & ecr::KeepMask) | ecr::ModeByte));
  std::uint8_t status = 0;
  do {
    module.write(ControlPort, StatusSelect);
    module.write(ControlPort, StatusSelect | ctl::Rd);
    status = module.read(DataPort);
    module.write(ControlPort, StatusSelect);
    accesses += 4;
  } while ((status & sta::Ready) != sta::Ready);
  module.write(ControlPort, 0);
  module.write(DataPort, value);
  for (std::uint8_t control : pulse) module.write(ControlPort, control);
  return accesses + 7;
}

// The bus side of a segment, recording into its bus trace when the benchmark's argument is 1.
t6963::BusTrace* traceIf(const benchmark::State& state, Segment& segment) {
  return state.range(0) != 0 ? &segment.shared().trace() : nullptr;
}

void BM_PortAccessesBenchProtocol(benchmark::State& state) {
  Segment segment("protocol");
  t6963::Module module(segment.shared().state(), traceIf(state, segment));
  std::int64_t accesses = 0;
  std::uint8_t value = 0;
  for (auto _ : state) {
    accesses += sendByte(module, value++, DataPulse);
    accesses += sendByte(module, cmd::WriteIncrement, CommandPulse);
  }
  state.SetItemsProcessed(accesses);
  state.counters["violations"] = segment.shared().state().violations.total;
}
BENCHMARK(BM_PortAccessesBenchProtocol)->ArgName("recording")->Arg(0)->Arg(1);

void BM_PortAccessesStatusPoll(benchmark::State& state) {
  Segment segment("poll");
  t6963::Module module(segment.shared().state(), traceIf(state, segment));
  module.write(EcrPort, ecr::ModeByte);
  for (auto _ : state) {
    module.write(ControlPort, StatusSelect);
    module.write(ControlPort, StatusSelect | ctl::Rd);
    benchmark::DoNotOptimize(module.read(DataPort));
    module.write(ControlPort, StatusSelect);
  }
  state.SetItemsProcessed(4 * state.iterations());
}
BENCHMARK(BM_PortAccessesStatusPoll)->ArgName("recording")->Arg(0)->Arg(1);

// The bench's graphic clear: pointer to 0x0200, then 2560 zero bytes each with 0xC0.
void BM_GraphicClear(benchmark::State& state) {
  Segment segment("clear");
  t6963::Module module(segment.shared().state(), &segment.shared().trace());
  std::int64_t accesses = 0;
  for (auto _ : state) {
    accesses += sendByte(module, 0x00, DataPulse);
    accesses += sendByte(module, 0x02, DataPulse);
    accesses += sendByte(module, cmd::SetAddressPointer, CommandPulse);
    for (int i = 0; i < Columns * Height; ++i) {
      accesses += sendByte(module, 0x00, DataPulse);
      accesses += sendByte(module, cmd::WriteIncrement, CommandPulse);
    }
  }
  state.SetItemsProcessed(accesses);
}
BENCHMARK(BM_GraphicClear)->Unit(benchmark::kMillisecond);

// Decoding a full ring of the bench's protocol into the bus log, per record.
void BM_DecodeBusLog(benchmark::State& state) {
  Segment segment("decode");
  t6963::Module module(segment.shared().state(), &segment.shared().trace());
  while (t6963::recordedCount(segment.shared().trace()) < t6963::TraceCapacity) {
    sendByte(module, 0x21, DataPulse);
    sendByte(module, cmd::WriteIncrement, CommandPulse);
  }
  const auto trace = t6963::copyTrace(segment.shared().trace(), t6963::StandardBuild);
  for (auto _ : state) benchmark::DoNotOptimize(t6963::decodeBusLog(trace));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(trace.records.size()));
}
BENCHMARK(BM_DecodeBusLog)->Unit(benchmark::kMillisecond);

t6963::ModuleState busyScene(std::uint8_t mode) {
  t6963::ModuleState scene;
  t6963::powerOn(scene, t6963::PowerOnContents::Random, 7, 0);
  t6963::ControllerRegisters& c = scene.controller;
  c.textHome = 0x0000;
  c.textArea = Columns;
  c.graphicHome = 0x0200;
  c.graphicArea = Columns;
  c.modeSet = mode;
  c.displayMode = 0x9F;
  c.cursorLines = 8;
  return scene;
}

void BM_RenderFrame(benchmark::State& state) {
  const t6963::ModuleState scene = busyScene(static_cast<std::uint8_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(t6963::render(scene, true));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RenderFrame)->Arg(cmd::ModeSet)->Arg(cmd::ModeSet | cmd::ModeTextAttribute)->Arg(cmd::ModeSet | cmd::ModeExternalCg)->Unit(benchmark::kMicrosecond);

void BM_SnapshotIdle(benchmark::State& state) {
  Segment segment("snapshot");
  for (auto _ : state) benchmark::DoNotOptimize(segment.shared().snapshot());
}
BENCHMARK(BM_SnapshotIdle)->Unit(benchmark::kMicrosecond);

// A consistent copy while another thread streams bytes into the module at full speed.
void BM_SnapshotWhileStreaming(benchmark::State& state) {
  Segment segment("streaming");
  std::atomic<bool> stop{false};
  std::atomic<std::int64_t> streamed{0};
  std::thread writer([&] {
    t6963::Module module(segment.shared().state(), &segment.shared().trace());
    std::int64_t accesses = 0;
    while (!stop.load(std::memory_order_relaxed)) {
      accesses += sendByte(module, 0x2A, DataPulse);
      accesses += sendByte(module, cmd::WriteIncrement, CommandPulse);
    }
    streamed = accesses;
  });
  for (auto _ : state) benchmark::DoNotOptimize(segment.shared().snapshot());
  stop = true;
  writer.join();
  state.counters["writer_accesses"] = benchmark::Counter(static_cast<double>(streamed.load()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SnapshotWhileStreaming)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
