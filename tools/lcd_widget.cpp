// The LCD glass widget.
#include "tools/lcd_widget.h"

#include <QPainter>

#include <algorithm>

#include "t6963/t6963c.h"
#include "tools/lcd_image.h"

namespace lcdview {
namespace {

constexpr int Bezel = 12;
constexpr int PreferredScale = 4;
const QColor BezelColour(0x2B, 0x2D, 0x30);

}  // namespace

LcdWidget::LcdWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void LcdWidget::showFrame(const t6963::Frame& frame) {
  frame_ = frame;
  image_ = frameToImage(frame_, fittingScale());
  update();
}

int LcdWidget::fittingScale() const {
  const int byWidth = (width() - 2 * Bezel) / t6963c::Width;
  const int byHeight = (height() - 2 * Bezel) / t6963c::Height;
  return std::clamp(std::min(byWidth, byHeight), MinScale, MaxScale);
}

QSize LcdWidget::sizeHint() const {
  return {t6963c::Width * PreferredScale + 2 * Bezel, t6963c::Height * PreferredScale + 2 * Bezel};
}

QSize LcdWidget::minimumSizeHint() const { return {t6963c::Width + 2 * Bezel, t6963c::Height + 2 * Bezel}; }

void LcdWidget::paintEvent(QPaintEvent*) {
  if (image_.isNull() || image_.width() != t6963c::Width * fittingScale()) {
    image_ = frameToImage(frame_, fittingScale());
  }
  QPainter painter(this);
  painter.fillRect(rect(), BezelColour);
  painter.drawImage((width() - image_.width()) / 2, (height() - image_.height()) / 2, image_);
}

}  // namespace lcdview
