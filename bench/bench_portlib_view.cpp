// The viewer's work for one frame: a consistent copy of the shared state, rendering, and the
// LCD-looking image at the window's usual scale. At 30 frames per second this is what
// lcdview spends besides painting: for this system's 240x64 glass at scale 4, and for the
// largest glass a module can have, 640x256 strapped 8x8, at the scale 2 a full-HD screen gives
// it beside the test bench.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <string>

#include "t6963/renderer.h"
#include "t6963/shared_module.h"
#include "tools/lcd_image.h"

namespace {

void BM_FrameToImage(benchmark::State& state) {
  t6963::Frame frame;
  for (std::size_t i = 0; i < frame.pixels.size(); i += 3) frame.pixels[i] = 1;
  const int scale = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(lcdview::frameToImage(frame, scale));
}
BENCHMARK(BM_FrameToImage)->Arg(1)->Arg(4)->Arg(8);

void BM_ViewerFrame(benchmark::State& state) {
  const std::string name = "/kelvari-bench-view-" + std::to_string(getpid());
  t6963::ModuleBuild build;
  build.width = static_cast<std::uint16_t>(state.range(0));
  build.height = static_cast<std::uint16_t>(state.range(1));
  build.fontWidth = static_cast<std::uint8_t>(state.range(2));
  build.ramBytes = t6963::MaxRamBytes;
  const auto columns = static_cast<std::uint8_t>(build.displayedColumns());
  {
    auto module = t6963::SharedModule::open(name, t6963::PowerOnContents::Random, build);
    module.state().controller.displayMode = 0x9F;
    module.state().controller.textArea = columns;
    module.state().controller.graphicArea = columns;
    module.state().controller.graphicHome = 0x2000;
    for (auto _ : state) {
      const auto snapshot = module.snapshot();
      benchmark::DoNotOptimize(lcdview::frameToImage(t6963::render(snapshot, true), static_cast<int>(state.range(3))));
    }
  }
  t6963::SharedModule::remove(name);
}
BENCHMARK(BM_ViewerFrame)->ArgNames({"width", "height", "font", "scale"})->Args({240, 64, 6, 4})->Args({640, 256, 8, 2})->Unit(benchmark::kMicrosecond);

}  // namespace
