// TDLPrinterPortIO pins and character output against the recording port library: the
// register each pin reads or changes, the strobe sequence, and no port access at all for
// pins outside the map or while no port was found.
#include "port_recorder.h"
#include "portio/tdlprinterportio.h"
#include "portio_fixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace portio_test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr std::uint16_t Base = 0x378;
constexpr std::uint16_t Data = 0;
constexpr std::uint16_t Status = 1;
constexpr std::uint16_t Control = 2;

constexpr PortRecorderEvent Read(std::uint32_t port, std::uint32_t value) { return {'r', 1, port, value}; }
constexpr PortRecorderEvent Write(std::uint32_t port, std::uint32_t value) { return {'w', 1, port, value}; }

class PrinterPortTest : public PortioTest {
 protected:
  // An open component with LPT1 at 0x378, or with no port found.
  void Open(bool portFound = true) {
    if (portFound) winapi::fake::loadRegistryFile(std::string(KELVARI_TEST_DATA) + "/portio/registry/9x_ports.reg");
    port_ = std::make_unique<TDLPrinterPortIO>(nullptr);
    port_->SetDLLPath(LibraryFolder());
    port_->OpenDriver();
    ASSERT_TRUE(port_->ActiveHW());
    recorder_.reset();
  }
  void TearDown() override {
    port_.reset();
    PortioTest::TearDown();
  }
  // Puts a value in a register's latch; Since() then gives what is recorded after it.
  void Preset(std::uint16_t offset, std::uint8_t value) {
    port_->SetPortByte(static_cast<std::uint16_t>(Base + offset), value);
    skip_ = recorder_.events().size();
  }
  std::vector<PortRecorderEvent> Since() const {
    const auto all = recorder_.events();
    return {all.begin() + static_cast<std::ptrdiff_t>(skip_), all.end()};
  }

  PortRecorder recorder_{LibraryFile()};
  std::unique_ptr<TDLPrinterPortIO> port_;
  std::size_t skip_ = 0;
};

// The connector's signal pins: the register and bit of each, and whether the port inverts it.
struct PinRow {
  std::uint8_t pin;
  std::uint16_t reg;
  std::uint8_t mask;
  bool inverted;
};
constexpr PinRow SignalPins[] = {
    {1, Control, 0x01, true},  {2, Data, 0x01, false},   {3, Data, 0x02, false},    {4, Data, 0x04, false},
    {5, Data, 0x08, false},    {6, Data, 0x10, false},   {7, Data, 0x20, false},    {8, Data, 0x40, false},
    {9, Data, 0x80, false},    {10, Status, 0x40, false}, {11, Status, 0x80, true}, {12, Status, 0x20, false},
    {13, Status, 0x10, false}, {14, Control, 0x02, true}, {15, Status, 0x08, false}, {16, Control, 0x04, false},
    {17, Control, 0x08, true},
};

TEST_F(PrinterPortTest, GetPinReadsItsRegisterOnceAndUndoesTheInversion) {
  Open();
  for (const PinRow& row : SignalPins) {
    // The pin's bit alone set, and every bit but it: both levels, and no other bit counts.
    for (const bool bitSet : {true, false}) {
      const auto value = static_cast<std::uint8_t>(bitSet ? row.mask : ~row.mask);
      SCOPED_TRACE(::testing::Message() << "pin " << int{row.pin} << ", register value " << int{value});
      Preset(row.reg, value);
      EXPECT_EQ(port_->GetPin(row.pin), bitSet != row.inverted);
      EXPECT_THAT(Since(), ElementsAre(Read(static_cast<std::uint32_t>(Base + row.reg), value)));
    }
  }
}

struct SetPinCase {
  std::uint8_t pin;
  bool level;
  std::uint16_t reg;
  std::uint8_t before;
  std::uint8_t after;
};

TEST_F(PrinterPortTest, SetPinChangesOnlyItsBitOfTheValueRead) {
  Open();
  const std::vector<SetPinCase> cases{
      {1, true, Control, 0x0D, 0x0C},   {1, false, Control, 0x0C, 0x0D},  {16, false, Control, 0x0C, 0x08},
      {16, true, Control, 0x00, 0x04},  {14, true, Control, 0xFF, 0xFD},  {14, false, Control, 0x00, 0x02},
      {17, false, Control, 0x00, 0x08}, {17, true, Control, 0xFF, 0xF7},  {2, true, Data, 0x00, 0x01},
      {9, false, Data, 0xFF, 0x7F},     {6, true, Data, 0xA0, 0xB0},      {2, true, Data, 0x01, 0x01},
  };
  for (const SetPinCase& row : cases) {
    SCOPED_TRACE(::testing::Message() << "pin " << int{row.pin} << " to " << row.level);
    const auto port = static_cast<std::uint32_t>(Base + row.reg);
    Preset(row.reg, row.before);
    port_->SetPin(row.pin, row.level);
    EXPECT_THAT(Since(), ElementsAre(Read(port, row.before), Write(port, row.after)));
  }
}

TEST_F(PrinterPortTest, PinsOutsideTheMapAndInputPinsTouchNoPort) {
  Open();
  for (const std::uint8_t pin : std::vector<std::uint8_t>{0, 18, 255}) EXPECT_FALSE(port_->GetPin(pin)) << int{pin};
  for (const std::uint8_t pin : std::vector<std::uint8_t>{0, 10, 11, 12, 13, 15, 18, 255}) {
    port_->SetPin(pin, true);
    port_->SetPin(pin, false);
  }
  EXPECT_THAT(recorder_.events(), IsEmpty());
}

TEST_F(PrinterPortTest, WithoutAPortFoundNothingTouchesThePorts) {
  Open(false);
  ASSERT_EQ(port_->LPTBasePort(), 0);
  for (std::uint8_t pin = 0; pin <= 18; ++pin) {
    EXPECT_FALSE(port_->GetPin(pin));
    port_->SetPin(pin, true);
    port_->SetPin(pin, false);
  }
  EXPECT_FALSE(port_->LPTPrintChar('A'));
  EXPECT_THAT(recorder_.events(), IsEmpty());
}

TEST_F(PrinterPortTest, PrintCharStrobesForOneMillisecondAndReportsBusy) {
  Open();
  std::optional<std::size_t> eventsAtSleep;
  std::vector<DWORD> sleeps;
  winapi::fake::setSleepObserver([&](DWORD milliseconds) {
    sleeps.push_back(milliseconds);
    eventsAtSleep = recorder_.events().size();
  });
  for (const auto& [status, notBusy] : {std::pair{0xDF, true}, std::pair{0x5F, false}}) {
    SCOPED_TRACE(::testing::Message() << "status " << status);
    Preset(Status, static_cast<std::uint8_t>(status));
    EXPECT_EQ(port_->LPTPrintChar('A'), notBusy);
    EXPECT_THAT(Since(), ElementsAre(Write(0x378, 0x41), Write(0x37A, 0x0D), Write(0x37A, 0x0C),
                                     Read(0x379, static_cast<std::uint32_t>(status))));
    ASSERT_TRUE(eventsAtSleep.has_value());
    EXPECT_EQ(*eventsAtSleep, skip_ + 2);  // between the two control writes
  }
  EXPECT_THAT(sleeps, ElementsAre(1U, 1U));
}

}  // namespace
}  // namespace portio_test
