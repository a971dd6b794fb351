// Port accesses per second through DLPortIO.dll into the shared-memory display module:
// the library is loaded by dlopen and its entry points bound by dlsym, as the port
// component does. The module runs on its own segment, zeroed at power-on, with no busy time.
#include <dlfcn.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "portlib/dlportio.h"
#include "portlib/settings.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"

namespace {

struct Library {
  std::string segment = "/kelvari-bench-portlib-" + std::to_string(getpid());
  void* handle = nullptr;
  DlPortReadPortUcharFn read = nullptr;
  DlPortWritePortUcharFn write = nullptr;

  Library() {
    setenv(portlib::EnvSegment, segment.c_str(), 1);
    setenv(portlib::EnvPowerOn, "zero", 1);
    setenv(portlib::EnvBusy, "0", 1);
    setenv(portlib::EnvDisconnected, "0", 1);
    handle = dlopen(DLPORTIO_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "bench_portlib: %s\n", dlerror());
      std::exit(1);
    }
    read = reinterpret_cast<DlPortReadPortUcharFn>(dlsym(handle, dlportio::EntryPointNames[0]));
    write = reinterpret_cast<DlPortWritePortUcharFn>(dlsym(handle, dlportio::EntryPointNames[3]));
  }
  ~Library() {
    dlclose(handle);
    t6963::SharedModule::remove(segment);
  }
};

Library& library() {
  static Library instance;
  return instance;
}

// Writes of the control register, as the strobes of a byte transfer.
void BM_WritePortUchar(benchmark::State& state) {
  auto& dll = library();
  for (auto _ : state) {
    dll.write(t6963c::ControlPort, 0x00);
    dll.write(t6963c::ControlPort, t6963c::ctl::Ce);
  }
  state.SetItemsProcessed(state.iterations() * 2);
}
BENCHMARK(BM_WritePortUchar);

// Status reads with the read strobe held, as the ready poll makes them: in byte mode, with
// the port listening.
void BM_ReadStatus(benchmark::State& state) {
  auto& dll = library();
  constexpr std::uint8_t readStatus = t6963c::ctl::DirInput | t6963c::ctl::Cd | t6963c::ctl::Ce | t6963c::ctl::Rd;
  dll.write(t6963c::EcrPort, t6963c::ecr::ModeByte);
  dll.write(t6963c::ControlPort, readStatus);
  for (auto _ : state) benchmark::DoNotOptimize(dll.read(t6963c::DataPort));
  dll.write(t6963c::ControlPort, 0x00);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadStatus);

// One data byte with the full protocol: ECR read-modify-write, one ready poll, the data
// write and the five control writes (13 accesses); each byte followed by the command that
// stores it, so the model does all of its work.
void BM_DataByteWithProtocol(benchmark::State& state) {
  auto& dll = library();
  using namespace t6963c;
  std::int64_t accesses = 0;
  const auto sendByte = [&](std::uint8_t value, std::uint8_t cd) {
    const std::uint8_t ecrValue = dll.read(EcrPort);
    dll.write(EcrPort, static_cast<std::uint8_t>((ecrValue & ecr::KeepMask) | ecr::ModeByte));
    std::uint8_t status = 0;
    do {
      dll.write(ControlPort, ctl::DirInput | ctl::Cd | ctl::Ce);
      dll.write(ControlPort, ctl::DirInput | ctl::Cd | ctl::Ce | ctl::Rd);
      status = dll.read(DataPort);
      dll.write(ControlPort, ctl::DirInput | ctl::Cd | ctl::Ce);
      accesses += 4;
    } while ((status & sta::Ready) != sta::Ready);
    dll.write(ControlPort, 0x00);
    dll.write(DataPort, value);
    dll.write(ControlPort, cd);
    dll.write(ControlPort, static_cast<std::uint8_t>(cd | ctl::Ce));
    dll.write(ControlPort, static_cast<std::uint8_t>(cd | ctl::Ce | ctl::Wr));
    dll.write(ControlPort, static_cast<std::uint8_t>(cd | ctl::Ce));
    dll.write(ControlPort, 0x00);
    accesses += 9;
  };
  std::uint8_t value = 0;
  for (auto _ : state) {
    sendByte(value++, 0x00);
    sendByte(cmd::WriteIncrement, ctl::Cd);
  }
  state.SetItemsProcessed(accesses);
}
BENCHMARK(BM_DataByteWithProtocol);

}  // namespace
