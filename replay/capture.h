// A logic analyser's capture as the replay reads it, whatever file it came from: the sample
// rate, the logic channels by name, and a stream of level changes. Readers (capture_reader.h)
// produce it; the cycle extractor consumes it, and says how far it wants it read: a reader
// stops there, without reading the rest of the file. Sample n is at n / rate seconds from the
// first sample. Leaves out analog channels and the capture's wall-clock start.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace replay {

// Bad input: a file that cannot be read, an unknown format, a capture without the lines.
// Its message is one line, ready for standard error.
class CaptureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ChannelInfo {
  unsigned index = 0;  // the capture's own channel number (bit in a sample, order in a VCD)
  std::string name;
};

struct CaptureInfo {
  std::uint64_t sampleRate = 0;  // Hz, never 0
  std::vector<ChannelInfo> channels;
};

// The channels a consumer reads, as capture channel indices. Element k becomes bit k of
// the levels; an empty element is a line the capture does not carry (it stays low).
using ChannelSelection = std::vector<std::optional<unsigned>>;
inline constexpr std::size_t MaxSelectedChannels = 64;
inline constexpr std::uint64_t AllSamples = ~std::uint64_t{0};

// What a consumer reads of a capture: the channels it follows, and the first sample it does
// not want (AllSamples: to the end of the capture).
struct Reading {
  ChannelSelection channels;
  std::uint64_t endSample = AllSamples;
};

// Levels of the selected channels, bit k for element k of the selection. A channel that
// is `undefined` (a VCD's x) or `floating` (z) has its bit in `high` cleared.
struct Levels {
  std::uint64_t high = 0;
  std::uint64_t undefined = 0;
  std::uint64_t floating = 0;

  bool operator==(const Levels&) const = default;
};

class ChangeSink {
 public:
  virtual ~ChangeSink() = default;
  // Once, before any change: the capture's rate and channels. Returns what to read (at
  // most MaxSelectedChannels channels), or throws CaptureError to refuse the capture.
  virtual Reading begin(const CaptureInfo& info) = 0;
  // The levels from `sample` on; the first call is at sample 0 with the initial levels,
  // later ones come only when a selected channel changed, in rising sample order, and only
  // below the reading's end.
  virtual void change(std::uint64_t sample, const Levels& levels) = 0;
  // `samples` samples were read (the last change is below it): the whole capture, or up to
  // the reading's end if the capture went on that far.
  virtual void end(std::uint64_t samples) = 0;
};

}  // namespace replay
