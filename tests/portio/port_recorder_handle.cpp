// PortRecorder: a test's own handle on the recording test library.
#include "port_recorder.h"

#include <dlfcn.h>

#include <stdexcept>

PortRecorder::PortRecorder(const std::string& libraryPath)
    : handle_(::dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) throw std::runtime_error("cannot open " + libraryPath + ": " + ::dlerror());
  reset_ = reinterpret_cast<PortRecorderResetFn>(::dlsym(handle_, "PortRecorderReset"));
  events_ = reinterpret_cast<PortRecorderEventsFn>(::dlsym(handle_, "PortRecorderEvents"));
  if (reset_ == nullptr || events_ == nullptr) throw std::runtime_error(libraryPath + " is not a port recorder");
}

PortRecorder::~PortRecorder() { ::dlclose(handle_); }

void PortRecorder::reset() const { reset_(); }

std::vector<PortRecorderEvent> PortRecorder::events() const {
  const PortRecorderEvent* first = nullptr;
  const std::size_t count = events_(&first);
  return {first, first + count};
}
