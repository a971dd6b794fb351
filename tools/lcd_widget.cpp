// The LCD glass widget.
#include "tools/lcd_widget.h"

#include <QPainter>

#include <algorithm>

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
  const bool resized = frame.width != frame_.width || frame.height != frame_.height;
  frame_ = frame;
  image_ = frameToImage(frame_, fittingScale());
  if (resized) updateGeometry();
  update();
}

int LcdWidget::fittingScale() const {
  const int byWidth = (width() - 2 * Bezel) / frame_.width;
  const int byHeight = (height() - 2 * Bezel) / frame_.height;
  return std::clamp(std::min(byWidth, byHeight), MinScale, MaxScale);
}

QSize LcdWidget::sizeHint() const {
  return {frame_.width * PreferredScale + 2 * Bezel, frame_.height * PreferredScale + 2 * Bezel};
}

int LcdWidget::heightForWidth(int width) const {
  const int scale = std::clamp((width - 2 * Bezel) / frame_.width, MinScale, PreferredScale);
  return frame_.height * scale + 2 * Bezel;
}

QSize LcdWidget::minimumSizeHint() const { return {frame_.width + 2 * Bezel, frame_.height + 2 * Bezel}; }

void LcdWidget::paintEvent(QPaintEvent*) {
  if (image_.isNull() || image_.width() != frame_.width * fittingScale()) {
    image_ = frameToImage(frame_, fittingScale());
  }
  QPainter painter(this);
  painter.fillRect(rect(), BezelColour);
  painter.drawImage((width() - image_.width()) / 2, (height() - image_.height()) / 2, image_);
}

}  // namespace lcdview
