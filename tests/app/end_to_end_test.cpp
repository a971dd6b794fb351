// The test bench end to end: the main window's buttons pressed offscreen, through the real
// port component, the real DLPortIO.dll and the virtual display module in a shared-memory
// segment of this test's own. Checked: the controller's registers and memory, the protocol
// violations the module counted (none), and the rendered frame against golden frames.
// Set KELVARI_UPDATE_GOLDEN=1 to write the golden frames anew (then inspect them).
#include <unistd.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "app/lcd_operations.h"
#include "app/start_up.h"
#include "gui_support.h"
#include "module_segment.h"
#include "port_trace.h"
#include "portlib/settings.h"
#include "t6963/renderer.h"
#include "t6963/shared_module.h"
#include "tests/winapi/simulated_players.h"
#include "winapi/fake.h"
#include "toolkit/toolkit.h"

namespace kelvari::test {
namespace {

class EndToEnd : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    segment_ = std::make_unique<ModuleSegment>("e2e");
    module_ = std::make_unique<t6963::SharedModule>(
        t6963::SharedModule::open(segment_->name(), t6963::PowerOnContents::Zero));
  }
  static void TearDownTestSuite() {
    module_.reset();
    segment_.reset();
  }

  void SetUp() override {
    module_->powerCycle(t6963::PowerOnContents::Zero);
    t6963::setDisconnected(module_->state(), false);
    winapi::fake::reset();
    windows_ = std::make_unique<MainWindows>();
    click("StartLPTDriver_Button1");
    ASSERT_EQ(textIn("StartLPTDriver_Edit1"), "OK");
  }
  void TearDown() override {
    windows_.reset();
    winapi::fake::reset();
  }

  template <typename Widget = QWidget>
  Widget* control(const char* name) {
    return windows_->form1().findChild<Widget*>(QString::fromUtf8(name));
  }
  void click(const char* name) { QTest::mouseClick(control<QAbstractButton>(name), Qt::LeftButton); }
  void type(const char* name, const QString& text) { control<QLineEdit>(name)->setText(text); }
  QString textIn(const char* name) { return control<QLineEdit>(name)->text(); }
  void initialise() {
    click("InitLCD_Button1");
    ASSERT_EQ(textIn("InitLCD_Edit1"), "OK");
  }

  static t6963::ModuleState snapshot() { return module_->snapshot(); }
  static std::string frameText(const t6963::ModuleState& state) {
    return t6963::frameToText(t6963::render(state, true));
  }

  static inline std::unique_ptr<ModuleSegment> segment_;
  static inline std::unique_ptr<t6963::SharedModule> module_;
  std::unique_ptr<MainWindows> windows_;
};

TEST_F(EndToEnd, StartLptDriverLoadsTheLibraryFromTheProgramsFolder) {
  EXPECT_TRUE(windows_->form1().DLPortIO1->ActiveHW());
  EXPECT_EQ(windows_->form1().DLPortIO1->DriverPath(), ExtractFileDir(ParamStr(0)));
  EXPECT_EQ(winapi::fake::loadedLibraries(), 1);
  EXPECT_EQ(snapshot().bus.accessCount, 0u) << "opening the driver must not touch a port";
}

TEST_F(EndToEnd, InitLcdSetsUpTheControllerWithoutTouchingMemory) {
  module_->state().ram[0x0005] = 0x33;
  module_->state().ram[0x0205] = 0x2A;
  initialise();
  const t6963::ModuleState state = snapshot();
  EXPECT_EQ(state.controller.textHome, 0x0000);
  EXPECT_EQ(state.controller.textArea, 40);
  EXPECT_EQ(state.controller.graphicHome, 0x0200);
  EXPECT_EQ(state.controller.graphicArea, 40);
  EXPECT_EQ(state.controller.modeSet, 0x80);
  EXPECT_EQ(state.controller.cursorLines, 8);
  EXPECT_EQ(state.controller.cursorX, 0);
  EXPECT_EQ(state.controller.cursorY, 0);
  EXPECT_EQ(state.controller.displayMode, 0x9F);
  EXPECT_EQ(state.controller.addressPointer, 0x0000);
  EXPECT_EQ(state.ram[0x0005], 0x33);
  EXPECT_EQ(state.ram[0x0205], 0x2A);
  EXPECT_EQ(state.violations.total, 0u);
}

