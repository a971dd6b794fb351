// The sensor window: its form (controls, tab order, caption, position, font), and "Update"
// end to end through the real port component, DLPortIO.dll and the virtual display module:
// the thirteen boxes, the six-row page in the controller's text memory (an overflowing row
// overwritten by the next, the last one running on into row 6), the modal showing from
// "MBM arvot" with a fresh read per press (Esc does not close it), and the closed driver's
// refusal after the boxes.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <clocale>
#include <functional>
#include <memory>
#include <string>

#include "app/start_up.h"
#include "gui_support.h"
#include "module_segment.h"
#include "shared_block.h"
#include "t6963/shared_module.h"
#include "winapi/fake.h"
#include "toolkit/toolkit.h"

namespace kelvari::test {
namespace {

struct ControlCase {
  QString name;
  bool edit;  // else a label, or the button
  QRect bounds;
  QString text;
};

std::vector<ControlCase> sensorControls() {
  std::vector<ControlCase> controls{{"Update_Button1", false, {8, 8, 75, 25}, "Update"}};
  for (int i = 0; i < 3; ++i) {
    controls.push_back({QString("Temp%1_Label1").arg(i), false, {152, 16 + 24 * i, 33, 13}, QString("Temp%1").arg(i)});
    controls.push_back({QString("Temp%1_Edit1").arg(i), true, {192, 8 + 24 * i, 49, 21}, ""});
    controls.push_back({QString("Fan%1_Label1").arg(i), false, {8, 80 + 24 * i, 24, 13}, QString("Fan%1").arg(i)});
    controls.push_back({QString("Fan%1_Edit1").arg(i), true, {40, 72 + 24 * i, 57, 21}, ""});
  }
  for (int k = 0; k < 7; ++k) {
    controls.push_back(
        {QString("Voltage%1_Label1").arg(k), false, {136, 104 + 24 * k, 42, 13}, QString("Voltage%1").arg(k)});
    controls.push_back({QString("Voltage%1_Edit1").arg(k), true, {184, 96 + 24 * k, 121, 21}, ""});
  }
  return controls;
}

QString textOf(QWidget* widget) {
  if (auto* edit = qobject_cast<QLineEdit*>(widget)) return edit->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  return qobject_cast<QPushButton*>(widget)->text();
}

TEST(SensorWindowForm, ControlsTabOrderCaptionPositionAndFont) {
  TForm2 window;
  for (const ControlCase& c : sensorControls()) {
    QWidget* widget = window.findChild<QWidget*>(c.name);
    ASSERT_NE(widget, nullptr) << c.name.toStdString();
    EXPECT_EQ(widget->parentWidget(), &window) << c.name.toStdString();
    EXPECT_EQ(qobject_cast<QLineEdit*>(widget) != nullptr, c.edit) << c.name.toStdString();
    EXPECT_EQ(widget->geometry(), c.bounds) << c.name.toStdString();
    EXPECT_EQ(textOf(widget), c.text) << c.name.toStdString();
  }
  EXPECT_EQ(window.findChildren<QLabel*>().size() + window.findChildren<QLineEdit*>().size(), 26);

  QStringList expected{"Update_Button1", "Temp0_Edit1", "Temp1_Edit1", "Temp2_Edit1",
                       "Fan0_Edit1",     "Fan1_Edit1",  "Fan2_Edit1"};
  for (int k = 0; k < 7; ++k) expected << QString("Voltage%1_Edit1").arg(k);
  QStringList chain;
  QWidget* widget = window.findChild<QWidget*>("Update_Button1");
  for (int i = 0; i < 40 && chain.size() < expected.size(); ++i, widget = widget->nextInFocusChain()) {
    if ((widget->focusPolicy() & Qt::TabFocus) != 0 && widget != &window) chain << widget->objectName();
  }
  EXPECT_EQ(chain, expected);

  EXPECT_EQ(window.windowTitle(), "MBM arvot");
  EXPECT_EQ(window.pos(), QPoint(612, 195));
  EXPECT_LE(window.width(), 338);
  EXPECT_LE(window.height(), 295);
  EXPECT_GE(window.width(), 305);
  EXPECT_GE(window.height(), 261);
  EXPECT_EQ(window.font().pointSize(), 8);
}

class SensorPage : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    segment_ = std::make_unique<ModuleSegment>("sensors");
    module_ = std::make_unique<t6963::SharedModule>(
        t6963::SharedModule::open(segment_->name(), t6963::PowerOnContents::Zero));
  }
  static void TearDownTestSuite() {
    module_.reset();
    segment_.reset();
  }
  void SetUp() override {
    module_->powerCycle(t6963::PowerOnContents::Zero);
    winapi::fake::reset();
    block_ = std::make_unique<SharedBlock>();
    windows_ = std::make_unique<MainWindows>();
  }
  void TearDown() override {
    windows_.reset();
    block_.reset();
    winapi::fake::reset();
  }

