#include "settings_fixture.h"

#include "engine/outputs/wma_output.h"

namespace tralux::settings {
namespace {

using tralux::IsWmaCombinationAccepted;

using testing::SettingsTest;

TEST(QualityLists, LookupsAreBoundsChecked) {
    EXPECT_EQ(SampleRateAt(0), 8000);
    EXPECT_EQ(SampleRateAt(5), 44100);
    EXPECT_EQ(SampleRateAt(6), std::nullopt);
    EXPECT_EQ(SampleRateAt(-1), std::nullopt);
    EXPECT_EQ(Mp3BitRateAt(11), 128);
    EXPECT_EQ(Mp3BitRateAt(17), 256);
    EXPECT_EQ(Mp3BitRateAt(18), 320);
    EXPECT_EQ(Mp3BitRateAt(19), std::nullopt);
    EXPECT_EQ(WmaBitRateAt(5), 16);
    EXPECT_EQ(WmaBitRateAt(17), 160);
    EXPECT_EQ(WmaBitRateAt(18), std::nullopt);
}

struct AutoCase {
    int rate, channels, outRate, kbps;
};

class BatchOutputTest : public SettingsTest {
protected:
    void SetUp() override {
        SettingsTest::SetUp();
        EnsureOptionDefaults();  // automatic quality
    }
    void ExpectAuto(int format, const char* bitRateKey, const AutoCase& c) {
        WriteOption("BOutFormat", format);
        const auto out = ResolveBatchOutput(c.rate, c.channels);
        ASSERT_TRUE(out.has_value()) << c.rate;
        EXPECT_EQ(out->format, format);
        EXPECT_EQ(out->rate, c.outRate) << c.rate << "/" << c.channels;
        EXPECT_EQ(out->channels, c.channels);
        EXPECT_EQ(ReadOption(bitRateKey), c.kbps) << c.rate << "/" << c.channels;
    }
};

TEST_F(BatchOutputTest, AutomaticWavKeepsInput) {
    WriteOption("BOutFormat", kFormatWav);
    const auto out = ResolveBatchOutput(48000, 1);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->rate, 48000);
    EXPECT_EQ(out->channels, 1);
    EXPECT_EQ(ReadOption("MP3BitRate"), -1);
}

// FLAC and Opus: automatic keeps the input with the stored level or bit rate; custom takes the
// lists, and a stale index writes nothing.
TEST_F(BatchOutputTest, FlacAndOpusKeepTheInputOrTakeTheirLists) {
    WriteOption("BOutFormat", kFormatFlac);
    auto out = ResolveBatchOutput(96000, 2);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->rate, 96000);
    EXPECT_EQ(ReadOption("FLACLevel"), -1);  // the job's default, 5
    WriteOption("BAQ", 1);
    WriteOption("BQ_RATEOPUS", 5);
    WriteOption("BQ_CHANOPUS", 0);
    WriteOption("BQ_BRATEOPUS", 3);
    WriteOption("BOutFormat", kFormatOpus);
    out = ResolveBatchOutput(96000, 2);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->rate, 44100);
    EXPECT_EQ(out->channels, 1);
    EXPECT_EQ(ReadOption("OpusBitRate"), 96);
    WriteOption("BQ_BRATEOPUS", 9);
    EXPECT_FALSE(ResolveBatchOutput(96000, 2));
}

TEST_F(BatchOutputTest, AutomaticMp3TableRowsAndBoundaries) {
    // The single conversion's variable rate never leaks into a batch, whose lists show bit rates.
    WriteOption("MP3Vbr", 2);
    for (const AutoCase& c :
         {AutoCase{44100, 2, 44100, 128}, AutoCase{8000, 1, 11025, 16},
          AutoCase{8000, 2, 11025, 20}, AutoCase{8001, 1, 16000, 24}, AutoCase{16000, 2, 16000, 40},
          AutoCase{16001, 2, 22050, 64}, AutoCase{22050, 1, 22050, 32},
          AutoCase{22051, 1, 32000, 48}, AutoCase{32000, 2, 32000, 96},
          AutoCase{32001, 1, 44100, 64}, AutoCase{96000, 2, 44100, 128}})
        ExpectAuto(kFormatMp3, "MP3BitRate", c);
    EXPECT_EQ(ReadOption("MP3Vbr"), -1);
}

TEST_F(BatchOutputTest, AutomaticWmaTableRowsAndBoundaries) {
    for (const AutoCase& c :
         {AutoCase{8000, 1, 32000, 32}, AutoCase{8000, 2, 22050, 32}, AutoCase{16000, 2, 22050, 32},
          AutoCase{22050, 1, 32000, 32}, AutoCase{22050, 2, 22050, 32},
          AutoCase{22051, 1, 32000, 32}, AutoCase{32000, 2, 32000, 64},
          AutoCase{32001, 1, 44100, 32}, AutoCase{44100, 2, 44100, 80}})
        ExpectAuto(kFormatWma, "MSABitRate", c);
}

