// This machine's hardware monitors through libsensors, as the `sensors` command sees them:
// the system's configuration (or a file given instead) applies its labels, computations
// and ignores. The first ten temperatures, fan speeds and voltages, in a stable order (by
// chip name, then by sensor number within the chip), fill the slots of the shared-memory
// block: temperatures in whole degrees Celsius (rounded), fans in RPM (rounded), voltages
// in volts as libsensors gives them. libsensors keeps process-wide state: one object at a
// time. Not here: limits, alarms, currents, power and the other sensor kinds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sensors/mbm_shared_data.h"

struct sensors_chip_name;

namespace kelvari::publisher {

enum class SensorKind { Temperature, FanSpeed, Voltage };

// Where one sensor goes in the block.
struct SensorSlot {
  SensorKind kind;
  std::size_t index;  // 0..9 within its kind
  std::string chip;   // as `sensors` names it, e.g. "coretemp-isa-0000"
  std::string label;  // the configuration's label, else the driver's, else the feature name
};

// "Temp0", "Fan3", "Voltage6": the slot as the sensor window names it.
std::string slotName(const SensorSlot& slot);

class HardwareMonitors {
 public:
  // Reads the configuration file `configPath` (the system's files when empty) and finds
  // the chips. Throws std::runtime_error when the file cannot be read or libsensors fails;
  // errors within the configuration are reported on standard error and the rest applies,
  // as `sensors` does. Without sysfs there are simply no monitors.
  explicit HardwareMonitors(const std::string& configPath);
  ~HardwareMonitors();
  HardwareMonitors(const HardwareMonitors&) = delete;
  HardwareMonitors& operator=(const HardwareMonitors&) = delete;

  const std::vector<SensorSlot>& slots() const { return slots_; }

  // One reading of every slot; a sensor that cannot be read this time gives 0, as do the
  // slots no sensor fills. A value that is no finite number (a computation dividing by 0)
  // gives 0 too, said on standard error the first time for each sensor.
  mbm::MbmSharedData read() const;

 private:
  struct Source {
    const sensors_chip_name* chip;
    int subfeature;
  };
  std::vector<SensorSlot> slots_;
  std::vector<Source> sources_;  // one per slot, same order
  mutable std::vector<bool> nonFiniteSaid_;  // one per slot, same order
};

}  // namespace kelvari::publisher
