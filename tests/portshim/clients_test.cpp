// Drivers that no one here wrote, run unmodified through kelvari-port on a module of the
// test's own: lcd4linux over ppdev, LCDd over direct port I/O, and a program of the test's
// own that uses every in/out form. Each is stopped by the test within a time limit.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "child_process.h"
#include "t6963/renderer.h"
#include "t6963/shared_module.h"

namespace portshim_test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto ClientLimit = 15s;

class ThroughKelvariPort : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    segment_ = "/kelvari-test-portshim-" + std::to_string(::getpid()) + "-" + test->name();
    folder_ = fs::path(::testing::TempDir()) / ("portshim-" + std::to_string(::getpid()) + "-" + test->name());
    fs::create_directories(folder_);
    t6963::SharedModule::remove(segment_);
  }
  void TearDown() override {
    t6963::SharedModule::remove(segment_);
    fs::remove_all(folder_);
  }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }

  // A file of the test's own, readable by its owner only (lcd4linux insists on that).
  std::string writePrivate(const std::string& name, const std::string& text) const {
    const std::string file = path(name);
    std::ofstream(file) << text;
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    return file;
  }

  // What every program the test starts runs with.
  static Environment environment() {
#ifdef SANITIZER_RUNTIME
    return {{"LD_PRELOAD", SANITIZER_RUNTIME}, {"ASAN_OPTIONS", "detect_leaks=0:handle_segv=0"}};
#else
    return {};
#endif
  }

  std::vector<std::string> underKelvariPort(std::vector<std::string> program) const {
    program.insert(program.begin(), {KELVARI_PORT_PATH, "--segment", segment_});
    return program;
  }

  t6963::ModuleState moduleState() const { return t6963::SharedModule::open(segment_).snapshot(); }

  std::string segment_;
  fs::path folder_;
};

bool installed(const char* program) { return ::access(program, X_OK) == 0; }

// --- lcd4linux --------------------------------------------------------------------------

constexpr const char* Lcd4linux = "/usr/sbin/lcd4linux";

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
  Border 0
  Foreground '000000ff'
  Background 'ffffff00'
  Basecolor 'ffffff'
}
Widget Title {
  class 'Text'
  expression 'Kelvari 16'
  width 12
  update 100
}
Widget Level {
  class 'Bar'
  expression 60
  min 0
  max 100
  length 20
  direction 'E'
  update 100
}
Layout L {
  Row1.Col1 'Title'
  Row3.Col2 'Level'
}
Layout 'L'
Display 'T6963'
)";

// The PPM's pixels as the module's frame holds them (1 = dark); empty while incomplete.
std::optional<t6963::Frame> readPpm(const std::string& file) {
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
  const std::string config = writePrivate("lcd4linux.conf", Lcd4linuxConfig);
  const std::string image = path("image.ppm");
  std::optional<t6963::Frame> expected;
  {
    ChildProcess drawing({Lcd4linux, "-F", "-q", "-f", config, "-c", "Display='Image'", "-o", image},
                         {}, path("image.log"));
    // The layout is drawn once the bar's first pixel (row 3, column 2) is dark.
    waitUntil([&] { return (expected = readPpm(image)) && expected->at(6, 16) == 1; }, ClientLimit);
  }
  ASSERT_TRUE(expected && expected->at(6, 16) == 1) << "lcd4linux's Image driver drew no layout; see " << path("image.log");

  ChildProcess driver(underKelvariPort({Lcd4linux, "-F", "-q", "-f", config}),
                      environment(), path("t6963.log"));
  t6963::ModuleState state;
  waitUntil([&] {
    state = moduleState();
    return t6963::render(state, true).pixels == expected->pixels;
  }, ClientLimit);
  driver.stop();
  EXPECT_EQ(t6963::frameToText(t6963::render(state, true)), t6963::frameToText(*expected))
      << readFile(path("t6963.log"));
  EXPECT_EQ(state.violations.total, 0U);
}

// --- LCDd ---------------------------------------------------------------------------------

constexpr const char* Lcdd = "/usr/sbin/LCDd";

// A loopback port free now, for LCDd to listen on.
int freeLoopbackPort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

