// Hand-built Layer III frames for the decoder tests.
#pragma once

#include <cstdint>
#include <vector>

namespace mp3test {

class BitWriter {
public:
    void Put(uint32_t value, int bits) {
        for (int b = bits - 1; b >= 0; --b) {
            if (pos_ % 8 == 0) bytes_.push_back(0);
            if ((value >> b) & 1) bytes_.back() |= static_cast<uint8_t>(0x80 >> (pos_ % 8));
            ++pos_;
        }
    }
    std::vector<uint8_t> Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
};

struct GranuleFields {
    int part23 = 0;
    int bigValues = 0;
    int globalGain = 170;
    int scalefacCompress = 0;
    bool windowSwitching = false;
    int blockType = 0;
    int tableSelect[3] = {0, 0, 0};
    bool count1TableB = true;
};

struct FrameSpec {
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 3;
    int bitrateIndex = 1;  // 32 kbit/s for MPEG-1
    int rateIndex = 0;     // 44100 Hz for MPEG-1
    bool mono = true;
    bool crc = false;
    int mainDataBegin = 0;
    GranuleFields gr[2];
    // Main data written after the side information (zero bytes: count1 quadruples of +1).
    size_t mainDataBytes = 80;
};

inline int FrameBytes(const FrameSpec& s) {
    static const int kBitrate[2][15] = {
        {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
        {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
    static const int kRate[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    const int br = kBitrate[s.version == 0 ? 0 : 1][s.bitrateIndex] * 1000;
    return (s.version == 0 ? 144 : 72) * br / kRate[s.version][s.rateIndex];
}

inline uint32_t HeaderWord(const FrameSpec& s) {
    const uint32_t versionBits = s.version == 0 ? 3 : s.version == 1 ? 2 : 0;
    const uint32_t layerBits = 4 - s.layer;
    return 0xFFE00000u | (versionBits << 19) | (layerBits << 17) | ((s.crc ? 0u : 1u) << 16) |
           (uint32_t(s.bitrateIndex) << 12) | (uint32_t(s.rateIndex) << 10) |
           ((s.mono ? 3u : 0u) << 6);
}

// One complete frame: header, side information, main data (zeros), zero padding to the size.
inline std::vector<uint8_t> MakeFrame(const FrameSpec& s) {
    BitWriter w;
    w.Put(HeaderWord(s), 32);
    if (s.crc) w.Put(0, 16);
    const int nch = s.mono ? 1 : 2;
    const int granules = s.version == 0 ? 2 : 1;
    if (s.version == 0) {
        w.Put(s.mainDataBegin, 9);
        w.Put(0, nch == 1 ? 5 : 3);
        w.Put(0, 4 * nch);
    } else {
        w.Put(s.mainDataBegin, 8);
        w.Put(0, nch == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            const GranuleFields& g = s.gr[gr];
            w.Put(g.part23, 12);
            w.Put(g.bigValues, 9);
            w.Put(g.globalGain, 8);
            w.Put(g.scalefacCompress, s.version == 0 ? 4 : 9);
            w.Put(g.windowSwitching, 1);
            if (g.windowSwitching) {
                w.Put(g.blockType, 2);
                w.Put(0, 1);
                w.Put(g.tableSelect[0], 5);
                w.Put(g.tableSelect[1], 5);
                w.Put(0, 9);
            } else {
                for (int i = 0; i < 3; ++i) w.Put(g.tableSelect[i], 5);
                w.Put(0, 7);
            }
            if (s.version == 0) w.Put(0, 1);
            w.Put(0, 1);
            w.Put(g.count1TableB, 1);
        }
    std::vector<uint8_t> f = w.Bytes();
    f.resize(static_cast<size_t>(FrameBytes(s)), 0);
    return f;
}

// A mono MPEG-1 frame at 32 kbit/s whose two granules each hold 160 lines of +1 in the count1
// region (40 quadruples, 320 bits), without using the reservoir.
inline FrameSpec ToneFrame() {
    FrameSpec s;
    for (auto& g : s.gr) g.part23 = 320;
    return s;
}

inline std::vector<uint8_t> Repeat(const std::vector<uint8_t>& frame, int count) {
    std::vector<uint8_t> out;
    for (int i = 0; i < count; ++i) out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

}  // namespace mp3test
