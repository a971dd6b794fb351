// Atomic access to single words of a ModuleState that several threads or processes touch
// without the sequence counter (settings, the reader flag). Internal to t6963/.
#pragma once

#include <atomic>

namespace t6963::detail {

template <typename Word>
std::atomic_ref<Word> atomicWord(Word& word) noexcept {
  static_assert(std::atomic_ref<Word>::is_always_lock_free, "shared words must be lock-free across processes");
  return std::atomic_ref<Word>(word);
}

// Loads from a word that is const to the caller but written by others.
template <typename Word>
Word loadWord(const Word& word, std::memory_order order = std::memory_order_relaxed) noexcept {
  return atomicWord(const_cast<Word&>(word)).load(order);
}

}  // namespace t6963::detail
