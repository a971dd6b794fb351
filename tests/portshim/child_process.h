// A program a test starts and always stops: its own process group, its output in a file,
// every wait bounded. The destructor ends whatever still runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace portshim_test {

using Environment = std::vector<std::pair<std::string, std::string>>;

class ChildProcess {
 public:
  // Runs `arguments` (searched in PATH) with `environment` added to this process's;
  // standard output and error go to `logFile`.
  ChildProcess(const std::vector<std::string>& arguments, const Environment& environment, const std::string& logFile);
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { stop(); }

  // The wait status once it ended within `limit`; nullopt while it still runs.
  std::optional<int> waitExit(std::chrono::milliseconds limit);
  // SIGTERM to its group, SIGKILL a second later; the wait status.
  int stop();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Polls `condition` every 20 ms until it holds or `limit` passes; its last answer.
template <typename Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string readFile(const std::string& path);

}  // namespace portshim_test
