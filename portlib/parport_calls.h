// The seam between the ppdev backend and the kernel: the calls it makes on one parport
// device, shaped as open(2), ioctl(2) and close(2) (-1 with errno set on failure). The
// system's calls stand behind systemParportCalls(); tests put a fake parport here that
// records the calls and answers the status.
#pragma once

namespace portlib {

class ParportCalls {
 public:
  ParportCalls() = default;
  ParportCalls(const ParportCalls&) = delete;
  ParportCalls& operator=(const ParportCalls&) = delete;
  virtual ~ParportCalls() = default;

  // Opens the device for reading and writing (close-on-exec).
  virtual int open(const char* path) noexcept = 0;
  virtual int ioctl(int fd, unsigned long request, void* argument) noexcept = 0;
  virtual void close(int fd) noexcept = 0;
};

ParportCalls& systemParportCalls();

}  // namespace portlib
