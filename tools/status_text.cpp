// Composing the viewer's status line.
#include "tools/status_text.h"

#include <QStringList>

#include "t6963/t6963c.h"

namespace lcdview {
namespace {

QString hex(unsigned value, int digits) {
  return QStringLiteral("0x") + QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

QString displayModeText(std::uint8_t mode) {
  using namespace t6963c::cmd;
  QStringList layers;
  if (mode & DisplayGraphicOn) layers << QStringLiteral("graphics");
  if (mode & DisplayTextOn) layers << QStringLiteral("text");
  if (mode & DisplayCursorOn) layers << QStringLiteral("cursor");
  if (mode & DisplayCursorBlink) layers << QStringLiteral("blink");
  return QStringLiteral("display %1 (%2)").arg(hex(mode, 2), layers.isEmpty() ? QStringLiteral("off") : layers.join(' '));
}

QString violationsText(const t6963::Violations& violations) {
  if (violations.total == 0) return QStringLiteral("violations 0");
  const auto& newest = violations.recent[(violations.total - 1) % t6963::ViolationHistorySize];
  return QStringLiteral("violations %1, last: %2").arg(violations.total).arg(QString::fromStdString(t6963::describe(newest)));
}

}  // namespace

QString statusText(const t6963::ModuleState& state) {
  const auto& controller = state.controller;
  QStringList parts;
  if (state.settings.disconnected != 0) parts << QStringLiteral("DISCONNECTED");
  parts << displayModeText(controller.displayMode)
        << QStringLiteral("address ") + hex(controller.addressPointer, 4)
        << QStringLiteral("cursor %1,%2").arg(controller.cursorX).arg(controller.cursorY)
        << violationsText(state.violations) << QString::fromStdString(t6963::describe(state.build));
  return parts.join(QStringLiteral(" | "));
}

}  // namespace lcdview
