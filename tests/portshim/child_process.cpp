// Starting and stopping the programs the tests run (see child_process.h).
#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace portshim_test {

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const Environment& environment,
                           const std::string& logFile) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const int log = ::open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (log < 0) throw std::runtime_error("cannot create " + logFile);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);
    for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
    ::dup2(log, STDOUT_FILENO);
    ::dup2(log, STDERR_FILENO);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(log);
  if (pid_ < 0) throw std::runtime_error("cannot fork for " + arguments[0]);
  ::setpgid(pid_, pid_);
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds limit) {
  waitUntil([this] {
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_.has_value();
  }, limit);
  return status_;
}

int ChildProcess::stop() {
  if (status_) return *status_;
  ::kill(-pid_, SIGTERM);
  if (!waitExit(std::chrono::seconds(1))) {
    ::kill(-pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);  // SIGKILL cannot be held off
    status_ = status;
  }
  return *status_;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace portshim_test
