// TDLPrinterPortIO on the minimal benchmark library: a pin read or write against the single
// port call it is built on (one read for GetPin, a read and a write for SetPin), the printer
// strobe (held for at least 1 ms, so at most a thousand characters a second), and detection
// of three ports by either registry walk.
#include "portio/tdlprinterportio.h"
#include "winapi/fake.h"
#include "winapi/registry_image.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <stdexcept>

namespace {

const std::vector<winapi::ParallelPort> Ports{{0, 0x378}, {1, 0x278}, {2, 0x3BC}};

std::unique_ptr<TDLPrinterPortIO> OpenPort(bool nt) {
  winapi::fake::setNtFamily(nt);
  winapi::fake::loadRegistry(winapi::ParallelPortImage(Ports, nt));
  auto port = std::make_unique<TDLPrinterPortIO>(nullptr);
  port->SetDLLPath(BENCH_PORTIO_LIB);
  port->OpenDriver();
  if (!port->ActiveHW() || port->LPTBasePort() != 0x378) throw std::runtime_error("no port at 0x378");
  return port;
}

TDLPrinterPortIO& Port() {
  static const std::unique_ptr<TDLPrinterPortIO> port = OpenPort(false);
  return *port;
}

void BM_GetPortByte(benchmark::State& state) {
  TDLPrinterPortIO& port = Port();
  for (auto _ : state) benchmark::DoNotOptimize(port.GetPortByte(0x379));
}

void BM_GetPin(benchmark::State& state) {
  TDLPrinterPortIO& port = Port();
  std::uint8_t pin = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(port.GetPin(static_cast<std::uint8_t>(1 + pin % 17)));
    ++pin;
  }
}

void BM_SetPin(benchmark::State& state) {
  TDLPrinterPortIO& port = Port();
  std::uint8_t step = 0;
  for (auto _ : state) {
    port.SetPin(static_cast<std::uint8_t>(2 + step % 8), (step & 8) != 0);
    ++step;
  }
}

void BM_LPTPrintChar(benchmark::State& state) {
  TDLPrinterPortIO& port = Port();
  for (auto _ : state) benchmark::DoNotOptimize(port.LPTPrintChar('A'));
  state.SetItemsProcessed(state.iterations());
}

void BM_DetectPorts(benchmark::State& state) {
  const bool nt = state.range(0) != 0;
  const std::unique_ptr<TDLPrinterPortIO> port = OpenPort(nt);
  for (auto _ : state) {
    port->DetectPorts();
    winapi::fake::clearCallLog();
  }
  if (port->LPTNumPorts() != Ports.size()) state.SkipWithError("ports not found");
}

BENCHMARK(BM_GetPortByte);
BENCHMARK(BM_GetPin);
BENCHMARK(BM_SetPin);
BENCHMARK(BM_LPTPrintChar)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DetectPorts)->ArgName("nt")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
