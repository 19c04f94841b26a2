// Arbitrary bytes as the first frame of an MP3 stream: the Xing/Info/VBRI reader must stay
// inside the bytes, and what it reads must survive our writer unchanged.
#include <cstdint>

#include "engine/outputs/mp3_info_frame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tralux::Mp3InfoTag tag;
    if (!tralux::ReadMp3InfoTag(data, size, tag) || tag.vbri) return 0;
    tralux::Mp3FrameHeader h;
    if (!tralux::ParseMp3FrameHeader(data, size, h)) __builtin_trap();
    if (tag.delay < 0 || tag.delay > 4095 || tag.padding < 0 || tag.padding > 4095)
        __builtin_trap();
    const std::vector<std::uint8_t> frame =
        tralux::BuildMp3InfoFrame(h.sampleRate, h.channels, tag, 0);
    tralux::Mp3InfoTag back;
    if (!tralux::ReadMp3InfoTag(frame.data(), frame.size(), back)) __builtin_trap();
    if (back.frames != tag.frames || back.bytes != tag.bytes || back.toc != tag.toc)
        __builtin_trap();
    if (tag.hasExtension && (back.delay != tag.delay || back.padding != tag.padding))
        __builtin_trap();
    return 0;
}
