// The sensor reader against a real block made by the test (laid out byte by byte where the
// layout is checked): one snapshot per object, retries while no read has succeeded,
// out-of-range indices without a read, a short block refused, whatever else another user or
// a dead publisher leaves at the name counted as absent with the reason said once, every
// handle and view released after each read, and the README's example publisher read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <limits>
#include <memory>
#include <regex>
#include <thread>
#include <vector>

#include "sensors/mbmcaf.h"
#include "shared_block.h"
#include "winapi/fake.h"

namespace kelvari::test {
namespace {

constexpr std::int32_t OutOfRange = std::numeric_limits<std::int32_t>::max();

class Reader : public testing::Test {
 protected:
  void SetUp() override {
    winapi::fake::reset();
    block_ = std::make_unique<SharedBlock>();
  }
  void TearDown() override {
    EXPECT_EQ(winapi::fake::openMappingHandles(), 0);
    EXPECT_EQ(winapi::fake::openMappedViews(), 0);
    winapi::fake::reset();
  }
  static long opens() {
    const auto calls = winapi::fake::calledFunctions();
    return std::count(calls.begin(), calls.end(), "OpenFileMappingA");
  }

  std::unique_ptr<SharedBlock> block_;
};

// distinctReading() laid out by hand at the block's offsets, not through the header the
// reader decodes with: temperatures at 0, voltages at 40, fans at 120, the counts at 160
// and 164.
std::vector<unsigned char> distinctRawBlock() {
  std::vector<unsigned char> bytes(165, 0xFF);
  for (int i = 0; i < 10; ++i) {
    const std::int32_t temperature = 40 + i;
    const double voltage = i + 0.25;
    const std::int32_t fan = 1000 + i;
    std::memcpy(&bytes[static_cast<std::size_t>(4 * i)], &temperature, 4);
    std::memcpy(&bytes[static_cast<std::size_t>(40 + 8 * i)], &voltage, 8);
    std::memcpy(&bytes[static_cast<std::size_t>(120 + 4 * i)], &fan, 4);
  }
  return bytes;
}

TEST_F(Reader, PresentBlockGivesEveryIndexFromOneRead) {
  block_->write(distinctRawBlock());
  MBMCAF_c reader;
  for (std::uint8_t i = 0; i < 10; ++i) {
    EXPECT_EQ(reader.GetTemperature(i), 40 + i);
    EXPECT_EQ(reader.GetFanSpeed(i), 1000 + i);
    EXPECT_EQ(reader.GetVoltage(i), i + 0.25);
  }
  EXPECT_EQ(winapi::fake::calledFunctions(),
            (std::vector<std::string>{"OpenFileMappingA", "MapViewOfFile", "UnmapViewOfFile", "CloseHandle"}));
  EXPECT_EQ(winapi::fake::callLog()[0].arguments, (std::vector<std::string>{"0x4", "0", "$M$B$M$5$D$"}));
}

TEST_F(Reader, AbsentBlockGivesZerosAndIsTriedAgainOnEveryCall) {
  MBMCAF_c reader;
  EXPECT_EQ(reader.GetTemperature(0), 0);
  EXPECT_EQ(reader.GetFanSpeed(9), 0);
  EXPECT_EQ(reader.GetVoltage(3), 0.0);
  EXPECT_EQ(opens(), 3);
  block_->write(distinctReading());
  EXPECT_EQ(reader.GetTemperature(2), 42) << "the block appeared: the next call reads it";
  EXPECT_EQ(reader.GetTemperature(3), 43);
  EXPECT_EQ(opens(), 4);
}

TEST_F(Reader, ShortBlockFailsTheReadInsteadOfReadingPastItsEnd) {
  const auto full = mbm::encode(distinctReading());
  block_->write(std::vector<unsigned char>(full.begin(), full.end() - 1));
  MBMCAF_c reader;
  EXPECT_EQ(reader.GetVoltage(9), 0.0);
  EXPECT_EQ(reader.GetTemperature(0), 0);
  const auto log = winapi::fake::callLog();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[1].function, "MapViewOfFile");
  EXPECT_EQ(log[1].error, ERROR_ACCESS_DENIED);
  EXPECT_EQ(log[2].function, "CloseHandle");

