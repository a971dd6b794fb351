// What the real-port backends share: the error that says why a backend cannot be opened and
// what to do about it, the once-only report of accesses to ports they refuse, and port
// numbers as text.
#pragma once

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "portlib/settings.h"

namespace portlib {

// One line naming the cause and its remedy, such as
// "/dev/parport0: permission denied: add yourself to group lp and log in again".
class BackendError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "0x378".
std::string portText(std::uint32_t port);

// Reports the line `compose()` gives, the first time only. The access it is about has been
// handled already, so a line that cannot be composed (out of memory) is dropped.
template <typename Compose>
void reportOnce(std::atomic<bool>& reported, const DiagnosticSink& report, Compose compose) noexcept {
  if (reported.exchange(true, std::memory_order_relaxed)) return;
  try {
    report(compose());
  } catch (...) {
  }
}

// A port outside the parallel ports a backend drives may belong to a disk or interrupt
// controller: such accesses never reach the hardware. Reads give 0xFF, as an undecoded bus
// does; writes are dropped. The first one is reported, naming the ports in use.
class OutsidePortReport {
 public:
  static constexpr std::uint8_t RefusedRead = 0xFF;

  OutsidePortReport(DiagnosticSink report, std::string portsInUse);
  void refuse(const char* operation, std::uint16_t port) noexcept;

 private:
  DiagnosticSink report_;
  std::string portsInUse_;
  std::atomic<bool> reported_{false};
};

}  // namespace portlib
