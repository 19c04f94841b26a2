#pragma once
// What the front ends know of the media kinds without loading the media module: the file
// names and containers the media input takes and the codecs' display names.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tralux::platform {

// Whether the first bytes name a container only the media decoder reads (so the MPEG probe,
// which hunts for frame syncs, never gets to guess inside it).
bool LooksLikeMediaContainer(const std::uint8_t* head, std::size_t size);
// "FLAC", "Vorbis", "AAC" ... from the decoder's name, for the probe line.
std::string MediaCodecDisplayName(const std::string& decoder);
// File name extensions (lower case, with the dot) of the inputs the media decoder takes.
const std::vector<std::string>& MediaInputExtensions();
// Whether `extension` (any case, with the dot) is one of our inputs: .wav, .mp3 or a media one.
bool IsInputExtension(std::string extension);

}  // namespace tralux::platform
