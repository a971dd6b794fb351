// Tear-free sharing of a ModuleState between processes: an update word around each
// state-changing update, and a bounded consistent copy for readers.
//
// The update word (`ModuleState::update`) holds a sequence number and, during an update,
// the id of the process making it. A writer takes the word with one compare-and-swap, so
// two writers never overlap, and ends its update with one store that advances the
// sequence. Before that, a process records itself once in `writer` (id and start time), so
// that a holder is judged as process_claim.h judges processes. A reader copies the whole
// state and keeps the copy only if no update was in progress and the word was unchanged
// around it. While a writer streams updates back to back, a reader that failed twice raises
// `readerWaiting`; writers check it (one relaxed load) before each update and pause,
// boundedly, until the reader has its copy.
//
// A holder that lives is never overtaken, however slow or stopped: a writer or reader that
// finds the state held waits a bounded time, less if the holder is stopped, and then goes
// without its update or copy, saying who holds the state. Only a holder that is gone has
// its unfinished update ended for it (what it had changed stays). So the sequence only
// ever moves forward, and no late writer can end an update that is no longer its own.
//
// Not covered: the bus fields (`ModuleState::bus`) and `settings` change outside updates; a
// copy shows each of them at some moment near the copy.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "t6963/atomic_word.h"
#include "t6963/module_state.h"
#include "t6963/process_claim.h"

namespace t6963 {

// How long a writer waits for another writer that is running.
inline constexpr std::chrono::milliseconds WriterWaitBound{100};
inline constexpr std::chrono::milliseconds DefaultCopyBound{500};

namespace detail {
inline constexpr std::uint64_t HolderMask = 0xFFFFFFFF;  // the update word's holder half
inline constexpr std::uint64_t NextSequence = std::uint64_t{1} << 32;
void pauseForReader(ModuleState& state) noexcept;
// The start of an update that found the word held or changing; `word` ends as the word
// before the update, or as its holder left it.
bool beginAfterWaiting(ModuleState& state, std::uint64_t holder, std::uint64_t& word,
                       std::chrono::milliseconds bound) noexcept;
}  // namespace detail

// An update of the state for the guard's lifetime, if one could be begun (operator bool).
// The uncontended update is inline: a few loads, one compare-and-swap and one store, as the
// bus side makes one per byte it takes.
class StateUpdate {
 public:
  // Waits at most `bound` for another writer's update to end; goes without an update when
  // that writer stays in it, at once when it is stopped.
  explicit StateUpdate(ModuleState& state, std::chrono::milliseconds bound = WriterWaitBound) noexcept
      : state_(state), bound_(bound) {
    if (detail::loadWord(state.readerWaiting) != 0) detail::pauseForReader(state);
    const ProcessClaim self = thisProcess();
    auto writer = detail::atomicWord(state.writer);
    if (writer.load(std::memory_order_relaxed) != self) writer.store(self, std::memory_order_relaxed);
    const std::uint64_t holder = static_cast<std::uint32_t>(pidOf(self));
    auto update = detail::atomicWord(state.update);
    word_ = update.load(std::memory_order_relaxed);
    begun_ = ((word_ & detail::HolderMask) == 0 &&
              update.compare_exchange_strong(word_, word_ | holder, std::memory_order_acq_rel,
                                             std::memory_order_relaxed)) ||
             detail::beginAfterWaiting(state, holder, word_, bound);
    std::atomic_thread_fence(std::memory_order_release);
  }
  ~StateUpdate() {
    if (begun_) {
      detail::atomicWord(state_.update)
          .store((word_ & ~detail::HolderMask) + detail::NextSequence, std::memory_order_release);
    }
  }
  StateUpdate(const StateUpdate&) = delete;
  StateUpdate& operator=(const StateUpdate&) = delete;

  explicit operator bool() const noexcept { return begun_; }
  // Without an update: which process held the state, and whether it is stopped.
  std::string refusal() const;

 private:
  ModuleState& state_;
  std::chrono::milliseconds bound_;
  bool begun_ = false;
  std::uint64_t word_;  // begun: the update word before the update; else: as its holder left it
};

// A copy of `live` that no update overlapped. Throws std::runtime_error, saying which
// process holds the state and whether it is stopped, if none could be taken within `bound`
// (sooner when the holder is stopped).
ModuleState consistentCopy(const ModuleState& live, std::chrono::milliseconds bound = DefaultCopyBound);

}  // namespace t6963
