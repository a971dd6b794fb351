// A program a test starts and always stops: its own process group, its output in a file,
// every wait bounded; the destructor ends whatever still runs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace portshim_test {

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

inline std::string readFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

using Environment = std::vector<std::pair<std::string, std::string>>;

class ChildProcess {
 public:
  // Runs `arguments` (searched in PATH) with `environment` added to this process's, its
  // standard output and error into `logFile`.
  ChildProcess(std::vector<std::string> arguments, const Environment& environment, const std::string& logFile) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
      ::dup2(log, STDOUT_FILENO);
      ::dup2(log, STDERR_FILENO);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    ::close(log);
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess() { stop(); }

  // The wait status once it ended within `limit`; nullopt while it still runs.
  std::optional<int> waitExit(std::chrono::milliseconds limit) {
    waitUntil([this] {
      int status = 0;
      if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
      return status_.has_value();
    }, limit);
    return status_;
  }

  // SIGTERM to its group, SIGKILL a second later (which nothing holds off).
  void stop() {
    if (pid_ <= 0 || status_) return;
    ::kill(-pid_, SIGTERM);
    if (waitExit(std::chrono::seconds(1))) return;
    ::kill(-pid_, SIGKILL);
    waitExit(std::chrono::seconds(5));
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

}  // namespace portshim_test
