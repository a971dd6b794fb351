// The main window's behaviour without a port library: start-up touches nothing, a failed
// driver start is reported by its dialog and "Virhe", display buttons refuse while the
// driver is not open, and handlers run under the busy cursor, lifted for modal windows. The
// window goes on working after every error. (Bad numbers: end_to_end_test.cpp, with the
// driver open.)
#include <QCheckBox>
#include <QCursor>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "app/start_up.h"
#include "gui_support.h"
#include "tests/winapi/simulated_players.h"
#include "winapi/fake.h"
#include "toolkit/toolkit.h"

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

// Players that note whether the busy cursor is shown when the page asks for them.
class CursorNotingPlayers : public winapi::test::SimulatedPlayers {
 public:
  std::vector<bool> busyWhenAsked;
  std::vector<winapi::PlayerStatus> players() override {
    busyWhenAsked.push_back(busyCursorShown());
    return SimulatedPlayers::players();
  }
  static bool busyCursorShown() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor != nullptr && cursor->shape() == Qt::WaitCursor;
  }
};

TEST_F(MainWindowWithoutDriver, HandlersRunUnderTheBusyCursorAndModalWindowsWithoutIt) {
  auto players = std::make_shared<CursorNotingPlayers>();
  winapi::fake::setMediaPlayers(players);
  {
    ShownExceptions shown;  // the page refuses to write with the driver closed
    click("Winamp_Button1");
  }
  ASSERT_FALSE(players->busyWhenAsked.empty());
  EXPECT_EQ(players->busyWhenAsked, std::vector<bool>(players->busyWhenAsked.size(), true));

  bool sensorWindowShown = false;
  bool busyOverSensorWindow = true;
  QTimer::singleShot(0, [&] {
    sensorWindowShown = QApplication::activeModalWidget() == &windows_.form2();
    busyOverSensorWindow = CursorNotingPlayers::busyCursorShown();
    windows_.form2().reject();
  });
  click("MBM_Button1");
  EXPECT_TRUE(sensorWindowShown);
  EXPECT_FALSE(busyOverSensorWindow);

  winapi::fake::failLoadLibrary("DLPortIO.dll", ERROR_MOD_NOT_FOUND);
  ModalBoxWatcher watcher;
  click("StartLPTDriver_Button1");
  ASSERT_TRUE(watcher.seen().seen);
  EXPECT_FALSE(watcher.seen().busyCursor);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace kelvari::test
