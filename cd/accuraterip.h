#pragma once
// Verification of ripped tracks: the AccurateRip checksums (v1, v2) and the copy CRC of a
// track's samples, the disc ids the database is keyed by, and the database file format.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cd/toc.h"

namespace tralux::cd {

// Frames the first track leaves out at its start (5 sectors less one) and the last at its end.
constexpr std::uint32_t kArSkipFrames = 5 * 588;

struct TrackChecksums {
    std::uint32_t v1 = 0, v2 = 0, crc = 0;
};

// Accumulates the checksums of one track's frames (16-bit stereo, little-endian) as they are
// ripped, in any block sizes. `frames` is the track's full length, needed for the last track.
class TrackChecksummer {
public:
    TrackChecksummer(std::uint64_t frames, bool firstTrack, bool lastTrack);
    void Add(const std::uint8_t* data, std::size_t bytes);
    TrackChecksums Result() const;
    std::uint64_t Frames() const { return position_; }
    // The loudest sample so far, 0..32768.
    std::uint32_t Peak() const { return peak_; }

private:
    std::uint64_t frames_;
    bool first_, last_;
    std::uint64_t position_ = 0;  // frames seen
    std::uint32_t v1_ = 0, v2_ = 0, crc_ = 0xFFFFFFFFu;
    std::uint32_t peak_ = 0;
};

// Plain CRC-32 (as zlib) of a byte range, continuing from `crc` (0 to start).
std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t bytes);

// The ids of a disc's audio session: id1 sums the track starts and the lead-out, id2 sums each
// (at least 1) times its track number, the lead-out counted as track count + 1.
struct ArDiscIds {
    std::uint32_t id1 = 0, id2 = 0, cddb = 0;
    std::uint32_t tracks = 0;  // audio tracks
};
// False for a table that holds no audio tracks.
bool ArIdsFromToc(const DiscToc& toc, std::uint32_t cddbId, ArDiscIds& ids);
// "dBAR-003-0000084e-0000172b-1e02b203.bin"
std::string ArFileName(const ArDiscIds& ids);
// "/accuraterip/e/4/8/dBAR-….bin": the last three hex digits of id1, lowest first.
std::string ArUrlPath(const ArDiscIds& ids);

// One pressing's answer: the ids it was stored under and per track confidence and checksums.
struct ArResponse {
    std::uint32_t id1 = 0, id2 = 0, cddb = 0;
    struct Track {
        std::uint8_t confidence = 0;
        std::uint32_t crc = 0, crc450 = 0;
    };
    std::vector<Track> tracks;
};
// Parses a database file: responses one after the other, each a 13-byte header (track count,
// id1, id2, cddb id, little-endian) and 9 bytes per track. Nullopt for a file that is cut short
// or holds no response.
std::optional<std::vector<ArResponse>> ParseArDatabase(std::span<const std::uint8_t> bytes);

// The database's verdict on one track.
struct ArTrackResult {
    enum Kind { Absent, Match, Mismatch } kind = Absent;
    std::uint32_t confidence = 0;  // of the match, else the best confidence stored for the track
    int version = 0;               // 1 or 2 for a match
};
// Compares a track (1-based number) against every response stored for this disc.
ArTrackResult ArVerify(const std::vector<ArResponse>& responses, const ArDiscIds& ids,
                       std::uint32_t track, const TrackChecksums& sums);

// "accurately ripped (confidence 12, v2)", "not in database", "does not match (best confidence 5)".
std::string ArResultText(const ArTrackResult& r);
// "match", "mismatch", "absent".
const char* ArResultWord(const ArTrackResult& r);

// Read offsets many drives need, most common first; tried when none is set.
std::span<const std::int32_t> CommonReadOffsets();

}  // namespace tralux::cd
