// A parport behind the ppdev seam for tests and benchmarks: it records each call by its
// request's name and byte ("PPWCONTROL 0x6"), answers reads with the bytes set here, and
// fails the calls it is told to. Never a real device.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "portlib/parport_calls.h"

namespace portlib_test {

class FakeParport final : public portlib::ParportCalls {
 public:
  static constexpr int Fd = 7;

  int open(const char* path) noexcept override;
  int ioctl(int fd, unsigned long request, void* argument) noexcept override;
  void close(int fd) noexcept override;

  std::vector<std::string> calls;
  bool recording = true;  // off: only counted (benchmarks)
  long long callCount = 0;
  std::uint8_t dataLines = 0x03;    // answer of PPRDATA
  std::uint8_t statusLines = 0x78;  // answer of PPRSTATUS
  std::uint8_t controlLines = 0x0C; // answer of PPRCONTROL
  unsigned int modes = 0x03;        // answer of PPGETMODES: PCSPP and TRISTATE
  int openError = 0;                   // errno of a failing open
  std::map<std::string, int> failing;  // request name -> errno
};

}  // namespace portlib_test
