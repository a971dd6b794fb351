// TForm1: the main window of the test bench, built from forms/omalcd.ui. It owns the port
// component DLPortIO1, offers the display operations under their own names (forwarding to
// one LcdOperations over DLPortIO1) and handles the window's buttons and check boxes; every
// handler, the sensor window's and the media-player page's included, drives the display
// through these operations only.
// Handlers read their numbers first, then refuse with PortDriverNotOpenError while the
// driver is not open, then send; exceptions escaping them go to the application's
// exception display. Not here: the media player's handler is in app/winamp_page.cpp; the
// sensor window is TForm2.
#pragma once

#include <QWidget>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "app/lcd_operations.h"
#include "portio/tdlportio.h"

namespace Ui {
class TForm1;
}
class QAbstractButton;

// A display button was pressed before "StartLPTDriver" opened the port driver.
class PortDriverNotOpenError : public std::runtime_error {
 public:
  PortDriverNotOpenError();
};

class TForm1 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  const std::unique_ptr<TDLPortIO> DLPortIO1;

  // Loads the port library and driver from the executable's folder; shows an error dialog
  // when that fails, with the reason and its remedy as the dialog's details. The outcome is
  // DLPortIO1->ActiveHW().
  void OpenLptDriver();

  // The window's rule for a closed driver: throws PortDriverNotOpenError unless the port
  // driver is open. Handlers call it after reading their inputs, before sending anything.
  void requireOpenDriver() const;

  // The display operations (see app/lcd_operations.h).
  void LcdWaitReady() { lcd_.LcdWaitReady(); }
  void LcdWriteData(std::uint8_t value) { lcd_.LcdWriteData(value); }
  void LcdWriteCommand(std::uint8_t value) { lcd_.LcdWriteCommand(value); }
  void LcdInit() { lcd_.LcdInit(); }
  void LcdSetAddress(std::int32_t column, std::int32_t row) { lcd_.LcdSetAddress(column, row); }
  void LcdSetCursor(std::int32_t column, std::int32_t row) { lcd_.LcdSetCursor(column, row); }
  void LcdClearText() { lcd_.LcdClearText(); }
  void LcdPrintText(const char* text) { lcd_.LcdPrintText(text); }
  void LcdClearGraphics() { lcd_.LcdClearGraphics(); }
  void LcdSetPixel(std::int32_t x, std::int32_t y) { lcd_.LcdSetPixel(x, y); }
  void LcdFillSquare(std::int32_t x, std::int32_t y) { lcd_.LcdFillSquare(x, y); }
  void LcdSetDisplayMode(kelvari::DisplayLayers layers) { lcd_.LcdSetDisplayMode(layers); }
  void LcdPutFixedCharacter() { lcd_.LcdPutFixedCharacter(); }
  void LcdShowCharacterSet() { lcd_.LcdShowCharacterSet(); }
  void LcdDrawStripePattern() { lcd_.LcdDrawStripePattern(); }

 public slots:
  void Lopeta_Button1Click(QObject* sender);
  void StartLPTDriver_Button1Click(QObject* sender);
  void InitLCD_Button1Click(QObject* sender);
  void SetXY_ButtonClick(QObject* sender);
  void SetLCDCursor_ButtonClick(QObject* sender);
  void ClearLCDText_Button1Click(QObject* sender);
  void PrintLCDText_Button1Click(QObject* sender);
  void PutByte_Button1Click(QObject* sender);
  void CharGenROM_Button1Click(QObject* sender);
  void Mode_CheckBox1Click(QObject* sender);
  void Mode_CheckBox2Click(QObject* sender);
  void Mode_CheckBox3Click(QObject* sender);
  void Mode_CheckBox4Click(QObject* sender);
  void ClearLCDGraph_Button1Click(QObject* sender);
  void SetLCDPixel_Button1Click(QObject* sender);
  void Nelio_Button1Click(QObject* sender);
  void Pixels_Button1Click(QObject* sender);
  // Shows Form2 modally; returns when it is closed.
  void MBM_Button1Click(QObject* sender);
  void Winamp_Button1Click(QObject* sender);

 private:
  using Handler = void (TForm1::*)(QObject*);
  void onClick(QAbstractButton* control, Handler handler);

  std::unique_ptr<Ui::TForm1> ui_;
  kelvari::LcdOperations<TDLPortIO> lcd_;
};

// The one main window, created first at start-up.
extern TForm1* Form1;
