// The display's byte layer on the parallel port: wait until the controller is ready, send
// one data byte, send one command byte. It runs over any port object with
//   std::uint8_t GetPortByte(std::uint16_t port);  void SetPortByte(std::uint16_t port, std::uint8_t value);
// and is the only code that knows the port registers and the control-line sequences.
//
// Not here: what the bytes mean (the display operations, app/lcd_operations.h), whether the
// port driver is open, and any knowledge of how the controller reacts to the bytes.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <thread>

#include "t6963/t6963c.h"

namespace kelvari {

// The controller did not report ready within the wait's bound; the operation in progress
// stopped at the byte it could not send.
class LcdNotReadyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

template <typename PortIO, typename Clock = std::chrono::steady_clock>
class LcdBus {
 public:
  static constexpr std::chrono::milliseconds DefaultReadyTimeout{250};
  // The clock is read once per this many unanswered status polls, not on every poll.
  static constexpr int PollsPerClockCheck = 64;
  // A long wait polls no faster than a real port answers: four accesses of about a
  // microsecond each. On real hardware this never holds the wait back; against the virtual
  // module it keeps a whole wait inside the module's bus trace, where the bus log can show it.
  static constexpr std::chrono::microseconds PollTime{4};

  explicit LcdBus(PortIO& port, std::chrono::milliseconds readyTimeout = DefaultReadyTimeout)
      : port_(port), readyTimeout_(readyTimeout) {}

  // Switches the port to byte mode and polls the status until STA0 and STA1 are both set,
  // on average no faster than one poll per PollTime once a batch went unanswered; throws
  // LcdNotReadyError (after releasing the lines) when the bound runs out.
  void LcdWaitReady() {
    using namespace t6963c;
    const std::uint8_t ecrValue = port_.GetPortByte(EcrPort);
    port_.SetPortByte(EcrPort, static_cast<std::uint8_t>((ecrValue & ecr::KeepMask) | ecr::ModeByte));

    const auto start = Clock::now();
    const auto deadline = start + std::chrono::duration_cast<typename Clock::duration>(readyTimeout_);
    int pollsSinceClockCheck = 0;
    std::int64_t batches = 0;
    while (!pollStatusReady()) {
      if (++pollsSinceClockCheck < PollsPerClockCheck) continue;
      pollsSinceClockCheck = 0;
      auto now = Clock::now();
      const auto due = start + std::chrono::duration_cast<typename Clock::duration>(++batches * PollsPerClockCheck * PollTime);
      if (now < due) {
        std::this_thread::sleep_until(std::min(due, deadline));
        now = Clock::now();
      }
      if (now >= deadline) {
        port_.SetPortByte(ControlPort, ctl::Released);
        throw LcdNotReadyError("The LCD controller did not report ready within " +
                               std::to_string(readyTimeout_.count()) +
                               " ms (display not connected or not powered, or the port driver not open).");
      }
    }
    port_.SetPortByte(ControlPort, ctl::Released);
  }

  void LcdWriteData(std::uint8_t value) { writeByte(value, 0); }
  void LcdWriteCommand(std::uint8_t value) { writeByte(value, t6963c::ctl::Cd); }

 private:
  bool pollStatusReady() {
    using namespace t6963c;
    port_.SetPortByte(ControlPort, ctl::StatusSelect);
    port_.SetPortByte(ControlPort, ctl::StatusRead);
    const std::uint8_t status = port_.GetPortByte(DataPort);
    port_.SetPortByte(ControlPort, ctl::StatusSelect);
    return (status & sta::Ready) == sta::Ready;
  }

  // cd is 0 for a data byte, the C/D bit for a command byte.
  void writeByte(std::uint8_t value, std::uint8_t cd) {
    using namespace t6963c;
    LcdWaitReady();
    port_.SetPortByte(DataPort, value);
    const auto enabled = static_cast<std::uint8_t>(cd | ctl::Ce);
    port_.SetPortByte(ControlPort, cd);
    port_.SetPortByte(ControlPort, enabled);
    port_.SetPortByte(ControlPort, static_cast<std::uint8_t>(enabled | ctl::Wr));
    port_.SetPortByte(ControlPort, enabled);
    port_.SetPortByte(ControlPort, ctl::Released);
  }

  PortIO& port_;
  std::chrono::milliseconds readyTimeout_;
};

}  // namespace kelvari
