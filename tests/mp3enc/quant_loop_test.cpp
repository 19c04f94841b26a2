#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "mp3enc/bitstream/huffman_coder.h"
#include "mp3enc/quantize/bit_allocation.h"
#include "mp3enc/quantize/loop.h"

using namespace mp3enc;

namespace {

std::vector<float> Tone(float amp, int line) {
    std::vector<float> xr(576, 0.0f);
    xr[static_cast<size_t>(line)] = amp;
    xr[static_cast<size_t>(line + 1)] = -0.5f * amp;
    return xr;
}

std::vector<float> Noise(float amp, int lines, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> nd(0, amp);
    std::vector<float> xr(576, 0.0f);
    for (int i = 0; i < lines; ++i) xr[static_cast<size_t>(i)] = nd(rng);
    return xr;
}

std::vector<float> Xmin(float v) {
    return std::vector<float>(39, v);
}

}  // namespace

TEST(LoopKernel, SilentGranuleCodesNothing) {
    LoopKernel k;
    ASSERT_TRUE(k.Create(44100, 1, LoopOptions{}));
    std::vector<float> zero(576, 0.0f);
    auto xm = Xmin(1.0f);
    k.Prepare(0, 0, 0, zero.data(), xm.data());
    k.Prepare(1, 0, 2, zero.data(), xm.data());
    EXPECT_EQ(k.startStep(0, 0), 0);
    int budgets[2][2] = {{1000, 0}, {1000, 0}};
    CodedFrame f;
    k.RunFrame(budgets, 2000, f);
    for (int gr = 0; gr < 2; ++gr) {
        const GranuleInfo& g = f.gr[gr][0];
        EXPECT_EQ(g.big_values, 0);
        EXPECT_EQ(g.count1End, 0);
        EXPECT_EQ(g.part2_3_length, g.part2_length);
        EXPECT_EQ(g.part2_length, 0);
    }
}

TEST(LoopKernel, MeetsBudgetsAndKeepsBitstreamLimits) {
    for (int rate : {44100, 22050, 8000}) {
        LoopKernel k;
        ASSERT_TRUE(k.Create(rate, 2, LoopOptions{}));
        const int G = k.granules();
        auto xm = Xmin(50.0f);
        std::vector<std::vector<float>> specs;
        for (int gr = 0; gr < G; ++gr)
            for (int ch = 0; ch < 2; ++ch) {
                specs.push_back(Noise(3000.0f, 400, static_cast<unsigned>(gr * 2 + ch + 1)));
                k.Prepare(gr, ch, (gr + ch) % 2 ? 2 : 0, specs.back().data(), xm.data());
            }
        for (int budget : {60, 300, 1500, 6000}) {
            for (int gr = 0; gr < G; ++gr)
                for (int ch = 0; ch < 2; ++ch)
                    k.Prepare(gr, ch, (gr + ch) % 2 ? 2 : 0,
                              specs[static_cast<size_t>(gr * 2 + ch)].data(), xm.data());
            int budgets[2][2] = {{budget, budget}, {budget, budget}};
            CodedFrame f;
            k.RunFrame(budgets, 4 * budget, f);
            int total = 0;
            for (int gr = 0; gr < G; ++gr)
                for (int ch = 0; ch < 2; ++ch) {
                    const GranuleInfo& g = f.gr[gr][ch];
                    EXPECT_LE(g.part2_3_length, 4095);
                    EXPECT_LE(g.global_gain, 255);
                    EXPECT_LE(g.big_values, 288);
                    for (int i = 0; i < 576; ++i) {
                        ASSERT_LE(std::abs(g.ix[i]), kMaxQuantValue);
                    }
                    total += g.part2_3_length;
                }
            // The frame as a whole never overdraws what it was given.
            EXPECT_LE(total, 4 * budget) << rate << " " << budget;
        }
    }
}

