// Session files cut short, and the check of what the loader gave, through libarchive.
#include "replay/session_file.h"

#include <archive.h>
#include <archive_entry.h>
#include <glibmm/keyfile.h>
#include <libsigrok/libsigrok.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "replay/sample_scanner.h"

namespace replay {
namespace {

constexpr std::size_t BlockBytes = std::size_t{64} << 10;
// Reading the directory seeks to every member's header: a page holds one.
constexpr std::size_t HeaderBlockBytes = std::size_t{4} << 10;
constexpr const char* MetadataName = "metadata";

// What the metadata says of the first device.
struct Metadata {
  std::string captureFile;  // "logic-1": members logic-1-1, logic-1-2, ... (or one named so)
  unsigned unitSize = 1;
  std::uint64_t sampleRate = 0;  // 0: none given
  std::vector<ChannelInfo> channels;
};

Metadata parseMetadata(const std::string& text, const std::string& path) {
  Glib::KeyFile keys;
  Metadata metadata;
  try {
    keys.load_from_data(text);
    const Glib::ustring device = "device 1";
    metadata.captureFile = keys.get_string(device, "capturefile");
    metadata.unitSize = static_cast<unsigned>(keys.get_integer(device, "unitsize"));
    if (keys.has_key(device, "samplerate") &&
        sr_parse_sizestring(keys.get_string(device, "samplerate").c_str(), &metadata.sampleRate) != SR_OK) {
      metadata.sampleRate = 0;
    }
    const int probes = keys.get_integer(device, "total probes");
    for (int probe = 1; probe <= probes; ++probe) {
      const auto key = "probe" + std::to_string(probe);
      if (keys.has_key(device, key)) {
        metadata.channels.push_back({static_cast<unsigned>(probe - 1), keys.get_string(device, key)});
      }
    }
  } catch (const Glib::Error& error) {
    throw CaptureError(path + ": the session file's metadata cannot be read: " + error.what());
  }
  if (metadata.captureFile.empty()) throw CaptureError(path + ": the session file's metadata names no capture file");
  return metadata;
}

using Archive = std::unique_ptr<archive, int (*)(archive*)>;

// The zip through libarchive: `streaming` reads member by member from the start, as a file
// without its directory must be read; otherwise the directory is read first.
Archive openZip(const std::string& path, bool streaming) {
  Archive zip(archive_read_new(), archive_read_free);
  if (streaming) {
    archive_read_support_format_zip_streamable(zip.get());
  } else {
    archive_read_support_format_zip_seekable(zip.get());
  }
  if (archive_read_open_filename(zip.get(), path.c_str(), streaming ? BlockBytes : HeaderBlockBytes) != ARCHIVE_OK) {
    throw CaptureError("cannot read " + path + ": " + archive_error_string(zip.get()));
  }
  return zip;
}

// The current member's data, as far as it inflates (a cut member: up to the cut), to `take`
// while it returns true. Returns false if the member did not read whole.
template <typename Take>
bool readMember(archive* zip, const Take& take) {
  const void* data = nullptr;
  std::size_t size = 0;
  la_int64_t offset = 0;
  for (;;) {
    const int status = archive_read_data_block(zip, &data, &size, &offset);
    if (status == ARCHIVE_EOF) return true;
    if (status != ARCHIVE_OK) return false;
    if (!take(static_cast<const std::uint8_t*>(data), size)) return true;
  }
}

std::string memberText(archive* zip) {
  std::string text;
  readMember(zip, [&](const std::uint8_t* data, std::size_t size) {
    text.append(reinterpret_cast<const char*>(data), size);
    return true;
  });
  return text;
}

// The members the loader takes the samples from, in its order: the capture file alone, or
// its chunks -1, -2, ... up to the first one missing.
std::vector<std::string> sampleMembers(const std::string& captureFile,
                                       const std::map<std::string, std::uint64_t>& sizes) {
  if (sizes.contains(captureFile)) return {captureFile};
  std::vector<std::string> members;
  for (unsigned chunk = 1;; ++chunk) {
    std::string name = captureFile + "-" + std::to_string(chunk);
    if (!sizes.contains(name)) return members;
    members.push_back(std::move(name));
  }
}

}  // namespace

// The end record stands in the last 65,557 bytes.
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

ReadResult readCutSession(const std::string& path, ChangeSink& sink) {
  const Archive zip = openZip(path, true);
  SampleFeed feed(sink, path);
  std::optional<Metadata> metadata;
  unsigned nextChunk = 1;
  archive_entry* entry = nullptr;
  while (!feed.done() && archive_read_next_header(zip.get(), &entry) == ARCHIVE_OK) {
    const std::string name = archive_entry_pathname(entry);
    if (name == MetadataName) {
      metadata = parseMetadata(memberText(zip.get()), path);
      feed.setRate(metadata->sampleRate);
      feed.setChannels(metadata->channels);
    } else if (metadata &&
               (name == metadata->captureFile || name == metadata->captureFile + "-" + std::to_string(nextChunk))) {
      readMember(zip.get(), [&](const std::uint8_t* data, std::size_t size) {
        feed.samples(data, size, metadata->unitSize);
        return !feed.done();
      });
      ++nextChunk;
    }
  }
  if (!metadata) throw CaptureError(path + ": the session file is cut short before its metadata");
  const std::uint64_t samples = feed.finish();
  return {samples, {path + ": the session file is cut short; replayed the " + std::to_string(samples) + " samples it holds"}};
}

void checkSessionWhole(const std::string& path, std::uint64_t bytesGiven) {
  std::map<std::string, std::uint64_t> sizes;
  std::optional<Metadata> metadata;
  {
    const Archive zip = openZip(path, false);
    archive_entry* entry = nullptr;
    int status = ARCHIVE_OK;
    while ((status = archive_read_next_header(zip.get(), &entry)) == ARCHIVE_OK) {
      const std::string name = archive_entry_pathname(entry);
      if (name == MetadataName) metadata = parseMetadata(memberText(zip.get()), path);
      sizes[name] = static_cast<std::uint64_t>(archive_entry_size(entry));
    }
    if (status != ARCHIVE_EOF) {
      throw CaptureError(path + ": the session file is damaged: " + archive_error_string(zip.get()));
    }
  }
  if (!metadata) throw CaptureError(path + ": the session file's directory lists no metadata");
  const auto members = sampleMembers(metadata->captureFile, sizes);
  std::uint64_t listed = 0;
  for (const auto& member : members) listed += sizes[member];
  if (bytesGiven >= listed) return;

  const Archive zip = openZip(path, false);
  archive_entry* entry = nullptr;
  while (archive_read_next_header(zip.get(), &entry) == ARCHIVE_OK) {
    const std::string name = archive_entry_pathname(entry);
    if (std::find(members.begin(), members.end(), name) == members.end()) continue;
    if (!readMember(zip.get(), [](const std::uint8_t*, std::size_t) { return true; })) {
      throw CaptureError(path + ": the session file's member " + name +
                         " is damaged: " + archive_error_string(zip.get()));
    }
  }
  throw CaptureError(path + ": the session file is damaged: libsigrok's loader gave " + std::to_string(bytesGiven) +
                     " of the " + std::to_string(listed) + " bytes of samples its members hold");
}

}  // namespace replay
