#include "cd/reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace tralux::cd {
namespace {

constexpr std::size_t kHistoryFrames = kMaxOverlapSectors * kFramesPerSector;
constexpr int kMaxPlacingReads = 16;  // continuity reads per chunk before voting
constexpr int kMaxVoteReads = 64;     // reads of one range while voting
constexpr int kVoteLead = 5;          // an answer wins when it leads every other by five
constexpr int kMaxConsecutiveFailures = 8;
constexpr int kSingleSectorAttempts = 3;  // per sector while narrowing a failure down

struct JitterState {
    bool jitter = false;
    std::uint32_t overlap = 0;
    std::uint32_t leadOut = 0;
    // Reads stay within [floor, ceiling): around an unreadable sector, reads that would touch it
    // are never sent.
    std::uint32_t floor = 0;
    std::uint32_t ceiling = 0;
    std::vector<std::uint32_t> history;  // the last frames delivered in this track
    std::vector<std::uint8_t> placed;    // the winning answer of a vote
    JitterStats stats;
};

JitterState& J() {
    static JitterState j;
    return j;
}

std::span<const std::uint32_t> Frames(const std::uint8_t* bytes, std::size_t frames) {
    return {reinterpret_cast<const std::uint32_t*>(bytes), frames};
}

// Reads whole sectors, counting failures; raises after too many failures in a row.
bool TryRead(CdDriveAddress address, std::uint32_t lba, std::uint32_t count, int& failures) {
    JitterState& j = J();
    ++j.stats.reads;
    try {
        CdReadSectors(address, lba, count);
        failures = 0;
        return true;
    } catch (const CdReadFailure&) {
        ++j.stats.failures;
        if (++failures >= kMaxConsecutiveFailures) throw;
        return false;
    }
}

std::uint32_t SectorCeil(std::uint64_t frame) {
    return static_cast<std::uint32_t>((frame + kFramesPerSector - 1) / kFramesPerSector);
}

// The range a read covers: `before` sectors ahead of `fromFrame`'s sector, `after` sectors
// beyond `target`'s, never past the lead-out nor beyond the transfer buffer.
void ReadRange(std::uint64_t fromFrame, std::uint64_t target, std::uint32_t before,
               std::uint32_t after, std::uint32_t& first, std::uint32_t& count) {
    const JitterState& j = J();
    const std::uint32_t from = static_cast<std::uint32_t>(fromFrame / kFramesPerSector);
    first = std::max(from > before ? from - before : 0, std::min(j.floor, from));
    std::uint32_t last = std::min({SectorCeil(target) + after, j.leadOut, j.ceiling});
    last = std::max(last, std::min(SectorCeil(target), j.leadOut));
    last = std::min(last, first + kMaxSectorsPerRead);
    count = last > first ? last - first : 0;
}

// Places the range by voting: the same sectors are read until one answer leads every other.
CdChunk Vote(CdDriveAddress address, std::uint64_t next, std::uint64_t target) {
    JitterState& j = J();
    std::uint32_t first, count;
    const std::uint32_t reach = std::max<std::uint32_t>(j.overlap, 2);
    ReadRange(next, target, reach, reach, first, count);
    const std::uint64_t begin = static_cast<std::uint64_t>(first) * kFramesPerSector;
    if (count == 0 || next < begin ||
        target > begin + static_cast<std::uint64_t>(count) * kFramesPerSector)
        throw CdReadFailure();
    const std::size_t bytes = static_cast<std::size_t>(count) * kSectorBytes;
    struct Answer {
        std::vector<std::uint8_t> data;
        int votes = 0;
    };
    std::vector<Answer> answers;
    int failures = 0;
    ++j.stats.votes;
    for (int read = 0; read < kMaxVoteReads; ++read) {
        if (!TryRead(address, first, count, failures)) continue;
        const std::uint8_t* buffer = TransferBuffer();
        auto same = std::find_if(answers.begin(), answers.end(), [&](const Answer& a) {
            return std::memcmp(a.data.data(), buffer, bytes) == 0;
        });
        if (same == answers.end()) {
            answers.push_back({std::vector<std::uint8_t>(buffer, buffer + bytes), 0});
            same = answers.end() - 1;
        }
        ++same->votes;
        int second = 0;
        for (const Answer& a : answers)
            if (&a != &*same) second = std::max(second, a.votes);
        if (same->votes >= second + kVoteLead) {
            j.placed = std::move(same->data);
            const std::size_t offset = static_cast<std::size_t>(next - begin) * 4;
            return {j.placed.data() + offset, static_cast<std::uint32_t>(target - next)};
        }
    }
    throw CdUnverified();  // the drive never answered the same way often enough
}

// The offsets within `radius` of `expected` at which `length` frames still fit in `size`
// (size >= length); lo > hi when there is none.
std::pair<std::int64_t, std::int64_t> Reach(std::size_t size, std::size_t length,
                                            std::size_t expected, std::size_t radius) {
    const std::int64_t e = static_cast<std::int64_t>(expected),
                       r = static_cast<std::int64_t>(radius);
    return {std::max<std::int64_t>(e - r, 0),
            std::min(e + r, static_cast<std::int64_t>(size - length))};
}

// Where the last frames delivered lie at several places within reach (silence, a steady tone),
// the read cannot be placed, but it need not be: when every such place continues with the same
// frames, those frames are right wherever the read landed. The place of the first candidate and
// how many frames all agree on (0: they differ at once, or there are too many to compare).
struct Agreed {
    std::size_t start = 0;
    std::size_t frames = 0;
};
Agreed AgreedContinuation(std::span<const std::uint32_t> buffer,
                          std::span<const std::uint32_t> reference, std::size_t expected,
                          std::size_t radius, std::size_t want) {
    constexpr std::size_t kMaxCandidates = 64;
    const std::size_t length = reference.size();
    if (length == 0 || buffer.size() <= length) return {};
    const std::int64_t len = static_cast<std::int64_t>(length);
    const auto [lo, hi] = Reach(buffer.size(), length, expected, radius);
    if (lo > hi) return {};
    const std::uint32_t* b = buffer.data();
    const std::uint32_t head = reference[0];
    const bool constant =
        std::all_of(reference.begin(), reference.end(), [&](std::uint32_t f) { return f == head; });
    if (constant) {
        // Candidates are the offsets whose next `length` frames all hold the level. They must
        // form one run; all of them agree up to where that run of the level ends.
        std::int64_t first = -1, last = -1, run = 0;
        for (std::int64_t i = lo; i < hi + len; ++i) {
            run = b[i] == head ? run + 1 : 0;
            const std::int64_t c = i - len + 1;
            if (run < len || c < lo) continue;
            if (first >= 0 && c != last + 1) return {};  // two separate runs
            if (first < 0) first = c;
            last = c;
        }
        if (first < 0) return {};
        const std::size_t from = static_cast<std::size_t>(last + len);
        std::size_t end = from;
        if (first != last)
            while (end < buffer.size() && b[end] == head) ++end;
        else
            end = buffer.size();  // one place only: the read is placed
        return {from, std::min(end - from, want)};
    }
    std::vector<std::size_t> candidates;
    const std::size_t refBytes = length * 4;
    for (std::int64_t c = lo; c <= hi; ++c) {
        if (b[c] != head || std::memcmp(b + c, reference.data(), refBytes) != 0) continue;
        if (candidates.size() == kMaxCandidates) return {};
        candidates.push_back(static_cast<std::size_t>(c));
    }
    if (candidates.empty()) return {};
    const std::size_t from = candidates.front() + length;
    std::size_t agree = std::min(buffer.size() - (candidates.back() + length), want);
    for (std::size_t k = 1; k < candidates.size() && agree > 0; ++k) {
        const std::uint32_t* a = b + from;
        const std::uint32_t* o = b + candidates[k] + length;
        std::size_t n = 0;
        while (n < agree && a[n] == o[n]) ++n;
        agree = n;
    }
    return {from, agree};
}

std::mutex g_damageMutex;
std::vector<CdDamage> g_damage;
CdEdges g_edges;

void RecordDamage(const CdDamage& d) {
    std::lock_guard lock(g_damageMutex);
    g_damage.push_back(d);
}

// One sector read alone, tried up to kSingleSectorAttempts times.
bool ReadsAlone(CdDriveAddress address, std::uint32_t sector) {
    for (int attempt = 0; attempt < kSingleSectorAttempts; ++attempt) {
        ++J().stats.reads;
        try {
            CdReadSectors(address, sector, 1);
            return true;
        } catch (const CdReadFailure&) {
            ++J().stats.failures;
        }
    }
    return false;
}

// The first sector from `from` on (up to `to`) that can be read, or `to`.
std::uint32_t FirstReadable(CdDriveAddress address, std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t s = from; s < to; ++s)
        if (ReadsAlone(address, s)) return s;
    return to;
}

