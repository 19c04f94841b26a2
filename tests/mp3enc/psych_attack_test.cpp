// Attack detection on signals where only part of the spectrum changes: clicks over steady
// tones must switch to short blocks, steady or slowly moving signals must not.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp3enc/psycho/model.h"

namespace mp3enc {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Block types of a mono 44100 Hz model fed `granules` granules of `sample(n)`.
template <typename F>
std::vector<int> Types(int granules, F sample) {
    PsyModelConfig c;
    c.channels = 1;
    c.sampleRate = 44100;
    c.bitRate = 128000;
    c.granulesPerFrame = 2;
    ErrorChain err;
    auto m = PsychoacousticModel::Create(c, nullptr, &err);
    EXPECT_TRUE(m);
    std::vector<int> types;
    if (!m) return types;
    std::vector<float> pcm(576);
    for (int g = 0; g < granules; ++g) {
        for (int i = 0; i < 576; ++i) pcm[i] = sample(static_cast<long>(g) * 576 + i);
        m->Advance(pcm.data());
        types.push_back(m->Output().ch[0].blockType);
    }
    return types;
}

// Occurrences of `type` after the first ten granules (the signal's own onset switches).
int Count(const std::vector<int>& t, int type) {
    int n = 0;
    for (size_t g = 10; g < t.size(); ++g) n += t[g] == type;
    return n;
}

float Tones(long n) {
    return static_cast<float>(6000 * std::sin(2 * kPi * 330 * n / 44100.0) +
                              5000 * std::sin(2 * kPi * 550 * n / 44100.0));
}

TEST(AttackDetection, ClicksOverSteadyTonesSwitchToShortBlocks) {
    // Six short clicks, 40 granules apart, each some 20 dB under the tones' peak.
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<float> clicks(576 * 240, 0.0f);
    for (int k = 0; k < 6; ++k)
        for (int i = 0; i < 66; ++i)
            clicks[static_cast<size_t>((20 + 40 * k) * 576 + 300 + i)] =
                3000.0f * u(rng) * std::exp(-i / 12.0f);
    const auto t = Types(240, [&](long n) { return Tones(n) + clicks[static_cast<size_t>(n)]; });
    EXPECT_EQ(Count(t, 1), 6);
    EXPECT_GE(Count(t, 2), 6);
    // Each click is preceded by a start block within the granule before it or the click's own.
    for (int k = 0; k < 6; ++k) {
        const int g = 20 + 40 * k;
        EXPECT_TRUE(t[g - 1] == 1 || t[g] == 1 || t[g + 1] == 1) << "click " << k;
    }
}

TEST(AttackDetection, SteadyAndSlowlyMovingSignalsStayLong) {
    // Steady tones, tones with a 5 Hz tremolo, and a slow sweep through the upper subbands.
    auto tremolo = [](long n) {
        const double t = n / 44100.0;
        return static_cast<float>(Tones(n) * (1 - 0.3 * (1 - std::cos(2 * kPi * 5 * t))));
    };
    auto sweep = [](long n) {
        const double t = n / 44100.0;
        return static_cast<float>(12000 * std::sin(2 * kPi * (1000 * t + 1500 * t * t)));
    };
    for (const auto& t : {Types(300, Tones), Types(300, tremolo), Types(300, sweep)}) {
        EXPECT_EQ(Count(t, 1) + Count(t, 2) + Count(t, 3), 0);
    }
}

TEST(AttackDetection, StationaryNoiseRarelySwitches) {
    std::mt19937 rng(11);
    std::normal_distribution<float> g(0.0f, 3000.0f);
    const auto t = Types(400, [&](long) { return g(rng); });
    EXPECT_LE(Count(t, 2), 8);
}

TEST(AttackDetection, StruckResonanceAfterSilenceSwitches) {
    // A 2.5 kHz resonance dying within 3 ms: narrow in frequency, so the summed rise stays small.
    const auto t = Types(60, [](long n) {
        const long at = 30 * 576 + 100;
        if (n < at) return 0.0f;
        const double x = (n - at) / 44100.0;
        return static_cast<float>(15000 * std::exp(-x / 0.0008) * std::sin(2 * kPi * 2500 * x));
    });
    EXPECT_EQ(Count(t, 1), 1);
    EXPECT_GE(Count(t, 2), 1);
}

}  // namespace
}  // namespace mp3enc
