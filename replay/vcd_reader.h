// A Value Change Dump read as level changes, streamed: time in the file grows only with its
// changes, whatever the span between them, and memory stays flat. The replay reads VCD
// itself because libsigrok cannot serve it: Debian's libsigrok 0.5 expands every jump in
// time into the samples in between (a 10 s jump at 1 ns is ten billion samples), so a
// capture whose clock jumps by hours between bursts would take hours and unbounded work.
// The sample rate is one sample per timescale unit ($timescale 1 us: 1 MHz), sample 0 at
// the first timestamp; the capture ends at the last timestamp, and reading stops at the
// first timestamp at the reading's end (capture.h). Channels are the 1-bit $var's in the
// order they are declared, named by their reference (a bit select such as "[3]" appended);
// levels 0, 1, x (undefined) and z (floating), x before a channel's first value. Leaves out
// vector and real values (their variables are no channels), $dumpoff's meaning (its x's
// are read as they come) and scopes (names are the references alone).
#pragma once

#include <cstdint>
#include <string>

#include "replay/capture.h"

namespace replay {

// Returns the number of samples; throws CaptureError for a file that is no VCD or that
// cannot be read.
std::uint64_t readVcd(const std::string& path, ChangeSink& sink);

}  // namespace replay
