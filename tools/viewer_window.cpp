// The live viewer's window.
#include "tools/viewer_window.h"

#include <QFontDatabase>
#include <QMessageBox>
#include <QScrollBar>
#include <QSignalBlocker>

#include <algorithm>
#include <exception>

#include "portlib/settings.h"
#include "t6963/bus_decoder.h"
#include "t6963/renderer.h"
#include "tools/status_text.h"
#include "ui_viewer_window.h"

namespace lcdview {

ViewerWindow::ViewerWindow(std::string segment, t6963::PowerOnContents powerOnContents, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::ViewerWindow>()),
      segment_(std::move(segment)),
      powerOnContents_(powerOnContents) {
  ui_->setupUi(this);
  setWindowTitle(QStringLiteral("lcdview %1").arg(QString::fromStdString(segment_)));
  ui_->busySpinBox->setRange(0, static_cast<int>(portlib::MaxBusyAccesses));
  ui_->busLogView->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  fitToGlass();

  connect(ui_->powerCycleButton, &QPushButton::clicked, this, &ViewerWindow::powerCycle);
  connect(ui_->connectedCheckBox, &QCheckBox::toggled, this, &ViewerWindow::setConnected);
  connect(ui_->busySpinBox, &QSpinBox::valueChanged, this, &ViewerWindow::setBusyAccesses);

  frameTimer_.setTimerType(Qt::PreciseTimer);
  frameTimer_.setInterval(FrameIntervalMs);
  connect(&frameTimer_, &QTimer::timeout, this, &ViewerWindow::refresh);
  busLogTimer_.setInterval(BusLogIntervalMs);
  connect(&busLogTimer_, &QTimer::timeout, this, &ViewerWindow::refreshBusLog);
  clock_.start();
  refresh();
  refreshBusLog();
  frameTimer_.start();
  busLogTimer_.start();
}

ViewerWindow::~ViewerWindow() = default;

// The smallest window has the log beside the glass; from the stacked layout's smallest
// height on, the log goes below it (resizeEvent). Both follow the glass's size.
void ViewerWindow::fitToGlass() {
  ui_->glassAndLogLayout->setDirection(QBoxLayout::LeftToRight);
  layout()->invalidate();
  const QSize beside = layout()->minimumSize();
  ui_->glassAndLogLayout->setDirection(QBoxLayout::TopToBottom);
  layout()->invalidate();
  stackedMinimumHeight_ = layout()->minimumSize().height();
  setMinimumSize(std::max(beside.width(), layout()->minimumSize().width()), beside.height());
  arrange();
}

void ViewerWindow::resizeEvent(QResizeEvent* event) {
  arrange();
  QWidget::resizeEvent(event);
}

void ViewerWindow::arrange() {
  const bool stacked = height() >= stackedMinimumHeight_;
  ui_->glassAndLogLayout->setDirection(stacked ? QBoxLayout::TopToBottom : QBoxLayout::LeftToRight);
  // Beside the glass, at its smallest scale, the log takes most of the width; below it, the
  // height the glass's width cannot use.
  ui_->glassAndLogLayout->setStretch(0, stacked ? 0 : 1);
  ui_->glassAndLogLayout->setStretch(1, stacked ? 1 : 2);
}

bool ViewerWindow::attach() {
  if (module_) return true;
  try {
    module_ = t6963::SharedModule::openExisting(segment_);
    if (!module_) {
      ui_->statusLabel->setText(QStringLiteral("waiting for the virtual display %1 to appear: it appears when the test "
                                               "bench starts its port driver (check DLPORTIO_LCD_SEGMENT if it runs)")
                                    .arg(QString::fromStdString(segment_)));
    }
  } catch (const std::exception& error) {
    ui_->statusLabel->setText(QStringLiteral("waiting for a usable module: %1").arg(error.what()));
  }
  for (QWidget* control : {static_cast<QWidget*>(ui_->powerCycleButton), static_cast<QWidget*>(ui_->connectedCheckBox),
                           static_cast<QWidget*>(ui_->busySpinBox)}) {
    control->setEnabled(module_.has_value());
  }
  return module_.has_value();
}

void ViewerWindow::refresh() {
  if (!attach()) return;
  try {
    const auto state = module_->snapshot(FrameCopyBound);
    const bool blinkOn = (clock_.elapsed() / BlinkHalfPeriodMs) % 2 == 0;
    ui_->lcdWidget->showFrame(t6963::render(state, blinkOn));
    if (state.build.width != build_.width || state.build.height != build_.height) fitToGlass();
    build_ = state.build;
    ui_->statusLabel->setText(statusText(state));
    showControls(state);
  } catch (const std::exception& error) {
    ui_->statusLabel->setText(QStringLiteral("last good frame shown: %1").arg(error.what()));
  }
}

void ViewerWindow::refreshBusLog() {
  if (!module_) return;
  const std::uint64_t recorded = t6963::recordedCount(module_->trace());
  if (recorded == busLogRecords_) return;
  busLogRecords_ = recorded;
  const auto trace = t6963::copyTrace(module_->trace(), build_, BusLogRecords);
  const auto entries = t6963::decodeBusLog(trace);
  QStringList lines;
  for (auto entry = entries.end() - static_cast<std::ptrdiff_t>(std::min(entries.size(), BusLogEntries));
       entry != entries.end(); ++entry) {
    lines << QString::fromStdString(t6963::formatBusLogEntry(*entry));
  }
  QScrollBar* scrollBar = ui_->busLogView->verticalScrollBar();
  const bool followNewest = scrollBar->value() == scrollBar->maximum();
  const int position = scrollBar->value();
  ui_->busLogView->setPlainText(lines.join(QLatin1Char('\n')));
  scrollBar->setValue(followNewest ? scrollBar->maximum() : position);
}

void ViewerWindow::showControls(const t6963::ModuleState& state) {
  const QSignalBlocker blockConnected(ui_->connectedCheckBox);
  ui_->connectedCheckBox->setChecked(state.settings.disconnected == 0);
  if (!ui_->busySpinBox->hasFocus()) {
    const QSignalBlocker blockBusy(ui_->busySpinBox);
    ui_->busySpinBox->setValue(static_cast<int>(state.settings.busyAccesses));
  }
}

void ViewerWindow::powerCycle() {
  try {
    module_->powerCycle(powerOnContents_);
  } catch (const std::exception& error) {
    QMessageBox::warning(this, windowTitle(), QStringLiteral("Power cycle failed: %1").arg(error.what()));
    return;
  }
  refresh();
}

void ViewerWindow::setConnected(bool connected) {
  t6963::setDisconnected(module_->state(), !connected);
  refresh();
}

void ViewerWindow::setBusyAccesses(int accesses) {
  t6963::setBusyAccesses(module_->state(), static_cast<std::uint32_t>(accesses));
}

}  // namespace lcdview
