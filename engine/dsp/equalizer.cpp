#include "engine/dsp/equalizer.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace tralux::dsp {

float BandGain(int value) {
    value = std::clamp(value, 0, 99);
    const int d = 50 - value;
    if (d == 0) return 1.0f;
    if (d <= -48) return 0.0f;
    if (d > 0) return std::exp(static_cast<float>(d) / 50.0f);
    return std::exp(static_cast<float>(d) * 4.0f / 50.0f);
}

float BuildEqualizerResponse(const std::array<int, kEqualizerLevels>& levels,
                             std::uint32_t /*sourceRate*/, std::uint32_t outputRate,
                             EqualizerResponseTable& response) {
    constexpr int kCurve = 12800;  // 5 Hz steps up to 64000 Hz
    std::array<float, kCurve> curve{};
    for (std::size_t b = 0; b < kEqualizerBands.size(); ++b) {
        const float g = BandGain(levels[b]);
        for (int e = kEqualizerBands[b].lo / 5; e < kEqualizerBands[b].hi / 5; ++e)
            curve[static_cast<std::size_t>(e)] = g;
    }
    const int n = static_cast<int>(outputRate / 5.0 / 2.0);
    for (int i = 0; i < kEqualizerBins; ++i) {
        // Output rates above 128000 Hz would step past the curve: its last entry covers them.
        const int e = std::min(static_cast<int>(std::ceil(n / 1024.0 * i)), kCurve - 1);
        response[static_cast<std::size_t>(i)] = curve[static_cast<std::size_t>(e)];
    }
    return BandGain(levels[10]);
}

}  // namespace tralux::dsp
