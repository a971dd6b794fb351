// Port access by pread/pwrite on a device file.
#include "portlib/device_backend.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

namespace portlib {

std::unique_ptr<PortBackend> DeviceBackend::open(const std::string& path, const DiagnosticSink& report) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    report("cannot open " + path + " for port access: " + std::strerror(errno) +
           "; port reads give 0x00 and writes are dropped");
    return std::make_unique<SilentBackend>();
  }
  return std::unique_ptr<PortBackend>(new DeviceBackend(fd, path, report));
}

DeviceBackend::DeviceBackend(int fd, std::string path, DiagnosticSink report)
    : fd_(fd), path_(std::move(path)), report_(std::move(report)) {}

DeviceBackend::~DeviceBackend() { ::close(fd_); }

std::uint8_t DeviceBackend::read(std::uint16_t port) noexcept {
  std::uint8_t value = 0x00;
  ssize_t done = 0;
  do {
    done = ::pread(fd_, &value, 1, port);
  } while (done < 0 && errno == EINTR);
  if (done < 0) reportFailure("read", port, errno);
  return done == 1 ? value : std::uint8_t{0x00};
}

void DeviceBackend::write(std::uint16_t port, std::uint8_t value) noexcept {
  ssize_t done = 0;
  do {
    done = ::pwrite(fd_, &value, 1, port);
  } while (done < 0 && errno == EINTR);
  if (done < 0) reportFailure("write", port, errno);
}

void DeviceBackend::reportFailure(const char* operation, std::uint16_t port, int error) noexcept {
  if (failureReported_.exchange(true, std::memory_order_relaxed)) return;
  std::array<char, 8> hex{};
  std::to_chars(hex.data(), hex.data() + hex.size() - 1, port, 16);
  try {
    report_("port " + std::string(operation) + " at 0x" + hex.data() + " on " + path_ +
            " failed: " + std::strerror(error) + "; failed reads give 0x00 (reported once)");
  } catch (...) {
    // Out of memory while composing the line: the access itself has already been handled.
  }
}

}  // namespace portlib
