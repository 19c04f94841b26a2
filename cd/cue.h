#pragma once
// CUE sheets of raw-sector images (the layout cdrdao and most rippers write):
//   FILE "x.bin" BINARY         (or MOTOROLA for big-endian samples; several FILEs allowed)
//   TRACK nn AUDIO              (or MODE1/2352, MODE2/2352: a data track of raw sectors)
//   PREGAP mm:ss:ff             (silence the drive makes up, not in the file)
//   INDEX 00 mm:ss:ff, INDEX 01 mm:ss:ff   (positions in the current file)
//   POSTGAP mm:ss:ff, TITLE "...", PERFORMER "..."
//   CATALOG (before the first TRACK) and ISRC: kept as written, for the drive's sub-channel
// REM, CDTEXTFILE, FLAGS, SONGWRITER and unknown keywords are ignored.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cd/toc.h"

namespace tralux::cd {

struct CueIndex {
    int number = 0;           // 0..99
    std::size_t file = 0;     // index into CueSheet::files
    std::uint32_t frame = 0;  // CD frames (sectors) from the start of that file
};

struct CueTrack {
    int number = 0;
    bool audio = true;
    std::vector<CueIndex> indexes;          // in sheet order; INDEX 01 is required
    std::uint32_t pregap = 0, postgap = 0;  // sectors not in any file
    std::string title, performer;
    std::string isrc;

    const CueIndex* Index(int number) const;
};

struct CueFile {
    std::string name;
    bool bigEndian = false;  // MOTOROLA
};

struct CueSheet {
    std::vector<CueFile> files;
    std::vector<CueTrack> tracks;
    std::string title, performer;
    std::string catalog;
};

// False with a one-line reason ("line 7: INDEX before TRACK") for anything this drive cannot
// play. Track numbers must rise by one; index positions must not go back.
bool ParseCue(std::string_view text, CueSheet& sheet, std::string* error = nullptr);

// Where the disc's sectors come from: a run of a file's sectors, or silence (PREGAP/POSTGAP).
struct ImageSegment {
    std::uint32_t startLba = 0;
    std::uint32_t sectors = 0;
    int file = -1;                 // -1: silence
    std::uint64_t fileSector = 0;  // first sector of the run inside the file
};

struct ImageLayout {
    std::vector<ImageSegment> segments;  // contiguous from LBA 0 to the lead-out
    DiscToc toc;
};

// Lays the sheet out on the disc, given each file's length in whole sectors.
bool BuildImageLayout(const CueSheet& sheet, const std::vector<std::uint64_t>& fileSectors,
                      ImageLayout& layout, std::string* error = nullptr);

}  // namespace tralux::cd
