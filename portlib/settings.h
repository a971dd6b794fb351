// The port library's own settings, read once from the environment when the library is
// loaded. Every value is checked; a bad one is reported in one clear line and its default
// is used instead, so a typing error never leaves the library without a backend. A
// variable set to the empty text counts as unset.
//
//   DLPORTIO_BACKEND           "lcd" (default): the virtual display module;
//                              "ppdev": real ports through a /dev/parportN, no root needed
//                              (a /dev/parportN given here names the port as well);
//                              the absolute path of the kernel's port device (/dev/port):
//                              real ports through it (ports no parport driver owns; needs
//                              root); any other file or device is refused
//   DLPORTIO_PARPORT           with ppdev: the /dev/parportN to drive (default: the port at
//                              0x378 if there is one, else /dev/parport0)
//   DLPORTIO_SHADOW            "1": with real ports, every access also goes to the virtual
//                              module, so the viewer shows what the display should show
//   DLPORTIO_LCD_SEGMENT       shared-memory name of the virtual module, "/name"
//                              (default: the per-user name of the module)
//   DLPORTIO_LCD_POWERON       "random" (default) or "zero": display memory when the
//                              segment is created
//   DLPORTIO_LCD_DISCONNECTED  "1": the module never answers; "0": it answers
//                              (unset: left as the segment has it)
//   DLPORTIO_LCD_BUSY          busy time after each command, in port accesses (or as many
//                              microseconds), 0..1000000 (unset: left as the segment has it)
//   DLPORTIO_LCD_SIZE          the module's build (t6963/module_build.h): the glass,
//   DLPORTIO_LCD_FONT          WIDTHxHEIGHT (default 240x64); the font strap, 5x8 to 8x8
//   DLPORTIO_LCD_RAM           (default 6x8); the RAM, 8K, 32K or 64K (default 8K); the cable,
//   DLPORTIO_LCD_WIRING        LINE:WIRE pairs (default WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN).
//                              Unset: the default, this system's own module
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "t6963/module_state.h"

namespace portlib {

inline constexpr const char* EnvBackend = "DLPORTIO_BACKEND";
inline constexpr const char* EnvParport = "DLPORTIO_PARPORT";
inline constexpr const char* EnvShadow = "DLPORTIO_SHADOW";
inline constexpr const char* EnvSegment = "DLPORTIO_LCD_SEGMENT";
inline constexpr const char* EnvPowerOn = "DLPORTIO_LCD_POWERON";
inline constexpr const char* EnvDisconnected = "DLPORTIO_LCD_DISCONNECTED";
inline constexpr const char* EnvBusy = "DLPORTIO_LCD_BUSY";
inline constexpr const char* EnvSize = "DLPORTIO_LCD_SIZE";
inline constexpr const char* EnvFont = "DLPORTIO_LCD_FONT";
inline constexpr const char* EnvRam = "DLPORTIO_LCD_RAM";
inline constexpr const char* EnvWiring = "DLPORTIO_LCD_WIRING";

inline constexpr std::uint32_t MaxBusyAccesses = 1'000'000;

enum class BackendKind { VirtualModule, Parport, Device };

struct Settings {
  BackendKind backend = BackendKind::VirtualModule;
  std::string devicePath;                 // the device file of BackendKind::Device
  std::string parportPath;                // BackendKind::Parport: empty chooses by itself
  bool shadow = false;                    // real ports also feed the virtual module
  std::string segmentName;                // empty: the module's default name
  t6963::PowerOnContents powerOn = t6963::PowerOnContents::Random;
  std::optional<bool> disconnected;       // unset: keep the segment's setting
  std::optional<std::uint32_t> busyAccesses;
  t6963::ModuleBuild build;                // the module the program asks for
};

// Looks a variable up: its value, or null when it is not set (as std::getenv).
using EnvironmentLookup = std::function<const char*(const char* name)>;
// Receives one line of diagnostics, without the trailing newline; the sink adds the name
// of the program or library it speaks for.
using DiagnosticSink = std::function<void(std::string_view line)>;

Settings readSettings(const EnvironmentLookup& lookup, const DiagnosticSink& report);

// A ppdev device name: /dev/parport followed by a number.
bool isParportPath(std::string_view text);

// A POSIX shared-memory name as the virtual module takes it: "/name", no further '/'.
bool isSegmentName(std::string_view text);

// The segment name the virtual module uses under the given settings.
std::string segmentNameOf(const Settings& settings);

}  // namespace portlib
