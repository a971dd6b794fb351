// The sensor page of the display: the texts of one reading, row by row, formatted as
// printf's "%d" and "%.2f" would in the C locale (a point, whatever the user's locale),
// each ending in one space; and their writing through the display's text operations.
// Nothing is clipped: a row longer than the display runs on into the next, where the
// next row's texts overwrite it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvari {

struct SensorReading {
  std::array<std::int32_t, 3> temperatures{};
  std::array<std::int32_t, 3> fanSpeeds{};
  std::array<double, 7> voltages{};
};

// Rows 0 to 5: temperatures, fan speeds, then the voltages two to a row (Voltage6 alone).
std::vector<std::vector<std::string>> sensorPageRows(const SensorReading& reading);

// Clears the text area, then writes each row from its column 0.
template <typename Display>
void writeSensorPage(Display& display, const SensorReading& reading) {
  display.LcdClearText();
  const std::vector<std::vector<std::string>> rows = sensorPageRows(reading);
  for (std::size_t row = 0; row < rows.size(); ++row) {
    display.LcdSetAddress(0, static_cast<std::int32_t>(row));
    for (const std::string& text : rows[row]) display.LcdPrintText(text.c_str());
  }
}

}  // namespace kelvari
