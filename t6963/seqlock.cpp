// The update word protocol of seqlock.h.
#include "t6963/seqlock.h"

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "t6963/atomic_word.h"
#include "t6963/process_claim.h"

namespace t6963 {
namespace {

using Clock = std::chrono::steady_clock;

// How long a writer pauses for a reader that asked.
constexpr std::chrono::milliseconds ReaderPauseBound{5};
// How often a waiting writer or reader asks /proc about the holder.
constexpr std::chrono::milliseconds HolderCheckInterval{1};
// Failed copies before a reader asks writers to pause.
constexpr int FailuresBeforeAsking = 2;

pid_t holderOf(std::uint64_t word) { return static_cast<pid_t>(word & detail::HolderMask); }

// The free word that follows `word`'s update.
std::uint64_t endOf(std::uint64_t word) { return (word & ~detail::HolderMask) + detail::NextSequence; }

ProcessState holderState(const ModuleState& state, std::uint64_t seen) noexcept {
  const pid_t holder = holderOf(seen);
  const ProcessClaim writer = detail::loadWord(state.writer, std::memory_order_acquire);
  return pidOf(writer) == holder ? stateOf(writer) : stateOfPid(holder);
}

// A wait for the holder of an update to end it: bounded, cut short when the holder is
// stopped; a gone holder's update is ended for it.
class HolderWait {
 public:
  HolderWait(ModuleState& state, std::chrono::milliseconds bound)
      : state_(state), bound_(bound), start_(Clock::now()), nextCheck_(start_ + HolderCheckInterval) {}

  // Whether to try again after finding `seen` in the update word.
  bool goOn(std::uint64_t seen) noexcept {
    const auto now = Clock::now();
    const bool expired = now >= start_ + bound_;
    if (holderOf(seen) == 0) return !expired;
    if (now < nextCheck_ && !expired) return true;
    nextCheck_ = now + HolderCheckInterval;
    switch (holderState(state_, seen)) {
      case ProcessState::Gone:
        detail::atomicWord(state_.update).compare_exchange_strong(seen, endOf(seen), std::memory_order_acq_rel);
        return true;
      case ProcessState::Stopped: return false;
      case ProcessState::Running: break;
    }
    return !expired;
  }

 private:
  ModuleState& state_;
  std::chrono::milliseconds bound_;
  Clock::time_point start_;
  Clock::time_point nextCheck_;
};

std::string heldBy(const ModuleState& state, std::uint64_t seen, std::chrono::milliseconds bound) {
  if (holderOf(seen) == 0) {
    return "the display module's state changed during every copy for " + std::to_string(bound.count()) + " ms";
  }
  const std::string holder = describeProcess(holderOf(seen)) + " holds the display module in the middle of an update";
  switch (holderState(state, seen)) {
    case ProcessState::Stopped: return holder + " and is stopped";
    case ProcessState::Gone: return holder + " and has just ended";
    case ProcessState::Running: break;
  }
  return holder + " for more than " + std::to_string(bound.count()) + " ms";
}

}  // namespace

void detail::pauseForReader(ModuleState& state) noexcept {
  auto waiting = atomicWord(state.readerWaiting);
  const auto deadline = Clock::now() + ReaderPauseBound;
  while (waiting.load(std::memory_order_acquire) != 0) {
    if (Clock::now() >= deadline) {
      waiting.store(0, std::memory_order_relaxed);  // the reader stalled or died: go on
      return;
    }
    std::this_thread::yield();
  }
}

bool detail::beginAfterWaiting(ModuleState& state, std::uint64_t holder, std::uint64_t& word,
                               std::chrono::milliseconds bound) noexcept {
  auto update = atomicWord(state.update);
  HolderWait wait(state, bound);
  for (;;) {
    word = update.load(std::memory_order_relaxed);
    if (holderOf(word) == 0 &&
        update.compare_exchange_weak(word, word | holder, std::memory_order_acq_rel, std::memory_order_relaxed)) {
      return true;
    }
    if (!wait.goOn(word)) return false;
    std::this_thread::yield();
  }
}

std::string StateUpdate::refusal() const { return heldBy(state_, word_, bound_); }

ModuleState consistentCopy(const ModuleState& live, std::chrono::milliseconds bound) {
  auto& shared = const_cast<ModuleState&>(live);
  auto word = detail::atomicWord(shared.update);
  auto waiting = detail::atomicWord(shared.readerWaiting);
  HolderWait wait(shared, bound);
  ModuleState copy;
  for (int failures = 0;; ++failures) {
    const std::uint64_t before = word.load(std::memory_order_acquire);
    if (holderOf(before) == 0) {
      std::memcpy(static_cast<void*>(&copy), &live, sizeof copy);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (word.load(std::memory_order_relaxed) == before) {
        if (failures >= FailuresBeforeAsking) waiting.store(0, std::memory_order_release);
        copy.readerWaiting = 0;
        return copy;
      }
    }
    if (failures + 1 >= FailuresBeforeAsking) waiting.store(1, std::memory_order_relaxed);
    if (!wait.goOn(before)) {
      waiting.store(0, std::memory_order_relaxed);
      throw std::runtime_error(heldBy(live, before, bound));
    }
    std::this_thread::yield();
  }
}

}  // namespace t6963
