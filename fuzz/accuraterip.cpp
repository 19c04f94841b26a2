// Arbitrary bytes as an AccurateRip database file: a parsed file accounts for every byte, and a
// verdict on any track of it is one of the three kinds.
#include <cstdint>
#include <span>

#include "cd/accuraterip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = tralux::cd::ParseArDatabase(std::span(data, size));
    if (!parsed) return 0;
    std::size_t bytes = 0;
    for (const auto& r : *parsed) {
        if (r.tracks.empty() || r.tracks.size() > 255) __builtin_trap();
        bytes += 13 + 9 * r.tracks.size();
    }
    if (bytes != size) __builtin_trap();
    const auto& first = parsed->front();
    const tralux::cd::ArDiscIds ids{first.id1, first.id2, first.cddb,
                                    static_cast<std::uint32_t>(first.tracks.size())};
    for (std::uint32_t t = 0; t <= first.tracks.size() + 1; ++t) {
        const auto r = tralux::cd::ArVerify(*parsed, ids, t, {first.tracks[0].crc, 0, 0});
        if (r.kind == tralux::cd::ArTrackResult::Match && r.version != 1 && r.version != 2)
            __builtin_trap();
        if ((t == 0 || t > first.tracks.size()) && r.kind != tralux::cd::ArTrackResult::Absent)
            __builtin_trap();
    }
    return 0;
}
