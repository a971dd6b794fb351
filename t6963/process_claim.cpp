// Processes named by id and start time, as /proc shows them (see process_claim.h).
#include "t6963/process_claim.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace t6963 {

std::atomic<ProcessClaim> detail::thisProcessClaim{0};

namespace {

// What /proc/<pid>/stat says of a process; `known` is false where /proc cannot tell.
struct ProcessStat {
  bool known = false;
  bool exists = false;
  char state = '?';
  std::uint32_t startTime = 0;
};

// Reads the whole of a small /proc file into `buffer`; its length, or -1.
ssize_t readSmallFile(const char* path, char* buffer, std::size_t size) noexcept {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  const ssize_t length = ::read(fd, buffer, size - 1);
  ::close(fd);
  if (length >= 0) buffer[length] = '\0';
  return length;
}

ProcessStat statOf(pid_t pid) noexcept {
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  char text[1024];
  ProcessStat stat;
  if (readSmallFile(path, text, sizeof text) <= 0) {
    stat.known = ::access("/proc/self/stat", R_OK) == 0;  // no such process, or no /proc
    return stat;
  }
  // The command name in parentheses may hold anything: the fields start after the last ')'.
  const char* field = std::strrchr(text, ')');
  if (field == nullptr || field[1] != ' ') return stat;
  stat.known = stat.exists = true;
  stat.state = field[2];
  field += 2;
  for (int number = 3; number < 22 && field != nullptr; ++number) {
    field = std::strchr(field, ' ');
    if (field != nullptr) ++field;
  }
  if (field == nullptr) {
    stat.known = false;
    return stat;
  }
  stat.startTime = static_cast<std::uint32_t>(std::strtoull(field, nullptr, 10));
  return stat;
}

void forgetThisProcess() noexcept { detail::thisProcessClaim.store(0, std::memory_order_relaxed); }

ProcessState stateFrom(const ProcessStat& stat, pid_t pid) noexcept {
  if (!stat.known) return ::kill(pid, 0) == 0 || errno == EPERM ? ProcessState::Running : ProcessState::Gone;
  switch (stat.state) {
    case '?': return ProcessState::Gone;  // no such process
    case 'Z':
    case 'X':
    case 'x': return ProcessState::Gone;
    case 'T':
    case 't': return ProcessState::Stopped;
    default: return ProcessState::Running;
  }
}

}  // namespace

ProcessClaim claimOf(pid_t pid) noexcept {
  return std::uint64_t{static_cast<std::uint32_t>(pid)} << 32 | statOf(pid).startTime;
}

ProcessClaim detail::findThisProcess() noexcept {
  static const bool forgottenAtFork = ::pthread_atfork(nullptr, nullptr, forgetThisProcess) == 0;
  const ProcessClaim claim = claimOf(::getpid());
  if (forgottenAtFork) thisProcessClaim.store(claim, std::memory_order_relaxed);
  return claim;
}

ProcessState stateOf(ProcessClaim claim) noexcept {
  const ProcessStat stat = statOf(pidOf(claim));
  if (stat.known && stat.exists && stat.startTime != static_cast<std::uint32_t>(claim)) return ProcessState::Gone;
  return stateFrom(stat, pidOf(claim));
}

ProcessState stateOfPid(pid_t pid) noexcept { return stateFrom(statOf(pid), pid); }

std::string describeProcess(pid_t pid) {
  const std::string process = "process " + std::to_string(pid);
  if (pid == ::getpid()) return "this " + process;
  char path[32];
  std::snprintf(path, sizeof path, "/proc/%d/comm", static_cast<int>(pid));
  char command[64];
  const ssize_t length = readSmallFile(path, command, sizeof command);
  if (length <= 1) return process;
  return process + " (" + std::string(command, static_cast<std::size_t>(length - 1)) + ")";
}

}  // namespace t6963
