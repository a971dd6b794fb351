// The recording of the port component's test library (port_recorder.cpp), and a test's
// handle on it: the test opens the library file itself, so it sees the same instance the
// component loaded, and keeps seeing it after the component has released it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct PortRecorderEvent {
  char kind;           // 'r' read, 'w' write, 'R'/'W' buffer read/write
  std::uint8_t width;  // bytes per item: 1, 2 or 4
  std::uint32_t port;
  std::uint32_t value;  // value read or written; item count for buffer calls

  bool operator==(const PortRecorderEvent&) const = default;
};

inline void PrintTo(const PortRecorderEvent& e, std::ostream* os) {
  *os << e.kind << static_cast<int>(e.width) << " port 0x" << std::hex << e.port << " value 0x" << e.value << std::dec;
}

// What a read returns from a port nothing has written to.
constexpr std::uint32_t PortRecorderUntouched(std::uint32_t port) { return port * 0x01010101U ^ 0xA5C3E1F0U; }

using PortRecorderResetFn = void (*)();
using PortRecorderEventsFn = std::size_t (*)(const PortRecorderEvent** first);

class PortRecorder {
 public:
  explicit PortRecorder(const std::string& libraryPath);
  ~PortRecorder();
  PortRecorder(const PortRecorder&) = delete;
  PortRecorder& operator=(const PortRecorder&) = delete;

  void reset() const;
  std::vector<PortRecorderEvent> events() const;

 private:
  void* handle_;
  PortRecorderResetFn reset_;
  PortRecorderEventsFn events_;
};