TEST_F(EndToEnd, DisconnectedDisplayGivesOneErrorAndAnEmptyBoxThenRecovers) {
  t6963::setDisconnected(module_->state(), true);
  {
    ShownExceptions shown;
    click("InitLCD_Button1");
    ASSERT_EQ(shown.messages().size(), 1);
    EXPECT_TRUE(shown.messages()[0].contains("did not report ready")) << shown.messages()[0].toStdString();
    EXPECT_EQ(textIn("InitLCD_Edit1"), "");

    click("ClearLCDGraph_Button1");
    EXPECT_EQ(shown.messages().size(), 2) << "a long operation stops at its first unanswered byte";
  }
  EXPECT_EQ(snapshot().controller.displayMode, 0x90);

  t6963::setDisconnected(module_->state(), false);
  initialise();
  EXPECT_EQ(snapshot().controller.displayMode, 0x9F);
}

TEST_F(EndToEnd, ConversionErrorSendsNothing) {
  initialise();
  const std::uint64_t before = snapshot().bus.accessCount;
  type("SetLCDPixel_Edit2", "y");
  ShownExceptions shown;
  click("SetLCDPixel_Button1");
  EXPECT_EQ(shown.messages(), QStringList({"'y' is not a valid integer value"}));
  EXPECT_EQ(snapshot().bus.accessCount, before);
}

TEST_F(EndToEnd, PointerAndCursorLandWhereTheArithmeticSays) {
  initialise();
  type("SetXY_Edit1", "0");
  type("SetXY_Edit2", "40");
  click("SetXY_Button");
  EXPECT_EQ(snapshot().controller.addressPointer, 40);
  type("SetXY_Edit1", "-1");
  type("SetXY_Edit2", "0");
  click("SetXY_Button");
  EXPECT_EQ(snapshot().controller.addressPointer, 0xFFD8);
  type("SetLCDCursor_Edit1", "2");
  type("SetLCDCursor_Edit2", "300");
  click("SetLCDCursor_Button");
  EXPECT_EQ(snapshot().controller.cursorX, 0x2C);
  EXPECT_EQ(snapshot().controller.cursorY, 2);
  EXPECT_EQ(snapshot().violations.total, 0u);
}

TEST_F(EndToEnd, PrintedTextRunsOnIntoTheNextRowWithoutWrappingLogic) {
  initialise();
  click("ClearLCDText_Button1");
  EXPECT_EQ(snapshot().controller.addressPointer, 0x0140);
  click("SetXY_Button");
  type("PrintLCDText_Edit1", QString(40, 'a') + "B");
  click("PrintLCDText_Button1");
  const t6963::ModuleState state = snapshot();
  EXPECT_EQ(state.ram[39], 'a' - 32);
  EXPECT_EQ(state.ram[40], 'B' - 32);
  EXPECT_EQ(state.ram[41], 0);
}

TEST_F(EndToEnd, TextPastTheTextAreaRunsIntoGraphicMemory) {
  initialise();
  type("SetXY_Edit1", "12");
  type("SetXY_Edit2", "31");  // 12 * 40 + 31 = 511, one cell before the graphic home
  click("SetXY_Button");
  type("PrintLCDText_Edit1", "AB");
  click("PrintLCDText_Button1");
  EXPECT_EQ(snapshot().ram[0x01FF], 'A' - 32);
  EXPECT_EQ(snapshot().ram[0x0200], 'B' - 32);
}

TEST_F(EndToEnd, DisplayModeFollowsAllFourCheckBoxes) {
  initialise();
  for (const char* box : {"Mode_CheckBox1", "Mode_CheckBox2", "Mode_CheckBox3", "Mode_CheckBox4"}) click(box);
  EXPECT_EQ(snapshot().controller.displayMode, 0x90);
  click("Mode_CheckBox4");
  EXPECT_EQ(snapshot().controller.displayMode, 0x94);
  click("Mode_CheckBox3");
  EXPECT_EQ(snapshot().controller.displayMode, 0x9C);
}

