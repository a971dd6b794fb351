// Finding the bus lines among a capture's channels.
#include "replay/bus_lines.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

namespace replay {
namespace {

constexpr std::array<const char*, BusLineCount> Names = {"D0", "D1", "D2", "D3", "D4", "D5", "D6",
                                                         "D7", "/WR", "/RD", "/CE", "C/D"};

std::string upper(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return result;
}

// `base`, "/base", "Nbase" or "base#" (the name already upper case).
bool isStrobe(std::string_view name, std::string_view base) {
  if (name == base) return true;
  if (name.size() != base.size() + 1) return false;
  return ((name.front() == '/' || name.front() == 'N') && name.substr(1) == base) ||
         (name.back() == '#' && name.substr(0, base.size()) == base);
}

std::vector<std::string> split(std::string_view text, char separator) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (from <= text.size()) {
    const std::size_t at = std::min(text.find(separator, from), text.size());
    parts.emplace_back(text.substr(from, at - from));
    from = at + 1;
  }
  return parts;
}

// The channel `value` names: its index if it is a number, else its name (any case).
unsigned channelFor(const CaptureInfo& info, const std::string& value, const std::string& entry) {
  unsigned index = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), index);
  const bool isNumber = error == std::errc{} && end == value.data() + value.size();
  for (const auto& channel : info.channels) {
    if (isNumber ? channel.index == index : upper(channel.name) == upper(value)) return channel.index;
  }
  throw CaptureError("--channels " + entry + ": the capture has no channel " + value);
}

}  // namespace

const char* busLineName(BusLine line) { return Names[static_cast<std::size_t>(line)]; }

std::optional<BusLine> busLineForName(std::string_view text) {
  const std::string name = upper(text);
  if (name.starts_with('D')) {
    const std::string_view digit = std::string_view(name).substr(name.starts_with("DB") ? 2 : 1);
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '7') return static_cast<BusLine>(digit[0] - '0');
  }
  if (isStrobe(name, "WR")) return BusLine::Wr;
  if (isStrobe(name, "RD")) return BusLine::Rd;
  if (isStrobe(name, "CE")) return BusLine::Ce;
  if (name == "C/D" || name == "CD" || name == "A0") return BusLine::Cd;
  return std::nullopt;
}

ChannelAssignment assignChannels(const CaptureInfo& info, std::string_view map, const Wiring& wiring) {
  ChannelAssignment assignment;
  std::array<bool, BusLineCount> mapped{};
  if (!map.empty()) {
    for (const std::string& entry : split(map, ',')) {
      const auto equals = entry.find('=');
      const auto line = busLineForName(std::string_view(entry).substr(0, std::min(equals, entry.size())));
      if (equals == std::string::npos || !line || equals + 1 == entry.size()) {
        throw CaptureError("--channels: \"" + entry + "\" is not LINE=CHANNEL (a line is D0..D7, WR, RD, CE or CD)");
      }
      const auto index = static_cast<std::size_t>(*line);
      if (mapped[index]) throw CaptureError("--channels: " + std::string(busLineName(*line)) + " is given twice");
      assignment[index] = channelFor(info, entry.substr(equals + 1), entry);
      mapped[index] = true;
    }
  }
  for (const auto& channel : info.channels) {
    const auto line = busLineForName(channel.name);
    if (!line || mapped[static_cast<std::size_t>(*line)]) continue;
    auto& slot = assignment[static_cast<std::size_t>(*line)];
    if (slot) {
      throw CaptureError(std::string("two channels are named as ") + busLineName(*line) +
                         ": choose one with --channels");
    }
    slot = channel.index;
  }
  if (wiring.ceTiedLow) assignment[static_cast<std::size_t>(BusLine::Ce)].reset();
  if (wiring.rdTiedHigh) assignment[static_cast<std::size_t>(BusLine::Rd)].reset();

  std::string missing;
  for (std::size_t line = 0; line < BusLineCount; ++line) {
    const bool tied = (line == static_cast<std::size_t>(BusLine::Ce) && wiring.ceTiedLow) ||
                      (line == static_cast<std::size_t>(BusLine::Rd) && wiring.rdTiedHigh);
    if (!assignment[line] && !tied) missing += std::string(missing.empty() ? "" : " ") + Names[line];
  }
  if (!missing.empty()) {
    throw CaptureError("the capture has no channel for " + missing +
                       " (name the channels as the bus lines, or map them with --channels)");
  }
  for (std::size_t line = 0; line < BusLineCount; ++line) {
    for (std::size_t other = line + 1; other < BusLineCount; ++other) {
      if (assignment[line] && assignment[line] == assignment[other]) {
        throw CaptureError("channel " + std::to_string(*assignment[line]) + " is both " + Names[line] + " and " +
                           Names[other]);
      }
    }
  }
  return assignment;
}

ChannelSelection selectionOf(const ChannelAssignment& assignment) {
  return ChannelSelection(assignment.begin(), assignment.end());
}

}  // namespace replay
