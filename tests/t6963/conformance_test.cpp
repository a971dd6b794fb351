// Controller conformance, one table per command family: bytes go in through the test
// bench's port protocol, then registers, memory, status, read-back bytes and violations are
// compared. Every case also checks that no violation was counted other than those it lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bench_protocol.h"
#include "t6963/module.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

using namespace t6963c;
using testing::BenchProtocol;

enum class Op {
  Data,         // data byte, after waiting for STA0|STA1
  Command,      // command byte, after waiting for STA0|STA1
  AutoData,     // data byte, after waiting for STA3
  AutoCommand,  // command byte, after waiting for STA3 (auto write)
  AutoReadCommand,  // command byte, after waiting for STA2 (auto read)
  Read,         // data read, after waiting for STA0|STA1
  AutoRead,     // data read, after waiting for STA2
  RawCommand,   // command cycle without any wait
};
struct Step {
  Op op;
  std::uint8_t value = 0;
};
Step D(std::uint8_t v) { return {Op::Data, v}; }
Step C(std::uint8_t v) { return {Op::Command, v}; }
Step AD(std::uint8_t v) { return {Op::AutoData, v}; }
Step AC(std::uint8_t v) { return {Op::AutoCommand, v}; }
Step ARC(std::uint8_t v) { return {Op::AutoReadCommand, v}; }
Step R() { return {Op::Read}; }
Step AR() { return {Op::AutoRead}; }
Step RawC(std::uint8_t v) { return {Op::RawCommand, v}; }

// Address pointer at `address`: two data bytes and the command.
std::vector<Step> At(unsigned address) {
  return {D(static_cast<std::uint8_t>(address)), D(static_cast<std::uint8_t>(address >> 8)), C(cmd::SetAddressPointer)};
}
std::vector<Step> operator+(std::vector<Step> a, const std::vector<Step>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

enum class Field {
  AddressPointer, TextHome, TextArea, GraphicHome, GraphicArea, CursorX, CursorY, Offset,
  ModeSet, DisplayMode, CursorLines, Auto, Ram, ReadBack, Status, Violations,
};
struct Expect {
  Field field;
  unsigned at;  // RAM address, read index, or violation kind
  unsigned value;
};
Expect Is(Field field, unsigned value) { return {field, 0, value}; }
Expect RamAt(unsigned address, unsigned value) { return {Field::Ram, address, value}; }
Expect ReadNo(unsigned index, unsigned value) { return {Field::ReadBack, index, value}; }
Expect Counted(ViolationKind kind, unsigned count) { return {Field::Violations, static_cast<unsigned>(kind), count}; }

struct Case {
  std::string name;
  std::vector<Step> steps;
  std::vector<Expect> expect;
  std::uint32_t busyAccesses = DefaultBusyAccesses;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class Conformance : public ::testing::TestWithParam<Case> {
 protected:
  Conformance() { powerOn(state_, PowerOnContents::Zero, 0, 0); }

  void run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      bool ok = true;
      switch (step.op) {
        case Op::Data: ok = bench_.data(step.value); break;
        case Op::Command: ok = bench_.command(step.value); break;
        case Op::AutoData: ok = bench_.autoData(step.value); break;
        case Op::AutoCommand:
        case Op::AutoReadCommand:
          ok = bench_.waitFor(step.op == Op::AutoCommand ? sta::AutoWriteOk : sta::AutoReadOk).has_value();
          if (ok) bench_.commandCycle(step.value);
          break;
        case Op::Read:
        case Op::AutoRead: {
          const auto value = step.op == Op::Read ? bench_.readData() : bench_.autoReadData();
          ok = value.has_value();
          if (ok) reads_.push_back(*value);
          break;
        }
        case Op::RawCommand: bench_.commandCycle(step.value); break;
      }
      ASSERT_TRUE(ok) << "controller never became ready for step " << &step - steps.data();
    }
  }

  unsigned probe(const Expect& e) {
    const ControllerRegisters& c = state_.controller;
    switch (e.field) {
      case Field::AddressPointer: return c.addressPointer;
      case Field::TextHome: return c.textHome;
      case Field::TextArea: return c.textArea;
      case Field::GraphicHome: return c.graphicHome;
      case Field::GraphicArea: return c.graphicArea;
      case Field::CursorX: return c.cursorX;
      case Field::CursorY: return c.cursorY;
      case Field::Offset: return c.offset;
      case Field::ModeSet: return c.modeSet;
      case Field::DisplayMode: return c.displayMode;
      case Field::CursorLines: return c.cursorLines;
      case Field::Auto: return static_cast<unsigned>(c.autoMode);
      case Field::Ram: return state_.ram[e.at];
      case Field::ReadBack: return e.at < reads_.size() ? reads_[e.at] : 0x100;
      case Field::Status: return bench_.statusNow();
      case Field::Violations: return state_.violations.counts[e.at];
    }
    return 0x100;
  }

  ModuleState state_;
  Module module_{state_, nullptr, testing::stoppedClock};
  BenchProtocol bench_{module_};
  std::vector<std::uint8_t> reads_;
};

