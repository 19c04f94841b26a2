// Block switching, analysis windows, the real FFT and the fault handler.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "mp3enc/psycho/model.h"
#include "mp3enc/psycho/block_switch.h"
#include "mp3enc/psycho/channel_threshold.h"
#include "mp3enc/psycho/fft_window.h"

namespace mp3enc {
namespace {

std::unique_ptr<PsychoacousticModel> Model(int channels, int rate, int bitRate,
                                           OptionStore* o = nullptr) {
    PsyModelConfig c;
    c.channels = channels;
    c.sampleRate = rate;
    c.bitRate = bitRate;
    c.granulesPerFrame = rate >= 32000 ? 2 : 1;
    ErrorChain err;
    auto m = PsychoacousticModel::Create(c, o, &err);
    EXPECT_TRUE(m) << (err.empty() ? "" : err[0].message);
    return m;
}

// Block types of a mono stream of silence with a loud broadband burst in granule 6.
std::vector<int> ClickTypes(int pos, int rate = 44100) {
    auto m = Model(1, rate, 64000);
    std::vector<float> pcm(576);
    std::vector<int> types;
    for (int g = 0; g < 14; ++g) {
        std::fill(pcm.begin(), pcm.end(), 0.0f);
        if (g == 6)
            for (int i = pos; i < pos + 64 && i < 576; ++i)
                pcm[i] = static_cast<float>(((i * 7919) % 13) - 6) * 5000.0f;
        m->Advance(pcm.data());
        types.push_back(m->Output().ch[0].blockType);
    }
    return types;
}

TEST(BlockSwitching, ClickAfterSilenceGoesStartShortStopLong) {
    const auto t = ClickTypes(450);
    const std::vector<int> expect = {0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0};
    EXPECT_EQ(t, expect);
}

TEST(BlockSwitching, EveryClickPositionKeepsTheOrder) {
    for (int pos = 0; pos < 576; pos += 32) {
        const auto t = ClickTypes(pos);
        size_t i = 0;
        while (i < t.size() && t[i] == 0) ++i;
        ASSERT_LT(i, t.size()) << "no attack at " << pos;
        EXPECT_EQ(t[i++], 1) << pos;
        ASSERT_EQ(t[i++], 2) << pos;
        while (i < t.size() && t[i] == 2) ++i;
        ASSERT_LT(i, t.size());
        EXPECT_EQ(t[i++], 3) << pos;
        for (; i < t.size(); ++i) EXPECT_EQ(t[i], 0) << pos;
    }
}

// Whether any short window is chosen for a 440 Hz tone that starts at sample `at` after digital
// silence, at once or faded in over `fade` samples (a quarter sine).
bool ToneSwitches(int at, int fade) {
    auto m = Model(1, 44100, 64000);
    std::vector<float> pcm(576);
    bool anyShort = false;
    for (int g = 0; g < 60; ++g) {
        for (int i = 0; i < 576; ++i) {
            const int n = g * 576 + i - at;
            const double gain = n < 0 ? 0 : n >= fade ? 1 : std::sin(M_PI / 2 * n / fade);
            pcm[i] = static_cast<float>(0.6 * 32767 * gain * std::sin(2 * M_PI * 440 * n / 44100));
        }
        m->Advance(pcm.data());
        anyShort = anyShort || m->Output().ch[0].blockType != 0;
    }
    return anyShort;
}

TEST(BlockSwitching, OnsetSwitchesButFadeInFromSilenceDoesNot) {
    for (int at : {6 * 576, 6 * 576 + 100, 6 * 576 + 300, 6 * 576 + 500}) {
        EXPECT_TRUE(ToneSwitches(at, 0)) << at;
        EXPECT_FALSE(ToneSwitches(at, 13230)) << at;  // 0.3 s
    }
}

TEST(BlockSwitching, SubThresholdNoiseNeverSwitches) {
    auto m = Model(1, 44100, 64000);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(-0.4f, 0.4f);
    std::vector<float> pcm(576);
    for (int g = 0; g < 200; ++g) {
        // Bursts of noise far below the threshold in quiet, switching on and off.
        for (auto& x : pcm) x = (g % 7 == 3) ? u(rng) : 0.0f;
        m->Advance(pcm.data());
        ASSERT_EQ(m->Output().ch[0].blockType, 0) << g;
    }
}

TEST(BlockSwitching, BlmForcesTheWindow) {
    OptionStore o;
    o.Open();
    o.SetOption("blm", "2");
    auto m = Model(2, 22050, 64000, &o);
    std::vector<float> pcm(1152, 100.0f);
    for (int g = 0; g < 10; ++g) {
        m->Advance(pcm.data());
        EXPECT_EQ(m->Output().ch[0].blockType, 2);
        EXPECT_EQ(m->Output().ch[1].blockType, 2);
    }
    o.Close();
    o.Open();
    o.SetOption("blm", "1");
    auto l = Model(1, 44100, 64000, &o);
    for (int g = 0; g < 14; ++g) {
        std::vector<float> p(576, 0.0f);
        if (g == 6)
            for (int i = 0; i < 64; ++i) p[i] = 30000.0f * ((i & 1) ? 1 : -1);
        l->Advance(p.data());
        EXPECT_EQ(l->Output().ch[0].blockType, 0);
    }
}

bool LegalSuccessor(int prev, int next) {
    switch (prev) {
        case 0:
        case 3:
            return next == 0 || next == 1;
        case 1:
            return next == 2;
        case 2:
            return next == 2 || next == 3;
    }
    return false;
}

TEST(BlockSwitching, EveryStreamConfigurationSequencesLegally) {
    // Every rate and every listed bit rate: clicks over a faint noise floor, windows follow the
    // rules and the outputs stay finite.
    int tried = 0, ran = 0;
    for (int channels : {1, 2}) {
        for (int rate : IsoSampleRates()) {
            for (int bitRate :
                 {8000, 16000, 24000, 32000, 48000, 64000, 96000, 128000, 192000, 320000}) {
                const StreamParamRow* row = FindStreamParamRow(channels, bitRate);
                if (!row || row->preferredRate == 0) continue;
                if (rate >= 32000 && bitRate < 32000) continue;  // MPEG-1 has no such bit rate
                PsyModelConfig c;
                c.channels = channels;
                c.sampleRate = rate;
                c.bitRate = bitRate;
                c.granulesPerFrame = rate >= 32000 ? 2 : 1;
                c.intensity = row->intensity != 0;
                c.midSide = row->midSide != 0;
                ErrorChain err;
                auto m = PsychoacousticModel::Create(c, nullptr, &err);
                ++tried;
                if (!m) {
                    ADD_FAILURE() << "no model for " << channels << " ch " << rate << " Hz "
                                  << bitRate;
                    continue;
                }
                ++ran;
                std::mt19937 rng(static_cast<unsigned>(rate + bitRate));
                std::normal_distribution<float> nd(0, 3);
                std::uniform_real_distribution<float> burst(-30000, 30000);
                std::vector<float> pcm(576 * channels);
                int prev = 0, shorts = 0;
                for (int g = 0; g < 40; ++g) {
                    for (int i = 0; i < 576; ++i)
                        for (int ch = 0; ch < channels; ++ch)
                            pcm[576 * ch + i] =
                                nd(rng) +
                                ((g % 10 == 5 && i >= 200 && i < 264) ? burst(rng) : 0.0f);
                    m->Advance(pcm.data());
                    const auto& o = m->Output();
                    const int t = o.ch[0].blockType;
                    ASSERT_TRUE(LegalSuccessor(prev, t))
                        << rate << " " << bitRate << " g" << g << ": " << prev << "->" << t;
                    shorts += t == 2;
                    prev = t;
                    for (int ch = 0; ch < channels; ++ch) {
                        ASSERT_EQ(o.ch[ch].blockType, t);
                        for (float v : o.ch[ch].spectrum) ASSERT_TRUE(std::isfinite(v));
                        ASSERT_TRUE(std::isfinite(o.ch[ch].pe));
                        if (t == 2) {
                            for (auto& r : o.ch[ch].xminShort)
                                for (float v : r) ASSERT_TRUE(std::isfinite(v) && v > 0);
                        } else {
                            for (float v : o.ch[ch].xminLong)
                                ASSERT_TRUE(std::isfinite(v) && v > 0);
                        }
                    }
                }
                EXPECT_GT(shorts, 0) << rate << " " << bitRate;
                EXPECT_GT(m->Bandwidth(), 0.0f);
                EXPECT_LE(m->Bandwidth(), rate / 2.0f);
            }
        }
    }
    EXPECT_EQ(ran, tried);
    EXPECT_GT(ran, 50);
}

TEST(BlockSwitching, JointDecisionTable) {
    EXPECT_EQ(JointBlockType(JointBlockType(0, 0), 3), 3);  // long + stop -> stop
    EXPECT_EQ(JointBlockType(JointBlockType(0, 0), 1), 1);  // long + start -> start
    EXPECT_EQ(JointBlockType(JointBlockType(0, 1), 3), 2);  // start + stop -> short
    EXPECT_EQ(JointBlockType(JointBlockType(0, 3), 1), 2);
    EXPECT_EQ(JointBlockType(JointBlockType(0, 2), 0), 2);
    EXPECT_EQ(JointBlockType(JointBlockType(0, 3), 3), 3);
    EXPECT_EQ(ToMixed(1), 4);
    EXPECT_EQ(ToMixed(2), 5);
    EXPECT_EQ(ToMixed(3), 6);
    EXPECT_EQ(ToMixed(0), 0);
}

TEST(BlockSwitching, StereoChannelsShareTheType) {
    auto m = Model(2, 44100, 128000);
    std::vector<float> pcm(1152, 0.0f);
    bool sawShort = false;
    for (int g = 0; g < 14; ++g) {
        std::fill(pcm.begin(), pcm.end(), 0.0f);
        if (g == 6)  // click in the right channel only
            for (int i = 0; i < 64; ++i)
                pcm[576 + 450 + (i % 100)] = static_cast<float>(((i * 7919) % 13) - 6) * 5000.0f;
        m->Advance(pcm.data());
        const auto& o = m->Output();
        EXPECT_EQ(o.ch[0].blockType, o.ch[1].blockType);
        sawShort |= o.ch[0].blockType == 2;
    }
    EXPECT_TRUE(sawShort);
}

TEST(BlockSwitching, MixedOptionGivesMixedCodes) {
    OptionStore o;
    o.Open();
    o.SetOption("mixed", "");
    auto m = Model(1, 44100, 64000, &o);
    std::vector<int> seen;
    std::vector<float> pcm(576);
    for (int g = 0; g < 14; ++g) {
        std::fill(pcm.begin(), pcm.end(), 0.0f);
        if (g == 6)
            for (int i = 450; i < 514 && i < 576; ++i)
                pcm[i] = static_cast<float>(((i * 7919) % 13) - 6) * 5000.0f;
        m->Advance(pcm.data());
        seen.push_back(m->Output().ch[0].blockType);
        if (m->Output().ch[0].blockType == 5) {
            EXPECT_TRUE(m->Output().ch[0].mixed);
            EXPECT_EQ(m->Output().ch[0].longBands, 8);
        }
    }
    const std::vector<int> expect = {0, 0, 0, 0, 0, 0, 0, 4, 5, 6, 0, 0, 0, 0};
    EXPECT_EQ(seen, expect);
}

TEST(AnalysisWindow, SineSquaredAndSymmetric) {
    float w[256];
    CalculateWindow(w, 256, 2);
    for (int i = 0; i < 128; ++i) {
        EXPECT_FLOAT_EQ(w[i], w[255 - i]);
        const double s = std::sin(M_PI / 256 * (i + 0.5));
        EXPECT_NEAR(w[i], s * s, 1e-7);
    }
}

TEST(RealFft, MatchesTheDefinition) {
    for (int n : {256, 1024}) {
        RealFft f(n);
        std::mt19937 rng(n);
        std::uniform_real_distribution<float> u(-1000, 1000);
        std::vector<float> x(n), re(n / 2), im(n / 2);
        for (auto& v : x) v = u(rng);
        f.Forward(x.data(), re.data(), im.data());
        double maxErr = 0, scale = 0;
        for (int k = 0; k < n / 2; ++k) {
            std::complex<double> acc = 0;
            for (int i = 0; i < n; ++i)
                acc += double(x[i]) * std::polar(1.0, -2 * M_PI * k * i / n);
            maxErr = std::max(maxErr, std::abs(acc - std::complex<double>(re[k], im[k])));
            scale = std::max(scale, std::abs(acc));
        }
        EXPECT_LT(maxErr / scale, 1e-5) << n;
    }
}

TEST(FatalFaults, BannerAndExitCode20) {
    float w[8];
    EXPECT_EXIT(CalculateWindow(w, 8, 1), ::testing::ExitedWithCode(20),
                "fatal error: CalculateWindow\\(\\) called with invalid window type in file .*\n"
                "This is a program design failure - Aborting\\.\n##########");
    std::vector<float> z(16, 1.0f), c(16);
    EXPECT_EXIT(CalculateChaosMeasure(5, z.data(), z.data(), z.data(), z.data(), z.data(), z.data(),
                                      16, 16, 0, 0.4f, c.data()),
                ::testing::ExitedWithCode(20),
                "CalculateChaosMeasure\\(\\) called with unknown chaos method");
}

}  // namespace
}  // namespace mp3enc
