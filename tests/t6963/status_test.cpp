// The status word over time: busy time after commands (and the polls it costs the bench),
// busy time and the blink condition STA7 by the access count and by the clock, and the bits
// that never change.
#include <gtest/gtest.h>

#include "bench_protocol.h"
#include "t6963/module.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

using namespace t6963c;
using testing::BenchProtocol;

class StatusTest : public ::testing::Test {
 protected:
  StatusTest() { powerOn(state_, PowerOnContents::Zero, 0, 0); }

  ModuleState state_;
  Module module_{state_, nullptr, testing::stoppedClock};
  BenchProtocol bench_{module_};
};

struct BusyCase {
  std::uint32_t busyAccesses;
  int pollsAfterCommand;
};
void PrintTo(const BusyCase& c, std::ostream* out) { *out << "busy " << c.busyAccesses; }

class BusyTime : public StatusTest, public ::testing::WithParamInterface<BusyCase> {};

// After the command strobe the bench spends three accesses (control 0x00, ECR read and
// write) and then reads the status on every fourth access.
TEST_P(BusyTime, CostsTheBenchPollsAfterACommandOnly) {
  setBusyAccesses(state_, GetParam().busyAccesses);
  ASSERT_TRUE(bench_.command(cmd::ModeSet));
  EXPECT_EQ(bench_.waitReady(), GetParam().pollsAfterCommand);
  ASSERT_TRUE(bench_.data(0x12));
  EXPECT_EQ(bench_.waitReady(), 1) << "data bytes leave the controller ready";
  EXPECT_EQ(state_.violations.total, 0U);
}

INSTANTIATE_TEST_SUITE_P(StatusTest, BusyTime,
                         ::testing::Values(BusyCase{0, 1}, BusyCase{DefaultBusyAccesses, 1}, BusyCase{5, 1},
                                           BusyCase{6, 2}, BusyCase{9, 2}, BusyCase{10, 3}, BusyCase{100, 25}));

TEST_F(StatusTest, WhileBusyOnlyTheReadyBitsAreClear) {
  setBusyAccesses(state_, 300);
  ASSERT_TRUE(bench_.command(cmd::AutoWrite));
  EXPECT_EQ(bench_.statusNow(), sta::ControllerOk | sta::BlinkNormal);
  setBusyAccesses(state_, 0);
  EXPECT_FALSE(bench_.waitFor(sta::AutoWriteOk)) << "a new setting does not shorten a busy time under way";
  EXPECT_TRUE(bench_.waitFor(sta::AutoWriteOk)) << "300 accesses later";
}

// A replayed capture counts no port accesses: it times every command on the capture's clock.
TEST(ClockTimedBusy, AFrontEndWithoutAccessesIsHeldByTheClockAlone) {
  struct SetClock final : ControllerClock {
    Nanoseconds at = 0;
    Nanoseconds now() noexcept override { return at; }
  } clock;
  for (const std::uint32_t busy : {0U, 4U}) {
    ModuleState state;
    powerOn(state, PowerOnContents::Zero, 0, 0);
    setBusyAccesses(state, busy);
    EXPECT_FALSE(isBusy(state, clock)) << "ready at power-on, busy " << busy;
    clock.at = 1000;
    ASSERT_EQ(writeCycle(state, true, cmd::ModeSet, true, clock), WriteResult::Taken);
    clock.at = 1000 + Nanoseconds{busy} * AccessNanoseconds - 1;
    EXPECT_EQ(isBusy(state, clock), busy != 0) << "busy " << busy;
    EXPECT_EQ(writeCycle(state, false, 0x12, true, clock), busy != 0 ? WriteResult::Busy : WriteResult::Taken);
    endBusy(state);
    EXPECT_FALSE(isBusy(state, clock)) << "the real controller was seen ready, busy " << busy;
    clock.at += 1;
    EXPECT_FALSE(isBusy(state, clock));
    EXPECT_EQ(state.bus.accessCount, 0U);
  }
}

TEST_F(StatusTest, DefaultBusyTimeLetsTheBenchSendAtFullSpeed) {
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(bench_.waitReady(), 1);
    bench_.dataCycle(static_cast<std::uint8_t>(i));
    ASSERT_EQ(bench_.waitReady(), 1);
    bench_.commandCycle(cmd::WriteIncrement);
  }
  EXPECT_EQ(state_.controller.addressPointer, 50);
  EXPECT_EQ(state_.violations.total, 0U);
}

class BlinkCondition : public StatusTest, public ::testing::WithParamInterface<std::uint32_t> {};

