// The sensor readout: MBMCAF_c, the reader of the hardware monitor's shared-memory block
// (its layout and what a publisher keeps to: sensors/mbm_shared_data.h), and TForm2, the sensor window built from forms/mbmcaf.ui,
// whose "Update" fills its thirteen boxes and writes the sensor page through the main
// window's display operations. Not here: the monitor itself (tools/ has our publisher).
#pragma once

#include <QDialog>
#include <cstdint>
#include <memory>

#include "sensors/mbm_shared_data.h"

// One snapshot of the block per object: the first in-range getter call copies the block,
// later calls return that copy. A copy opens /dev/shm/$M$B$M$5$D$ read-only (through
// OpenFileMappingA, winapi/shared_memory.cpp) and takes it only when it is a regular file
// of this user's or root's on which another open file holds a fcntl lock (asked with
// F_OFD_GETLK for F_WRLCK over the whole file, no lock taken), and when it has at least
// the 165 bytes copied; anything else counts as no block. While no copy has succeeded, every in-range call tries
// again and the getters return 0. Indices of 10 or more give the out-of-range value
// (2147483647, or 0.0 for voltages) without touching the block. Nothing is held between
// calls and nothing is reported.
class MBMCAF_c {
 public:
  MBMCAF_c() = default;

  std::int32_t GetTemperature(std::uint8_t index);
  std::int32_t GetFanSpeed(std::uint8_t index);
  double GetVoltage(std::uint8_t index);

 private:
  // Copies the block; false when it cannot be opened or mapped, or is shorter than the
  // 165 bytes copied. The read flag is the caller's to set.
  bool ReadSharedMemory();
  // Reads the block once, unless done already.
  void EnsureRead();

  bool FRead = false;
  kelvari::mbm::MbmSharedData FData;
};

namespace Ui {
class TForm2;
}

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

 public slots:
  // Takes one reading, fills the boxes, then writes the sensor page on Form1 (refused, as
  // Form1's own handlers refuse, while the port driver is not open).
  void Update_Button1Click(QObject* sender);

 protected:
  // Esc does not close the window, as it does not close the original's plain modal form;
  // the window's own close button does.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::unique_ptr<Ui::TForm2> ui_;
};

// The one sensor window, created at start-up after Form1.
extern TForm2* Form2;
