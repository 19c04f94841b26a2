#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp3enc/bitstream/frame.h"
#include "mp3enc/engine/direct_engine.h"

using namespace mp3enc;

namespace {

DirectEngineConfig Config(int rate, int ch, int br) {
    DirectEngineConfig c;
    c.outputRate = rate;
    c.bitRate = br;
    c.inputChannels = ch;
    c.outputChannels = ch;
    return c;
}

}  // namespace

TEST(DirectEngine, BandwidthRules) {
    // Stereo 44100 Hz at 128 kbit/s (the encoded spectrum is measured in the MP3 output tests).
    const int h = 32 + 256;
    float bw = DirectEngineBandwidth(128000, 2, 44100, 0, 0, h);
    EXPECT_GT(bw, 16500.0f);
    EXPECT_LT(bw, 17500.0f);
    // 160 and 192 kbit/s stereo stop at 18 kHz, the rates around them keep the formula.
    EXPECT_FLOAT_EQ(DirectEngineBandwidth(160000, 2, 44100, 0, 0, h), 18000.0f);
    EXPECT_FLOAT_EQ(DirectEngineBandwidth(192000, 2, 48000, 0, 0, h), 18000.0f);
    EXPECT_FLOAT_EQ(DirectEngineBandwidth(224000, 2, 44100, 0, 0, h), 22050.0f);
    EXPECT_FLOAT_EQ(DirectEngineBandwidth(192000, 1, 44100, 0, 0, 32 + 136), 22050.0f);
    EXPECT_FLOAT_EQ(DirectEngineBandwidth(64000, 1, 44100, 0, 0, 32 + 136), 13458.0f);
    EXPECT_FLOAT_EQ(DirectEngineBandwidth(24000, 2, 22050, 0, 0, 32 + 136), 4300.0f);
    EXPECT_NEAR(DirectEngineBandwidth(0, 2, 44100, 1, 80, h), 16758.0f, 0.5f);
    EXPECT_NEAR(DirectEngineBandwidth(0, 2, 44100, 1, 50, h), 14112.0f, 0.5f);
    // Never above half the rate.
    EXPECT_FLOAT_EQ(DirectEngineBandwidth(128000, 1, 16000, 0, 0, 32 + 72), 8000.0f);
}

TEST(DirectEngine, CreationChecks) {
    std::unique_ptr<DirectEngine> e;
    EXPECT_EQ(CreateDirectEngine(&e, Config(44100, 2, 128000)), 0);
    ASSERT_TRUE(e);
    DirectEngineInfo info;
    GetDirectEngineInfo(e.get(), &info);
    EXPECT_GT(info.minOutputSpace, 418);
    EXPECT_GT(info.delay, 0);
    EXPECT_EQ(info.framePeriod, 1);
    DirectEngineConfig bad = Config(44100, 1, 128000);
    bad.outputChannels = 2;  // more output channels than input
    EXPECT_EQ(CreateDirectEngine(&e, bad), 1);
    EXPECT_FALSE(e);
    EXPECT_EQ(CreateDirectEngine(&e, Config(44000, 2, 128000)), 1);  // not an ISO rate
    EXPECT_EQ(CreateDirectEngine(&e, Config(44100, 2, 24000)), 1);   // MPEG-1 cannot code it
    EXPECT_EQ(CreateDirectEngine(&e, Config(11025, 2, 80000)), 1);   // MPEG-2.5 ends at 64k
    EXPECT_EQ(CreateDirectEngine(&e, Config(22050, 1, 4000)), 1);
    EXPECT_EQ(CreateDirectEngine(&e, Config(22050, 1, 20000)), 0);  // non-ISO: alternating indexes
    GetDirectEngineInfo(e.get(), &info);
    EXPECT_EQ(info.framePeriod, 1);  // ISO padding governs at 22050 Hz
    EXPECT_EQ(CreateDirectEngine(&e, Config(16000, 2, 20000)), 0);
    GetDirectEngineInfo(e.get(), &info);
    EXPECT_EQ(info.framePeriod, 2);
    EXPECT_EQ(info.bytesPerPeriod, 72 + 108);
}

