#pragma once

namespace mp3enc {

// Scalefactor band borders of one sample rate: 23 long borders (22 bands) and
// 14 short borders (13 bands per window), in lines.
struct SfbBounds {
    int longB[23];
    int shortB[14];
};

// Band borders for one of the nine rates, or nullptr.
const SfbBounds* SfbBoundsFor(int sampleRate);

// Pre-emphasis added to the long scalefactors when preflag is set.
extern const int kPretab[22];

}  // namespace mp3enc