  block_->write(std::vector<unsigned char>(full.begin(), full.end()));
  EXPECT_EQ(reader.GetVoltage(9), 9.25);
}

TEST_F(Reader, LaterGettersKeepTheSnapshotWhileANewObjectSeesTheChange) {
  block_->write(distinctReading());
  MBMCAF_c reader;
  EXPECT_EQ(reader.GetTemperature(0), 40);
  block_->write(distinctReading(100));
  EXPECT_EQ(reader.GetFanSpeed(0), 1000);
  EXPECT_EQ(reader.GetVoltage(0), 0.25);
  block_->remove();
  EXPECT_EQ(reader.GetTemperature(1), 41);
  EXPECT_EQ(opens(), 1);

  block_->write(distinctReading(100));
  MBMCAF_c fresh;
  EXPECT_EQ(fresh.GetFanSpeed(0), 1100);
}

TEST_F(Reader, IndexTenAndAboveGiveTheOutOfRangeValueWithoutARead) {
  block_->write(distinctReading());
  MBMCAF_c reader;
  for (const std::uint8_t index : {std::uint8_t{10}, std::uint8_t{255}}) {
    EXPECT_EQ(reader.GetTemperature(index), OutOfRange);
    EXPECT_EQ(reader.GetFanSpeed(index), OutOfRange);
    EXPECT_EQ(reader.GetVoltage(index), 0.0);
  }
  EXPECT_EQ(opens(), 0);
  block_->write(distinctReading(7));
  EXPECT_EQ(reader.GetTemperature(9), 56) << "the read flag stayed clear";
}

struct AbsentRow {
  const char* name;
  void (*leave)(SharedBlock&, const char* path);  // what is left at the block's name
  const char* reason;
};

class ReaderOfWhatIsLeft : public Reader, public testing::WithParamInterface<AbsentRow> {};

TEST_P(ReaderOfWhatIsLeft, CountsItAsAbsentAndSaysWhyOnce) {
  if (GetParam().name == std::string("AnotherUsersBlock") && geteuid() != 0) GTEST_SKIP() << "chown needs root";
  const std::string path = "/dev/shm" + block_->name();
  GetParam().leave(*block_, path.c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(MBMCAF_c().GetTemperature(1), 0);
  EXPECT_EQ(MBMCAF_c().GetVoltage(1), 0.0);
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_THAT(said, testing::HasSubstr(block_->name() + " " + GetParam().reason));
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReaderOfWhatIsLeft,
    testing::Values(
        AbsentRow{"Fifo", [](SharedBlock&, const char* path) { ASSERT_EQ(mkfifo(path, 0666), 0); }, "is not a regular file"},
        AbsentRow{"SymbolicLink", [](SharedBlock&, const char* path) { ASSERT_EQ(symlink("/dev/shm", path), 0); },
                  "is a symbolic link"},
        AbsentRow{"AnotherUsersBlock",
                  [](SharedBlock& block, const char* path) {
                    block.write(distinctReading());
                    ASSERT_EQ(chown(path, 65534, 65534), 0);
                  },
                  "belongs to user 65534"},
        AbsentRow{"BlockOfAPublisherThatDied",
                  [](SharedBlock& block, const char*) {
                    block.write(distinctReading());
                    block.abandon();
                  },
                  "is held by no running publisher"}),
    [](const auto& row) { return row.param.name; });

// The README's example publisher, its command line run from the source tree as the README
// shows it (under the test's block name): the values it names arrive; killed, it leaves a
// block that counts as missing.
TEST_F(Reader, ReadmeExamplePublisherIsReadWhileItRunsAndNotOnceKilled) {
  std::ifstream readme(KELVARI_SOURCE_DIR "/README.md");
  std::string command;
  while (std::getline(readme, command) && !command.starts_with("scripts/example-sensor-publisher.pl ")) {}
  ASSERT_TRUE(readme) << "README.md shows no example-sensor-publisher.pl command line";
  auto published = [&command, slot = std::regex("(Temp|Fan|Voltage)([0-9])=(\\S+)")] {
    MBMCAF_c reader;
    for (std::sregex_iterator value(command.begin(), command.end(), slot), end; value != end; ++value) {
      const auto index = static_cast<std::uint8_t>(std::stoi((*value)[2]));
      const double got = (*value)[1] == "Temp" ? reader.GetTemperature(index)
                         : (*value)[1] == "Fan" ? reader.GetFanSpeed(index) : reader.GetVoltage(index);
      if (got != std::stod((*value)[3])) return false;
    }
    return true;
  };
  ASSERT_FALSE(published()) << "the example's values cannot be told from a missing block";

  const pid_t pid = fork();
  if (pid == 0) {
    const std::string run = "cd '" KELVARI_SOURCE_DIR "' && exec " + command + " --block '" + block_->name() + "'";
    execl("/bin/sh", "sh", "-c", run.c_str(), nullptr);
    _exit(127);
  }
  {
    struct Killed {
      pid_t pid;
      ~Killed() { kill(pid, SIGKILL), waitpid(pid, nullptr, 0); }
    } publisher{pid};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!published() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(published()) << command;
  }
  EXPECT_EQ(access(("/dev/shm" + block_->name()).c_str(), F_OK), 0) << "the killed publisher's block is left";
  EXPECT_FALSE(published());
}

TEST(SharedMemoryStandIns, RejectWriteAccessUnknownHandlesAndViews) {
  winapi::fake::reset();
  SharedBlock block;
  block.write(distinctReading());
  EXPECT_EQ(OpenFileMappingA(0x2, 0, mbm::BlockName), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(OpenFileMappingA(FILE_MAP_READ, 0, "a/b"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);

  const HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, 0, mbm::BlockName);
  ASSERT_NE(mapping, nullptr);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ, 0, 1, 0), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_MAPPED_ALIGNMENT);
  const LPVOID whole = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(mbm::decode(static_cast<const unsigned char*>(whole)).fanSpeeds[9], 1009);
  int local = 0;
  EXPECT_EQ(UnmapViewOfFile(&local), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_ADDRESS);
  EXPECT_EQ(UnmapViewOfFile(whole), 1);
  EXPECT_EQ(CloseHandle(mapping), 1);
  EXPECT_EQ(CloseHandle(mapping), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  winapi::fake::reset();
}

}  // namespace
}  // namespace kelvari::test