TEST_F(BatchOutputTest, AutomaticWmaChoicesAreAllTakenByTheWriter) {
    WriteOption("BOutFormat", kFormatWma);
    for (int rate : {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 96000}) {
        for (int channels : {1, 2}) {
            const auto out = ResolveBatchOutput(rate, channels);
            ASSERT_TRUE(out.has_value()) << rate;
            const int kbps = ReadOption("MSABitRate");
            EXPECT_TRUE(IsWmaCombinationAccepted(kbps, static_cast<std::uint32_t>(out->rate),
                                                 out->channels))
                << rate << " Hz, " << channels << " ch -> " << out->rate << " Hz " << kbps
                << " kBps";
        }
    }
}

TEST_F(BatchOutputTest, UnknownFormatChangesNothing) {
    for (int format : {5, -7}) {
        for (int baq : {0, 1}) {
            WriteOption("BAQ", baq);
            WriteOption("BOutFormat", format);
            EXPECT_FALSE(ResolveBatchOutput(44100, 2));
        }
    }
    WriteOptionText("BOutFormat", "");  // unset
    EXPECT_FALSE(ResolveBatchOutput(44100, 2));
    EXPECT_EQ(ReadOption("MP3BitRate"), -1);
    EXPECT_EQ(ReadOption("MSABitRate"), -1);
}

TEST_F(BatchOutputTest, CustomUsesStoredIndices) {
    WriteOption("BAQ", 1);
    WriteOption("BOutFormat", kFormatMp3);
    WriteOption("BQ_RATEMP3", 3);
    WriteOption("BQ_CHANMP3", 0);
    WriteOption("BQ_BRATEMP3", 17);
    auto out = ResolveBatchOutput(44100, 2);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->rate, 22050);
    EXPECT_EQ(out->channels, 1);
    EXPECT_EQ(ReadOption("MP3BitRate"), 256);
    // The batch's bit rate holds for the run only: single conversions keep their own.
    EXPECT_EQ(ReadProfileNumber("Options", "MP3BitRate"), -1);
    ClearOptionOverrides();
    EXPECT_EQ(ReadOption("MP3BitRate"), -1);

    WriteOption("BOutFormat", kFormatWma);
    WriteOption("BQ_RATEWMA", 5);
    WriteOption("BQ_CHANWMA", 1);
    out = ResolveBatchOutput(8000, 1);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->format, kFormatWma);
    EXPECT_EQ(out->rate, 44100);
    EXPECT_EQ(out->channels, 2);
    EXPECT_EQ(ReadOption("MSABitRate"), 16);  // first-run index 5

    WriteOption("BOutFormat", kFormatWav);
    WriteOption("BQ_RATEWAV", 0);
    WriteOption("BQ_CHANWAV", 1);
    out = ResolveBatchOutput(44100, 1);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->rate, 8000);
    EXPECT_EQ(out->channels, 2);
}

TEST_F(BatchOutputTest, CustomWithBadIndexRunsNothingAndWritesNothing) {
    WriteOption("BAQ", 1);
    // WAV choices have no first-run value: unset must not be used.
    WriteOption("BOutFormat", kFormatWav);
    EXPECT_FALSE(ResolveBatchOutput(44100, 2));
    WriteOption("BQ_RATEWAV", 2);
    EXPECT_FALSE(ResolveBatchOutput(44100, 2));  // channels still unset
    WriteOption("BQ_CHANWAV", 1);
    EXPECT_TRUE(ResolveBatchOutput(44100, 2));

    WriteOption("BOutFormat", kFormatMp3);
    WriteOption("MP3BitRate", 999);
    for (const auto& [key, value] : {std::pair{"BQ_RATEMP3", 6}, std::pair{"BQ_CHANMP3", 2},
                                     std::pair{"BQ_BRATEMP3", 18}, std::pair{"BQ_BRATEMP3", -1}}) {
        EnsureOptionDefaults();  // every other index valid again
        WriteOption(key, value);
        EXPECT_FALSE(ResolveBatchOutput(44100, 2)) << key << "=" << value;
        EXPECT_EQ(ReadOption("MP3BitRate"), 999) << key << "=" << value;
    }
    EnsureOptionDefaults();
    WriteOptionText("BQ_BRATEMP3", "abc");  // unparsable reads as unset
    EXPECT_FALSE(ResolveBatchOutput(44100, 2));

    WriteOption("BOutFormat", kFormatWma);
    EnsureOptionDefaults();
    WriteOption("BQ_BRATEWMA", 18);
    EXPECT_FALSE(ResolveBatchOutput(44100, 2));
    EXPECT_EQ(ReadOption("MSABitRate"), -1);
}

}  // namespace
}  // namespace tralux::settings
