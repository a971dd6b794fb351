// Captures through libsigrok: session files, input modules, format detection; and session
// files cut short, member by member through libarchive's streaming zip reader (libsigrok's
// loader and libzip both need the zip's end record, which a cut file lacks).
#include "replay/sigrok_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <libsigrokcxx/libsigrokcxx.hpp>

#include <exception>
#include <fstream>
#include <vector>

#include "replay/sample_scanner.h"

namespace replay {
namespace {

constexpr std::size_t ChunkBytes = std::size_t{1} << 20;
constexpr unsigned MaxUnitBytes = 8;

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
  LogicFeed(ChangeSink& sink, std::string path) : sink_(sink), path_(std::move(path)) {}

  void setChannels(std::vector<ChannelInfo> channels) { info_.channels = std::move(channels); }
  void setRate(std::uint64_t rate) { info_.sampleRate = rate; }
  bool failed() const { return error_ != nullptr; }

  void packet(sigrok::Packet& packet) noexcept {
    if (failed()) return;
    try {
      if (packet.type() == sigrok::PacketType::META) {
        const auto meta = std::dynamic_pointer_cast<sigrok::Meta>(packet.payload());
        for (const auto& [key, value] : meta->config()) {
          if (key == sigrok::ConfigKey::SAMPLERATE) {
            setRate(Glib::VariantBase::cast_dynamic<Glib::Variant<guint64>>(value).get());
          }
        }
      } else if (packet.type() == sigrok::PacketType::LOGIC) {
        const auto logic = std::dynamic_pointer_cast<sigrok::Logic>(packet.payload());
        samples(static_cast<const std::uint8_t*>(logic->data_pointer()), logic->data_length(), logic->unit_size());
      }
    } catch (...) {
      error_ = std::current_exception();
    }
  }

  void samples(const std::uint8_t* data, std::size_t bytes, unsigned unitSize) {
    if (!scanner_) begin(unitSize);
    scanner_->scan(data, bytes);
  }

  // The number of samples, after the sink's end.
  std::uint64_t finish() {
    if (error_) std::rethrow_exception(error_);
    if (!scanner_) begin(MaxUnitBytes);  // no samples: any unit holds the channels
    sink_.end(scanner_->samples());
    return scanner_->samples();
  }

 private:
  void begin(unsigned unitSize) {
    if (info_.channels.empty()) throw CaptureError(path_ + ": the capture has no logic channels");
    if (info_.sampleRate == 0) {
      throw CaptureError(path_ + ": the capture gives no sample rate (give it, e.g. -I FORMAT:samplerate=24000000)");
    }
    scanner_.emplace(sink_.begin(info_), unitSize, sink_);
  }

  ChangeSink& sink_;
  std::string path_;
  CaptureInfo info_;
  std::optional<SampleScanner> scanner_;
  std::exception_ptr error_;
};

// A zip's end-of-central-directory record stands in its last 65,557 bytes.
bool hasZipEndRecord(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  const auto end = file.tellg();
  if (end < 0) return false;
  const auto size = static_cast<std::size_t>(end);
  const std::size_t tail = std::min<std::size_t>(size, 65'557);
  std::string bytes(tail, '\0');
  file.seekg(static_cast<std::streamoff>(size - tail));
  file.read(bytes.data(), static_cast<std::streamsize>(tail));
  return bytes.find("PK\x05\x06") != std::string::npos;
}

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
    if (!hasZipEndRecord(path)) return readTruncatedSession(path, sink);
    throw CaptureError("libsigrok cannot load the session file " + path + ": " + error.what());
  }
  const auto devices = session->devices();
  if (devices.empty()) throw CaptureError(path + ": the session file holds no device");
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
    if (feed.failed()) session->stop();
  });
  session->start();
  session->run();
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
    while (!feed.failed() && file.read(chunk.data(), static_cast<std::streamsize>(chunk.size())).gcount() > 0) {
      input->send(chunk.data(), static_cast<std::size_t>(file.gcount()));
      addDevice();
    }
    if (file.bad()) throw CaptureError("cannot read " + path);
    if (!feed.failed()) input->end();
  } catch (const sigrok::Error& error) {
    throw CaptureError(reader + " cannot read " + path + ": " + error.what());
  }
  addDevice();
  if (!deviceAdded && !feed.failed()) throw CaptureError(reader + " finds no capture in " + path);
  return {feed.finish(), {}};
}

ReadResult SigrokReader::readTruncatedSession(const std::string& path, ChangeSink& sink) {
  const std::unique_ptr<archive, int (*)(archive*)> zip(archive_read_new(), archive_read_free);
  archive_read_support_format_zip_streamable(zip.get());
  if (archive_read_open_filename(zip.get(), path.c_str(), ChunkBytes) != ARCHIVE_OK) {
    throw CaptureError("cannot read " + path + ": " + archive_error_string(zip.get()));
  }
  LogicFeed feed(sink, path);
  std::string captureFile;  // empty until the metadata is read
  unsigned unitSize = 1;
  unsigned nextChunk = 1;
  // The member's data as far as it can be inflated (a cut member: up to the cut).
  const auto forEachBlock = [&](const auto& take) {
    const void* data = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    while (!feed.failed() && archive_read_data_block(zip.get(), &data, &size, &offset) == ARCHIVE_OK) {
      take(static_cast<const std::uint8_t*>(data), size);
    }
  };
  archive_entry* entry = nullptr;
  while (!feed.failed() && archive_read_next_header(zip.get(), &entry) == ARCHIVE_OK) {
    const std::string name = archive_entry_pathname(entry);
    if (name == "metadata") {
      std::string text;
      forEachBlock([&](const std::uint8_t* data, std::size_t size) { text.append(reinterpret_cast<const char*>(data), size); });
      Glib::KeyFile metadata;
      try {
        metadata.load_from_data(text);
        const Glib::ustring device = "device 1";
        captureFile = metadata.get_string(device, "capturefile");
        unitSize = static_cast<unsigned>(metadata.get_integer(device, "unitsize"));
        std::uint64_t rate = 0;
        if (sr_parse_sizestring(metadata.get_string(device, "samplerate").c_str(), &rate) == SR_OK) feed.setRate(rate);
        std::vector<ChannelInfo> channels;
        const int probes = metadata.get_integer(device, "total probes");
        for (int probe = 1; probe <= probes; ++probe) {
          const auto key = "probe" + std::to_string(probe);
          if (metadata.has_key(device, key)) channels.push_back({static_cast<unsigned>(probe - 1), metadata.get_string(device, key)});
        }
        feed.setChannels(std::move(channels));
      } catch (const Glib::Error& error) {
        throw CaptureError(path + ": the session file's metadata cannot be read: " + error.what());
      }
    } else if (!captureFile.empty() && (name == captureFile || name == captureFile + "-" + std::to_string(nextChunk))) {
      forEachBlock([&](const std::uint8_t* data, std::size_t size) { feed.samples(data, size, unitSize); });
      ++nextChunk;
    }
  }
  if (captureFile.empty() && !feed.failed()) throw CaptureError(path + ": the session file is cut short before its metadata");
  const std::uint64_t samples = feed.finish();
  return {samples, {path + ": the session file is cut short; replayed the " + std::to_string(samples) + " samples it holds"}};
}

}  // namespace replay
