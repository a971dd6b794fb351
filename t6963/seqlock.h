// Tear-free sharing of a ModuleState between processes: a sequence counter (seqlock)
// around each state-changing update, and a bounded consistent copy for readers.
//
// Writers (the bus side, a power cycle from a viewer) take the counter from even to odd
// with a compare-and-swap, so two writers never overlap; the update ends by making it even
// again. A reader copies the whole state and keeps the copy only if the counter was even
// and unchanged around it. While a writer streams updates back to back, a reader that
// failed twice raises `readerWaiting`; writers check it (one relaxed load) before each
// update and pause, boundedly, until the reader has its copy. Every wait here is bounded:
// a writer that finds the state held past the bound (its holder died mid-update) takes it
// over; a reader that cannot get a copy in time throws.
//
// Not covered: the bus fields (`ModuleState::bus`) and `settings` change outside the
// counter; a copy shows each of them at some moment near the copy.
#pragma once

#include <chrono>

#include "t6963/module_state.h"

namespace t6963 {

// Holds the state's sequence counter odd for the guard's lifetime.
class StateUpdate {
 public:
  explicit StateUpdate(ModuleState& state) noexcept;
  ~StateUpdate();
  StateUpdate(const StateUpdate&) = delete;
  StateUpdate& operator=(const StateUpdate&) = delete;

 private:
  ModuleState& state_;
  std::uint32_t begun_;
};

inline constexpr std::chrono::milliseconds DefaultCopyBound{500};

// A copy of `live` that no update overlapped. Throws std::runtime_error if none could be
// taken within `bound`.
ModuleState consistentCopy(const ModuleState& live, std::chrono::milliseconds bound = DefaultCopyBound);

}  // namespace t6963
