// Power-on reset, live settings and violation texts of the module state.
#include "t6963/module_state.h"

#include <time.h>

#include <cstdio>

#include "t6963/atomic_word.h"

namespace t6963 {
namespace {

// splitmix64: a small, well-mixed generator for the power-on garbage in RAM.
std::uint64_t nextRandom(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

}  // namespace

void powerOn(ModuleState& state, PowerOnContents contents, std::uint64_t seed, Nanoseconds now) {
  state.controller = ControllerRegisters{};
  state.violations = Violations{};
  state.powerOnAccess = state.bus.accessCount;
  state.powerOnNs = now;
  if (contents == PowerOnContents::Zero) {
    state.ram.fill(0);
  } else {
    std::uint64_t generator = seed;
    for (std::size_t i = 0; i < state.ram.size(); i += sizeof(std::uint64_t)) {
      std::uint64_t word = nextRandom(generator);
      for (std::size_t b = 0; b < sizeof(std::uint64_t); ++b) {
        state.ram[i + b] = static_cast<std::uint8_t>(word);
        word >>= 8;
      }
    }
  }
  ++state.powerOnGeneration;
}

Nanoseconds monotonicNow() noexcept {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return Nanoseconds{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

void recordViolation(ModuleState& state, const ViolationRecord& record) {
  Violations& v = state.violations;
  v.recent[v.total % ViolationHistorySize] = record;
  ++v.counts[static_cast<std::size_t>(record.kind)];
  ++v.total;
}

void setBusyAccesses(ModuleState& state, std::uint32_t accesses) {
  detail::atomicWord(state.settings.busyAccesses).store(accesses, std::memory_order_relaxed);
}

void setBlinkHalfPeriodAccesses(ModuleState& state, std::uint32_t accesses) {
  detail::atomicWord(state.settings.blinkHalfPeriodAccesses).store(accesses, std::memory_order_relaxed);
}

void setDisconnected(ModuleState& state, bool disconnected) {
  detail::atomicWord(state.settings.disconnected).store(disconnected ? 1U : 0U, std::memory_order_relaxed);
}

std::string_view violationName(ViolationKind kind) {
  switch (kind) {
    case ViolationKind::BusContention: return "bus contention";
    case ViolationKind::StrobeWithoutCe: return "strobe without /CE";
    case ViolationKind::WriteWhileBusy: return "byte sent while busy";
    case ViolationKind::ReadWithoutByteMode: return "data read without byte mode";
    case ViolationKind::CommandInAutoMode: return "command in auto mode";
    case ViolationKind::UnknownCommand: return "unknown command";
  }
  return "unknown violation";
}

std::string describe(const ViolationRecord& record) {
  char text[160];
  std::snprintf(text, sizeof text, "access %llu: %.*s (byte 0x%02X, control 0x%02X, ECR 0x%02X)",
                static_cast<unsigned long long>(record.access), static_cast<int>(violationName(record.kind).size()),
                violationName(record.kind).data(), record.value, record.control, record.ecr);
  return text;
}

}  // namespace t6963