TEST_F(EndToEnd, CharacterSetLeavesGraphicsOffAndTheCheckBoxesAsTheyWere) {
  initialise();
  click("CharGenROM_Button1");
  const t6963::ModuleState state = snapshot();
  EXPECT_EQ(state.controller.displayMode, 0x97);
  EXPECT_TRUE(control<QCheckBox>("Mode_CheckBox3")->isChecked());
  for (int cell = 0; cell < 320; ++cell) ASSERT_EQ(state.ram[static_cast<std::size_t>(cell)], (9 + cell) % 127) << cell;
}

TEST_F(EndToEnd, PixelsAreOnlyEverSet) {
  initialise();
  click("ClearLCDGraph_Button1");
  click("Pixels_Button1");
  const std::string once = frameText(snapshot());
  click("Pixels_Button1");
  EXPECT_EQ(frameText(snapshot()), once);
}

TEST_F(EndToEnd, SquarePastTheCornerRunsBeyondTheGraphicArea) {
  initialise();
  click("ClearLCDGraph_Button1");
  type("Nelio_Edit1", "230");
  type("Nelio_Edit2", "50");
  click("Nelio_Button1");
  const t6963::ModuleState state = snapshot();
  // Row 64 starts at 0x0200 + 64 * 40 = 0x0C00: beyond the graphic area.
  EXPECT_NE(state.ram[0x0C00 + 230 / 6], 0);
  // x = 240 wraps onto the start of the next row: pixel (0, 51) is set.
  constexpr int leftmostPixel = 1 << t6963c::LeftmostPixelBit;
  EXPECT_EQ(state.ram[0x0200 + 51 * 40] & leftmostPixel, leftmostPixel);
  EXPECT_EQ(state.violations.total, 0u);
}

struct BadNumberCase {
  const char* name;
  const char* button;
  std::vector<std::pair<const char*, const char*>> edits;  // edit box, text typed
  const char* message;
};

void PrintTo(const BadNumberCase& badNumber, std::ostream* out) { *out << badNumber.name; }

class BadNumber : public EndToEnd, public testing::WithParamInterface<BadNumberCase> {};

