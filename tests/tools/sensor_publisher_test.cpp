// The sensor publisher through the real libsensors over a prepared hardware-monitor tree:
// this test process enters a private mount namespace and mounts a tmpfs over /sys/class
// (root only; the tests skip, saying why, where that is not possible), so libsensors and
// the kelvari-sensors processes started from here see only the test's chips. Checked:
// slots in a stable order across chips, units and rounding, labels from the driver and
// from the test's configuration, a compute line, an ignore line, the cap of ten, the
// block's contents, mode and rewriting, refusals, zeros without monitors, values that are
// no number, and a clean end on every ending signal and with nobody reading the output,
// the block removed only while it is the publisher's own.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "sensors/mbm_shared_data.h"
#include "tools/hardware_monitors.h"

namespace kelvari::publisher {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr long SysfsMagic = 0x62656572;
const fs::path Hwmon = "/sys/class/hwmon";

// Empty when the private tree is in place, else why it cannot be.
std::string enterPrivateHwmonTree() {
  if (geteuid() != 0) return "needs root for a private mount namespace over /sys/class";
  struct statfs sys {};
  if (statfs("/sys", &sys) != 0 || sys.f_type != SysfsMagic) return "/sys is not sysfs here";
  if (unshare(CLONE_NEWNS) != 0) return std::string("unshare(CLONE_NEWNS): ") + std::strerror(errno);
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
      mount("tmpfs", "/sys/class", "tmpfs", 0, "mode=0755") != 0) {
    return std::string("mount: ") + std::strerror(errno);
  }
  return {};
}

void put(const fs::path& file, const std::string& text) { std::ofstream(file) << text << "\n"; }

// hwmonN with its name and attributes (file, value) pairs.
void chip(int number, const std::string& name, const std::vector<std::pair<std::string, std::string>>& attributes) {
  const fs::path directory = Hwmon / ("hwmon" + std::to_string(number));
  fs::create_directories(directory);
  put(directory / "name", name);
  for (const auto& [file, value] : attributes) put(directory / file, value);
}

const char Configuration[] = R"(chip "nct6775-*"
    label in1 "+12V"
    compute in0 @*2, @/2
    ignore temp3

chip "coretemp-*"
    label temp2 "Core A"
)";

// A kelvari-sensors process with its standard output and error in one pipe, or its output
// into a pipe that nobody reads.
class Publisher {
 public:
  explicit Publisher(const std::vector<std::string>& arguments, bool outputUnread = false) {
    int pipeEnds[2];
    int unread[2];
    if (pipe(pipeEnds) != 0 || pipe(unread) != 0) throw std::runtime_error("pipe");
    close(unread[0]);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(outputUnread ? unread[1] : pipeEnds[1], STDOUT_FILENO);
      dup2(pipeEnds[1], STDERR_FILENO);
      close(pipeEnds[0]);
      std::vector<char*> argv{const_cast<char*>(KELVARI_SENSORS_PATH)};
      for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(pipeEnds[1]);
    close(unread[1]);
    output_ = pipeEnds[0];
  }
  ~Publisher() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(output_);
  }

  // Reads output until it contains `text` or the output ends; bounded.
  bool waitForOutput(const std::string& text, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (text_.find(text) == std::string::npos && std::chrono::steady_clock::now() < end) {
      pollfd readable{output_, POLLIN, 0};
      if (poll(&readable, 1, 100) <= 0) continue;
      char buffer[4096];
      const ssize_t count = read(output_, buffer, sizeof buffer);
      if (count <= 0) break;
      text_.append(buffer, static_cast<std::size_t>(count));
    }
    return text_.find(text) != std::string::npos;
  }
  // The exit status after `signal` (none: just wait), or -1 when it did not end in time.
  int end(int signal = 0, std::chrono::milliseconds limit = 10s) {
    if (signal != 0) kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(10ms);
    }
    exited_ = true;
    waitForOutput("(never printed)", 2s);  // the rest, up to the end of the pipe
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  const std::string& output() const { return text_; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  bool exited_ = false;
  std::string text_;
};

class SensorPublisher : public testing::Test {
 protected:
  static void SetUpTestSuite() { unavailable_ = enterPrivateHwmonTree(); }

  void SetUp() override {
    if (!unavailable_.empty()) GTEST_SKIP() << "no prepared hardware-monitor tree: " << unavailable_;
    fs::remove_all(Hwmon);
    fs::create_directories(Hwmon);
    std::ofstream(configPath_) << Configuration;
    shm_unlink(objectName_.c_str());
  }
  void TearDown() override {
    fs::remove(configPath_);
    shm_unlink(objectName_.c_str());
  }

