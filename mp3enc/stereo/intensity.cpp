#include "mp3enc/stereo/intensity.h"

#include <algorithm>
#include <cmath>

namespace mp3enc {

bool IntensityAllowed(int bitRate, int channels, int sampleRate) {
    return channels == 2 && sampleRate >= 32000 && bitRate > 0 && bitRate <= 96000;
}

float IntensityFromHz(int bitRate, int channels, float bandwidth) {
    const int perChannel = bitRate / std::max(1, channels);
    const float frac = perChannel <= 32000 ? 0.5f : perChannel <= 48000 ? 0.65f : 0.8f;
    return frac * bandwidth;
}

double IntensityMinCorrelation(int bitRate, int channels) {
    (void)bitRate;
    (void)channels;
    // Channels of different content (channels apart, strings over noise) lost 0.1 to 0.3 ODG
    // with one waveform for both; 0.7 and 0.9 measured alike.
    return 0.7;
}

int IntensityBound(const double* eL, const double* eR, const double* eX, int lowest, int bands,
                   double minCorrelation) {
    int bound = bands;
    for (int b = bands - 1; b >= lowest; --b) {
        const double norm = std::sqrt(eL[b] * eR[b]);
        // eX = eL + eR + 2 <l, r>
        if (norm > 0 && (eX[b] - eL[b] - eR[b]) / (2 * norm) < minCorrelation) break;
        bound = b;
    }
    return bound;
}

namespace {

bool Silent(const int* q, int from, int to) {
    for (int i = from; i < to; ++i)
        if (q[i] != 0) return false;
    return true;
}

}  // namespace

void IntensityScalefactors(const IntensityBands& is, bool isShort, const SfbBounds& sfb,
                           const int* q, const int* left, const int* sf, int* out) {
    if (!isShort) {
        int first = 22;  // first band a decoder reads as intensity
        while (first > 0 && Silent(q, sfb.longB[first - 1], sfb.longB[first])) --first;
        for (int b = 0; b < 21; ++b) {
            if (b < first)
                out[b] = sf[b];
            else if (Silent(left, sfb.longB[b], sfb.longB[b + 1]))
                out[b] = 0;
            else
                out[b] = is.pos[b] >= 0 ? is.pos[b] : kIntensityIllegal;
        }
        return;
    }
    for (int w = 0; w < 3; ++w) {
        auto from = [&](int b) {
            return 3 * sfb.shortB[b] + w * (sfb.shortB[b + 1] - sfb.shortB[b]);
        };
        auto to = [&](int b) { return from(b) + sfb.shortB[b + 1] - sfb.shortB[b]; };
        int first = 13;
        while (first > 0 && Silent(q, from(first - 1), to(first - 1))) --first;
        for (int b = 0; b < 12; ++b) {
            const int k = 3 * b + w;
            if (b < first)
                out[k] = sf[k];
            else if (Silent(left, from(b), to(b)))
                out[k] = 0;
            else
                out[k] = is.pos[k] >= 0 ? is.pos[k] : kIntensityIllegal;
        }
    }
}

}  // namespace mp3enc
