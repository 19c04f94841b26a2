// Hostile tags through our tag adapter (and TagLib behind it): ID3v2 in every version, ID3v1,
// RIFF LIST/INFO. The texts that come out must be UTF-8.
#include <cstdint>
#include <string>

#include "platform/tags/taglib_tag_reader.h"

namespace {
bool ValidUtf8(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80             ? 0
                              : (c & 0xE0) == 0xC0 ? 1
                              : (c & 0xF0) == 0xE0 ? 2
                              : (c & 0xF8) == 0xF0 ? 3
                                                   : 9;
        if (n == 9 || i + n >= s.size() + (n == 0)) return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tralux::StreamInfo info;
    info.Kind = size >= 4 && data[0] == 'R' ? tralux::kKindRiff : tralux::kKindMp3;
    tralux::platform::ReadInputTagsFromMemory(data, size, info);
    for (const std::string* t : {&info.Title, &info.Artist, &info.Album, &info.Year, &info.Track,
                                 &info.Comment, &info.Copyright})
        if (!ValidUtf8(*t)) __builtin_trap();
    // The same bytes as the raw text of an old tag.
    if (!ValidUtf8(tralux::platform::TagTextToUtf8(std::string(reinterpret_cast<const char*>(data), size))))
        __builtin_trap();
    return 0;
}
