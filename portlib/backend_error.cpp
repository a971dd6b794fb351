// Port text and the report of refused ports.
#include "portlib/backend_error.h"

#include <array>
#include <charconv>
#include <utility>

namespace portlib {

std::string portText(std::uint32_t port) {
  std::array<char, 12> digits{};
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), port, 16).ptr;
  return "0x" + std::string(digits.data(), end);
}

OutsidePortReport::OutsidePortReport(DiagnosticSink report, std::string portsInUse)
    : report_(std::move(report)), portsInUse_(std::move(portsInUse)) {}

void OutsidePortReport::refuse(const char* operation, std::uint16_t port) noexcept {
  reportOnce(reported_, report_, [&] {
    return std::string("refused a port ") + operation + " at " + portText(port) + ": only " + portsInUse_ +
           " are in use; refused reads give 0xFF, writes are dropped (reported once)";
  });
}

}  // namespace portlib
