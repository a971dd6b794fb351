// The virtual display module's state and its bus trace in a named POSIX shared-memory
// segment, so that it outlives the processes that drive it (as a real module stays
// powered) and a viewer in another process sees it live. The segment is owner-only (mode 0600) and checked on every
// attach: owner, permissions, size and layout must match, or open() refuses it. The first
// opener creates the segment and powers the module on; later openers attach to it as left.
// Leaves out: locking between two bus sides (one program drives the port at a time).
#pragma once

#include <cstddef>
#include <string>

#include "t6963/bus_trace.h"
#include "t6963/module_state.h"

namespace t6963 {

namespace detail {
struct SharedSegment;
}

class SharedModule {
 public:
  // "/kelvari-lcd-<uid>": one module per user.
  static std::string defaultName();

  // Attaches to the segment `name` (a POSIX shm name: one leading '/', no other), creating
  // it and powering the module on with `contents` when it does not exist. Throws
  // std::system_error with a message naming the segment on any failure.
  static SharedModule open(const std::string& name, PowerOnContents contents = PowerOnContents::Random);

  // Removes the name; attached processes keep their mapping. No error if it is absent.
  static void remove(const std::string& name);

  SharedModule(SharedModule&& other) noexcept;
  SharedModule& operator=(SharedModule&& other) noexcept;
  SharedModule(const SharedModule&) = delete;
  SharedModule& operator=(const SharedModule&) = delete;
  ~SharedModule();

  const std::string& name() const noexcept { return name_; }

  // The live state, for the bus side (Module) and for settings changes.
  ModuleState& state() noexcept;

  // The ring of the latest port accesses: the bus side appends, viewers copy (copyTrace).
  BusTrace& trace() noexcept;
  const BusTrace& trace() const noexcept;

  // Power-on reset while other processes may be driving or reading the module.
  void powerCycle(PowerOnContents contents = PowerOnContents::Random);

  // A consistent copy (never torn); waits a bounded time, throws std::runtime_error if the
  // state stays locked.
  ModuleState snapshot() const;

 private:
  SharedModule(std::string name, detail::SharedSegment* segment) noexcept;

  std::string name_;
  detail::SharedSegment* segment_ = nullptr;
};

}  // namespace t6963
