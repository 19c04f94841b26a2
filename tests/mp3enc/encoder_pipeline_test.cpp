// The granule pipeline: frame-level stereo decisions and budgets, driven by a scripted front end.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp3enc/engine/granule_pipeline.h"

using namespace mp3enc;

namespace {

// Delivers identical left and right spectra; the mid/side wish follows a script per granule.
class ScriptedFront : public FrontEnd {
public:
    explicit ScriptedFront(std::vector<int> script) : script_(std::move(script)) {}
    std::string Analyse(const float* const[2], GranuleAnalysis& out) override {
        const int mode = script_[static_cast<size_t>(n_++) % script_.size()];
        // 0: L/R spectra, no wish; 1: L/R spectra, wish for M/S; 2: M/S already applied.
        out.midSide = mode != 0;
        out.msApplied = mode == 2;
        for (int c = 0; c < 2; ++c) {
            ChannelAnalysis& a = out.ch[c];
            a.blockType = 0;
            a.pe = 500;
            for (int i = 0; i < 576; ++i) {
                float v = i < 300 ? 2000.0f * std::sin(0.37f * i + 0.1f * n_) : 0.0f;
                // Mid/side already applied: mid carries sqrt(2) of the signal, side nothing.
                a.xr[i] = mode == 2 ? (c == 0 ? v * 1.41421356f : 0.0f) : v;
            }
            for (float& x : a.xmin) x = 100.0f;
        }
        return {};
    }
    int Delay() const override { return 0; }
    float Bandwidth() const override { return 10000; }

private:
    std::vector<int> script_;
    int n_ = 0;
};

struct SideInfo {
    int modeExt;
    int part23[2][2];
    int bigValues[2][2];
};

// Reads mode_extension and the per-granule sizes of every MPEG-1 stereo frame.
std::vector<SideInfo> Parse(const std::vector<uint8_t>& s) {
    std::vector<SideInfo> v;
    size_t off = 0;
    while (off + 36 <= s.size()) {
        int index = s[off + 2] >> 4, pad = (s[off + 2] >> 1) & 1;
        static const int kbps[] = {0,   32,  40,  48,  56,  64,  80, 96,
                                   112, 128, 160, 192, 224, 256, 320};
        SideInfo si{};
        si.modeExt = (s[off + 3] >> 4) & 3;
        size_t bit = (off + 4) * 8 + 9 + 3 + 8;
        auto get = [&](int n) {
            int x = 0;
            for (int i = 0; i < n; ++i, ++bit)
                x = (x << 1) | ((s[bit >> 3] >> (7 - (bit & 7))) & 1);
            return x;
        };
        for (int gr = 0; gr < 2; ++gr)
            for (int ch = 0; ch < 2; ++ch) {
                si.part23[gr][ch] = get(12);
                si.bigValues[gr][ch] = get(9);
                get(59 - 21);
            }
        v.push_back(si);
        off += static_cast<size_t>(144 * kbps[index] * 1000 / 44100 + pad);
    }
    return v;
}

std::vector<SideInfo> EncodeScript(std::vector<int> script, int granules) {
    FramePipeline p;
    PipelineConfig c;
    c.channels = 2;
    c.bs.sampleRate = 44100;
    c.bs.bitRate = 128000;
    c.bs.stereoMode = 1;
    EXPECT_EQ(p.Create(c, std::make_unique<ScriptedFront>(std::move(script))), "");
    std::vector<float> pcm(576, 0.0f);
    const float* in[2] = {pcm.data(), pcm.data()};
    std::vector<uint8_t> out;
    for (int g = 0; g < granules; ++g) EXPECT_EQ(p.EncodeGranule(in, out), "");
    p.Flush(out);
    return Parse(out);
}

}  // namespace

// The first granule of a frame decides; the other granule is coded to match.
TEST(GranulePipeline, MidSideHeldForTheWholeFrame) {
    // Frames: (M/S wished, then L/R) and (no wish, then M/S applied).
    auto frames = EncodeScript({1, 0, 0, 2}, 8);
    ASSERT_EQ(frames.size(), 4u);
    for (size_t f = 0; f < frames.size(); ++f) {
        const SideInfo& s = frames[f];
        if (f % 2 == 0) {
            EXPECT_EQ(s.modeExt, 2) << f;
            // Identical channels: the side channel is empty in both granules.
            EXPECT_EQ(s.part23[0][1], 0) << f;
            EXPECT_EQ(s.part23[1][1], 0) << f;
            EXPECT_GT(s.bigValues[0][0], 0) << f;
        } else {
            EXPECT_EQ(s.modeExt, 0) << f;
            // Left/right coding: both channels carry the signal in both granules.
            EXPECT_GT(s.part23[0][1], 0) << f;
            EXPECT_GT(s.part23[1][1], 0) << f;
        }
    }
}

TEST(GranulePipeline, EveryGranuleFitsItsLengthField) {
    auto frames = EncodeScript({0}, 40);
    ASSERT_FALSE(frames.empty());
    for (const SideInfo& s : frames)
        for (auto& gr : s.part23)
            for (int v : gr) EXPECT_LE(v, 4095);
}
