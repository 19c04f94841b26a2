// Hostile files through the media input: the system's demuxers and decoders behind our memory
// reader, the sample conversion and mixdown, a seek, and the tags and cover through TagLib.
#include <cstdint>

#include "platform/media/media_input_kind.h"
#include "platform/tags/taglib_tag_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tralux::platform::DecodeMediaMemoryForTesting(data, size);
    tralux::StreamInfo tags;
    tags.Kind = tralux::kKindMedia;
    tralux::platform::ReadInputTagsFromMemory(data, size, tags);
    return 0;
}
