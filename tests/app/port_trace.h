// Test doubles at the port seam: a port object that records every access and answers
// status reads from a script, and a decoder that turns a recorded trace back into the
// bytes sent, checking that every byte follows the wire protocol access for access.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

namespace kelvari::test {

struct PortAccess {
  enum class Kind { Read, Write };
  Kind kind;
  std::uint16_t port;
  std::uint8_t value;
  bool operator==(const PortAccess&) const = default;
};
std::ostream& operator<<(std::ostream& out, const PortAccess& access);

PortAccess readOf(std::uint16_t port, std::uint8_t value);
PortAccess writeOf(std::uint16_t port, std::uint8_t value);

class RecordingPort {
 public:
  std::uint8_t GetPortByte(std::uint16_t port);
  void SetPortByte(std::uint16_t port, std::uint8_t value);

  std::vector<PortAccess> trace;
  std::uint8_t ecrValue = 0xFF;
  // Status reads take these answers first, then `steadyStatus`.
  std::deque<std::uint8_t> statusScript;
  std::uint8_t steadyStatus = 0x03;
  // Once this many bytes went onto the data lines, every status read answers busy (0x00).
  std::size_t answeredBytes = std::numeric_limits<std::size_t>::max();
  std::size_t statusReads = 0;

 private:
  std::size_t dataWrites_ = 0;
};

struct WireByte {
  bool command;
  std::uint8_t value;
  int polls;  // status polls before the byte was accepted
};

struct DecodedTrace {
  std::vector<WireByte> bytes;
  // The trace ends in a wait that was given up: ECR read-modify-write, polls, released lines.
  bool endsInAbandonedWait = false;
  int abandonedWaitPolls = 0;
  std::string error;  // empty when every access followed the protocol
};

DecodedTrace decode(const std::vector<PortAccess>& trace);

// "D3F D01 C24": data and command bytes in order, in hex.
std::string transcript(const std::vector<WireByte>& bytes);

// Names data-driven cases after their `name` field.
struct ByCaseName {
  template <typename Info>
  std::string operator()(const Info& caseInfo) const {
    return caseInfo.param.name;
  }
};

}  // namespace kelvari::test
