// Text as the display takes it: 8-bit characters in the Windows ANSI code page (1252).
#pragma once

#include <QByteArray>
#include <QString>

namespace kelvari {

// The text in Windows-1252, zero-terminated (QByteArray::constData()). A character the code
// page lacks becomes the encoder's substitute, the control code 0x1A, which the display
// prints as the blank. Throws std::runtime_error when the platform has no such encoder.
QByteArray toWindows1252(const QString& text);

}  // namespace kelvari
