#include "mp3enc/quantize/bit_allocation.h"

#include <algorithm>
#include <cmath>

namespace mp3enc {

ReservoirShape DefaultLongShape(float peMin, float peMax) {
    return {{0.25f, 0.9f, 0.05f, 0.25f, 0.2f, 0.9f}, -0.1f, 0.4f, peMin, peMax};
}
ReservoirShape DefaultShortShape(float peMin, float peMax) {
    return {{0.02f, 0.35f, -0.2f, 0.03f, 0.02f, 0.6f}, -0.01f, 1.3f, peMin, peMax};
}

void BitAllocator::Init(const ReservoirShape& l, const ReservoirShape& s) {
    w_[0] = l;
    w_[1] = s;
    for (auto& w : w_) w.peMax = std::max(w.peMax, w.peMin + 1.0f);
}

float BitAllocator::Fraction(const ReservoirShape& sh, float demand, float fill) const {
    const float* S = sh.s;
    float e = S[3] - (S[3] - S[2]) * (std::clamp(fill, S[0], S[1]) - S[0]) / (S[1] - S[0]);
    float m = sh.minBitSp + (sh.maxBitSp - sh.minBitSp) *
                                (std::clamp(std::max(fill, S[4]), S[4], S[5]) - S[4]) /
                                (S[5] - S[4]);
    // The window always spans at least one unit, so this never divides by zero.
    float span = std::max(sh.peMax - sh.peMin, 1.0f);
    return (m + e) * (std::clamp(demand, sh.peMin, sh.peMin + span) - sh.peMin) / span - e;
}

void BitAllocator::Adapt(ReservoirShape& sh, float demand, float weight, int resFree) {
    float c = 0.5f * (sh.peMin + sh.peMax);
    float h = std::max(0.5f * (sh.peMax - sh.peMin), 1.0f);
    float r = (std::clamp(0.03f * (demand - c) / h, 0.0f, 0.03f) + 0.05f) * weight;
    h += (std::fabs(demand - c) - h) * r;
    h = std::min(h, std::floor(0.05f * resFree));
    h = std::max(h, std::floor(0.01f * resFree));
    c += (demand - c) * r;
    h = std::min(h, 0.8f * c);
    h = std::max(h, 1.0f);  // keeps peMax above peMin after long silence
    sh.peMin = std::round(c - h);
    sh.peMax = std::max(std::round(c + h), sh.peMin + 1.0f);
}

void BitAllocator::Allocate(int granules, int channels, const float pe[2][2],
                            const bool isShort[2][2], const bool joint[2], int mainDataBits,
                            int frameBudget, int resInUse, int resFree, int budgets[2][2]) {
    float demand[2][2] = {};
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            float v = pe[gr][ch];
            demand[gr][ch] = std::isfinite(v) && v > 0 ? v : 0.0f;
        }
        if (channels == 2 && joint[gr])
            demand[gr][0] = demand[gr][1] = 0.5f * (demand[gr][0] + demand[gr][1]);
    }
    const bool anyFree = resFree > 0;
    const float fill = anyFree ? static_cast<float>(resInUse) / static_cast<float>(resFree) : 0.0f;
    long total = 0;
    for (int gr = 0; gr < granules; ++gr) {
        for (int ch = 0; ch < channels; ++ch) {
            bool s = isShort[gr][ch];
            float frac = 0.0f;
            if (anyFree) {
                frac = Fraction(w_[s], demand[gr][ch], fill);
                Adapt(w_[s], demand[gr][ch], 1.0f, resFree);
                Adapt(w_[!s], demand[gr][ch], s ? 0.6f : 0.8f, resFree);
            }
            float b = std::max(0.0f, mainDataBits * frac + static_cast<float>(frameBudget));
            if (!std::isfinite(b)) b = static_cast<float>(frameBudget);
            budgets[gr][ch] = static_cast<int>(b / static_cast<float>(channels * granules));
            total += budgets[gr][ch];
        }
    }
    long limit = static_cast<long>(frameBudget) + resInUse;
    if (total > limit && total > 0) {
        for (int gr = 0; gr < granules; ++gr)
            for (int ch = 0; ch < channels; ++ch)
                budgets[gr][ch] =
                    static_cast<int>(static_cast<long long>(budgets[gr][ch]) * limit / total);
    }
    // part2_3_length has 12 bits.
    for (int gr = 0; gr < granules; ++gr)
        for (int ch = 0; ch < channels; ++ch) budgets[gr][ch] = std::min(budgets[gr][ch], 4095);
}

}  // namespace mp3enc
