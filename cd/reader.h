#pragma once
// Reading one audio-CD track into a sink, in chunks of 20 sectors, with the overlap
// matching that makes the chunks join seamlessly when "Jitter" is on.
//
// Positions are kept in sample frames (588 to a sector), so a chunk may end inside a sector.
// With jitter correction every delivered frame is placed exactly:
//   - a read in the middle of a track starts `overlap` sectors before the last delivered frame
//     plus a reach of `overlap` sectors on both sides, and the last `overlap` sectors delivered
//     are searched for around their expected place, in both directions, nearest first, with
//     whole-sample compares; only a match that is unique within the reach places the read;
//   - where nothing delivered can place a read (the start of the track, digital silence or a
//     periodic sound at the end of what was delivered, a read that matched nowhere), the same
//     range is read again until one answer leads every other by five (the drive lands right
//     more often than not), and that answer is delivered;
//   - where every place the last frames could lie at continues alike (digital silence, a
//     steady tone), the frames they agree on are delivered: they are right wherever the read
//     landed;
//   - no read goes past the lead-out, and a failed place is a failure (CdUnverified), never a
//     quietly short track.
// A read that fails is narrowed down to its first unreadable sector: every good sector before it
// is delivered. After the retries the track fails there (CdReadFailure), or, with skipBad, the
// unreadable sectors become silence and the rip goes on. Each damaged stretch is recorded.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "cd/aspi.h"
#include "engine/job/stream_info.h"

namespace tralux::cd {

constexpr std::uint32_t kChunkSectors = 20;
constexpr std::uint32_t kMaxOverlapSectors = kChunkSectors / 2;

// Where CdRipTrack delivers: Block gets whole sample frames (the bytes may be changed in place);
// Finish runs after the last block. Either may throw to stop the track (the engine's code 0).
class CdSink {
public:
    virtual ~CdSink() = default;
    virtual void Block(std::uint8_t* data, std::size_t bytes) = 0;
    virtual void Finish() = 0;
};

struct CdRipRequest {
    std::uint32_t startMs = 0;
    bool jitter = false;   // the "Jitter" option
    bool skipBad = false;  // unreadable sectors become silence instead of ending the track
    // The drive's read offset in sample frames: frame F of the disc is read at F + readOffset.
    // Before sector 0 is silence; past the lead-out is what a drive gives when asked once
    // (LastTrackEdges), silence when it refuses.
    std::int32_t readOffset = 0;
    // Sees every delivered frame before the sink (which may change the bytes).
    std::function<void(const std::uint8_t* data, std::size_t bytes)> tap = nullptr;
};

// The drive never answered the same way often enough to establish the audio at a place (the
// sectors themselves could be read).
class CdUnverified : public CdReadFailure {
public:
    const char* what() const noexcept override { return "Audio could not be verified"; }
};

// A stretch of a track that could not be read (padded with silence when skipBad) or verified.
struct CdDamage {
    enum Kind { Unreadable, Padded, Unverified } kind = Unreadable;
    int track = 0;
    std::uint64_t firstFrame = 0;  // from the start of the track, in sample frames
    std::uint64_t frames = 0;
};
// The damage of the last track ripped in this process (cleared when a rip starts).
std::vector<CdDamage> LastTrackDamage();
// Where the read offset reached beyond the disc's edges in the last track ripped: frames put
// as silence (before sector 0, or past the lead-out of a drive that refuses to read there) and
// frames read past the lead-out.
struct CdEdges {
    int track = 0;
    std::uint64_t padded = 0, overread = 0;
};
CdEdges LastTrackEdges();
// "音軌 2, 00:04.40, 3 個磁區" style place of a stretch.
std::string DescribeDamage(const CdDamage& d);

// Raised when no drive holds the track (the search has shown "Track not found").
class CdTrackNotFound : public std::exception {
public:
    const char* what() const noexcept override { return "Track not found"; }
};

// Reads the track from startMs on into the sink. Returns after Finish; raises CdReadFailure (123)
// or CdTrackNotFound, or passes on what the sink threw. The drive is closed on every path.
void CdRipTrack(CdSink& sink, StreamInfo& info, const CdRipRequest& request);

// One chunk: the frames from `next` (absolute sample frame) on, at most up to `target`.
struct CdChunk {
    std::uint8_t* data = nullptr;
    std::uint32_t frames = 0;
};
// Without jitter correction: `count` whole sectors from absolute `lba`, delivered as read.
// With it: at least one placed frame. Raises CdReadFailure. The data stays valid until the
// next read.
CdChunk CdReadChunk(CdDriveAddress address, std::uint64_t next, std::uint64_t target);

// The overlap search: where `reference` (sample frames) lies in `buffer`, looking at offsets
// expected - radius .. expected + radius, nearest first.
struct OverlapMatch {
    enum Kind { Unique, Ambiguous, None } kind = None;
    std::size_t offset = 0;  // in frames, for Unique
};
OverlapMatch FindOverlap(std::span<const std::uint32_t> buffer,
                         std::span<const std::uint32_t> reference, std::size_t expected,
                         std::size_t radius);

// The jitter state of the running track (tests and the benchmark).
struct JitterStats {
    std::uint32_t overlap = 0;  // sectors
    std::uint64_t reads = 0, matched = 0, votes = 0, failures = 0;
};
JitterStats CurrentJitterStats();

// Starts a chain for the jitter reader outside CdRipTrack (the benchmark reads from a drive it
// opened itself): overlap as at the start of a track, nothing delivered, the given lead-out.
void ResetJitterState(bool jitter, std::uint32_t leadOut);

}  // namespace tralux::cd