TEST(LoopKernel, StarvedBudgetStopsAtTheCoarsestStep) {
    LoopKernel k;
    ASSERT_TRUE(k.Create(44100, 1, LoopOptions{}));
    auto xr = Noise(20000.0f, 576, 3);
    auto xm = Xmin(1.0f);
    k.Prepare(0, 0, 0, xr.data(), xm.data());
    k.Prepare(1, 0, 0, xr.data(), xm.data());
    int budgets[2][2] = {{0, 0}, {0, 0}};
    CodedFrame f;
    k.RunFrame(budgets, 0, f);
    EXPECT_EQ(f.gr[0][0].part2_3_length, 0);
    EXPECT_EQ(f.gr[1][0].part2_3_length, 0);
}

TEST(LoopKernel, IterationGroupsShareTheStartStep) {
    LoopOptions o;
    o.itm = 2;
    LoopKernel k;
    ASSERT_TRUE(k.Create(44100, 2, o));
    auto loud = Tone(30000.0f, 20), quiet = Tone(30.0f, 20);
    auto xm = Xmin(10.0f);
    k.Prepare(0, 0, 0, loud.data(), xm.data());
    k.Prepare(0, 1, 0, quiet.data(), xm.data());
    k.Prepare(1, 0, 0, quiet.data(), xm.data());
    k.Prepare(1, 1, 0, quiet.data(), xm.data());
    EXPECT_GT(k.startStep(0, 0), k.startStep(0, 1));
    int budgets[2][2] = {{3000, 3000}, {3000, 3000}};
    CodedFrame f;
    k.RunFrame(budgets, 12000, f);
    // Plenty of bits and no amplification needed: both channels stay at the group's step.
    EXPECT_EQ(f.gr[0][0].global_gain, f.gr[0][1].global_gain);
    // The start step lets the largest line reach about 8191.
    int mx = 0;
    for (int v : f.gr[0][0].ix) mx = std::max(mx, std::abs(v));
    EXPECT_GT(mx, 4000);
    EXPECT_LE(mx, 8206);
}

TEST(LoopKernel, OuterLoopRespectsItsPassLimit) {
    for (int mol : {1, 3, 14}) {
        LoopOptions o;
        o.mol = mol;
        o.amp = 0;
        LoopKernel k;
        ASSERT_TRUE(k.Create(44100, 1, o));
        auto xr = Noise(5000.0f, 500, 9);
        auto xm = Xmin(1e-3f);  // everything is distorted
        k.Prepare(0, 0, 0, xr.data(), xm.data());
        k.Prepare(1, 0, 0, xr.data(), xm.data());
        int budgets[2][2] = {{800, 0}, {800, 0}};
        CodedFrame f;
        k.RunFrame(budgets, 1600, f);
        EXPECT_LE(k.lastOuterPasses(), mol);
    }
}

TEST(LoopKernel, ScalefactorsFitTheirCompression) {
    for (int rate : {44100, 16000}) {
        LoopOptions o;
        o.amp = 0;
        o.mol = 50;
        LoopKernel k;
        ASSERT_TRUE(k.Create(rate, 1, o));
        const int G = k.granules();
        auto xr = Noise(2000.0f, 576, 11);
        auto xm = Xmin(1e-2f);
        for (int gr = 0; gr < G; ++gr) k.Prepare(gr, 0, gr == 0 ? 0 : 2, xr.data(), xm.data());
        int budgets[2][2] = {{3000, 0}, {3000, 0}};
        CodedFrame f;
        k.RunFrame(budgets, 6000, f);
        for (int gr = 0; gr < G; ++gr) {
            const GranuleInfo& g = f.gr[gr][0];
            int k2 = 0;
            for (int p = 0; p < 4; ++p)
                for (int i = 0; i < g.partCount[p]; ++i, ++k2) {
                    EXPECT_LT(g.sf[k2], 1 << g.slen[p]);
                }
            if (rate == 16000) {
                EXPECT_LT(g.scalefac_compress, 400);  // no preflag where MPEG-2 cannot express it
                EXPECT_EQ(g.preflag, 0);
            } else {
                EXPECT_LT(g.scalefac_compress, 16);
            }
        }
    }
}

