#pragma once
// The CUE sheet left beside ripped tracks: one FILE per track, each track's INDEX 01 at the
// start of its file, and a track's pre-gap as INDEX 00 at the end of the file before it (the
// rip of a track runs up to the next track's INDEX 01).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tralux::cd {

struct CueOutTrack {
    int number = 0;
    std::string file;  // as written beside the sheet
    std::string title, performer, isrc;
    std::uint32_t sectors = 0;        // length of the file in sectors
    std::uint32_t pregapSectors = 0;  // INDEX 00 .. INDEX 01 on the disc
};

struct CueOutDisc {
    std::string performer, title;
    std::string catalog;  // MCN, 13 digits, or empty
    std::string discId;   // CDDB id, 8 hex digits
    std::string comment;
    std::string fileType = "WAVE";  // WAVE or MP3
    std::vector<CueOutTrack> tracks;
};

// Texts are made safe to quote: control characters become blanks, double quotes become single
// ones, bytes that are not UTF-8 become '?', the ends are trimmed and at most 255 bytes kept.
std::string CueText(std::string_view text);

std::string FormatCueSheet(const CueOutDisc& disc);

}  // namespace tralux::cd
