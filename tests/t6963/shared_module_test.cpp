// The module in shared memory: creation with owner-only permissions and power-on,
// attaching from another opener or process, outliving its openers, power-cycling, refusing
// foreign segments and bad names, and reads that are never torn, with every wait bounded.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "bench_protocol.h"
#include "t6963/module.h"
#include "t6963/seqlock.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

using namespace t6963c;
using testing::BenchProtocol;

class SharedModuleTest : public ::testing::Test {
 protected:
  SharedModuleTest() {
    static int counter = 0;
    name_ = "/kelvari-test-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    SharedModule::remove(name_);
  }
  ~SharedModuleTest() override { SharedModule::remove(name_); }

  std::string name_;
};

// Runs `child` in a forked process; true if it exited with status 0.
template <typename Child>
bool inChildProcess(Child child) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int code = 1;
    try {
      code = child() ? 0 : 1;
    } catch (...) {
      code = 2;
    }
    ::_exit(code);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(SharedModuleTest, FirstOpenerCreatesAnOwnerOnlySegmentAndPowersOn) {
  const mode_t oldMask = ::umask(0);  // a permissive umask must not widen the permissions
  SharedModule module = SharedModule::open(name_, PowerOnContents::Zero);
  ::umask(oldMask);
  struct stat status {};
  ASSERT_EQ(::stat(("/dev/shm" + name_).c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600U);
  EXPECT_EQ(status.st_uid, ::geteuid());
  const ModuleState state = module.snapshot();
  EXPECT_EQ(state.powerOnGeneration, 1U);
  EXPECT_EQ(state.controller.displayMode, cmd::DisplayMode);
  EXPECT_TRUE(std::all_of(state.ram.begin(), state.ram.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(module.name(), name_);
}

TEST_F(SharedModuleTest, LaterOpenersAttachAsLeftAndTheStateOutlivesThem) {
  {
    SharedModule first = SharedModule::open(name_, PowerOnContents::Zero);
    Module bus(first.state());
    BenchProtocol bench(bus);
    ASSERT_TRUE(bench.data(0x2A));
    ASSERT_TRUE(bench.command(cmd::WriteIncrement));
    SharedModule second = SharedModule::open(name_, PowerOnContents::Random);
    EXPECT_NE(&second.state(), &first.state()) << "a mapping of its own";
    EXPECT_EQ(second.state().ram[0], 0x2A);
    first.state().ram[1] = 0x55;
    EXPECT_EQ(second.state().ram[1], 0x55);
  }
  SharedModule again = SharedModule::open(name_, PowerOnContents::Random);
  const ModuleState state = again.snapshot();
  EXPECT_EQ(state.powerOnGeneration, 1U) << "not powered on again";
  EXPECT_EQ(state.ram[0], 0x2A);
  EXPECT_EQ(state.controller.addressPointer, 1);
}

TEST_F(SharedModuleTest, MovedFromKeepsNothingAndTheMappingStays) {
  SharedModule first = SharedModule::open(name_, PowerOnContents::Zero);
  ModuleState* state = &first.state();
  SharedModule moved = std::move(first);
  EXPECT_EQ(&moved.state(), state);
  SharedModule assigned = SharedModule::open(name_);
  assigned = std::move(moved);
  EXPECT_EQ(&assigned.state(), state);
  EXPECT_EQ(assigned.state().powerOnGeneration, 1U);
}

TEST_F(SharedModuleTest, PowerCycleResetsTheModuleAndKeepsSettings) {
  SharedModule module = SharedModule::open(name_, PowerOnContents::Zero);
  Module bus(module.state());
  BenchProtocol bench(bus);
  ASSERT_TRUE(bench.command(0x9F));
  setBusyAccesses(module.state(), 7);
  module.powerCycle(PowerOnContents::Zero);
  ModuleState state = module.snapshot();
  EXPECT_EQ(state.powerOnGeneration, 2U);
  EXPECT_EQ(state.controller.displayMode, cmd::DisplayMode);
  EXPECT_EQ(state.settings.busyAccesses, 7U);
  module.powerCycle(PowerOnContents::Random);
  state = module.snapshot();
  EXPECT_EQ(state.powerOnGeneration, 3U);
  EXPECT_GT(std::count_if(state.ram.begin(), state.ram.end(), [](std::uint8_t b) { return b != 0; }), 7000);
}

TEST_F(SharedModuleTest, TwoProcessesSeeOneModule) {
  SharedModule parent = SharedModule::open(name_, PowerOnContents::Zero);
  const bool childWrote = inChildProcess([&] {
    SharedModule child = SharedModule::open(name_);
    Module bus(child.state());
    BenchProtocol bench(bus);
    return bench.data('H' - 0x20) && bench.command(cmd::WriteIncrement) && bench.data('i' - 0x20) &&
           bench.command(cmd::WriteIncrement);
  });
  ASSERT_TRUE(childWrote);
  ModuleState state = parent.snapshot();
  EXPECT_EQ(state.ram[0], 'H' - 0x20);
  EXPECT_EQ(state.ram[1], 'i' - 0x20);
  EXPECT_EQ(state.controller.addressPointer, 2);

  Module bus(parent.state());
  BenchProtocol bench(bus);
  ASSERT_TRUE(bench.data(0x34));
  ASSERT_TRUE(bench.data(0x12));
  ASSERT_TRUE(bench.command(cmd::SetAddressPointer));
  EXPECT_TRUE(inChildProcess([&] { return SharedModule::open(name_).snapshot().controller.addressPointer == 0x1234; }));
  EXPECT_FALSE(inChildProcess([&] { return SharedModule::open(name_).snapshot().controller.addressPointer == 0x4321; }))
      << "the child's check can fail";
}

struct ForeignCase {
  const char* name;
  mode_t mode;
  off_t size;
  const char* message;
};
void PrintTo(const ForeignCase& c, std::ostream* out) { *out << c.name; }

class ForeignSegment : public SharedModuleTest, public ::testing::WithParamInterface<ForeignCase> {};

TEST_P(ForeignSegment, IsRefusedWithAClearMessage) {
  const ForeignCase& c = GetParam();
  const int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, c.mode);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::fchmod(fd, c.mode), 0);
  // Size 0 stands for the size of a module segment: header, state and bus trace.
  ASSERT_EQ(::ftruncate(fd, c.size == 0 ? static_cast<off_t>(64 + sizeof(ModuleState) + sizeof(BusTrace)) : c.size), 0);
  ::close(fd);
  try {
    SharedModule::open(name_);
    FAIL() << "opened a foreign segment";
  } catch (const std::system_error& error) {
    const std::string what = error.what();
    EXPECT_NE(what.find(name_), std::string::npos) << what;
    EXPECT_NE(what.find(c.message), std::string::npos) << what;
  }
}

INSTANTIATE_TEST_SUITE_P(SharedModuleTest, ForeignSegment,
                         ::testing::Values(ForeignCase{"WrongSize", 0600, 100, "size 100 bytes"},
                                           ForeignCase{"OthersMayRead", 0644, 0, "readable or writable by others"},
                                           ForeignCase{"NoModuleInside", 0600, 0, "not a display module"},
                                           ForeignCase{"FirstLayoutWithoutTrace", 0600,
                                                       static_cast<off_t>(64 + sizeof(ModuleState)),
                                                       "made by another version"}),
                         [](const ::testing::TestParamInfo<ForeignCase>& i) { return std::string(i.param.name); });

TEST(SharedModuleNames, BadNamesAreRefusedBeforeAnythingIsCreated) {
  for (const std::string& name : {std::string(), std::string("/"), std::string("kelvari"), std::string("/a/b"),
                                  "/" + std::string(300, 'x')}) {
    EXPECT_THROW(SharedModule::open(name), std::system_error) << name;
    EXPECT_THROW(SharedModule::remove(name), std::system_error) << name;
  }
}

TEST(SharedModuleNames, DefaultNameIsPerUserAndRemovingAnAbsentNameIsFine) {
  EXPECT_EQ(SharedModule::defaultName(), "/kelvari-lcd-" + std::to_string(::geteuid()));
  EXPECT_NO_THROW(SharedModule::remove("/kelvari-test-never-created"));
}

// --- Tear-free reads ---------------------------------------------------------------------

constexpr int StreamBytes = 64;
// The last bytes of RAM: the copy reads them long after the registers at the state's start.
constexpr unsigned StreamStart = RamSize - StreamBytes;

// A writer fills the last 64 bytes of RAM with pass number k through auto write, pass after
// pass. Every state it passes through shows k up to the address pointer and k - 1 after it.
bool consistent(const ModuleState& s, std::string& why) {
  const auto at = [&](int i) { return s.ram[StreamStart + static_cast<unsigned>(i)]; };
  const std::uint8_t high = at(0);
  const std::uint8_t low = at(StreamBytes - 1);
  int split = 0;
  while (split < StreamBytes && at(split) == high) ++split;
  for (int i = split; i < StreamBytes; ++i) {
    if (at(i) != low) {
      why = "more than two values";
      return false;
    }
  }
  const unsigned ap = s.controller.addressPointer - StreamStart;
  if (split == StreamBytes) {
    if (ap != 0 && ap != StreamBytes) why = "uniform pass with pointer " + std::to_string(ap);
  } else if (static_cast<std::uint8_t>(low + 1) != high) {
    why = "values " + std::to_string(high) + " and " + std::to_string(low);
  } else if (s.controller.autoMode != AutoMode::Write || ap != static_cast<unsigned>(split)) {
    why = "split at " + std::to_string(split) + " but pointer " + std::to_string(ap);
  }
  return why.empty();
}

TEST_F(SharedModuleTest, SnapshotsAreNeverTornWhileAWriterStreams) {
  SharedModule shared = SharedModule::open(name_, PowerOnContents::Zero);
  {
    Module bus(shared.state());
    BenchProtocol bench(bus);
    ASSERT_TRUE(bench.data(static_cast<std::uint8_t>(StreamStart)));
    ASSERT_TRUE(bench.data(static_cast<std::uint8_t>(StreamStart >> 8)));
    ASSERT_TRUE(bench.command(cmd::SetAddressPointer));
  }
  std::atomic<bool> stop{false};
  std::atomic<unsigned> passes{0};
  std::thread writer([&] {
    Module bus(shared.state());
    BenchProtocol bench(bus);
    for (std::uint8_t pass = 1; !stop.load(std::memory_order_relaxed); ++pass) {
      bench.data(static_cast<std::uint8_t>(StreamStart));
      bench.data(static_cast<std::uint8_t>(StreamStart >> 8));
      bench.command(cmd::SetAddressPointer);
      bench.command(cmd::AutoWrite);
      for (int i = 0; i < StreamBytes; ++i) bench.autoData(pass);
      bench.waitFor(sta::AutoWriteOk);
      bench.commandCycle(cmd::AutoReset);
      passes.fetch_add(1, std::memory_order_relaxed);
    }
  });
  constexpr int MinSnapshots = 100000;
  constexpr unsigned MinPasses = 500;
  int snapshots = 0;
  int torn = 0;
  std::string firstProblem;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (passes.load() == 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  while ((snapshots < MinSnapshots || passes.load() < MinPasses) && std::chrono::steady_clock::now() < deadline) {
    const ModuleState copy = shared.snapshot();
    ++snapshots;
    std::string why;
    if (!consistent(copy, why)) {
      if (torn++ == 0) firstProblem = why;
    }
  }
  const unsigned passesSeen = passes.load();
  stop = true;
  writer.join();
  EXPECT_EQ(torn, 0) << "first: " << firstProblem;
  EXPECT_GE(snapshots, MinSnapshots);
  EXPECT_GE(passesSeen, MinPasses) << "the writer was streaming during the reads";
  EXPECT_EQ(shared.state().violations.total, 0U);
}

TEST_F(SharedModuleTest, TheInvariantOfTheTornReadTestCatchesAMixedCopy) {
  ModuleState earlier;
  powerOn(earlier, PowerOnContents::Zero, 0);
  earlier.controller.autoMode = AutoMode::Write;
  std::fill(earlier.ram.end() - StreamBytes, earlier.ram.end() - StreamBytes + 10, 5);
  std::fill(earlier.ram.end() - StreamBytes + 10, earlier.ram.end(), 4);
  earlier.controller.addressPointer = StreamStart + 10;
  std::string why;
  ASSERT_TRUE(consistent(earlier, why)) << why;
  ModuleState mixed = earlier;
  mixed.ram[StreamStart + 10] = 5;  // RAM from a later moment than the pointer
  EXPECT_FALSE(consistent(mixed, why));
}

TEST_F(SharedModuleTest, SnapshotGivesUpWhenAnUpdateNeverEnds) {
  SharedModule shared = SharedModule::open(name_, PowerOnContents::Zero);
  {
    StateUpdate stuck(shared.state());
    EXPECT_THROW(consistentCopy(shared.state(), std::chrono::milliseconds(20)), std::runtime_error);
    EXPECT_EQ(shared.state().readerWaiting, 0U) << "a reader that gives up withdraws its request";
  }
  EXPECT_NO_THROW(shared.snapshot());
}

TEST_F(SharedModuleTest, AWriterTakesOverFromOneThatDiedMidUpdate) {
  SharedModule shared = SharedModule::open(name_, PowerOnContents::Zero);
  shared.state().sequence |= 1U;  // as left by a process killed inside an update
  Module bus(shared.state());
  BenchProtocol bench(bus);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(bench.data(0x42));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(shared.state().controller.parameters[1], 0x42);
  EXPECT_EQ(shared.state().sequence % 2, 0U);
  EXPECT_NO_THROW(shared.snapshot());
}

TEST_F(SharedModuleTest, AWriterPausesOnlyBoundedlyForAVanishedReader) {
  SharedModule shared = SharedModule::open(name_, PowerOnContents::Zero);
  shared.state().readerWaiting = 1;  // as left by a reader killed while asking
  Module bus(shared.state());
  BenchProtocol bench(bus);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(bench.data(0x42));
  ASSERT_TRUE(bench.data(0x43));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(shared.state().readerWaiting, 0U);
  EXPECT_EQ(shared.state().controller.parameters[1], 0x43);
}

}  // namespace
}  // namespace t6963
