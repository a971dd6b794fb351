// kelvari-replay [-I FORMAT[:OPTION=VALUE...]] [--channels MAP] [-l LEVEL] CAPTURE
// Replays a logic analyser's capture of a T6963C bus: one line per bus cycle and per
// finding, then a summary, on standard output. Bad input: one line on standard error and
// exit status 1.
#include <getopt.h>

#include <charconv>
#include <cstring>
#include <iostream>
#include <string>

#include "replay/capture_reader.h"
#include "replay/cycle_extractor.h"
#include "replay/interim_log.h"

namespace {

constexpr const char* Usage =
    "usage: kelvari-replay [-I FORMAT[:OPTION=VALUE...]] [--channels MAP] [-l LEVEL] CAPTURE\n"
    "  -I, --input-format   the capture's format as libsigrok names it, with its options,\n"
    "                       e.g. -I binary:numchannels=16:samplerate=24000000 (default: found from the file)\n"
    "  --channels MAP       the capture channel of bus lines, by index or name: WR=3,CE=2,CD=1,RD=0,D0=8,...\n"
    "                       (default: found by name: D0..D7 or DB0..DB7, /WR WR nWR WR#, ..., C/D CD A0)\n"
    "  -l, --loglevel N     libsigrok's log on standard error, 0 (none, the default) to 5\n";

int fail(const std::string& message) {
  std::cout.flush();
  std::cerr << "kelvari-replay: " << message << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  enum : int { ChannelsOption = 256 };
  const option options[] = {{"input-format", required_argument, nullptr, 'I'},
                            {"channels", required_argument, nullptr, ChannelsOption},
                            {"loglevel", required_argument, nullptr, 'l'},
                            {"help", no_argument, nullptr, 'h'},
                            {nullptr, 0, nullptr, 0}};
  replay::ReadOptions read;
  std::string channels;
  opterr = 0;
  try {
    for (int choice; (choice = getopt_long(argc, argv, ":I:l:h", options, nullptr)) != -1;) {
      switch (choice) {
        case 'I': read.format = replay::parseInputFormat(optarg); break;
        case ChannelsOption: channels = optarg; break;
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

    replay::InterimLog log(std::cout);
    replay::CycleExtractor extractor(log, channels, replay::Wiring{});
    const auto result = replay::readCapture(argv[optind], extractor, read);
    std::cout.flush();
    for (const auto& note : result.notes) std::cerr << "kelvari-replay: " << note << '\n';
    return 0;
  } catch (const std::exception& error) {
    return fail(error.what());
  }
}
