#include "engine/outputs/mp3_output.h"

#include <algorithm>
#include <cstring>

#include "engine/job/errors.h"

// Placeholder until the encoder lands: starting an MP3 output fails cleanly.
namespace tralux {

void Mp3EncoderStart(int, std::uint32_t, int) { throw JobError(kErrCodecInit); }
std::size_t Mp3EncoderFeed(const std::uint8_t*, std::size_t) { throw JobError(kErrCodecInit); }
void Mp3EncoderFinish() {}
void Mp3EncoderRelease() {}

void WriteId3v1(File& file, const std::string& title, const std::string& artist,
                const std::string& comment) {
    std::uint8_t tag[128];
    std::memset(tag, ' ', sizeof tag);
    std::memcpy(tag, "TAG", 3);
    auto put = [&](int offset, const std::string& s) {
        std::memcpy(tag + offset, s.data(), std::min<std::size_t>(s.size(), 30));
    };
    put(3, title);
    put(33, artist);
    put(97, comment);
    tag[127] = 255;
    file.Write(tag, sizeof tag);
}

}  // namespace tralux
