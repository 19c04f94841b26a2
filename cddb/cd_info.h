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
    std::string year;        // DYEAR
    std::string genre;       // DGENRE
    std::vector<CdTrackEntry> tracks;

    void Clear() { *this = CdInfo{}; }
};

// Eight lowercase hexadecimal digits, as the protocol names discs ("0f001303").
std::string DiscIdText(std::uint32_t discId);
// The same without leading zeros: older caches named their entries so.
std::string ShortDiscIdText(std::uint32_t discId);

// "音樂 CD, 音軌#N": the title of a track nobody has named (before a lookup, in the default
// entry, wherever no CD information was found).
std::string PlaceholderTrackTitle(int trackNumber);
std::string DefaultTrackTitle(int trackNumber);
// True when every track title is the placeholder (or empty): nothing worth keeping in the
// cache, whatever disc title the caller brought along.
bool IsPlaceholderInfo(const CdInfo& info);

// "Artist / Album" split at the first " / "; without one, both are the whole title.
void SplitDiscTitle(std::string_view discTitle, std::string& artist, std::string& album);

// The text with C0 and C1 control characters (and DEL) removed; a tab becomes a blank.
std::string StripControls(std::string_view text);

// Cleared record with the disc identifier text and `trackCount` placeholder entries.
void ResetForDisc(CdInfo& info, std::uint32_t discId, std::size_t trackCount);

// Reply lines into `info` with `trackCount` entries; keywords repeated over several lines are
// concatenated as they stand (a long title is split anywhere, even inside a word). Control
// characters are dropped. False (record cleared) for an empty list.
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
