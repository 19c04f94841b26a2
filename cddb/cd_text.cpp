#include "cddb/cd_text.h"

#include <array>
#include <map>
#include <string>
#include <vector>

namespace tralux::cddb {
namespace {

constexpr std::size_t kPackSize = 18;
constexpr std::uint8_t kPackTitle = 0x80;
constexpr std::uint8_t kPackPerformer = 0x81;
constexpr std::uint8_t kPackBlockInfo = 0x8F;

std::string DiscTitle(const std::string& performer, const std::string& title) {
    if (!performer.empty() && !title.empty()) return performer + " / " + title;
    return performer.empty() ? title : performer;
}

std::optional<CdInfo> Build(const std::map<int, std::string>& titles,
                            const std::map<int, std::string>& performers, std::size_t trackCount) {
    auto get = [](const std::map<int, std::string>& m, int k) {
        auto it = m.find(k);
        return it == m.end() ? std::string() : it->second;
    };
    CdInfo info;
    info.discTitle = DiscTitle(get(performers, 0), get(titles, 0));
    info.tracks.resize(trackCount);
    bool any = !info.discTitle.empty();
    for (std::size_t i = 0; i < trackCount; ++i) {
        info.tracks[i].title = get(titles, static_cast<int>(i + 1));
        any = any || !info.tracks[i].title.empty();
    }
    if (!any) return std::nullopt;
    return info;
}

// One kind of text of block 0: the strings of all its packs, the first for the pack's track.
void CollectStrings(const std::vector<std::array<std::uint8_t, kPackSize>>& packs,
                    std::uint8_t type, bool latin1, std::map<int, std::string>& out) {
    std::string text;
    int firstTrack = -1;
    for (const auto& p : packs) {
        if (p[0] != type || (p[3] & 0x70) != 0) continue;  // block 0 only
        if (p[3] & 0x80) return;                           // double-byte texts are not read
        if (firstTrack < 0) firstTrack = p[1] & 0x7F;
        text.append(reinterpret_cast<const char*>(&p[4]), 12);
    }
    if (firstTrack < 0) return;
    int track = firstTrack;
    std::string previous;
    std::size_t pos = 0;
    while (pos < text.size() && track <= 99) {
        std::size_t end = text.find('\0', pos);
        if (end == std::string::npos) break;  // an unterminated tail is padding or damage
        std::string s = text.substr(pos, end - pos);
        if (s == "\t") s = previous;  // "same as the previous track"
        previous = s;
        std::string value = latin1 || !IsValidUtf8(s) ? Latin1ToUtf8(s) : s;
        value = std::string(TrimBlanks(value));
        if (!value.empty()) out[track] = value;
        ++track;
        pos = end + 1;
    }
}

// The value of a CUE command: a quoted text or the rest of the line.
std::string CueValue(std::string_view rest) {
    rest = TrimBlanks(rest);
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        const std::size_t close = rest.rfind('"');
        if (close != std::string_view::npos) rest = rest.substr(0, close);
    }
    return std::string(TrimBlanks(rest));
}

bool StartsWithWord(std::string_view line, std::string_view word) {
    if (line.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = line[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != word[i]) return false;
    }
    return line.size() == word.size() || line[word.size()] == ' ' || line[word.size()] == '\t';
}

}  // namespace

std::optional<CdInfo> ParseCdTextPacks(const std::uint8_t* data, std::size_t size,
                                       std::size_t trackCount) {
    if (!data) return std::nullopt;
    // The reply's header holds its length (not counting the length field itself).
    if (size >= 4 && (size - 4) % kPackSize == 0 &&
        (static_cast<std::size_t>(data[0]) << 8 | data[1]) + 2 == size) {
        data += 4;
        size -= 4;
    }
    std::vector<std::array<std::uint8_t, kPackSize>> packs;
    for (std::size_t off = 0; off + kPackSize <= size; off += kPackSize) {
        std::array<std::uint8_t, kPackSize> p{};
        for (std::size_t k = 0; k < kPackSize; ++k) p[k] = data[off + k];
        packs.push_back(p);
    }
    // Character code of block 0: 0x00 ISO-8859-1, 0x01 ASCII; taken as ISO-8859-1 unless the
    // text is valid UTF-8 (discs made by some writers).
    bool latin1 = false;
    for (const auto& p : packs)
        if (p[0] == kPackBlockInfo && p[1] == 0 && (p[3] & 0x70) == 0) {
            latin1 = p[4] == 0x00;
            break;
        }
    std::map<int, std::string> titles, performers;
    CollectStrings(packs, kPackTitle, latin1, titles);
    CollectStrings(packs, kPackPerformer, latin1, performers);
    return Build(titles, performers, trackCount);
}

std::optional<CdInfo> ParseCueCdText(std::string_view cue, std::size_t trackCount) {
    if (cue.substr(0, 3) == "\xEF\xBB\xBF") cue.remove_prefix(3);
    std::map<int, std::string> titles, performers;
    int track = 0;
    std::size_t pos = 0;
    while (pos < cue.size()) {
        std::size_t end = cue.find('\n', pos);
        if (end == std::string_view::npos) end = cue.size();
        const std::string_view line = TrimBlanks(cue.substr(pos, end - pos));
        pos = end + 1;
        if (StartsWithWord(line, "TRACK")) {
            const std::string_view rest = TrimBlanks(line.substr(5));
            int n = 0;
            std::size_t k = 0;
            while (k < rest.size() && k < 3 && rest[k] >= '0' && rest[k] <= '9')
                n = n * 10 + (rest[k++] - '0');
            track = k ? n : -1;
            continue;
        }
        std::map<int, std::string>* target = nullptr;
        std::size_t skip = 0;
        if (StartsWithWord(line, "TITLE"))
            target = &titles, skip = 5;
        else if (StartsWithWord(line, "PERFORMER"))
            target = &performers, skip = 9;
        if (!target || track < 0) continue;
        std::string value = CueValue(line.substr(skip));
        // A sheet in some other code page: better no title than a garbled one.
        if (!value.empty() && IsValidUtf8(value)) (*target)[track] = value;
    }
    return Build(titles, performers, trackCount);
}

}  // namespace tralux::cddb
