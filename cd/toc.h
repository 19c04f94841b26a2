#pragma once
// A disc's table of contents as the drive reports it. Addresses are absolute logical block
// addresses (READ TOC in LBA form): the first track of an ordinary disc starts at 0, and the
// 150-frame lead-in is added only where MSF positions are wanted.
#include <cstdint>
#include <string>
#include <vector>

namespace tralux {

struct TocTrack {
    std::uint8_t number = 0;     // 1..99
    std::uint32_t startLba = 0;  // absolute
    bool audio = true;
};

struct DiscToc {
    std::uint8_t firstTrack = 0;
    std::uint8_t lastTrack = 0;
    std::vector<TocTrack> tracks;  // in disc order
    std::uint32_t leadOutLba = 0;  // absolute start of the lead-out

    bool Empty() const { return tracks.empty(); }
};

// Reads the table of contents of the disc in the drive whose root is `root` ("D:", "D:/",
// "D:\"). False when there is no such drive or no readable disc.
bool ReadDiscToc(const std::string& root, DiscToc& toc);

}  // namespace tralux
