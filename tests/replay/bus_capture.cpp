// The replay's test harness.
#include "tests/replay/bus_capture.h"

#include <QStandardPaths>

#include <libsigrokcxx/libsigrokcxx.hpp>

#include <cmath>
#include <fstream>
#include <functional>
#include <sstream>

#include "replay/cycle_extractor.h"
#include "t6963/controller.h"

namespace replay_test {
namespace {

using replay::bit;

constexpr std::uint64_t Billion = 1'000'000'000;

// The capture channels' bits (channel k at bit k) of levels kept per bus line.
std::uint16_t channelWord(const replay::Levels& levels) {
  std::uint16_t word = 0;
  for (std::size_t k = 0; k < ChannelLines.size(); ++k) {
    if ((levels.high & bit(ChannelLines[k])) != 0) word = static_cast<std::uint16_t>(word | 1U << k);
  }
  return word;
}

}  // namespace

std::uint64_t samplesOf(double nanoseconds, std::uint64_t rate) {
  return static_cast<std::uint64_t>(std::ceil(nanoseconds * static_cast<double>(rate) / 1e9 - 1e-6));
}

std::int64_t nanosecondsAt(std::uint64_t sample, std::uint64_t rate) {
  return std::llround(static_cast<double>(sample) * 1e9 / static_cast<double>(rate));
}

McuBus::McuBus(std::uint64_t rate) : rate_(rate) {
  levels_.high = bit(BusLine::Wr) | bit(BusLine::Rd) | bit(BusLine::Ce);
  mark();
  wait(1000);
  set(BusLine::Ce, false);
  mark();
  wait(500);
}

void McuBus::set(BusLine line, bool high) {
  levels_.high = high ? levels_.high | bit(line) : levels_.high & ~bit(line);
}

void McuBus::setData(std::uint8_t byte) { levels_.high = (levels_.high & ~replay::DataBits) | byte; }

void McuBus::wait(double nanoseconds) { now_ += samplesOf(nanoseconds, rate_); }

void McuBus::mark() {
  if (!changes_.empty() && changes_.back().sample == now_) {
    changes_.back().levels = levels_;
  } else {
    changes_.push_back({now_, levels_});
  }
}

void McuBus::write(bool command, std::uint8_t byte, Fault fault) {
  const bool cdChanges = ((levels_.high & bit(BusLine::Cd)) != 0) != command;
  setData(byte);
  if (fault == Fault::LateCd) {
    mark();
    wait(150 - 40);
  }
  set(BusLine::Cd, command);
  mark();
  wait(fault == Fault::LateCd ? 40 : 150);
  set(BusLine::Wr, false);
  mark();
  const std::uint64_t fall = now_;
  if (fault == Fault::LateCd && cdChanges) planted_.push_back({replay::TimingRule::CdSetup, now_, samplesOf(40, rate_)});
  wait(fault == Fault::ShortWrPulse ? 40 : 120);
  set(BusLine::Wr, true);
  mark();
  bytes_.push_back({now_, command, byte});
  if (fault == Fault::ShortWrPulse) planted_.push_back({replay::TimingRule::PulseWidth, now_, now_ - fall});
  if (fault == Fault::EarlyData) {
    const std::uint64_t end = now_;
    wait(20);
    setData(static_cast<std::uint8_t>(~byte));
    mark();
    planted_.push_back({replay::TimingRule::DataHold, now_, now_ - end});
  }
  wait(command ? 5000 : 2000);
}

void McuBus::read(bool status, std::uint8_t byte) {
  setData(0);  // released by the microcontroller: the analyser's pull-downs hold them low
  set(BusLine::Cd, status);
  mark();
  wait(150);
  set(BusLine::Rd, false);
  mark();
  wait(100);
  setData(byte);
  mark();
  wait(50);
  set(BusLine::Rd, true);
  mark();
  wait(20);
  setData(0);  // released by the controller
  mark();
  wait(1000);
}

Capture McuBus::finish() {
  set(BusLine::Ce, true);
  mark();
  wait(1000);
  return {rate_, now_ + 1, changes_};
}

void writeVcd(const std::string& path, const Capture& capture,
              const std::array<std::string, replay::BusLineCount>& names) {
  // The rate's own period if a VCD can say it, else nanoseconds (24 MHz: rounded).
  std::uint64_t unitNs = Billion % capture.rate == 0 ? Billion / capture.rate : 1;
  if (unitNs != 1 && unitNs != 10 && unitNs != 100) unitNs = 1;
  const bool exact = unitNs * capture.rate == Billion;
  const auto stamp = [&](std::uint64_t sample) {
    return std::to_string(exact ? sample : static_cast<std::uint64_t>(nanosecondsAt(sample, capture.rate)));
  };
  const auto id = [](std::size_t k) { return static_cast<char>('!' + k); };
  std::ofstream file(path);
  file << "$timescale " << unitNs << " ns $end\n$scope module bus $end\n";
  for (std::size_t k = 0; k < names.size(); ++k) file << "$var wire 1 " << id(k) << ' ' << names[k] << " $end\n";
  file << "$upscope $end\n$enddefinitions $end\n";
  unsigned previous = 0;
  for (std::size_t i = 0; i < capture.changes.size(); ++i) {
    const unsigned word = channelWord(capture.changes[i].levels);
    file << '#' << stamp(capture.changes[i].sample) << (i == 0 ? "\n$dumpvars\n" : "\n");
    for (std::size_t k = 0; k < names.size(); ++k) {
      if (i == 0 || ((word ^ previous) >> k & 1U) != 0) file << ((word >> k & 1U) != 0 ? '1' : '0') << id(k) << '\n';
    }
    if (i == 0) file << "$end\n";
    previous = word;
  }
  file << '#' << stamp(capture.samples - 1) << '\n';
}

void forEachBlock(const Capture& capture, const std::function<void(const std::uint16_t*, std::size_t)>& take) {
  std::vector<std::uint16_t> block(SessionBlockSamples);
  std::size_t next = 0;
  std::uint16_t word = 0;
  for (std::uint64_t from = 0; from < capture.samples; from += block.size()) {
    const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), capture.samples - from));
    for (std::size_t i = 0; i < count; ++i) {
      while (next < capture.changes.size() && capture.changes[next].sample <= from + i) {
        word = channelWord(capture.changes[next++].levels);
      }
      block[i] = word;
    }
    take(block.data(), count);
  }
}

