// The streaming VCD reader.
#include "replay/vcd_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace replay {
namespace {

constexpr std::size_t BufferBytes = std::size_t{1} << 20;

// Whitespace-separated tokens of a file, read a buffer at a time.
class Tokens {
 public:
  explicit Tokens(const std::string& path) : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw CaptureError("cannot read " + path + ": " + std::strerror(errno));
  }
  ~Tokens() { ::close(fd_); }
  Tokens(const Tokens&) = delete;
  Tokens& operator=(const Tokens&) = delete;

  // The next token, valid until the next call; empty at the end of the file.
  std::string_view next() {
    for (;;) {
      while (begin_ < end_ && isSpace(buffer_[begin_])) ++begin_;
      std::size_t stop = begin_;
      while (stop < end_ && !isSpace(buffer_[stop])) ++stop;
      if (stop < end_ || (atEnd_ && stop > begin_)) {
        const std::string_view token(buffer_.data() + begin_, stop - begin_);
        begin_ = stop;
        return token;
      }
      if (atEnd_) return {};
      refill();
    }
  }

  // The rest of a section up to its "$end".
  void skipSection() {
    for (auto token = next(); token != "$end"; token = next()) {
      if (token.empty()) throw CaptureError(path_ + ": a VCD section has no $end");
    }
  }

  const std::string& path() const { return path_; }

 private:
  static bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

  void refill() {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (end_ == buffer_.size()) throw CaptureError(path_ + ": a VCD token longer than 1 MiB");
    const ssize_t got = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (got < 0 && errno == EINTR) return;
    if (got < 0) throw CaptureError("cannot read " + path_ + ": " + std::strerror(errno));
    if (got == 0) atEnd_ = true;
    end_ += static_cast<std::size_t>(got);
  }

  std::string path_;
  int fd_;
  std::vector<char> buffer_ = std::vector<char>(BufferBytes);
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  bool atEnd_ = false;
};

std::uint64_t number(std::string_view text, const Tokens& tokens, const char* what) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) {
    throw CaptureError(tokens.path() + ": " + what + " \"" + std::string(text) + "\" is no number");
  }
  return value;
}