TEST_P(Conformance, RegistersMemoryStatusAndViolations) {
  const Case& c = GetParam();
  setBusyAccesses(state_, c.busyAccesses);
  run(c.steps);
  if (HasFatalFailure()) return;
  unsigned expectedViolations = 0;
  for (const Expect& e : c.expect) {
    EXPECT_EQ(probe(e), e.value) << "field " << static_cast<int>(e.field) << " at 0x" << std::hex << e.at;
    if (e.field == Field::Violations) expectedViolations += e.value;
  }
  EXPECT_EQ(state_.violations.total, expectedViolations);
}

std::string caseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }

constexpr unsigned AutoOff = static_cast<unsigned>(AutoMode::Off);
constexpr unsigned AutoWriting = static_cast<unsigned>(AutoMode::Write);
constexpr unsigned AutoReading = static_cast<unsigned>(AutoMode::Read);
// The status word in each mode when not busy, in the normal blink phase.
constexpr unsigned StatusNormal = sta::Ready | sta::ControllerOk | sta::BlinkNormal;
constexpr unsigned StatusAutoWrite = sta::Ready | sta::AutoWriteOk | sta::ControllerOk | sta::BlinkNormal;
constexpr unsigned StatusAutoRead = sta::Ready | sta::AutoReadOk | sta::ControllerOk | sta::BlinkNormal;

