#pragma once
// Tags and a front cover as the FLAC and Opus writers take them.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace tralux::platform {

struct MediaTags {
    // Vorbis comment names ("TITLE", "ARTIST", ...) and UTF-8 values; empty values are skipped.
    std::vector<std::pair<std::string, std::string>> Fields;
    std::string PictureMime;  // "image/jpeg", "image/png"
    std::vector<std::uint8_t> Picture;
};

}  // namespace tralux::platform
