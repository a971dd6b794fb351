// The glass of the virtual LCD: shows the latest frame at the largest whole scale that fits,
// centred on a dark bezel, and asks for no more height than its width can show at a scale of
// up to 4. Holds no module state of its own.
#pragma once

#include <QImage>
#include <QWidget>

#include "t6963/renderer.h"

namespace lcdview {

class LcdWidget : public QWidget {
  Q_OBJECT

 public:
  explicit LcdWidget(QWidget* parent = nullptr);

  void showFrame(const t6963::Frame& frame);
  // The scale at which the current widget size shows the display.
  int fittingScale() const;

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  t6963::Frame frame_{};
  QImage image_;
};

}  // namespace lcdview
