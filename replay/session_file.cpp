// Sigrok session files through libzip and libdeflate; cut ones through libarchive.
#include "replay/session_file.h"

#include <archive.h>
#include <archive_entry.h>
#include <glibmm/keyfile.h>
#include <libdeflate.h>
#include <libsigrok/libsigrok.h>
#include <zip.h>

#include <fstream>
#include <memory>
#include <vector>

#include "replay/sample_scanner.h"

namespace replay {
namespace {

constexpr std::size_t ChunkBytes = std::size_t{1} << 20;
// Members up to this size are inflated whole; larger ones stream through libzip.
constexpr std::uint64_t WholeMemberBytes = std::uint64_t{8} << 20;
constexpr const char* MetadataName = "metadata";

// What the metadata says of the first device: where its samples are, their size, the rate
// and the channels' names.
struct Metadata {
  std::string captureFile;  // "logic-1": members logic-1-1, logic-1-2, ... (or one named so)
  unsigned unitSize = 1;
};

Metadata readMetadata(const std::string& text, const std::string& path, SampleFeed& feed) {
  Glib::KeyFile keys;
  Metadata metadata;
  try {
    keys.load_from_data(text);
    const Glib::ustring device = "device 1";
    metadata.captureFile = keys.get_string(device, "capturefile");
    metadata.unitSize = static_cast<unsigned>(keys.get_integer(device, "unitsize"));
    std::uint64_t rate = 0;
    if (keys.has_key(device, "samplerate") &&
        sr_parse_sizestring(keys.get_string(device, "samplerate").c_str(), &rate) == SR_OK) {
      feed.setRate(rate);
    }
    std::vector<ChannelInfo> channels;
    const int probes = keys.get_integer(device, "total probes");
    for (int probe = 1; probe <= probes; ++probe) {
      const auto key = "probe" + std::to_string(probe);
      if (keys.has_key(device, key)) channels.push_back({static_cast<unsigned>(probe - 1), keys.get_string(device, key)});
    }
    feed.setChannels(std::move(channels));
  } catch (const Glib::Error& error) {
    throw CaptureError(path + ": the session file's metadata cannot be read: " + error.what());
  }
  if (metadata.captureFile.empty()) throw CaptureError(path + ": the session file's metadata names no capture file");
  return metadata;
}

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

using ZipFile = std::unique_ptr<zip_file_t, int (*)(zip_file_t*)>;

class SessionZip {
 public:
  explicit SessionZip(const std::string& path) : path_(path) {
    int error = 0;
    zip_ = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (zip_ == nullptr) {
      zip_error_t reason;
      zip_error_init_with_code(&reason, error);
      const std::string text = zip_error_strerror(&reason);
      zip_error_fini(&reason);
      throw CaptureError("cannot read the session file " + path + ": " + text);
    }
  }
  ~SessionZip() { zip_discard(zip_); }
  SessionZip(const SessionZip&) = delete;
  SessionZip& operator=(const SessionZip&) = delete;

  std::optional<zip_uint64_t> find(const std::string& name) const {
    const zip_int64_t index = zip_name_locate(zip_, name.c_str(), 0);
    if (index < 0) return std::nullopt;
    return static_cast<zip_uint64_t>(index);
  }

  std::string text(zip_uint64_t index) {
    std::string text;
    member(index, [&](const std::uint8_t* data, std::size_t size) { text.append(reinterpret_cast<const char*>(data), size); });
    return text;
  }

  // The member's data, inflated, to `take` in one or more blocks.
  template <typename Take>
  void member(zip_uint64_t index, const Take& take) {
    zip_stat_t status;
    if (zip_stat_index(zip_, index, 0, &status) != 0) damaged(index, zip_strerror(zip_));
    if (status.comp_method == ZIP_CM_DEFLATE && status.size <= WholeMemberBytes) {
      inflateWhole(index, status, take);
      return;
    }
    const ZipFile file = open(index, 0);
    input_.resize(ChunkBytes);
    for (;;) {
      const zip_int64_t got = zip_fread(file.get(), input_.data(), input_.size());
      if (got < 0) damaged(index, zip_file_strerror(file.get()));
      if (got == 0) return;
      take(input_.data(), static_cast<std::size_t>(got));
    }
  }

