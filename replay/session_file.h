// Sigrok session files (.sr), read by the replay itself: a zip of `metadata` (the rate, the
// channels' names, the sample size) and the samples in the members logic-1-1, logic-1-2, ...
// libzip finds the members; libdeflate inflates each whole (members are the writer's chunks,
// a few MiB) and its CRC is checked; a member too large for that streams through libzip.
// libsigrok's session loader inflates through zlib at about a fifth of that speed: on a
// capture of a busy bus that alone costs more than a twentieth of sigrok-cli's parallel
// decoder on the same file, which the replay must beat twentyfold. A file cut short (no zip
// end record: the capture was stopped or copied short) is read member by member through
// libarchive's streaming zip reader, as far as it goes, and says so in a note. Leaves out
// analog channels and every device but the first.
#pragma once

#include <string>

#include "replay/capture_reader.h"

namespace replay {

// Throws CaptureError with one line for a file that is not a session file, a damaged one,
// or one without the lines' data, and passes on what `sink` throws.
ReadResult readSessionFile(const std::string& path, ChangeSink& sink);

}  // namespace replay
