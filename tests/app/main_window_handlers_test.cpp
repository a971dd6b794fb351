// The main window's behaviour without a port library: start-up touches nothing, a failed
// driver start is reported by its dialog and "Virhe", numbers are read (and refused) before
// anything else, and display buttons refuse while the driver is not open. The window goes on
// working after every error.
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "app/start_up.h"
#include "gui_support.h"
#include "winapi/fake.h"
#include "winapi/toolkit.h"

namespace kelvari::test {
namespace {

// The stand-ins start clean before the windows are created.
struct CleanStandIns {
  CleanStandIns() { winapi::fake::reset(); }
  ~CleanStandIns() { winapi::fake::reset(); }
};

class MainWindowWithoutDriver : public testing::Test {
 protected:

  template <typename Widget = QWidget>
  Widget* control(const char* name) {
    return windows_.form1().findChild<Widget*>(QString::fromUtf8(name));
  }
  void click(const char* name) {
    auto* button = control<QAbstractButton>(name);
    ASSERT_NE(button, nullptr) << name;
    QTest::mouseClick(button, Qt::LeftButton);
  }
  void type(const char* name, const char* text) { control<QLineEdit>(name)->setText(QString::fromUtf8(text)); }
  QString textIn(const char* name) { return control<QLineEdit>(name)->text(); }

