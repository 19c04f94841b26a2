#pragma once
// The FLAC and Opus output kinds, written through FlacFileWriter and OpusFileWriter.
#include "platform/media/media_tags.h"

namespace tralux {
struct OutputKind;
struct OutputSettings;
}  // namespace tralux

namespace tralux::platform {

// Adds FLAC and Opus to the engine's output table; front ends call it once at startup
// (repeats are harmless).
void RegisterFlacOutput();
void RegisterOpusOutput();
// The kinds' table lines (what the media module hands the front ends).
OutputKind FlacOutputKind();
OutputKind OpusOutputKind();

// The job's texts and cover as Vorbis comments; nothing when tags are off. A track "3/12"
// becomes TRACKNUMBER 3 and TRACKTOTAL 12.
MediaTags VorbisTagsFor(const OutputSettings& settings);

}  // namespace tralux::platform
