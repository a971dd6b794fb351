// Drivers that no one here wrote, run unmodified through kelvari-port on a module of the
// test's own, of the build each is set up for: lcd4linux over ppdev, LCDd over direct port
// I/O; and programs of the test's own: io_forms, which uses every in/out form, and
// clock_driver, which waits by the clock instead of polling. Each is stopped by the test
// within a time limit.
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtCore/qtestsupport_core.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "t6963/renderer.h"
#include "t6963/shared_module.h"
#include "tests/portlib/test_segment.h"

namespace portshim_test {
namespace {

constexpr int LimitMs = 15000;
constexpr const char* Lcd4linux = "/usr/sbin/lcd4linux";
constexpr const char* Lcdd = "/usr/sbin/LCDd";

std::string readFile(const QString& path) {
  std::ostringstream text;
  text << std::ifstream(path.toStdString(), std::ios::binary).rdbuf();
  return text.str();
}

// The module settings a driver's build asks for, as NAME=value.
using BuildSettings = QStringList;

// A program the test runs, its standard output and error in `log`; when it goes out of
// scope it gets SIGTERM, and SIGKILL a second later.
class Program : public QProcess {
 public:
  Program(const QStringList& command, const QString& log, const BuildSettings& settings = {}) : log_(log) {
    setProcessChannelMode(MergedChannels);
    setStandardOutputFile(log);
    auto environment = QProcessEnvironment::systemEnvironment();
    for (const QString& setting : settings) environment.insert(setting.section('=', 0, 0), setting.section('=', 1));
#ifdef SANITIZER_RUNTIME
    environment.insert("LD_PRELOAD", SANITIZER_RUNTIME);
    environment.insert("ASAN_OPTIONS", "detect_leaks=0:handle_segv=0");
#endif
    setProcessEnvironment(environment);
    start(command.first(), command.mid(1));
  }
  ~Program() override {
    terminate();
    if (!waitForFinished(1000)) kill();
    waitForFinished(1000);
  }
  std::string output() const { return readFile(log_); }

 private:
  QString log_;
};

// A T6963 display for lcd4linux and the same layout on its Image driver, drawn with the
// driver's own 6x8 font: a title, a bar, and on a tall glass the title again on its last line.
struct Lcd4linuxLayout {
  const char* name;
  int width, height, cell;
  const char* wires;  // Wire.WR, Wire.CE, Wire.CD and Wire.RD, as WR:...,CE:...,CD:...,RD:...
  BuildSettings settings;
};
void PrintTo(const Lcd4linuxLayout& layout, std::ostream* out) { *out << layout.name; }

class ThroughKelvariPort : public ::testing::Test {
 protected:
  QString path(const char* name) const { return folder_.filePath(name); }

  // lcd4linux refuses a configuration file that others can read.
  QString writePrivate(const char* name, const std::string& text) const {
    std::ofstream(path(name).toStdString()) << text;
    QFile::setPermissions(path(name), QFile::ReadOwner | QFile::WriteOwner);
    return path(name);
  }

  QStringList underKelvariPort(const QStringList& program) const {
    return QStringList{KELVARI_PORT_PATH, "--segment", QString::fromStdString(segment_.name())} + program;
  }

  // The module as its driver has made it; a blank one of this system's build before that.
  t6963::ModuleState moduleState() const {
    const auto module = t6963::SharedModule::openExisting(segment_.name());
    return module ? module->snapshot() : t6963::ModuleState{};
  }

  void expectLcd4linuxDrawsWhatItsImageDriverDraws(const Lcd4linuxLayout& layout);
  void expectLcddShowsAClientsString(const std::string& size);

