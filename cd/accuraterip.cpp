#include "cd/accuraterip.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tralux::cd {
namespace {

// Slicing by eight: table k advances a byte that is followed by k more.
using CrcTables = std::array<std::array<std::uint32_t, 256>, 8>;
const CrcTables& CrcTable() {
    static const CrcTables tables = [] {
        CrcTables t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (std::uint32_t i = 0; i < 256; ++i)
            for (std::size_t k = 1; k < 8; ++k)
                t[k][i] = t[0][t[k - 1][i] & 0xFF] ^ (t[k - 1][i] >> 8);
        return t;
    }();
    return tables;
}

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::size_t bytes) {
    const CrcTables& t = CrcTable();
    crc = ~crc;
    std::size_t i = 0;
    for (; i + 8 <= bytes; i += 8) {
        const std::uint32_t a = crc ^ Le32(data + i);
        const std::uint32_t b = Le32(data + i + 4);
        crc = t[7][a & 0xFF] ^ t[6][a >> 8 & 0xFF] ^ t[5][a >> 16 & 0xFF] ^ t[4][a >> 24] ^
              t[3][b & 0xFF] ^ t[2][b >> 8 & 0xFF] ^ t[1][b >> 16 & 0xFF] ^ t[0][b >> 24];
    }
    for (; i < bytes; ++i) crc = t[0][(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

TrackChecksummer::TrackChecksummer(std::uint64_t frames, bool firstTrack, bool lastTrack)
    : frames_(frames), first_(firstTrack), last_(lastTrack) {}

void TrackChecksummer::Add(const std::uint8_t* data, std::size_t bytes) {
    crc_ = ~Crc32(~crc_, data, bytes);
    const std::uint64_t from = first_ ? kArSkipFrames : 1;  // 1-based positions
    const std::uint64_t to =
        last_ ? (frames_ > kArSkipFrames ? frames_ - kArSkipFrames : 0) : ~std::uint64_t{0};
    const std::size_t frames = bytes / 4;
    std::uint32_t peak = peak_;
    std::uint32_t v1 = v1_, v2 = v2_;
    for (std::size_t i = 0; i < frames; ++i) {
        const std::uint32_t frame = Le32(data + 4 * i);
        const auto left = static_cast<std::int16_t>(frame & 0xFFFF);
        const auto right = static_cast<std::int16_t>(frame >> 16);
        peak = std::max({peak, static_cast<std::uint32_t>(left < 0 ? -left : left),
                         static_cast<std::uint32_t>(right < 0 ? -right : right)});
        const std::uint64_t pos = position_ + i + 1;
        if (pos < from || pos > to) continue;
        const std::uint64_t product = static_cast<std::uint64_t>(frame) * pos;
        v1 += static_cast<std::uint32_t>(product);
        v2 += static_cast<std::uint32_t>(product) + static_cast<std::uint32_t>(product >> 32);
    }
    position_ += frames;
    peak_ = peak;
    v1_ = v1;
    v2_ = v2;
}

TrackChecksums TrackChecksummer::Result() const {
    return {v1_, v2_, ~crc_};
}

bool ArIdsFromToc(const DiscToc& toc, std::uint32_t cddbId, ArDiscIds& ids) {
    ids = {};
    ids.cddb = cddbId;
    std::uint32_t leadOut = toc.leadOutLba;
    std::vector<std::uint32_t> starts;
    for (const TocTrack& t : toc.tracks) {
        if (!t.audio) {
            // A data session after the audio: the audio ends 11,400 sectors before it.
            if (!starts.empty() && t.startLba >= 11400) leadOut = t.startLba - 11400;
            break;
        }
        starts.push_back(t.startLba);
    }
    if (starts.empty() || starts.size() > 99) return false;
    ids.tracks = static_cast<std::uint32_t>(starts.size());
    for (std::size_t i = 0; i < starts.size(); ++i) {
        ids.id1 += starts[i];
        ids.id2 += std::max<std::uint32_t>(starts[i], 1) * static_cast<std::uint32_t>(i + 1);
    }
    ids.id1 += leadOut;
    ids.id2 += std::max<std::uint32_t>(leadOut, 1) * (ids.tracks + 1);
    return true;
}

std::string ArFileName(const ArDiscIds& ids) {
    char name[64];
    std::snprintf(name, sizeof name, "dBAR-%03u-%08x-%08x-%08x.bin", ids.tracks, ids.id1, ids.id2,
                  ids.cddb);
    return name;
}

std::string ArUrlPath(const ArDiscIds& ids) {
    char folder[32];
    std::snprintf(folder, sizeof folder, "/accuraterip/%x/%x/%x/", ids.id1 & 0xF,
                  ids.id1 >> 4 & 0xF, ids.id1 >> 8 & 0xF);
    return folder + ArFileName(ids);
}

std::optional<std::vector<ArResponse>> ParseArDatabase(std::span<const std::uint8_t> bytes) {
    std::vector<ArResponse> out;
    std::size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 13) return std::nullopt;
        const std::uint8_t* h = bytes.data() + at;
        const std::size_t count = h[0];
        if (count == 0 || bytes.size() - at - 13 < count * 9) return std::nullopt;
        ArResponse r;
        r.id1 = Le32(h + 1);
        r.id2 = Le32(h + 5);
        r.cddb = Le32(h + 9);
        r.tracks.resize(count);
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint8_t* p = h + 13 + k * 9;
            r.tracks[k] = {p[0], Le32(p + 1), Le32(p + 5)};
        }
        out.push_back(std::move(r));
        at += 13 + count * 9;
    }
    if (out.empty()) return std::nullopt;
    return out;
}

