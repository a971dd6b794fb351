// Drivers that no one here wrote, run unmodified through kelvari-port on a module of the
// test's own: lcd4linux over ppdev, LCDd over direct port I/O, and io_forms, a program of
// the test's own that uses every in/out form. Each is stopped by the test within a time limit.
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

// A program the test runs, its standard output and error in `log`; when it goes out of
// scope it gets SIGTERM, and SIGKILL a second later.
class Program : public QProcess {
 public:
  Program(const QStringList& command, const QString& log) : log_(log) {
    setProcessChannelMode(MergedChannels);
    setStandardOutputFile(log);
#ifdef SANITIZER_RUNTIME
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert("LD_PRELOAD", SANITIZER_RUNTIME);
    environment.insert("ASAN_OPTIONS", "detect_leaks=0:handle_segv=0");
    setProcessEnvironment(environment);
#endif
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

  t6963::ModuleState moduleState() const { return t6963::SharedModule::open(segment_.name()).snapshot(); }

  portlib_test::TestSegment segment_;
  QTemporaryDir folder_;
};

bool installed(const char* program) { return ::access(program, X_OK) == 0; }

constexpr const char* Lcd4linuxConfig = R"(
Display T6963 {
  Driver 'T6963'
  Model 'T6963'
  Size '240x64'
  Cell 6
  Port '/dev/parport0'
  Wire.WR 'STROBE'
  Wire.CE 'AUTOFD'
  Wire.CD 'INIT'
  Wire.RD 'SLCTIN'
}
Display Image {
  Driver 'Image'
  Format 'PPM'
  Size '240x64'
  Font '6x8'
  Pixel '1+0'
  Gap '0x0'
  Basecolor 'ffffff'
}
Widget Title {
  class 'Text'
  expression 'Kelvari 16'
}
Widget Level {
  class 'Bar'
  expression 60
  min 0
  max 100
  length 20
}
Layout L {
  Row1.Col1 'Title'
  Row3.Col2 'Level'
}
Layout 'L'
Display 'T6963'
)";

// The PPM's pixels as the module's frame holds them (1 = dark); empty while incomplete.
std::optional<t6963::Frame> readPpm(const QString& file) {
  const std::string ppm = readFile(file);
  const std::string header = "P6\n240 64\n255\n";
  if (ppm.size() != header.size() + t6963c::Width * t6963c::Height * 3 || ppm.compare(0, header.size(), header) != 0) {
    return std::nullopt;
  }
  t6963::Frame frame;
  for (std::size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i] = ppm[header.size() + 3 * i] == 0 ? 1 : 0;
  return frame;
}

TEST_F(ThroughKelvariPort, Lcd4linuxOverPpdevDrawsWhatItsImageDriverDraws) {
  if (!installed(Lcd4linux)) GTEST_SKIP() << "lcd4linux is not installed (scripts/install-deps.sh brings it)";
  const QString config = writePrivate("lcd4linux.conf", Lcd4linuxConfig);
  Program drawing({Lcd4linux, "-F", "-q", "-f", config, "-c", "Display='Image'", "-o", path("image.ppm")},
                  path("image.log"));
  std::optional<t6963::Frame> expected;
  // The layout is drawn once the bar's first pixel (row 3, column 2) is dark.
  ASSERT_TRUE(QTest::qWaitFor([&] { return (expected = readPpm(path("image.ppm"))) && expected->at(6, 16) == 1; },
                              LimitMs))
      << "lcd4linux's Image driver drew no layout: " << drawing.output();

  Program driver(underKelvariPort({Lcd4linux, "-F", "-q", "-f", config}), path("t6963.log"));
  t6963::ModuleState state;
  const auto drawn = [&] { return t6963::render(state = moduleState(), true).pixels == expected->pixels; };
  EXPECT_TRUE(QTest::qWaitFor(drawn, LimitMs)) << t6963::frameToText(t6963::render(state, true)) << "Image driver:\n"
                                               << t6963::frameToText(*expected) << driver.output();
  EXPECT_EQ(state.violations.total, 0U);
}

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

TEST_F(ThroughKelvariPort, LcddOverDirectIoShowsAClientsStringAtItsRowAndColumn) {
  if (!installed(Lcdd)) GTEST_SKIP() << "LCDd is not installed (scripts/install-deps.sh brings lcdproc)";
  const quint16 port = freeLoopbackPort();
  const QString config = writePrivate("LCDd.conf", "[server]\nDriverPath=/usr/lib/x86_64-linux-gnu/lcdproc/\n"
                                                   "Driver=t6963\nBind=127.0.0.1\nPort=" + std::to_string(port) +
                                                   "\nServerScreen=off\nReportToSyslog=no\n"
                                                   "[t6963]\nSize=240x64\nPort=0x378\n");
  Program server(underKelvariPort({Lcdd, "-f", "-c", config}), path("LCDd.log"));
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

TEST_F(ThroughKelvariPort, EveryInOutFormOnTheModulesPortsAndNoneElsewhere) {
  Program program(underKelvariPort({IO_FORMS_PATH}), path("io_forms.log"));
  ASSERT_TRUE(program.waitForFinished(LimitMs)) << program.output();
  EXPECT_TRUE(program.exitStatus() == QProcess::NormalExit && program.exitCode() == 0) << program.output();
  EXPECT_NE(program.output().find("io_forms installs its own SIGSEGV handler"), std::string::npos) << program.output();
}

}  // namespace
}  // namespace portshim_test