  void startDisplay() {
    press(windows_->form1(), "StartLPTDriver_Button1");
    press(windows_->form1(), "InitLCD_Button1");
    ASSERT_EQ(windows_->form1().findChild<QLineEdit*>("InitLCD_Edit1")->text(), "OK");
  }
  static void press(QWidget& window, const char* button) {
    QTest::mouseClick(window.findChild<QAbstractButton*>(button), Qt::LeftButton);
  }
  void pressUpdate() { press(windows_->form2(), "Update_Button1"); }
  QString box(const char* name) { return windows_->form2().findChild<QLineEdit*>(name)->text(); }

  // Text row `row` of the controller's memory as characters (code + 32).
  static std::string textRow(int row) {
    const t6963::ModuleState state = module_->snapshot();
    std::string text;
    for (int column = 0; column < 40; ++column) text += static_cast<char>(state.ram[static_cast<std::size_t>(row * 40 + column)] + 32);
    return text;
  }
  static std::string padded(std::string text) { return text.append(40 - text.size(), ' '); }

  static inline std::unique_ptr<ModuleSegment> segment_;
  static inline std::unique_ptr<t6963::SharedModule> module_;
  std::unique_ptr<SharedBlock> block_;
  std::unique_ptr<MainWindows> windows_;
};

mbm::MbmSharedData reading(std::int32_t t0, double v0, double v6) {
  mbm::MbmSharedData data;
  data.temperatures = {t0, 38, 40, 99, 99, 99, 99, 99, 99, 99};
  data.fanSpeeds = {2500, 0, -1, 7, 7, 7, 7, 7, 7, 7};
  data.voltages = {v0, 12, -5.05, 3.3, 0.005, 2.5, v6, 9, 9, 9};
  return data;
}

TEST_F(SensorPage, UpdateFillsTheBoxesAndWritesSixRows) {
  startDisplay();
  block_->write(reading(45, 1.648, 1.5));
  pressUpdate();
  const char* boxes[] = {"Temp0_Edit1", "Temp1_Edit1", "Temp2_Edit1", "Fan0_Edit1",
                         "Fan1_Edit1",  "Fan2_Edit1",  "Voltage0_Edit1", "Voltage1_Edit1",
                         "Voltage2_Edit1", "Voltage3_Edit1", "Voltage4_Edit1", "Voltage5_Edit1",
                         "Voltage6_Edit1"};
  const char* shown[] = {"45", "38", "40", "2500", "0", "-1", "1.648", "12", "-5.05", "3.3", "0.005", "2.5", "1.5"};
  for (std::size_t i = 0; i < std::size(boxes); ++i) EXPECT_EQ(box(boxes[i]), shown[i]) << boxes[i];

  EXPECT_EQ(textRow(0), padded("Temp0: 45 Temp1: 38 Temp2: 40 "));
  EXPECT_EQ(textRow(1), padded("Fan0: 2500 Fan1: 0 Fan2: -1 "));
  EXPECT_EQ(textRow(2), padded("Voltage0: 1.65 Voltage1: 12.00 "));
  EXPECT_EQ(textRow(3), padded("Voltage2: -5.05 Voltage3: 3.30 "));
  EXPECT_EQ(textRow(4), padded("Voltage4: 0.01 Voltage5: 2.50 "));
  EXPECT_EQ(textRow(5), padded("Voltage6: 1.50 "));
  EXPECT_EQ(textRow(6), padded(""));
  EXPECT_EQ(textRow(7), padded(""));
  EXPECT_EQ(module_->snapshot().violations.total, 0u);
}

