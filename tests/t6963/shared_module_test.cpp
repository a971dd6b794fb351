// The module in shared memory: creation with owner-only permissions and power-on,
// attaching from another opener or process, outliving its openers, power-cycling, refusing
// foreign segments and bad names, making half-made segments anew, one bus holder at a time,
// and reads that are never torn, with every wait bounded; a full /dev/shm, a forked child's
// end, and a writer stopped or dead in the middle of an update.
#include <fcntl.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "bench_protocol.h"
#include "t6963/module.h"
#include "t6963/seqlock.h"
#include "t6963/shared_module.h"
#include "t6963/t6963c.h"
#include "writer_in_update.h"

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

TEST_F(SharedModuleTest, AReplacedStateIsTheModuleFromThenOnWithTheSettingsKept) {
  SharedModule module = SharedModule::open(name_, PowerOnContents::Zero);
  setBusyAccesses(module.state(), 7);
  ModuleState replayed{};
  replayed.build.width = 128;
  replayed.build.height = 128;
  powerOn(replayed, PowerOnContents::Zero, 0, 0);
  replayed.ram[0x1234] = 0x5A;
  replayed.controller.displayMode = 0x98;
  replayed.controller.busyUntilNs = 1'000'000;  // the capture's time: means nothing here
  recordViolation(replayed, {0, ViolationKind::WriteWhileBusy, 0, 0, 0x21});
  EXPECT_THROW(module.replaceState(replayed), std::logic_error) << "only with the bus claim";

  module.claimBus();
  module.replaceState(replayed);
  const ModuleState state = module.snapshot();
  EXPECT_EQ(state.build, replayed.build);
  EXPECT_EQ(state.ram[0x1234], 0x5A);
  EXPECT_EQ(state.controller.displayMode, 0x98);
  EXPECT_EQ(state.violations.counts[static_cast<std::size_t>(ViolationKind::WriteWhileBusy)], 1U);
  EXPECT_EQ(state.settings.busyAccesses, 7U);
  EXPECT_EQ(state.powerOnGeneration, 2U);
  EXPECT_EQ(module.trace().recorded, 0U);
  Module bus(module.state());
  BenchProtocol bench(bus);
  EXPECT_EQ(bench.waitReady(), 1) << "a replaced module is not left busy";
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
                                           ForeignCase{"FirstLayoutWithoutTrace", 0600,
                                                       static_cast<off_t>(64 + sizeof(ModuleState)),
                                                       "made by another version"}),
                         [](const ::testing::TestParamInfo<ForeignCase>& i) { return std::string(i.param.name); });

// As a crash leaves a segment: named but empty, or sized but never marked complete.
TEST_F(SharedModuleTest, AHalfMadeSegmentIsMadeAnew) {
  for (const off_t size : {off_t{0}, static_cast<off_t>(64 + sizeof(ModuleState) + sizeof(BusTrace))}) {
    const int fd = ::shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    {
      SharedModule remade = SharedModule::open(name_, PowerOnContents::Zero);
      EXPECT_EQ(remade.snapshot().powerOnGeneration, 1U) << size;
      remade.state().ram[0] = 0x5A;
    }
    EXPECT_EQ(SharedModule::open(name_).state().ram[0], 0x5A) << "made once, then attached: " << size;
    SharedModule::remove(name_);
  }
}

// The parent holds the bus; a child process tries to claim it and reports what it saw.
bool childIsRefused(const std::string& name, const std::string& holder) {
  return inChildProcess([&] {
    try {
      SharedModule::open(name).claimBus();
    } catch (const std::system_error& error) {
      return error.code().value() == EBUSY && std::string(error.what()).find(holder) != std::string::npos;
    }
    return false;
  });
}

