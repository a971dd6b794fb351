// The change scan on samples of every unit width an analyser writes: the selected channels in
// every byte of the unit, other channels changing beside them, the samples handed over in
// pieces that split units, and a reading that ends before the samples do.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "replay/sample_scanner.h"

namespace {

struct Change {
  std::uint64_t sample;
  std::uint64_t high;
  bool operator==(const Change&) const = default;
};

class Recording : public replay::ChangeSink {
 public:
  std::vector<Change> changes;
  std::uint64_t samples = 0;
  replay::Reading begin(const replay::CaptureInfo&) override { return {}; }
  void change(std::uint64_t sample, const replay::Levels& levels) override { changes.push_back({sample, levels.high}); }
  void end(std::uint64_t count) override { samples = count; }
};

class ScanOfUnit : public ::testing::TestWithParam<unsigned> {};

TEST_P(ScanOfUnit, GivesEachChangeOfTheSelectedChannelsAndStopsAtTheReadingsEnd) {
  const unsigned unitBytes = GetParam();
  constexpr std::uint64_t Samples = 20'000;
  constexpr unsigned Selected = 12;
  // Selected channel k at bit k * 8 * unitBytes / 12 of the unit: every byte carries some.
  replay::Reading reading;
  std::uint64_t selectedBits = 0;
  for (unsigned k = 0; k < Selected; ++k) {
    reading.channels.emplace_back(k * 8 * unitBytes / Selected);
    selectedBits |= std::uint64_t{1} << *reading.channels.back();
  }
  // Runs of 1 to 300 samples; every run changes the other channels, every third a selected one.
  std::vector<std::uint8_t> bytes;
  std::vector<Change> expected;
  std::uint64_t word = 0;
  std::uint32_t random = 1;
  for (std::uint64_t sample = 0, runEnd = 0; sample < Samples; ++sample) {
    if (sample == runEnd) {
      random = random * 1103515245 + 12345;
      runEnd = sample + 1 + (random >> 16) % 300;
      word ^= ~selectedBits & (static_cast<std::uint64_t>(random) * 0x9E3779B97F4A7C15ULL);
      if (sample % 3 == 0 || sample == 0) {
        const unsigned k = (random >> 8) % Selected;
        if (sample > 0) word ^= std::uint64_t{1} << *reading.channels[k];
        std::uint64_t high = 0;
        for (unsigned j = 0; j < Selected; ++j) high |= (word >> *reading.channels[j] & 1U) << j;
        expected.push_back({sample, high});
      }
    }
    for (unsigned b = 0; b < unitBytes; ++b) bytes.push_back(static_cast<std::uint8_t>(word >> 8 * b));
  }

  for (const std::uint64_t end : {replay::AllSamples, Samples / 2}) {
    Recording sink;
    reading.endSample = end;
    replay::SampleScanner scanner(reading, unitBytes, sink);
    for (std::size_t from = 0, piece = 7; from < bytes.size(); from += piece, piece = piece * 5 % 997 + 1) {
      scanner.scan(bytes.data() + from, std::min(piece, bytes.size() - from));
    }
    std::vector<Change> wanted;
    for (const auto& change : expected) {
      if (change.sample < end) wanted.push_back(change);
    }
    EXPECT_EQ(sink.changes, wanted) << "reading to " << end;
    EXPECT_EQ(scanner.samples(), std::min(end, Samples));
    EXPECT_EQ(scanner.done(), end == Samples / 2);
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, ScanOfUnit, ::testing::Values(2U, 3U, 4U, 8U),
                         [](const auto& tested) { return std::to_string(tested.param) + "Bytes"; });

}  // namespace