  portlib_test::TestSegment segment_;
  QTemporaryDir folder_;
};

bool installed(const char* program) { return ::access(program, X_OK) == 0; }

const Lcd4linuxLayout StandardLayout{"Standard", 240, 64, 6, "WR:STROBE,CE:AUTOFD,CD:INIT,RD:SLCTIN", {}};

std::string lcd4linuxConfig(const Lcd4linuxLayout& layout) {
  std::ostringstream config;
  const auto size = [&] { config << "  Size '" << layout.width << 'x' << layout.height << "'\n"; };
  config << "Display T6963 {\n  Driver 'T6963'\n  Model 'T6963'\n";
  size();
  config << "  Cell " << layout.cell << "\n  Port '/dev/parport0'\n";
  for (const QString& wire : QString(layout.wires).split(',')) {
    config << "  Wire." << wire.section(':', 0, 0).toStdString() << " '" << wire.section(':', 1).toStdString() << "'\n";
  }
  config << "}\nDisplay Image {\n  Driver 'Image'\n  Format 'PPM'\n";
  size();
  config << "  Font '6x8'\n  Pixel '1+0'\n  Gap '0x0'\n  Basecolor 'ffffff'\n}\n"
            "Widget Title {\n  class 'Text'\n  expression 'Kelvari 16'\n}\n"
            "Widget Level {\n  class 'Bar'\n  expression 60\n  min 0\n  max 100\n  length 20\n}\n"
            "Layout L {\n  Row1.Col1 'Title'\n  Row3.Col2 'Level'\n";
  if (layout.height > 64) config << "  Row" << layout.height / 8 << ".Col1 'Title'\n";
  config << "}\nLayout 'L'\nDisplay 'T6963'\n";
  return config.str();
}

// The PPM's pixels as the module's frame holds them (1 = dark); empty while incomplete.
std::optional<t6963::Frame> readPpm(const QString& file, int width, int height) {
  const std::string ppm = readFile(file);
  std::ostringstream expectedHeader;
  expectedHeader << "P6\n" << width << ' ' << height << "\n255\n";
  const std::string header = expectedHeader.str();
  t6963::Frame frame(width, height);
  if (ppm.size() != header.size() + frame.pixels.size() * 3 || ppm.compare(0, header.size(), header) != 0) {
    return std::nullopt;
  }
  for (std::size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = ppm[header.size() + 3 * i] == 0 ? 1 : 0;
  return frame;
}

class Lcd4linuxLayouts : public ThroughKelvariPort, public ::testing::WithParamInterface<Lcd4linuxLayout> {};

void ThroughKelvariPort::expectLcd4linuxDrawsWhatItsImageDriverDraws(const Lcd4linuxLayout& layout) {
  if (!installed(Lcd4linux)) GTEST_SKIP() << "lcd4linux is not installed (scripts/install-deps.sh brings it)";
  const QString config = writePrivate("lcd4linux.conf", lcd4linuxConfig(layout));
  Program drawing({Lcd4linux, "-F", "-q", "-f", config, "-c", "Display='Image'", "-o", path("image.ppm")},
                  path("image.log"));
  std::optional<t6963::Frame> expected;
  // The layout is drawn once the bar's first pixel (row 3, column 2) is dark.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return (expected = readPpm(path("image.ppm"), layout.width, layout.height)) && expected->at(6, 16) == 1; },
      LimitMs))
      << "lcd4linux's Image driver drew no layout: " << drawing.output();

  Program driver(underKelvariPort({Lcd4linux, "-F", "-q", "-f", config}), path("t6963.log"), layout.settings);
  t6963::ModuleState state;
  const auto drawn = [&] { return t6963::render(state = moduleState(), true).pixels == expected->pixels; };
  EXPECT_TRUE(QTest::qWaitFor(drawn, LimitMs)) << t6963::frameToText(t6963::render(state, true)) << "Image driver:\n"
                                               << t6963::frameToText(*expected) << driver.output();
  EXPECT_EQ(state.violations.total, 0U);
}

TEST_F(ThroughKelvariPort, Lcd4linuxOverPpdevDrawsWhatItsImageDriverDraws) {
  expectLcd4linuxDrawsWhatItsImageDriverDraws(StandardLayout);
}

TEST_P(Lcd4linuxLayouts, DrawWhatItsImageDriverDrawsOnTheModuleOfTheirBuild) {
  expectLcd4linuxDrawsWhatItsImageDriverDraws(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Builds, Lcd4linuxLayouts,
    ::testing::Values(Lcd4linuxLayout{"Cell8On240x128", 240, 128, 8, StandardLayout.wires,
                                      {"DLPORTIO_LCD_SIZE=240x128", "DLPORTIO_LCD_FONT=8x8"}},
                      Lcd4linuxLayout{"MovedWiresOn240x64", 240, 64, 6, "WR:INIT,CE:STROBE,CD:SLCTIN,RD:AUTOFD",
                                      {"DLPORTIO_LCD_WIRING=WR:INIT,CE:STROBE,CD:SLCTIN,RD:AUTOFD"}}),
    [](const auto& row) { return std::string(row.param.name); });

// A loopback port free now, for LCDd to listen on.
quint16 freeLoopbackPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost);
  return probe.serverPort();
}

