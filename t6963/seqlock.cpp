// The sequence counter protocol of seqlock.h.
#include "t6963/seqlock.h"

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "t6963/atomic_word.h"

namespace t6963 {
namespace {

using Clock = std::chrono::steady_clock;

// How long a writer pauses for a reader that asked, and how long it waits for another
// writer before it takes the state over.
constexpr std::chrono::milliseconds ReaderPauseBound{5};
constexpr std::chrono::milliseconds WriterWaitBound{100};
// Failed copies before a reader asks writers to pause.
constexpr int FailuresBeforeAsking = 2;

bool isOdd(std::uint32_t sequence) { return (sequence & 1U) != 0; }

void pauseForReader(ModuleState& state) noexcept {
  auto waiting = detail::atomicWord(state.readerWaiting);
  const auto deadline = Clock::now() + ReaderPauseBound;
  while (waiting.load(std::memory_order_acquire) != 0) {
    if (Clock::now() >= deadline) {
      waiting.store(0, std::memory_order_relaxed);  // the reader stalled or died: go on
      return;
    }
    std::this_thread::yield();
  }
}

// Takes the counter from even to odd; returns the odd value now held.
std::uint32_t beginUpdate(ModuleState& state) noexcept {
  auto sequence = detail::atomicWord(state.sequence);
  std::uint32_t current = sequence.load(std::memory_order_relaxed);
  if (!isOdd(current) &&
      sequence.compare_exchange_strong(current, current + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
    return current + 1;
  }
  const auto deadline = Clock::now() + WriterWaitBound;
  for (;;) {
    current = sequence.load(std::memory_order_relaxed);
    if (!isOdd(current) &&
        sequence.compare_exchange_weak(current, current + 1, std::memory_order_acquire, std::memory_order_relaxed)) {
      return current + 1;
    }
    if (isOdd(current) && Clock::now() >= deadline) return current;  // holder died mid-update
    std::this_thread::yield();
  }
}

}  // namespace

StateUpdate::StateUpdate(ModuleState& state) noexcept : state_(state) {
  if (detail::loadWord(state.readerWaiting) != 0) pauseForReader(state);
  begun_ = beginUpdate(state);
  std::atomic_thread_fence(std::memory_order_release);
}

StateUpdate::~StateUpdate() {
  detail::atomicWord(state_.sequence).store(begun_ + 1, std::memory_order_release);
}

ModuleState consistentCopy(const ModuleState& live, std::chrono::milliseconds bound) {
  auto& shared = const_cast<ModuleState&>(live);
  auto sequence = detail::atomicWord(shared.sequence);
  auto waiting = detail::atomicWord(shared.readerWaiting);
  const auto deadline = Clock::now() + bound;
  ModuleState copy;
  for (int failures = 0;; ++failures) {
    const std::uint32_t before = sequence.load(std::memory_order_acquire);
    if (!isOdd(before)) {
      std::memcpy(static_cast<void*>(&copy), &live, sizeof copy);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (sequence.load(std::memory_order_relaxed) == before) {
        if (failures >= FailuresBeforeAsking) waiting.store(0, std::memory_order_release);
        copy.readerWaiting = 0;
        return copy;
      }
    }
    if (failures + 1 >= FailuresBeforeAsking) waiting.store(1, std::memory_order_relaxed);
    if (Clock::now() >= deadline) {
      waiting.store(0, std::memory_order_relaxed);
      throw std::runtime_error("display module state stayed locked for " + std::to_string(bound.count()) +
                               " ms: no consistent copy");
    }
    std::this_thread::yield();
  }
}

}  // namespace t6963