// Reads one sector at a time from `from` on, up to `to` (exclusive): the first that cannot be
// read after the retries, or `to` when all could.
std::uint32_t FirstUnreadable(CdDriveAddress address, std::uint32_t from, std::uint32_t to) {
    for (std::uint32_t s = from; s < to; ++s)
        if (!ReadsAlone(address, s)) return s;
    return to;
}

}  // namespace

std::vector<CdDamage> LastTrackDamage() {
    std::lock_guard lock(g_damageMutex);
    return g_damage;
}

CdEdges LastTrackEdges() {
    std::lock_guard lock(g_damageMutex);
    return g_edges;
}

std::string DescribeDamage(const CdDamage& d) {
    const std::uint64_t cs = d.firstFrame * 100 / 44100;  // hundredths of a second
    char text[96];
    std::snprintf(
        text, sizeof text, "音軌 %d, %02llu:%02llu.%02llu, %.2f 秒", d.track,
        static_cast<unsigned long long>(cs / 6000), static_cast<unsigned long long>(cs / 100 % 60),
        static_cast<unsigned long long>(cs % 100), static_cast<double>(d.frames) / 44100.0);
    return text;
}

OverlapMatch FindOverlap(std::span<const std::uint32_t> buffer,
                         std::span<const std::uint32_t> reference, std::size_t expected,
                         std::size_t radius) {
    const std::size_t length = reference.size();
    if (length == 0) return {OverlapMatch::Unique, std::min(expected, buffer.size())};
    if (buffer.size() < length) return {};
    const std::uint32_t head = reference[0];
    // Silence or a constant level matches at every neighbouring offset: nothing to place by.
    if (std::all_of(reference.begin(), reference.end(), [&](std::uint32_t f) { return f == head; }))
        return {OverlapMatch::Ambiguous, 0};
    const std::int64_t e = static_cast<std::int64_t>(expected);
    const auto [lo, hi] = Reach(buffer.size(), length, expected, radius);
    if (lo > hi) return {};
    const std::uint32_t* b = buffer.data();
    const std::size_t refBytes = length * 4;
    auto matches = [&](std::int64_t c) {
        return b[c] == head && std::memcmp(b + c, reference.data(), refBytes) == 0;
    };
    OverlapMatch found;
    // The expected place first, then outward on both sides; a second match makes it ambiguous.
    for (std::int64_t d = 0; e - d >= lo || e + d <= hi; ++d) {
        const std::int64_t candidates[2] = {e - d, e + d};
        for (int i = 0; i < (d == 0 ? 1 : 2); ++i) {
            const std::int64_t c = candidates[i];
            if (c < lo || c > hi || !matches(c)) continue;
            if (found.kind == OverlapMatch::Unique) return {OverlapMatch::Ambiguous, 0};
            found = {OverlapMatch::Unique, static_cast<std::size_t>(c)};
        }
    }
    return found;
}