// A poll reads every fourth access, so half periods of 1, 2 or 4 would alias.
TEST_P(BlinkCondition, Sta7FollowsTheAccessCount) {
  const std::uint32_t half = GetParam();
  setBlinkHalfPeriodAccesses(state_, half);
  module_.write(EcrPort, ecr::ModeByte);
  int normal = 0;
  int off = 0;
  for (int poll = 0; poll < 200; ++poll) {
    const std::uint8_t status = bench_.pollStatus();
    const std::uint64_t access = state_.bus.accessCount - 1;  // the read was the access before the last
    const bool expectNormal = (access / half) % 2 == 0;
    ASSERT_EQ((status & sta::BlinkNormal) != 0, expectNormal) << "at access " << access;
    ASSERT_EQ(blinkPhaseOn(state_, 0), ((state_.bus.accessCount / half) % 2) == 0);
    (expectNormal ? normal : off) += 1;
    EXPECT_EQ(status & ~sta::BlinkNormal, sta::Ready | sta::ControllerOk) << "the other bits never blink";
  }
  EXPECT_GT(normal, 0);
  EXPECT_GT(off, 0);
}

INSTANTIATE_TEST_SUITE_P(StatusTest, BlinkCondition, ::testing::Values(3U, 7U, 64U, 100U));

TEST_F(StatusTest, ZeroHalfPeriodNeverBlinks) {
  setBlinkHalfPeriodAccesses(state_, 0);
  module_.write(EcrPort, ecr::ModeByte);
  for (int poll = 0; poll < 100; ++poll) ASSERT_NE(bench_.pollStatus() & sta::BlinkNormal, 0);
}

TEST_F(StatusTest, DefaultBlinkPeriodIsAboutASecondOfRealPortAccesses) {
  EXPECT_TRUE(blinkPhaseOn(state_, 0));
  state_.bus.accessCount = DefaultBlinkHalfPeriodAccesses - 1;
  EXPECT_TRUE(blinkPhaseOn(state_, 0));
  state_.bus.accessCount = DefaultBlinkHalfPeriodAccesses;
  EXPECT_FALSE(blinkPhaseOn(state_, 0));
  state_.bus.accessCount = 2 * std::uint64_t{DefaultBlinkHalfPeriodAccesses};
  EXPECT_TRUE(blinkPhaseOn(state_, 0));
}

// --- By the clock ------------------------------------------------------------------------

// A clock the test moves by hand.
Nanoseconds handClock = 0;
Nanoseconds readHandClock() noexcept { return handClock; }

class ByTheClock : public ::testing::Test {
 protected:
  ByTheClock() {
    handClock = 0;
    powerOn(state_, PowerOnContents::Zero, 0, 0);
    setBusyAccesses(state_, 1000);
  }

  ModuleState state_;
  Module module_{state_, nullptr, readHandClock};
  BenchProtocol bench_{module_};
};

struct ClockCase {
  const char* name;
  bool pollsBeforeCommand;
  Nanoseconds waitNs;  // on the clock after the command, before the next byte
  bool taken;
};
void PrintTo(const ClockCase& c, std::ostream* out) { *out << c.name; }

class BusyByTheClock : public ByTheClock, public ::testing::WithParamInterface<ClockCase> {};

// 1000 accesses or 1000 µs: the byte comes a few accesses after the command.
TEST_P(BusyByTheClock, EndsForADriverThatWaitsInsteadOfPolling) {
  const ClockCase& row = GetParam();
  if (row.pollsBeforeCommand) {
    ASSERT_TRUE(bench_.command(cmd::ModeSet));
  } else {
    bench_.commandCycle(cmd::ModeSet);
  }
  handClock += row.waitNs;
  bench_.dataCycle(0x12);
  EXPECT_EQ(state_.controller.parameterCount == 1, row.taken);
  EXPECT_EQ(state_.violations.counts[static_cast<std::size_t>(ViolationKind::WriteWhileBusy)], row.taken ? 0U : 1U);
}

INSTANTIATE_TEST_SUITE_P(StatusTest, BusyByTheClock,
                         ::testing::Values(ClockCase{"WaitedTheBusyTime", false, 1'000'000, true},
                                           ClockCase{"WaitedANanosecondLess", false, 999'999, false},
                                           // It sees ready by polling as soon as the count allows.
                                           ClockCase{"PolledDriverIsHeldByTheCount", true, 2'000'000, false}),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(ByTheClock, Sta7KeepsRealTimeForADriverSlowerThanAPortAccessAMicrosecond) {
  setBlinkHalfPeriodAccesses(state_, 1000);  // a millisecond, or 250 polls
  module_.write(EcrPort, ecr::ModeByte);
  int firstOff = -1;
  for (int poll = 0; poll < 20 && firstOff < 0; ++poll) {
    handClock += 100'000;
    if ((bench_.pollStatus() & sta::BlinkNormal) == 0) firstOff = poll;
  }
  EXPECT_EQ(firstOff, 9) << "the tenth poll comes a millisecond after power-on";
}

}  // namespace
}  // namespace t6963
