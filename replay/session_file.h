// Sigrok session files (.sr) where libsigrok's session loader cannot serve, through
// libarchive (the loader itself is in sigrok_reader.h):
// - a file cut short (no zip end record: the capture was stopped or copied short), which the
//   loader refuses, is read member by member through libarchive's streaming zip reader, as
//   far as it goes, and says so in a note;
// - libsigrok 0.5's loader takes a member of samples that does not inflate, or whose CRC is
//   wrong, as ended and goes on with the next: after a whole read, the bytes it gave are
//   counted against those the zip's directory lists, and a file short of them is refused,
//   naming the member that does not read whole.
// Leaves out analog channels and every device but the first.
#pragma once

#include <cstdint>
#include <string>

#include "replay/capture_reader.h"

namespace replay {

// A zip's end record is there: the file is not cut short.
bool hasZipEndRecord(const std::string& path);

// A file without its end record. Throws CaptureError for one cut before its metadata, and
// passes on what `sink` throws.
ReadResult readCutSession(const std::string& path, ChangeSink& sink);

// Throws CaptureError if `bytesGiven`, what the loader gave of the first device's samples,
// falls short of what its members hold.
void checkSessionWhole(const std::string& path, std::uint64_t bytesGiven);

}  // namespace replay
