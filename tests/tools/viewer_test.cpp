// The viewer's logic without a window (frame to image, status line, command line), its
// window offscreen with the bus log, and the lcdview binary's one-shot outputs on a test
// segment, the waveform checked by sigrok-cli's parallel bus decoder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QPlainTextEdit>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <signal.h>
#include <sys/resource.h>

#include <functional>
#include <optional>
#include <string>
#include <variant>

#include "t6963/module.h"
#include "t6963/renderer.h"
#include "t6963/seqlock.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"
#include "tests/tools/program_run.h"
#include "tests/portlib/test_segment.h"
#include "tests/t6963/bench_protocol.h"
#include "tests/t6963/writer_in_update.h"
#include "tools/lcd_image.h"
#include "tools/lcd_widget.h"
#include "tools/status_text.h"
#include "tools/viewer_options.h"
#include "tools/viewer_placement.h"
#include "tools/viewer_window.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr auto& Palette = lcdview::YellowGreen;

// A frame with three dark pixels: both corners and (5, 1).
t6963::Frame threePixelFrame() {
  t6963::Frame frame;
  frame.pixels[0] = 1;
  frame.pixels[1 * t6963c::Width + 5] = 1;
  frame.pixels[t6963c::Width * t6963c::Height - 1] = 1;
  return frame;
}

class FrameImageScale : public ::testing::TestWithParam<int> {};

TEST_P(FrameImageScale, EachDisplayPixelIsAScaledSquareWithTheGridFromScaleThree) {
  const int scale = GetParam();
  const auto image = lcdview::frameToImage(threePixelFrame(), scale);
  ASSERT_EQ(image.width(), t6963c::Width * scale);
  ASSERT_EQ(image.height(), t6963c::Height * scale);

  const bool grid = scale >= lcdview::GridFromScale;
  const int inner = grid ? scale - 1 : scale;  // image pixels of a cell that show the dot
  const auto expectCell = [&](int x, int y, QRgb dot) {
    for (int dy = 0; dy < scale; ++dy) {
      for (int dx = 0; dx < scale; ++dx) {
        const QRgb expected = (dx < inner && dy < inner) ? dot : Palette.grid;
        ASSERT_EQ(image.pixel(x * scale + dx, y * scale + dy), expected)
            << "cell " << x << "," << y << " image offset " << dx << "," << dy;
      }
    }
  };
  expectCell(0, 0, Palette.pixelOn);
  expectCell(1, 0, Palette.backlight);
  expectCell(5, 1, Palette.pixelOn);
  expectCell(4, 1, Palette.backlight);
  expectCell(5, 0, Palette.backlight);
  expectCell(5, 2, Palette.backlight);
  expectCell(t6963c::Width - 1, t6963c::Height - 1, Palette.pixelOn);
  expectCell(t6963c::Width - 2, t6963c::Height - 1, Palette.backlight);
}

INSTANTIATE_TEST_SUITE_P(Scales, FrameImageScale, ::testing::Values(1, 2, 3, 4, 16));

TEST(FrameImage, ScaleIsClampedToTheSupportedRange) {
  EXPECT_EQ(lcdview::frameToImage(threePixelFrame(), 0).width(), t6963c::Width * lcdview::MinScale);
  EXPECT_EQ(lcdview::frameToImage(threePixelFrame(), -3).height(), t6963c::Height * lcdview::MinScale);
  EXPECT_EQ(lcdview::frameToImage(threePixelFrame(), 99).width(), t6963c::Width * lcdview::MaxScale);
}

TEST(StatusText, ShowsDisplayModeAddressCursorAndNoViolations) {
  t6963::ModuleState state;
  state.controller.displayMode = 0x9F;
  state.controller.addressPointer = 0x0200;
  state.controller.cursorX = 39;
  state.controller.cursorY = 7;
  EXPECT_EQ(lcdview::statusText(state).toStdString(),
            "display 0x9F (graphics text cursor blink) | address 0x0200 | cursor 39,7 | violations 0 | "
            "240x64 6x8 8K, cable WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN");

  state.controller.displayMode = 0x90;
  state.controller.addressPointer = 0x1ABC;
  EXPECT_THAT(lcdview::statusText(state).toStdString(), StartsWith("display 0x90 (off) | address 0x1ABC |"));
  state.controller.displayMode = 0x94;
  EXPECT_THAT(lcdview::statusText(state).toStdString(), StartsWith("display 0x94 (text) |"));
}

