#pragma once
// MP3 output: the job's encoder, fed with emitted PCM, finished with the stream's end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/job/file.h"

namespace tralux {

// Raises JobError on failure (108 when no encoder can be made).
void Mp3EncoderStart(int channels, std::uint32_t rate, int kilobitsPerSecond);
// EmitBlock's MP3 branch: writes the encoded bytes to the job's output file.
std::size_t Mp3EncoderFeed(const std::uint8_t* samples, std::size_t byteCount);
// Drains the encoder into the output file and deletes it; safe when none exists.
void Mp3EncoderFinish();
// Releases the encoder without writing anything (file-failure path).
void Mp3EncoderRelease();
void WriteId3v1(File& file, const std::string& title, const std::string& artist,
                const std::string& comment);

}  // namespace tralux
