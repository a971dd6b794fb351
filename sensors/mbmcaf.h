// TForm2: the sensor window, hidden from start-up until shown modally. For now only its
// frame from the form description; the readout and its button come with the sensor page.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class TForm2;
}

class TForm2 : public QDialog {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

 private:
  std::unique_ptr<Ui::TForm2> ui_;
};

// The one sensor window, created at start-up after Form1.
extern TForm2* Form2;
