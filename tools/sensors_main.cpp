// kelvari-sensors: publishes this machine's temperatures, fan speeds and voltages in the
// hardware monitor's shared-memory block about once a second, for the sensor window.
//   kelvari-sensors [--config FILE] [--block NAME] | --help
// --config: a libsensors configuration to use instead of the system's; --block: another
// block name, with or without its leading "/" (tests, a second publisher). Prints which
// sensor went to which slot, runs until SIGINT, SIGTERM, SIGHUP or SIGQUIT, then removes the
// block and says so. A closed standard output costs only the lines. Exit status 0 after a
// signal or --help, 1 when the configuration or the block cannot be used, 2 for a bad
// command line.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <string_view>

#include "sensors/mbm_shared_data.h"
#include "tools/hardware_monitors.h"
#include "tools/published_block.h"

namespace {

constexpr char Program[] = "kelvari-sensors";
constexpr std::timespec Interval{1, 0};

constexpr char Usage[] =
    "usage: kelvari-sensors [--config FILE] [--block NAME]\n"
    "  --config FILE  the libsensors configuration to use instead of the system's\n"
    "  --block NAME   publish under another name than the test bench reads (tests, a second\n"
    "                 publisher beside the first); \"NAME\" and \"/NAME\" are the same block\n";

struct Options {
  std::string config;
  std::string block = kelvari::mbm::BlockName;
  bool help = false;
};

bool parse(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" && argc == 2) {
      options.help = true;
      return true;
    }
    if (i + 1 == argc || (option != "--config" && option != "--block")) return false;
    std::string_view value = argv[++i];
    if (option == "--block" && value.starts_with('/')) value.remove_prefix(1);
    (option == "--config" ? options.config : options.block) = value;
  }
  return true;
}

void printSlots(const kelvari::publisher::HardwareMonitors& monitors, const std::string& objectName) {
  if (monitors.slots().empty()) {
    std::printf("%s: no hardware monitors found; publishing zeros in %s\n", Program, objectName.c_str());
    return;
  }
  std::printf("%s: publishing in %s about once a second:\n", Program, objectName.c_str());
  for (const kelvari::publisher::SensorSlot& slot : monitors.slots()) {
    std::printf("  %-8s %s: %s\n", slotName(slot).c_str(), slot.chip.c_str(), slot.label.c_str());
  }
}

// Standard input, output and error that were closed at start lead to /dev/null, so that the
// block never takes their numbers and receives the lines meant for them.
void keepStandardStreamsOpen() {
  for (int stream = STDIN_FILENO; stream <= STDERR_FILENO; ++stream) {
    if (fcntl(stream, F_GETFD) < 0) open("/dev/null", O_RDWR);  // takes the lowest free number
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parse(argc, argv, options)) {
    std::fputs(Usage, stderr);
    return 2;
  }
  if (options.help) {
    std::fputs(Usage, stdout);
    return 0;
  }
  keepStandardStreamsOpen();
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // a line that cannot be written is dropped, not kept
  signal(SIGPIPE, SIG_IGN);  // a reader gone: its lines fail, the run goes on

  // The signals that end the run are taken synchronously between two rewrites.
  sigset_t endSignals;
  sigemptyset(&endSignals);
  for (const int ending : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&endSignals, ending);
  sigprocmask(SIG_BLOCK, &endSignals, nullptr);

  try {
    const kelvari::publisher::HardwareMonitors monitors(options.config);
    kelvari::publisher::PublishedBlock block(options.block);
    block.write(monitors.read());
    printSlots(monitors, block.objectName());
    for (;;) {
      if (sigtimedwait(&endSignals, nullptr, &Interval) > 0) break;
      block.write(monitors.read());
    }
    std::printf(block.remove() ? "%s: stopped; %s removed\n" : "%s: stopped; %s was no longer ours, left alone\n",
                Program, block.objectName().c_str());
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", Program, error.what());
    return 1;
  }
  return 0;
}
