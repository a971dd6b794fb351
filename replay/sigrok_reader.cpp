// Captures through libsigrok: session files, input modules, format detection.
#include "replay/sigrok_reader.h"

#include <libsigrokcxx/libsigrokcxx.hpp>

#include <exception>
#include <fstream>
#include <vector>

#include "replay/sample_scanner.h"
#include "replay/session_file.h"

namespace replay {
namespace {

constexpr std::size_t ChunkBytes = std::size_t{1} << 20;

std::vector<ChannelInfo> logicChannels(sigrok::Device& device) {
  std::vector<ChannelInfo> channels;
  for (const auto& channel : device.channels()) {
    if (channel->type() == sigrok::ChannelType::LOGIC) channels.push_back({channel->index(), channel->name()});
  }
  return channels;
}

// Logic data from libsigrok's callbacks into level changes. Nothing is thrown into
// libsigrok's C code: an error is kept, and rethrown by finish().
class LogicFeed {
 public:
  LogicFeed(ChangeSink& sink, std::string path) : feed_(sink, std::move(path)) {}

  void setChannels(std::vector<ChannelInfo> channels) { feed_.setChannels(std::move(channels)); }
  void setRate(std::uint64_t rate) { feed_.setRate(rate); }
  bool failed() const { return error_ != nullptr; }
  // Failed, or the sink has what it wants: the reader stops.
  bool stops() const { return failed() || feed_.done(); }
  // The bytes of logic data libsigrok gave.
  std::uint64_t bytes() const { return bytes_; }

  void packet(sigrok::Packet& packet) noexcept {
    if (stops()) return;
    try {
      if (packet.type() == sigrok::PacketType::META) {
        const auto meta = std::dynamic_pointer_cast<sigrok::Meta>(packet.payload());
        for (const auto& [key, value] : meta->config()) {
          if (key == sigrok::ConfigKey::SAMPLERATE) {
            feed_.setRate(Glib::VariantBase::cast_dynamic<Glib::Variant<guint64>>(value).get());
          }
        }
      } else if (packet.type() == sigrok::PacketType::LOGIC) {
        const auto logic = std::dynamic_pointer_cast<sigrok::Logic>(packet.payload());
        bytes_ += logic->data_length();
        feed_.samples(static_cast<const std::uint8_t*>(logic->data_pointer()), logic->data_length(),
                      logic->unit_size());
      }
    } catch (...) {
      error_ = std::current_exception();
    }
  }

  // The number of samples, after the sink's end.
  std::uint64_t finish() {
    if (error_) std::rethrow_exception(error_);
    return feed_.finish();
  }

