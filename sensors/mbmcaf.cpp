// The sensor window built from forms/mbmcaf.ui.
#include "sensors/mbmcaf.h"

#include "ui_mbmcaf.h"

TForm2* Form2 = nullptr;

TForm2::TForm2(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::TForm2>()) {
  ui_->setupUi(this);
  move(property("formPosition").toPoint());
}

TForm2::~TForm2() = default;
