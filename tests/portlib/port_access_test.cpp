// The entry points' access widths, byte order, buffers and the end of the port space, over
// a backend that records every byte access.
#include "portlib/port_access.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

struct Access {
  bool isWrite;
  std::uint16_t port;
  std::uint8_t value;
  bool operator==(const Access&) const = default;
};

Access rd(std::uint16_t port, std::uint8_t value) { return {false, port, value}; }
Access wr(std::uint16_t port, std::uint8_t value) { return {true, port, value}; }

void PrintTo(const Access& a, std::ostream* os) {
  *os << (a.isWrite ? "write " : "read ") << std::hex << a.port << "=" << int{a.value};
}

// Reads give the value of the port in `ports` (0x5A elsewhere); every access is recorded.
class RecordingBackend final : public portlib::PortBackend {
 public:
  std::map<std::uint16_t, std::uint8_t> ports;
  std::vector<Access> trace;

  std::uint8_t read(std::uint16_t port) noexcept override {
    const auto it = ports.find(port);
    const std::uint8_t value = it == ports.end() ? std::uint8_t{0x5A} : it->second;
    trace.push_back(rd(port, value));
    return value;
  }
  void write(std::uint16_t port, std::uint8_t value) noexcept override { trace.push_back(wr(port, value)); }
};

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(PortAccessWidths, ReadsAssembleConsecutivePortsLowByteFirst) {
  RecordingBackend backend;
  backend.ports = {{0x378, 0x11}, {0x379, 0x22}, {0x37A, 0x33}, {0x37B, 0x44}};

  EXPECT_EQ(portlib::readByte(backend, 0x378), 0x11);
  EXPECT_EQ(portlib::readValue<std::uint16_t>(backend, 0x378), 0x2211);
  EXPECT_EQ(portlib::readValue<std::uint32_t>(backend, 0x378), 0x44332211u);
  EXPECT_THAT(backend.trace, ElementsAre(rd(0x378, 0x11),                                    //
                                         rd(0x378, 0x11), rd(0x379, 0x22),                   //
                                         rd(0x378, 0x11), rd(0x379, 0x22), rd(0x37A, 0x33),  //
                                         rd(0x37B, 0x44)));
}

TEST(PortAccessWidths, WritesSplitIntoConsecutivePortsLowByteFirst) {
  RecordingBackend backend;
  portlib::writeByte(backend, 0x37A, 0x2E);
  portlib::writeValue<std::uint16_t>(backend, 0x378, 0xBEEF);
  portlib::writeValue<std::uint32_t>(backend, 0x1000, 0x01020304u);
  EXPECT_THAT(backend.trace, ElementsAre(wr(0x37A, 0x2E),                   //
                                         wr(0x378, 0xEF), wr(0x379, 0xBE),  //
                                         wr(0x1000, 0x04), wr(0x1001, 0x03), wr(0x1002, 0x02), wr(0x1003, 0x01)));
}

// Ports past 0xFFFF do not exist: no access reaches the backend and reads float high.
struct EndOfSpaceRow {
  const char* name;
  unsigned width;
  std::uint32_t port;
  std::uint32_t expectedRead;
  std::vector<std::uint16_t> portsReached;
};

class PortAccessEndOfSpace : public ::testing::TestWithParam<EndOfSpaceRow> {};

