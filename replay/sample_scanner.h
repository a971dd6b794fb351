// Level changes from dense sample blocks (libsigrok's logic packets, a session file's
// members): each sample is a unit of 1 to 8 bytes, little endian, channel n at bit n.
// Unchanged runs are skipped 64 bytes at a time by comparing whole words against the last
// sample's selected bits, and within a block the change is found eight bytes at a time; the
// levels of a changed sample come from a table per byte of the unit. The scan stops at the
// reading's end sample, in the middle of a block if need be. SampleFeed begins the scan once
// the capture's rate and channels are known. Leaves out units wider than 8 bytes (more than
// 64 channels).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "replay/capture.h"

namespace replay {

class SampleScanner {
 public:
  // Throws CaptureError for a unit size outside 1..8 or a selected channel beyond the unit.
  SampleScanner(const Reading& reading, unsigned unitSize, ChangeSink& sink);

  // The next bytes of the capture; a unit split between two calls is joined. Bytes past the
  // reading's end are left unread.
  void scan(const std::uint8_t* data, std::size_t bytes);
  std::uint64_t samples() const { return samples_; }
  // The reading's end is reached: the reader need read no further.
  bool done() const { return samples_ == endSample_; }

 private:
  template <typename Word>
  void scanWords(const std::uint8_t* data, std::size_t count);
  void scanUnits(const std::uint8_t* data, std::size_t count);
  void emit(std::uint64_t sample, std::uint64_t word);

  ChangeSink& sink_;
  unsigned unitSize_;
  std::uint64_t endSample_;
  std::uint64_t mask_ = 0;  // the selected channels' bits in a unit
  // Per byte of a unit, its value's bits as the levels' bits of the selected channels.
  std::vector<std::array<std::uint64_t, 256>> levelsOfByte_;
  std::uint64_t previous_ = 0;                           // the last sample's selected bits
  std::uint64_t samples_ = 0;
  std::array<std::uint8_t, 8> partial_{};
  std::size_t partialBytes_ = 0;
};

// Samples of a capture file whose rate and channels are read before its samples: the sink
// begins with the first samples (or at the end, for a capture without any), and a capture
// without logic channels or a sample rate is refused then. Once done(), the reader stops.
class SampleFeed {
 public:
  SampleFeed(ChangeSink& sink, std::string path) : sink_(sink), path_(std::move(path)) {}

  void setChannels(std::vector<ChannelInfo> channels) { info_.channels = std::move(channels); }
  void setRate(std::uint64_t rate) { info_.sampleRate = rate; }
  void samples(const std::uint8_t* data, std::size_t bytes, unsigned unitSize);
  bool done() const { return scanner_ && scanner_->done(); }
  // The number of samples read, after the sink's end.
  std::uint64_t finish();

 private:
  void begin(unsigned unitSize);

  ChangeSink& sink_;
  std::string path_;
  CaptureInfo info_;
  std::optional<SampleScanner> scanner_;
};

}  // namespace replay
