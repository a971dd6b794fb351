// The viewer's work for one frame: a consistent copy of the shared state, rendering, and the
// LCD-looking image at the window's usual scale. At 30 frames per second this is what
// lcdview spends besides painting.
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
  {
    auto module = t6963::SharedModule::open(name, t6963::PowerOnContents::Random);
    module.state().controller.displayMode = 0x9F;
    module.state().controller.textArea = 40;
    module.state().controller.graphicArea = 40;
    module.state().controller.graphicHome = 0x0200;
    for (auto _ : state) {
      const auto snapshot = module.snapshot();
      benchmark::DoNotOptimize(lcdview::frameToImage(t6963::render(snapshot, true), 4));
    }
  }
  t6963::SharedModule::remove(name);
}
BENCHMARK(BM_ViewerFrame);

}  // namespace
