// The accesses of the twelve entry points, over any backend: 8-, 16- and 32-bit reads and
// writes, and their buffer forms. A wider access is a run of byte accesses at consecutive
// ports, low byte first at the lowest port (little endian). A buffer access repeats the
// single access at the same port, once per item. Ports past the 16-bit I/O space do not
// exist: their reads give 0xFF, as an undecoded bus does, and their writes are dropped.
#pragma once

#include <cstdint>
#include <type_traits>

#include "portlib/port_backend.h"

namespace portlib {

inline constexpr std::uint32_t LastPort = 0xFFFF;
inline constexpr std::uint8_t NoDevice = 0xFF;

inline std::uint8_t readByte(PortBackend& backend, std::uint64_t port) noexcept {
  return port <= LastPort ? backend.read(static_cast<std::uint16_t>(port)) : NoDevice;
}

inline void writeByte(PortBackend& backend, std::uint64_t port, std::uint8_t value) noexcept {
  if (port <= LastPort) backend.write(static_cast<std::uint16_t>(port), value);
}

template <typename Value>
Value readValue(PortBackend& backend, std::uint32_t port) noexcept {
  static_assert(std::is_unsigned_v<Value>);
  Value value = 0;
  for (unsigned i = 0; i < sizeof(Value); ++i) {
    value = static_cast<Value>(value | static_cast<Value>(Value{readByte(backend, std::uint64_t{port} + i)} << (8 * i)));
  }
  return value;
}

template <typename Value>
void writeValue(PortBackend& backend, std::uint32_t port, Value value) noexcept {
  static_assert(std::is_unsigned_v<Value>);
  for (unsigned i = 0; i < sizeof(Value); ++i) {
    writeByte(backend, std::uint64_t{port} + i, static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

// A null buffer holds no items: nothing is read or written.
template <typename Value>
void readBuffer(PortBackend& backend, std::uint32_t port, Value* buffer, std::uint32_t count) noexcept {
  if (buffer == nullptr) return;
  for (std::uint32_t i = 0; i < count; ++i) buffer[i] = readValue<Value>(backend, port);
}

template <typename Value>
void writeBuffer(PortBackend& backend, std::uint32_t port, const Value* buffer, std::uint32_t count) noexcept {
  if (buffer == nullptr) return;
  for (std::uint32_t i = 0; i < count; ++i) writeValue<Value>(backend, port, buffer[i]);
}

}  // namespace portlib
