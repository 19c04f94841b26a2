#pragma once
// Generated 16-bit PCM WAV inputs for the benchmarks.
#include <cmath>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace tralux::bench {

inline void WritePcmWavHeader(std::ostream& f, std::uint32_t rate, std::uint16_t channels,
                              std::uint64_t frames) {
    auto put32 = [&](std::uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto put16 = [&](std::uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const auto block = static_cast<std::uint16_t>(channels * 2);
    const auto bytes = static_cast<std::uint32_t>(frames * block);
    f.write("RIFF", 4);
    put32(36 + bytes);
    f.write("WAVEfmt ", 8);
    put32(16);
    put16(1);
    put16(channels);
    put32(rate);
    put32(rate * block);
    put16(block);
    put16(16);
    f.write("data", 4);
    put32(bytes);
}

// A mono sine tone of `frames` samples at 12000 peak.
inline void WriteMonoToneWav(const std::string& path, std::uint32_t rate, std::uint64_t frames,
                             double hz) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    WritePcmWavHeader(f, rate, 1, frames);
    std::vector<std::int16_t> pcm(frames);
    for (std::uint64_t i = 0; i < frames; ++i)
        pcm[i] = static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
    f.write(reinterpret_cast<const char*>(pcm.data()),
            static_cast<std::streamsize>(pcm.size() * 2));
}

}  // namespace tralux::bench
