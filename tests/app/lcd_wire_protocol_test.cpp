// The display's wire protocol against a recording port: the exact accesses of one byte,
// status polling, the ECR read-modify-write, the initialisation stream and the bounded wait.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "app/lcd_operations.h"
#include "port_trace.h"
#include "t6963/t6963c.h"

namespace kelvari::test {
namespace {

using Lcd = LcdOperations<RecordingPort>;

// The accesses of one byte as the protocol describes them, with the ECR reading 0xFF and
// the controller ready at the first poll.
std::vector<PortAccess> oneByteTrace(std::uint8_t value, std::vector<std::uint8_t> pulse) {
  std::vector<PortAccess> trace = {readOf(0x77A, 0xFF),  writeOf(0x77A, 0x3F), writeOf(0x37A, 0x26),
                                   writeOf(0x37A, 0x2E), readOf(0x378, 0x03),  writeOf(0x37A, 0x26),
                                   writeOf(0x37A, 0x00), writeOf(0x378, value)};
  for (const std::uint8_t control : pulse) trace.push_back(writeOf(0x37A, control));
  return trace;
}

TEST(LcdWireProtocol, DataByteIsThirteenAccessesInTheFixedOrder) {
  RecordingPort port;
  Lcd(port).LcdWriteData(0xA5);
  EXPECT_EQ(port.trace, oneByteTrace(0xA5, {0x00, 0x02, 0x03, 0x02, 0x00}));
}

TEST(LcdWireProtocol, CommandBytePulsesWithCommandSelectHigh) {
  RecordingPort port;
  Lcd(port).LcdWriteCommand(0x9F);
  EXPECT_EQ(port.trace, oneByteTrace(0x9F, {0x04, 0x06, 0x07, 0x06, 0x00}));
}

struct PollCase {
  const char* name;
  std::vector<std::uint8_t> statuses;
  int expectedPolls;
};

class LcdStatusPolling : public testing::TestWithParam<PollCase> {};

TEST_P(LcdStatusPolling, WaitsUntilBothReadyBitsAreSet) {
  RecordingPort port;
  port.statusScript.assign(GetParam().statuses.begin(), GetParam().statuses.end());
  port.steadyStatus = 0x00;  // past the script the display would never answer
  Lcd(port).LcdWriteData(0x11);

  const DecodedTrace decoded = decode(port.trace);
  ASSERT_EQ(decoded.error, "");
  ASSERT_EQ(decoded.bytes.size(), 1u);
  EXPECT_EQ(decoded.bytes[0].polls, GetParam().expectedPolls);
  EXPECT_EQ(decoded.bytes[0].value, 0x11);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, LcdStatusPolling,
    testing::Values(PollCase{"ReadyAtOnce", {0x03}, 1}, PollCase{"HighBitsIgnored", {0xF3}, 1},
                    PollCase{"CommandBitOnlyKeepsPolling", {0x01, 0x03}, 2},
                    PollCase{"DataBitOnlyKeepsPolling", {0x02, 0x07}, 2},
                    PollCase{"BusyThenHighBitsOnlyThenReady", {0x00, 0xFC, 0x01, 0x02, 0x83}, 5},
                    PollCase{"AutoModeBitsDoNotCount", {0x0C, 0x0D, 0x0E, 0x0F}, 4}),
    ByCaseName());

struct EcrCase {
  std::uint8_t read;
  std::uint8_t written;
};

class LcdEcrMode : public testing::TestWithParam<EcrCase> {};

TEST_P(LcdEcrMode, ModeFieldBecomesByteModeAndLowBitsStay) {
  RecordingPort port;
  port.ecrValue = GetParam().read;
  Lcd(port).LcdWriteCommand(0x80);
  ASSERT_GE(port.trace.size(), 2u);
  EXPECT_EQ(port.trace[0], readOf(t6963c::EcrPort, GetParam().read));
  EXPECT_EQ(port.trace[1], writeOf(t6963c::EcrPort, GetParam().written));
}

INSTANTIATE_TEST_SUITE_P(EcrValues, LcdEcrMode,
                         testing::Values(EcrCase{0xFF, 0x3F}, EcrCase{0x00, 0x20}, EcrCase{0x1F, 0x3F},
                                         EcrCase{0xE0, 0x20}, EcrCase{0x95, 0x35}, EcrCase{0x7A, 0x3A}));

TEST(LcdWireProtocol, EveryByteSwitchesTheEcrAgain) {
  RecordingPort port;
  Lcd lcd(port);
  lcd.LcdWriteData(1);
  lcd.LcdWriteCommand(2);
  int ecrWrites = 0;
  for (const PortAccess& access : port.trace) {
    if (access.kind == PortAccess::Kind::Write && access.port == t6963c::EcrPort) ++ecrWrites;
  }
  EXPECT_EQ(ecrWrites, 2);
}

std::vector<PortAccess> loadTrace(const std::string& path) {
  std::ifstream file(path);
  std::vector<PortAccess> trace;
  std::string kind;
  unsigned port = 0;
  unsigned value = 0;
  while (file >> kind >> std::hex >> port >> value) {
    const auto access = kind == "R" ? readOf(static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value))
                                    : writeOf(static_cast<std::uint16_t>(port), static_cast<std::uint8_t>(value));
    trace.push_back(access);
  }
  return trace;
}

TEST(LcdInit, SendsTheRecordedPortTrace) {
  const auto expected = loadTrace(KELVARI_TEST_DATA "/app/lcd_init.trace");
  ASSERT_EQ(expected.size(), 18u * 13u);
  RecordingPort port;
  Lcd(port).LcdInit();
  EXPECT_EQ(port.trace, expected);
}

TEST(LcdInit, SetsHomesAreasModeCursorAndDisplayAndNothingElse) {
  RecordingPort port;
  Lcd(port).LcdInit();
  const DecodedTrace decoded = decode(port.trace);
  ASSERT_EQ(decoded.error, "");
  EXPECT_EQ(transcript(decoded.bytes),
            "D00 D00 C40 D28 D00 C41 D00 D02 C42 D28 D00 C43 C80 CA7 D00 D00 C21 C9F");
}

// A clock that moves one millisecond each time it is read.
struct SteppingClock {
  using rep = std::int64_t;
  using period = std::milli;
  using duration = std::chrono::duration<rep, period>;
  using time_point = std::chrono::time_point<SteppingClock>;
  static constexpr bool is_steady = true;
  static inline rep reads = 0;
  static time_point now() { return time_point(duration(++reads)); }
};

TEST(LcdReadyTimeout, NeverReadyGivesOneErrorAfterABoundedWaitAndReleasesTheLines) {
  SteppingClock::reads = 0;
  RecordingPort port;
  port.steadyStatus = 0x00;
  LcdOperations<RecordingPort, SteppingClock> lcd(port, std::chrono::milliseconds(250));

  EXPECT_THROW(lcd.LcdClearGraphics(), LcdNotReadyError);

  const DecodedTrace decoded = decode(port.trace);
  ASSERT_EQ(decoded.error, "");
  EXPECT_TRUE(decoded.bytes.empty());
  EXPECT_TRUE(decoded.endsInAbandonedWait);
  // 250 clock steps pass before the deadline; the clock is read once per batch of polls.
  constexpr int batch = LcdOperations<RecordingPort, SteppingClock>::PollsPerClockCheck;
  EXPECT_GE(decoded.abandonedWaitPolls, 250 * batch);
  EXPECT_LE(decoded.abandonedWaitPolls, 251 * batch);
  EXPECT_LE(SteppingClock::reads, decoded.abandonedWaitPolls / batch + 2);
}

TEST(LcdReadyTimeout, RealClockBoundEndsTheWaitWithAClearMessage) {
  RecordingPort port;
  port.steadyStatus = 0x01;
  Lcd lcd(port, std::chrono::milliseconds(5));
  try {
    lcd.LcdWriteCommand(0x80);
    FAIL() << "the wait did not end";
  } catch (const LcdNotReadyError& error) {
    EXPECT_NE(std::string(error.what()).find("did not report ready within 5 ms"), std::string::npos);
  }
  EXPECT_TRUE(decode(port.trace).endsInAbandonedWait);
}

struct StopCase {
  const char* name;
  std::size_t answeredBytes;
};

class LcdStopsAnswering : public testing::TestWithParam<StopCase> {};

TEST_P(LcdStopsAnswering, LongOperationStopsAtTheFirstUnansweredByteAndLaterWorksAgain) {
  RecordingPort port;
  port.answeredBytes = GetParam().answeredBytes;
  Lcd lcd(port, std::chrono::milliseconds(2));

  EXPECT_THROW(lcd.LcdClearGraphics(), LcdNotReadyError);
  DecodedTrace decoded = decode(port.trace);
  ASSERT_EQ(decoded.error, "");
  EXPECT_EQ(decoded.bytes.size(), GetParam().answeredBytes);
  EXPECT_TRUE(decoded.endsInAbandonedWait);

  port.trace.clear();
  port.answeredBytes = std::numeric_limits<std::size_t>::max();
  lcd.LcdWriteData(0x42);
  decoded = decode(port.trace);
  EXPECT_EQ(transcript(decoded.bytes), "D42");
}

INSTANTIATE_TEST_SUITE_P(Points, LcdStopsAnswering,
                         testing::Values(StopCase{"AtTheFirstByte", 0}, StopCase{"InsideThePointerSet", 2},
                                         StopCase{"MidwayThroughTheClear", 2001}),
                         ByCaseName());

}  // namespace
}  // namespace kelvari::test
