#pragma once
// The CDDB disc identifier of a table of contents.
#include <cstdint>
#include <string>

#include "cd/toc.h"

namespace tralux {

// The published identifier: digit sums of the track starts in seconds (lead-in included),
// the playing time in seconds and the track count. 0 for a table that cannot be one
// (no tracks, more than 99, addresses out of order).
std::uint32_t DiscIdFromToc(const DiscToc& toc);

// Reads the table of contents of the drive at `root` and returns its identifier; 0 on any
// failure. `toc`, when given, receives the table (empty on failure).
std::uint32_t ComputeDiscId(const std::string& root, DiscToc* toc = nullptr);

// Playing time in whole seconds from the first track to the lead-out (the identifier's part).
std::uint32_t DiscLengthSeconds(const DiscToc& toc);
// The query's last field: the lead-out's position in seconds, lead-in included.
std::uint32_t QueryLengthSeconds(const DiscToc& toc);

}  // namespace tralux
