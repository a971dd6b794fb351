// The sensor page's texts.
#include "sensors/sensor_page.h"

#include <charconv>

namespace kelvari {
namespace {

std::string integerText(const char* name, std::int32_t value) { return name + std::to_string(value) + " "; }

// "%.2f": to_chars keeps the point whatever the C locale; any double fits the buffer.
std::string voltageText(const char* name, double value) {
  std::array<char, 400> digits{};
  const std::to_chars_result written =
      std::to_chars(digits.data(), digits.data() + digits.size(), value, std::chars_format::fixed, 2);
  return name + std::string(digits.data(), written.ptr) + " ";
}

}  // namespace

std::vector<std::vector<std::string>> sensorPageRows(const SensorReading& reading) {
  const auto& t = reading.temperatures;
  const auto& f = reading.fanSpeeds;
  const auto& v = reading.voltages;
  return {
      {integerText("Temp0: ", t[0]), integerText("Temp1: ", t[1]), integerText("Temp2: ", t[2])},
      {integerText("Fan0: ", f[0]), integerText("Fan1: ", f[1]), integerText("Fan2: ", f[2])},
      {voltageText("Voltage0: ", v[0]), voltageText("Voltage1: ", v[1])},
      {voltageText("Voltage2: ", v[2]), voltageText("Voltage3: ", v[3])},
      {voltageText("Voltage4: ", v[4]), voltageText("Voltage5: ", v[5])},
      {voltageText("Voltage6: ", v[6])},
  };
}

}  // namespace kelvari
