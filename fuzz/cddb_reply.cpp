// Arbitrary server replies: the header block (Location), the body lines, the xmcd reader, the
// match list and CD-Text.
#include <cstdint>
#include <string>
#include <vector>

#include "cddb/cd_info.h"
#include "cddb/cd_text.h"
#include "cddb/http_fetch.h"
#include "cddb/protocol.h"
#include "cddb/track_name.h"
#include "engine/job/printable_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tralux::cddb;
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string location;
    if (FindLocation(text, location)) {
        UrlParts parts;
        SplitUrl(location, parts);
        if (location.find('\r') != std::string::npos) __builtin_trap();
    }
    const std::vector<std::string> lines = SplitBodyLines(text);
    for (const std::string& l : lines)
        if (!IsValidUtf8(l)) __builtin_trap();
    const std::size_t tracks = size ? data[0] % 100 : 0;
    CdInfo info;
    const bool ok = ParseXmcd(lines, info, tracks);
    if (ok != !lines.empty() || (ok && info.tracks.size() != tracks)) __builtin_trap();
    for (const CdTrackEntry& t : info.tracks) {
        const std::string cut = TruncateUtf8(t.title, kMaxInfoText);
        if (cut.size() > kMaxInfoText || !IsValidUtf8(cut)) __builtin_trap();
        const std::string name = TrackFileName(1, t.title, ".wav");
        if (name.find('/') != std::string::npos || name.size() > 255) __builtin_trap();
    }
    // Shown on a terminal or a label: valid UTF-8 without a control byte, line breaks kept only
    // when asked for.
    for (const bool breaks : {false, true}) {
        const std::string shown = tralux::Printable(text, breaks);
        if (!IsValidUtf8(shown)) __builtin_trap();
        for (std::size_t i = 0; i < shown.size(); ++i) {
            const auto c = static_cast<unsigned char>(shown[i]);
            if ((c < 0x20 && !(breaks && c == '\n')) || c == 0x7F) __builtin_trap();
            if (c == 0xC2 && i + 1 < shown.size() &&
                static_cast<unsigned char>(shown[i + 1]) < 0xA0)
                __builtin_trap();
        }
    }
    MatchLines(lines);
    ParseCdTextPacks(data, size, tracks);
    ParseCueCdText(text, tracks);
    return 0;
}