JitterStats CurrentJitterStats() {
    JitterStats s = J().stats;
    s.overlap = J().overlap;
    return s;
}

void ResetJitterState(bool jitter, std::uint32_t leadOut) {
    JitterState& j = J();
    j.jitter = jitter;
    j.overlap = jitter ? 2 : 0;
    j.leadOut = leadOut;
    j.floor = 0;
    j.ceiling = leadOut;
    j.history.clear();
    j.stats = {};
}

CdChunk CdReadChunk(CdDriveAddress address, std::uint64_t next, std::uint64_t target) {
    JitterState& j = J();
    if (target <= next) throw CdReadFailure();
    if (!j.jitter) {
        // A read offset puts `next` and `target` inside sectors: deliver only what was asked.
        const std::uint32_t lba = static_cast<std::uint32_t>(next / kFramesPerSector);
        const std::uint32_t count = SectorCeil(target) - lba;
        ++j.stats.reads;
        CdReadSectors(address, lba, count);
        return {TransferBuffer() + next % kFramesPerSector * 4,
                static_cast<std::uint32_t>(target - next)};
    }
    int failures = 0;
    for (int attempt = 0; attempt < kMaxPlacingReads; ++attempt) {
        const std::size_t length = static_cast<std::size_t>(j.overlap) * kFramesPerSector;
        if (j.overlap == 0 || j.history.size() < length || next < length) break;
        // Start `overlap` sectors before the end of what was delivered, and reach `overlap`
        // sectors further on both sides, so reads landing early or late are both found.
        const std::uint64_t refStart = next - length;
        std::uint32_t first, count;
        ReadRange(refStart, target, j.overlap, j.overlap, first, count);
        if (count == 0) break;
        if (!TryRead(address, first, count, failures)) continue;
        const std::size_t frames = static_cast<std::size_t>(count) * kFramesPerSector;
        const std::span<const std::uint32_t> reference(j.history.data() + j.history.size() - length,
                                                       length);
        const std::size_t expected = static_cast<std::size_t>(
            refStart - static_cast<std::uint64_t>(first) * kFramesPerSector);
        const OverlapMatch m = FindOverlap(Frames(TransferBuffer(), frames), reference, expected,
                                           static_cast<std::size_t>(j.overlap) * kFramesPerSector);
        if (m.kind == OverlapMatch::Ambiguous) {
            const Agreed a =
                AgreedContinuation(Frames(TransferBuffer(), frames), reference, expected,
                                   static_cast<std::size_t>(j.overlap) * kFramesPerSector,
                                   static_cast<std::size_t>(target - next));
            if (a.frames == 0) break;
            ++j.stats.matched;
            return {TransferBuffer() + a.start * 4, static_cast<std::uint32_t>(a.frames)};
        }
        if (m.kind == OverlapMatch::None) {
            // Matched nowhere within reach: a longer overlap reaches further (at most half a chunk).
            if (j.overlap < kMaxOverlapSectors) ++j.overlap;
            continue;
        }
        const std::size_t start = m.offset + length;
        if (start >= frames) continue;  // landed so late that nothing new came: read again
        ++j.stats.matched;
        const std::uint64_t give = std::min<std::uint64_t>(frames - start, target - next);
        return {TransferBuffer() + start * 4, static_cast<std::uint32_t>(give)};
    }
    return Vote(address, next, target);
}

