// Port access by pread/pwrite on a device file.
#include "portlib/device_backend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "t6963/t6963c.h"

namespace portlib {
namespace {

constexpr std::uint16_t LastLpt1Port = t6963c::LptBase + 7;
constexpr std::uint16_t FirstLpt1HighPort = t6963c::LptBase + 0x400;

// The kernel's port device, /dev/port: character device 1,4.
const dev_t PortDevice = makedev(1, 4);

std::string openFailure(const std::string& path, int error) {
  switch (error) {
    case EACCES: return path + ": permission denied: real ports through " + path + " need root; use ppdev instead";
    case EPERM: return "kernel lockdown forbids " + path + ": use ppdev";
    default: return path + ": " + std::strerror(error);
  }
}

std::string kindOf(const struct stat& status) {
  if (S_ISCHR(status.st_mode)) {
    return "character device " + std::to_string(major(status.st_rdev)) + "," + std::to_string(minor(status.st_rdev));
  }
  if (S_ISREG(status.st_mode)) return "a regular file";
  if (S_ISDIR(status.st_mode)) return "a directory";
  if (S_ISLNK(status.st_mode)) return "a symbolic link";
  if (S_ISBLK(status.st_mode)) return "a block device";
  return "a FIFO or socket";
}

bool accepted(const struct stat& status, DeviceFiles files) {
  return (S_ISCHR(status.st_mode) && status.st_rdev == PortDevice) ||
         (files == DeviceFiles::RegularFilesForTests && S_ISREG(status.st_mode));
}

// Throws BackendError unless the file at `path` (not followed) may be opened for ports.
void checkBeforeOpen(const std::string& path, DeviceFiles files, struct stat& status) {
  if (::lstat(path.c_str(), &status) != 0) throw BackendError(openFailure(path, errno));
  if (!accepted(status, files)) {
    throw BackendError(path + " is " + kindOf(status) +
                       ", not the kernel's port device (character device 1,4): give /dev/port");
  }
}

}  // namespace

DeviceBackend::DeviceBackend(const std::string& path, const DiagnosticSink& report, DeviceFiles files)
    : path_(path), report_(report), outside_(report, "the first parallel port's registers 0x378-0x37f and 0x778-0x77a") {
  // Checked before the open, as opening some devices already acts (a watchdog starts), and
  // again on the open descriptor, in case another file took the name between.
  struct stat named {};
  checkBeforeOpen(path, files, named);
  fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd_ < 0) throw BackendError(openFailure(path, errno));
  struct stat opened {};
  if (::fstat(fd_, &opened) != 0 || !accepted(opened, files) || opened.st_dev != named.st_dev ||
      opened.st_ino != named.st_ino) {
    ::close(fd_);
    throw BackendError(path + " changed while it was opened: give /dev/port");
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
  if (done != 1) reportFailure("read", port, done < 0 ? std::strerror(errno) : "no byte came back");
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
  if (done != 1) reportFailure("write", port, done < 0 ? std::strerror(errno) : "no byte was taken");
}

void DeviceBackend::reportFailure(const char* operation, std::uint16_t port, const char* cause) noexcept {
  reportOnce(failureReported_, report_, [&] {
    return "port " + std::string(operation) + " at " + portText(port) + " on " + path_ + " failed: " + cause +
           "; failed reads give 0x00 (reported once)";
  });
}

}  // namespace portlib
