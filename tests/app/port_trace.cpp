// Recording port and wire-protocol decoder for the display tests.
#include "port_trace.h"

#include <cstdio>
#include <optional>
#include <sstream>

#include "t6963/t6963c.h"

namespace kelvari::test {
namespace {

std::string hex(unsigned value, int digits) {
  char text[8];
  std::snprintf(text, sizeof text, "%0*X", digits, value);
  return text;
}

std::string describe(const PortAccess& access) {
  return std::string(access.kind == PortAccess::Kind::Read ? "read " : "write ") + hex(access.port, 3) + " " +
         hex(access.value, 2);
}

class Decoder {
 public:
  explicit Decoder(const std::vector<PortAccess>& trace) : trace_(trace) {}

  DecodedTrace run() {
    using namespace t6963c;
    while (result_.error.empty() && next_ < trace_.size()) {
      const auto ecrValue = expectRead(EcrPort);
      if (!ecrValue) break;
      if (!expectWrite(EcrPort, static_cast<std::uint8_t>((*ecrValue & ecr::KeepMask) | ecr::ModeByte))) break;
      int polls = 0;
      bool ready = false;
      while (true) {
        if (!expectWrite(ControlPort, ctl::StatusSelect) || !expectWrite(ControlPort, ctl::StatusRead)) break;
        const auto status = expectRead(DataPort);
        if (!status || !expectWrite(ControlPort, ctl::StatusSelect)) break;
        ++polls;
        ready = (*status & sta::Ready) == sta::Ready;
        if (ready) break;
        if (next_ + 1 == trace_.size() && trace_[next_] == writeOf(ControlPort, ctl::Released)) {
          result_.endsInAbandonedWait = true;
          result_.abandonedWaitPolls = polls;
          ++next_;
          return result_;
        }
      }
      if (!ready || !expectWrite(ControlPort, ctl::Released)) break;
      const auto value = expectWriteAny(DataPort);
      if (!value) break;
      if (next_ >= trace_.size()) {
        fail("a control write");
        break;
      }
      const std::uint8_t cd = trace_[next_].value;
      if (cd != ctl::Released && cd != ctl::Cd) {
        fail("control 00 (data) or 04 (command)");
        break;
      }
      const std::uint8_t pulse[] = {cd, static_cast<std::uint8_t>(cd | ctl::Ce),
                                    static_cast<std::uint8_t>(cd | ctl::Ce | ctl::Wr),
                                    static_cast<std::uint8_t>(cd | ctl::Ce), ctl::Released};
      bool pulseOk = true;
      for (const std::uint8_t control : pulse) pulseOk = pulseOk && expectWrite(ControlPort, control);
      if (!pulseOk) break;
      result_.bytes.push_back({cd == ctl::Cd, *value, polls});
    }
    return result_;
  }

 private:
  void fail(const std::string& expected) {
    result_.error = "access #" + std::to_string(next_) + ": expected " + expected + ", got " +
                    (next_ < trace_.size() ? describe(trace_[next_]) : std::string("end of trace"));
  }

  std::optional<std::uint8_t> expectRead(std::uint16_t port) {
    if (next_ < trace_.size() && trace_[next_].kind == PortAccess::Kind::Read && trace_[next_].port == port) {
      return trace_[next_++].value;
    }
    fail("read " + hex(port, 3));
    return std::nullopt;
  }

  std::optional<std::uint8_t> expectWriteAny(std::uint16_t port) {
    if (next_ < trace_.size() && trace_[next_].kind == PortAccess::Kind::Write && trace_[next_].port == port) {
      return trace_[next_++].value;
    }
    fail("write " + hex(port, 3));
    return std::nullopt;
  }

  bool expectWrite(std::uint16_t port, std::uint8_t value) {
    if (next_ < trace_.size() && trace_[next_] == writeOf(port, value)) {
      ++next_;
      return true;
    }
    fail(describe(writeOf(port, value)));
    return false;
  }

  const std::vector<PortAccess>& trace_;
  std::size_t next_ = 0;
  DecodedTrace result_;
};

}  // namespace

std::ostream& operator<<(std::ostream& out, const PortAccess& access) { return out << describe(access); }

PortAccess readOf(std::uint16_t port, std::uint8_t value) { return {PortAccess::Kind::Read, port, value}; }
PortAccess writeOf(std::uint16_t port, std::uint8_t value) { return {PortAccess::Kind::Write, port, value}; }

std::uint8_t RecordingPort::GetPortByte(std::uint16_t port) {
  std::uint8_t value = 0xFF;
  if (port == t6963c::EcrPort) {
    value = ecrValue;
  } else if (port == t6963c::DataPort) {
    ++statusReads;
    if (dataWrites_ >= answeredBytes) {
      value = 0x00;
    } else if (!statusScript.empty()) {
      value = statusScript.front();
      statusScript.pop_front();
    } else {
      value = steadyStatus;
    }
  }
  trace.push_back(readOf(port, value));
  return value;
}

void RecordingPort::SetPortByte(std::uint16_t port, std::uint8_t value) {
  if (port == t6963c::DataPort) ++dataWrites_;
  trace.push_back(writeOf(port, value));
}

DecodedTrace decode(const std::vector<PortAccess>& trace) { return Decoder(trace).run(); }

std::string transcript(const std::vector<WireByte>& bytes) {
  std::ostringstream out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out << (i == 0 ? "" : " ") << (bytes[i].command ? 'C' : 'D') << hex(bytes[i].value, 2);
  }
  return out.str();
}

}  // namespace kelvari::test