TEST(StatusText, ShowsTheViolationCountAndTheNewestOneAcrossTheRing) {
  t6963::ModuleState state;
  for (std::uint32_t i = 0; i < t6963::ViolationHistorySize + 1; ++i) {
    auto& record = state.violations.recent[i % t6963::ViolationHistorySize];
    record.access = 100 + i;
    record.kind = i == t6963::ViolationHistorySize ? t6963::ViolationKind::WriteWhileBusy
                                                   : t6963::ViolationKind::BusContention;
    ++state.violations.total;
  }
  const auto text = lcdview::statusText(state).toStdString();
  EXPECT_THAT(text, HasSubstr("violations 9, last: " + t6963::describe(state.violations.recent[0])));
  EXPECT_THAT(text, HasSubstr("byte sent while busy"));
}

TEST(StatusText, FlagsADisconnectedModuleFirst) {
  t6963::ModuleState state;
  t6963::setDisconnected(state, true);
  EXPECT_THAT(lcdview::statusText(state).toStdString(), StartsWith("DISCONNECTED | display 0x90"));
}

struct OptionsRow {
  const char* name;
  QStringList arguments;
  const char* error;  // nullptr: accepted
  bool oneShot;
};

class ViewerOptionsRows : public ::testing::TestWithParam<OptionsRow> {};

