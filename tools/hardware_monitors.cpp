// The hardware monitors through libsensors.
#include "tools/hardware_monitors.h"

#include <sensors/error.h>
#include <sensors/sensors.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

namespace kelvari::publisher {
namespace {

struct KindInfo {
  SensorKind kind;
  sensors_feature_type feature;
  sensors_subfeature_type input;
  const char* name;
};

constexpr KindInfo Kinds[] = {
    {SensorKind::Temperature, SENSORS_FEATURE_TEMP, SENSORS_SUBFEATURE_TEMP_INPUT, "Temp"},
    {SensorKind::FanSpeed, SENSORS_FEATURE_FAN, SENSORS_SUBFEATURE_FAN_INPUT, "Fan"},
    {SensorKind::Voltage, SENSORS_FEATURE_IN, SENSORS_SUBFEATURE_IN_INPUT, "Voltage"},
};

std::string chipName(const sensors_chip_name* chip) {
  char name[256];
  return sensors_snprintf_chip_name(name, sizeof name, chip) < 0 ? std::string("unknown") : std::string(name);
}

std::string labelOf(const sensors_chip_name* chip, const sensors_feature* feature) {
  const std::unique_ptr<char, decltype(&std::free)> label(sensors_get_label(chip, feature), &std::free);
  return label != nullptr ? std::string(label.get()) : std::string(feature->name);
}

// Rounded to the nearest whole number within the 32-bit range.
std::int32_t whole(double value) {
  constexpr double lowest = std::numeric_limits<std::int32_t>::min();
  constexpr double highest = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::clamp(std::round(value), lowest, highest));
}

// The configuration being read, for the parse-error messages.
std::string configurationName;

// libsensors reports a configuration error and goes on with the rest, as `sensors` does;
// so do we, naming the file and line.
void reportParseError(const char* error, const char* fileName, int line) {
  std::fprintf(stderr, "kelvari-sensors: configuration %s, line %d: %s\n",
               fileName != nullptr ? fileName : configurationName.c_str(), line, error);
}

}  // namespace

std::string slotName(const SensorSlot& slot) {
  for (const KindInfo& info : Kinds) {
    if (info.kind == slot.kind) return info.name + std::to_string(slot.index);
  }
  return {};
}

HardwareMonitors::HardwareMonitors(const std::string& configPath) {
  std::FILE* config = nullptr;
  if (!configPath.empty()) {
    config = std::fopen(configPath.c_str(), "r");
    if (config == nullptr) {
      throw std::runtime_error("cannot read the configuration " + configPath + ": " + std::strerror(errno));
    }
  }
  configurationName = configPath.empty() ? std::string("of the system") : configPath;
  sensors_parse_error_wfn = reportParseError;
  const int error = sensors_init(config);
  if (config != nullptr) std::fclose(config);
  if (error != 0 && std::abs(error) != SENSORS_ERR_KERNEL) {
    sensors_cleanup();
    throw std::runtime_error(std::string("libsensors: ") + sensors_strerror(error) + " in the configuration " +
                             configurationName);
  }

  std::vector<const sensors_chip_name*> chips;
  int chipNumber = 0;
  while (const sensors_chip_name* chip = sensors_get_detected_chips(nullptr, &chipNumber)) chips.push_back(chip);
  std::stable_sort(chips.begin(), chips.end(),
                   [](const sensors_chip_name* a, const sensors_chip_name* b) { return chipName(a) < chipName(b); });

  for (const KindInfo& info : Kinds) {
    std::size_t index = 0;
    for (const sensors_chip_name* chip : chips) {
      int featureNumber = 0;
      while (const sensors_feature* feature = sensors_get_features(chip, &featureNumber)) {
        if (index == mbm::SensorCount) break;
        if (feature->type != info.feature) continue;
        const sensors_subfeature* input = sensors_get_subfeature(chip, feature, info.input);
        if (input == nullptr || (input->flags & SENSORS_MODE_R) == 0) continue;
        slots_.push_back(SensorSlot{info.kind, index++, chipName(chip), labelOf(chip, feature)});
        sources_.push_back(Source{chip, input->number});
      }
    }
  }
  nonFiniteSaid_.assign(slots_.size(), false);
}

HardwareMonitors::~HardwareMonitors() { sensors_cleanup(); }

mbm::MbmSharedData HardwareMonitors::read() const {
  mbm::MbmSharedData data;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    double value = 0.0;
    if (sensors_get_value(sources_[i].chip, sources_[i].subfeature, &value) != 0) value = 0.0;
    const SensorSlot& slot = slots_[i];
    if (!std::isfinite(value)) {
      if (!nonFiniteSaid_[i]) {
        std::fprintf(stderr, "kelvari-sensors: %s %s: %s gives %f; published as 0 (said once)\n",
                     slotName(slot).c_str(), slot.chip.c_str(), slot.label.c_str(), value);
      }
      nonFiniteSaid_[i] = true;
      value = 0.0;
    }
    switch (slot.kind) {
      case SensorKind::Temperature:
        data.temperatures[slot.index] = whole(value);
        break;
      case SensorKind::FanSpeed:
        data.fanSpeeds[slot.index] = whole(value);
        break;
      case SensorKind::Voltage:
        data.voltages[slot.index] = value;
        break;
    }
  }
  return data;
}

}  // namespace kelvari::publisher
