// The bus trace: a ring of the virtual display module's latest port accesses, kept in the
// module's shared-memory segment beside its state. The bus side (module.h) appends one
// two-byte record per access, with no lock and no branch: the byte read or written, which
// register and direction, and what the controller made of it (a byte strobed in, the first
// protocol violation of the access). Viewers copy the ring from other processes while the
// bus side runs (copyTrace); decoding the records lives in bus_decoder.h.
//
// A record holds no register state: the decoder replays the port registers from the
// accesses themselves. Records are numbered from 1 in the order the accesses were made,
// counted by the trace itself. Leaves out: the port number of accesses to ports other than
// data, control and ECR, and the second of two violations in one access.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "t6963/module_state.h"

namespace t6963 {

// 2^21 records: more than the last million accesses even while a reader copies the ring
// and the bus side streams on at full speed.
inline constexpr std::size_t TraceCapacity = std::size_t{1} << 21;

enum class BusAccess : std::uint8_t {
  DataWrite,
  DataRead,
  ControlWrite,
  ControlRead,
  EcrWrite,
  EcrRead,
  OtherWrite,  // the status register and undecoded ports
  OtherRead,
};

namespace trace_info {
inline constexpr std::uint8_t AccessMask = 0x07;     // BusAccess
inline constexpr std::uint8_t StrobedIn = 0x08;      // the controller took the byte on the data lines
inline constexpr std::uint8_t ViolationMask = 0x70;  // ViolationKind + 1; 0: none
inline constexpr int ViolationShift = 4;
}  // namespace trace_info

struct BusRecord {
  std::uint8_t value;  // the byte read or written
  std::uint8_t info;   // trace_info bits

  BusAccess access() const { return static_cast<BusAccess>(info & trace_info::AccessMask); }
  // A byte was strobed in at this access, whether the controller then accepted it or not.
  bool strobedIn() const { return (info & trace_info::StrobedIn) != 0; }
  bool hasViolation() const { return (info & trace_info::ViolationMask) != 0; }
  ViolationKind violation() const {
    return static_cast<ViolationKind>(((info & trace_info::ViolationMask) >> trace_info::ViolationShift) - 1);
  }
};

static_assert(sizeof(BusRecord) == 2);
static_assert(ViolationKindCount < 8, "violation kinds must fit three bits");

struct alignas(64) BusTrace {
  std::uint64_t recorded;  // records appended so far; the newest is number `recorded`
  std::array<BusRecord, TraceCapacity> records;  // record n at (n - 1) % TraceCapacity
};

static_assert(std::is_trivially_copyable_v<BusTrace> && std::is_trivially_default_constructible_v<BusTrace>);

// A stretch of the trace: `records[i]` is record number `firstAccess + i`. A copy that
// starts at 1 holds the whole history since the module was made. `build` is the module's,
// whose cable turns the recorded control writes into the controller's lines.
struct TraceCopy {
  std::uint64_t firstAccess = 1;
  std::vector<BusRecord> records;
  ModuleBuild build;

  bool wholeHistory() const { return firstAccess == 1; }
};

// The newest `newest` records of a trace that another thread or process may be appending
// to: at most TraceCapacity - 1, as the writer may be filling the slot after its newest
// record; records it overwrote during the copy are dropped from the old end. Never blocks
// the writer. `build`: the module's (ModuleState::build).
TraceCopy copyTrace(const BusTrace& trace, const ModuleBuild& build, std::size_t newest = TraceCapacity);

// How many records the trace holds so far (relaxed; for noticing new traffic).
std::uint64_t recordedCount(const BusTrace& trace);

}  // namespace t6963