TEST_P(ViewerOptionsRows, AreAcceptedOrRejectedWithAClearMessage) {
  const auto& row = GetParam();
  portlib::Settings environment;
  environment.segmentName = "/from-environment";
  lcdview::ViewerCommandLine commandLine(environment);
  const auto parsed = commandLine.parse(QStringList{"lcdview"} + row.arguments);
  if (row.error != nullptr) {
    ASSERT_TRUE(std::holds_alternative<QString>(parsed));
    EXPECT_THAT(std::get<QString>(parsed).toStdString(), HasSubstr(row.error));
  } else {
    ASSERT_TRUE(std::holds_alternative<lcdview::ViewerOptions>(parsed)) << std::get<QString>(parsed).toStdString();
    EXPECT_EQ(std::get<lcdview::ViewerOptions>(parsed).oneShot(), row.oneShot);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ViewerOptionsRows,
    ::testing::Values(OptionsRow{"Window", {}, nullptr, false},
                      OptionsRow{"Text", {"--text"}, nullptr, true},
                      OptionsRow{"PngWithScale", {"--png", "f.png", "--scale", "16"}, nullptr, true},
                      OptionsRow{"PngAndText", {"--png=f.png", "--text"}, nullptr, true},
                      OptionsRow{"LogAndVcd", {"--log", "--vcd", "bus.vcd"}, nullptr, true},
                      OptionsRow{"VcdWithoutFile", {"--vcd="}, "--vcd needs a file name", false},
                      OptionsRow{"ScaleZero", {"--png", "f.png", "--scale", "0"}, "--scale '0'", false},
                      OptionsRow{"ScaleTooLarge", {"--png", "f.png", "--scale", "17"}, "from 1 to 16", false},
                      OptionsRow{"ScaleNotANumber", {"--png", "f.png", "--scale", "big"}, "--scale 'big'", false},
                      OptionsRow{"ScaleWithoutPng", {"--scale", "2"}, "only with --png", false},
                      OptionsRow{"PngWithoutFile", {"--png"}, "png", false},
                      OptionsRow{"SegmentWithoutSlash", {"--segment", "lcd"}, "--segment 'lcd'", false},
                      OptionsRow{"UnknownOption", {"--frames"}, "frames", false},
                      OptionsRow{"StrayArgument", {"extra"}, "unexpected argument 'extra'", false}),
    [](const auto& rowInfo) { return rowInfo.param.name; });

TEST(ViewerOptions, SegmentComesFromTheOptionThenTheEnvironment) {
  portlib::Settings environment;
  environment.segmentName = "/from-environment";
  environment.powerOn = t6963::PowerOnContents::Zero;
  lcdview::ViewerCommandLine fromEnvironment(environment);
  const auto plain = std::get<lcdview::ViewerOptions>(fromEnvironment.parse({"lcdview"}));
  EXPECT_EQ(plain.segment, "/from-environment");
  EXPECT_EQ(plain.powerOnContents, t6963::PowerOnContents::Zero);
  lcdview::ViewerCommandLine fromOption(environment);
  EXPECT_EQ(std::get<lcdview::ViewerOptions>(fromOption.parse({"lcdview", "--segment", "/mine"})).segment, "/mine");
}

// A module showing graphics only, with a few known dark pixels: (0,0), (11,0) and (6,63).
void drawKnownPicture(t6963::ModuleState& state) {
  const t6963::StateUpdate update(state);
  state.controller.graphicHome = 0x0200;
  state.controller.graphicArea = t6963c::Columns;
  state.controller.displayMode = t6963c::cmd::DisplayMode | t6963c::cmd::DisplayGraphicOn;
  state.ram[0x0200] = 0x20;                  // x 0: bit 5
  state.ram[0x0201] = 0x01;                  // x 11: bit 0 of the second byte
  state.ram[0x0200 + 63 * 40 + 1] = 0x20;    // x 6, y 63
}

std::string expectedKnownPictureText() {
  std::string text;
  for (int y = 0; y < t6963c::Height; ++y) {
    std::string line(t6963c::Width, '.');
    if (y == 0) line[0] = line[11] = '#';
    if (y == 63) line[6] = '#';
    text += line + '\n';
  }
  return text;
}

tools_test::ProgramRun runLcdview(const QStringList& arguments, const std::function<void()>& modifier = {}) {
  std::vector<std::string> list;
  for (const QString& argument : arguments) list.push_back(argument.toStdString());
  return tools_test::runProgram(LCDVIEW_PATH, list, 20, {}, modifier);
}

TEST(LcdviewBinary, TextPrintsTheCurrentFrameOfTheNamedSegment) {
  portlib_test::TestSegment segment;
  auto module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
  drawKnownPicture(module.state());

  const auto run = runLcdview({"--segment", QString::fromStdString(segment.name()), "--text"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, expectedKnownPictureText());
}

TEST(LcdviewBinary, PngWritesTheCurrentFrameAtTheGivenScale) {
  portlib_test::TestSegment segment;
  auto module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
  drawKnownPicture(module.state());
  QTemporaryDir dir;
  const QString file = dir.filePath("frame.png");

  const auto run = runLcdview({"--segment", QString::fromStdString(segment.name()), "--png", file, "--scale", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  QImage image(file);
  ASSERT_EQ(image.size(), QSize(t6963c::Width * 2, t6963c::Height * 2));
  EXPECT_EQ(image.pixel(0, 0), Palette.pixelOn);
  EXPECT_EQ(image.pixel(1, 1), Palette.pixelOn);
  EXPECT_EQ(image.pixel(2, 0), Palette.backlight);
  EXPECT_EQ(image.pixel(11 * 2 + 1, 1), Palette.pixelOn);
  EXPECT_EQ(image.pixel(6 * 2, 63 * 2 + 1), Palette.pixelOn);
  EXPECT_EQ(image.pixel(7 * 2, 63 * 2), Palette.backlight);
}

TEST(LcdviewBinary, UsageErrorsAndUnwritableFilesFailClearly) {
  portlib_test::TestSegment segment;
  const auto module = t6963::SharedModule::open(segment.name());
  const QString name = QString::fromStdString(segment.name());
  const auto badScale = runLcdview({"--segment", name, "--png", "x.png", "--scale", "40"});
  EXPECT_EQ(badScale.exitCode, 2);
  EXPECT_THAT(badScale.err, HasSubstr("--scale '40'"));

  const auto unwritable = runLcdview({"--segment", name, "--png", "/nonexistent-folder/frame.png"});
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_THAT(unwritable.err, HasSubstr("/nonexistent-folder/frame.png"));
}

TEST(LcdviewBinary, RefusesAMissingModuleWithAHintAndCreatesNothingNorReadsTheBusSettings) {
  portlib_test::TestSegment segment;
  QTemporaryDir dir;
  qputenv("DLPORTIO_LCD_BUSY", "soon");  // the module's busy time is the window's control
  const QString name = QString::fromStdString(segment.name());
  const auto run = runLcdview({"--segment", name, "--png", dir.filePath("frame.png")});
  qunsetenv("DLPORTIO_LCD_BUSY");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "lcdview: no virtual display " + segment.name() +
                         ": start the test bench first, or check DLPORTIO_LCD_SEGMENT\n");
  EXPECT_FALSE(t6963::SharedModule::openExisting(segment.name()).has_value());
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

// Bytes sent to a segment with the bench's protocol, so that its bus trace holds them.
class TrafficSegment {
 public:
  TrafficSegment() : module_(t6963::SharedModule::open(segment_.name(), t6963::PowerOnContents::Zero)) {}

  QString name() const { return QString::fromStdString(segment_.name()); }
  t6963::Module& bus() { return bus_; }
  t6963::testing::BenchProtocol& bench() { return bench_; }

 private:
  portlib_test::TestSegment segment_;
  t6963::SharedModule module_;
  t6963::Module bus_{module_.state(), &module_.trace()};
  t6963::testing::BenchProtocol bench_{bus_};
};

// Pointer 0x0200, then 0xA5 written there: data, data, command, data, command.
const std::vector<std::uint8_t> KnownStream = {0x00, 0x02, t6963c::cmd::SetAddressPointer, 0xA5,
                                               t6963c::cmd::WriteIncrement};

void sendKnownStream(TrafficSegment& traffic) {
  auto& bench = traffic.bench();
  ASSERT_TRUE(bench.data(0x00) && bench.data(0x02) && bench.command(t6963c::cmd::SetAddressPointer));
  ASSERT_TRUE(bench.data(0xA5) && bench.command(t6963c::cmd::WriteIncrement));
}

TEST(LcdviewBinary, VcdGivesSigrokExactlyTheBytesSent) {
  const QString sigrok = QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
  if (sigrok.isEmpty()) GTEST_SKIP() << "sigrok-cli is not installed (Debian package sigrok-cli): the VCD is not checked";
  TrafficSegment traffic;
  sendKnownStream(traffic);
  // sigrok-cli 0.7.2 reports each word at the clock's next rising edge: one more byte.
  ASSERT_TRUE(traffic.bench().command(t6963c::cmd::DisplayMode));
  QTemporaryDir dir;
  const QString file = dir.filePath("bus.vcd");
  const auto run = runLcdview({"--segment", traffic.name(), "--vcd", file});
  ASSERT_EQ(run.exitCode, 0) << run.err;

  QProcess decoder;
  QStringList lines = {"clk=/WR"};
  for (int bit = 0; bit < 8; ++bit) lines << QStringLiteral("d%1=D%1").arg(bit);
  decoder.start(sigrok, {"-I", "vcd", "-i", file, "-P", "parallel:" + lines.join(':')});
  ASSERT_TRUE(decoder.waitForFinished(60000));
  // 0.7.2 aborts (status 134) on its way out, after printing everything.
  const bool exitedCleanly = decoder.exitStatus() == QProcess::NormalExit && decoder.exitCode() == 0;
  EXPECT_TRUE(exitedCleanly || decoder.exitStatus() == QProcess::CrashExit) << decoder.readAllStandardError().toStdString();
  std::vector<std::uint8_t> words;
  for (const QString& line : QString::fromLocal8Bit(decoder.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
    bool isNumber = false;
    words.push_back(static_cast<std::uint8_t>(line.section(QStringLiteral(": "), 1).toUInt(&isNumber, 16)));
    ASSERT_TRUE(isNumber) << line.toStdString();
  }
  ASSERT_GE(words.size(), KnownStream.size());
  ASSERT_LE(words.size(), KnownStream.size() + 1);
  words.resize(KnownStream.size());
  EXPECT_EQ(words, KnownStream);
}

TEST(LcdviewBinary, LogPrintsTheDecodedTraceFromWhereItBegins) {
  TrafficSegment traffic;
  sendKnownStream(traffic);
  const auto run = runLcdview({"--segment", traffic.name(), "--log"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("accesses 1 to "));
  EXPECT_THAT(run.out, HasSubstr("  command   0x24  set address pointer 0x0200 [1 poll]\n"));
  EXPECT_THAT(run.out, HasSubstr("  command   0xC0  write 0xA5 and advance [1 poll]\n"));
}

TEST(LcdviewBinary, OneShotOutputsFollowTheModulesBuild) {
  portlib_test::TestSegment segment;
  const t6963::ModuleBuild build{240, 128, 8, 0x8000, std::get<t6963::Cable>(t6963::parseCable("WR:INIT,CE:GND,CD:SLCTIN,RD:AUTOFD"))};
  auto module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero, build);
  {
    const t6963::StateUpdate update(module.state());
    auto& c = module.state().controller;
    c.graphicHome = 0x0200;
    c.graphicArea = 30;
    c.displayMode = t6963c::cmd::DisplayMode | t6963c::cmd::DisplayGraphicOn;
    module.state().ram[0x0200 + 127 * 30 + 29] = 0x01;  // the glass's last pixel, bit 0 of an 8-pixel byte
  }
  QTemporaryDir dir;
  const QString name = QString::fromStdString(segment.name());
  const auto run = runLcdview({"--segment", name, "--text", "--log", "--png", dir.filePath("f.png"), "--scale", "1",
                               "--vcd", dir.filePath("f.vcd")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto lines = QString::fromStdString(run.out).split('\n');
  ASSERT_GE(lines.size(), 130);
  EXPECT_EQ(lines[127], QString(239, '.') + '#');
  EXPECT_EQ(lines[129].toStdString(), "module 240x128 8x8 32K, cable WR:INIT,CE:GND,CD:SLCTIN,RD:AUTOFD");
  EXPECT_EQ(QImage(dir.filePath("f.png")).size(), QSize(240, 128));
  QFile vcd(dir.filePath("f.vcd"));
  ASSERT_TRUE(vcd.open(QIODevice::ReadOnly));
  EXPECT_THAT(vcd.readAll().toStdString(), HasSubstr("module 240x128 8x8 32K, cable WR:INIT,CE:GND"));
}

TEST(LcdviewBinary, AVcdThatCannotBeWrittenFailsClearlyAndLeavesNothingBehind) {
  TrafficSegment traffic;
  for (int i = 0; i < 200; ++i) ASSERT_TRUE(traffic.bench().data(static_cast<std::uint8_t>(i)));
  const auto badName = runLcdview({"--segment", traffic.name(), "--vcd", "/nonexistent-folder/bus.vcd"});
  EXPECT_EQ(badName.exitCode, 1);
  EXPECT_THAT(badName.err, HasSubstr("cannot write /nonexistent-folder/bus.vcd"));
}

// A full disk: the file size limit stops the writes, as a full file system would.
class LcdviewOnAFullDisk : public ::testing::TestWithParam<const char*> {};

TEST_P(LcdviewOnAFullDisk, FailsAndKeepsTheOldFile) {
  TrafficSegment traffic;
  QTemporaryDir dir;
  const QString file = dir.filePath("out");
  {
    QFile old(file);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old dump\n");
  }
  const auto full = runLcdview({"--segment", traffic.name(), GetParam(), file}, [] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{32, 32};  // less than either file's header
    ::setrlimit(RLIMIT_FSIZE, &limit);
  });
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_THAT(full.err, HasSubstr("cannot write " + file.toStdString()));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"out"});
  QFile old(file);
  ASSERT_TRUE(old.open(QIODevice::ReadOnly));
  EXPECT_EQ(old.readAll(), "old dump\n");
}

INSTANTIATE_TEST_SUITE_P(Files, LcdviewOnAFullDisk, ::testing::Values("--png", "--vcd"));

QApplication& application() {
  static int argc = 1;
  static char name[] = "viewer_test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: a shown window's input devices must not outlive it at exit.
  static QApplication* const app = new QApplication(argc, argv);
  return *app;
}

template <typename Widget>
Widget* child(QWidget& window, const char* objectName) {
  auto* widget = window.findChild<Widget*>(QString::fromLatin1(objectName));
  EXPECT_NE(widget, nullptr) << objectName;
  return widget;
}

TEST(ViewerWindow, ControlsChangeTheLiveModuleAndTheStatusFollowsIt) {
  application();
  portlib_test::TestSegment segment;
  auto module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
  drawKnownPicture(module.state());
  lcdview::ViewerWindow window(segment.name(), t6963::PowerOnContents::Zero);

  auto* status = child<QLabel>(window, "statusLabel");
  EXPECT_EQ(status->text(), lcdview::statusText(module.snapshot()));
  EXPECT_THAT(status->text().toStdString(), StartsWith("display 0x98 (graphics)"));

  child<QCheckBox>(window, "connectedCheckBox")->setChecked(false);
  EXPECT_TRUE(t6963::isDisconnected(module.state()));
  EXPECT_THAT(status->text().toStdString(), StartsWith("DISCONNECTED"));
  child<QCheckBox>(window, "connectedCheckBox")->setChecked(true);
  EXPECT_FALSE(t6963::isDisconnected(module.state()));

  child<QSpinBox>(window, "busySpinBox")->setValue(123);
  EXPECT_EQ(module.state().settings.busyAccesses, 123u);

  const auto generation = module.state().powerOnGeneration;
  child<QPushButton>(window, "powerCycleButton")->click();
  EXPECT_EQ(module.state().powerOnGeneration, generation + 1);
  EXPECT_EQ(module.state().ram[0x0200], 0x00);
  EXPECT_THAT(status->text().toStdString(), StartsWith("display 0x90 (off)"));
}

TEST(ViewerWindow, ControlsFollowSettingsChangedByOthers) {
  application();
  portlib_test::TestSegment segment;
  auto module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
  lcdview::ViewerWindow window(segment.name(), t6963::PowerOnContents::Zero);

  t6963::setDisconnected(module.state(), true);
  t6963::setBusyAccesses(module.state(), 9);
  window.refresh();
  EXPECT_FALSE(child<QCheckBox>(window, "connectedCheckBox")->isChecked());
  EXPECT_EQ(child<QSpinBox>(window, "busySpinBox")->value(), 9);
  EXPECT_TRUE(t6963::isDisconnected(module.state()));  // showing it did not write it back
}

TEST(ViewerWindow, BusLogShowsTrafficAndAViolationWhereItHappened) {
  application();
  TrafficSegment traffic;
  sendKnownStream(traffic);
  traffic.bus().write(t6963c::ControlPort, t6963c::ctl::Wr);  // /WR pulsed without /CE
  traffic.bus().write(t6963c::ControlPort, 0x00);
  lcdview::ViewerWindow window(traffic.name().toStdString(), t6963::PowerOnContents::Zero);

  const auto lines = child<QPlainTextEdit>(window, "busLogView")->toPlainText().split('\n');
  ASSERT_EQ(lines.size(), 6);
  EXPECT_THAT(lines[4].toStdString(), HasSubstr("write 0xA5 and advance"));
  EXPECT_THAT(lines[5].toStdString(), HasSubstr("VIOLATION 0xC0  strobe without /CE"));

  ASSERT_TRUE(traffic.bench().data(0x33));
  window.refreshBusLog();
  EXPECT_THAT(child<QPlainTextEdit>(window, "busLogView")->toPlainText().toStdString(), HasSubstr("data 0x33"));
}

TEST(ViewerWindow, WaitsForItsModuleToAppearWithoutCreatingIt) {
  application();
  portlib_test::TestSegment segment;
  lcdview::ViewerWindow window(segment.name(), t6963::PowerOnContents::Zero);
  EXPECT_THAT(child<QLabel>(window, "statusLabel")->text().toStdString(),
              StartsWith("waiting for the virtual display " + segment.name()));
  EXPECT_FALSE(t6963::SharedModule::openExisting(segment.name()).has_value());

  auto module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
  window.refresh();
  EXPECT_EQ(child<QLabel>(window, "statusLabel")->text(), lcdview::statusText(module.snapshot()));
}

TEST(ViewerWindow, KeepsTheLastGoodFrameWhileAWriterIsStoppedInTheMiddleOfAnUpdate) {
  application();
  portlib_test::TestSegment segment;
  auto module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero);
  drawKnownPicture(module.state());
  lcdview::ViewerWindow window(segment.name(), t6963::PowerOnContents::Zero);
  auto* glass = child<lcdview::LcdWidget>(window, "lcdWidget");
  window.layout()->activate();  // the glass at the size the window gives it
  const QImage good = glass->grab().toImage();

  t6963::testing::WriterInUpdate holder(segment.name());
  ASSERT_TRUE(holder.stopped());
  module.state().ram[0x0200] = 0xFF;  // as the stopped writer left it, half done
  window.refresh();
  const std::string stopped = "process " + std::to_string(holder.pid()) +
                              " (viewer_test) holds the display module in the middle of an update and is stopped";
  EXPECT_THAT(child<QLabel>(window, "statusLabel")->text().toStdString(), HasSubstr(stopped));
  EXPECT_EQ(glass->grab().toImage(), good);

  const auto run = runLcdview({"--segment", QString::fromStdString(segment.name()), "--text"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "lcdview: " + stopped + "\n");
}

struct LaptopCase {
  const char* name;
  int width, height;  // the glass; 0: no module yet
};
void PrintTo(const LaptopCase& c, std::ostream* out) { *out << c.name; }

class OnALaptop : public ::testing::TestWithParam<LaptopCase> {};

// Where the window opens beside the bench on a 1366x768 screen: whole and apart from it,
// its status whole, the glass whole at a scale of 1 or more, and the log beside or below it
// at least half as wide as the window.
TEST_P(OnALaptop, TheWindowShowsAllOfItsStatusGlassAndAReadableLog) {
  application();
  portlib_test::TestSegment segment;
  std::optional<t6963::SharedModule> module;
  if (GetParam().width != 0) {
    t6963::ModuleBuild build;
    build.width = static_cast<std::uint16_t>(GetParam().width);
    build.height = static_cast<std::uint16_t>(GetParam().height);
    module = t6963::SharedModule::open(segment.name(), t6963::PowerOnContents::Zero, build);
  }
  lcdview::ViewerWindow window(segment.name(), t6963::PowerOnContents::Zero);
  const QRect screen(0, 0, 1366, 768);
  const QRect bench(lcdview::benchClientGeometry().topLeft(),
                    lcdview::benchClientGeometry().size() + lcdview::WindowFrameAllowance);
  const QRect place = lcdview::placeViewer(bench, window.minimumSize() + lcdview::WindowFrameAllowance,
                                           window.size() + lcdview::WindowFrameAllowance, screen);
  EXPECT_TRUE(screen.contains(place));
  EXPECT_FALSE(place.intersects(bench));
  window.resize(place.size() - lcdview::WindowFrameAllowance);
  window.show();
  QApplication::processEvents();

  auto* status = child<QLabel>(window, "statusLabel");
  EXPECT_GE(status->height(), status->heightForWidth(status->width())) << status->text().toStdString();
  auto* glass = child<lcdview::LcdWidget>(window, "lcdWidget");
  const t6963::Frame frame = module ? t6963::render(module->snapshot(), true) : t6963::Frame{};
  EXPECT_GE(glass->width(), frame.width * glass->fittingScale());
  EXPECT_GE(glass->height(), frame.height * glass->fittingScale());
  EXPECT_GE(child<QPlainTextEdit>(window, "busLogView")->width(), window.width() / 2);
}

INSTANTIATE_TEST_SUITE_P(Builds, OnALaptop,
                         ::testing::Values(LaptopCase{"WaitingForTheModule", 0, 0}, LaptopCase{"Standard240x64", 240, 64},
                                           LaptopCase{"Tall240x128", 240, 128}),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
