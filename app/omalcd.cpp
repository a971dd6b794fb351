// The main window: construction from its form description and the handlers of its controls.
#include "app/omalcd.h"

#include <QCheckBox>
#include <QMessageBox>

#include "winapi/ansi_text.h"
#include "app/application.h"
#include "sensors/mbmcaf.h"
#include "ui_omalcd.h"
#include "toolkit/toolkit.h"
#include "winapi/windows.h"

TForm1* Form1 = nullptr;

namespace {

const QString OkText = QStringLiteral("OK");
const QString FailedText = QStringLiteral("Virhe");

std::int32_t numberIn(const QLineEdit* edit) { return StrToInt(edit->text().toStdString()); }

// Why the port library did not load or bind, and what to do: the loader's text, or empty.
QString libraryFailure() {
  const DWORD size = GetLastLibraryErrorTextA(nullptr, 0);
  std::string text(size, '\0');
  text.resize(GetLastLibraryErrorTextA(text.data(), size));
  return QString::fromStdString(text);
}

}  // namespace

PortDriverNotOpenError::PortDriverNotOpenError()
    : std::runtime_error("The port driver is not open: press \"StartLPTDriver\" first.") {}

TForm1::TForm1(QWidget* parent)
    : QWidget(parent),
      DLPortIO1(std::make_unique<TDLPortIO>(nullptr)),
      ui_(std::make_unique<Ui::TForm1>()),
      lcd_(*DLPortIO1) {
  ui_->setupUi(this);
  // Captions in the frames' top lines, as the group boxes look on the original platform. Set
  // once the controls exist: a style sheet set before them would lose the form's font in
  // the controls placed inside group boxes.
  setStyleSheet(property("groupBoxStyle").toString());
  DLPortIO1->SetDriverPath(property("driverPath").toString().toStdString());
  move(property("formPosition").toPoint());

  onClick(ui_->Lopeta_Button1, &TForm1::Lopeta_Button1Click);
  onClick(ui_->StartLPTDriver_Button1, &TForm1::StartLPTDriver_Button1Click);
  onClick(ui_->InitLCD_Button1, &TForm1::InitLCD_Button1Click);
  onClick(ui_->SetXY_Button, &TForm1::SetXY_ButtonClick);
  onClick(ui_->SetLCDCursor_Button, &TForm1::SetLCDCursor_ButtonClick);
  onClick(ui_->ClearLCDText_Button1, &TForm1::ClearLCDText_Button1Click);
  onClick(ui_->PrintLCDText_Button1, &TForm1::PrintLCDText_Button1Click);
  onClick(ui_->PutByte_Button1, &TForm1::PutByte_Button1Click);
  onClick(ui_->CharGenROM_Button1, &TForm1::CharGenROM_Button1Click);
  onClick(ui_->Mode_CheckBox1, &TForm1::Mode_CheckBox1Click);
  onClick(ui_->Mode_CheckBox2, &TForm1::Mode_CheckBox2Click);
  onClick(ui_->Mode_CheckBox3, &TForm1::Mode_CheckBox3Click);
  onClick(ui_->Mode_CheckBox4, &TForm1::Mode_CheckBox4Click);
  onClick(ui_->ClearLCDGraph_Button1, &TForm1::ClearLCDGraph_Button1Click);
  onClick(ui_->SetLCDPixel_Button1, &TForm1::SetLCDPixel_Button1Click);
  onClick(ui_->Nelio_Button1, &TForm1::Nelio_Button1Click);
  onClick(ui_->Pixels_Button1, &TForm1::Pixels_Button1Click);
  onClick(ui_->MBM_Button1, &TForm1::MBM_Button1Click);
  onClick(ui_->Winamp_Button1, &TForm1::Winamp_Button1Click);
}

TForm1::~TForm1() = default;

void TForm1::onClick(QAbstractButton* control, Handler handler) {
  connect(control, &QAbstractButton::clicked, this,
          kelvari::guarded([this, control, handler] { (this->*handler)(control); }));
}

void TForm1::requireOpenDriver() const {
  if (!DLPortIO1->ActiveHW()) throw PortDriverNotOpenError();
}

