// TDLPortIO port access: single bytes, PortControl and PortCommand batches as they reach
// the library's entry points, and harmless port calls while the component is inactive.
#include "port_recorder.h"
#include "portio_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

namespace portio_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr PortRecorderEvent Read(std::uint8_t width, std::uint32_t port) {
  return {'r', width, port, PortRecorderUntouched(port)};
}
constexpr PortRecorderEvent Write(std::uint8_t width, std::uint32_t port, std::uint32_t value) {
  return {'w', width, port, value};
}

class PortAccessTest : public PortioTest {
 protected:
  void SetUp() override {
    PortioTest::SetUp();
    component_ = NewComponent(false);
    component_->OpenDriver();
    ASSERT_TRUE(component_->ActiveHW());
    recorder_.reset();
  }
  void TearDown() override {
    component_.reset();
    PortioTest::TearDown();
  }

  PortRecorder recorder_{LibraryFile()};
  std::unique_ptr<TDLPortIO> component_;
};

TEST_F(PortAccessTest, SingleBytesGoToTheByteEntryPointsWithThePortWidenedUnsigned) {
  component_->SetPortByte(0xFFFF, 0xAB);
  EXPECT_EQ(component_->GetPortByte(0xFFFF), 0xAB);
  EXPECT_EQ(component_->GetPortByte(0x8379), static_cast<std::uint8_t>(PortRecorderUntouched(0x8379)));
  EXPECT_THAT(recorder_.events(),
              ElementsAre(Write(1, 0xFFFF, 0xAB), PortRecorderEvent{'r', 1, 0xFFFF, 0xAB}, Read(1, 0x8379)));
}

TEST_F(PortAccessTest, PortControlWorksInArrayOrderAndStoresEachRead) {
  std::array<TPortRec, 5> batch{{
      {0x378, 0x55, true},
      {0x378, 0x00, false},  // reads what the first record wrote
      {0x37A, 0x04, true},
      {0x379, 0x00, false},
      {0x37A, 0x99, false},
  }};
  component_->PortControl(batch.data(), static_cast<std::uint16_t>(batch.size()));
  EXPECT_THAT(recorder_.events(),
              ElementsAre(Write(1, 0x378, 0x55), PortRecorderEvent{'r', 1, 0x378, 0x55}, Write(1, 0x37A, 0x04),
                          Read(1, 0x379), PortRecorderEvent{'r', 1, 0x37A, 0x04}));
  EXPECT_EQ(batch[0].Value, 0x55);
  EXPECT_EQ(batch[1].Value, 0x55);
  EXPECT_EQ(batch[3].Value, static_cast<std::uint8_t>(PortRecorderUntouched(0x379)));
  EXPECT_EQ(batch[4].Value, 0x04);
}

TEST_F(PortAccessTest, BatchesHandleExactlyTheCountGiven) {
  std::array<TPortRec, 2> records{{{0x378, 0x11, false}, {0x379, 0x22, true}}};
  std::array<TPortCommand, 2> commands{{{0x378, 0x11, paReadByte}, {0x379, 0x22, paWriteByte}}};
  component_->PortControl(records.data(), 0);
  component_->PortCommand(commands.data(), 0);
  EXPECT_THAT(recorder_.events(), IsEmpty());
  EXPECT_EQ(records[0].Value, 0x11);
  EXPECT_EQ(commands[0].Value, 0x11U);

  component_->PortControl(records.data(), 1);
  component_->PortCommand(commands.data(), 1);
  EXPECT_THAT(recorder_.events(), ElementsAre(Read(1, 0x378), Read(1, 0x378)));
}

struct CommandRow {
  const char* name;
  std::int8_t action;
  std::vector<PortRecorderEvent> events;
  std::uint32_t valueAfter;
};

void PrintTo(const CommandRow& row, std::ostream* os) { *os << row.name; }

class PortCommandTest : public PortAccessTest, public ::testing::WithParamInterface<CommandRow> {};

constexpr std::uint16_t CommandPort = 0x1234;
constexpr std::uint32_t Before = 0xDEADBEEF;
constexpr std::uint32_t Untouched = PortRecorderUntouched(CommandPort);

TEST_P(PortCommandTest, ActionReachesItsEntryPointAndTouchesOnlyItsBits) {
  const CommandRow& row = GetParam();
  TPortCommand command{CommandPort, Before, static_cast<TPortAction>(row.action)};
  component_->PortCommand(&command, 1);
  EXPECT_EQ(recorder_.events(), row.events);
  EXPECT_EQ(command.Value, row.valueAfter) << std::hex << command.Value;
  EXPECT_EQ(command.Port, CommandPort);
}

