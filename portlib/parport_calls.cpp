// The system's parport calls.
#include "portlib/parport_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace portlib {
namespace {

class SystemParportCalls final : public ParportCalls {
 public:
  int open(const char* path) noexcept override { return ::open(path, O_RDWR | O_CLOEXEC); }
  int ioctl(int fd, unsigned long request, void* argument) noexcept override { return ::ioctl(fd, request, argument); }
  void close(int fd) noexcept override { ::close(fd); }
};

}  // namespace

ParportCalls& systemParportCalls() {
  static SystemParportCalls calls;
  return calls;
}

}  // namespace portlib
