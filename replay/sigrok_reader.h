// The part of the capture reader that goes through libsigrok: its session loader, its input
// modules and its format detection, on one libsigrok context. A session file the loader
// cannot serve (cut short) goes to session_file.h, which also checks that the loader gave
// every sample the file holds.
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
  std::shared_ptr<sigrok::Context> context_;
};

}  // namespace replay
