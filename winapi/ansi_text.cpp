// Conversion of the window's Unicode text to the display's 8-bit code page.
#include "app/ansi_text.h"

#include <QStringEncoder>
#include <stdexcept>

namespace kelvari {

QByteArray toWindows1252(const QString& text) {
  QStringEncoder encoder("windows-1252");
  if (!encoder.isValid()) {
    throw std::runtime_error("The Windows-1252 text encoding is not available on this system.");
  }
  return encoder.encode(text);
}

}  // namespace kelvari