// With the driver open and the display ready, so that anything the handler sent would reach
// the module.
TEST_P(BadNumber, ShowsTheConversionErrorOfTheFirstBoxReadAndSendsNothing) {
  initialise();
  for (const auto& [edit, text] : GetParam().edits) type(edit, QString::fromUtf8(text));
  const std::uint64_t before = snapshot().bus.accessCount;
  ShownExceptions shown;
  click(GetParam().button);
  EXPECT_EQ(shown.messages(), QStringList({QString::fromUtf8(GetParam().message)}));
  EXPECT_EQ(snapshot().bus.accessCount, before);

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

// A player whose window the media-player page reads, in place of the session bus's players.
void playerShowing(const char* status, QString title, std::int64_t positionMicroseconds,
                   std::int64_t lengthMicroseconds) {
  winapi::test::SimulatedPlayers::Player player;
  player.name = "p";
  player.playbackStatus = status;
  player.positionMicroseconds = positionMicroseconds;
  player.track = {{}, std::move(title), lengthMicroseconds};
  auto players = std::make_shared<winapi::test::SimulatedPlayers>();
  players->present = {player};
  winapi::fake::setMediaPlayers(players);
}

// A text row as the display shows it: each cell's code back to its character.
std::string textRow(const t6963::ModuleState& state, int row) {
  std::string text;
  for (int column = 0; column < 40; ++column) {
    text += static_cast<char>(state.ram[static_cast<std::size_t>(row * 40 + column)] + 32);
  }
  return text;
}

TEST_F(EndToEnd, WinampPageShowsStateTitleAndTimeOnRowsZeroTwoAndFive) {
  const auto row = [](std::string text) { return text.append(40 - text.size(), ' '); };
  const std::string longTitle = [] {
    std::string title;
    for (int i = 0; i < 135; ++i) title += static_cast<char>('A' + i % 26);
    return title;
  }();
  struct Case {
    const char* status;  // nullptr: no player
    QString title;
    std::array<std::string, 8> rows;
  };
  const std::string blank = row("");
  const Case cases[] = {
      {nullptr, "", {row("Winamp stopped"), blank, blank, blank, blank, row("0:00 / 0:00"), blank, blank}},
      {"Playing", QString::fromUtf8("Kappale ä"),
       {row("Winamp playing"), blank, row("Kappale  "), blank, blank, row("2:05 / 4:10"), blank, blank}},
      {"Paused", QString::fromStdString(longTitle),
       {row("Winamp paused"), blank, longTitle.substr(0, 40), longTitle.substr(40, 40), longTitle.substr(80, 40),
        row("2:05 / 4:10" + longTitle.substr(131)), blank, blank}},
  };
  initialise();
  for (const Case& c : cases) {
    if (c.status != nullptr) playerShowing(c.status, c.title, 125'500'000, 250'000'000);
    click("CharGenROM_Button1");
    click("Winamp_Button1");
    const t6963::ModuleState state = snapshot();
    for (int r = 0; r < 8; ++r) EXPECT_EQ(textRow(state, r), c.rows[static_cast<std::size_t>(r)]) << "row " << r;
    EXPECT_EQ(state.violations.total, 0u);
  }
}

// Golden frames: the buttons of the text and graphic groups pressed from a zeroed module.
class GoldenFrame;
struct FrameCase {
  const char* name;
  std::function<void(GoldenFrame&)> presses;
};
void PrintTo(const FrameCase& frameCase, std::ostream* out) { *out << frameCase.name; }

class GoldenFrame : public EndToEnd, public testing::WithParamInterface<FrameCase> {
 public:
  void press(const char* name) { click(name); }
  void enter(const char* name, const char* text) { type(name, QString::fromUtf8(text)); }
};

std::vector<std::string> linesOf(std::istream&& in) {
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Empty when equal, else the first differing pixel row of both.
std::string firstDifference(const std::vector<std::string>& actual, const std::vector<std::string>& golden) {
  for (std::size_t row = 0; row < std::max(actual.size(), golden.size()); ++row) {
    const std::string a = row < actual.size() ? actual[row] : "(none)";
    const std::string g = row < golden.size() ? golden[row] : "(none)";
    if (a != g) return "row " + std::to_string(row) + "\n  actual: " + a + "\n  golden: " + g;
  }
  return "";
}

TEST_P(GoldenFrame, MatchesTheRecordedFrame) {
  initialise();
  click("ClearLCDText_Button1");
  click("ClearLCDGraph_Button1");
  click("SetXY_Button");
  GetParam().presses(*this);
  const t6963::ModuleState state = snapshot();
  EXPECT_EQ(state.violations.total, 0u);

  const std::string path = std::string(KELVARI_TEST_DATA "/app/frame_") + GetParam().name + ".txt";
  const std::string frame = frameText(state);
  if (std::getenv("KELVARI_UPDATE_GOLDEN") != nullptr) std::ofstream(path) << frame;
  const std::string difference = firstDifference(linesOf(std::istringstream(frame)), linesOf(std::ifstream(path)));
  EXPECT_EQ(difference, "") << "frame differs from " << path;
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, GoldenFrame,
    testing::Values(
        FrameCase{"cleared", [](GoldenFrame&) {}},
        FrameCase{"print_text",
                  [](GoldenFrame& g) { g.press("PrintLCDText_Button1"); }},
        FrameCase{"put_byte_last_cell",
                  [](GoldenFrame& g) {
                    g.enter("SetXY_Edit1", "7");
                    g.enter("SetXY_Edit2", "39");
                    g.press("SetXY_Button");
                    g.press("PutByte_Button1");
                  }},
        FrameCase{"character_set", [](GoldenFrame& g) { g.press("CharGenROM_Button1"); }},
        FrameCase{"pixel_corners",
                  [](GoldenFrame& g) {
                    g.press("SetLCDPixel_Button1");
                    g.enter("SetLCDPixel_Edit1", "239");
                    g.enter("SetLCDPixel_Edit2", "63");
                    g.press("SetLCDPixel_Button1");
                    g.enter("SetLCDPixel_Edit1", "240");
                    g.enter("SetLCDPixel_Edit2", "10");
                    g.press("SetLCDPixel_Button1");
                  }},
        FrameCase{"square",
                  [](GoldenFrame& g) {
                    g.enter("Nelio_Edit1", "100");
                    g.enter("Nelio_Edit2", "20");
                    g.press("Nelio_Button1");
                  }},
        FrameCase{"square_wrapped",
                  [](GoldenFrame& g) {
                    g.enter("Nelio_Edit1", "230");
                    g.enter("Nelio_Edit2", "50");
                    g.press("Nelio_Button1");
                  }},
        FrameCase{"pixels", [](GoldenFrame& g) { g.press("Pixels_Button1"); }},
        FrameCase{"text_over_pixels",
                  [](GoldenFrame& g) {
                    g.press("Pixels_Button1");
                    g.press("SetXY_Button");
                    g.press("PrintLCDText_Button1");
                  }},
        FrameCase{"text_over_pixels_graphics_off",
                  [](GoldenFrame& g) {
                    g.press("Pixels_Button1");
                    g.press("SetXY_Button");
                    g.press("PrintLCDText_Button1");
                    g.press("Mode_CheckBox3");
                  }},
        FrameCase{"text_after_pixels_lands_in_graphic_memory",
                  [](GoldenFrame& g) {
                    g.press("Pixels_Button1");
                    g.press("PrintLCDText_Button1");
                  }},
        FrameCase{"winamp_page_long_title",
                  [](GoldenFrame& g) {
                    playerShowing("Playing", QString(130, 'W') + " - Winamp - more", 3'599'999'000, 3'725'000'000);
                    g.press("Winamp_Button1");
                  }}),
    [](const testing::TestParamInfo<FrameCase>& caseInfo) { return std::string(caseInfo.param.name); });

// A port library whose backend cannot be opened refuses to load; the dialog keeps its text
// and says why in its details.
TEST(EndToEndRefusedLoad, TheDialogGivesTheLibrarysReasonAsItsDetails) {
  const std::string missing = "/nonexistent-kelvari-" + std::to_string(getpid()) + "/port";
  setenv(portlib::EnvBackend, missing.c_str(), 1);
  winapi::fake::reset();
  {
    MainWindows windows;
    ModalBoxWatcher watcher;
    QTest::mouseClick(windows.form1().findChild<QAbstractButton*>("StartLPTDriver_Button1"), Qt::LeftButton);
    ASSERT_TRUE(watcher.seen().seen);
    EXPECT_EQ(watcher.seen().text, "Could not open the DriverLINX driver.");
    EXPECT_TRUE(watcher.seen().detailedText.startsWith(QString::fromStdString(ExtractFileDir(ParamStr(0)) +
                                                                              "/DLPortIO.dll refused to load: " + missing)))
        << watcher.seen().detailedText.toStdString();
    EXPECT_FALSE(windows.form1().DLPortIO1->ActiveHW());
    EXPECT_EQ(winapi::fake::loadedLibraries(), 0);
  }
  unsetenv(portlib::EnvBackend);
  winapi::fake::reset();
}

// "Lopeta" pressed in start-up's own message loop, after the driver was opened: the loop
// ends, the windows go, and the port library is released.
TEST(EndToEndQuit, LopetaEndsTheMessageLoopAndReleasesTheDriver) {
  const ModuleSegment segment("quit");
  winapi::fake::reset();
  bool driverOpened = false;
  bool loopStillRunning = false;
  QTimer::singleShot(0, [&] {
    auto* start = Form1->findChild<QAbstractButton*>("StartLPTDriver_Button1");
    QTest::mouseClick(start, Qt::LeftButton);
    driverOpened = Form1->DLPortIO1->ActiveHW() && winapi::fake::loadedLibraries() == 1;
    QTest::mouseClick(Form1->findChild<QAbstractButton*>("Lopeta_Button1"), Qt::LeftButton);
  });
  QTimer bound;  // ends a loop that Lopeta failed to end, so that the test fails instead of hanging
  bound.setSingleShot(true);
  QObject::connect(&bound, &QTimer::timeout, [&] {
    loopStillRunning = true;
    QApplication::quit();
  });
  bound.start(10'000);

  runTestBench();
  EXPECT_TRUE(driverOpened);
  EXPECT_FALSE(loopStillRunning);
  EXPECT_EQ(Form1, nullptr);
  EXPECT_EQ(winapi::fake::loadedLibraries(), 1);
  EXPECT_EQ(winapi::fake::freedLibraries(), 1);
  winapi::fake::reset();
}

}  // namespace
}  // namespace kelvari::test
