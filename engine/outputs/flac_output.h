#pragma once
// FLAC output of the job through the platform's FLAC writer.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tralux {

// Creates the file with the job's tags and cover; level 0..8 ("FLACLevel", 5 by default).
// A refusal shows the writer's reason and raises JobError(108).
void FlacWriterStart(const std::string& path, int channels, std::uint32_t rate,
                     std::uint64_t expectedFrames);
// Whole 16-bit frames; a failed write is a FileError on the output.
std::size_t FlacWriterFeed(const std::uint8_t* samples, std::size_t byteCount);
// Normal end: the last frame, the MD5 signature and the length; FileError on failure.
void FlacWriterFinish();
// Stop/error/cleanup: finishes what was written without raising; safe without a writer.
void FlacWriterClose();
// The stored level, 5 when unset or out of range.
int FlacLevelOption();

}  // namespace tralux
