// The port library the component benchmark binds: the twelve entry points over a small
// latch table, as cheap as an entry point can be, so that the benchmark measures the call.
#include <cstdint>

#define BENCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::uint32_t latches[4];
std::uint32_t& latch(std::uint32_t port) { return latches[port & 3]; }
}  // namespace

BENCH_EXPORT std::uint8_t DlPortReadPortUchar(std::uint32_t port) { return static_cast<std::uint8_t>(latch(port)); }
BENCH_EXPORT std::uint16_t DlPortReadPortUshort(std::uint32_t port) { return static_cast<std::uint16_t>(latch(port)); }
BENCH_EXPORT std::uint32_t DlPortReadPortUlong(std::uint32_t port) { return latch(port); }
BENCH_EXPORT void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) { latch(port) = value; }
BENCH_EXPORT void DlPortWritePortUshort(std::uint32_t port, std::uint16_t value) { latch(port) = value; }
BENCH_EXPORT void DlPortWritePortUlong(std::uint32_t port, std::uint32_t value) { latch(port) = value; }
BENCH_EXPORT void DlPortReadPortBufferUchar(std::uint32_t, std::uint8_t*, std::uint32_t) {}
BENCH_EXPORT void DlPortReadPortBufferUshort(std::uint32_t, std::uint16_t*, std::uint32_t) {}
BENCH_EXPORT void DlPortReadPortBufferUlong(std::uint32_t, std::uint32_t*, std::uint32_t) {}
BENCH_EXPORT void DlPortWritePortBufferUchar(std::uint32_t, const std::uint8_t*, std::uint32_t) {}
BENCH_EXPORT void DlPortWritePortBufferUshort(std::uint32_t, const std::uint16_t*, std::uint32_t) {}
BENCH_EXPORT void DlPortWritePortBufferUlong(std::uint32_t, const std::uint32_t*, std::uint32_t) {}