  CleanStandIns standIns_;
  MainWindows windows_;
};

TEST_F(MainWindowWithoutDriver, StartUpShowsOnlyTheMainWindowAndLoadsNothing) {
  EXPECT_EQ(Form1, &windows_.form1());
  EXPECT_EQ(Form2, &windows_.form2());
  EXPECT_TRUE(windows_.form1().isVisible());
  EXPECT_FALSE(windows_.form2().isVisible());
  EXPECT_EQ(winapi::fake::loadedLibraries(), 0);
  EXPECT_TRUE(winapi::fake::calledFunctions().empty());
  EXPECT_FALSE(windows_.form1().DLPortIO1->ActiveHW());
  EXPECT_EQ(windows_.form1().DLPortIO1->DriverPath(), "D:\\WINNT\\System32\\DRIVERS");
}

TEST_F(MainWindowWithoutDriver, FailedDriverStartShowsTheDialogThenVirhe) {
  winapi::fake::failLoadLibrary("DLPortIO.dll", ERROR_MOD_NOT_FOUND);
  type("StartLPTDriver_Edit1", "OK");
  ModalBoxWatcher watcher;
  click("StartLPTDriver_Button1");

  ASSERT_TRUE(watcher.seen().seen);
  EXPECT_EQ(watcher.seen().text, "Could not open the DriverLINX driver.");
  EXPECT_EQ(watcher.seen().detailedText, "cannot load DLPortIO.dll: error #126");
  EXPECT_EQ(watcher.seen().icon, QMessageBox::Critical);
  EXPECT_EQ(watcher.seen().buttons, QMessageBox::Ok);
  EXPECT_EQ(textIn("StartLPTDriver_Edit1"), "Virhe");
  EXPECT_FALSE(windows_.form1().DLPortIO1->ActiveHW());
  EXPECT_EQ(windows_.form1().DLPortIO1->DriverPath(), ExtractFileDir(ParamStr(0)));
}

TEST_F(MainWindowWithoutDriver, LopetaClosesTheWindow) {
  click("Lopeta_Button1");
  EXPECT_FALSE(windows_.form1().isVisible());
  EXPECT_FALSE(windows_.form2().isVisible());
}

// Every control that sends to the display.
const char* const displayControls[] = {
    "InitLCD_Button1",     "SetXY_Button",       "SetLCDCursor_Button", "ClearLCDText_Button1",
    "PrintLCDText_Button1", "PutByte_Button1",   "CharGenROM_Button1",  "Mode_CheckBox1",
    "Mode_CheckBox2",      "Mode_CheckBox3",     "Mode_CheckBox4",      "ClearLCDGraph_Button1",
    "SetLCDPixel_Button1", "Nelio_Button1",      "Pixels_Button1",
};

class DisplayControlWithoutDriver : public MainWindowWithoutDriver, public testing::WithParamInterface<const char*> {};

TEST_P(DisplayControlWithoutDriver, RefusesWithOneClearErrorAndLoadsNothing) {
  ShownExceptions shown;
  click(GetParam());
  EXPECT_EQ(shown.messages(), QStringList({PortDriverNotOpenError().what()}));
  EXPECT_EQ(winapi::fake::loadedLibraries(), 0);
}

INSTANTIATE_TEST_SUITE_P(Controls, DisplayControlWithoutDriver, testing::ValuesIn(displayControls),
                         [](const testing::TestParamInfo<const char*>& caseInfo) {
                           return std::string(caseInfo.param);
                         });

TEST_F(MainWindowWithoutDriver, InitLcdBoxIsEmptiedWhenTheSequenceCannotBeSent) {
  ShownExceptions shown;
  type("InitLCD_Edit1", "OK");
  click("InitLCD_Button1");
  EXPECT_EQ(textIn("InitLCD_Edit1"), "");
  EXPECT_EQ(shown.messages().size(), 1);
}

TEST_F(MainWindowWithoutDriver, ModeCheckBoxTogglesEvenWhenTheDisplayCannotBeReached) {
  ShownExceptions shown;
  auto* box = control<QCheckBox>("Mode_CheckBox3");
  click("Mode_CheckBox3");
  EXPECT_FALSE(box->isChecked());
  click("Mode_CheckBox3");
  EXPECT_TRUE(box->isChecked());
  EXPECT_EQ(shown.messages().size(), 2);
}

struct BadNumberCase {
  const char* name;
  const char* button;
  std::vector<std::pair<const char*, const char*>> edits;  // edit box, text typed
  const char* message;
};

class BadNumber : public MainWindowWithoutDriver, public testing::WithParamInterface<BadNumberCase> {};

TEST_P(BadNumber, ShowsTheConversionErrorOfTheFirstBoxReadAndNothingElse) {
  for (const auto& [edit, text] : GetParam().edits) type(edit, text);
  ShownExceptions shown;
  click(GetParam().button);
  EXPECT_EQ(shown.messages(), QStringList({QString::fromUtf8(GetParam().message)}));
  EXPECT_EQ(winapi::fake::loadedLibraries(), 0);

  // The window goes on working: the next press is handled again.
  click(GetParam().button);
  EXPECT_EQ(shown.messages().size(), 2);
}

INSTANTIATE_TEST_SUITE_P(
    Handlers, BadNumber,
    testing::Values(
        BadNumberCase{"SetXYRow", "SetXY_Button", {{"SetXY_Edit1", "abc"}}, "'abc' is not a valid integer value"},
        BadNumberCase{"SetXYColumn", "SetXY_Button", {{"SetXY_Edit2", "1.5"}}, "'1.5' is not a valid integer value"},
        BadNumberCase{"SetXYRowReadFirst", "SetXY_Button", {{"SetXY_Edit1", "r"}, {"SetXY_Edit2", "c"}},
                      "'r' is not a valid integer value"},
        BadNumberCase{"CursorEmptyColumn", "SetLCDCursor_Button", {{"SetLCDCursor_Edit2", ""}},
                      "'' is not a valid integer value"},
        BadNumberCase{"CursorRowReadFirst", "SetLCDCursor_Button",
                      {{"SetLCDCursor_Edit1", "rivi"}, {"SetLCDCursor_Edit2", "sarake"}},
                      "'rivi' is not a valid integer value"},
        BadNumberCase{"PixelYReadFirst", "SetLCDPixel_Button1",
                      {{"SetLCDPixel_Edit1", "x"}, {"SetLCDPixel_Edit2", "y"}}, "'y' is not a valid integer value"},
        BadNumberCase{"PixelX", "SetLCDPixel_Button1", {{"SetLCDPixel_Edit1", "ä"}},
                      "'ä' is not a valid integer value"},
        BadNumberCase{"SquareYReadFirst", "Nelio_Button1", {{"Nelio_Edit1", "x"}, {"Nelio_Edit2", "y"}},
                      "'y' is not a valid integer value"},
        BadNumberCase{"SquareOutOfRange", "Nelio_Button1", {{"Nelio_Edit1", "4294967296"}},
                      "'4294967296' is not a valid integer value"}),
    [](const testing::TestParamInfo<BadNumberCase>& caseInfo) { return std::string(caseInfo.param.name); });

}  // namespace
}  // namespace kelvari::test
