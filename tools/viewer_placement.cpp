// Placing the viewer beside the test bench.
#include "tools/viewer_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <array>

#include "ui_omalcd.h"

namespace lcdview {
namespace {

// `size` cut to `strip`, at the strip's corner nearest the bench (`anchor`), kept inside it.
QRect within(const QRect& strip, QSize size, QPoint anchor) {
  const QSize fitted = size.boundedTo(strip.size());
  const int x = std::clamp(anchor.x(), strip.left(), strip.right() + 1 - fitted.width());
  const int y = std::clamp(anchor.y(), strip.top(), strip.bottom() + 1 - fitted.height());
  return {QPoint(x, y), fitted};
}

}  // namespace

QRect benchClientGeometry() {
  QWidget form;
  Ui::TForm1().setupUi(&form);
  return {form.property("formPosition").toPoint(), form.size()};
}

QRect placeViewer(const QRect& bench, QSize minimum, QSize preferred, const QRect& available) {
  const int gap = WindowGap;
  struct Strip {
    QRect area;
    QPoint anchor;  // where the viewer's top-left would touch the bench
  };
  const std::array strips{
      Strip{QRect(QPoint(available.left(), bench.bottom() + 1 + gap), available.bottomRight()),
            QPoint(bench.left(), bench.bottom() + 1 + gap)},
      Strip{QRect(QPoint(bench.right() + 1 + gap, available.top()), available.bottomRight()),
            QPoint(bench.right() + 1 + gap, bench.top())},
      Strip{QRect(available.topLeft(), QPoint(bench.left() - 1 - gap, available.bottom())),
            QPoint(bench.left() - gap - preferred.width(), bench.top())},
      Strip{QRect(available.topLeft(), QPoint(available.right(), bench.top() - 1 - gap)),
            QPoint(bench.left(), bench.top() - gap - preferred.height())},
  };
  for (const Strip& strip : strips) {
    if (strip.area.width() >= minimum.width() && strip.area.height() >= minimum.height()) {
      return within(strip.area, preferred, strip.anchor);
    }
  }
  return within(available, preferred, QPoint(bench.left(), bench.bottom() + 1 + gap));
}

void placeBesideTheBench(QWidget& viewer) {
  const QRect bench = benchClientGeometry();
  const QScreen* screen = QGuiApplication::screenAt(bench.topLeft());
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // A minimum size the window sets itself stands; else its layout's.
  const QSize smallest = viewer.minimumSize().isEmpty() ? viewer.minimumSizeHint() : viewer.minimumSize();
  const QRect place = placeViewer(QRect(bench.topLeft(), bench.size() + WindowFrameAllowance),
                                  smallest + WindowFrameAllowance,
                                  viewer.size() + WindowFrameAllowance, screen->availableGeometry());
  viewer.resize(place.size() - WindowFrameAllowance);
  viewer.move(place.topLeft());
}

}  // namespace lcdview
