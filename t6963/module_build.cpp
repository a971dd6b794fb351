// Text forms of a module's build (see module_build.h).
#include "t6963/module_build.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>

namespace t6963 {
namespace {

constexpr std::array<const char*, PortLineCount> PortLineNames = {"STROBE", "AUTOFD", "INIT", "SLCTIN"};
constexpr std::array<const char*, ControllerLineCount> CableLineNames = {"WR", "CE", "CD", "RD"};
constexpr std::array<const char*, ControllerLineCount> PinNames = {"/WR", "/CE", "C/D", "/RD"};
constexpr const char* GroundName = "GND";
constexpr const char* SupplyName = "VCC";
constexpr std::uint32_t KiB = 1024;
constexpr std::array<std::uint32_t, 3> RamSizes = {8 * KiB, 32 * KiB, 64 * KiB};

constexpr const char* WiringForm =
    "each of WR, CE, CD and RD once, as LINE:WIRE with the wires STROBE, AUTOFD, INIT and SLCTIN (each at most "
    "once, '!' before it for an inverter in the cable), CE:GND or RD:VCC, "
    "e.g. WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN";

std::string upper(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return result;
}

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

template <std::size_t N>
std::optional<std::size_t> indexOf(const std::array<const char*, N>& names, std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    if (name == names[i]) return i;
  }
  return std::nullopt;
}

std::optional<int> number(std::string_view text) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

bool rowsScannable(int rows) {
  if (rows >= MinRows && rows <= MaxSingleScanRows) return rows % RowsPerTextLine == 0;
  return rows > MaxSingleScanRows && rows <= MaxRows && rows % DualScanStep == 0;
}

std::string wireText(const Wire& wire) {
  switch (wire.source) {
    case Wire::Source::Ground: return GroundName;
    case Wire::Source::Supply: return SupplyName;
    case Wire::Source::Port: break;
  }
  return std::string(wire.inverted ? "!" : "") + PortLineNames[static_cast<std::size_t>(wire.port)];
}

std::string sizeForm() {
  return "WIDTHxHEIGHT in pixels: a width of 1 to " + std::to_string(MaxWidth) + " (" + std::to_string(MaxLineBytes) +
         " bytes of the font's width), a height of " + std::to_string(MinRows) + " to " +
         std::to_string(MaxSingleScanRows) + " in steps of " + std::to_string(RowsPerTextLine) + ", or of " +
         std::to_string(MaxSingleScanRows + DualScanStep) + " to " + std::to_string(MaxRows) + " in steps of " +
         std::to_string(DualScanStep) + " (dual scan), e.g. 240x128";
}

}  // namespace

CableTable cableTable(const Cable& cable) {
  constexpr std::uint8_t PortInverts = t6963c::ctl::Inverted;  // STROBE, AUTOFD, SLCTIN
  constexpr std::array<std::uint8_t, ControllerLineCount> Bits = {t6963c::line::Wr, t6963c::line::Ce,
                                                                  t6963c::line::Cd, t6963c::line::Rd};
  CableTable table{};
  for (unsigned control = 0; control < table.size(); ++control) {
    const unsigned pinsHigh = (control ^ PortInverts) & t6963c::line::ControlBits;
    for (std::size_t line = 0; line < ControllerLineCount; ++line) {
      const Wire& wire = cable.wires[line];
      bool high = wire.source == Wire::Source::Supply;
      if (wire.source == Wire::Source::Port) high = (((pinsHigh >> static_cast<unsigned>(wire.port)) & 1U) != 0) != wire.inverted;
      // C/D is active high, the strobes and the chip enable active low.
      const bool active = static_cast<ControllerLine>(line) == ControllerLine::Cd ? high : !high;
      if (active) table[control] = static_cast<std::uint8_t>(table[control] | Bits[line]);
    }
  }
  return table;
}

std::uint8_t idleControl(const Cable& cable) {
  const CableTable table = cableTable(cable);
  // A tied /CE stays asserted whatever the port does; every other line can be released.
  const auto fewestActive = std::min_element(table.begin(), table.end(), [](std::uint8_t a, std::uint8_t b) {
    return std::popcount(a) < std::popcount(b);
  });
  return static_cast<std::uint8_t>(fewestActive - table.begin());
}

const char* lineName(ControllerLine line) { return PinNames[static_cast<std::size_t>(line)]; }

