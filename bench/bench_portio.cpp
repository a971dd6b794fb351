// Single-byte port access through TDLPortIO against a raw call of the same entry point of
// the same loaded library: the component should add nothing (goal: at most 5 % slower).
// Measured on two libraries: a minimal one whose entry points cost almost nothing (so the
// call itself is all there is to see), and the real DLPortIO.dll into the virtual module.
#include "portio/tdlportio.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace {

constexpr std::uint16_t FirstPort = 0x378;

// The component, opened on the benchmark library, and the library's own entry points.
struct Bench {
  explicit Bench(const char* libraryFolder) : component(nullptr) {
    component.SetDLLPath(libraryFolder);
    component.OpenDriver();
    const std::string file = std::string(libraryFolder) + "/" + LibraryFileName;
    library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!component.ActiveHW() || library == nullptr) throw std::runtime_error("cannot open " + file);
    read = reinterpret_cast<DlPortReadPortUcharFn>(::dlsym(library, dlportio::EntryPointNames[0]));
    write = reinterpret_cast<DlPortWritePortUcharFn>(::dlsym(library, dlportio::EntryPointNames[3]));
  }
  ~Bench() { ::dlclose(library); }

  TDLPortIO component;
  void* library = nullptr;
  DlPortReadPortUcharFn read = nullptr;
  DlPortWritePortUcharFn write = nullptr;
};

enum class Library : std::int64_t { Minimal, PortLibrary };

Bench& bench(const benchmark::State& state) {
  static Bench minimal(BENCH_PORTIO_LIB);
  static Bench portLibrary(BENCH_PORT_LIBRARY_DIR);
  return static_cast<Library>(state.range(0)) == Library::Minimal ? minimal : portLibrary;
}

void BM_RawRead(benchmark::State& state) {
  const DlPortReadPortUcharFn read = bench(state).read;
  std::uint16_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(read(static_cast<std::uint16_t>(FirstPort + (offset++ & 3))));
  }
}

// A program that binds the entry point itself keeps the address in a variable that, like
// the component's slot, is read again after every call into the library.
DlPortReadPortUcharFn boundRead = nullptr;

void BM_RawReadThroughVariable(benchmark::State& state) {
  boundRead = bench(state).read;
  std::uint16_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(boundRead(static_cast<std::uint16_t>(FirstPort + (offset++ & 3))));
  }
}

void BM_ComponentRead(benchmark::State& state) {
  TDLPortIO& component = bench(state).component;
  std::uint16_t offset = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(component.GetPortByte(static_cast<std::uint16_t>(FirstPort + (offset++ & 3))));
  }
}

void BM_RawWrite(benchmark::State& state) {
  const DlPortWritePortUcharFn write = bench(state).write;
  std::uint16_t offset = 0;
  for (auto _ : state) {
    write(static_cast<std::uint16_t>(FirstPort + (offset & 3)), static_cast<std::uint8_t>(offset));
    ++offset;
  }
}

void BM_ComponentWrite(benchmark::State& state) {
  TDLPortIO& component = bench(state).component;
  std::uint16_t offset = 0;
  for (auto _ : state) {
    component.SetPortByte(static_cast<std::uint16_t>(FirstPort + (offset & 3)), static_cast<std::uint8_t>(offset));
    ++offset;
  }
}

BENCHMARK(BM_RawRead)->ArgName("library")->Arg(0)->Arg(1);
BENCHMARK(BM_RawReadThroughVariable)->ArgName("library")->Arg(0)->Arg(1);
BENCHMARK(BM_ComponentRead)->ArgName("library")->Arg(0)->Arg(1);
BENCHMARK(BM_RawWrite)->ArgName("library")->Arg(0)->Arg(1);
BENCHMARK(BM_ComponentWrite)->ArgName("library")->Arg(0)->Arg(1);

}  // namespace