// The `frames` sample frames from the lead-out on, when the drive reads past it; empty when it
// refuses. With jitter correction two reads must agree, as nothing before can place them.
std::vector<std::uint8_t> Overread(CdDriveAddress address, std::uint32_t leadOut,
                                   std::int64_t frames, bool jitter) {
    const std::uint32_t sectors = SectorCeil(static_cast<std::uint64_t>(frames));
    // Only READ CD is asked: the raw road would retry a refusal many times over.
    if (!AspiInUse() || sectors == 0 || sectors > kMaxSectorsPerRead) return {};
    const std::size_t bytes = static_cast<std::size_t>(frames) * 4;
    std::vector<std::uint8_t> first;
    for (int read = 0; read < (jitter ? 2 : 1); ++read) {
        try {
            CdReadSectors(address, leadOut, sectors);
        } catch (const CdReadFailure&) {
            return {};
        }
        const std::uint8_t* data = TransferBuffer();
        if (read == 0)
            first.assign(data, data + bytes);
        else if (!std::equal(first.begin(), first.end(), data))
            return {};
    }
    return first;
}

void CdRipTrack(CdSink& sink, StreamInfo& info, const CdRipRequest& request) {
    struct Closer {
        ~Closer() {
            RawDriveClose();
            AspiClose();
        }
    } closer;
    {
        std::lock_guard lock(g_damageMutex);
        g_damage.clear();
        g_edges = {info.trackNumber, 0, 0};
    }
    if (!AspiOpen()) throw CdReadFailure();  // no transfer buffer: nothing can be read
    ResetJitterState(false, 0);
    RawDriveOpen(info.driveLetter);

    // Warm-up: find the drive and position it; a failed read here moves to the raw road.
    CdDriveAddress address = AspiFindTrackDrive(info);
    if (address == kNoDrive) throw CdTrackNotFound();
    const std::uint32_t startOffset =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(request.startMs) * 75 / 1000);
    std::uint32_t pos = info.readStartSector + startOffset;
    const std::uint32_t end = info.readStartSector + info.lengthSectors;
    if (pos < end) {
        try {
            CdReadSectors(address, pos, 1);
        } catch (const CdReadFailure&) {
            SetAspiInUse(false);
        }
    }
    address = AspiFindTrackDrive(info);
    if (address == kNoDrive) throw CdTrackNotFound();
    AspiReadCapacity(address);  // positions the drive; the answer is not used
    std::uint32_t leadOut = AspiInUse() ? AspiLeadOut() : RawDriveLeadOut();
    if (leadOut < end) leadOut = end;  // unknown: never read past the track
    pos = info.readStartSector + startOffset;

    ResetJitterState(request.jitter, leadOut);
    JitterState& j = J();
    const std::int64_t shift = request.readOffset;
    std::int64_t next = static_cast<std::int64_t>(pos) * kFramesPerSector + shift;
    const std::int64_t trackStart =
        static_cast<std::int64_t>(info.readStartSector) * kFramesPerSector + shift;
    const std::int64_t last = static_cast<std::int64_t>(end) * kFramesPerSector + shift;
    const std::int64_t readable = static_cast<std::int64_t>(leadOut) * kFramesPerSector;
    std::vector<std::uint8_t> silence;
    auto deliver = [&](std::uint8_t* data, std::uint32_t frames) {
        const std::size_t bytes = static_cast<std::size_t>(frames) * 4;
        if (request.tap) request.tap(data, bytes);
        sink.Block(data, bytes);
    };
    auto damage = [&](CdDamage::Kind kind, std::int64_t from, std::int64_t frames) {
        RecordDamage({kind, info.trackNumber, static_cast<std::uint64_t>(from - trackStart),
                      static_cast<std::uint64_t>(frames)});
    };
    auto pad = [&](std::int64_t to) {
        while (next < to) {
            const std::int64_t n =
                std::min<std::int64_t>(to - next, kChunkSectors * kFramesPerSector);
            silence.assign(static_cast<std::size_t>(n) * 4, 0);
            deliver(silence.data(), static_cast<std::uint32_t>(n));
            next += n;
        }
    };
    // An offset that reaches past the lead-out: a drive that reads there is asked once.
    const std::vector<std::uint8_t> beyond =
        last > readable ? Overread(address, leadOut, last - readable, request.jitter)
                        : std::vector<std::uint8_t>();
    const std::int64_t beyondEnd = readable + static_cast<std::int64_t>(beyond.size() / 4);
    while (next < last) {
        if (next >= readable && next < beyondEnd) {
            const std::int64_t n = std::min(last, beyondEnd) - next;
            std::vector<std::uint8_t> piece(beyond.begin() + (next - readable) * 4,
                                            beyond.begin() + (next - readable + n) * 4);
            deliver(piece.data(), static_cast<std::uint32_t>(n));
            next += n;
            std::lock_guard lock(g_damageMutex);
            g_edges.overread += static_cast<std::uint64_t>(n);
            continue;
        }
        if (next < 0 || next >= readable) {
            // Lead-in or lead-out that an offset reaches into: silence, as most drives give.
            const std::int64_t from = next;
            pad(std::min(last, next < 0 ? std::int64_t{0} : last));
            std::lock_guard lock(g_damageMutex);
            g_edges.padded += static_cast<std::uint64_t>(next - from);
            continue;
        }
        const std::int64_t stop = std::min<std::int64_t>(
            {last, readable, static_cast<std::int64_t>(j.ceiling) * kFramesPerSector});
        if (next >= stop) {
            // At a sector that cannot be read.
            if (!request.skipBad) {
                damage(CdDamage::Unreadable, next,
                       std::min<std::int64_t>(last - next, kFramesPerSector));
                throw CdReadFailure();
            }
            // The stretch runs to the next readable sector.
            const std::uint32_t good = FirstReadable(address, j.ceiling, end);
            const std::int64_t padTo =
                std::min<std::int64_t>(static_cast<std::int64_t>(good) * kFramesPerSector, last);
            damage(CdDamage::Padded, next, padTo - next);
            pad(padTo);
            // Nothing before the gap may place what comes after it.
            j.history.clear();
            j.floor = good;
            j.ceiling = leadOut;
            continue;
        }
        const std::int64_t target =
            std::min<std::int64_t>(next + kChunkSectors * kFramesPerSector, stop);
        CdChunk chunk;
        try {
            chunk = CdReadChunk(address, static_cast<std::uint64_t>(next),
                                static_cast<std::uint64_t>(target));
        } catch (const CdUnverified&) {
            damage(CdDamage::Unverified, next, target - next);
            throw;
        } catch (const CdReadFailure&) {
            // Narrow it down: the sectors up to the first unreadable one are read again.
            const std::uint32_t from = static_cast<std::uint32_t>(next / kFramesPerSector);
            const std::uint32_t to = std::min(SectorCeil(static_cast<std::uint64_t>(target)) +
                                                  std::max<std::uint32_t>(j.overlap, 2),
                                              j.ceiling);
            const std::uint32_t bad = FirstUnreadable(address, from, to);
            if (bad >= j.ceiling || bad >= to) throw;  // every sector reads alone
            j.ceiling = bad;
            continue;
        }
        if (chunk.frames == 0) throw CdReadFailure();
        if (request.jitter) {
            // Keep what the next read is placed by before the sink may change the bytes.
            const auto* f = reinterpret_cast<const std::uint32_t*>(chunk.data);
            j.history.insert(j.history.end(), f, f + chunk.frames);
            if (j.history.size() > kHistoryFrames)
                j.history.erase(j.history.begin(),
                                j.history.end() - static_cast<std::ptrdiff_t>(kHistoryFrames));
        }
        deliver(chunk.data, chunk.frames);
        next += chunk.frames;
        std::this_thread::yield();
    }
    sink.Finish();
}

}  // namespace tralux::cd
