// The wire protocol against the real port library and its virtual display module: the
// accesses that reach DLPortIO.dll, recorded on their way through the port component, follow
// the protocol access for access, and the module takes every byte at its first status poll;
// a wait that ran out is one line of the module's bus log, after the bytes before it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/lcd_operations.h"
#include "t6963/bus_decoder.h"
#include "module_segment.h"
#include "port_trace.h"
#include "portio/tdlportio.h"
#include "t6963/shared_module.h"
#include "toolkit/toolkit.h"

namespace kelvari::test {
namespace {

// Passes every access on to the component and records it with the value read or written.
class RecordingPassThrough {
 public:
  explicit RecordingPassThrough(TDLPortIO& port) : port_(port) {}
  std::uint8_t GetPortByte(std::uint16_t port) {
    const std::uint8_t value = port_.GetPortByte(port);
    trace.push_back(readOf(port, value));
    return value;
  }
  void SetPortByte(std::uint16_t port, std::uint8_t value) {
    trace.push_back(writeOf(port, value));
    port_.SetPortByte(port, value);
  }
  std::vector<PortAccess> trace;

 private:
  TDLPortIO& port_;
};

class ModuleTrace : public testing::Test {
 protected:
  void SetUp() override {
    component_.SetDLLPath(ExtractFileDir(ParamStr(0)));
    component_.OpenDriver();
    ASSERT_TRUE(component_.ActiveHW());
  }
  void TearDown() override { component_.CloseDriver(); }

  // The bytes an operation sends, decoded from what it sent to a recording fake.
  template <typename Operation>
  static std::vector<WireByte> bytesSentTo(RecordingPort& fake, Operation operation) {
    LcdOperations<RecordingPort> lcd(fake);
    operation(lcd);
    return decode(fake.trace).bytes;
  }

  const ModuleSegment segment_{"trace"};
  TDLPortIO component_{nullptr};
};

void expectSameBytesEachAtTheFirstPoll(const std::vector<WireByte>& actual, const std::vector<WireByte>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].command, expected[i].command) << "byte " << i;
    EXPECT_EQ(actual[i].value, expected[i].value) << "byte " << i;
    EXPECT_EQ(actual[i].polls, 1) << "byte " << i;
  }
}

TEST_F(ModuleTrace, OneDataByteAndOneCommandByteFollowTheProtocol) {
  RecordingPassThrough port(component_);
  LcdOperations<RecordingPassThrough> lcd(port);
  lcd.LcdWriteData(0xA5);
  lcd.LcdWriteCommand(0xC4);
  ASSERT_EQ(port.trace.size(), 26u);
  const DecodedTrace decoded = decode(port.trace);
  EXPECT_EQ(decoded.error, "");
  expectSameBytesEachAtTheFirstPoll(decoded.bytes, {{false, 0xA5, 1}, {true, 0xC4, 1}});
  EXPECT_EQ(t6963::SharedModule::open(segment_.name()).snapshot().ram[0x0000], 0xA5);
}

TEST_F(ModuleTrace, InitialisationStreamReachesTheModuleAsSentToTheFake) {
  RecordingPassThrough port(component_);
  LcdOperations<RecordingPassThrough>(port).LcdInit();
  const DecodedTrace decoded = decode(port.trace);
  EXPECT_EQ(decoded.error, "");
  EXPECT_FALSE(decoded.endsInAbandonedWait);

  RecordingPort fake;
  const auto expected = bytesSentTo(fake, [](auto& lcd) { lcd.LcdInit(); });
  expectSameBytesEachAtTheFirstPoll(decoded.bytes, expected);
  EXPECT_EQ(port.trace.size(), fake.trace.size());
  EXPECT_EQ(t6963::SharedModule::open(segment_.name()).snapshot().violations.total, 0u);
}

TEST_F(ModuleTrace, AWaitThatRanOutIsOneLogLineWithItsPollsTimeAndStatus) {
  RecordingPassThrough port(component_);
  constexpr auto timeout = std::chrono::milliseconds(20);
  LcdOperations<RecordingPassThrough> lcd(port, timeout);
  lcd.LcdWriteData(0xA5);
  auto module = t6963::SharedModule::open(segment_.name());
  t6963::setDisconnected(module.state(), true);
  port.trace.clear();
  EXPECT_THROW(lcd.LcdWriteCommand(0xC4), LcdNotReadyError);

  const int polls = decode(port.trace).abandonedWaitPolls;
  // Paced: never more than one batch ahead of a real port's rate.
  constexpr auto batch = LcdOperations<RecordingPassThrough>::PollsPerClockCheck;
  EXPECT_LE(polls, timeout / LcdBus<RecordingPassThrough>::PollTime + batch);
  const auto entries = t6963::decodeBusLog(t6963::copyTrace(module.trace(), module.snapshot().build));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, "data 0xA5");
  // From the first status read to the release of the lines, a microsecond per access.
  char duration[16];
  std::snprintf(duration, sizeof duration, "%.1f ms", (4.0 * polls - 1) / 1000);
  EXPECT_THAT(t6963::formatBusLogEntry(entries[1]),
              testing::EndsWith("not ready 0x00  status 0x00: busy at every poll over " + std::string(duration) +
                              "; the controller never became ready [" + std::to_string(polls) + " polls]"));
}

}  // namespace
}  // namespace kelvari::test