TEST_P(PortAccessEndOfSpace, StopsAtTheLastPortWithoutWrapping) {
  const auto& row = GetParam();
  RecordingBackend backend;
  backend.ports = {{0x0000, 0x00}, {0x0001, 0x00}, {0x0002, 0x00}, {0xFFFE, 0x12}, {0xFFFF, 0x34}};

  std::uint32_t value = 0;
  switch (row.width) {
    case 1: value = portlib::readByte(backend, row.port); break;
    case 2: value = portlib::readValue<std::uint16_t>(backend, row.port); break;
    default: value = portlib::readValue<std::uint32_t>(backend, row.port); break;
  }
  EXPECT_EQ(value, row.expectedRead);
  std::vector<std::uint16_t> reached;
  for (const auto& access : backend.trace) reached.push_back(access.port);
  EXPECT_EQ(reached, row.portsReached);

  backend.trace.clear();
  switch (row.width) {
    case 1: portlib::writeByte(backend, row.port, 0xAB); break;
    case 2: portlib::writeValue<std::uint16_t>(backend, row.port, 0xABAB); break;
    default: portlib::writeValue<std::uint32_t>(backend, row.port, 0xABABABABu); break;
  }
  reached.clear();
  for (const auto& access : backend.trace) reached.push_back(access.port);
  EXPECT_EQ(reached, row.portsReached);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PortAccessEndOfSpace,
    ::testing::Values(EndOfSpaceRow{"ByteAtLastPort", 1, 0xFFFF, 0x34, {0xFFFF}},
                      EndOfSpaceRow{"ByteBeyond", 1, 0x10000, 0xFF, {}},
                      EndOfSpaceRow{"ByteAtTopOfArgument", 1, 0xFFFFFFFF, 0xFF, {}},
                      EndOfSpaceRow{"WordAcrossTheEnd", 2, 0xFFFF, 0xFF34, {0xFFFF}},
                      EndOfSpaceRow{"WordAtTopOfArgument", 2, 0xFFFFFFFF, 0xFFFF, {}},
                      EndOfSpaceRow{"LongAcrossTheEnd", 4, 0xFFFE, 0xFFFF3412u, {0xFFFE, 0xFFFF}},
                      EndOfSpaceRow{"LongNearTopOfArgument", 4, 0xFFFFFFFE, 0xFFFFFFFFu, {}}),
    [](const auto& rowInfo) { return rowInfo.param.name; });

TEST(PortAccessBuffers, EachItemIsOneSingleAccessAtTheSamePort) {
  RecordingBackend backend;
  backend.ports = {{0x300, 0x01}, {0x301, 0x02}};
  std::uint16_t words[3] = {};
  portlib::readBuffer(backend, 0x300, words, 3);
  EXPECT_THAT(words, ElementsAre(0x0201, 0x0201, 0x0201));
  EXPECT_EQ(backend.trace.size(), 6u);

  backend.trace.clear();
  const std::uint8_t bytes[] = {0x10, 0x20, 0x30};
  portlib::writeBuffer(backend, 0x378, bytes, 3);
  EXPECT_THAT(backend.trace, ElementsAre(wr(0x378, 0x10), wr(0x378, 0x20), wr(0x378, 0x30)));

  backend.trace.clear();
  const std::uint32_t longs[] = {0xA1B2C3D4u, 0x00000001u};
  portlib::writeBuffer(backend, 0x200, longs, 2);
  EXPECT_THAT(backend.trace, ElementsAre(wr(0x200, 0xD4), wr(0x201, 0xC3), wr(0x202, 0xB2), wr(0x203, 0xA1),
                                         wr(0x200, 0x01), wr(0x201, 0x00), wr(0x202, 0x00), wr(0x203, 0x00)));
}

TEST(PortAccessBuffers, FillOnlyCountItemsAndZeroCountOrNullBufferDoNothing) {
  RecordingBackend backend;
  std::uint8_t bytes[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  portlib::readBuffer(backend, 0x378, bytes, 2);
  EXPECT_THAT(bytes, ElementsAre(0x5A, 0x5A, 0xEE, 0xEE));

  backend.trace.clear();
  portlib::readBuffer(backend, 0x378, bytes, 0);
  portlib::writeBuffer(backend, 0x378, bytes, 0);
  portlib::readBuffer<std::uint32_t>(backend, 0x378, nullptr, 5);
  portlib::writeBuffer<std::uint16_t>(backend, 0x378, nullptr, 5);
  EXPECT_THAT(backend.trace, IsEmpty());
}

TEST(SilentBackend, ReadsZeroAndDropsWrites) {
  portlib::SilentBackend backend;
  backend.write(0x378, 0xFF);
  EXPECT_EQ(portlib::readByte(backend, 0x378), 0x00);
  EXPECT_EQ(portlib::readValue<std::uint32_t>(backend, 0x378), 0u);
  EXPECT_EQ(portlib::readByte(backend, 0x10000), portlib::NoDevice);
}

}  // namespace
