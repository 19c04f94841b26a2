// Constant tables of the Layer III standards.
#pragma once

#include <cstdint>

namespace mp3dec::detail {

// Scalefactor band edges for one sample rate: 23 long edges, 14 short edges (per window).
struct BandTable {
    int16_t longEdge[23];
    int16_t shortEdge[14];
};

// Index: 0..2 MPEG-1 (44100, 48000, 32000), 3..5 MPEG-2 (22050, 24000, 16000),
// 6..8 MPEG-2.5 (11025, 12000, 8000).
extern const BandTable kBands[9];

extern const uint8_t kPretab[22];

// Synthesis window D[0..256] of the standard in units of 2^-16; the rest follows by symmetry.
extern const int32_t kSynthWindowHalf[257];

}  // namespace mp3dec::detail
