// A shared-memory segment of the virtual display module for one test (suite) of its own:
// removed first, named in the port library's settings so that DLPortIO.dll, when next
// loaded, attaches to it with zeroed RAM and default settings, and removed again at the end.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "portlib/settings.h"
#include "t6963/shared_module.h"

namespace kelvari::test {

class ModuleSegment {
 public:
  explicit ModuleSegment(const std::string& purpose)
      : name_("/kelvari-app-" + purpose + "-" + std::to_string(getpid())) {
    t6963::SharedModule::remove(name_);
    setenv(portlib::EnvSegment, name_.c_str(), 1);
    setenv(portlib::EnvPowerOn, "zero", 1);
    unsetenv(portlib::EnvBackend);
    unsetenv(portlib::EnvDisconnected);
    unsetenv(portlib::EnvBusy);
  }
  ~ModuleSegment() { t6963::SharedModule::remove(name_); }
  ModuleSegment(const ModuleSegment&) = delete;
  ModuleSegment& operator=(const ModuleSegment&) = delete;

  const std::string& name() const { return name_; }

 private:
  std::string name_;
};

}  // namespace kelvari::test
