#include "cd/cue_writer.h"

#include <cstdio>

namespace tralux::cd {
namespace {

constexpr std::size_t kMaxCueText = 255;

// Length of the UTF-8 sequence at `s`, 0 when it is not one.
std::size_t Utf8Length(std::string_view s) {
    const auto b = static_cast<unsigned char>(s[0]);
    const std::size_t n = b < 0x80         ? 1
                          : (b >> 5) == 6  ? 2
                          : (b >> 4) == 14 ? 3
                          : (b >> 3) == 30 ? 4
                                           : 0;
    if (n == 0 || n > s.size()) return 0;
    for (std::size_t i = 1; i < n; ++i)
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
    if (n == 2 && b < 0xC2) return 0;  // overlong
    return n;
}

std::string Msf(std::uint32_t sectors) {
    char t[16];
    std::snprintf(t, sizeof t, "%02u:%02u:%02u", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return t;
}

std::string Quoted(std::string_view text) {
    return "\"" + CueText(text) + "\"";
}

}  // namespace

std::string CueText(std::string_view text) {
    std::string out;
    while (!text.empty()) {
        const std::size_t n = Utf8Length(text);
        if (n == 0) {
            out += '?';
            text.remove_prefix(1);
            continue;
        }
        const char c = text[0];
        if (n > 1)
            out.append(text.substr(0, n));
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            out += ' ';
        else
            out += c == '"' ? '\'' : c;
        text.remove_prefix(n);
        if (out.size() >= kMaxCueText) break;
    }
    // Never cut inside a character.
    while (out.size() > kMaxCueText) {
        std::size_t cut = kMaxCueText;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80) --cut;
        out.resize(cut);
    }
    const auto first = out.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return out.substr(first, out.find_last_not_of(' ') - first + 1);
}

std::string FormatCueSheet(const CueOutDisc& disc) {
    std::string s;
    if (!disc.discId.empty()) s += "REM DISCID " + CueText(disc.discId) + "\n";
    if (!disc.comment.empty()) s += "REM COMMENT " + Quoted(disc.comment) + "\n";
    if (!disc.catalog.empty()) s += "CATALOG " + CueText(disc.catalog) + "\n";
    if (!CueText(disc.performer).empty()) s += "PERFORMER " + Quoted(disc.performer) + "\n";
    if (!CueText(disc.title).empty()) s += "TITLE " + Quoted(disc.title) + "\n";
    for (std::size_t i = 0; i < disc.tracks.size(); ++i) {
        const CueOutTrack& t = disc.tracks[i];
        char head[32];
        std::snprintf(head, sizeof head, "  TRACK %02d AUDIO\n", t.number);
        const std::string file = "FILE " + Quoted(t.file) + " " + disc.fileType + "\n";
        // A pre-gap lies at the end of the previous file; the first track's is not in any file.
        const bool gapBefore =
            i > 0 && t.pregapSectors > 0 && t.pregapSectors <= disc.tracks[i - 1].sectors;
        if (!gapBefore) s += file;
        s += head;
        if (!CueText(t.title).empty()) s += "    TITLE " + Quoted(t.title) + "\n";
        if (!CueText(t.performer).empty()) s += "    PERFORMER " + Quoted(t.performer) + "\n";
        if (!t.isrc.empty()) s += "    ISRC " + CueText(t.isrc) + "\n";
        if (i == 0 && t.pregapSectors > 0) s += "    PREGAP " + Msf(t.pregapSectors) + "\n";
        if (gapBefore) {
            s += "    INDEX 00 " + Msf(disc.tracks[i - 1].sectors - t.pregapSectors) + "\n";
            s += file;
        }
        s += "    INDEX 01 00:00:00\n";
    }
    return s;
}

}  // namespace tralux::cd
