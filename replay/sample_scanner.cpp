// Level changes from dense sample blocks.
#include "replay/sample_scanner.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace replay {
namespace {

static_assert(std::endian::native == std::endian::little, "samples are read as little-endian words");

constexpr std::size_t BlockBytes = 64;
constexpr unsigned MaxUnitBytes = 8;

std::uint64_t load64(const std::uint8_t* data) {
  std::uint64_t word;
  std::memcpy(&word, data, sizeof word);
  return word;
}

// `value` repeated in every Word-sized lane of 64 bits.
template <typename Word>
constexpr std::uint64_t lanes(std::uint64_t value) {
  return value * (~std::uint64_t{0} / static_cast<std::uint64_t>(static_cast<Word>(~Word{0})));
}

// None of the 64 bytes at `data` differs from `pattern` in a bit of `mask`.
bool blockUnchanged(const std::uint8_t* data, std::uint64_t pattern, std::uint64_t mask) {
  std::uint64_t differences = 0;
  for (std::size_t offset = 0; offset < BlockBytes; offset += 8) differences |= load64(data + offset) ^ pattern;
  return (differences & mask) == 0;
}

// The first of the Words from `i` to `count` at `data` that differs from `pattern`'s lane in
// a bit of `maskLanes`, eight bytes at a time; `count` if none does.
template <typename Word>
std::size_t firstChange(const std::uint8_t* data, std::size_t i, std::size_t count, std::uint64_t pattern,
                        std::uint64_t maskLanes) {
  constexpr std::size_t PerLoad = 8 / sizeof(Word);
  for (; i + PerLoad <= count; i += PerLoad) {
    const std::uint64_t differences = (load64(data + i * sizeof(Word)) ^ pattern) & maskLanes;
    if (differences != 0) return i + static_cast<std::size_t>(std::countr_zero(differences)) / (8 * sizeof(Word));
  }
  const auto mask = static_cast<Word>(maskLanes);
  for (; i < count; ++i) {
    Word word;
    std::memcpy(&word, data + i * sizeof(Word), sizeof word);
    if (static_cast<Word>((word ^ pattern) & mask) != 0) return i;
  }
  return count;
}

}  // namespace

SampleScanner::SampleScanner(const Reading& reading, unsigned unitSize, ChangeSink& sink)
    : sink_(sink), unitSize_(unitSize), endSample_(reading.endSample) {
  const ChannelSelection& selection = reading.channels;
  if (unitSize < 1 || unitSize > 8) {
    throw CaptureError("samples of " + std::to_string(unitSize) + " bytes: at most 64 logic channels are read");
  }
  if (selection.size() > MaxSelectedChannels) throw CaptureError("more than 64 channels selected");
  for (unsigned k = 0; k < selection.size(); ++k) {
    if (!selection[k]) continue;
    if (*selection[k] >= unitSize * 8) {
      throw CaptureError("channel " + std::to_string(*selection[k]) + " is not in the samples (" +
                         std::to_string(unitSize * 8) + " channels)");
    }
    mask_ |= std::uint64_t{1} << *selection[k];
    const unsigned byte = *selection[k] / 8;
    if (byte >= levelsOfByte_.size()) levelsOfByte_.resize(byte + 1);
    for (unsigned value = 0; value < 256; ++value) {
      if ((value >> *selection[k] % 8 & 1U) != 0) levelsOfByte_[byte][value] |= std::uint64_t{1} << k;
    }
  }
}

void SampleScanner::emit(std::uint64_t sample, std::uint64_t word) {
  Levels levels;
  for (std::size_t byte = 0; byte < levelsOfByte_.size(); ++byte) {
    levels.high |= levelsOfByte_[byte][word >> 8 * byte & 0xFF];
  }
  sink_.change(sample, levels);
}

void SampleScanner::scan(const std::uint8_t* data, std::size_t bytes) {
  if (done()) return;
  if (partialBytes_ > 0) {
    const std::size_t taken = std::min(bytes, unitSize_ - partialBytes_);
    std::memcpy(partial_.data() + partialBytes_, data, taken);
    partialBytes_ += taken;
    data += taken;
    bytes -= taken;
    if (partialBytes_ < unitSize_) return;
    partialBytes_ = 0;
    scanUnits(partial_.data(), 1);
    if (done()) return;
  }
  const std::size_t whole = bytes / unitSize_;
  const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(whole, endSample_ - samples_));
  switch (unitSize_) {
    case 1: scanWords<std::uint8_t>(data, count); break;
    case 2: scanWords<std::uint16_t>(data, count); break;
    case 4: scanWords<std::uint32_t>(data, count); break;
    case 8: scanWords<std::uint64_t>(data, count); break;
    default: scanUnits(data, count); break;
  }
  if (count < whole) return;  // done
  partialBytes_ = bytes - count * unitSize_;
  std::memcpy(partial_.data(), data + count * unitSize_, partialBytes_);
}

template <typename Word>
void SampleScanner::scanWords(const std::uint8_t* data, std::size_t count) {
  constexpr std::size_t PerBlock = BlockBytes / sizeof(Word);
  const auto mask = static_cast<Word>(mask_);
  const std::uint64_t maskLanes = lanes<Word>(mask);
  std::size_t i = 0;
  if (samples_ == 0 && count > 0) {
    Word first;
    std::memcpy(&first, data, sizeof first);
    previous_ = first & mask;
    emit(0, previous_);
  }
  auto previous = static_cast<Word>(previous_);
  for (;;) {
    const std::uint64_t pattern = lanes<Word>(previous);
    while (i + PerBlock <= count && blockUnchanged(data + i * sizeof(Word), pattern, maskLanes)) i += PerBlock;
    i = firstChange<Word>(data, i, count, pattern, maskLanes);
    if (i == count) break;
    std::memcpy(&previous, data + i * sizeof(Word), sizeof previous);
    previous &= mask;
    emit(samples_ + i, previous);
    ++i;
  }
  previous_ = previous;
  samples_ += count;
}

void SampleScanner::scanUnits(const std::uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::uint64_t word = 0;
    std::memcpy(&word, data + i * unitSize_, unitSize_);
    word &= mask_;
    if (samples_ + i == 0 || word != previous_) {
      previous_ = word;
      emit(samples_ + i, word);
    }
  }
  samples_ += count;
}

void SampleFeed::samples(const std::uint8_t* data, std::size_t bytes, unsigned unitSize) {
  if (!scanner_) begin(unitSize);
  scanner_->scan(data, bytes);
}

std::uint64_t SampleFeed::finish() {
  if (!scanner_) begin(MaxUnitBytes);  // no samples: any unit holds the channels
  sink_.end(scanner_->samples());
  return scanner_->samples();
}

void SampleFeed::begin(unsigned unitSize) {
  if (info_.channels.empty()) throw CaptureError(path_ + ": the capture has no logic channels");
  if (info_.sampleRate == 0) {
    throw CaptureError(path_ + ": the capture gives no sample rate (give it, e.g. -I FORMAT:samplerate=24000000)");
  }
  scanner_.emplace(sink_.begin(info_), unitSize, sink_);
}

}  // namespace replay
