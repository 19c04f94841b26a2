#include "engine/formats/wav_format_name.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace tralux {
namespace {

std::uint32_t Le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
unsigned Le16(const unsigned char* p) {
    return static_cast<unsigned>(p[0] | p[1] << 8);
}

const char* TagName(unsigned tag) {
    switch (tag) {
        case 0x0002:
            return "Microsoft ADPCM";
        case 0x0006:
            return "A-law";
        case 0x0007:
            return "\xCE\xBC-law";
        case 0x0011:
            return "IMA ADPCM";
        case 0x0031:
            return "GSM 6.10";
        case 0x0050:
            return "MPEG audio";
        case 0x0161:
        case 0x0162:
        case 0x0163:
            return "Windows Media Audio";
        case 0x2000:
            return "AC-3";
        default:
            return nullptr;
    }
}

std::string Format(const char* fmt, unsigned a, unsigned b = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b);
    return buf;
}

}  // namespace

std::string DescribeUnsupportedWav(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> b(65536);
    in.read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
    b.resize(static_cast<std::size_t>(in.gcount()));
    if (b.size() < 12 || std::memcmp(&b[8], "WAVE", 4) != 0) return {};
    if (std::memcmp(&b[0], "RF64", 4) == 0) return "RF64 WAV (64-bit sizes) is not supported";
    if (std::memcmp(&b[0], "RIFF", 4) != 0) return {};
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = Le32(&b[at + 4]);
        if (std::memcmp(&b[at], "fmt ", 4) != 0) {
            at += 8 + static_cast<std::size_t>(size) + (size & 1);
            continue;
        }
        if (size < 16 || at + 8 + 16 > b.size()) return {};
        const unsigned char* f = &b[at + 8];
        unsigned tag = Le16(f);
        const unsigned channels = Le16(f + 2), rate = static_cast<unsigned>(Le32(f + 4)),
                       bits = Le16(f + 14);
        if (tag == 0xFFFE && size >= 40 && at + 8 + 40 <= b.size()) tag = Le16(f + 24);
        if (const char* name = TagName(tag))
            return std::string(name) + " WAV" +
                   Format(" (format 0x%04X) is not supported; PCM or float WAV is", tag);
        if (tag != 1 && tag != 3)
            return Format("WAV format 0x%04X is not supported; PCM or float WAV is", tag);
        if (channels == 6) return "5.1 WAV (6 channels) is not supported; mono or stereo is";
        if (channels < 1 || channels > 2)
            return Format("%u-channel WAV is not supported; mono or stereo is", channels);
        if (rate < 1000 || rate > 192000)
            return Format("WAV at %u Hz is not supported (1000..192000 Hz)", rate);
        if (tag == 1 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
            return Format("%u-bit PCM WAV is not supported (8, 16, 24 or 32 bits)", bits);
        return {};
    }
    return {};
}

}  // namespace tralux
