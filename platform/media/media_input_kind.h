#pragma once
// The media input kind: every file our own readers do not take (FLAC, Ogg Vorbis, Opus, M4A,
// AIFF, APE, WavPack, MP2, free-format MP3, compressed WAV ...), decoded through MediaDecoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/job/stream_info.h"
#include "platform/media_loader/media_names.h"

namespace tralux {
struct InputKind;
}

namespace tralux::platform {

// Adds the kind to the engine's input table, ahead of the MPEG probe; front ends call it once
// at startup (repeats are harmless).
void RegisterMediaInput();
// The kind's table line (what the media module hands the front ends).
InputKind MediaInputKind();

// Describes a file (Kind "AVF_"); false when nothing in it can be decoded.
bool ProbeMedia(const std::string& path, StreamInfo& info);

// Decodes a memory image to the end through the same path as a job (mixdown included), then
// seeks back to its middle; the number of frames. For the fuzzer.
std::uint64_t DecodeMediaMemoryForTesting(const std::uint8_t* data, std::size_t size);

}  // namespace tralux::platform