// Whether the cells from (column, row) on show `text`, not blank, in the font that LCDd
// loads into CG RAM.
bool shows(const t6963::ModuleState& state, int column, int row, const std::string& text) {
  namespace cmd = t6963c::cmd;
  const unsigned font = static_cast<unsigned>(state.controller.offset & cmd::OffsetMask) << cmd::CgOffsetShift;
  unsigned lit = 0;
  int cell = column;
  for (const char c : text) {
    for (int y = 0; y < t6963c::FontHeight; ++y) {
      const unsigned address = font | static_cast<unsigned char>(c) << cmd::CgCodeShift | static_cast<unsigned>(y);
      const unsigned dots = state.ram[address & state.build.ramMask()] & state.build.pixelMask();
      if (dots != t6963::displayedByte(state, cell, row * t6963c::FontHeight + y, true)) return false;
      lit |= dots;
    }
    ++cell;
  }
  return lit != 0;
}

void ThroughKelvariPort::expectLcddShowsAClientsString(const std::string& size) {
  if (!installed(Lcdd)) GTEST_SKIP() << "LCDd is not installed (scripts/install-deps.sh brings lcdproc)";
  const quint16 port = freeLoopbackPort();
  const QString config = writePrivate("LCDd.conf", "[server]\nDriverPath=/usr/lib/x86_64-linux-gnu/lcdproc/\n"
                                                   "Driver=t6963\nBind=127.0.0.1\nPort=" + std::to_string(port) +
                                                   "\nServerScreen=off\nReportToSyslog=no\n"
                                                   "[t6963]\nSize=" + size + "\nPort=0x378\n");
  Program server(underKelvariPort({Lcdd, "-f", "-c", config}), path("LCDd.log"),
                 {QString::fromStdString("DLPORTIO_LCD_SIZE=" + size)});
  // The client stays connected to the end: LCDd drops a client's screens when it goes.
  QTcpSocket client;
  const bool connected = QTest::qWaitFor([&] {
    client.abort();
    client.connectToHost(QHostAddress::LocalHost, port);
    return client.waitForConnected(100);
  }, LimitMs);
  ASSERT_TRUE(connected) << server.output();
  client.write("hello\nscreen_add kelvari\nwidget_add kelvari name string\nwidget_set kelvari name 7 4 \"Kelvari\"\n");
  ASSERT_TRUE(client.waitForBytesWritten(LimitMs));

  t6963::ModuleState state;
  EXPECT_TRUE(QTest::qWaitFor([&] { return shows(state = moduleState(), 6, 3, "Kelvari"); }, LimitMs))
      << t6963::frameToText(t6963::render(state, true)) << server.output();
  EXPECT_EQ(state.violations.total, 0U);
}

TEST_F(ThroughKelvariPort, LcddOverDirectIoShowsAClientsStringAtItsRowAndColumn) { expectLcddShowsAClientsString("240x64"); }

class LcddSizes : public ThroughKelvariPort, public ::testing::WithParamInterface<const char*> {};

TEST_P(LcddSizes, ShowAClientsStringOnTheModuleOfTheirGlass) { expectLcddShowsAClientsString(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Builds, LcddSizes, ::testing::Values("240x128", "128x64"),
                         [](const auto& row) { return std::string(row.param); });

// Waits 20 µs by the clock before each byte, never reading the status: a real controller is
// long ready then, though only four port accesses have passed since the command before.
TEST_F(ThroughKelvariPort, ADriverThatWaitsByTheClockHasEveryByteTaken) {
  Program program(underKelvariPort({CLOCK_DRIVER_PATH}), path("clock_driver.log"));
  ASSERT_TRUE(program.waitForFinished(LimitMs)) << program.output();
  EXPECT_TRUE(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0) << program.output();
  const t6963::ModuleState state = moduleState();
  EXPECT_EQ(state.violations.total, 0U);
  for (std::uint8_t byte = 1; byte <= 60; ++byte) ASSERT_EQ(state.ram[0x0200 + byte - 1], byte) << "byte " << int{byte};
  EXPECT_EQ(state.controller.addressPointer, 0x0200 + 60);
}

TEST_F(ThroughKelvariPort, EveryInOutFormOnTheModulesPortsAndNoneElsewhere) {
  Program program(underKelvariPort({IO_FORMS_PATH}), path("io_forms.log"));
  ASSERT_TRUE(program.waitForFinished(LimitMs)) << program.output();
  EXPECT_TRUE(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0) << program.output();
  EXPECT_NE(program.output().find("io_forms installs its own SIGSEGV handler"), std::string::npos) << program.output();
}

}  // namespace
}  // namespace portshim_test
