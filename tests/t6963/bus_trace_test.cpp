// The bus trace and its decoder: command bytes in words (and the same unknown opcodes as
// the controller), a stream of the bench's protocol decoded byte by byte with its polls
// and a violation, line levels, and the ring's wrap, also while a writer streams on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "bench_protocol.h"
#include "t6963/bus_decoder.h"
#include "t6963/controller.h"
#include "t6963/module.h"
#include "t6963/t6963c.h"

namespace t6963 {
namespace {

using namespace t6963c;
using testing::BenchProtocol;

struct CommandRow {
  std::uint8_t opcode, first, second;
  const char* text;
};

TEST(BusDecoder, DescribesCommandBytesWithTheirParameters) {
  const CommandRow rows[] = {
      {0x21, 0x85, 0xE7, "set cursor pointer X 5, Y 7"},
      {0x22, 0x02, 0x00, "set offset register 0x02"},
      {0x24, 0x00, 0x02, "set address pointer 0x0200"},
      {0x40, 0x34, 0x12, "set text home 0x1234"},
      {0x43, 40, 0, "set graphic area 40 bytes per row"},
      {0x80, 0, 0, "mode set: OR, internal CG ROM"},
      {0x8C, 0, 0, "mode set: text attribute, external CG RAM"},
      {0x9F, 0, 0, "display mode: text, graphics, cursor, blink"},
      {0x94, 0, 0, "display mode: text"},
      {0x90, 0, 0, "display mode: off"},
      {0xA0, 0, 0, "cursor pattern: 1 line"},
      {0xA7, 0, 0, "cursor pattern: 8 lines"},
      {0xB0, 0, 0, "auto write on"},
      {0xB2, 0, 0, "auto reset"},
      {0xC0, 0x00, 0x21, "write 0x21 and advance"},
      {0xC5, 0, 0, "read in place"},
      {0xE8, 0, 0, "screen copy"},
      {0xF3, 0, 0, "bit reset 3"},
      {0xFB, 0, 0, "bit set 3"},
      {0xC7, 0, 0, "unknown command"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(describeCommand(row.opcode, row.first, row.second), row.text) << "opcode " << int{row.opcode};
  }
}

TEST(BusDecoder, CallsExactlyTheBytesTheControllerRefusesUnknown) {
  for (unsigned opcode = 0; opcode < 256; ++opcode) {
    ModuleState state;
    state.bus.accessCount = 1;  // past the power-on instant
    testing::StoppedControllerClock clock;
    const bool refused = writeCycle(state, true, static_cast<std::uint8_t>(opcode), false, clock) == WriteResult::UnknownCommand;
    EXPECT_EQ(describeCommand(static_cast<std::uint8_t>(opcode), 0, 0) == "unknown command", refused) << opcode;
  }
}

class TracedModule : public ::testing::Test {
 protected:
  TracedModule() { powerOn(state_, PowerOnContents::Zero, 0, 0); }

  ModuleState state_;
  std::unique_ptr<BusTrace> trace_ = std::make_unique<BusTrace>();
  Module module_{state_, trace_.get(), testing::stoppedClock};
  BenchProtocol bench_{module_};
};

TEST_F(TracedModule, EveryByteIsDecodedWithItsPollsAndViolationsWhereTheyHappened) {
  ASSERT_TRUE(bench_.data(0x00) && bench_.data(0x02) && bench_.command(cmd::SetAddressPointer));
  ASSERT_TRUE(bench_.data(0x21) && bench_.command(cmd::WriteIncrement));
  module_.write(ControlPort, ctl::Wr);  // a strobe without /CE
  module_.write(ControlPort, 0x00);
  const auto violationAccess = trace_->recorded;
  setBusyAccesses(state_, 1000);
  ASSERT_TRUE(bench_.command(cmd::DisplayMode | cmd::DisplayTextOn));
  bench_.commandCycle(0x98);  // while busy
  bench_.statusNow();

  const auto entries = decodeBusLog(copyTrace(*trace_, state_.build));
  std::vector<std::string> lines;
  for (const auto& entry : entries) lines.push_back(entry.text + " / " + std::to_string(entry.polls));
  EXPECT_THAT(lines, ::testing::ElementsAre("data 0x00 / 1", "data 0x02 / 1", "set address pointer 0x0200 / 1",
                                            "data 0x21 / 1", "write 0x21 and advance / 1",
                                            "strobe without /CE: nothing taken, lines 0xC0 / 0",
                                            "display mode: text / 1", "byte sent while busy: command 0x98 ignored / 0",
                                            "status 0xA0: busy at every poll over 3 µs; the controller never became ready / 1"));
  EXPECT_EQ(entries[5].at, violationAccess);
  EXPECT_EQ(state_.ram[0x0200], 0x21);
  EXPECT_EQ(state_.violations.total, 2u);
  EXPECT_THAT(formatBusLog(copyTrace(*trace_, state_.build)),
              ::testing::StartsWith("accesses 1 to " + std::to_string(trace_->recorded) + ", the whole history\n"));
}

// A driver over in/out that reads the control register back before each change and releases
// /CE between its polls, as graphlcd's does: the wait goes on across the control reads.
TEST_F(TracedModule, AControlReadBetweenPollsContinuesTheWaitAsAControlWriteDoes) {
  struct Access {
    bool write;
    std::uint16_t port;
    std::uint8_t value;
  };
  constexpr Access Poll[] = {{false, ControlPort, 0}, {true, ControlPort, 0x26}, {false, ControlPort, 0},
                             {true, ControlPort, 0x2E}, {false, DataPort, 0},    {false, ControlPort, 0},
                             {true, ControlPort, 0x26}, {false, ControlPort, 0}, {true, ControlPort, 0x20}};
  setBusyAccesses(state_, 40);
  ASSERT_TRUE(bench_.command(cmd::DisplayMode | cmd::DisplayTextOn));
  module_.write(EcrPort, ecr::ModeByte);
  int polls = 0;
  std::uint8_t status = 0;
  while ((status & sta::Ready) != sta::Ready && polls < 20) {
    for (const Access& access : Poll) {
      if (access.write) {
        module_.write(access.port, access.value);
      } else if (access.port == DataPort) {
        status = module_.read(DataPort);
      } else {
        module_.read(access.port);
      }
    }
    ++polls;
  }
  ASSERT_GT(polls, 2);
  bench_.dataCycle(0x42);

  const auto entries = decodeBusLog(copyTrace(*trace_, state_.build));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].text, "data 0x42");
  EXPECT_EQ(entries[1].polls, static_cast<std::uint32_t>(polls)) << "every poll folded into the byte they waited for";
}

TEST_F(TracedModule, LineLevelsFollowTheStrobesAndWhoDrivesTheDataLines) {
  module_.write(DataPort, 0x5A);                      // 1: the port drives 0x5A
  bench_.statusNow();                                 // 2, 3: ECR to byte mode; 4..7: one poll
  const auto levels = decodeLineLevels(copyTrace(*trace_, state_.build));
  ASSERT_EQ(levels.size(), 9u);
  const auto data = [&](std::size_t step) {
    std::string text;
    for (std::size_t bit = 8; bit-- > 0;) text += static_cast<char>(levels[step][bit]);
    return text;
  };
  const auto at = [&](std::size_t step, Line line) { return static_cast<char>(levels[step][static_cast<std::size_t>(line)]); };
  EXPECT_EQ(data(1), "01011010");
  EXPECT_EQ(data(4), "zzzzzzzz");  // control 0x26: the port listens, /RD not yet asserted
  EXPECT_EQ(at(4, Line::PortInput), '1');
  EXPECT_EQ(at(4, Line::Ce), '0');
  EXPECT_EQ(at(4, Line::Cd), '1');
  EXPECT_EQ(data(5), "10100011");  // /RD asserted: the status read in this cycle, from its start
  EXPECT_EQ(at(5, Line::Rd), '0');
  EXPECT_EQ(at(8, Line::Wr), '1');
  EXPECT_EQ(at(8, Line::Ce), '1');
}

TEST_F(TracedModule, TheRingKeepsItsNewestRecordsAndSaysWhereTheyBegin) {
  constexpr std::uint64_t Extra = 1000;
  for (std::uint64_t i = 0; i < TraceCapacity + Extra; ++i) module_.write(DataPort, static_cast<std::uint8_t>(i));
  const auto whole = copyTrace(*trace_, state_.build);
  ASSERT_EQ(whole.records.size(), TraceCapacity - 1);  // the slot after the newest is not trusted
  EXPECT_EQ(whole.firstAccess, Extra + 2);
  EXPECT_EQ(whole.records.front().value, static_cast<std::uint8_t>(Extra + 1));
  EXPECT_EQ(whole.records.back().value, static_cast<std::uint8_t>(TraceCapacity + Extra - 1));
  EXPECT_EQ(busLogHeader(whole), "accesses 1002 to " + std::to_string(TraceCapacity + Extra) +
                                     "; older accesses were overwritten");
  EXPECT_EQ(decodeLineLevels(whole)[0][static_cast<std::size_t>(Line::Wr)], Level::Unknown);

  const auto newest = copyTrace(*trace_, state_.build, 3);
  ASSERT_EQ(newest.records.size(), 3u);
  EXPECT_EQ(newest.firstAccess, TraceCapacity + Extra - 2);
}

TEST_F(TracedModule, CopiesWhileTheBusSideStreamsHoldOnlyIntactRecords) {
  std::atomic<bool> stop{false};
  std::thread writer([&] {
    for (std::uint64_t i = 0; !stop.load(std::memory_order_relaxed); ++i) module_.write(DataPort, static_cast<std::uint8_t>(i));
  });
  while (recordedCount(*trace_) < TraceCapacity / 2) std::this_thread::yield();
  for (int copy = 0; copy < 20; ++copy) {
    const auto trace = copyTrace(*trace_, state_.build);
    for (std::size_t i = 0; i < trace.records.size(); ++i) {
      ASSERT_EQ(trace.records[i].value, static_cast<std::uint8_t>(trace.firstAccess - 1 + i)) << "record " << i;
    }
  }
  stop = true;
  writer.join();
}

}  // namespace
}  // namespace t6963
