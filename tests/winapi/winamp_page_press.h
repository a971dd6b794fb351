// One press of the media-player page: TForm1::Winamp_Button1Click itself, with no port
// driver open (the display then refuses), and the three boxes it filled.
#pragma once

#include <QElapsedTimer>
#include <QLineEdit>
#include <QString>

#include "app/omalcd.h"

namespace winapi::test {

struct WinampPage {
  QString title;  // Winamp_Edit1
  QString state;  // Winamp_Edit2
  QString time;   // Winamp_Edit3
  qint64 pressMilliseconds = 0;
};

inline WinampPage pressWinampPage() {
  TForm1 form;
  QElapsedTimer timer;
  timer.start();
  try {
    form.Winamp_Button1Click(nullptr);
  } catch (const PortDriverNotOpenError&) {
  }
  const qint64 milliseconds = timer.elapsed();
  const auto box = [&form](const char* name) { return form.findChild<QLineEdit*>(name)->text(); };
  return {box("Winamp_Edit1"), box("Winamp_Edit2"), box("Winamp_Edit3"), milliseconds};
}

}  // namespace winapi::test