TEST_F(SensorPage, OverflowIsOverwrittenByTheNextRowAndTheLastRunsOnIntoRowSix) {
  startDisplay();
  mbm::MbmSharedData data = reading(-2147483647, 1e25, -1e30);
  data.temperatures[1] = -2147483647;
  block_->write(data);
  pressUpdate();
  // Row 0 is 57 characters long, row 2 is 56: their overflow lies under rows 1 and 3.
  EXPECT_EQ(textRow(0), "Temp0: -2147483647 Temp1: -2147483647 Te");
  EXPECT_EQ(textRow(1), padded("Fan0: 2500 Fan1: 0 Fan2: -1 "));
  EXPECT_EQ(textRow(2), "Voltage0: 10000000000000000905969664.00 ");
  EXPECT_EQ(textRow(3), padded("Voltage2: -5.05 Voltage3: 3.30 "));
  EXPECT_EQ(textRow(5), "Voltage6: -10000000000000000198846248386");
  EXPECT_EQ(textRow(6), padded("56.00 "));
  EXPECT_EQ(textRow(7), padded(""));
  EXPECT_EQ(box("Voltage0_Edit1"), "1E25");
  EXPECT_EQ(box("Voltage6_Edit1"), "-1E30");
}

TEST_F(SensorPage, BoxesTakeTheUsersDecimalSeparatorWhileTheDisplayKeepsThePoint) {
  // The C locale with a decimal comma too where the machine has one, as the
  // application gets it from the user's settings.
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "fi_FI.UTF-8");
  const char separator = DecimalSeparator();
  SetDecimalSeparator(',');
  startDisplay();
  block_->write(reading(45, 1.648, 12));
  pressUpdate();
  SetDecimalSeparator(separator);
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_EQ(box("Voltage0_Edit1"), "1,648");
  EXPECT_EQ(box("Voltage2_Edit1"), "-5,05");
  EXPECT_EQ(box("Voltage6_Edit1"), "12");
  EXPECT_EQ(textRow(2), padded("Voltage0: 1.65 Voltage1: 12.00 "));
}

TEST_F(SensorPage, ClosedDriverFillsTheBoxesThenRefusesThePage) {
  block_->write(reading(45, 1, 1));
  const std::uint64_t accesses = module_->snapshot().bus.accessCount;
  ShownExceptions shown;
  pressUpdate();
  EXPECT_EQ(box("Temp0_Edit1"), "45");
  ASSERT_EQ(shown.messages().size(), 1);
  EXPECT_EQ(shown.messages()[0], PortDriverNotOpenError().what());
  EXPECT_EQ(module_->snapshot().bus.accessCount, accesses);
}

TEST_F(SensorPage, MbmButtonShowsTheWindowModallyEscKeepsItAndClosingKeepsItsTexts) {
  startDisplay();
  block_->write(reading(45, 1, 1));
  TForm2& form2 = windows_->form2();
  // Runs `whileShown` inside the modal showing; a bounded fallback ends a showing the
  // test failed to end.
  auto showModally = [&](std::function<void()> whileShown) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
      ran = true;
      EXPECT_TRUE(form2.isVisible());
      EXPECT_EQ(QApplication::activeModalWidget(), &form2);
      whileShown();
      form2.close();
    });
    QTimer::singleShot(5000, &form2, &QDialog::reject);
    press(windows_->form1(), "MBM_Button1");
    EXPECT_TRUE(ran);
    EXPECT_FALSE(form2.isVisible());
  };
  showModally([&] {
    QTest::keyClick(&form2, Qt::Key_Escape);
    EXPECT_TRUE(form2.isVisible()) << "Esc closed the window";
    pressUpdate();
  });
  block_->write(reading(50, 1, 1));
  showModally([&] {
    EXPECT_EQ(box("Temp0_Edit1"), "45") << "the texts of the last press stay";
    pressUpdate();
    EXPECT_EQ(box("Temp0_Edit1"), "50") << "every press reads afresh";
  });
  EXPECT_EQ(textRow(0).substr(0, 10), "Temp0: 50 ");
}

}  // namespace
}  // namespace kelvari::test
