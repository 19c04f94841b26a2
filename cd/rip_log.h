#pragma once
// The rip log left beside the tracks (UTF-8 text): how the disc was read, its table of contents
// and per track what was written and how it verified, then a one-line verdict.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cd/accuraterip.h"
#include "cd/toc.h"

namespace tralux::cd {

struct RipLogTrack {
    int number = 0;
    std::string file;   // empty when the track was not written
    std::string error;  // why it failed, empty when it was ripped
    std::uint32_t pregapSectors = 0;
    std::string isrc;        // from the sub-channel, empty when the disc has none
    std::uint32_t peak = 0;  // 0..32768
    std::optional<std::uint32_t> testCrc;
    TrackChecksums sums;
    ArTrackResult accurateRip;
    bool checked = true;               // false: no database was looked up
    std::uint64_t paddedFrames = 0;    // silence put where the offset reached beyond the disc
    std::uint64_t overreadFrames = 0;  // read past the lead-out (the drive allows it)
};

struct RipLog {
    std::string program, date;  // "Quorvatix Tralux 1.2", "2026-12-08 16:20:00 UTC"
    std::string drive;
    std::int32_t readOffset = 0;
    std::string readOffsetSource;  // "set for this drive", "--read-offset", "none set"
    bool jitter = false, testCopy = false;
    DiscToc toc;
    std::vector<std::uint32_t> pregaps;  // per TOC track, sectors
    std::string pregapNote;              // why some pre-gaps are not known, or empty
    std::string catalog;                 // media catalog number, or empty
    std::string infoSource;              // where the titles came from
    std::string performer, title;
    std::string database;       // what the AccurateRip lookup gave
    std::string offsetFinding;  // "offset +6 matches, confidence 12", or empty
    std::string hiddenAudio;    // "hidden audio before track 1: 00:12.00", or empty
    std::vector<RipLogTrack> tracks;
};

std::string FormatRipLog(const RipLog& log);
// "all tracks accurately ripped", or which tracks are not.
std::string RipVerdict(const std::vector<RipLogTrack>& tracks);

}  // namespace tralux::cd
