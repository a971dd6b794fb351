// kelvari-replay [-I FORMAT[:OPTION=VALUE...]] [--channels MAP] [--segment NAME] [--until TIME]
//                [-l LEVEL] CAPTURE
// Replays a logic analyser's capture of a T6963C bus into the virtual display module: its
// decoded bus log and a summary on standard output, the module's final state in a segment
// if asked. The module's build, RAM at power-on, busy time and cable ties come from the
// port library's settings (DLPORTIO_LCD_*). Bad input: one line on standard error, exit
// status 1, and no segment touched.
#include <getopt.h>

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "portlib/settings.h"
#include "replay/capture_reader.h"
#include "replay/cycle_extractor.h"
#include "replay/module_replay.h"
#include "t6963/shared_module.h"

namespace {

constexpr const char* Usage =
    "usage: kelvari-replay [-I FORMAT[:OPTION=VALUE...]] [--channels MAP] [--segment NAME] [--until TIME]\n"
    "                      [-l LEVEL] CAPTURE\n"
    "  -I, --input-format   the capture's format as libsigrok names it, with its options,\n"
    "                       e.g. -I binary:numchannels=16:samplerate=24000000 (default: found from the file)\n"
    "  --channels MAP       the capture channel of bus lines, by index or name: WR=3,CE=2,CD=1,RD=0,D0=8,...\n"
    "                       (default: found by name: D0..D7 or DB0..DB7, /WR WR nWR WR#, ..., C/D CD A0)\n"
    "  --segment NAME       leave the replayed module in this segment, for lcdview --segment NAME\n"
    "  --until TIME         stop reading the capture at this time, in microseconds as the log prints them\n"
    "  -l, --loglevel N     libsigrok's log on standard error, 0 (none, the default) to 5\n"
    "The module is the one the DLPORTIO_LCD_SIZE, _FONT, _RAM, _POWERON and _BUSY settings describe;\n"
    "DLPORTIO_LCD_WIRING's CE:GND and RD:VCC say which lines the capture need not carry.\n";

int fail(const std::string& message) {
  std::cout.flush();
  std::cerr << "kelvari-replay: " << message << '\n';
  return 1;
}

// Lines the cable ties instead of wiring them: the rest of the cable is the PC's side of
// the controller's pins, which a capture of those pins does not see.
replay::Wiring tiesOf(const t6963::Cable& cable) {
  return {cable.wire(t6963::ControllerLine::Ce).source == t6963::Wire::Source::Ground,
          cable.wire(t6963::ControllerLine::Rd).source == t6963::Wire::Source::Supply};
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  enum : int { ChannelsOption = 256, SegmentOption, UntilOption };
  const option options[] = {{"input-format", required_argument, nullptr, 'I'},
                            {"channels", required_argument, nullptr, ChannelsOption},
                            {"segment", required_argument, nullptr, SegmentOption},
                            {"until", required_argument, nullptr, UntilOption},
                            {"loglevel", required_argument, nullptr, 'l'},
                            {"help", no_argument, nullptr, 'h'},
                            {nullptr, 0, nullptr, 0}};
  replay::ReadOptions read;
  std::string channels;
  std::optional<std::string> segment;
  replay::ReplaySetup setup;
  opterr = 0;
  try {
    for (int choice; (choice = getopt_long(argc, argv, ":I:l:h", options, nullptr)) != -1;) {
      switch (choice) {
        case 'I': read.format = replay::parseInputFormat(optarg); break;
        case ChannelsOption: channels = optarg; break;
        case SegmentOption:
          if (!portlib::isSegmentName(optarg)) {
            return fail(std::string("--segment ") + optarg + ": a segment name is /NAME, no further '/'");
          }
          segment = optarg;
          break;
        case UntilOption: setup.until = replay::parseUntil(optarg); break;
        case 'l': {
          const char* end = optarg + std::strlen(optarg);
          const auto [stop, error] = std::from_chars(optarg, end, read.libsigrokLogLevel);
          if (error != std::errc{} || stop != end || read.libsigrokLogLevel < 0 || read.libsigrokLogLevel > 5) {
            return fail(std::string("-l ") + optarg + ": the log level is 0 to 5");
          }
          break;
        }
        case 'h': std::cout << Usage; return 0;
        case ':': return fail(std::string(argv[optind - 1]) + " needs a value");
        default: return fail(std::string("unknown option ") + argv[optind - 1] + " (--help lists them)");
      }
    }
    if (optind + 1 != argc) return fail(optind == argc ? "no capture file given (--help)" : "one capture file at a time");

    const auto settings = portlib::readSettings(
        [](const char* name) { return std::getenv(name); },
        [](std::string_view line) { std::cerr << "kelvari-replay: " << line << '\n'; });
    setup.build = settings.build;
    setup.powerOn = settings.powerOn;
    setup.busyMicroseconds = settings.busyAccesses.value_or(t6963::DefaultBusyAccesses);

    replay::ModuleReplay replayed(setup, std::cout);
    replay::CycleExtractor extractor(replayed, channels, tiesOf(settings.build.cable));
    const auto result = replay::readCapture(argv[optind], extractor, read);
    std::cout.flush();
    for (const auto& note : result.notes) std::cerr << "kelvari-replay: " << note << '\n';
    if (segment) {
      auto module = t6963::SharedModule::open(*segment, setup.powerOn, setup.build);
      module.claimBus();
      module.replaceState(replayed.module());
    }
    return 0;
  } catch (const std::exception& error) {
    return fail(error.what());
  }
}
