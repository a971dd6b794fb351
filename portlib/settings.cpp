// Reading and checking the port library's environment settings.
#include "portlib/settings.h"

#include <charconv>
#include <climits>
#include <utility>

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
      {EnvBusy, readBusy},
  };
  Settings settings;
  for (const auto& [name, read] : readers) {
    const char* value = lookup(name);
    if (value != nullptr && *value != '\0') read(value, settings, report);
  }
  return settings;
}

std::string segmentNameOf(const Settings& settings) {
  return settings.segmentName.empty() ? t6963::SharedModule::defaultName() : settings.segmentName;
}

}  // namespace portlib