INSTANTIATE_TEST_SUITE_P(
    RegisterSet, Conformance,
    ::testing::Values(
        Case{"CursorPointer", {D(5), D(3), C(cmd::SetCursorPointer)}, {Is(Field::CursorX, 5), Is(Field::CursorY, 3)}},
        Case{"CursorPointerMasksXTo7AndYTo5Bits", {D(0xFF), D(0xFF), C(cmd::SetCursorPointer)},
             {Is(Field::CursorX, 0x7F), Is(Field::CursorY, 0x1F)}},
        Case{"OffsetRegister", {D(0x02), D(0x00), C(cmd::SetOffsetRegister)}, {Is(Field::Offset, 0x02)}},
        Case{"OffsetRegisterMasksTo5Bits", {D(0xE5), D(0x00), C(cmd::SetOffsetRegister)}, {Is(Field::Offset, 0x05)}},
        Case{"AddressPointerLowByteFirst", At(0x1234), {Is(Field::AddressPointer, 0x1234)}},
        Case{"TextHome", {D(0x00), D(0x02), C(cmd::SetTextHome)}, {Is(Field::TextHome, 0x0200)}},
        Case{"TextArea", {D(0x28), D(0x00), C(cmd::SetTextArea)}, {Is(Field::TextArea, 40)}},
        Case{"GraphicHome", {D(0x34), D(0x12), C(cmd::SetGraphicHome)}, {Is(Field::GraphicHome, 0x1234)}},
        Case{"GraphicArea", {D(0x1E), D(0x00), C(cmd::SetGraphicArea)}, {Is(Field::GraphicArea, 30)}},
        Case{"ParametersAreTheLastTwoDataBytes", {D(1), D(2), D(3), C(cmd::SetAddressPointer)},
             {Is(Field::AddressPointer, 0x0302)}},
        Case{"MissingParameterIsTheByteBefore", At(0x2211) + std::vector{D(0x33), C(cmd::SetAddressPointer)},
             {Is(Field::AddressPointer, 0x3322)}},
        Case{"InitialisationOfTheBench",
             {D(0x00), D(0x00), C(cmd::SetTextHome), D(0x28), D(0x00), C(cmd::SetTextArea), D(0x00), D(0x02),
              C(cmd::SetGraphicHome), D(0x28), D(0x00), C(cmd::SetGraphicArea), C(cmd::ModeSet), C(cmd::CursorBlock),
              D(0x00), D(0x00), C(cmd::SetCursorPointer), C(0x9F)},
             {Is(Field::TextHome, 0), Is(Field::TextArea, 40), Is(Field::GraphicHome, 0x0200),
              Is(Field::GraphicArea, 40), Is(Field::ModeSet, 0x80), Is(Field::CursorLines, 8), Is(Field::CursorX, 0),
              Is(Field::CursorY, 0), Is(Field::DisplayMode, 0x9F), Is(Field::Status, StatusNormal)}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    ModeDisplayAndCursorPattern, Conformance,
    ::testing::Values(
        Case{"ModeOrInternalCg", {C(0x80)}, {Is(Field::ModeSet, 0x80)}},
        Case{"ModeExor", {C(0x81)}, {Is(Field::ModeSet, 0x81)}},
        Case{"ModeAnd", {C(0x83)}, {Is(Field::ModeSet, 0x83)}},
        Case{"ModeTextAttribute", {C(0x84)}, {Is(Field::ModeSet, 0x84)}},
        Case{"ModeExternalCg", {C(0x89)}, {Is(Field::ModeSet, 0x89)}},
        Case{"DisplayOff", {C(0x9F), C(0x90)}, {Is(Field::DisplayMode, 0x90)}},
        Case{"DisplayTextAndCursor", {C(0x96)}, {Is(Field::DisplayMode, 0x96)}},
        Case{"CursorOneLine", {C(0xA7), C(0xA0)}, {Is(Field::CursorLines, 1)}},
        Case{"CursorFourLines", {C(0xA3)}, {Is(Field::CursorLines, 4)}},
        Case{"CursorBlock", {C(0xA7)}, {Is(Field::CursorLines, 8)}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    DataReadWrite, Conformance,
    ::testing::Values(
        Case{"WriteThenIncrement", At(0x1000) + std::vector{D(0xAB), C(cmd::WriteIncrement)},
             {RamAt(0x1000, 0xAB), Is(Field::AddressPointer, 0x1001)}},
        Case{"WriteThenDecrement", At(0x1000) + std::vector{D(0xAB), C(cmd::WriteDecrement)},
             {RamAt(0x1000, 0xAB), Is(Field::AddressPointer, 0x0FFF)}},
        Case{"WriteNoChange", At(0x1000) + std::vector{D(0xAB), C(cmd::WriteNoChange)},
             {RamAt(0x1000, 0xAB), Is(Field::AddressPointer, 0x1000)}},
        Case{"WritesTheLastDataByte", At(0x1000) + std::vector{D(0x11), D(0x22), C(cmd::WriteNoChange)},
             {RamAt(0x1000, 0x22)}},
        Case{"ReadThenIncrement",
             At(0x1000) + std::vector{D(0x5A), C(cmd::WriteNoChange), C(cmd::ReadIncrement), R()},
             {ReadNo(0, 0x5A), Is(Field::AddressPointer, 0x1001)}},
        Case{"ReadThenDecrement",
             At(0x1000) + std::vector{D(0x5A), C(cmd::WriteNoChange), C(cmd::ReadDecrement), R()},
             {ReadNo(0, 0x5A), Is(Field::AddressPointer, 0x0FFF)}},
        Case{"ReadNoChangeRepeats",
             At(0x1000) + std::vector{D(0x5A), C(cmd::WriteNoChange), C(cmd::ReadNoChange), R(), R()},
             {ReadNo(0, 0x5A), ReadNo(1, 0x5A), Is(Field::AddressPointer, 0x1000)}},
        Case{"PointerDecrementsFromZeroTo0xFFFFWhichIsRam0x1FFF",
             At(0x0000) + std::vector{D(0x01), C(cmd::WriteDecrement), D(0x77), C(cmd::WriteNoChange)},
             {RamAt(0x0000, 0x01), Is(Field::AddressPointer, 0xFFFF), RamAt(0x1FFF, 0x77)}},
        Case{"Address0x2000IsAddress0", At(0x2000) + std::vector{D(0x66), C(cmd::WriteNoChange)},
             {RamAt(0x0000, 0x66), Is(Field::AddressPointer, 0x2000)}},
        Case{"IncrementPastTheLastByteWraps",
             At(0x1FFF) + std::vector{D(0x01), C(cmd::WriteIncrement), D(0x02), C(cmd::WriteIncrement)},
             {RamAt(0x1FFF, 0x01), RamAt(0x0000, 0x02), Is(Field::AddressPointer, 0x2001)}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    AutoMode, Conformance,
    ::testing::Values(
        Case{"AutoWriteStreamsAtThePointer",
             At(0x0100) + std::vector{C(cmd::AutoWrite), AD(1), AD(2), AD(3), AC(cmd::AutoReset)},
             {RamAt(0x0100, 1), RamAt(0x0101, 2), RamAt(0x0102, 3), Is(Field::AddressPointer, 0x0103),
              Is(Field::Auto, AutoOff), Is(Field::Status, StatusNormal)}},
        Case{"AutoWriteStatusShowsOnlySta3", At(0x0100) + std::vector{C(cmd::AutoWrite)},
             {Is(Field::Auto, AutoWriting), Is(Field::Status, StatusAutoWrite)}},
        Case{"AutoReadStreamsFromThePointer",
             At(0x0100) + std::vector{C(cmd::AutoWrite), AD(9), AD(8), AD(7), AC(cmd::AutoReset)} + At(0x0100) +
                 std::vector{C(cmd::AutoRead), AR(), AR(), AR(), ARC(cmd::AutoReset)},
             {ReadNo(0, 9), ReadNo(1, 8), ReadNo(2, 7), Is(Field::AddressPointer, 0x0103), Is(Field::Auto, AutoOff)}},
        Case{"AutoReadStatusShowsOnlySta2", At(0x0100) + std::vector{C(cmd::AutoRead)},
             {Is(Field::Auto, AutoReading), Is(Field::Status, StatusAutoRead)}},
        Case{"AutoModeDataBytesAreNotParameters",
             At(0x0100) + std::vector{C(cmd::AutoWrite), AD(0x55), AC(cmd::AutoReset), C(cmd::WriteNoChange)},
             {RamAt(0x0100, 0x55), RamAt(0x0101, 0x01)}},
        Case{"OtherCommandsAreRejectedInAutoMode",
             At(0x0100) + std::vector{C(cmd::AutoWrite), AD(0x00), AD(0x03), AC(cmd::SetAddressPointer),
                                      AC(cmd::AutoReset)},
             {Is(Field::AddressPointer, 0x0102), Counted(ViolationKind::CommandInAutoMode, 1),
              Is(Field::Auto, AutoOff)}},
        Case{"AutoResetOutsideAutoModeChangesNothing", {C(cmd::AutoReset)},
             {Is(Field::Auto, AutoOff), Is(Field::Status, StatusNormal)}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    BitSetReset, Conformance,
    ::testing::Values(
        Case{"SetBit5", At(0x0200) + std::vector{C(cmd::BitSet + 5)}, {RamAt(0x0200, 0x20)}},
        Case{"SetBits0And5", At(0x0200) + std::vector{C(cmd::BitSet + 5), C(cmd::BitSet + 0)}, {RamAt(0x0200, 0x21)}},
        Case{"SetBit7", At(0x0200) + std::vector{C(cmd::BitSet + 7)}, {RamAt(0x0200, 0x80)}},
        Case{"ResetBit5",
             At(0x0200) + std::vector{D(0xFF), C(cmd::WriteNoChange), C(cmd::BitReset + 5)},
             {RamAt(0x0200, 0xDF), Is(Field::AddressPointer, 0x0200)}},
        Case{"ResetBit0", At(0x0200) + std::vector{D(0x3F), C(cmd::WriteNoChange), C(cmd::BitReset + 0)},
             {RamAt(0x0200, 0x3E)}},
        Case{"BitOpsUseTheWrappedAddress", At(0x2200) + std::vector{C(cmd::BitSet + 1)}, {RamAt(0x0200, 0x02)}}),
    caseName);

// Peek and copy on the bench's memory map: text at 0x0000 and graphics at 0x0200, both
// 40 bytes per row, text and graphics on; 'A' (code 0x21) in cell (0, 0), graphic byte
// 0x01 at row 0 column 0. Row 0 of 'A' is .###. = 0x1C, row 1 is #...# = 0x22.
std::vector<Step> PeekScene(std::uint8_t mode) {
  return std::vector{D(0x00), D(0x00), C(cmd::SetTextHome), D(0x28), D(0x00), C(cmd::SetTextArea), D(0x00),
                     D(0x02), C(cmd::SetGraphicHome), D(0x28), D(0x00), C(cmd::SetGraphicArea), C(mode),
                     C(cmd::DisplayMode | cmd::DisplayTextOn | cmd::DisplayGraphicOn)} +
         At(0x0000) + std::vector{D(0x21), C(cmd::WriteNoChange)} + At(0x0200) +
         std::vector{D(0x01), C(cmd::WriteNoChange)};
}

INSTANTIATE_TEST_SUITE_P(
    ScreenPeekAndCopy, Conformance,
    ::testing::Values(
        Case{"PeekCombinesTextAndGraphicOr", PeekScene(0x80) + At(0x0200) + std::vector{C(cmd::ScreenPeek), R()},
             {ReadNo(0, 0x1D), Is(Field::Status, StatusNormal)}},
        Case{"PeekCombinesTextAndGraphicExor",
             PeekScene(0x81) + At(0x0200) + std::vector{D(0x1C), C(cmd::WriteNoChange), C(cmd::ScreenPeek), R()},
             {ReadNo(0, 0x00)}},
        Case{"PeekCombinesTextAndGraphicAnd",
             PeekScene(0x83) + At(0x0200) + std::vector{D(0x14), C(cmd::WriteNoChange), C(cmd::ScreenPeek), R()},
             {ReadNo(0, 0x14)}},
        Case{"PeekOutsideTheGraphicAreaSetsSta6",
             PeekScene(0x80) + At(0x0100) + std::vector{C(cmd::ScreenPeek)},
             {Is(Field::Status, StatusNormal | sta::PeekCopyError)}},
        Case{"PeekPastTheLastGraphicRowSetsSta6",
             PeekScene(0x80) + At(0x0200 + 40 * 64) + std::vector{C(cmd::ScreenPeek)},
             {Is(Field::Status, StatusNormal | sta::PeekCopyError)}},
        Case{"PeekBeyondColumn39SetsSta6",
             PeekScene(0x80) + std::vector{D(0x2A), D(0x00), C(cmd::SetGraphicArea)} + At(0x0200 + 41) +
                 std::vector{C(cmd::ScreenPeek)},
             {Is(Field::Status, StatusNormal | sta::PeekCopyError)}},
        Case{"SuccessfulPeekClearsSta6",
             PeekScene(0x80) + At(0x0100) + std::vector{C(cmd::ScreenPeek)} + At(0x0200) +
                 std::vector{C(cmd::ScreenPeek)},
             {Is(Field::Status, StatusNormal)}},
        Case{"CopyWritesTheDisplayedLineIntoGraphicRam",
             PeekScene(0x80) + At(0x0228) + std::vector{C(cmd::ScreenCopy)},
             {RamAt(0x0228, 0x22), RamAt(0x0229, 0x00), RamAt(0x0200, 0x01), Is(Field::AddressPointer, 0x0228),
              Is(Field::Status, StatusNormal)}},
        Case{"CopyStartsAtThePointersColumn",
             PeekScene(0x80) + At(0x0228) + std::vector{D(0x01), C(cmd::WriteNoChange)} + At(0x0001) +
                 std::vector{D(0x21), C(cmd::WriteNoChange)} + At(0x0229) + std::vector{C(cmd::ScreenCopy)},
             {RamAt(0x0228, 0x01), RamAt(0x0229, 0x22)}},
        Case{"CopyOutsideTheGraphicAreaSetsSta6AndWritesNothing",
             PeekScene(0x80) + At(0x0010) + std::vector{C(cmd::ScreenCopy)},
             {RamAt(0x0010, 0x00), Is(Field::Status, StatusNormal | sta::PeekCopyError)}}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    ProtocolErrors, Conformance,
    ::testing::Values(
        Case{"UndecodedCommandIsCountedAndIgnored", At(0x0123) + std::vector{C(0x23), C(0xC7), C(0xE1)},
             {Is(Field::AddressPointer, 0x0123), Counted(ViolationKind::UnknownCommand, 3),
              Is(Field::Status, StatusNormal)}},
        // Unpolled, the next command strobes on the sixth access after the pointer command's
        // strobe (control 0x00, data, 0x04, 0x06, 0x07, 0x06).
        Case{"CommandWhileBusyIsIgnored", At(0x0123) + std::vector{RawC(cmd::SetTextHome)},
             {Is(Field::TextHome, 0x0000), Counted(ViolationKind::WriteWhileBusy, 1)}, 6},
        Case{"CommandJustAfterTheBusyTimeIsTaken", At(0x0123) + std::vector{RawC(cmd::SetTextHome)},
             {Is(Field::TextHome, 0x0123)}, 5}),
    caseName);

}  // namespace
}  // namespace t6963
