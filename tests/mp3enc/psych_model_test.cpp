// The psychoacoustic model: chaos and tonality, thresholds, entropy, stereo decisions and
// the values handed to the loops.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "mp3enc/psycho/model.h"
#include "mp3enc/psycho/channel_threshold.h"
#include "mp3enc/psycho/fft_window.h"

namespace mp3enc {
namespace {

std::unique_ptr<PsychoacousticModel> Model(int channels, int rate, int bitRate, bool ms = true,
                                           bool is = false) {
    PsyModelConfig c;
    c.channels = channels;
    c.sampleRate = rate;
    c.bitRate = bitRate;
    c.granulesPerFrame = rate >= 32000 ? 2 : 1;
    c.midSide = ms;
    c.intensity = is;
    ErrorChain err;
    auto m = PsychoacousticModel::Create(c, nullptr, &err);
    EXPECT_TRUE(m) << (err.empty() ? "" : err[0].message);
    return m;
}

bool AllFinite(const PsyGranuleOutput& o) {
    for (int c = 0; c < o.channels; ++c) {
        const auto& ch = o.ch[c];
        for (float v : ch.spectrum)
            if (!std::isfinite(v)) return false;
        for (float v : ch.xminLong)
            if (!std::isfinite(v) || v < 0) return false;
        for (auto& r : ch.xminShort)
            for (float v : r)
                if (!std::isfinite(v) || v < 0) return false;
        if (!std::isfinite(ch.pe) || ch.pe < 0) return false;
    }
    return true;
}

// Long-analysis spectra of a sine at three consecutive granules.
struct ThreeSpectra {
    std::vector<float> re[3], im[3];
    ThreeSpectra(double f, double fs, std::mt19937* noise = nullptr) {
        RealFft fft(1024);
        float w[1024], x[1024];
        CalculateWindow(w, 1024, 0);
        std::normal_distribution<float> nd(0, 1000);
        for (int t = 0; t < 3; ++t) {
            re[t].resize(512);
            im[t].resize(512);
            for (int i = 0; i < 1024; ++i) {
                const double n = 576.0 * (2 - t) + i;  // [0] newest
                x[i] = w[i] * static_cast<float>(noise ? nd(*noise)
                                                       : 10000 * std::sin(2 * M_PI * f * n / fs));
            }
            fft.Forward(x, re[t].data(), im[t].data());
        }
    }
};

TEST(Chaos, StationarySineIsPredictable) {
    const double fs = 44100, f = 1000.0 * 1024 / 1024;
    ThreeSpectra s(f, fs);
    const int line = static_cast<int>(std::lround(f / (fs / 1024)));
    for (int method : {0, 1, 2, 3, 4}) {
        std::vector<float> chaos(512);
        CalculateChaosMeasure(method, s.re[0].data(), s.im[0].data(), s.re[1].data(),
                              s.im[1].data(), s.re[2].data(), s.im[2].data(), 512, 300, 100, 0.4f,
                              chaos.data());
        EXPECT_LT(chaos[line], 0.05f) << "method " << method;
        for (int k = 300; k < 512; ++k) ASSERT_EQ(chaos[k], 0.4f);  // above the tonality limit
    }
}

TEST(Chaos, NoiseIsUnpredictable) {
    std::mt19937 rng(3);
    ThreeSpectra s(0, 44100, &rng);
    for (int method : {0, 2, 3}) {
        std::vector<float> chaos(512);
        CalculateChaosMeasure(method, s.re[0].data(), s.im[0].data(), s.re[1].data(),
                              s.im[1].data(), s.re[2].data(), s.im[2].data(), 512, 512, 0, 0.4f,
                              chaos.data());
        double mean = 0;
        for (int k = 10; k < 500; ++k) mean += chaos[k];
        mean /= 490;
        EXPECT_GT(mean, 0.3) << "method " << method;
    }
}

TEST(Chaos, SilentLinesTakeTheDefault) {
    std::vector<float> z(512, 0.0f), chaos(512);
    for (int method = 0; method <= 4; ++method) {
        CalculateChaosMeasure(method, z.data(), z.data(), z.data(), z.data(), z.data(), z.data(),
                              512, 512, 50, 0.35f, chaos.data());
        for (float c : chaos) ASSERT_EQ(c, 0.35f) << method;
    }
}

double MeanTonality(const PsychoacousticModel& m, int from, int to) {
    int n = 0;
    const float* t = m.LongTonality(0, &n);
    double s = 0;
    for (int b = from; b < to && b < n; ++b) s += t[b];
    return s / (std::min(to, n) - from);
}

TEST(Tonality, SineIsTonalNoiseIsNot) {
    for (int rate : {44100, 22050}) {
        for (int bitRate : {128000, 64000}) {  // chaos method 0 and 3 rows
            auto sine = Model(1, rate, bitRate);
            auto noise = Model(1, rate, bitRate);
            std::mt19937 rng(1);
            std::normal_distribution<float> nd(0, 3000);
            std::vector<float> a(576), b(576);
            for (int g = 0; g < 8; ++g) {
                for (int i = 0; i < 576; ++i) {
                    a[i] = static_cast<float>(10000 *
                                              std::sin(2 * M_PI * 1000 * (576.0 * g + i) / rate));
                    b[i] = nd(rng);
                }
                sine->Advance(a.data());
                noise->Advance(b.data());
            }
            // The partition holding 1 kHz.
            int n = 0;
            const float* t = sine->LongTonality(0, &n);
            float best = 0;
            for (int i = 0; i < n; ++i) best = std::max(best, t[i]);
            EXPECT_GT(best, 0.9f) << rate << " " << bitRate;
            EXPECT_LT(MeanTonality(*noise, 5, 40), 0.25) << rate << " " << bitRate;
            EXPECT_TRUE(AllFinite(sine->Output()));
            EXPECT_TRUE(AllFinite(noise->Output()));
        }
    }
}

TEST(Entropy, PartitionsBelowTheirThresholdAddNothing) {
    PartitionTable pt;
    pt.count = 3;
    pt.p.resize(3);
    pt.p[0].width = 4;
    pt.p[1].width = 8;
    pt.p[2].width = 2;
    const float e[3] = {1000, 5, 0};
    const float thr[3] = {10, 50, 1};
    const float pe = PerceptualEntropy(pt, e, thr);
    EXPECT_NEAR(pe, 4 * std::log2(1000.1 / 10) - 2.32, 1e-3);
    const float quiet[3] = {0, 0, 0};
    EXPECT_EQ(PerceptualEntropy(pt, quiet, thr), 0.0f);
}

TEST(Thresholds, PreEchoControlLimitsTheRiseAfterSilence) {
    PsyParams p;
    ASSERT_TRUE(BuildPsyParams(nullptr, 44100, 64000, false, &p, nullptr));
    PartitionTable lpt, spt;
    ASSERT_TRUE(BuildPartitionTable(p.lng, 44100, &lpt, nullptr));
    ASSERT_TRUE(BuildPartitionTable(p.shrt, 44100, &spt, nullptr));
    ThresholdChannel t;
    t.Init(p, &lpt, &spt);
    std::vector<float> zl(512, 0.0f), zs(128, 0.0f);
    const float* sre[3] = {zs.data(), zs.data(), zs.data()};
    for (int g = 0; g < 3; ++g) t.Process(zl.data(), zl.data(), sre, sre);
    for (int b = 0; b < lpt.count; ++b) EXPECT_FLOAT_EQ(t.Long().thr[b], lpt.p[b].quiet);
    EXPECT_EQ(t.Long().pe, 0.0f);
    std::mt19937 rng(8);
    std::normal_distribution<float> nd(0, 3e5);
    std::vector<float> re(512), im(512);
    auto loud = [&] {
        for (int k = 0; k < 512; ++k) {
            re[k] = nd(rng);
            im[k] = nd(rng);
        }
        t.Process(re.data(), im.data(), sre, sre);
    };
    loud();
    // rpmin is 0 for long blocks: the onset may pull the threshold down to rpre times the
    // quiet threshold of the silent granule before, with no floor.
    const float rpre = p.lng.thr[kThrRpre];
    int limited = 0;
    for (int b = 0; b < lpt.count; ++b) {
        EXPECT_LE(t.Long().thr[b], rpre * lpt.p[b].quiet * 1.0001f) << b;
        limited += t.Long().thr[b] < 0.5f * t.Long().e[b];
    }
    EXPECT_GT(limited, lpt.count / 2);
    const float onsetPe = t.Long().pe;
    for (int g = 0; g < 6; ++g) loud();
    EXPECT_LT(t.Long().pe, onsetPe);  // steady noise needs fewer bits than its onset
}

TEST(Thresholds, AdaptionTakesTheMinimumInTheLowestBands) {
    AdaptTable at;
    at.bands = 2;
    at.begin = {0, 2, 4};
    at.part = {0, 1, 2, 3};
    const float ratio[4] = {0.1f, 0.3f, 0.2f, 0.6f};
    float band[2];
    AdaptRatios(at, ratio, 1, band);
    EXPECT_FLOAT_EQ(band[0], 0.1f);
    EXPECT_FLOAT_EQ(band[1], 0.4f);
    AdaptRatios(at, ratio, 0, band);
    EXPECT_FLOAT_EQ(band[0], 0.2f);
}

// Noise spread over a band must stay inaudible where the threshold in quiet is lowest: the
// 13-16 kHz band reaches into the steep rise above 15 kHz, whose level once let its lower part
// be zeroed as inaudible.
TEST(Thresholds, BandQuietIsTheLowestLevelOfItsLines) {
    PsyParams p;
    ASSERT_TRUE(BuildPsyParams(nullptr, 44100, 64000, true, &p, nullptr));
    PartitionTable pt;
    AdaptTable at;
    ASSERT_TRUE(BuildPartitionTable(p.lng, 44100, &pt, nullptr));
    ASSERT_TRUE(BuildAdaptTable(p.lng, pt, &at, nullptr));
    // 13.1-16 kHz (band 20) is mostly below 15 kHz: within 25 dB of 11-13.1 kHz (band 19).
    EXPECT_LT(at.quietFft[20] / at.quietFft[19], 300.0f);
}

TEST(Model, SilenceAndHostileInputStayFinite) {
    auto m = Model(2, 44100, 128000, true, true);
    std::vector<float> pcm(1152, 0.0f);
    for (int g = 0; g < 6; ++g) {
        m->Advance(pcm.data());
        ASSERT_TRUE(AllFinite(m->Output()));
        for (float v : m->Output().ch[0].xminLong) EXPECT_GT(v, 0.0f);
    }
    for (int g = 0; g < 6; ++g) {
        for (int i = 0; i < 1152; ++i) pcm[i] = (i / 3) % 2 ? 32767.0f : -32768.0f;
        if (g == 2) pcm[17] = std::nanf("");
        if (g == 3) pcm[600] = INFINITY;
        if (g == 4)
            for (auto& v : pcm) v = 1e-40f;
        m->Advance(pcm.data());
        ASSERT_TRUE(AllFinite(m->Output())) << g;
    }
}

TEST(Model, SpectrumIsClearedAboveTheLowpass) {
    auto m = Model(1, 44100, 64000);
    std::mt19937 rng(2);
    std::normal_distribution<float> nd(0, 5000);
    std::vector<float> pcm(576);
    for (int g = 0; g < 5; ++g) {
        for (auto& v : pcm) v = nd(rng);
        m->Advance(pcm.data());
    }
    const int lp = m->Params().lng.lowpassLine;
    const auto& o = m->Output().ch[0];
    ASSERT_EQ(o.blockType, 0);
    double below = 0;
    for (int j = 0; j < lp; ++j) below += std::fabs(o.spectrum[j]);
    EXPECT_GT(below, 0);
    for (int j = lp; j < 576; ++j) ASSERT_EQ(o.spectrum[j], 0.0f) << j;
    EXPECT_EQ(o.longBands, 22);
    EXPECT_EQ(o.xminLong[21], 1.0f);  // nothing left in the top band
    for (int b = 0; b < 15; ++b) {
        EXPECT_GT(o.energyLong[b], 0);
        EXPECT_LT(o.xminLong[b], o.energyLong[b]);  // noise at this level needs coding
    }
}

TEST(Model, GranuleIndexCountsWithinTheFrame) {
    auto one = Model(1, 22050, 32000);
    auto two = Model(2, 48000, 192000);
    std::vector<float> pcm(1152, 0.0f);
    for (int g = 0; g < 5; ++g) {
        one->Advance(pcm.data());
        two->Advance(pcm.data());
        EXPECT_EQ(one->Output().granuleInFrame, 0);
        EXPECT_EQ(two->Output().granuleInFrame, g % 2);
    }
}

TEST(MidSide, DecisionHoldsForTheWholeFrame) {
    auto m = Model(2, 44100, 128000);
    std::mt19937 rng(9);
    std::normal_distribution<float> nd(0, 4000);
    std::vector<float> pcm(1152);
    int msFrames = 0, lrFrames = 0;
    bool first = true;
    for (int g = 0; g < 40; ++g) {
        // The character switches in the middle of frames: identical channels, then one silent.
        const bool same = ((g + 1) / 4) % 2 == 0;
        for (int i = 0; i < 576; ++i) {
            const float v = nd(rng);
            pcm[i] = v;
            pcm[576 + i] = same ? v : 0.0f;
        }
        m->Advance(pcm.data());
        const auto& o = m->Output();
        if (o.granuleInFrame == 0) {
            first = o.stereo.midSide;
            (first ? msFrames : lrFrames)++;
        } else {
            EXPECT_EQ(o.stereo.midSide, first) << g;
        }
        ASSERT_TRUE(AllFinite(o));
    }
    EXPECT_GT(msFrames, 2);
    EXPECT_GT(lrFrames, 2);
}

TEST(MidSide, IdenticalChannelsGiveSilentSide) {
    auto m = Model(2, 44100, 128000);
    std::vector<float> pcm(1152);
    for (int g = 0; g < 6; ++g) {
        for (int i = 0; i < 576; ++i)
            pcm[i] = pcm[576 + i] =
                static_cast<float>(8000 * std::sin(2 * M_PI * 440 * (576.0 * g + i) / 44100));
        m->Advance(pcm.data());
    }
    const auto& o = m->Output();
    ASSERT_TRUE(o.stereo.midSide);
    double side = 0, mid = 0;
    for (int j = 0; j < 576; ++j) {
        side += std::fabs(o.ch[1].spectrum[j]);
        mid += std::fabs(o.ch[0].spectrum[j]);
    }
    EXPECT_GT(mid, 1000);
    EXPECT_LT(side, 1e-3 * mid);
    auto noMs = Model(2, 44100, 128000, false);
    for (int g = 0; g < 3; ++g) noMs->Advance(pcm.data());
    EXPECT_FALSE(noMs->Output().stereo.midSide);
}

// A panned noise: left = k * right.
const PsyGranuleOutput& Panned(PsychoacousticModel& m, float k) {
    std::mt19937 rng(4);
    std::normal_distribution<float> nd(0, 3000);
    std::vector<float> pcm(1152);
    for (int g = 0; g < 6; ++g) {
        for (int i = 0; i < 576; ++i) {
            const float v = nd(rng);
            pcm[i] = k * v;
            pcm[576 + i] = v;
        }
        m.Advance(pcm.data());
    }
    return m.Output();
}

TEST(Intensity, Mpeg1PositionsFollowThePanning) {
    auto m = Model(2, 32000, 96000, false, true);
    const auto& o = Panned(*m, 3.0f);
    ASSERT_EQ(o.ch[0].blockType, 0);
    ASSERT_TRUE(o.stereo.intensity);
    const int bound = o.stereo.isBoundLong;
    ASSERT_LT(bound, 21);
    const auto& sfb = m->Params().lng.sfb;
    for (int b = 0; b < bound; ++b) EXPECT_EQ(o.stereo.isPosLong[b], kNoIntensity);
    for (int b = bound; b < 21; ++b) {
        if (sfb.start[b] >= m->Params().lng.lowpassLine) break;
        EXPECT_EQ(o.stereo.isPosLong[b], 5) << b;  // atan(3) * 12 / pi = 4.77
    }
    EXPECT_EQ(o.stereo.isPosLong[21], o.stereo.isPosLong[20]);
    for (int j = sfb.start[bound]; j < 576; ++j) ASSERT_EQ(o.ch[1].spectrum[j], 0.0f);
    // The combined channel keeps the amplitude sum: (3 + 1) times the right channel.
    double eComb = 0;
    for (int j = sfb.start[bound]; j < sfb.start[bound + 1]; ++j)
        eComb += double(o.ch[0].spectrum[j]) * o.ch[0].spectrum[j];
    EXPECT_GT(eComb, 0);
    EXPECT_TRUE(AllFinite(o));
}

TEST(Intensity, Mpeg2PositionsUseScaleOne) {
    auto m = Model(2, 22050, 64000, false, true);
    const auto& left = Panned(*m, 3.0f);  // energy ratio 9: d = trunc(log2 9) = 3 -> 6
    ASSERT_TRUE(left.stereo.intensity);
    const int bound = left.stereo.isBoundLong;
    ASSERT_LT(bound, 20);
    EXPECT_EQ(left.stereo.isPosLong[bound], 6);
    auto r = Model(2, 22050, 64000, false, true);
    const auto& right = Panned(*r, 1.0f / 1.5f);  // ratio 0.444: d = trunc(-1.17) = -1 -> 1
    ASSERT_TRUE(right.stereo.intensity);
    EXPECT_EQ(right.stereo.isPosLong[right.stereo.isBoundLong], 1);
}

TEST(Intensity, OppositePhaseIsNotCollapsed) {
    auto m = Model(2, 32000, 96000, false, true);
    const auto& o = Panned(*m, -1.0f);
    EXPECT_FALSE(o.stereo.intensity);
    EXPECT_EQ(o.stereo.isBoundLong, kSfbMaxLong);
}

TEST(Intensity, DecisionHoldsForTheWholeFrame) {
    auto m = Model(2, 32000, 96000, true, true);
    std::mt19937 rng(12);
    std::normal_distribution<float> nd(0, 3000);
    std::vector<float> pcm(1152);
    bool first = false;
    int on = 0, off = 0;
    for (int g = 0; g < 40; ++g) {
        // Panned and opposite-phase stretches, switching in the middle of frames.
        const float k = ((g + 1) / 4) % 2 == 0 ? 2.0f : -1.0f;
        for (int i = 0; i < 576; ++i) {
            const float v = nd(rng);
            pcm[i] = k * v;
            pcm[576 + i] = v;
        }
        m->Advance(pcm.data());
        const auto& o = m->Output();
        if (o.granuleInFrame == 0) {
            first = o.stereo.intensity;
            (first ? on : off)++;
        } else {
            EXPECT_EQ(o.stereo.intensity, first) << g;
        }
        if (o.stereo.intensity && o.ch[0].blockType == 0) {
            for (int j = m->Params().lng.sfb.start[o.stereo.isBoundLong]; j < 576; ++j)
                ASSERT_EQ(o.ch[1].spectrum[j], 0.0f);
        }
        ASSERT_TRUE(AllFinite(o));
    }
    EXPECT_GT(on, 2);
    EXPECT_GT(off, 2);
}

TEST(Model, CreationFailures) {
    PsyModelConfig c;
    ErrorChain err;
    c.channels = 3;
    EXPECT_FALSE(PsychoacousticModel::Create(c, nullptr, &err));
    EXPECT_EQ(err.back().message, "invalid procedure parameters");
    c.channels = 0;
    EXPECT_FALSE(PsychoacousticModel::Create(c, nullptr, &err));
    EXPECT_EQ(err.back().message, "only mono and stereo case implemented");
    c.channels = 2;
    c.sampleRate = 44000;
    EXPECT_FALSE(PsychoacousticModel::Create(c, nullptr, &err));
    EXPECT_EQ(err.back().message, "not a valid ISO sampling rate");
    err.clear();
    c.channels = 1;
    c.sampleRate = 44100;
    c.bitRate = 8000;
    EXPECT_FALSE(PsychoacousticModel::Create(c, nullptr, &err));
    ASSERT_EQ(err.size(), 2u);  // innermost first
    EXPECT_EQ(err[0].module, "core/psych/enc/common/psyparam");
    EXPECT_EQ(err[1].module, "core/psych/enc/l3/psymain");
}

TEST(Model, TwoInstancesInTwoThreadsAgree) {
    auto run = [](std::vector<float>* out) {
        auto m = Model(2, 44100, 128000, true, false);
        std::mt19937 rng(11);
        std::normal_distribution<float> nd(0, 2000);
        std::vector<float> pcm(1152);
        for (int g = 0; g < 60; ++g) {
            for (auto& v : pcm) v = nd(rng) * (g % 9 == 4 ? 8.0f : 1.0f);
            m->Advance(pcm.data());
            const auto& o = m->Output();
            out->push_back(static_cast<float>(o.ch[0].blockType));
            out->push_back(o.ch[0].pe);
            out->push_back(o.ch[1].xminLong[7]);
            out->push_back(o.ch[0].spectrum[100]);
        }
    };
    std::vector<float> a, b, c;
    std::thread t1(run, &a), t2(run, &b);
    t1.join();
    t2.join();
    run(&c);
    EXPECT_EQ(a, c);
    EXPECT_EQ(b, c);
}

}  // namespace
}  // namespace mp3enc