  // Chips numbered against their names' order, so that the order must come from the names.
  static void prepareChips() {
    std::vector<std::pair<std::string, std::string>> nct{
        {"temp1_input", "38400"}, {"temp1_label", "SYSTIN"}, {"in0_input", "1648"}, {"in1_input", "12000"},
        {"fan1_input", "2500"},   {"fan2_input", "0"}};
    for (int n = 2; n <= 12; ++n) nct.push_back({"temp" + std::to_string(n) + "_input", std::to_string(n * 1000)});
    chip(0, "nct6775", nct);
    chip(1, "coretemp", {{"temp1_input", "45500"}, {"temp1_label", "Package id 0"}, {"temp2_input", "44499"}});
    chip(2, "acpitz", {{"temp1_input", "-5600"}});
  }

  mbm::MbmSharedData block() const {
    std::array<unsigned char, mbm::BlockSize> bytes{};
    const int descriptor = shm_open(objectName_.c_str(), O_RDONLY, 0);
    if (descriptor < 0 || read(descriptor, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
      ADD_FAILURE() << "cannot read " << objectName_;
    }
    if (descriptor >= 0) close(descriptor);
    return mbm::decode(bytes.data());
  }

  static inline std::string unavailable_;
  const std::string configPath_ = "/tmp/kelvari-sensors-test-" + std::to_string(getpid()) + ".conf";
  const std::string blockName_ = "kelvari-test-" + std::to_string(getpid()) + "-" + mbm::BlockName;
  const std::string objectName_ = "/" + blockName_;
};

TEST_F(SensorPublisher, SlotsFollowChipNamesWithLabelsComputationsIgnoresAndTheCapOfTen) {
  prepareChips();
  const HardwareMonitors monitors(configPath_);
  std::vector<std::string> slots;
  for (const SensorSlot& slot : monitors.slots()) slots.push_back(slotName(slot) + " " + slot.chip + ": " + slot.label);
  EXPECT_EQ(slots, (std::vector<std::string>{
                       "Temp0 acpitz-virtual-0: temp1",
                       "Temp1 coretemp-virtual-0: Package id 0",
                       "Temp2 coretemp-virtual-0: Core A",
                       "Temp3 nct6775-virtual-0: SYSTIN",
                       "Temp4 nct6775-virtual-0: temp2",
                       "Temp5 nct6775-virtual-0: temp4",
                       "Temp6 nct6775-virtual-0: temp5",
                       "Temp7 nct6775-virtual-0: temp6",
                       "Temp8 nct6775-virtual-0: temp7",
                       "Temp9 nct6775-virtual-0: temp8",
                       "Fan0 nct6775-virtual-0: fan1",
                       "Fan1 nct6775-virtual-0: fan2",
                       "Voltage0 nct6775-virtual-0: in0",
                       "Voltage1 nct6775-virtual-0: +12V",
                   }));
  const mbm::MbmSharedData data = monitors.read();
  EXPECT_EQ(data.temperatures, (std::array<std::int32_t, 10>{-6, 46, 44, 38, 2, 4, 5, 6, 7, 8}));
  EXPECT_EQ(data.fanSpeeds, (std::array<std::int32_t, 10>{2500, 0}));
  EXPECT_DOUBLE_EQ(data.voltages[0], 3.296);
  EXPECT_DOUBLE_EQ(data.voltages[1], 12.0);
  EXPECT_EQ(data.voltages[2], 0.0);
}

TEST_F(SensorPublisher, PublishesOwnerOnlyRewritesAndRemovesTheBlockOnSigterm) {
  prepareChips();
  Publisher publisher({"--config", configPath_, "--block", blockName_});
  ASSERT_TRUE(publisher.waitForOutput("+12V\n")) << publisher.output();
  EXPECT_NE(publisher.output().find("  Temp1    coretemp-virtual-0: Package id 0\n"), std::string::npos)
      << publisher.output();

  struct stat status {};
  ASSERT_EQ(stat(("/dev/shm" + objectName_).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  EXPECT_EQ(status.st_uid, geteuid());
  EXPECT_EQ(status.st_size, static_cast<off_t>(mbm::BlockSize));
  EXPECT_EQ(block().temperatures[1], 46);
  EXPECT_DOUBLE_EQ(block().voltages[0], 3.296);

  Publisher second({"--block", objectName_});  // the same block, named with its "/"
  EXPECT_EQ(second.end(), 1);
  EXPECT_NE(second.output().find("is being published by another process"), std::string::npos) << second.output();

  put(Hwmon / "hwmon2" / "temp1_input", "20000");
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (block().temperatures[0] != 20 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(50ms);
  EXPECT_EQ(block().temperatures[0], 20) << "not rewritten within 5 s";

  EXPECT_EQ(publisher.end(SIGTERM), 0);
  EXPECT_NE(access(("/dev/shm" + objectName_).c_str(), F_OK), 0) << "the block outlived the publisher";
}

TEST_F(SensorPublisher, WithoutMonitorsSaysSoPublishesZerosAndEndsOnSigint) {
  Publisher publisher({"--config", configPath_, "--block", blockName_});
  ASSERT_TRUE(publisher.waitForOutput("publishing zeros")) << publisher.output();
  publisher.waitForOutput("(never)", 200ms);
  const mbm::MbmSharedData data = block();
  EXPECT_EQ(data.temperatures, (std::array<std::int32_t, 10>{}));
  EXPECT_EQ(data.voltages, (std::array<double, 10>{}));
  EXPECT_EQ(publisher.end(SIGINT), 0);
}

TEST_F(SensorPublisher, RefusesABlockOfAnotherUserAndABadConfiguration) {
  const int descriptor = shm_open(objectName_.c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(descriptor, 0);
  ASSERT_EQ(fchown(descriptor, 65534, 65534), 0);
  close(descriptor);
  Publisher foreign({"--block", blockName_});
  EXPECT_EQ(foreign.end(), 1);
  EXPECT_NE(foreign.output().find("belongs to user 65534"), std::string::npos) << foreign.output();
  struct stat status {};
  ASSERT_EQ(stat(("/dev/shm" + objectName_).c_str(), &status), 0) << "a foreign block must be left alone";
  EXPECT_EQ(status.st_uid, 65534u);

  Publisher missingConfig({"--config", configPath_ + ".missing", "--block", blockName_});
  EXPECT_EQ(missingConfig.end(), 1);
  EXPECT_NE(missingConfig.output().find("cannot read the configuration " + configPath_ + ".missing"), std::string::npos)
      << missingConfig.output();

  Publisher help({"--help"});
  EXPECT_EQ(help.end(), 0);
  EXPECT_NE(help.output().find("usage: kelvari-sensors"), std::string::npos) << help.output();
}

TEST_F(SensorPublisher, ReportsAFaultyConfigurationLineAndAppliesTheRest) {
  prepareChips();
  std::ofstream(configPath_) << "chip \"nct6775-*\"\n    compute in0 @*\n    label in1 \"+12V\"\n";
  Publisher publisher({"--config", configPath_, "--block", blockName_});
  ASSERT_TRUE(publisher.waitForOutput("+12V\n")) << publisher.output();
  const std::string& output = publisher.output();
  EXPECT_NE(output.find("configuration " + configPath_ + ", line "), std::string::npos) << output;
  EXPECT_NE(output.find("syntax error"), std::string::npos) << output;
  EXPECT_EQ(publisher.end(SIGTERM), 0);
}

bool exists(const std::string& objectName) { return access(("/dev/shm" + objectName).c_str(), F_OK) == 0; }

TEST_F(SensorPublisher, EndsCleanlyOnEverySignalAndWithItsOutputUnread) {
  for (const auto& [signal, unread] : std::initializer_list<std::pair<int, bool>>{
           {SIGHUP, false}, {SIGQUIT, false}, {SIGTERM, true}}) {
    SCOPED_TRACE(signal);
    Publisher publisher({"--config", configPath_, "--block", blockName_}, unread);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!exists(objectName_) && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(publisher.end(signal), 0) << publisher.output();  // its lines are printed before a signal is taken
    EXPECT_FALSE(exists(objectName_)) << "the block outlived the publisher";
  }
}

TEST_F(SensorPublisher, AnEndingPublisherLeavesANewerOnesBlockAlone) {
  Publisher older({"--config", configPath_, "--block", blockName_});
  ASSERT_TRUE(older.waitForOutput("publishing zeros")) << older.output();
  shm_unlink(objectName_.c_str());
  Publisher newer({"--config", configPath_, "--block", blockName_});
  ASSERT_TRUE(newer.waitForOutput("publishing zeros")) << newer.output();
  EXPECT_EQ(older.end(SIGTERM), 0);
  EXPECT_NE(older.output().find("no longer ours, left alone"), std::string::npos) << older.output();
  EXPECT_TRUE(exists(objectName_)) << "the newer publisher's block was removed";
}

TEST_F(SensorPublisher, AValueThatIsNoNumberIsPublishedAsZeroAndSaidOnce) {
  chip(0, "nct6775", {{"in1_input", "inf"}});
  const HardwareMonitors monitors(configPath_);
  testing::internal::CaptureStderr();
  EXPECT_EQ(monitors.read().voltages[0], 0.0);
  EXPECT_EQ(monitors.read().voltages[0], 0.0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "kelvari-sensors: Voltage0 nct6775-virtual-0: +12V gives inf; published as 0 (said once)\n");
}

}  // namespace
}  // namespace kelvari::publisher