TEST_F(SharedModuleTest, OneProcessDrivesTheBusAtATime) {
  const std::string parent = "process " + std::to_string(::getpid());
  {
    SharedModule holder = SharedModule::open(name_);
    holder.claimBus();
    EXPECT_TRUE(childIsRefused(name_, parent));
    SharedModule again = SharedModule::open(name_);
    EXPECT_THROW(again.claimBus(), std::system_error) << "a second claim in the same process";
    SharedModule moved = std::move(holder);
    EXPECT_TRUE(childIsRefused(name_, parent)) << "the claim moves with the object";
  }
  EXPECT_TRUE(inChildProcess([&] {
    SharedModule::open(name_).claimBus();
    return true;
  })) << "released with its object";
}

TEST_F(SharedModuleTest, AStoppedHolderKeepsTheBusAndADeadOneLosesIt) {
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(ready[0]);
    try {
      SharedModule holder = SharedModule::open(name_);
      holder.claimBus();
      const char byte = 1;
      if (::write(ready[1], &byte, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    } catch (...) {
      ::_exit(2);
    }
  }
  ::close(ready[1]);
  char byte = 0;
  const bool childHolds = ::read(ready[0], &byte, 1) == 1;
  ::close(ready[0]);
  ASSERT_TRUE(childHolds);

  SharedModule second = SharedModule::open(name_);
  ASSERT_EQ(::kill(child, SIGSTOP), 0);
  try {
    second.claimBus();
    ADD_FAILURE() << "took the bus from a stopped holder";
  } catch (const std::system_error& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("process " + std::to_string(child)));
  }
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_NO_THROW(second.claimBus()) << "a holder that died is recovered";
}

TEST_F(SharedModuleTest, AForkedChildThatEndsLeavesItsParentsBusClaim) {
  SharedModule holder = SharedModule::open(name_);
  holder.claimBus();
  EXPECT_TRUE(inChildProcess([&] {
    const SharedModule inherited = std::move(holder);  // released as the child ends
    return true;
  }));
  EXPECT_TRUE(childIsRefused(name_, "process " + std::to_string(::getpid())));
}

// A full /dev/shm: a child process mounts 1 MiB of tmpfs over it in a mount namespace of its own.
TEST_F(SharedModuleTest, AFullDevShmRefusesTheSegmentWhenItIsMade) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a private mount namespace over /dev/shm";
  EXPECT_TRUE(inChildProcess([&] {
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=1m") != 0) {
      return false;
    }
    try {
      SharedModule::open(name_);
    } catch (const std::system_error& error) {
      return std::string(error.what()).find("not enough room in /dev/shm for the virtual display: 5 MiB needed") !=
                 std::string::npos &&
             ::access(("/dev/shm" + name_).c_str(), F_OK) != 0;
    }
    return false;
  }));
}

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
// Near the end of a 64 KiB module's RAM: the copy reads them long after the registers at the
// state's start.
constexpr unsigned StreamStart = MaxRamBytes - 2 * StreamBytes;
constexpr ModuleBuild FullRam = [] {
  ModuleBuild build;
  build.ramBytes = MaxRamBytes;
  return build;
}();

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

