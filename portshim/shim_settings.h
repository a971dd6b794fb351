// What kelvari-port hands its preloaded library through the environment, besides the port
// library's own DLPORTIO_* settings (the segment among them):
//   KELVARI_PORT_MODE     "spp": the port is plain SPP; otherwise bidirectional
//   KELVARI_PORT_PARPORT  the one /dev/parportN served; unset: every /dev/parportN
#pragma once

#include <string>
#include <string_view>

#include "portshim/ppdev_port.h"

namespace portshim {

inline constexpr const char* EnvMode = "KELVARI_PORT_MODE";
inline constexpr const char* EnvParport = "KELVARI_PORT_PARPORT";
inline constexpr std::string_view ModeSpp = "spp";

struct ShimSettings {
  PortMode mode = PortMode::Byte;
  std::string parport;  // empty: any /dev/parportN
};

// Whether `path` is a port the program's opens are served for.
bool servesParport(const ShimSettings& settings, std::string_view path);

}  // namespace portshim
