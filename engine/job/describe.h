#pragma once
// The input's two-line description as the main window shows it.
#include <cstdint>
#include <string>

#include "engine/job/stream_info.h"

namespace tralux {

// 44100 -> "44.1", 22050 -> "22", 128000 -> "128", 999 -> "0".
std::string Thousands(std::uint32_t value);
// "title,artist,copyright\n128kBps,44.1kHz,立體聲, MP3,16 bits,"
std::string DescribeInput(const StreamInfo& info);

}  // namespace tralux