// "1 us", "10ns", "100 ps": samples per second, one per unit.
std::uint64_t rateOfTimescale(const std::string& text, const Tokens& tokens) {
  constexpr std::array<std::pair<std::string_view, std::uint64_t>, 6> Units = {
      {{"fs", 1}, {"ps", 1'000}, {"ns", 1'000'000}, {"us", 1'000'000'000}, {"ms", 1'000'000'000'000}, {"s", 1'000'000'000'000'000}}};
  const std::size_t digits = text.find_first_not_of("0123456789");
  const std::string_view unit = std::string_view(text).substr(digits == std::string::npos ? text.size() : digits);
  const std::uint64_t count = number(std::string_view(text).substr(0, digits), tokens, "$timescale");
  for (const auto& [name, femtoseconds] : Units) {
    if (unit != name) continue;
    const std::uint64_t period = count * femtoseconds;
    if (count == 0 || period > Units.back().second) break;
    return Units.back().second / period;
  }
  throw CaptureError(tokens.path() + ": $timescale " + text + " gives no sample rate (1 fs to 1 s)");
}

struct Variable {
  std::string id;
  bool channel = false;  // 1 bit wide
};

class VcdReader {
 public:
  VcdReader(const std::string& path, ChangeSink& sink) : tokens_(path), sink_(sink) {}

  std::uint64_t read() {
    readHeader();
    readChanges();
    const std::uint64_t samples = done_ ? endSample_ : timed_ ? now_ - first_ + 1 : 0;
    sink_.end(samples);
    return samples;
  }

 private:
  void readHeader() {
    std::uint64_t rate = 0;
    for (auto token = tokens_.next();; token = tokens_.next()) {
      if (token.empty()) throw CaptureError(tokens_.path() + ": not a VCD (no $enddefinitions)");
      if (token == "$var") {
        readVariable();
      } else if (token == "$timescale") {
        std::string text;
        for (token = tokens_.next(); token != "$end" && !token.empty(); token = tokens_.next()) text += token;
        rate = rateOfTimescale(text, tokens_);
      } else if (token == "$enddefinitions") {
        tokens_.skipSection();
        break;
      } else if (token.front() == '$') {
        tokens_.skipSection();
      } else {
        throw CaptureError(tokens_.path() + ": not a VCD (\"" + std::string(token.substr(0, 40)) + "\" in its header)");
      }
    }
    if (rate == 0) throw CaptureError(tokens_.path() + ": the VCD has no $timescale, so no sample rate");
    if (info_.channels.empty()) throw CaptureError(tokens_.path() + ": no logic channels (1-bit $var) in the VCD");
    info_.sampleRate = rate;
    const Reading reading = sink_.begin(info_);
    endSample_ = reading.endSample;
    select(reading.channels);
  }

  void readVariable() {
    std::vector<std::string> fields;
    for (auto token = tokens_.next(); token != "$end"; token = tokens_.next()) {
      if (token.empty()) throw CaptureError(tokens_.path() + ": a $var has no $end");
      fields.emplace_back(token);
    }
    if (fields.size() < 4) throw CaptureError(tokens_.path() + ": a $var without type, size, code and name");
    const bool channel = fields[1] == "1";
    if (channel) {
      std::string name = fields[3];
      for (std::size_t i = 4; i < fields.size(); ++i) name += fields[i];
      info_.channels.push_back({static_cast<unsigned>(info_.channels.size()), name});
    }
    variables_.push_back({fields[2], channel});
  }

  void select(const ChannelSelection& selection) {
    std::vector<const Variable*> channelVariables;
    for (const auto& variable : variables_) {
      if (variable.channel) channelVariables.push_back(&variable);
    }
    if (selection.size() > MaxSelectedChannels) throw CaptureError("more than 64 channels selected");
    for (unsigned k = 0; k < selection.size(); ++k) {
      if (!selection[k] || *selection[k] >= channelVariables.size()) continue;
      bits_[channelVariables[*selection[k]]->id] |= std::uint64_t{1} << k;
      levels_.undefined |= std::uint64_t{1} << k;
    }
  }

  // Up to the end of the file or the first timestamp at the reading's end.
  void readChanges() {
    for (auto token = tokens_.next(); !token.empty() && !done_; token = tokens_.next()) {
      const char kind = token.front();
      if (kind == '#') {
        advanceTo(number(token.substr(1), tokens_, "timestamp"));
      } else if (kind == '$') {
        if (token == "$comment") tokens_.skipSection();  // $dumpvars, $dumpon, ... and their $end carry values only
      } else if (kind == 'b' || kind == 'B' || kind == 'r' || kind == 'R') {
        const char level = token.back();
        const auto id = tokens_.next();
        if (id.empty()) throw CaptureError(tokens_.path() + ": a vector value without its variable");
        if (kind == 'b' || kind == 'B') set(id, level);
      } else if (token.size() >= 2) {
        set(token.substr(1), kind);
      } else {
        throw CaptureError(tokens_.path() + ": \"" + std::string(token) + "\" is no value change");
      }
    }
    if (timed_ && !done_) flush();
  }

  void set(std::string_view id, char level) {
    const auto found = bits_.find(id);
    if (found == bits_.end()) return;
    const std::uint64_t bits = found->second;
    levels_.high &= ~bits;
    levels_.undefined &= ~bits;
    levels_.floating &= ~bits;
    switch (level) {
      case '0': break;
      case '1': levels_.high |= bits; break;
      case 'x': case 'X': levels_.undefined |= bits; break;
      case 'z': case 'Z': levels_.floating |= bits; break;
      default: throw CaptureError(tokens_.path() + ": level '" + std::string(1, level) + "' is none of 0, 1, x, z");
    }
  }

  void advanceTo(std::uint64_t time) {
    if (!timed_) {
      timed_ = true;
      first_ = now_ = time;
      done_ = endSample_ == 0;
      return;
    }
    if (time < now_) {
      throw CaptureError(tokens_.path() + ": time runs backwards at #" + std::to_string(time));
    }
    if (time == now_) return;
    flush();
    now_ = time;
    done_ = now_ - first_ >= endSample_;
  }

  void flush() {
    if (emitted_ && levels_ == lastEmitted_) return;
    sink_.change(now_ - first_, levels_);
    lastEmitted_ = levels_;
    emitted_ = true;
  }

  struct Hash : std::hash<std::string_view> {
    using is_transparent = void;
  };

  Tokens tokens_;
  ChangeSink& sink_;
  CaptureInfo info_;
  std::vector<Variable> variables_;
  std::unordered_map<std::string, std::uint64_t, Hash, std::equal_to<>> bits_;  // id -> bits in the levels
  Levels levels_;
  Levels lastEmitted_;
  bool emitted_ = false;
  bool timed_ = false;
  std::uint64_t endSample_ = AllSamples;
  bool done_ = false;  // a timestamp at the reading's end was read
  std::uint64_t first_ = 0;
  std::uint64_t now_ = 0;
};

}  // namespace

std::uint64_t readVcd(const std::string& path, ChangeSink& sink) { return VcdReader(path, sink).read(); }

}  // namespace replay