INSTANTIATE_TEST_SUITE_P(
    EveryAction, PortCommandTest,
    ::testing::Values(
        CommandRow{"ReadByte", paReadByte, {Read(1, CommandPort)}, (Before & 0xFFFFFF00) | (Untouched & 0xFF)},
        CommandRow{"ReadWord", paReadWord, {Read(2, CommandPort)}, (Before & 0xFFFF0000) | (Untouched & 0xFFFF)},
        CommandRow{"ReadDWord", paReadDWord, {Read(4, CommandPort)}, Untouched},
        CommandRow{"WriteByte", paWriteByte, {Write(1, CommandPort, 0xEF)}, Before},
        CommandRow{"WriteWord", paWriteWord, {Write(2, CommandPort, 0xBEEF)}, Before},
        CommandRow{"WriteDWord", paWriteDWord, {Write(4, CommandPort, Before)}, Before},
        CommandRow{"Skip6", 6, {}, Before}, CommandRow{"Skip127", 127, {}, Before},
        CommandRow{"SkipMinus1", -1, {}, Before}, CommandRow{"SkipMinus128", -128, {}, Before}),
    [](const auto& row) { return std::string(row.param.name); });

TEST_F(PortAccessTest, PortCommandWorksInArrayOrderPastSkippedRecords) {
  std::array<TPortCommand, 4> batch{{
      {0x378, 0x12345678, paWriteWord},
      {0x378, 0xFFFFFFFF, static_cast<TPortAction>(-1)},
      {0x378, 0xAAAAAAAA, paReadByte},
      {0x378, 0xAAAAAAAA, paReadDWord},
  }};
  component_->PortCommand(batch.data(), static_cast<std::uint16_t>(batch.size()));
  EXPECT_THAT(recorder_.events(), ElementsAre(Write(2, 0x378, 0x5678), PortRecorderEvent{'r', 1, 0x378, 0x5678},
                                              PortRecorderEvent{'r', 4, 0x378, 0x5678}));
  EXPECT_EQ(batch[1].Value, 0xFFFFFFFFU);
  EXPECT_EQ(batch[2].Value, 0xAAAAAA78U);
  EXPECT_EQ(batch[3].Value, 0x5678U);
}

TEST_F(PortAccessTest, PortCallsAfterCloseNeverReachTheReleasedLibrary) {
  component_->SetPortByte(0x378, 0x01);
  ASSERT_TRUE(component_->CloseDriver());
  EXPECT_EQ(component_->GetPortByte(0x378), 0);
  component_->SetPortByte(0x378, 0x02);
  TPortRec record{0x378, 0x77, false};
  component_->PortControl(&record, 1);
  EXPECT_EQ(record.Value, 0);
  EXPECT_THAT(recorder_.events(), ElementsAre(Write(1, 0x378, 0x01)));
}

TEST_F(PortioTest, PortCallsOnANeverOpenedComponentAreHarmless) {
  auto component = std::make_unique<TDLPortIO>(nullptr);
  for (const std::uint16_t port : {std::uint16_t{0}, std::uint16_t{0x378}, std::uint16_t{0xFFFF}}) {
    EXPECT_EQ(component->GetPortByte(port), 0);
    component->SetPortByte(port, 0xFF);
  }
  std::array<TPortRec, 2> records{{{0x378, 0x33, false}, {0x378, 0x44, true}}};
  component->PortControl(records.data(), 2);
  EXPECT_EQ(records[0].Value, 0);
  EXPECT_EQ(records[1].Value, 0x44);
  std::array<TPortCommand, 3> commands{
      {{0x378, 0xAABBCCDD, paReadByte}, {0x378, 0xAABBCCDD, paReadWord}, {0x378, 0xAABBCCDD, paWriteDWord}}};
  component->PortCommand(commands.data(), 3);
  EXPECT_EQ(commands[0].Value, 0xAABBCC00U);
  EXPECT_EQ(commands[1].Value, 0xAABB0000U);
  EXPECT_EQ(commands[2].Value, 0xAABBCCDDU);
  EXPECT_FALSE(component->ActiveHW());
  EXPECT_THAT(winapi::fake::callLog(), IsEmpty());
}

}  // namespace
}  // namespace portio_test