 private:
  SampleFeed feed_;
  std::uint64_t bytes_ = 0;
  std::exception_ptr error_;
};

std::string describe(const std::map<std::string, std::shared_ptr<sigrok::InputFormat>>& formats) {
  std::string names;
  for (const auto& [name, format] : formats) names += (names.empty() ? "" : ", ") + name;
  return names;
}

}  // namespace

SigrokReader::SigrokReader(int logLevel) : context_(sigrok::Context::create()) {
  context_->set_log_level(sigrok::LogLevel::get(logLevel));
}

// Through libsigrok's C call: the C++ binding's input_format_match() of 0.5.2 returns a
// format without a module for a file that no module takes, which crashes on first use.
std::optional<std::string> SigrokReader::detectFormat(const std::string& path) {
  const sr_input* input = nullptr;
  if (sr_input_scan_file(path.c_str(), &input) != SR_OK || input == nullptr) return std::nullopt;
  std::string name = sr_input_id_get(sr_input_module_get(input));
  sr_input_free(input);
  return name;
}

ReadResult SigrokReader::readSession(const std::string& path, ChangeSink& sink) {
  std::shared_ptr<sigrok::Session> session;
  try {
    session = context_->load_session(path);
  } catch (const sigrok::Error& error) {
    if (!hasZipEndRecord(path)) return readCutSession(path, sink);
    throw CaptureError("libsigrok cannot load the session file " + path + ": " + error.what());
  }
  const auto devices = session->devices();
  if (devices.empty()) throw CaptureError(path + ": the session file holds no device");
  // Its packets would come mixed with the first device's.
  if (devices.size() > 1) {
    throw CaptureError(path + ": the session file holds " + std::to_string(devices.size()) +
                       " devices; kelvari-replay replays the capture of one");
  }
  LogicFeed feed(sink, path);
  feed.setChannels(logicChannels(*devices.front()));
  try {
    feed.setRate(Glib::VariantBase::cast_dynamic<Glib::Variant<guint64>>(
                     devices.front()->config_get(sigrok::ConfigKey::SAMPLERATE)).get());
  } catch (const sigrok::Error&) {
    // no rate: refused with the first samples
  }
  session->add_datafeed_callback([&](std::shared_ptr<sigrok::Device>, std::shared_ptr<sigrok::Packet> packet) {
    feed.packet(*packet);
    if (feed.stops()) session->stop();
  });
  session->start();
  session->run();
  if (!feed.stops()) checkSessionWhole(path, feed.bytes());  // before the sink's end
  return {feed.finish(), {}};
}

ReadResult SigrokReader::readInput(const std::string& path, const InputFormat& format, ChangeSink& sink) {
  const auto formats = context_->input_formats();
  const auto found = formats.find(format.name);
  if (found == formats.end()) {
    throw CaptureError("libsigrok has no input format \"" + format.name + "\" (it has " + describe(formats) + ")");
  }
  std::map<std::string, Glib::VariantBase> options;
  auto known = found->second->options();
  for (const auto& [key, value] : format.options) {
    const auto option = known.find(key);
    if (option == known.end()) {
      std::string names;
      for (const auto& [name, unused] : known) names += (names.empty() ? "" : ", ") + name;
      throw CaptureError("-I " + format.name + ": no option \"" + key + "\" (it has " + (names.empty() ? "none" : names) + ")");
    }
    try {
      options[key] = option->second->parse_string(value);
    } catch (const std::exception&) {
      throw CaptureError("-I " + format.name + ": \"" + value + "\" is no value for " + key);
    } catch (const Glib::Error& error) {
      throw CaptureError("-I " + format.name + ": \"" + value + "\" is no value for " + key + ": " + error.what());
    }
  }
  const std::string reader = "libsigrok's " + format.name + " input";
  std::shared_ptr<sigrok::Input> input;
  try {
    input = found->second->create_input(options);
  } catch (const sigrok::Error& error) {
    throw CaptureError(reader + " refuses its options: " + error.what());
  }

  const auto session = context_->create_session();
  LogicFeed feed(sink, path);
  session->add_datafeed_callback([&](std::shared_ptr<sigrok::Device>, std::shared_ptr<sigrok::Packet> packet) {
    feed.packet(*packet);
  });
  bool deviceAdded = false;
  const auto addDevice = [&] {
    if (deviceAdded) return;
    try {
      const auto device = input->device();
      session->add_device(device);
      feed.setChannels(logicChannels(*device));
      deviceAdded = true;
    } catch (const sigrok::Error&) {
      // not ready yet: the module has not seen enough of the file
    }
  };
  std::ifstream file(path, std::ios::binary);
  std::vector<char> chunk(ChunkBytes);
  try {
    while (!feed.stops() && file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())).gcount() > 0) {
      input->send(chunk.data(), static_cast<std::size_t>(file.gcount()));
      addDevice();
    }
    if (file.bad()) throw CaptureError("cannot read " + path);
    if (!feed.stops()) input->end();
  } catch (const sigrok::Error& error) {
    throw CaptureError(reader + " cannot read " + path + ": " + error.what());
  }
  addDevice();
  if (!deviceAdded && !feed.failed()) throw CaptureError(reader + " finds no capture in " + path);
  return {feed.finish(), {}};
}

}  // namespace replay
