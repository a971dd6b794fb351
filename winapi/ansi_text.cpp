// Conversion of Unicode text to the Windows ANSI code page.
#include "winapi/ansi_text.h"

#include <QList>
#include <QStringEncoder>
#include <stdexcept>

namespace winapi {

QByteArray toWindows1252(const QString& text) {
  QStringEncoder encoder("windows-1252");
  if (!encoder.isValid()) {
    throw std::runtime_error("The Windows-1252 text encoding is not available on this system.");
  }
  // The encoder puts its own substitute, 0x1A, for a missing character: one at a time, so
  // that a 0x1A of the text itself stays.
  QByteArray ansi;
  ansi.reserve(text.size());
  for (const char32_t character : QStringView(text).toUcs4()) {
    const QByteArray encoded = encoder.encode(QString::fromUcs4(&character, 1));
    const bool substituted = encoded.size() != 1 || (encoded[0] == '\x1A' && character != 0x1A);
    ansi += substituted ? '?' : encoded[0];
  }
  return ansi;
}

}  // namespace winapi
