// A child process that begins an update of the module in a segment and stops itself in the
// middle of it (SIGSTOP), as under a debugger. Continued, it ends the update and exits;
// killed, it leaves the update unfinished. It is killed and reaped with the object.
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
  explicit WriterInUpdate(const std::string& segment) {
    int ended[2];
    if (::pipe(ended) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      {
        SharedModule module = SharedModule::open(segment);
        const StateUpdate update(module.state());
        ::raise(SIGSTOP);
      }
      ::_exit(::write(ended[1], "", 1) == 1 ? 0 : 1);
    }
    ::close(ended[1]);
    ended_ = ended[0];
    int status = 0;
    stopped_ = pid_ > 0 && ::waitpid(pid_, &status, WUNTRACED) == pid_ && WIFSTOPPED(status);
  }
  ~WriterInUpdate() {
    kill();
    ::close(ended_);
  }

  pid_t pid() const { return pid_; }
  bool stopped() const { return stopped_; }  // in the middle of its update

  // Continues the child; true once it has ended its update.
  bool resume() {
    char byte = 0;
    return ::kill(pid_, SIGCONT) == 0 && ::read(ended_, &byte, 1) == 1;
  }

  void kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int ended_ = -1;
  bool stopped_ = false;
};

}  // namespace t6963::testing
