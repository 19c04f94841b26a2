#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dsp_test_util.h"
#include "engine/dsp/analysis.h"

namespace {

using namespace tralux::dsp;

struct Fixture {
    Analyser analyser;
    AnalysisTables tables;
    std::atomic<double> position{0.0};
};

TEST(Analysis, FileModeAdvancesPositionByEmittedDurationExactly) {
    Fixture f;
    std::vector<std::int16_t> block(88200);
    f.analyser.AnalyseBlock(block.data(), 176400, 2, 44100, false, f.position, f.tables);
    EXPECT_EQ(f.position.load(), 1000.0);
    // The same second in converter-sized pieces still adds up exactly.
    f.position = 250.0;
    std::size_t left = 176400;
    while (left) {
        const std::size_t n = std::min<std::size_t>(left, 4096 + 4 * 1024);
        f.analyser.AnalyseBlock(block.data(), n, 2, 44100, false, f.position, f.tables);
        left -= n;
    }
    EXPECT_EQ(f.position.load(), 1250.0);
    EXPECT_EQ(f.tables.AnalysisIndex.load(), 0);  // nothing analysed while converting
    f.analyser.AnalyseBlock(block.data(), 0, 2, 44100, false, f.position, f.tables);
    EXPECT_EQ(f.position.load(), 1250.0);
}

TEST(Analysis, PreviewAt44100AnalysesEverySecondFrame) {
    Fixture f;
    const auto tone = dsptest::Interleave(dsptest::Sine(1000, 44100, 2048 * 6),
                                          dsptest::Sine(1000, 44100, 2048 * 6));
    // Blocks of 8192 bytes: one 2048-sample stereo frame each.
    for (int b = 0; b < 6; ++b)
        f.analyser.AnalyseBlock(tone.data() + b * 4096, 8192, 2, 44100, true, f.position, f.tables);
    EXPECT_EQ(f.tables.AnalysisIndex.load(), 3);
    EXPECT_EQ(f.tables.AnalysisTime[0].load(), 0);
    EXPECT_EQ(f.tables.AnalysisTime[1].load(),
              static_cast<std::int64_t>(2 * 2048 * 1000.0 / 44100));
    EXPECT_DOUBLE_EQ(f.position.load(), 6 * 2048 * 1000.0 / 44100);
    // Full-scale sine: rms 32767 / sqrt(2), times 1.5 / 32768.
    EXPECT_NEAR(f.tables.AnalysisLevel[0].load(), 1.5 / std::sqrt(2.0), 1e-3);
    // 1 kHz sits in band 6 (750-1500 Hz), the loudest band.
    double loudest = -1e9;
    int which = -1;
    for (int b = 0; b < 10; ++b)
        if (f.tables.AnalysisBand[static_cast<std::size_t>(b)][0].load() > loudest) {
            loudest = f.tables.AnalysisBand[static_cast<std::size_t>(b)][0].load();
            which = b;
        }
    EXPECT_EQ(which, 5);
}

TEST(Analysis, OtherRatesAnalyseEveryFrameAndShortBlocksOnlyMove) {
    Fixture f;
    std::vector<std::int16_t> s(4096);
    f.analyser.AnalyseBlock(s.data(), 2 * 1024 * 2 + 100, 1, 22050, true, f.position,
                            f.tables);  // order 10
    EXPECT_EQ(f.tables.AnalysisIndex.load(), 2);
    f.analyser.AnalyseBlock(s.data(), 1000, 1, 22050, true, f.position, f.tables);
    EXPECT_EQ(f.tables.AnalysisIndex.load(), 2);
    EXPECT_DOUBLE_EQ(f.position.load(), (4096 + 100 + 1000) / 2.0 / 22050 * 1000.0);
    EXPECT_EQ(AnalysisOrder(8000), 9);
    EXPECT_EQ(AnalysisOrder(11025), 9);
    EXPECT_EQ(AnalysisOrder(32000), 10);
    EXPECT_EQ(AnalysisOrder(48000), 11);
}

TEST(Analysis, FramesSpanDecoderSizedBlocks) {
    // 1152-sample stereo blocks at 44100 Hz are shorter than one 2048-sample frame.
    Fixture f;
    const auto tone = dsptest::Interleave(dsptest::Sine(440, 44100, 1152 * 16),
                                          dsptest::Sine(440, 44100, 1152 * 16));
    for (int b = 0; b < 16; ++b)
        f.analyser.AnalyseBlock(tone.data() + b * 2304, 4608, 2, 44100, true, f.position, f.tables);
    // 18432 samples: 9 whole frames, of which 1, 3, 5, 7 and 9 are analysed.
    EXPECT_EQ(f.tables.AnalysisIndex.load(), 5);
    EXPECT_EQ(f.tables.AnalysisTime[1].load(),
              static_cast<std::int64_t>(2 * 2048 * 1000.0 / 44100));
    EXPECT_EQ(f.tables.AnalysisTime[4].load(),
              static_cast<std::int64_t>(8 * 2048 * 1000.0 / 44100));
    EXPECT_NEAR(f.tables.AnalysisLevel[4].load(), 1.5 / std::sqrt(2.0), 2e-3);
    EXPECT_DOUBLE_EQ(f.position.load(), 16 * 1152 * 1000.0 / 44100);
}

TEST(Analysis, IndexWrapsAndResetClears) {
    Fixture f;
    std::vector<std::int16_t> s(512 * 1030, 100);
    f.analyser.AnalyseBlock(s.data(), s.size() * 2, 1, 8000, true, f.position, f.tables);
    EXPECT_EQ(f.tables.AnalysisIndex.load(), 1030 - 1024);
    f.analyser.Reset(f.tables);
    EXPECT_EQ(f.tables.AnalysisIndex.load(), 0);
    EXPECT_EQ(f.tables.AnalysisLevel[5].load(), 0.0);
    EXPECT_EQ(f.tables.AnalysisTime[5].load(), 0);
}

TEST(Analysis, SilentBandsStoreTheOneLsbFloor) {
    Fixture f;
    std::vector<std::int16_t> silence(2 * 2048);
    f.analyser.AnalyseBlock(silence.data(), silence.size() * 2, 2, 48000, true, f.position,
                            f.tables);
    ASSERT_EQ(f.tables.AnalysisIndex.load(), 1);
    const double kWeight[] = {1, 1, 1, 1, 1, 1, 2, 4, 8, 16};
    for (std::size_t b = 0; b < 10; ++b) {
        const double v = f.tables.AnalysisBand[b][0].load();
        ASSERT_TRUE(std::isfinite(v)) << b;
        // Every band has bins at 48000 / 2048 Hz spacing, so each takes the floor.
        EXPECT_DOUBLE_EQ(v, BandMagnitudeFloor() * kWeight[b]) << b;
    }
    EXPECT_NEAR(BandMagnitudeFloor(), std::log(1.0 / 32768.0) / 4.0, 1e-15);
}

TEST(Analysis, BandMagnitudeFormula) {
    // N = 8 at 8000 Hz: bins 1000 Hz wide; bin 1 covers 1000-1999.
    std::int32_t spectrum[2 * 5] = {0, 0, 3000, 4000, 0, 0, 0, 0, 0, 0};
    // weight (4 - 1) / 4; magnitude 5000
    EXPECT_DOUBLE_EQ(BandMagnitude(8, spectrum, 1000, 2000, 8000),
                     std::log(5000 * 0.75 / 32768.0) / 4.0);
    EXPECT_EQ(BandMagnitude(8, spectrum, 1000, 1500, 8000), 0.0);  // no whole bin inside
    EXPECT_DOUBLE_EQ(BandMagnitude(8, spectrum, 1000, 3000, 8000),
                     std::log(5000 * 0.75 / 2 / 32768.0) / 4.0);
}

}  // namespace
