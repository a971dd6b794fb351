// The virtual display module's state and its bus trace in a named POSIX shared-memory
// segment, so that it outlives the processes that drive it (as a real module stays
// powered) and a viewer in another process sees it live. The segment is owner-only (mode 0600) and checked on every
// attach: owner, permissions, size and layout must match, or open() refuses it. The first
// opener creates the segment, with all of its memory allocated at once (a full /dev/shm
// refuses then, never later), and powers the module on; later openers attach to it as
// left. Viewers only attach (openExisting). A segment appears under its name only once it
// is complete, so one found empty or without its mark was left half-made by a crash: it is
// removed and made anew.
//
// The module's build (module_build.h) is given when the segment is made. A driver that holds
// the bus may rebuild the module as another build: a module swapped on the port, made as a
// new segment would be, with the live settings kept.
//
// One process drives the module's bus at a time, as one program claims a parallel port:
// claimBus() records the process in the segment and refuses a second one while the holder
// lives, even stopped (a debugger, SIGSTOP); a holder that died is recovered. Only the
// process that claimed the bus releases it: a forked child that ends does not. Viewers read
// and power-cycle without a claim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "t6963/bus_trace.h"
#include "t6963/module_state.h"
#include "t6963/seqlock.h"

namespace t6963 {

namespace detail {
struct SharedSegment;
}

class SharedModule {
 public:
  // "/kelvari-lcd-<uid>": one module per user.
  static std::string defaultName();

  // Attaches to the segment `name` (a POSIX shm name: one leading '/', no other), creating
  // it as a module of `build` and powering it on with `contents` when it does not exist.
  // Throws std::system_error with a message naming the segment on any failure.
  static SharedModule open(const std::string& name, PowerOnContents contents = PowerOnContents::Random,
                           const ModuleBuild& build = StandardBuild);

  // Attaches to the segment `name` if it exists; creates nothing. Throws as open() does.
  static std::optional<SharedModule> openExisting(const std::string& name);

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

  // Claims the bus for this process until this object is destroyed. Throws
  // std::system_error (EBUSY) naming the holder when another live process, or another
  // claim of this one, holds it.
  void claimBus();

  // Makes the module anew as `build`: port and controller at power-on, display memory as
  // `contents` says, violations and the bus trace cleared; the live settings stay. Only
  // while this object holds the bus claim (claimBus()); throws std::logic_error otherwise,
  // and std::runtime_error, changing nothing, as powerCycle() does.
  void rebuild(const ModuleBuild& build, PowerOnContents contents);

  // Puts `module`, a module driven elsewhere (a replayed capture), in place of this one: its
  // build, controller, display memory and violations, the controller not busy; the port at
  // power-on, the bus trace cleared (it held another module's accesses), the live settings
  // kept, the blink phase starting now. Only with the bus claim, and throws as rebuild().
  void replaceState(const ModuleState& module);

  // The ring of the latest port accesses: the bus side appends, viewers copy (copyTrace).
  BusTrace& trace() noexcept;
  const BusTrace& trace() const noexcept;

  // Power-on reset while other processes may be driving or reading the module. Throws
  // std::runtime_error, changing nothing, when another process stays in the middle of an
  // update (stopped, or longer than a power cycle waits).
  void powerCycle(PowerOnContents contents = PowerOnContents::Random);

  // A consistent copy (never torn); waits at most `bound`, throws std::runtime_error saying
  // which process holds the state if it stays held (seqlock.h).
  ModuleState snapshot(std::chrono::milliseconds bound = DefaultCopyBound) const;

 private:
  SharedModule(std::string name, detail::SharedSegment* segment) noexcept;
  void release() noexcept;  // gives up the claim and the mapping

  std::string name_;
  detail::SharedSegment* segment_ = nullptr;
  std::uint64_t busClaim_ = 0;  // this object's claim as recorded in the segment; 0: none
};

}  // namespace t6963
