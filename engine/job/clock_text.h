#pragma once
// How long something plays, as the command line and the run's summaries write it.
#include <cstdint>
#include <string>

namespace tralux {

// "mm:ss", or "h:mm:ss" from an hour on.
std::string FormatClock(std::uint64_t seconds);

}  // namespace tralux
