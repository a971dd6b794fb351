// The sensor reader and the sensor window.
#include "sensors/mbmcaf.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <array>
#include <limits>

#include "app/application.h"
#include "app/omalcd.h"
#include "sensors/sensor_page.h"
#include "ui_mbmcaf.h"
#include "toolkit/toolkit.h"
#include "winapi/windows.h"

TForm2* Form2 = nullptr;

namespace {

constexpr std::int32_t OutOfRangeCount = std::numeric_limits<std::int32_t>::max();
constexpr double OutOfRangeVoltage = 0.0;

}  // namespace

bool MBMCAF_c::ReadSharedMemory() {
  const HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, 0, kelvari::mbm::BlockName);
  if (mapping == nullptr) return false;
  // The view covers exactly the bytes copied, so a shorter block fails here.
  const LPVOID view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kelvari::mbm::BlockSize);
  if (view == nullptr) {
    CloseHandle(mapping);
    return false;
  }
  FData = kelvari::mbm::decode(static_cast<const unsigned char*>(view));
  UnmapViewOfFile(view);
  CloseHandle(mapping);
  return true;
}

void MBMCAF_c::EnsureRead() {
  if (!FRead && ReadSharedMemory()) FRead = true;
}

std::int32_t MBMCAF_c::GetTemperature(std::uint8_t index) {
  if (index >= kelvari::mbm::SensorCount) return OutOfRangeCount;
  EnsureRead();
  return FData.temperatures[index];
}

std::int32_t MBMCAF_c::GetFanSpeed(std::uint8_t index) {
  if (index >= kelvari::mbm::SensorCount) return OutOfRangeCount;
  EnsureRead();
  return FData.fanSpeeds[index];
}

double MBMCAF_c::GetVoltage(std::uint8_t index) {
  if (index >= kelvari::mbm::SensorCount) return OutOfRangeVoltage;
  EnsureRead();
  return FData.voltages[index];
}

TForm2::TForm2(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TForm2>()) {
  ui_->setupUi(this);
  move(property("formPosition").toPoint());
  connect(ui_->Update_Button1, &QAbstractButton::clicked, this,
          kelvari::guarded([this] { Update_Button1Click(ui_->Update_Button1); }));
}

TForm2::~TForm2() = default;

void TForm2::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Cancel)) {
    event->ignore();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TForm2::Update_Button1Click(QObject*) {
  MBMCAF_c reader;
  kelvari::SensorReading reading;
  for (std::uint8_t i = 0; i < reading.temperatures.size(); ++i) reading.temperatures[i] = reader.GetTemperature(i);
  for (std::uint8_t i = 0; i < reading.fanSpeeds.size(); ++i) reading.fanSpeeds[i] = reader.GetFanSpeed(i);
  for (std::uint8_t i = 0; i < reading.voltages.size(); ++i) reading.voltages[i] = reader.GetVoltage(i);

  const std::array temperatureBoxes{ui_->Temp0_Edit1, ui_->Temp1_Edit1, ui_->Temp2_Edit1};
  const std::array fanBoxes{ui_->Fan0_Edit1, ui_->Fan1_Edit1, ui_->Fan2_Edit1};
  const std::array voltageBoxes{ui_->Voltage0_Edit1, ui_->Voltage1_Edit1, ui_->Voltage2_Edit1, ui_->Voltage3_Edit1,
                                ui_->Voltage4_Edit1, ui_->Voltage5_Edit1, ui_->Voltage6_Edit1};
  for (std::size_t i = 0; i < temperatureBoxes.size(); ++i) {
    temperatureBoxes[i]->setText(QString::number(reading.temperatures[i]));
  }
  for (std::size_t i = 0; i < fanBoxes.size(); ++i) fanBoxes[i]->setText(QString::number(reading.fanSpeeds[i]));
  for (std::size_t i = 0; i < voltageBoxes.size(); ++i) {
    voltageBoxes[i]->setText(QString::fromStdString(FloatToStr(reading.voltages[i])));
  }

  Form1->requireOpenDriver();
  kelvari::writeSensorPage(*Form1, reading);
}