// A client speaking LCDproc's protocol over loopback: connects (retrying while the server
// starts, within the limit) and sends `lines`; the descriptor stays open, since LCDd drops
// a client's screens when it goes. -1 when no connection came.
int lcdprocClient(int port, const std::string& lines) {
  int client = -1;
  waitUntil([&] {
    if (client >= 0) ::close(client);
    client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }, ClientLimit);
  const bool sent = ::send(client, lines.data(), lines.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(lines.size());
  if (sent) return client;
  ::close(client);
  return -1;
}

// Whether the 6x8 cell at (column, row) of the frame shows `c`, not blank, in the font LCDd
// loads into CG RAM (external CG: glyph row y of code c at offset << 11 | c << 3 | y).
bool cellShows(const t6963::ModuleState& state, int column, int row, char c) {
  namespace cmd = t6963c::cmd;
  const auto frame = t6963::render(state, true);
  if ((state.controller.modeSet & cmd::ModeExternalCg) == 0) return false;
  const unsigned glyph = (state.controller.offset & cmd::OffsetMask) << cmd::CgOffsetShift |
                         static_cast<unsigned>(static_cast<unsigned char>(c)) << cmd::CgCodeShift;
  bool lit = false;
  for (int y = 0; y < t6963c::FontHeight; ++y) {
    const std::uint8_t dots = state.ram[(glyph + static_cast<unsigned>(y)) & t6963::RamAddressMask];
    for (int x = 0; x < t6963c::FontWidth; ++x) {
      const int on = (dots >> (t6963c::LeftmostPixelBit - x)) & 1;
      if (frame.at(column * t6963c::FontWidth + x, row * t6963c::FontHeight + y) != on) return false;
      lit = lit || on != 0;
    }
  }
  return lit;
}

TEST_F(ThroughKelvariPort, LcddOverDirectIoShowsAClientsStringAtItsRowAndColumn) {
  if (!installed(Lcdd)) GTEST_SKIP() << "LCDd is not installed (scripts/install-deps.sh brings lcdproc)";
  const int port = freeLoopbackPort();
  const std::string config = writePrivate("LCDd.conf", "[server]\nDriverPath=" LCDPROC_DRIVER_PATH "/\nDriver=t6963\n"
                                                        "Bind=127.0.0.1\nPort=" + std::to_string(port) +
                                                        "\nServerScreen=off\nReportToSyslog=no\n"
                                                        "[t6963]\nSize=240x64\nPort=0x378\n");
  ChildProcess server(underKelvariPort({Lcdd, "-f", "-c", config}), environment(), path("LCDd.log"));
  const int client = lcdprocClient(port, "hello\nscreen_add kelvari\nwidget_add kelvari name string\n"
                                         "widget_set kelvari name 7 4 \"Kelvari\"\n");
  ASSERT_GE(client, 0) << readFile(path("LCDd.log"));
  const std::string text = "Kelvari";
  const auto shown = [&](const t6963::ModuleState& state) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (!cellShows(state, 6 + static_cast<int>(i), 3, text[i])) return false;
    }
    return true;
  };
  t6963::ModuleState state;
  EXPECT_TRUE(waitUntil([&] { return shown(state = moduleState()); }, ClientLimit))
      << t6963::frameToText(t6963::render(state, true)) << readFile(path("LCDd.log"));
  EXPECT_EQ(state.violations.total, 0U);
  ::close(client);
}

// --- every in/out form ---------------------------------------------------------------------

TEST_F(ThroughKelvariPort, EveryInOutFormOnTheModulesPortsAndNoneElsewhere) {
  ChildProcess program(underKelvariPort({IO_FORMS_PATH}), environment(), path("io_forms.log"));
  const auto status = program.waitExit(ClientLimit);
  const std::string log = readFile(path("io_forms.log"));
  ASSERT_TRUE(status && WIFEXITED(*status)) << log;
  EXPECT_EQ(WEXITSTATUS(*status), 0) << log;
  EXPECT_NE(log.find("io_forms installs its own SIGSEGV handler"), std::string::npos) << log;
}

}  // namespace
}  // namespace portshim_test
