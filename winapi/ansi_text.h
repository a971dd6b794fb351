// Text in the Windows ANSI code page (1252), as the original's ANSI calls and edit boxes
// hold it: the one conversion of Unicode text to the display's and the windows' 8 bits.
#pragma once

#include <QByteArray>
#include <QString>

namespace winapi {

// The text in Windows-1252, zero-terminated (QByteArray::constData()), with "?" for every
// character the code page lacks, as Windows' conversion to the ANSI code page puts it.
// Throws std::runtime_error when the platform has no such encoder.
QByteArray toWindows1252(const QString& text);

}  // namespace winapi
