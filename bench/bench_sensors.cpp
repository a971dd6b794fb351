// One press of the sensor window's "Update" end to end: the reader's open, map and copy of
// a block of this benchmark's own, the thirteen boxes, and the six-row page through the
// port component, DLPortIO.dll and the virtual display module (default busy time) on a
// segment of this benchmark's own. The port accesses of one press are reported.
#include <QAbstractButton>
#include <QLineEdit>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/start_up.h"
#include "sensors/mbm_shared_data.h"
#include "t6963/shared_module.h"
#include "winapi/fake.h"

namespace {

class SensorBench {
 public:
  SensorBench() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("DLPORTIO_LCD_SEGMENT", segment_.c_str(), 1);
    setenv("DLPORTIO_LCD_POWERON", "zero", 1);
    setenv("DLPORTIO_LCD_DISCONNECTED", "0", 1);
    winapi::fake::setSharedMemoryPrefix("kelvari-bench-" + std::to_string(getpid()) + "-");
    block_ = winapi::fake::sharedMemoryObjectName(kelvari::mbm::BlockName);
    writeBlock();
    application_ = std::make_unique<kelvari::Application>(argc_, argv_);
    windows_ = std::make_unique<kelvari::MainWindows>();
    press(windows_->form1(), "StartLPTDriver_Button1");
    press(windows_->form1(), "InitLCD_Button1");
    if (windows_->form1().findChild<QLineEdit*>("InitLCD_Edit1")->text() != "OK") {
      std::fprintf(stderr, "bench_sensors: the virtual display could not be initialised\n");
      std::exit(1);
    }
    module_ = std::make_unique<t6963::SharedModule>(t6963::SharedModule::open(segment_, t6963::PowerOnContents::Zero));
  }
  ~SensorBench() {
    windows_.reset();
    application_.reset();
    module_.reset();
    t6963::SharedModule::remove(segment_);
    shm_unlink(block_.c_str());
    close(blockDescriptor_);
  }

  void update() { press(windows_->form2(), "Update_Button1"); }
  std::uint64_t portAccesses() const { return module_->snapshot().bus.accessCount; }

 private:
  static void press(QWidget& window, const char* button) { window.findChild<QAbstractButton*>(button)->click(); }

  // Written and held as a running publisher holds it.
  void writeBlock() {
    kelvari::mbm::MbmSharedData data;
    for (std::size_t i = 0; i < kelvari::mbm::SensorCount; ++i) {
      data.temperatures[i] = 40 + static_cast<int>(i);
      data.fanSpeeds[i] = 2400 + static_cast<int>(i);
      data.voltages[i] = 1.648 + static_cast<double>(i);
    }
    const auto bytes = kelvari::mbm::encode(data);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    blockDescriptor_ = shm_open(block_.c_str(), O_RDWR | O_CREAT, 0600);
    if (blockDescriptor_ < 0 || fcntl(blockDescriptor_, F_OFD_SETLK, &lock) != 0 ||
        ftruncate(blockDescriptor_, static_cast<off_t>(bytes.size())) != 0 ||
        pwrite(blockDescriptor_, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
      std::fprintf(stderr, "bench_sensors: cannot write the block %s\n", block_.c_str());
      std::exit(1);
    }
  }

  std::string segment_ = "/kelvari-bench-sensors-" + std::to_string(getpid());
  std::string block_;
  int blockDescriptor_ = -1;
  int argc_ = 1;
  char name_[16] = "bench_sensors";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<kelvari::Application> application_;
  std::unique_ptr<kelvari::MainWindows> windows_;
  std::unique_ptr<t6963::SharedModule> module_;
};

void BM_UpdatePress(benchmark::State& state) {
  SensorBench bench;
  const std::uint64_t before = bench.portAccesses();
  bench.update();
  const std::uint64_t perPress = bench.portAccesses() - before;
  for (auto _ : state) bench.update();
  state.counters["port_accesses"] = static_cast<double>(perPress);
}
BENCHMARK(BM_UpdatePress)->Unit(benchmark::kMillisecond);

}  // namespace
