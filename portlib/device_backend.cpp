// Port access by pread/pwrite on a device file.
#include "portlib/device_backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "t6963/t6963c.h"

namespace portlib {
namespace {

constexpr std::uint16_t LastLpt1Port = t6963c::LptBase + 7;
constexpr std::uint16_t FirstLpt1HighPort = t6963c::LptBase + 0x400;

std::string openFailure(const std::string& path, int error) {
  switch (error) {
    case EACCES: return path + ": permission denied: real ports through " + path + " need root; use ppdev instead";
    case EPERM: return "kernel lockdown forbids " + path + ": use ppdev";
    case ELOOP: return path + " is a symbolic link: give the device itself";
    default: return path + ": " + std::strerror(error);
  }
}

}  // namespace

DeviceBackend::DeviceBackend(const std::string& path, const DiagnosticSink& report, DeviceFiles files)
    : path_(path), report_(report), outside_(report, "the first parallel port's registers 0x378-0x37f and 0x778-0x77a") {
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) throw BackendError(openFailure(path, errno));
  struct stat status {};
  const bool wanted = ::fstat(fd_, &status) == 0 &&
                      (S_ISCHR(status.st_mode) || (files == DeviceFiles::RegularFilesForTests && S_ISREG(status.st_mode)));
  if (!wanted) {
    ::close(fd_);
    throw BackendError(path + " is not a character device: give the port device, such as /dev/port");
  }
}

DeviceBackend::~DeviceBackend() { ::close(fd_); }

bool DeviceBackend::isInUse(std::uint16_t port) noexcept {
  return (port >= t6963c::LptBase && port <= LastLpt1Port) || (port >= FirstLpt1HighPort && port <= t6963c::EcrPort);
}

std::uint8_t DeviceBackend::read(std::uint16_t port) noexcept {
  if (!isInUse(port)) {
    outside_.refuse("read", port);
    return OutsidePortReport::RefusedRead;
  }
  std::uint8_t value = 0x00;
  ssize_t done = 0;
  do {
    done = ::pread(fd_, &value, 1, port);
  } while (done < 0 && errno == EINTR);
  if (done < 0) reportFailure("read", port, errno);
  return done == 1 ? value : std::uint8_t{0x00};
}

void DeviceBackend::write(std::uint16_t port, std::uint8_t value) noexcept {
  if (!isInUse(port)) {
    outside_.refuse("write", port);
    return;
  }
  ssize_t done = 0;
  do {
    done = ::pwrite(fd_, &value, 1, port);
  } while (done < 0 && errno == EINTR);
  if (done < 0) reportFailure("write", port, errno);
}

void DeviceBackend::reportFailure(const char* operation, std::uint16_t port, int error) noexcept {
  reportOnce(failureReported_, report_, [&] {
    return "port " + std::string(operation) + " at " + portText(port) + " on " + path_ +
           " failed: " + std::strerror(error) + "; failed reads give 0x00 (reported once)";
  });
}

}  // namespace portlib
