#pragma once
// Opus output of the job through the platform's Opus writer.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tralux {

// Creates the file with the job's tags and cover at "OpusBitRate" kbit/s (160 by default).
// A refusal shows the writer's reason and raises JobError(108).
void OpusWriterStart(const std::string& path, int channels, std::uint32_t rate);
std::size_t OpusWriterFeed(const std::uint8_t* samples, std::size_t byteCount);
void OpusWriterFinish();
void OpusWriterClose();
// The stored bit rate in kbit/s, 160 when unset or out of range (6..510).
int OpusBitRateOption();

}  // namespace tralux
