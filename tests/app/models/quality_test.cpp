#include <gtest/gtest.h>

#include "app/models/quality.h"

namespace tralux::models {
namespace {

QualityChoice Choice(int format, int kbps, int rate, int channels) {
    QualityChoice q;
    q.format = format;
    q.bitIndex = IndexOf(BitRateList(format), kbps);
    q.rateIndex = IndexOf(SampleRateList(), rate);
    q.chanIndex = channels - 1;
    return q;
}

TEST(WmaCombination, WriterTableRows) {
    EXPECT_TRUE(WmaCombinationValid(32, 44100, 1));
    EXPECT_TRUE(WmaCombinationValid(32, 22050, 2));
    EXPECT_TRUE(WmaCombinationValid(160, 44100, 2));
    EXPECT_TRUE(WmaCombinationValid(36, 32000, 2));
    EXPECT_FALSE(WmaCombinationValid(128, 44100, 1));
    EXPECT_FALSE(WmaCombinationValid(36, 32000, 1));
    EXPECT_FALSE(WmaCombinationValid(32, 11025, 2));
}

TEST(WmaCombination, BelowThirtyTwoKbpsIsRefused) {
    // Rows of the codec table that the writer has no mode for.
    EXPECT_FALSE(WmaCombinationValid(5, 8000, 1));
    EXPECT_FALSE(WmaCombinationValid(12, 8000, 2));
    EXPECT_FALSE(WmaCombinationValid(16, 16000, 2));
    EXPECT_FALSE(WmaCombinationValid(22, 32000, 2));
}

TEST(Mp3Combination, FollowsTheEncoderRanges) {
    EXPECT_TRUE(Mp3CombinationValid(128, 44100, 2));
    EXPECT_TRUE(Mp3CombinationValid(256, 44100, 2));
    EXPECT_TRUE(Mp3CombinationValid(64, 44100, 1));
    EXPECT_TRUE(Mp3CombinationValid(8, 8000, 1));
    EXPECT_FALSE(Mp3CombinationValid(256, 44100, 1));  // mono ends at 128 kbit/s
    EXPECT_FALSE(Mp3CombinationValid(16, 22050, 2));   // stereo starts at 20 kbit/s
    EXPECT_FALSE(Mp3CombinationValid(144, 44100, 2));  // not a Layer-3 bit rate
    EXPECT_FALSE(Mp3CombinationValid(176, 44100, 2));
    EXPECT_FALSE(Mp3CombinationValid(128, 44100, 3));
    EXPECT_FALSE(Mp3CombinationValid(0, 44100, 2));
}

TEST(Mp3Combination, ListsAreBuiltOncePerRateAndChannels) {
    Mp3CombinationValid(96, 32000, 2);
    int built = Mp3ConfigurationListsBuilt();
    for (int i = 0; i < 50; ++i) {
        Mp3CombinationValid(BitRateList(kMp3)[i % 18], 32000, 2);
    }
    EXPECT_EQ(Mp3ConfigurationListsBuilt(), built);
    Mp3CombinationValid(96, 16000, 1);
    Mp3CombinationValid(24, 16000, 1);
    EXPECT_LE(Mp3ConfigurationListsBuilt(), built + 1);
}

TEST(WavCombination, AlwaysValid) {
    EXPECT_TRUE(CombinationValid(kWav, 0, 8000, 1));
    EXPECT_FALSE(CombinationValid(7, 128, 44100, 2));
}

TEST(Correction, BitRateTieGoesToTheLaterEntry) {
    QualityChoice q = Choice(kMp3, 144, 44100, 2);
    ASSERT_TRUE(CorrectByBitRate(q));
    EXPECT_EQ(q.Kbps(), 160);  // 128 and 160 are equally near
    EXPECT_EQ(q.Rate(), 44100);
    EXPECT_EQ(q.Channels(), 2);
}

TEST(Correction, ValidCombinationIsLeftAlone) {
    QualityChoice q = Choice(kWma, 64, 32000, 2);
    QualityChoice before = q;
    ASSERT_TRUE(CorrectByBitRate(q));
    ASSERT_TRUE(CorrectBySampleRate(q));
    EXPECT_EQ(q.bitIndex, before.bitIndex);
    EXPECT_EQ(q.rateIndex, before.rateIndex);
}

TEST(Correction, SampleRateSearchesMonoBeforeStereo) {
    QualityChoice q = Choice(kMp3, 8, 44100, 1);
    ASSERT_TRUE(CorrectBySampleRate(q));
    EXPECT_EQ(q.Rate(), 11025);
    EXPECT_EQ(q.Channels(), 1);
    EXPECT_EQ(q.Kbps(), 8);
}

TEST(Correction, FallsBackToStereo) {
    QualityChoice q = Choice(kWma, 36, 44100, 1);
    ASSERT_TRUE(CorrectBySampleRate(q));
    EXPECT_EQ(q.Rate(), 32000);
    EXPECT_EQ(q.Channels(), 2);
}

TEST(Correction, FailureLeavesTheChoice) {
    QualityChoice q = Choice(kWma, 5, 44100, 2);
    QualityChoice before = q;
    EXPECT_FALSE(CorrectBySampleRate(q));
    EXPECT_EQ(q.rateIndex, before.rateIndex);
    EXPECT_EQ(q.chanIndex, before.chanIndex);
}

TEST(Reaction, RateChangeMovesTheBitRate) {
    QualityChoice q = Choice(kMp3, 256, 22050, 2);
    ReactToSampleRate(q);
    EXPECT_EQ(q.Rate(), 22050);
    EXPECT_EQ(q.Kbps(), 80);
    EXPECT_EQ(q.Channels(), 2);
}

TEST(Reaction, BitRateChangeMovesTheRate) {
    QualityChoice q = Choice(kWma, 160, 22050, 2);
    ReactToBitRate(q);
    EXPECT_EQ(q.Kbps(), 160);
    EXPECT_EQ(q.Rate(), 44100);
}

TEST(Reaction, BitRateChangeSwitchesChannelsWhenNeeded) {
    // 8 kBps has no stereo MP3 rate: the channels switch to mono.
    QualityChoice q = Choice(kMp3, 8, 44100, 2);
    ReactToBitRate(q);
    EXPECT_TRUE(q.Valid());
    EXPECT_EQ(q.Channels(), 1);
    EXPECT_EQ(q.Kbps(), 8);
}

TEST(Reaction, ChannelsToMonoKeepsTheRate) {
    QualityChoice q = Choice(kMp3, 256, 44100, 1);
    ReactToChannels(q);
    EXPECT_EQ(q.Rate(), 44100);
    EXPECT_EQ(q.Channels(), 1);
    EXPECT_EQ(q.Kbps(), 128);
}

TEST(Reaction, ChannelsEndsEvenWhenTheFixedBitRateIsRefused) {
    // Stereo at 11025 Hz has no WMA mode, and the fixed stereo fallback (12 kBps) is refused
    // by the writer: the reaction must still end on a valid combination.
    QualityChoice q = Choice(kWma, 10, 11025, 2);
    ReactToChannels(q);
    EXPECT_TRUE(q.Valid());
    EXPECT_EQ(q.Channels(), 2);
}

TEST(Reaction, WavIsNeverTouched) {
    QualityChoice q;
    q.format = kWav;
    q.rateIndex = 2;
    q.chanIndex = 0;
    ReactToChannels(q);
    ReactToBitRate(q);
    ReactToSampleRate(q);
    EXPECT_EQ(q.rateIndex, 2);
    EXPECT_EQ(q.chanIndex, 0);
}

TEST(ClampIndex, UnsetAndStaleSelectTheFirst) {
    EXPECT_EQ(ClampIndex(-1, 6), 0);
    EXPECT_EQ(ClampIndex(6, 6), 0);
    EXPECT_EQ(ClampIndex(5, 6), 5);
    EXPECT_EQ(ClampIndex(0, 0), 0);
}

}  // namespace
}  // namespace tralux::models