// A fixed number of passes, whatever the machine's speed: in the middle of each pass the
// writer waits (boundedly) until the reader has begun and finished a copy, so every pass is
// read while half written; the reader copies back to back all the while.
TEST_F(SharedModuleTest, SnapshotsAreNeverTornWhileAWriterStreams) {
  SharedModule shared = SharedModule::open(name_, PowerOnContents::Zero, FullRam);
  {
    Module bus(shared.state());
    BenchProtocol bench(bus);
    ASSERT_TRUE(bench.data(static_cast<std::uint8_t>(StreamStart)));
    ASSERT_TRUE(bench.data(static_cast<std::uint8_t>(StreamStart >> 8)));
    ASSERT_TRUE(bench.command(cmd::SetAddressPointer));
  }
  constexpr int Passes = 300;
  constexpr auto ReaderBound = std::chrono::seconds(10);
  std::atomic<bool> done{false};
  std::atomic<long> copies{0};
  std::thread writer([&] {
    Module bus(shared.state());
    BenchProtocol bench(bus);
    for (int pass = 1; pass <= Passes; ++pass) {
      bench.data(static_cast<std::uint8_t>(StreamStart));
      bench.data(static_cast<std::uint8_t>(StreamStart >> 8));
      bench.command(cmd::SetAddressPointer);
      bench.command(cmd::AutoWrite);
      for (int i = 0; i < StreamBytes; ++i) {
        if (i == StreamBytes / 2) {
          const long seen = copies.load();
          const auto deadline = std::chrono::steady_clock::now() + ReaderBound;
          while (copies.load() < seen + 2 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        }
        bench.autoData(static_cast<std::uint8_t>(pass));
      }
      bench.waitFor(sta::AutoWriteOk);
      bench.commandCycle(cmd::AutoReset);
    }
    done = true;
  });
  int torn = 0;
  int halfWritten = 0;
  std::string firstProblem;
  while (!done.load()) {
    const ModuleState copy = shared.snapshot();
    copies.fetch_add(1);
    std::string why;
    if (!consistent(copy, why) && torn++ == 0) firstProblem = why;
    if (copy.controller.addressPointer == StreamStart + StreamBytes / 2) ++halfWritten;
  }
  writer.join();
  EXPECT_EQ(torn, 0) << "first: " << firstProblem;
  EXPECT_GE(halfWritten, Passes) << "each pass was read while half written";
  EXPECT_EQ(shared.state().ram[StreamStart + StreamBytes - 1], static_cast<std::uint8_t>(Passes));
  EXPECT_EQ(shared.state().violations.total, 0U);
}

TEST_F(SharedModuleTest, TheInvariantOfTheTornReadTestCatchesAMixedCopy) {
  ModuleState earlier;
  powerOn(earlier, PowerOnContents::Zero, 0, 0);
  earlier.controller.autoMode = AutoMode::Write;
  const auto stream = earlier.ram.begin() + StreamStart;
  std::fill(stream, stream + 10, 5);
  std::fill(stream + 10, stream + StreamBytes, 4);
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
  testing::WriterInUpdate holder(name_);
  ASSERT_TRUE(holder.stopped());
  holder.kill();  // as a process killed inside an update
  Module bus(shared.state());
  BenchProtocol bench(bus);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(bench.data(0x42));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(shared.state().controller.parameters[1], 0x42);
  EXPECT_EQ(shared.state().update & 0xFFFFFFFFU, 0U) << "the dead holder's update is still open";
  EXPECT_NO_THROW(shared.snapshot());
}

// A writer stopped in the middle of an update keeps it: the bus side goes without its
// update, readers and a power cycle give up naming the holder, and the holder, continued,
// ends its update with the sequence one on.
TEST_F(SharedModuleTest, AWriterStoppedMidUpdateIsNotOvertaken) {
  SharedModule shared = SharedModule::open(name_, PowerOnContents::Zero);
  testing::WriterInUpdate holder(name_);
  ASSERT_TRUE(holder.stopped());
  const std::uint64_t sequence = shared.state().update >> 32;
  Module bus(shared.state());
  BenchProtocol bench(bus);
  ASSERT_TRUE(bench.data(0x42));
  EXPECT_EQ(shared.state().controller.parameters[1], 0x00) << "the stopped holder was overtaken";
  EXPECT_THAT([&] { consistentCopy(shared.state(), std::chrono::milliseconds(20)); },
              ::testing::ThrowsMessage<std::runtime_error>(
                  "process " + std::to_string(holder.pid()) +
                  " (t6963_tests) holds the display module in the middle of an update and is stopped"));
  EXPECT_THROW(shared.powerCycle(PowerOnContents::Zero), std::runtime_error);
  ASSERT_TRUE(holder.resume());
  EXPECT_EQ(shared.state().update, (sequence + 1) << 32) << "ended once, by its holder";
  ASSERT_TRUE(bench.data(0x43));
  EXPECT_EQ(shared.state().controller.parameters[1], 0x43);
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
