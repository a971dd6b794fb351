// A child process that begins an update of the module in a segment and stops itself in the
// middle of it (SIGSTOP). Continued, it ends the update and exits; killed, it leaves the
// update unfinished. It is killed and reaped with the object.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "t6963/seqlock.h"
#include "t6963/shared_module.h"

namespace t6963::testing {

class WriterInUpdate {
 public:
  explicit WriterInUpdate(const std::string& segment) : pid_(::fork()) {
    if (pid_ == 0) {
      {
        SharedModule module = SharedModule::open(segment);
        const StateUpdate update(module.state());
        ::raise(SIGSTOP);
      }
      ::_exit(0);
    }
    int status = 0;
    stopped_ = pid_ > 0 && ::waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
  }
  ~WriterInUpdate() { kill(); }

  pid_t pid() const { return pid_; }
  bool stopped() const { return stopped_; }

  // Continues the child; true once it has ended its update and exited.
  bool resume() {
    int status = 0;
    if (::kill(pid_, SIGCONT) != 0 || ::waitpid(pid_, &status, 0) != pid_) return false;
    pid_ = -1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_;
  bool stopped_ = false;
};

}  // namespace t6963::testing
