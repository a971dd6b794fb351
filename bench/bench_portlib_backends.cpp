// Each backend of the port library on its fake, driven by the wire protocol's byte (ECR
// read-modify-write, one ready poll, data write, five control writes: 13 port accesses):
// port accesses per second, and system calls per LCD byte (counter syscalls_per_byte).
//   ppdev     the real mapping on the fake parport of the tests (each call counted)
//   raw       pread/pwrite on a regular file through the tests' switch (calls counted by the
//             kernel: syscr + syscw of /proc/self/io)
//   virtual   the display module in a private shared-memory segment (no calls)
//   shadow    ppdev on the fake with the module watching
// One access on a real port takes about 1 microsecond on the ISA-timed bus, a bound none
// of these approach.
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include <cstdint>
#include <functional>
#include <fstream>
#include <memory>
#include <string>

#include "../tests/portlib/fake_parport.h"
#include "portlib/device_backend.h"
#include "portlib/parport_backend.h"
#include "portlib/shadow_backend.h"
#include "portlib/virtual_backend.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"

namespace {

using namespace t6963c;

constexpr std::int64_t AccessesPerByte = 13;

void ignore(std::string_view) {}

// One byte as the test bench sends it; a status of 0x03 answers ready at the first poll.
void sendByte(portlib::PortBackend& backend, std::uint8_t value, std::uint8_t cd) {
  const std::uint8_t ecrValue = backend.read(EcrPort);
  backend.write(EcrPort, static_cast<std::uint8_t>((ecrValue & ecr::KeepMask) | ecr::ModeByte));
  backend.write(ControlPort, ctl::DirInput | ctl::Cd | ctl::Ce);
  backend.write(ControlPort, ctl::DirInput | ctl::Cd | ctl::Ce | ctl::Rd);
  benchmark::DoNotOptimize(backend.read(DataPort));
  backend.write(ControlPort, ctl::DirInput | ctl::Cd | ctl::Ce);
  backend.write(ControlPort, 0x00);
  backend.write(DataPort, value);
  backend.write(ControlPort, cd);
  backend.write(ControlPort, static_cast<std::uint8_t>(cd | ctl::Ce));
  backend.write(ControlPort, static_cast<std::uint8_t>(cd | ctl::Ce | ctl::Wr));
  backend.write(ControlPort, static_cast<std::uint8_t>(cd | ctl::Ce));
  backend.write(ControlPort, 0x00);
}

void run(benchmark::State& state, portlib::PortBackend& backend, const std::function<long long()>& calls) {
  const long long before = calls();
  std::uint8_t value = 0;
  for (auto _ : state) {
    sendByte(backend, value++, 0x00);
    sendByte(backend, cmd::WriteIncrement, ctl::Cd);
  }
  const auto bytes = static_cast<double>(state.iterations() * 2);
  state.SetItemsProcessed(state.iterations() * 2 * AccessesPerByte);
  state.counters["syscalls_per_byte"] = static_cast<double>(calls() - before) / bytes;
}

struct Segment {
  std::string name = "/kelvari-bench-backends-" + std::to_string(getpid());
  Segment() { t6963::SharedModule::remove(name); }
  ~Segment() { t6963::SharedModule::remove(name); }
  portlib::Settings settings() const {
    portlib::Settings settings;
    settings.segmentName = name;
    settings.powerOn = t6963::PowerOnContents::Zero;
    settings.busyAccesses = 0;
    settings.disconnected = false;
    return settings;
  }
};

const portlib::ParportEntry Card{"/dev/parport0", 0x3010, 0x3000};

void BM_Ppdev(benchmark::State& state) {
  portlib_test::FakeParport fake;
  fake.recording = false;
  portlib::ParportBackend backend(fake, Card, ignore);
  run(state, backend, [&] { return fake.callCount; });
}
BENCHMARK(BM_Ppdev);

// Read and write calls this process has made, as the kernel counts them.
long long readWriteCalls() {
  std::ifstream io("/proc/self/io");
  long long calls = 0;
  for (std::string key; io >> key;) {
    long long value = 0;
    io >> value;
    if (key == "syscr:" || key == "syscw:") calls += value;
  }
  return calls;
}

void BM_Raw(benchmark::State& state) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("ports").toStdString();
  std::ofstream(path, std::ios::binary).put('\0');
  portlib::DeviceBackend backend(path, ignore, portlib::DeviceFiles::RegularFilesForTests);
  run(state, backend, readWriteCalls);
}
BENCHMARK(BM_Raw);

void BM_Virtual(benchmark::State& state) {
  Segment segment;
  portlib::VirtualModuleBackend backend(segment.settings(), ignore);
  run(state, backend, [] { return 0LL; });
}
BENCHMARK(BM_Virtual);

void BM_PpdevWithShadow(benchmark::State& state) {
  Segment segment;
  portlib_test::FakeParport fake;
  fake.recording = false;
  portlib::ShadowBackend backend(std::make_unique<portlib::ParportBackend>(fake, Card, ignore),
                                 std::make_unique<portlib::VirtualModuleBackend>(segment.settings(), ignore));
  run(state, backend, [&] { return fake.callCount; });
}
BENCHMARK(BM_PpdevWithShadow);

}  // namespace
