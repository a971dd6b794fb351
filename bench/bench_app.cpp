// The main window's long display operations, "ClearLCDGraph" (goal: under 2 ms) and
// "Pixels" (goal: under 8 ms), through the port component, DLPortIO.dll and the virtual
// display module with its default busy time, on a segment of this benchmark's own. The
// port accesses of one operation are counted once beforehand, to report them per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "app/lcd_operations.h"
#include "portio/tdlportio.h"
#include "t6963/shared_module.h"

namespace {

class Display {
 public:
  Display() {
    setenv("DLPORTIO_LCD_SEGMENT", segment_.c_str(), 1);
    setenv("DLPORTIO_LCD_POWERON", "zero", 1);
    setenv("DLPORTIO_LCD_DISCONNECTED", "0", 1);
    port_ = std::make_unique<TDLPortIO>(nullptr);
    port_->OpenDriver();
    if (!port_->ActiveHW()) {
      std::fprintf(stderr, "bench_app: DLPortIO.dll could not be opened\n");
      std::exit(1);
    }
    kelvari::LcdOperations<TDLPortIO>(*port_).LcdInit();
  }
  ~Display() {
    port_.reset();
    t6963::SharedModule::remove(segment_);
  }
  TDLPortIO& port() { return *port_; }

 private:
  std::string segment_ = "/kelvari-bench-app-" + std::to_string(getpid());
  std::unique_ptr<TDLPortIO> port_;
};

Display& display() {
  static Display instance;
  return instance;
}

// Forwards to the component and counts the accesses.
struct CountingPort {
  TDLPortIO& port;
  std::uint64_t accesses = 0;
  std::uint8_t GetPortByte(std::uint16_t number) {
    ++accesses;
    return port.GetPortByte(number);
  }
  void SetPortByte(std::uint16_t number, std::uint8_t value) {
    ++accesses;
    port.SetPortByte(number, value);
  }
};

template <typename Operation>
void runOperation(benchmark::State& state, Operation operation) {
  CountingPort counter{display().port()};
  kelvari::LcdOperations<CountingPort> counted(counter);
  operation(counted);

  kelvari::LcdOperations<TDLPortIO> lcd(display().port());
  for (auto _ : state) operation(lcd);
  state.counters["port_accesses"] = static_cast<double>(counter.accesses);
  state.counters["port_accesses_per_s"] =
      benchmark::Counter(static_cast<double>(counter.accesses) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}

void BM_ClearLCDGraph(benchmark::State& state) {
  runOperation(state, [](auto& lcd) { lcd.LcdClearGraphics(); });
}
BENCHMARK(BM_ClearLCDGraph)->Unit(benchmark::kMillisecond);

void BM_Pixels(benchmark::State& state) {
  runOperation(state, [](auto& lcd) { lcd.LcdDrawStripePattern(); });
}
BENCHMARK(BM_Pixels)->Unit(benchmark::kMillisecond);

}  // namespace
