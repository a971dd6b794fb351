// Which reader takes a capture file.
#include "replay/capture_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "replay/sigrok_reader.h"
#include "replay/vcd_reader.h"

namespace replay {
namespace {

constexpr std::string_view VcdFormat = "vcd";

void checkReadable(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0 || ::access(path.c_str(), R_OK) != 0) {
    throw CaptureError("cannot read " + path + ": " + std::strerror(errno));
  }
  if (!S_ISREG(status.st_mode)) throw CaptureError("cannot read " + path + ": not a regular file");
}

bool startsAsZip(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char magic[4] = {};
  file.read(magic, sizeof magic);
  return file.gcount() == sizeof magic && std::memcmp(magic, "PK\x03\x04", sizeof magic) == 0;
}

}  // namespace

InputFormat parseInputFormat(std::string_view text) {
  InputFormat format;
  std::size_t from = 0;
  for (bool first = true; from <= text.size(); first = false) {
    const std::size_t colon = std::min(text.find(':', from), text.size());
    const std::string_view part = text.substr(from, colon - from);
    from = colon + 1;
    if (first) {
      format.name = part;
      continue;
    }
    const std::size_t equals = part.find('=');
    if (equals == 0 || equals == std::string_view::npos) {
      throw CaptureError("-I " + std::string(text) + ": \"" + std::string(part) + "\" is not OPTION=VALUE");
    }
    format.options.emplace_back(part.substr(0, equals), part.substr(equals + 1));
  }
  if (format.name.empty()) throw CaptureError("-I needs a format name, e.g. -I binary:numchannels=16:samplerate=24000000");
  return format;
}

ReadResult readCapture(const std::string& path, ChangeSink& sink, const ReadOptions& options) {
  checkReadable(path);
  if (options.format && options.format->name == VcdFormat) {
    if (!options.format->options.empty()) {
      throw CaptureError("-I vcd takes no options: kelvari-replay reads VCD itself, in the file's own time");
    }
    return {readVcd(path, sink), {}};
  }
  SigrokReader sigrok(options.libsigrokLogLevel);
  if (options.format) return sigrok.readInput(path, *options.format, sink);
  if (startsAsZip(path)) return sigrok.readSession(path, sink);
  const auto detected = sigrok.detectFormat(path);
  if (!detected) throw CaptureError(path + ": libsigrok does not recognise its format (name it with -I FORMAT)");
  if (*detected == VcdFormat) return {readVcd(path, sink), {}};
  return sigrok.readInput(path, {*detected, {}}, sink);
}

}  // namespace replay
