#pragma once
// Builds RIFF files byte by byte for tests, and reads back what the engine wrote.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tralux::test {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Put32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutId(Bytes& b, const char* id) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(id[i]));  // gcc 12 misreads insert here
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline void PutChunk(Bytes& b, const char* id, const Bytes& payload) {
    PutId(b, id);
    Put32(b, static_cast<std::uint32_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    if (payload.size() & 1) b.push_back(0);
}

inline Bytes FmtPayload(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                        std::uint16_t bits, std::uint16_t extra = 0) {
    Bytes f;
    Put16(f, tag);
    Put16(f, channels);
    Put32(f, rate);
    Put32(f, rate * channels * (bits / 8));
    Put16(f, static_cast<std::uint16_t>(channels * (bits / 8)));
    Put16(f, bits);
    for (std::uint16_t i = 0; i < extra; ++i) f.push_back(0);
    return f;
}

// A RIFF/WAVE file from a list of chunks; the RIFF size is set from the content.
inline Bytes Riff(const std::vector<std::pair<std::string, Bytes>>& chunks,
                  const char* form = "WAVE") {
    Bytes b;
    PutId(b, "RIFF");
    Put32(b, 0);
    PutId(b, form);
    for (const auto& [id, payload] : chunks) PutChunk(b, id.c_str(), payload);
    const std::uint32_t size = static_cast<std::uint32_t>(b.size() - 8);
    std::memcpy(b.data() + 4, &size, 4);
    return b;
}

inline Bytes Pcm16(const std::vector<std::int16_t>& samples) {
    Bytes b;
    for (std::int16_t s : samples) Put16(b, static_cast<std::uint16_t>(s));
    return b;
}

inline Bytes SimpleWav(const std::vector<std::int16_t>& samples, std::uint16_t channels,
                       std::uint32_t rate) {
    return Riff({{"fmt ", FmtPayload(1, channels, rate, 16)}, {"data", Pcm16(samples)}});
}

// Stereo 24-bit noise (peaks about -18 dBFS) whose low bytes are all in use, as stored.
inline Bytes Noise24(std::size_t frames) {
    Bytes b;
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < frames * 2; ++i) {
        x = x * 1664525u + 1013904223u;
        const std::int32_t v = static_cast<std::int32_t>(x) >> 10;
        for (int k = 0; k < 3; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
    return b;
}

inline void WriteFile(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

inline Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream f(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The payload of a RIFF file's "data" chunk; empty when there is none.
inline Bytes WavData(const Bytes& b) {
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = Get32(b, at + 4);
        if (std::equal(b.begin() + static_cast<std::ptrdiff_t>(at),
                       b.begin() + static_cast<std::ptrdiff_t>(at) + 4, "data")) {
            const std::size_t end = std::min<std::size_t>(b.size(), at + 8 + size);
            return Bytes(b.begin() + static_cast<std::ptrdiff_t>(at) + 8,
                         b.begin() + static_cast<std::ptrdiff_t>(end));
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tralux-test-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline bool HaveTool(const char* name) {
    return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

}  // namespace tralux::test
