// Copying the bus trace while the bus side appends to it (see bus_trace.h).
#include "t6963/bus_trace.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "t6963/atomic_word.h"

namespace t6963 {

std::uint64_t recordedCount(const BusTrace& trace) { return detail::loadWord(trace.recorded); }

TraceCopy copyTrace(const BusTrace& trace, const ModuleBuild& build, std::size_t newest) {
  const std::uint64_t last = detail::loadWord(trace.recorded, std::memory_order_acquire);
  const std::uint64_t wanted = std::min<std::uint64_t>({newest, TraceCapacity, last});
  TraceCopy copy;
  copy.build = build;
  copy.firstAccess = last - wanted + 1;
  if (wanted == 0) return copy;
  copy.records.resize(wanted);
  // Records first..last in at most two pieces of the ring.
  const auto firstSlot = static_cast<std::size_t>((copy.firstAccess - 1) % TraceCapacity);
  const std::size_t head = std::min<std::size_t>(copy.records.size(), TraceCapacity - firstSlot);
  std::memcpy(copy.records.data(), &trace.records[firstSlot], head * sizeof(BusRecord));
  std::memcpy(copy.records.data() + head, trace.records.data(), (copy.records.size() - head) * sizeof(BusRecord));
  std::atomic_thread_fence(std::memory_order_acquire);

  // The writer may have overwritten the oldest slots meanwhile, and may be writing the one
  // after its newest count: keep only records it cannot have touched.
  const std::uint64_t after = detail::loadWord(trace.recorded, std::memory_order_relaxed);
  const std::uint64_t firstIntact = after + 2 > TraceCapacity ? after + 2 - TraceCapacity : 1;
  if (firstIntact > copy.firstAccess) {
    const auto dropped = static_cast<std::size_t>(std::min<std::uint64_t>(firstIntact - copy.firstAccess, wanted));
    copy.records.erase(copy.records.begin(), copy.records.begin() + static_cast<std::ptrdiff_t>(dropped));
    copy.firstAccess += dropped;
  }
  return copy;
}

}  // namespace t6963
