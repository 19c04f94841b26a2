#include "cddb/track_name.h"

#include <cstdio>

#include "cddb/cd_info.h"

namespace tralux::cddb {

std::string SanitizeTitle(std::string_view title) {
    const std::string text = IsValidUtf8(title) ? std::string(title) : Latin1ToUtf8(title);
    std::string out;
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) continue;
        out.push_back(ch == '/' ? '_' : ch);
    }
    // C1 controls (U+0080..U+009F) too: they come from Latin-1 texts of old servers.
    std::string clean;
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (static_cast<unsigned char>(out[i]) == 0xC2 && i + 1 < out.size() &&
            static_cast<unsigned char>(out[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(out[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        clean.push_back(out[i]);
    }
    std::string_view v = TrimBlanks(clean);
    while (!v.empty() && (v.front() == '.' || v.front() == ' ')) v.remove_prefix(1);
    return TruncateUtf8(TrimBlanks(v), 200);
}

std::string TrackFileName(int trackNumber, std::string_view title, std::string_view extension) {
    char number[8];
    std::snprintf(number, sizeof number, "%02d", trackNumber);
    const std::string clean = SanitizeTitle(title);
    std::string name = number;
    if (!clean.empty()) name += " " + clean;
    if (!extension.empty() && extension.front() != '.') name += '.';
    name += extension;
    return name;
}

}  // namespace tralux::cddb
