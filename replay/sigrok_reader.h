// The part of the capture reader that goes through libsigrok: its session loader, its input
// modules and its format detection, on one libsigrok context. A session file cut short
// (no end record: the capture was stopped or copied short) is refused by libsigrok's loader;
// it is read member by member instead, as far as it goes.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "replay/capture_reader.h"

namespace sigrok {
class Context;
}

namespace replay {

class SigrokReader {
 public:
  explicit SigrokReader(int logLevel);

  // The name of the input module libsigrok finds for the file, if any.
  std::optional<std::string> detectFormat(const std::string& path);
  ReadResult readSession(const std::string& path, ChangeSink& sink);
  ReadResult readInput(const std::string& path, const InputFormat& format, ChangeSink& sink);

 private:
  ReadResult readTruncatedSession(const std::string& path, ChangeSink& sink);

  std::shared_ptr<sigrok::Context> context_;
};

}  // namespace replay