ArTrackResult ArVerify(const std::vector<ArResponse>& responses, const ArDiscIds& ids,
                       std::uint32_t track, const TrackChecksums& sums) {
    ArTrackResult best;
    std::uint32_t bestStored = 0;
    bool stored = false;
    for (const ArResponse& r : responses) {
        // A file may hold entries of other discs that share its name's ids only in part.
        if (r.id1 != ids.id1 || r.id2 != ids.id2 || r.cddb != ids.cddb ||
            r.tracks.size() != ids.tracks)
            continue;
        if (track < 1 || track > r.tracks.size()) continue;
        const ArResponse::Track& t = r.tracks[track - 1];
        stored = true;
        bestStored = std::max<std::uint32_t>(bestStored, t.confidence);
        // v2 first: it covers everything v1 does and more.
        const int version = t.crc == sums.v2 ? 2 : t.crc == sums.v1 ? 1 : 0;
        if (version && (best.kind != ArTrackResult::Match || t.confidence > best.confidence))
            best = {ArTrackResult::Match, t.confidence, version};
    }
    if (best.kind == ArTrackResult::Match) return best;
    if (!stored) return {};
    return {ArTrackResult::Mismatch, bestStored, 0};
}

std::string ArResultText(const ArTrackResult& r) {
    switch (r.kind) {
        case ArTrackResult::Match:
            return "accurately ripped (confidence " + std::to_string(r.confidence) + ", v" +
                   std::to_string(r.version) + ")";
        case ArTrackResult::Mismatch:
            return "does not match (best confidence " + std::to_string(r.confidence) + ")";
        default:
            return "not in database";
    }
}

const char* ArResultWord(const ArTrackResult& r) {
    return r.kind == ArTrackResult::Match      ? "match"
           : r.kind == ArTrackResult::Mismatch ? "mismatch"
                                               : "absent";
}

std::span<const std::int32_t> CommonReadOffsets() {
    static constexpr std::int32_t kOffsets[] = {6,   667, 48,  102, 12,  30,   91,   97,
                                                103, 116, 594, 685, 702, 1858, -472, -582};
    return kOffsets;
}

}  // namespace tralux::cd