TEST(LoopKernel, ShapedStartMovesBitsUpAndStaysValid) {
    // Loud low lines that mask a lot, quiet upper lines that mask little, few bits: one step
    // for all zeroes much of the top; the shaped start codes more of it.
    auto xr = Noise(1.0f, 576, 3);
    for (int i = 0; i < 576; ++i) xr[static_cast<size_t>(i)] *= i < 36 ? 3000.0f : 60.0f;
    std::vector<float> xm(39, 50.0f);
    for (int b = 0; b < 8; ++b) xm[static_cast<size_t>(b)] = 3e6f;
    auto upperLines = [&](float depth) {
        LoopOptions o;
        o.mol = 2;
        o.compareExcess = true;
        o.shapeDepth = depth;
        LoopKernel k;
        EXPECT_TRUE(k.Create(44100, 1, o));
        k.Prepare(0, 0, 0, xr.data(), xm.data());
        k.Prepare(1, 0, 2, xr.data(), xm.data());
        int budgets[2][2] = {{700, 0}, {700, 0}};
        CodedFrame f;
        k.RunFrame(budgets, 1400, f);
        for (const auto& gr : f.gr) {
            const GranuleInfo& g = gr[0];
            EXPECT_LE(g.part2_3_length, 700);
            for (int p = 0, i = 0; p < 4; ++p)
                for (int n = 0; n < g.partCount[p]; ++n, ++i) EXPECT_LT(g.sf[i], 1 << g.slen[p]);
        }
        int n = 0;
        for (int i = 36; i < 576; ++i) n += f.gr[0][0].ix[i] != 0;
        return n;
    };
    EXPECT_GT(upperLines(0.5f), upperLines(0.0f) + 10);
}

TEST(BitAllocator, NoReservoirAndFlatDemandStayFinite) {
    BitAllocator a;
    a.Init(DefaultLongShape(800, 800), DefaultShortShape(800, 800));  // peMin == peMax
    EXPECT_GT(a.peMax(false), a.peMin(false));
    float pe[2][2] = {{0, 0}, {0, 0}};
    bool sh[2][2] = {};
    bool joint[2] = {};
    int b[2][2];
    // 32000 Hz stereo at 256 kbit/s: nothing free in the reservoir.
    a.Allocate(2, 2, pe, sh, joint, 8000, 8000, 0, 0, b);
    for (auto& r : b)
        for (int v : r) EXPECT_EQ(v, 2000);
    // Long silence then a burst: the window stays ordered and the budgets finite.
    for (int i = 0; i < 500; ++i) a.Allocate(2, 2, pe, sh, joint, 3000, 3000, 100, 4000, b);
    EXPECT_GT(a.peMax(false), a.peMin(false));
    float loud[2][2] = {{1e6f, 1e6f}, {NAN, INFINITY}};
    a.Allocate(2, 2, loud, sh, joint, 3000, 3000, 4000, 4000, b);
    long total = 0;
    for (auto& r : b)
        for (int v : r) {
            EXPECT_GE(v, 0);
            EXPECT_LE(v, 4095);
            total += v;
        }
    EXPECT_LE(total, 3000 + 4000);
}

TEST(BitAllocator, HighDemandDrawsOnTheReservoir) {
    BitAllocator a;
    a.Init(DefaultLongShape(800, 1500), DefaultShortShape(800, 1500));
    bool sh[2][2] = {};
    bool joint[2] = {};
    float low[2][2] = {{100, 100}, {100, 100}};
    float high[2][2] = {{5000, 5000}, {5000, 5000}};
    int bl[2][2], bh[2][2];
    BitAllocator b = a;
    a.Allocate(2, 2, low, sh, joint, 3000, 3000, 2000, 4000, bl);
    b.Allocate(2, 2, high, sh, joint, 3000, 3000, 2000, 4000, bh);
    EXPECT_LT(bl[0][0], 3000 / 4);
    EXPECT_GT(bh[0][0], 3000 / 4);
}