TEST(DirectEngine, EncodeCallChecks) {
    std::unique_ptr<DirectEngine> mono, stereo;
    ASSERT_EQ(CreateDirectEngine(&mono, Config(44100, 1, 64000)), 0);
    ASSERT_EQ(CreateDirectEngine(&stereo, Config(44100, 2, 128000)), 0);
    std::vector<float> pcm(2000, 0.0f);
    std::vector<uint8_t> out(20000);
    int w = 0;
    EXPECT_EQ(DirectEngineEncode(mono.get(), pcm.data(), 577, out.data(), 20000, &w),
              kDirectBadCount);
    EXPECT_EQ(DirectEngineEncode(stereo.get(), pcm.data(), 575, out.data(), 20000, &w),
              kDirectBadCount);
    DirectEngineInfo info;
    GetDirectEngineInfo(stereo.get(), &info);
    EXPECT_EQ(
        DirectEngineEncode(stereo.get(), pcm.data(), 1152, out.data(), info.minOutputSpace - 1, &w),
        kDirectSmallOutput);
    EXPECT_EQ(
        DirectEngineEncode(stereo.get(), pcm.data(), 1152, out.data(), info.minOutputSpace, &w),
        kDirectOk);
}

// The flush emits the delay, completes the bit-rate cycle and ends on whole frames.
TEST(DirectEngine, FlushEndsOnWholeFramesAtNonIsoRates) {
    struct Case {
        int rate, ch, br;
    } cases[] = {{22050, 1, 20000}, {11025, 2, 20000}, {16000, 2, 20000}, {44100, 2, 128000}};
    for (const Case& c : cases) {
        std::unique_ptr<DirectEngine> e;
        ASSERT_EQ(CreateDirectEngine(&e, Config(c.rate, c.ch, c.br)), 0);
        std::vector<float> pcm(static_cast<size_t>(576 * c.ch));
        std::vector<uint8_t> out(20000), all;
        int w = 0;
        for (int g = 0; g < 37; ++g) {
            for (size_t i = 0; i < pcm.size(); ++i)
                pcm[i] = 5000.0f * std::sin(0.05f * (g * 576 + i / c.ch));
            int count = g == 36 ? 100 * c.ch : 576 * c.ch;  // a short last call
            ASSERT_EQ(DirectEngineEncode(e.get(), pcm.data(), count, out.data(), 20000, &w),
                      kDirectOk);
            all.insert(all.end(), out.begin(), out.begin() + w);
        }
        int calls = 0;
        do {
            ASSERT_EQ(DirectEngineEncode(e.get(), nullptr, 0, out.data(), 20000, &w), kDirectOk);
            all.insert(all.end(), out.begin(), out.begin() + w);
            ++calls;
        } while (w > 0 && calls < 1000);
        EXPECT_LT(calls, 1000);
        const int v = VersionOfRate(c.rate);
        const int spf = v == 0 ? 1152 : 576;
        size_t off = 0;
        int frames = 0;
        while (off + 4 <= all.size()) {
            ASSERT_EQ(all[off], 0xFF);
            int index = all[off + 2] >> 4, pad = (all[off + 2] >> 1) & 1;
            ASSERT_GT(index, 0);
            ASSERT_LT(index, 15);
            off += static_cast<size_t>(spf / 8 * BitRateTable(v)[index] / c.rate + pad);
            ++frames;
        }
        EXPECT_EQ(off, all.size()) << c.rate << " " << c.ch << " " << c.br;
        DirectEngineInfo info;
        GetDirectEngineInfo(e.get(), &info);
        EXPECT_GE(static_cast<long>(frames) * spf, 36L * 576 + 100 + info.delay);
    }
}
