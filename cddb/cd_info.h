#pragma once
// The CD information of one disc and the xmcd text the servers answer with.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cd/toc.h"

namespace tralux::cddb {

struct CdTrackEntry {
    std::string title;
    std::string extended;  // EXTT
    bool selected = true;
    std::uint32_t seconds = 0;
};

struct CdInfo {
    std::string discTitle;   // DTITLE
    std::string discIdText;  // DISCID
    std::string extended;    // EXTD
    std::string comments;    // kept in the cache only
    std::vector<CdTrackEntry> tracks;

    void Clear() { *this = CdInfo{}; }
};

// Lowercase hexadecimal without leading zeros, as the protocol and the cache name discs.
std::string DiscIdText(std::uint32_t discId);

// "音樂 CD, 音軌#%d          " (the placeholder of a .cda before any lookup).
std::string PlaceholderTrackTitle(int trackNumber);
// "CD Digital Audio, Track#%d" (the default entry's titles).
std::string DefaultTrackTitle(int trackNumber);

// Cleared record with the disc identifier text and `trackCount` placeholder entries.
void ResetForDisc(CdInfo& info, std::uint32_t discId, std::size_t trackCount);

// Reply lines into `info` with `trackCount` entries; keywords repeated over several lines are
// joined with one blank. False (record cleared) for an empty list.
bool ParseXmcd(const std::vector<std::string>& lines, CdInfo& info, std::size_t trackCount);

// The entry used when no server answers: disc title and extended data from the caller,
// default track titles.
std::vector<std::string> DefaultEntry(std::uint32_t discId, std::size_t trackCount,
                                      std::string_view discTitle, std::string_view extended);

// Per-track playing time in whole seconds, the last one up to the lead-out.
void ComputeTrackLengths(CdInfo& info, const DiscToc& toc);

// --- UTF-8 helpers ---------------------------------------------------------------------------
bool IsValidUtf8(std::string_view text);
// At most `maxBytes` bytes, never ending inside a character.
std::string TruncateUtf8(std::string_view text, std::size_t maxBytes);
// ISO-8859-1 bytes as UTF-8.
std::string Latin1ToUtf8(std::string_view text);
// Blanks, tabs and line ends removed at both ends.
std::string_view TrimBlanks(std::string_view text);

// Longest text handed to a stream record (bytes).
inline constexpr std::size_t kMaxInfoText = 100;

}  // namespace tralux::cddb
