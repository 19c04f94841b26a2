// Noise allocation of the loops: scalefactors that outgrow their lengths switch to the coarser
// scalefactor step instead of giving up, and the coded values reconstruct to the noise the
// loops aimed at (checked with the standard's requantisation, not the kernel's own tables).
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "mp3enc/quantize/loop.h"

using namespace mp3enc;

namespace {

constexpr int kEdges[23] = {0,  4,  8,   12,  16,  20,  24,  30,  36,  44,  52, 62,
                            74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576};
constexpr int kPretab[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

std::vector<float> Noise(float amp, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> nd(0, amp);
    std::vector<float> xr(576);
    for (float& v : xr) v = nd(rng);
    return xr;
}

// Noise energy of long band b of a coded granule against the input spectrum, requantised as
// a decoder does: |ix|^(4/3) 2^((global_gain - 210)/4) 2^(-(sf + preflag pretab) m / 2),
// m = 1 or 2 by scalefac_scale, on the encoder's 16-bit scale (2^15 above the decoder's).
double BandNoise(const GranuleInfo& g, const std::vector<float>& xr, int b) {
    const double mult = g.scalefac_scale ? 1.0 : 0.5;
    const double gain = std::pow(2.0, 0.25 * (g.global_gain - 210) + 15.0) *
                        std::pow(2.0, -mult * (g.sf[b] + g.preflag * kPretab[b]));
    double n = 0;
    for (int i = kEdges[b]; i < kEdges[b + 1]; ++i) {
        const double v = std::copysign(std::pow(std::abs(g.ix[i]), 4.0 / 3.0), g.ix[i]) * gain;
        n += (v - xr[static_cast<size_t>(i)]) * (v - xr[static_cast<size_t>(i)]);
    }
    return n;
}

double BandEnergy(const std::vector<float>& xr, int b) {
    double e = 0;
    for (int i = kEdges[b]; i < kEdges[b + 1]; ++i)
        e += double(xr[static_cast<size_t>(i)]) * xr[static_cast<size_t>(i)];
    return e;
}

}  // namespace

TEST(LoopNoise, HighBandBeyondItsScalefactorLengthSwitchesScale) {
    // Every band is free to be noisy except band 19 (3 scalefactor bits, at most 7 steps of
    // 3 dB), which asks for 60 dB of signal-to-noise ratio: more than 7 steps above the rest.
    const auto xr = Noise(1000.0f, 5);
    std::vector<float> xmin(39, 1e12f);
    xmin[19] = static_cast<float>(BandEnergy(xr, 19) * 1e-6);
    for (bool compareExcess : {false, true}) {
        LoopOptions o;
        o.mol = 60;
        o.compareExcess = compareExcess;
        LoopKernel k;
        ASSERT_TRUE(k.Create(44100, 1, o));
        k.Prepare(0, 0, 0, xr.data(), xmin.data());
        k.Prepare(1, 0, 0, xr.data(), xmin.data());
        int budgets[2][2] = {{4000, 0}, {4000, 0}};
        CodedFrame f;
        k.RunFrame(budgets, 8000, f);
        for (int gr = 0; gr < 2; ++gr) {
            const GranuleInfo& g = f.gr[gr][0];
            EXPECT_EQ(g.scalefac_scale, 1) << gr;
            EXPECT_GT(g.sf[19], 3) << gr;
            // The band got far more than the 21 dB that 7 plain steps could give it over its
            // neighbours, and lies within its allowed distortion.
            const double nmr19 = BandNoise(g, xr, 19) / xmin[19];
            const double snr18 = BandEnergy(xr, 18) / BandNoise(g, xr, 18);
            const double snr19 = BandEnergy(xr, 19) / BandNoise(g, xr, 19);
            EXPECT_LE(nmr19, 1.0) << gr;
            EXPECT_GT(snr19 / snr18, std::pow(10.0, 2.4)) << gr;
        }
    }
}

TEST(LoopNoise, PlainScaleWhenScalefactorsFit) {
    // A mild demand stays within the 3 dB steps.
    const auto xr = Noise(1000.0f, 6);
    std::vector<float> xmin(39, 1e12f);
    xmin[19] = static_cast<float>(BandEnergy(xr, 19) * 3e-3);
    LoopOptions o;
    o.mol = 60;
    LoopKernel k;
    ASSERT_TRUE(k.Create(44100, 1, o));
    k.Prepare(0, 0, 0, xr.data(), xmin.data());
    k.Prepare(1, 0, 0, xr.data(), xmin.data());
    int budgets[2][2] = {{4000, 0}, {4000, 0}};
    CodedFrame f;
    k.RunFrame(budgets, 8000, f);
    for (int gr = 0; gr < 2; ++gr) {
        EXPECT_EQ(f.gr[gr][0].scalefac_scale, 0);
        EXPECT_LE(BandNoise(f.gr[gr][0], xr, 19) / xmin[19], 1.0);
    }
}