std::string describe(const Cable& cable) {
  std::string text;
  for (std::size_t line = 0; line < ControllerLineCount; ++line) {
    if (line > 0) text += ',';
    text += std::string(CableLineNames[line]) + ':' + wireText(cable.wires[line]);
  }
  return text;
}

std::string describe(const ModuleBuild& build) {
  return std::to_string(build.width) + 'x' + std::to_string(build.height) + ' ' + std::to_string(build.fontWidth) +
         'x' + std::to_string(t6963c::FontHeight) + ' ' + std::to_string(build.ramBytes / KiB) + "K, cable " +
         describe(build.cable);
}

Parsed<GlassSize> parseGlassSize(std::string_view text) {
  const auto cross = text.find_first_of("xX");
  const auto width = number(text.substr(0, cross));
  const auto height = cross == std::string_view::npos ? std::nullopt : number(text.substr(cross + 1));
  if (!width || !height || *width < 1 || *width > MaxWidth || !rowsScannable(*height)) return sizeForm();
  return GlassSize{*width, *height};
}

std::optional<std::string> glassRefusal(GlassSize size, int fontWidth) {
  if (size.width <= MaxLineBytes * fontWidth) return std::nullopt;
  return "a glass at most " + std::to_string(MaxLineBytes * fontWidth) + " pixels wide with the " +
         std::to_string(fontWidth) + "x8 font (" + std::to_string(MaxLineBytes) + " bytes a line)";
}

Parsed<int> parseFontWidth(std::string_view text) {
  const auto upperText = upper(text);
  for (int width = MinFontWidth; width <= MaxFontWidth; ++width) {
    if (upperText == std::to_string(width) + "X8") return width;
  }
  return std::string("5x8, 6x8, 7x8 or 8x8");
}

Parsed<std::uint32_t> parseRamBytes(std::string_view text) {
  const auto upperText = upper(text);
  for (const std::uint32_t bytes : RamSizes) {
    if (upperText == std::to_string(bytes / KiB) + "K") return bytes;
  }
  return std::string("8K, 32K or 64K");
}

Parsed<Cable> parseCable(std::string_view text) {
  const auto refuse = [](const std::string& why) { return std::string(WiringForm) + " (" + why + ")"; };
  Cable cable;
  std::array<bool, ControllerLineCount> named{};
  std::array<std::optional<std::size_t>, PortLineCount> drives{};  // controller line each port line drives
  std::size_t start = 0;
  for (;;) {
    const auto comma = text.find(',', start);
    const std::string item = upper(trimmed(text.substr(start, comma == std::string_view::npos ? comma : comma - start)));
    const auto colon = item.find(':');
    if (colon == std::string::npos) return refuse("\"" + item + "\" is no LINE:WIRE pair");
    const auto lineName = std::string_view(item).substr(0, colon);
    auto wireName = std::string_view(item).substr(colon + 1);
    const auto line = indexOf(CableLineNames, trimmed(lineName));
    if (!line) return refuse("no controller line \"" + std::string(lineName) + "\"");
    if (named[*line]) return refuse(std::string(CableLineNames[*line]) + " is named twice");
    named[*line] = true;
    wireName = trimmed(wireName);
    Wire& wire = cable.wires[*line];
    if (wireName == GroundName || wireName == SupplyName) {
      const bool ground = wireName == GroundName;
      const auto allowed = static_cast<std::size_t>(ground ? ControllerLine::Ce : ControllerLine::Rd);
      if (*line != allowed) {
        return refuse(std::string(CableLineNames[*line]) + " cannot be tied to " + std::string(wireName) +
                      "; only CE:GND and RD:VCC make a working module");
      }
      wire = Wire{ground ? Wire::Source::Ground : Wire::Source::Supply, PortLine::Strobe, false};
    } else {
      const bool inverted = wireName.starts_with('!');
      if (inverted) wireName = trimmed(wireName.substr(1));
      const auto port = indexOf(PortLineNames, wireName);
      if (!port) return refuse("no port line \"" + std::string(wireName) + "\"");
      if (drives[*port]) {
        return refuse(std::string(PortLineNames[*port]) + " drives both " + CableLineNames[*drives[*port]] + " and " +
                      CableLineNames[*line]);
      }
      drives[*port] = *line;
      wire = Wire{Wire::Source::Port, static_cast<PortLine>(*port), inverted};
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  for (std::size_t line = 0; line < ControllerLineCount; ++line) {
    if (!named[line]) return refuse(std::string(CableLineNames[line]) + " is missing");
  }
  return cable;
}

}  // namespace t6963
