#pragma once
// The AccurateRip checksums and the CRC computed from a track's bytes independently of the
// program, for the tests to compare against.
#include <cstdint>

#include "cd/accuraterip.h"
#include "support/wav_builder.h"

namespace tralux::test {

// The checksums the slow, obvious way: every sample frame with its 1-based place in the track.
inline cd::TrackChecksums Reference(const Bytes& track, bool first, bool last) {
    const std::size_t n = track.size() / 4;
    cd::TrackChecksums r;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t place = i + 1;
        if (first && place < 5 * 588) continue;
        if (last && place + 5 * 588 > n) continue;
        const std::uint32_t left = track[4 * i] | track[4 * i + 1] << 8;
        const std::uint32_t right = track[4 * i + 2] | track[4 * i + 3] << 8;
        const std::uint64_t product = static_cast<std::uint64_t>(right << 16 | left) * place;
        r.v1 += static_cast<std::uint32_t>(product & 0xFFFFFFFF);
        r.v2 += static_cast<std::uint32_t>(product & 0xFFFFFFFF) +
                static_cast<std::uint32_t>(product >> 32);
    }
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::uint8_t b : track) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320 : 0);
    }
    r.crc = ~crc;
    return r;
}

}  // namespace tralux::test
