// A stand-in port library for the component's tests: the twelve entry points, each
// recording its call, over a table of port latches (a read returns what was last written to
// the port, or a value derived from the port number). Built once complete and once for each
// entry point left out (OMIT_ENTRY = its number, 1 to 12). The recording is read through
// the PortRecorder* functions, by a test that opens the same file itself.
#include "port_recorder.h"

#include <cstdint>
#include <map>
#include <vector>

#ifndef OMIT_ENTRY
#define OMIT_ENTRY 0
#endif

#ifdef _WIN32
#define RECORDER_EXPORT extern "C" __declspec(dllexport)
#else
#define RECORDER_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::vector<PortRecorderEvent> events;
std::map<std::uint32_t, std::uint32_t> latches;

std::uint32_t latch(std::uint32_t port) {
  const auto found = latches.find(port);
  return found != latches.end() ? found->second : PortRecorderUntouched(port);
}

std::uint32_t read(std::uint32_t port, std::uint8_t width) {
  const std::uint32_t value = latch(port);
  events.push_back(PortRecorderEvent{'r', width, port, value});
  return value;
}

void write(std::uint32_t port, std::uint8_t width, std::uint32_t value) {
  events.push_back(PortRecorderEvent{'w', width, port, value});
  latches[port] = value;
}

void buffer(char kind, std::uint8_t width, std::uint32_t port, std::uint32_t count) {
  events.push_back(PortRecorderEvent{kind, width, port, count});
}

}  // namespace

#if OMIT_ENTRY != 1
RECORDER_EXPORT std::uint8_t DlPortReadPortUchar(std::uint32_t port) { return static_cast<std::uint8_t>(read(port, 1)); }
#endif
#if OMIT_ENTRY != 2
RECORDER_EXPORT std::uint16_t DlPortReadPortUshort(std::uint32_t port) { return static_cast<std::uint16_t>(read(port, 2)); }
#endif
#if OMIT_ENTRY != 3
RECORDER_EXPORT std::uint32_t DlPortReadPortUlong(std::uint32_t port) { return read(port, 4); }
#endif
#if OMIT_ENTRY != 4
RECORDER_EXPORT void DlPortWritePortUchar(std::uint32_t port, std::uint8_t value) { write(port, 1, value); }
#endif
#if OMIT_ENTRY != 5
RECORDER_EXPORT void DlPortWritePortUshort(std::uint32_t port, std::uint16_t value) { write(port, 2, value); }
#endif
#if OMIT_ENTRY != 6
RECORDER_EXPORT void DlPortWritePortUlong(std::uint32_t port, std::uint32_t value) { write(port, 4, value); }
#endif
#if OMIT_ENTRY != 7
RECORDER_EXPORT void DlPortReadPortBufferUchar(std::uint32_t port, std::uint8_t*, std::uint32_t count) { buffer('R', 1, port, count); }
#endif
#if OMIT_ENTRY != 8
RECORDER_EXPORT void DlPortReadPortBufferUshort(std::uint32_t port, std::uint16_t*, std::uint32_t count) { buffer('R', 2, port, count); }
#endif
#if OMIT_ENTRY != 9
RECORDER_EXPORT void DlPortReadPortBufferUlong(std::uint32_t port, std::uint32_t*, std::uint32_t count) { buffer('R', 4, port, count); }
#endif
#if OMIT_ENTRY != 10
RECORDER_EXPORT void DlPortWritePortBufferUchar(std::uint32_t port, const std::uint8_t*, std::uint32_t count) { buffer('W', 1, port, count); }
#endif
#if OMIT_ENTRY != 11
RECORDER_EXPORT void DlPortWritePortBufferUshort(std::uint32_t port, const std::uint16_t*, std::uint32_t count) { buffer('W', 2, port, count); }
#endif
#if OMIT_ENTRY != 12
RECORDER_EXPORT void DlPortWritePortBufferUlong(std::uint32_t port, const std::uint32_t*, std::uint32_t count) { buffer('W', 4, port, count); }
#endif

RECORDER_EXPORT void PortRecorderReset() {
  events.clear();
  latches.clear();
}

RECORDER_EXPORT std::size_t PortRecorderEvents(const PortRecorderEvent** first) {
  *first = events.data();
  return events.size();
}
