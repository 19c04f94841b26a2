#include "mp3enc/stereo/intensity.h"

#include <algorithm>

namespace mp3enc {

bool IntensityAllowed(int bitRate, int channels, int sampleRate) {
    return channels == 2 && sampleRate >= 32000 && bitRate > 0 && bitRate <= 96000;
}

float IntensityFromHz(int bitRate, int channels, float bandwidth) {
    const int perChannel = bitRate / std::max(1, channels);
    const float frac = perChannel <= 32000 ? 0.5f : perChannel <= 48000 ? 0.65f : 0.8f;
    return frac * bandwidth;
}

void IntensityScalefactors(const IntensityBands& is, bool isShort, const SfbBounds& sfb,
                           const int* q, const int* sf, int* out) {
    if (!isShort) {
        int last = -1;
        for (int i = sfb.longB[22] - 1; i >= 0 && last < 0; --i)
            if (q[i] != 0) last = i;
        int first = 0;  // first band a decoder reads as intensity
        if (last >= 0)
            while (first < 22 && sfb.longB[first] <= last) ++first;
        for (int b = 0; b < 21; ++b)
            out[b] = b < first ? sf[b] : is.pos[b] >= 0 ? is.pos[b] : kIntensityIllegal;
        return;
    }
    for (int w = 0; w < 3; ++w) {
        int first = 0;
        for (int b = 0; b < 13; ++b) {
            const int width = sfb.shortB[b + 1] - sfb.shortB[b];
            const int start = 3 * sfb.shortB[b] + w * width;
            for (int i = start; i < start + width; ++i)
                if (q[i] != 0) {
                    first = b + 1;
                    break;
                }
        }
        for (int b = 0; b < 12; ++b) {
            const int k = 3 * b + w;
            out[k] = b < first ? sf[k] : is.pos[k] >= 0 ? is.pos[k] : kIntensityIllegal;
        }
    }
}

}  // namespace mp3enc
