// Reading a capture file of any format into level changes (capture.h): sigrok session files
// through libsigrok's session loader (one cut short through the replay's own reader,
// session_file.h), VCD through the replay's own reader (vcd_reader.h), everything else
// through libsigrok's input modules, found as libsigrok finds them or named with
// `-I FORMAT[:OPTION=VALUE...]` as sigrok-cli takes it. Streamed: memory does not grow with
// the capture, and reading stops where the sink's reading ends. Only this reader knows
// libsigrok.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "replay/capture.h"

namespace replay {

struct InputFormat {
  std::string name;
  std::vector<std::pair<std::string, std::string>> options;
};

// "binary:numchannels=16:samplerate=24000000"; throws CaptureError if malformed.
InputFormat parseInputFormat(std::string_view text);

struct ReadOptions {
  std::optional<InputFormat> format;  // empty: found from the file
  int libsigrokLogLevel = 0;          // 0 (none) to 5 (spew), as sigrok-cli's -l
};

struct ReadResult {
  std::uint64_t samples = 0;
  std::vector<std::string> notes;  // said on standard error: a truncated session file
};

// Throws CaptureError with one line for bad input, and passes on what `sink` throws.
ReadResult readCapture(const std::string& path, ChangeSink& sink, const ReadOptions& options);

}  // namespace replay
