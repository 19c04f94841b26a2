// MPEG audio frame header parsing.
#pragma once

#include <cstdint>

namespace mp3dec::detail {

// Fixed part compared between consecutive frames: sync, version, layer, sample-rate index.
inline constexpr uint32_t kFixedHeaderMask = 0xFFFE0C00u;

struct FrameHeader {
    uint32_t raw = 0;
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int layer = 0;    // 1..3
    bool crc = false;
    int bitrateIndex = 0;
    int rateIndex = 0;  // index into the version's three rates
    int padding = 0;
    int mode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
    int modeExt = 0;
    int bitrate = 0;  // bit/s
    int sampleRate = 0;
    int frameBytes = 0;
    int channels = 0;
    int granules = 0;
    int sideInfoBytes = 0;
    int bandIndex = 0;  // row of kBands
    int samplesPerFrame() const { return granules * 576; }
};

// Valid means: sync, Layer III, bit-rate index neither free (0) nor 15, known rate and version.
bool ParseHeader(uint32_t raw, FrameHeader& out);

}  // namespace mp3dec::detail
