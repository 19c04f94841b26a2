#include "engine/outputs/mp3_info_frame.h"

#include <algorithm>
#include <cstring>

namespace tralux {
namespace {

constexpr int kBitratesV1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kBitratesV2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
constexpr std::uint32_t kRates[3][3] = {
    {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
// "Info", flags, frames, bytes, table of contents, quality: then the extension.
constexpr std::size_t kXingBytes = 120;
constexpr std::size_t kExtensionBytes = 36;

std::uint32_t Be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

int SideInfoBytes(int version, int channels) {
    if (version == 0) return channels == 1 ? 17 : 32;
    return channels == 1 ? 9 : 17;
}

bool RateIndex(std::uint32_t rate, int& version, int& index) {
    for (int v = 0; v < 3; ++v)
        for (int i = 0; i < 3; ++i)
            if (kRates[v][i] == rate) {
                version = v;
                index = i;
                return true;
            }
    return false;
}

int FrameBytes(int version, int kbps, std::uint32_t rate, int padding) {
    const int factor = version == 0 ? 144000 : 72000;
    return static_cast<int>(static_cast<std::uint64_t>(factor) * static_cast<std::uint32_t>(kbps) /
                            rate) +
           padding;
}

// The smallest bit rate whose frame holds the header, side information, Xing data and extension.
int InfoBitrateIndex(int version, std::uint32_t rate, int channels) {
    const std::size_t need = 4 + static_cast<std::size_t>(SideInfoBytes(version, channels)) +
                             kXingBytes + kExtensionBytes;
    const int* table = version == 0 ? kBitratesV1 : kBitratesV2;
    for (int i = 1; i < 15; ++i)
        if (static_cast<std::size_t>(FrameBytes(version, table[i], rate, 0)) >= need) return i;
    return 14;
}

}  // namespace

std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int b = 0; b < 8; ++b)
            crc = static_cast<std::uint16_t>(crc & 1 ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

bool ParseMp3FrameHeader(const std::uint8_t* p, std::size_t size, Mp3FrameHeader& out) {
    if (size < 4 || p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layer = (p[1] >> 1) & 3;
    const int brIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layer != 1 || brIndex == 0 || brIndex == 15 || rateIndex == 3)
        return false;
    out.version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
    out.sampleRate = kRates[out.version][rateIndex];
    out.bitrateKbps = (out.version == 0 ? kBitratesV1 : kBitratesV2)[brIndex];
    out.channels = (p[3] >> 6) == 3 ? 1 : 2;
    out.crc = (p[1] & 1) == 0;
    out.frameBytes = FrameBytes(out.version, out.bitrateKbps, out.sampleRate, (p[2] >> 1) & 1);
    out.sideInfoBytes = SideInfoBytes(out.version, out.channels);
    out.samplesPerFrame = out.version == 0 ? 1152 : 576;
    return true;
}

bool ReadMp3InfoTag(const std::uint8_t* frame, std::size_t size, Mp3InfoTag& out) {
    out = Mp3InfoTag{};
    Mp3FrameHeader h;
    if (!ParseMp3FrameHeader(frame, size, h)) return false;
    size = std::min(size, static_cast<std::size_t>(h.frameBytes));
    std::size_t pos = 4 + static_cast<std::size_t>(h.sideInfoBytes) + (h.crc ? 2 : 0);
    const bool room = size >= pos + 8;
    const bool xing = room && std::memcmp(frame + pos, "Xing", 4) == 0;
    if (!xing && !(room && std::memcmp(frame + pos, "Info", 4) == 0)) {
        // VBRI sits at a fixed 36 bytes, inside where Xing data would be: looked for only
        // when there is no Xing/Info header.
        if (size >= 36 + 26 && std::memcmp(frame + 36, "VBRI", 4) == 0) {
            out.vbri = true;
            return true;
        }
        return false;
    }
    out.xing = xing;
    const std::uint32_t flags = Be32(frame + pos + 4);
    std::size_t p = pos + 8;
    if (flags & 1) {
        if (size < p + 4) return true;
        out.hasFrames = true;
        out.frames = Be32(frame + p);
        p += 4;
    }
    if (flags & 2) {
        if (size < p + 4) return true;
        out.hasBytes = true;
        out.bytes = Be32(frame + p);
        p += 4;
    }
    if (flags & 4) {
        if (size < p + 100) return true;
        out.hasToc = true;
        std::copy(frame + p, frame + p + 100, out.toc.begin());
        p += 100;
    }
    if (flags & 8) p += 4;
    // The extension: a printable encoder name, then 12 bytes, then delay and padding.
    if (size < p + 24) return true;
    const std::uint8_t* name = frame + p;
    const bool printable =
        std::all_of(name, name + 9, [](std::uint8_t c) { return c >= 0x20 && c < 0x7F; });
    const bool letter = (name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z');
    if (!printable || !letter) return true;
    out.hasExtension = true;
    out.encoder.assign(reinterpret_cast<const char*>(name), 9);
    const std::uint8_t* dp = frame + p + 21;
    out.delay = dp[0] << 4 | dp[1] >> 4;
    out.padding = (dp[1] & 0x0F) << 8 | dp[2];
    return true;
}

std::size_t Mp3InfoFrameBytes(std::uint32_t rate, int channels) {
    int version = 0, index = 0;
    if (!RateIndex(rate, version, index)) return 0;
    const int* table = version == 0 ? kBitratesV1 : kBitratesV2;
    return static_cast<std::size_t>(
        FrameBytes(version, table[InfoBitrateIndex(version, rate, channels)], rate, 0));
}

std::vector<std::uint8_t> BuildMp3InfoFrame(std::uint32_t rate, int channels, const Mp3InfoTag& tag,
                                            std::uint16_t musicCrc) {
    int version = 0, index = 0;
    if (!RateIndex(rate, version, index)) return {};
    const int br = InfoBitrateIndex(version, rate, channels);
    std::vector<std::uint8_t> f(Mp3InfoFrameBytes(rate, channels), 0);
    const int versionBits = version == 0 ? 3 : version == 1 ? 2 : 0;
    f[0] = 0xFF;
    f[1] = static_cast<std::uint8_t>(0xE0 | versionBits << 3 | 1 << 1 | 1);  // Layer III, no CRC
    f[2] = static_cast<std::uint8_t>(br << 4 | index << 2);
    f[3] = static_cast<std::uint8_t>((channels == 1 ? 3 : 1) << 6);
    std::size_t p = 4 + static_cast<std::size_t>(SideInfoBytes(version, channels));
    std::memcpy(&f[p], tag.xing ? "Xing" : "Info", 4);
    PutBe32(&f[p + 4], 0x0F);
    PutBe32(&f[p + 8], tag.frames);
    PutBe32(&f[p + 12], tag.bytes);
    std::copy(tag.toc.begin(), tag.toc.end(), f.begin() + static_cast<std::ptrdiff_t>(p + 16));
    PutBe32(&f[p + 116], 0);  // quality: not meaningful for our constant bit rate
    std::uint8_t* x = &f[p + kXingBytes];
    std::memset(x, ' ', 9);
    std::memcpy(x, tag.encoder.data(), std::min<std::size_t>(tag.encoder.size(), 9));
    x[9] = 1;  // revision 0, constant bit rate
    const int delay = std::clamp(tag.delay, 0, 4095), padding = std::clamp(tag.padding, 0, 4095);
    x[21] = static_cast<std::uint8_t>(delay >> 4);
    x[22] = static_cast<std::uint8_t>((delay & 0x0F) << 4 | padding >> 8);
    x[23] = static_cast<std::uint8_t>(padding);
    PutBe32(x + 28, tag.bytes);  // music length
    x[32] = static_cast<std::uint8_t>(musicCrc >> 8);
    x[33] = static_cast<std::uint8_t>(musicCrc);
    const std::uint16_t crc = Crc16Update(0, f.data(), p + kXingBytes + 34);
    x[34] = static_cast<std::uint8_t>(crc >> 8);
    x[35] = static_cast<std::uint8_t>(crc);
    return f;
}

std::array<std::uint8_t, 100> BuildMp3Toc(const std::vector<std::uint32_t>& frameOffsets,
                                          std::uint32_t bytes) {
    std::array<std::uint8_t, 100> toc{};
    if (frameOffsets.empty() || bytes == 0) return toc;
    for (std::size_t i = 0; i < 100; ++i) {
        const std::size_t frame = std::min(frameOffsets.size() - 1, i * frameOffsets.size() / 100);
        const std::uint64_t v = static_cast<std::uint64_t>(frameOffsets[frame]) * 256 / bytes;
        toc[i] = static_cast<std::uint8_t>(std::min<std::uint64_t>(v, 255));
    }
    return toc;
}

}  // namespace tralux