void writeSession(const std::string& path, const Capture& capture,
                  const std::array<std::string, replay::BusLineCount>& names) {
  const auto context = sigrok::Context::create();
  const auto device = context->create_user_device("Kelvari", "replay test capture", "1");
  for (std::size_t k = 0; k < names.size(); ++k) {
    device->add_channel(static_cast<unsigned>(k), sigrok::ChannelType::LOGIC, names[k]);
  }
  const auto output = context->output_formats()["srzip"]->create_output(path, device);
  output->receive(context->create_header_packet(Glib::TimeVal(0, 0)));
  output->receive(context->create_meta_packet(
      {{sigrok::ConfigKey::SAMPLERATE, Glib::Variant<guint64>::create(capture.rate)}}));
  forEachBlock(capture, [&](const std::uint16_t* samples, std::size_t count) {
    output->receive(context->create_logic_packet(const_cast<std::uint16_t*>(samples), count * sizeof(std::uint16_t),
                                                 sizeof(std::uint16_t)));
  });
  output->receive(context->create_end_packet());
}

void writeBinary(const std::string& path, const Capture& capture) {
  std::ofstream file(path, std::ios::binary);
  forEachBlock(capture, [&](const std::uint16_t* samples, std::size_t count) {
    file.write(reinterpret_cast<const char*>(samples), static_cast<std::streamsize>(count * sizeof(std::uint16_t)));
  });
}

std::string replayProgram() { return KELVARI_REPLAY_PATH; }

ProgramRun runReplay(const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  return runProgram(KELVARI_REPLAY_PATH, arguments, 60, environment);
}

std::string sigrokCli() { return QStandardPaths::findExecutable(QStringLiteral("sigrok-cli")).toStdString(); }

Recorded replayFile(const std::string& path, const replay::ReadOptions& options, const std::string& channels,
                    replay::Wiring wiring) {
  RecordingSink sink;
  replay::CycleExtractor extractor(sink, channels, wiring);
  sink.recorded.notes = replay::readCapture(path, extractor, options).notes;
  return sink.recorded;
}

replay::ReplaySetup zeroedModule() {
  replay::ReplaySetup setup;
  setup.powerOn = t6963::PowerOnContents::Zero;
  return setup;
}

ReplayedModule replayModule(const std::string& path, const replay::ReplaySetup& setup,
                            const replay::ReadOptions& options, const std::string& channels) {
  std::ostringstream log;
  replay::ModuleReplay module(setup, log);
  replay::CycleExtractor extractor(module, channels, {});
  replay::readCapture(path, extractor, options);
  return {log.str(), module.module()};
}

t6963::ModuleState moduleOf(const std::vector<McuBus::Byte>& bytes) {
  struct Stopped final : t6963::ControllerClock {
    t6963::Nanoseconds now() noexcept override { return 0; }
  } clock;
  t6963::ModuleState state;
  t6963::powerOn(state, t6963::PowerOnContents::Zero, 0, 0);
  t6963::setBusyAccesses(state, 0);
  for (const auto& byte : bytes) t6963::writeCycle(state, byte.command, byte.byte, true, clock);
  return state;
}

std::vector<LogLine> entryLines(const std::string& log) {
  std::vector<LogLine> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    LogLine entry;
    std::string byte;
    if (!(fields >> entry.microseconds >> entry.kind)) continue;
    if (entry.kind == "not" && fields >> byte) entry.kind += ' ' + byte;  // "not ready"
    fields >> byte;
    entry.byte = static_cast<std::uint8_t>(std::stoul(byte, nullptr, 16));
    std::getline(fields >> std::ws, entry.text);
    lines.push_back(entry);
  }
  return lines;
}

std::vector<LogLine> linesOfKind(const std::string& log, const std::string& kind) {
  std::vector<LogLine> lines;
  for (auto& line : entryLines(log)) {
    if (line.kind == kind) lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace replay_test
