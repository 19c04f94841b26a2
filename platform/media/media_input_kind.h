#pragma once
// The media input kind: every file our own readers do not take (FLAC, Ogg Vorbis, Opus, M4A,
// AIFF, APE, WavPack, MP2, free-format MP3, compressed WAV ...), decoded through MediaDecoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/job/stream_info.h"

namespace tralux::platform {

// Adds the kind to the engine's input table, ahead of the MPEG probe; front ends call it once
// at startup (repeats are harmless).
void RegisterMediaInput();

// Whether the first bytes name a container only the media decoder reads (so the MPEG probe,
// which hunts for frame syncs, never gets to guess inside it).
bool LooksLikeMediaContainer(const std::uint8_t* head, std::size_t size);
// Describes a file (Kind "AVF_"); false when nothing in it can be decoded.
bool ProbeMedia(const std::string& path, StreamInfo& info);
// "FLAC", "Vorbis", "AAC" ... from the decoder's name, for the probe line.
std::string MediaCodecDisplayName(const std::string& decoder);
// File name extensions (lower case, with the dot) of the inputs the media decoder takes.
const std::vector<std::string>& MediaInputExtensions();
// Whether `extension` (any case, with the dot) is one of our inputs: .wav, .mp3 or a media one.
bool IsInputExtension(std::string extension);

// Decodes a memory image to the end through the same path as a job (mixdown included), then
// seeks back to its middle; the number of frames. For the fuzzer.
std::uint64_t DecodeMediaMemoryForTesting(const std::uint8_t* data, std::size_t size);

}  // namespace tralux::platform
