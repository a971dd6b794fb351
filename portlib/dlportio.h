// The C interface of the port library DLPortIO.dll: twelve entry points, looked up by name,
// and the start-up routine the loader calls. A port number is the 16-bit port widened to 32
// bits without sign.
#pragma once

#include <cstdint>

extern "C" {
// DllStartUp: null when the library is ready; else the reason it refuses to load, one line
// with its remedy, valid until the library is unloaded.
using DllStartUpFn = const char* (*)();
using DlPortReadPortUcharFn = std::uint8_t (*)(std::uint32_t port);
using DlPortReadPortUshortFn = std::uint16_t (*)(std::uint32_t port);
using DlPortReadPortUlongFn = std::uint32_t (*)(std::uint32_t port);
using DlPortWritePortUcharFn = void (*)(std::uint32_t port, std::uint8_t value);
using DlPortWritePortUshortFn = void (*)(std::uint32_t port, std::uint16_t value);
using DlPortWritePortUlongFn = void (*)(std::uint32_t port, std::uint32_t value);
using DlPortReadPortBufferUcharFn = void (*)(std::uint32_t port, std::uint8_t* buffer, std::uint32_t count);
using DlPortReadPortBufferUshortFn = void (*)(std::uint32_t port, std::uint16_t* buffer, std::uint32_t count);
using DlPortReadPortBufferUlongFn = void (*)(std::uint32_t port, std::uint32_t* buffer, std::uint32_t count);
using DlPortWritePortBufferUcharFn = void (*)(std::uint32_t port, const std::uint8_t* buffer, std::uint32_t count);
using DlPortWritePortBufferUshortFn = void (*)(std::uint32_t port, const std::uint16_t* buffer, std::uint32_t count);
using DlPortWritePortBufferUlongFn = void (*)(std::uint32_t port, const std::uint32_t* buffer, std::uint32_t count);
}

namespace dlportio {
// The entry-point names in binding order.
inline constexpr const char* EntryPointNames[12] = {
    "DlPortReadPortUchar",        "DlPortReadPortUshort",        "DlPortReadPortUlong",
    "DlPortWritePortUchar",       "DlPortWritePortUshort",       "DlPortWritePortUlong",
    "DlPortReadPortBufferUchar",  "DlPortReadPortBufferUshort",  "DlPortReadPortBufferUlong",
    "DlPortWritePortBufferUchar", "DlPortWritePortBufferUshort", "DlPortWritePortBufferUlong",
};
}  // namespace dlportio
