#pragma once
// Inputs our own readers do not take (FLAC, Ogg Vorbis, Opus, M4A, AIFF, APE, WavPack, MP2,
// free-format MP3 ...), decoded through the platform's media decoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/job/stream_info.h"

namespace tralux {

// Whether the first bytes name a container only the media decoder reads (so the MPEG probe,
// which hunts for frame syncs, never gets to guess inside it).
bool LooksLikeMediaContainer(const std::uint8_t* head, std::size_t size);
// Describes the file (Kind "AVF_"); false when nothing in it can be decoded. Tags are read by
// the caller.
bool ProbeMedia(const std::string& path, StreamInfo& info);
// The same over bytes in memory (for the fuzzer).
bool ProbeMediaMemory(const std::uint8_t* data, std::size_t size, StreamInfo& info);
// "FLAC", "Vorbis", "AAC" ... from the decoder's name, for the probe line.
std::string MediaCodecDisplayName(const std::string& decoder);

// File name extensions (lower case, with the dot) of the inputs the media decoder takes.
const std::vector<std::string>& MediaInputExtensions();
// Whether `extension` (any case, with the dot) is one of our inputs: .wav, .mp3 or a media one.
bool IsInputExtension(std::string extension);

// Opens the job's decoder for `path`; false (with the reason shown) when it cannot.
bool MediaInputOpen(const std::string& path);
void MediaInputClose();
// Decodes from StartMs to the end into ProcessBlock; more than two channels are mixed down as
// WAV files are. Returns the bytes emitted.
std::size_t MediaSourceLoop(const StreamInfo& info);

// Decodes a memory image to the end through the same path as a job (mixdown included);
// the number of frames. For the fuzzer.
std::uint64_t DecodeMediaMemoryForTesting(const std::uint8_t* data, std::size_t size);

}  // namespace tralux
