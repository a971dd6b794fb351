// Port accesses through kelvari-port's two paths, into the shared-memory display module:
// ppdev ioctls on an opened /dev/parportN, and in/out instructions trapped after ioperm
// (one SIGSEGV each). The interposed calls are linked into this program, so they stand in
// front of the C library exactly as when preloaded. The module runs on its own segment,
// zeroed at power-on, with no busy time.
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/io.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "portlib/settings.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"

namespace {

struct Module {
  std::string segment = "/kelvari-bench-portshim-" + std::to_string(getpid());
  Module() {
    setenv(portlib::EnvSegment, segment.c_str(), 1);
    setenv(portlib::EnvPowerOn, "zero", 1);
    setenv(portlib::EnvBusy, "0", 1);
    setenv(portlib::EnvDisconnected, "0", 1);
  }
  ~Module() { t6963::SharedModule::remove(segment); }
};

void attach() { static Module module; }

void fail(const char* what) {
  std::perror(what);
  std::exit(1);
}

// A data write and a status read through PPWDATA and PPRSTATUS.
void BM_PpdevAccess(benchmark::State& state) {
  attach();
  const int fd = open("/dev/parport0", O_RDWR);
  if (fd < 0 || ioctl(fd, PPCLAIM) != 0) fail("bench_portshim: /dev/parport0");
  std::uint8_t value = 0;
  for (auto _ : state) {
    ioctl(fd, PPWDATA, &value);
    ioctl(fd, PPRSTATUS, &value);
    benchmark::DoNotOptimize(value);
  }
  ioctl(fd, PPRELEASE);
  close(fd);
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_PpdevAccess);

// A data write and a status read as trapped out and in instructions.
void BM_DirectIoAccess(benchmark::State& state) {
  attach();
  if (ioperm(t6963c::DataPort, 3, 1) != 0) fail("bench_portshim: ioperm");
  std::uint8_t value = 0;
  for (auto _ : state) {
    outb(value, t6963c::DataPort);
    value = inb(t6963c::StatusPort);
    benchmark::DoNotOptimize(value);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_DirectIoAccess);

}  // namespace