void TForm1::OpenLptDriver() {
  DLPortIO1->SetDriverPath(ExtractFileDir(ParamStr(0)));
  DLPortIO1->OpenDriver();
  if (!DLPortIO1->ActiveHW()) {
    QMessageBox dialog(QMessageBox::Critical, QStringLiteral("Error"),
                       QStringLiteral("Could not open the DriverLINX driver."), QMessageBox::Ok, this);
    dialog.setDetailedText(libraryFailure());
    const kelvari::BusyCursorLifted waitingForTheUser;
    dialog.exec();
  }
}

void TForm1::Lopeta_Button1Click(QObject*) { close(); }

void TForm1::StartLPTDriver_Button1Click(QObject*) {
  OpenLptDriver();
  ui_->StartLPTDriver_Edit1->setText(DLPortIO1->ActiveHW() ? OkText : FailedText);
}

void TForm1::InitLCD_Button1Click(QObject*) {
  ui_->InitLCD_Edit1->clear();
  requireOpenDriver();
  LcdInit();
  ui_->InitLCD_Edit1->setText(OkText);
}

void TForm1::SetXY_ButtonClick(QObject*) {
  const std::int32_t row = numberIn(ui_->SetXY_Edit1);
  const std::int32_t column = numberIn(ui_->SetXY_Edit2);
  requireOpenDriver();
  LcdSetAddress(column, row);
}

void TForm1::SetLCDCursor_ButtonClick(QObject*) {
  const std::int32_t row = numberIn(ui_->SetLCDCursor_Edit1);
  const std::int32_t column = numberIn(ui_->SetLCDCursor_Edit2);
  requireOpenDriver();
  LcdSetCursor(column, row);
}

void TForm1::ClearLCDText_Button1Click(QObject*) {
  requireOpenDriver();
  LcdClearText();
}

void TForm1::PrintLCDText_Button1Click(QObject*) {
  const QByteArray text = winapi::toWindows1252(ui_->PrintLCDText_Edit1->text());
  requireOpenDriver();
  LcdPrintText(text.constData());
}

void TForm1::PutByte_Button1Click(QObject*) {
  requireOpenDriver();
  LcdPutFixedCharacter();
}

void TForm1::CharGenROM_Button1Click(QObject*) {
  requireOpenDriver();
  LcdShowCharacterSet();
}

void TForm1::Mode_CheckBox1Click(QObject*) {
  const kelvari::DisplayLayers layers{.cursorBlink = ui_->Mode_CheckBox1->isChecked(),
                                      .cursor = ui_->Mode_CheckBox2->isChecked(),
                                      .graphics = ui_->Mode_CheckBox3->isChecked(),
                                      .text = ui_->Mode_CheckBox4->isChecked()};
  requireOpenDriver();
  LcdSetDisplayMode(layers);
}

void TForm1::Mode_CheckBox2Click(QObject* sender) { Mode_CheckBox1Click(sender); }
void TForm1::Mode_CheckBox3Click(QObject* sender) { Mode_CheckBox1Click(sender); }
void TForm1::Mode_CheckBox4Click(QObject* sender) { Mode_CheckBox1Click(sender); }

void TForm1::ClearLCDGraph_Button1Click(QObject*) {
  requireOpenDriver();
  LcdClearGraphics();
}

void TForm1::SetLCDPixel_Button1Click(QObject*) {
  const std::int32_t y = numberIn(ui_->SetLCDPixel_Edit2);
  const std::int32_t x = numberIn(ui_->SetLCDPixel_Edit1);
  requireOpenDriver();
  LcdSetPixel(x, y);
}

void TForm1::Nelio_Button1Click(QObject*) {
  const std::int32_t y = numberIn(ui_->Nelio_Edit2);
  const std::int32_t x = numberIn(ui_->Nelio_Edit1);
  requireOpenDriver();
  LcdFillSquare(x, y);
}

void TForm1::Pixels_Button1Click(QObject*) {
  requireOpenDriver();
  LcdDrawStripePattern();
}

void TForm1::MBM_Button1Click(QObject*) {
  const kelvari::BusyCursorLifted waitingForTheUser;
  Form2->exec();
}
