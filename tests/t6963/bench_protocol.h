// The test bench's port protocol, spoken to a Module in tests: the ECR read-modify-write
// to byte mode, status polls (control 0x26, 0x2E, data read, 0x26) until both ready bits
// are set, then the byte on the data register and the five control writes of a data byte
// (0x00 0x02 0x03 0x02 0x00) or a command (0x04 0x06 0x07 0x06 0x00). Adds a data read
// cycle (0x22 0x2A, read, 0x22 0x00) and the auto-mode polls on STA2 / STA3. On another cable
// it writes the control values that set the same controller lines there.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "t6963/controller.h"
#include "t6963/module.h"

namespace t6963::testing {

// A clock that stands at 0, the power-on time of a state powered on in a test: busy time and
// blink follow the access count alone, whatever the machine's speed.
inline Nanoseconds stoppedClock() noexcept { return 0; }
struct StoppedControllerClock final : ControllerClock {
  Nanoseconds now() noexcept override { return 0; }
};

class BenchProtocol {
 public:
  static constexpr int PollLimit = 64;

  explicit BenchProtocol(Module& module, const Cable& cable = StandardCable);

  // Polls until (status & mask) == mask; the number of polls, or nullopt after PollLimit.
  std::optional<int> waitFor(std::uint8_t mask);
  std::optional<int> waitReady();

  // Each returns false (and sends nothing) if the controller did not become ready.
  bool data(std::uint8_t value);
  bool command(std::uint8_t value);
  bool autoData(std::uint8_t value);  // polls STA3 instead
  std::optional<std::uint8_t> readData();      // after a read command: polls STA0|STA1
  std::optional<std::uint8_t> autoReadData();  // in auto read: polls STA2

  // One poll (0x26, 0x2E, read, 0x26), and the same with the ECR set and lines released
  // around it, as the bench's first poll after a byte.
  std::uint8_t pollStatus();
  std::uint8_t statusNow();

  void dataCycle(std::uint8_t value);     // the write cycle alone, no wait
  void commandCycle(std::uint8_t value);  // the write cycle alone, no wait

 private:
  void toByteMode();
  void control(std::uint8_t value);
  std::uint8_t readCycle();

  Module& module_;
  std::array<std::uint8_t, 16> wired_{};
};

}  // namespace t6963::testing
