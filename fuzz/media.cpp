// Hostile files through the media input: the system's demuxers and decoders behind our memory
// reader, the sample conversion and mixdown, a seek, and the tags and cover through TagLib.
#include <cstdint>

#include "engine/formats/media_input.h"
#include "engine/formats/tag_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tralux::StreamInfo info;
    if (tralux::ProbeMediaMemory(data, size, info)) {
        if (info.Channels < 1 || info.Channels > 2 || info.SampleRate == 0) __builtin_trap();
        tralux::DecodeMediaMemoryForTesting(data, size);
    }
    tralux::StreamInfo tags;
    tags.Kind = tralux::kKindMedia;
    tralux::ReadInputTagsFromMemory(data, size, tags);
    return 0;
}