 private:
  template <typename Take>
  void inflateWhole(zip_uint64_t index, const zip_stat_t& status, const Take& take) {
    const ZipFile file = open(index, ZIP_FL_COMPRESSED);
    input_.resize(static_cast<std::size_t>(status.comp_size));
    if (zip_fread(file.get(), input_.data(), input_.size()) != static_cast<zip_int64_t>(input_.size())) {
      damaged(index, zip_file_strerror(file.get()));
    }
    output_.resize(static_cast<std::size_t>(status.size));
    std::size_t inflated = 0;
    if (libdeflate_deflate_decompress(inflater_.get(), input_.data(), input_.size(), output_.data(), output_.size(),
                                      &inflated) != LIBDEFLATE_SUCCESS ||
        inflated != output_.size()) {
      damaged(index, "it does not inflate");
    }
    if (libdeflate_crc32(0, output_.data(), output_.size()) != status.crc) damaged(index, "its CRC is wrong");
    take(output_.data(), output_.size());
  }

  ZipFile open(zip_uint64_t index, zip_flags_t flags) {
    ZipFile file(zip_fopen_index(zip_, index, flags), zip_fclose);
    if (!file) damaged(index, zip_strerror(zip_));
    return file;
  }

  [[noreturn]] void damaged(zip_uint64_t index, const std::string& why) {
    const char* name = zip_get_name(zip_, index, 0);
    throw CaptureError(path_ + ": the session file's member " + (name != nullptr ? name : "?") + " is damaged: " + why);
  }

  std::string path_;
  zip_t* zip_ = nullptr;
  std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> inflater_{
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor};
  std::vector<std::uint8_t> input_;
  std::vector<std::uint8_t> output_;
};

ReadResult readWholeSession(const std::string& path, ChangeSink& sink) {
  SessionZip zip(path);
  SampleFeed feed(sink, path);
  const auto metadataIndex = zip.find(MetadataName);
  if (!metadataIndex) throw CaptureError(path + ": a zip file without a session's metadata");
  const Metadata metadata = readMetadata(zip.text(*metadataIndex), path, feed);
  const auto take = [&](const std::uint8_t* data, std::size_t size) { feed.samples(data, size, metadata.unitSize); };
  if (const auto single = zip.find(metadata.captureFile)) zip.member(*single, take);
  for (unsigned chunk = 1;; ++chunk) {
    const auto member = zip.find(metadata.captureFile + "-" + std::to_string(chunk));
    if (!member) break;
    zip.member(*member, take);
  }
  return {feed.finish(), {}};
}

ReadResult readCutSession(const std::string& path, ChangeSink& sink) {
  const std::unique_ptr<archive, int (*)(archive*)> zip(archive_read_new(), archive_read_free);
  archive_read_support_format_zip_streamable(zip.get());
  if (archive_read_open_filename(zip.get(), path.c_str(), ChunkBytes) != ARCHIVE_OK) {
    throw CaptureError("cannot read " + path + ": " + archive_error_string(zip.get()));
  }
  SampleFeed feed(sink, path);
  std::optional<Metadata> metadata;
  unsigned nextChunk = 1;
  // The member's data as far as it can be inflated (a cut member: up to the cut).
  const auto forEachBlock = [&](const auto& take) {
    const void* data = nullptr;
    std::size_t size = 0;
    la_int64_t offset = 0;
    while (archive_read_data_block(zip.get(), &data, &size, &offset) == ARCHIVE_OK) {
      take(static_cast<const std::uint8_t*>(data), size);
    }
  };
  archive_entry* entry = nullptr;
  while (archive_read_next_header(zip.get(), &entry) == ARCHIVE_OK) {
    const std::string name = archive_entry_pathname(entry);
    if (name == MetadataName) {
      std::string text;
      forEachBlock([&](const std::uint8_t* data, std::size_t size) { text.append(reinterpret_cast<const char*>(data), size); });
      metadata = readMetadata(text, path, feed);
    } else if (metadata &&
               (name == metadata->captureFile || name == metadata->captureFile + "-" + std::to_string(nextChunk))) {
      forEachBlock([&](const std::uint8_t* data, std::size_t size) { feed.samples(data, size, metadata->unitSize); });
      ++nextChunk;
    }
  }
  if (!metadata) throw CaptureError(path + ": the session file is cut short before its metadata");
  const std::uint64_t samples = feed.finish();
  return {samples, {path + ": the session file is cut short; replayed the " + std::to_string(samples) + " samples it holds"}};
}

}  // namespace

ReadResult readSessionFile(const std::string& path, ChangeSink& sink) {
  return hasZipEndRecord(path) ? readWholeSession(path, sink) : readCutSession(path, sink);
}

}  // namespace replay
