// Reading and checking the port library's environment settings.
#include "portlib/settings.h"

#include <charconv>
#include <climits>
#include <utility>
#include <variant>

#include "t6963/shared_module.h"

namespace portlib {
namespace {

constexpr std::string_view VirtualModuleName = "lcd";
constexpr std::string_view ParportName = "ppdev";
constexpr std::string_view ParportPrefix = "/dev/parport";
constexpr std::size_t MaxSegmentNameLength = NAME_MAX;

void reject(const DiagnosticSink& report, const char* name, std::string_view value, std::string_view expected,
            std::string_view fallback) {
  std::string line = "ignoring ";
  line.append(name).append("=\"").append(value).append("\": expected ").append(expected);
  line.append("; using ").append(fallback);
  report(line);
}

void readBackend(const char* value, Settings& settings, const DiagnosticSink& report) {
  const std::string_view text = value;
  if (text == VirtualModuleName) return;
  if (text == ParportName || isParportPath(text)) {
    settings.backend = BackendKind::Parport;
    if (text != ParportName) settings.parportPath = text;
    return;
  }
  if (text.front() == '/') {
    settings.backend = BackendKind::Device;
    settings.devicePath = text;
    return;
  }
  reject(report, EnvBackend, text, "\"lcd\", \"ppdev\" or an absolute device path such as /dev/port",
         "the virtual display module");
}

void readParport(const char* value, Settings& settings, const DiagnosticSink& report) {
  if (isParportPath(value)) {
    settings.parportPath = value;
    return;
  }
  reject(report, EnvParport, value, "a ppdev device such as /dev/parport1", "the port at 0x378, else /dev/parport0");
}

void readShadow(const char* value, Settings& settings, const DiagnosticSink& report) {
  const std::string_view text = value;
  if (text == "1" || text == "0") {
    settings.shadow = text == "1";
    return;
  }
  reject(report, EnvShadow, text, "\"1\" or \"0\"", "no shadow");
}

void readSegment(const char* value, Settings& settings, const DiagnosticSink& report) {
  if (isSegmentName(value)) {
    settings.segmentName = value;
    return;
  }
  reject(report, EnvSegment, value, "a name of the form /name (no further '/', at most 255 characters)",
         "the default segment " + t6963::SharedModule::defaultName());
}

void readPowerOn(const char* value, Settings& settings, const DiagnosticSink& report) {
  const std::string_view text = value;
  if (text == "random") {
    settings.powerOn = t6963::PowerOnContents::Random;
  } else if (text == "zero") {
    settings.powerOn = t6963::PowerOnContents::Zero;
  } else {
    reject(report, EnvPowerOn, text, "\"random\" or \"zero\"", "random contents");
  }
}

void readDisconnected(const char* value, Settings& settings, const DiagnosticSink& report) {
  const std::string_view text = value;
  if (text == "1") {
    settings.disconnected = true;
  } else if (text == "0") {
    settings.disconnected = false;
  } else {
    reject(report, EnvDisconnected, text, "\"1\" or \"0\"", "the segment's own setting");
  }
}

void readBusy(const char* value, Settings& settings, const DiagnosticSink& report) {
  const std::string_view text = value;
  std::uint32_t accesses = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), accesses);
  if (error == std::errc{} && end == text.data() + text.size() && accesses <= MaxBusyAccesses) {
    settings.busyAccesses = accesses;
    return;
  }
  reject(report, EnvBusy, text, "a number of port accesses from 0 to 1000000", "the segment's own setting");
}

// A build setting: the parsed value, or its refusal reported and the default kept.
template <typename Value>
std::optional<Value> parsed(const t6963::Parsed<Value>& result, const char* name, std::string_view text,
                            const std::string& fallback, const DiagnosticSink& report) {
  if (const auto* value = std::get_if<Value>(&result)) return *value;
  reject(report, name, text, std::get<std::string>(result), fallback);
  return std::nullopt;
}

std::string standardSize() {
  return std::to_string(t6963::StandardBuild.width) + "x" + std::to_string(t6963::StandardBuild.height);
}

void readSize(const char* value, Settings& settings, const DiagnosticSink& report) {
  if (const auto size = parsed(t6963::parseGlassSize(value), EnvSize, value, standardSize(), report)) {
    settings.build.width = static_cast<std::uint16_t>(size->width);
    settings.build.height = static_cast<std::uint16_t>(size->height);
  }
}

void readFont(const char* value, Settings& settings, const DiagnosticSink& report) {
  if (const auto width = parsed(t6963::parseFontWidth(value), EnvFont, value, "6x8", report)) {
    settings.build.fontWidth = static_cast<std::uint8_t>(*width);
  }
}

void readRam(const char* value, Settings& settings, const DiagnosticSink& report) {
  if (const auto bytes = parsed(t6963::parseRamBytes(value), EnvRam, value, "8K", report)) settings.build.ramBytes = *bytes;
}

void readWiring(const char* value, Settings& settings, const DiagnosticSink& report) {
  if (const auto cable = parsed(t6963::parseCable(value), EnvWiring, value, describe(t6963::StandardCable), report)) {
    settings.build.cable = *cable;
  }
}

// A glass the font's line cannot span is refused as a whole: the default glass spans any.
void checkGlassWithFont(const EnvironmentLookup& lookup, Settings& settings, const DiagnosticSink& report) {
  auto& build = settings.build;
  const auto refusal = t6963::glassRefusal({build.width, build.height}, build.fontWidth);
  if (!refusal) return;
  reject(report, EnvSize, lookup(EnvSize), *refusal, standardSize());
  build.width = t6963::StandardBuild.width;
  build.height = t6963::StandardBuild.height;
}

}  // namespace

bool isParportPath(std::string_view text) {
  if (!text.starts_with(ParportPrefix)) return false;
  const auto number = text.substr(ParportPrefix.size());
  return !number.empty() && number.size() <= 3 &&
         number.find_first_not_of("0123456789") == std::string_view::npos;
}

bool isSegmentName(std::string_view text) {
  return text.size() >= 2 && text.size() <= MaxSegmentNameLength && text.front() == '/' &&
         text.find('/', 1) == std::string_view::npos;
}

Settings readSettings(const EnvironmentLookup& lookup, const DiagnosticSink& report) {
  using Reader = void (*)(const char*, Settings&, const DiagnosticSink&);
  constexpr std::pair<const char*, Reader> readers[] = {
      {EnvBackend, readBackend},           {EnvParport, readParport}, {EnvShadow, readShadow},
      {EnvSegment, readSegment},           {EnvPowerOn, readPowerOn}, {EnvDisconnected, readDisconnected},
      {EnvBusy, readBusy},                 {EnvSize, readSize},       {EnvFont, readFont},
      {EnvRam, readRam},                   {EnvWiring, readWiring},
  };
  Settings settings;
  for (const auto& [name, read] : readers) {
    const char* value = lookup(name);
    if (value != nullptr && *value != '\0') read(value, settings, report);
  }
  checkGlassWithFont(lookup, settings, report);
  return settings;
}

std::string segmentNameOf(const Settings& settings) {
  return settings.segmentName.empty() ? t6963::SharedModule::defaultName() : settings.segmentName;
}

}  // namespace portlib
