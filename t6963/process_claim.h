// Processes named in the module's shared segment (the bus holder, the writer of an update),
// by process id and start time, so that a later process that reuses the id is not taken
// for the one named. A named process is found running, stopped (SIGSTOP, a debugger) or
// gone (ended, a zombie, or its id reused); only a gone one may be recovered from. Leaves
// out processes of another PID namespace that share the segment: their ids mean nothing here.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <string>

namespace t6963 {

// The process id in the high half, the start time's low 32 bits (clock ticks after boot) in
// the low half; 0: no process.
using ProcessClaim = std::uint64_t;

inline pid_t pidOf(ProcessClaim claim) noexcept { return static_cast<pid_t>(claim >> 32); }

ProcessClaim claimOf(pid_t pid) noexcept;

namespace detail {
extern std::atomic<ProcessClaim> thisProcessClaim;  // 0 until first asked, and again after a fork
ProcessClaim findThisProcess() noexcept;
}  // namespace detail

// This process's claim: after the first call one load, even in a forked child.
inline ProcessClaim thisProcess() noexcept {
  const ProcessClaim claim = detail::thisProcessClaim.load(std::memory_order_relaxed);
  return claim != 0 ? claim : detail::findThisProcess();
}

enum class ProcessState { Running, Stopped, Gone };

// Where /proc cannot tell, a process that exists counts as running.
ProcessState stateOf(ProcessClaim claim) noexcept;
// The same for a process known only by its id: its start time is not compared.
ProcessState stateOfPid(pid_t pid) noexcept;

// "process 1234 (kelvari)", or "this process 1234".
std::string describeProcess(pid_t pid);

}  // namespace t6963
