#include "mp3dec/frame_header.h"

namespace mp3dec::detail {

namespace {
const int kBitrate[2][15] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                             {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
const int kRate[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
}  // namespace

bool ParseHeader(uint32_t raw, FrameHeader& h) {
    if ((raw & 0xFFE00000u) != 0xFFE00000u) return false;
    const int versionBits = (raw >> 19) & 3;
    const int layerBits = (raw >> 17) & 3;
    const int bitrateIndex = (raw >> 12) & 15;
    const int rateIndex = (raw >> 10) & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3)
        return false;
    h.raw = raw;
    h.version = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
    h.layer = 3;
    h.crc = ((raw >> 16) & 1) == 0;
    h.bitrateIndex = bitrateIndex;
    h.rateIndex = rateIndex;
    h.padding = (raw >> 9) & 1;
    h.mode = (raw >> 6) & 3;
    h.modeExt = (raw >> 4) & 3;
    h.bitrate = kBitrate[h.version == 0 ? 0 : 1][bitrateIndex] * 1000;
    h.sampleRate = kRate[h.version][rateIndex];
    h.channels = h.mode == 3 ? 1 : 2;
    h.granules = h.version == 0 ? 2 : 1;
    h.frameBytes = (h.version == 0 ? 144 : 72) * h.bitrate / h.sampleRate + h.padding;
    if (h.version == 0)
        h.sideInfoBytes = h.channels == 1 ? 17 : 32;
    else
        h.sideInfoBytes = h.channels == 1 ? 9 : 17;
    h.bandIndex = h.version * 3 + rateIndex;
    return true;
}

}  // namespace mp3dec::detail
