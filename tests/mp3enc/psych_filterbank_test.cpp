// Hybrid analysis against a reference of the standard's hybrid synthesis.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "mp3enc/filterbank/mdct.h"
#include "mp3enc/filterbank/polyphase.h"
#include "mp3enc/psycho/model.h"

namespace mp3enc {
namespace {

// Decoder side as the standard describes it: alias reduction, IMDCT with the block's window,
// overlap-add, frequency inversion, polyphase synthesis with D = 32 C.
class ReferenceSynthesis {
public:
    ReferenceSynthesis() {
        for (int i = 0; i < 512; ++i) d_[i] = 32.0 * AnalysisWindow()[i];
    }
    // xr: 576 lines in the encoder's natural order (short: 18 sb + 6 w + k).
    void Granule(const float* xrIn, int blockType, float* pcm) {
        std::vector<double> xr(xrIn, xrIn + 576);
        const bool mixed = blockType >= 4;
        const int base = mixed ? blockType - 3 : blockType;
        const int boundaries = base != 2 ? 31 : (mixed ? 1 : 0);
        for (int sb = 1; sb <= boundaries; ++sb)
            for (int i = 0; i < 8; ++i) {
                const double a = xr[18 * sb - 1 - i], b = xr[18 * sb + i];
                xr[18 * sb - 1 - i] = a * AliasCs()[i] - b * AliasCa()[i];
                xr[18 * sb + i] = b * AliasCs()[i] + a * AliasCa()[i];
            }
        double sbs[32][18];
        for (int sb = 0; sb < 32; ++sb) {
            double y[36] = {};
            const bool lowMixed = mixed && sb < 2;
            if (base == 2 && !lowMixed) {
                const float* w = ImdctWindow(2);
                for (int win = 0; win < 3; ++win)
                    for (int i = 0; i < 12; ++i) {
                        double acc = 0;
                        for (int k = 0; k < 6; ++k)
                            acc += xr[18 * sb + 6 * win + k] *
                                   std::cos(M_PI / 24 * (2 * i + 7) * (2 * k + 1));
                        y[6 + 6 * win + i] += acc * w[i];
                    }
            } else {
                const float* w = ImdctWindow(lowMixed ? 0 : base);
                for (int i = 0; i < 36; ++i) {
                    double acc = 0;
                    for (int k = 0; k < 18; ++k)
                        acc += xr[18 * sb + k] * std::cos(M_PI / 72 * (2 * i + 19) * (2 * k + 1));
                    y[i] = acc * w[i];
                }
            }
            for (int t = 0; t < 18; ++t) {
                sbs[sb][t] = y[t] + overlap_[sb][t];
                overlap_[sb][t] = y[18 + t];
            }
        }
        for (int sb = 1; sb < 32; sb += 2)
            for (int t = 1; t < 18; t += 2) sbs[sb][t] = -sbs[sb][t];
        for (int t = 0; t < 18; ++t) {
            for (int i = 1023; i >= 64; --i) v_[i] = v_[i - 64];
            for (int i = 0; i < 64; ++i) {
                double acc = 0;
                for (int k = 0; k < 32; ++k)
                    acc += std::cos((16 + i) * (2 * k + 1) * M_PI / 64) * sbs[k][t];
                v_[i] = acc;
            }
            double u[512];
            for (int i = 0; i < 8; ++i)
                for (int j = 0; j < 32; ++j) {
                    u[64 * i + j] = v_[128 * i + j];
                    u[64 * i + 32 + j] = v_[128 * i + 96 + j];
                }
            for (int j = 0; j < 32; ++j) {
                double acc = 0;
                for (int i = 0; i < 16; ++i) acc += u[j + 32 * i] * d_[j + 32 * i];
                pcm[32 * t + j] = static_cast<float>(acc);
            }
        }
    }

private:
    double d_[512];
    double overlap_[32][18] = {};
    double v_[1024] = {};
};

struct Analyzer {
    PolyphaseAnalysis poly;
    float prev[32][18] = {};
    void Granule(const float* pcm, int blockType, float* xr) {
        float cur[32][18];
        poly.Process(pcm, cur);
        FrequencyInversion(cur);
        HybridMdct(prev, cur, blockType, xr);
        std::memcpy(prev, cur, sizeof(cur));
    }
};

// Runs the input through analysis and synthesis with the given block types per granule and
// returns the SNR (dB) of the output against the input delayed by 1057 samples.
double RoundTripSnr(const std::vector<float>& in, const std::vector<int>& types) {
    Analyzer a;
    ReferenceSynthesis s;
    const size_t granules = types.size();
    std::vector<float> out(granules * 576);
    float xr[576];
    for (size_t g = 0; g < granules; ++g) {
        a.Granule(in.data() + 576 * g, types[g], xr);
        s.Granule(xr, types[g], out.data() + 576 * g);
    }
    const int delay = 1057;
    double sig = 0, err = 0;
    for (size_t i = 2000; i < out.size(); ++i) {
        const double ref = in[i - delay];
        sig += ref * ref;
        err += (out[i] - ref) * (out[i] - ref);
    }
    const double snr = 10 * std::log10(sig / std::max(err, 1e-30));
    ::testing::Test::RecordProperty("snr_db", std::to_string(snr));
    return snr;
}

std::vector<float> Noise(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> nd(0, 3000);
    std::vector<float> v(n);
    for (auto& x : v) x = nd(rng);
    return v;
}

TEST(Filterbank, LongBlocksReconstructWithTheSynthesisDelay) {
    const std::vector<int> types(24, 0);
    EXPECT_GT(RoundTripSnr(Noise(24 * 576, 1), types), 80.0);
}

TEST(Filterbank, SwitchedSequencesReconstruct) {
    const std::vector<int> types = {0, 0, 0, 0, 1, 2, 2, 3, 0, 1, 2,
                                    3, 0, 0, 1, 2, 2, 2, 3, 0, 0, 0};
    EXPECT_GT(RoundTripSnr(Noise(types.size() * 576, 2), types), 80.0);
}

TEST(Filterbank, MixedSequencesReconstruct) {
    const std::vector<int> types = {0, 0, 0, 0, 4, 5, 5, 6, 0, 4, 5, 6, 0, 0, 0};
    EXPECT_GT(RoundTripSnr(Noise(types.size() * 576, 3), types), 80.0);
}

TEST(Filterbank, AllShortReconstructs) {
    const std::vector<int> types(16, 2);
    EXPECT_GT(RoundTripSnr(Noise(16 * 576, 4), types), 80.0);
}

TEST(Filterbank, ModelOutputCarriesTheDocumentedDelay) {
    // Mono, long blocks only, content well below the low-pass line: the model's spectra decode
    // to the input delayed by the model's delay.
    OptionStore o;
    o.Open();
    o.SetOption("blm", "1");
    PsyModelConfig c;
    c.channels = 1;
    c.sampleRate = 44100;
    c.bitRate = 128000;
    auto m = PsychoacousticModel::Create(c, &o, nullptr);
    ASSERT_TRUE(m);
    const int granules = 30;
    std::vector<float> in(granules * 576), out(granules * 576);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(6000 * std::sin(2 * M_PI * 440 * i / 44100.0) +
                                   3000 * std::sin(2 * M_PI * 3100 * i / 44100.0 + 1));
    ReferenceSynthesis s;
    for (int g = 0; g < granules; ++g) {
        m->Advance(in.data() + 576 * g);
        ASSERT_EQ(m->Output().ch[0].blockType, 0);
        s.Granule(m->Output().ch[0].spectrum, 0, out.data() + 576 * g);
    }
    double sig = 0, err = 0;
    for (size_t i = 3000; i < out.size(); ++i) {
        const double ref = in[i - PsychoacousticModel::kDelay];
        sig += ref * ref;
        err += (out[i] - ref) * (out[i] - ref);
    }
    EXPECT_GT(10 * std::log10(sig / err), 60.0);
}

TEST(Filterbank, SineLandsInItsSubbandAndLine) {
    const double fs = 44100, f = 1000;
    Analyzer a;
    std::vector<float> pcm(576);
    float xr[576];
    for (int g = 0; g < 6; ++g) {
        for (int i = 0; i < 576; ++i)
            pcm[i] = static_cast<float>(10000 * std::sin(2 * M_PI * f * (576 * g + i) / fs));
        a.Granule(pcm.data(), 0, xr);
    }
    int peak = 0;
    double total = 0, near = 0;
    for (int i = 0; i < 576; ++i) {
        total += double(xr[i]) * xr[i];
        if (std::fabs(xr[i]) > std::fabs(xr[peak])) peak = i;
    }
    for (int i = 18; i < 36; ++i) near += double(xr[i]) * xr[i];
    const double line = f / (fs / 2 / 576) - 0.5;  // 25.6
    EXPECT_LE(std::abs(peak - line), 1.0);
    EXPECT_GT(near / total, 0.99);  // subband 1 holds the sine
}

TEST(Filterbank, ShortReorderIsBandWindowLine) {
    const int start[14] = {0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192};
    float in[576], out[576];
    for (int sb = 0; sb < 32; ++sb)
        for (int w = 0; w < 3; ++w)
            for (int k = 0; k < 6; ++k)
                in[18 * sb + 6 * w + k] = static_cast<float>(1000 * w + 6 * sb + k);
    ReorderShort(in, start, 0, out);
    // Band 1 (lines 4..7): window 0 then 1 then 2.
    EXPECT_EQ(out[12], 4.0f);
    EXPECT_EQ(out[15], 7.0f);
    EXPECT_EQ(out[16], 1004.0f);
    EXPECT_EQ(out[20], 2004.0f);
    EXPECT_EQ(out[3 * 136 + 3 * 56 - 1], 2191.0f);
}

}  // namespace
}  // namespace mp3enc
