#include <gtest/gtest.h>

#include <algorithm>

#include "app/models/conversion_settings.h"
#include "app/settings/settings_fixture.h"
#include "engine/outputs/mp3_rates.h"

namespace tralux::models {
namespace {

using settings::ReadOption;
using settings::ReadOptionText;
using settings::WriteOption;
using settings::WriteOptionText;

class ConversionModelTest : public settings::testing::SettingsTest {
protected:
    ConversionInputs Inputs(int format = kWav, int rate = 44100, int channels = 2) {
        ConversionInputs in;
        in.outputFormat = format;
        in.outputRate = rate;
        in.outputChannels = channels;
        in.keepInputQuality = true;
        in.qualityDescription = "44100 Hz, 立體聲";
        in.positionMs = 5000;
        in.title = "歌名";
        in.artist = "歌手";
        in.copyright = "(C) 2026";
        return in;
    }
    ConversionSettingsModel m;
};

TEST_F(ConversionModelTest, OpeningWritesUnsetBitRatesAndTakesStoredSwitches) {
    WriteOption("PlaceClipInfo", 0);
    WriteOption("Jitter", 1);
    WriteOption("DecodeStart", 1);
    WriteOptionText("BOut", "/tmp/out/");
    m.Open(Inputs());
    EXPECT_EQ(ReadOption("MP3BitRate"), 128);
    EXPECT_EQ(ReadOption("MSABitRate"), 64);
    EXPECT_FALSE(m.SongInfo());
    EXPECT_TRUE(m.Jitter());
    EXPECT_EQ(m.DecodeStart(), 1);
    EXPECT_EQ(m.Destination(), "/tmp/out/");
    EXPECT_EQ(m.OriginalQualityLabel(), "原始品質           (44100 Hz, 立體聲)");
    EXPECT_EQ(m.Quality().Rate(), 44100);
    EXPECT_EQ(m.QualityMode(), 0);
}

TEST_F(ConversionModelTest, UnsetSwitchesTakeTheirDefaults) {
    m.Open(Inputs());
    EXPECT_TRUE(m.SongInfo());
    EXPECT_FALSE(m.Jitter());
    EXPECT_FALSE(m.Normalize());
    EXPECT_EQ(m.DecodeStart(), 0);
}

TEST_F(ConversionModelTest, StoredBitRatesAreSelected) {
    WriteOption("MP3BitRate", 96);
    m.Open(Inputs(kMp3));
    EXPECT_EQ(m.Quality().Kbps(), 96);
    WriteOption("MP3BitRate", 100);  // not in the list: the first entry
    m.Open(Inputs(kMp3, 8000, 1));
    EXPECT_EQ(m.Quality().Kbps(), 8);
}

TEST_F(ConversionModelTest, EmptyDestinationTakesTheDefaultOutputFolder) {
    std::filesystem::create_directories(home_ / "Music");
    m.Open(Inputs());
    EXPECT_FALSE(m.Destination().empty());
    EXPECT_NE(m.Destination(), "C:\\");
    EXPECT_EQ(m.Destination(), ReadOptionText("BOut"));
    EXPECT_TRUE(std::filesystem::is_directory(m.Destination()));
}

TEST_F(ConversionModelTest, ChannelsAreClampedToMonoOrStereo) {
    m.Open(Inputs(kWav, 44100, 6));
    EXPECT_EQ(m.Quality().Channels(), 2);
    m.Open(Inputs(kWav, 44100, 0));
    EXPECT_EQ(m.Quality().Channels(), 1);
}

TEST_F(ConversionModelTest, UnknownFormatIsWavAndUnlistedRatesShowTheNearest) {
    m.Open(Inputs(9, 12345, 2));
    EXPECT_EQ(m.Format(), kWav);
    EXPECT_EQ(m.Quality().Rate(), 11025);
    m.Open(Inputs(kMp3, 48000, 2));
    EXPECT_EQ(m.Quality().Rate(), 44100);
    EXPECT_EQ(m.Quality().Kbps(), 128);
}

TEST_F(ConversionModelTest, WmaOffersOnlyRatesTheWriterTakesAndOpensAtTheNearest) {
    for (int input : {48000, 96000}) {
        m.Open(Inputs(kWma, input, 2));
        EXPECT_EQ(m.Quality().Rate(), 44100) << input;  // as the command line converts it
        EXPECT_EQ(m.Quality().Kbps(), 64);
        EXPECT_TRUE(m.Quality().Valid());
    }
    const std::vector<std::string> wmaRates{"22050 Hz", "32000 Hz", "44100 Hz"};
    EXPECT_EQ(m.RateItems(), wmaRates);
    EXPECT_EQ(m.RateItems()[static_cast<std::size_t>(m.RateItem())], "44100 Hz");
    // Every shown rate, chosen, ends on a combination the writer accepts, shown as chosen.
    for (int item = 0; item < static_cast<int>(wmaRates.size()); ++item) {
        m.SetRateItem(item);
        EXPECT_TRUE(m.Quality().Valid()) << item;
        EXPECT_EQ(m.RateItem(), item);
        ASSERT_GE(m.BitRateItem(), 0);
    }
    m.SetFormat(kMp3);
    EXPECT_EQ(m.RateItems().size(), SampleRateList().size());
}

TEST_F(ConversionModelTest, PositionLabelShowsHours) {
    auto in = Inputs();
    in.positionMs = 3725000;
    m.Open(in);
    EXPECT_EQ(m.FromPositionLabel(), "從目前位置            (1:02:05)");
    in.positionMs = 65400;
    m.Open(in);
    EXPECT_EQ(m.FromPositionLabel(), "從目前位置            (01:05)");
    EXPECT_EQ(FormatPosition(3599999), "59:59");
    EXPECT_EQ(FormatPosition(36000000), "10:00:00");
}

TEST_F(ConversionModelTest, PositionZeroDisablesDecodingFromIt) {
    WriteOption("DecodeStart", 1);
    auto in = Inputs();
    in.positionMs = 0;
    m.Open(in);
    EXPECT_FALSE(m.FromPositionEnabled());
    EXPECT_EQ(m.DecodeStart(), 0);
    m.SetDecodeStart(1);
    EXPECT_EQ(m.DecodeStart(), 0);
}

TEST_F(ConversionModelTest, EnablingRulesPerFormat) {
    m.Open(Inputs());
    EXPECT_TRUE(m.OriginalQualityEnabled());
    EXPECT_FALSE(m.BitRateEnabled());
    EXPECT_FALSE(m.RateAndChannelsEnabled());
    m.SetQualityMode(1);
    EXPECT_TRUE(m.RateAndChannelsEnabled());
    m.SetQualityMode(0);
    m.SetFormat(kMp3);
    EXPECT_EQ(m.QualityMode(), 1);  // MP3 always converts
    EXPECT_FALSE(m.OriginalQualityEnabled());
    EXPECT_TRUE(m.BitRateEnabled());
    EXPECT_TRUE(m.RateAndChannelsEnabled());
    m.SetSongInfo(false);
    EXPECT_FALSE(m.TagEditsEnabled());
    m.SetFormat(kWav);
    EXPECT_TRUE(m.OriginalQualityEnabled());
    EXPECT_FALSE(m.BitRateEnabled());
}

TEST_F(ConversionModelTest, WavKeepsThePreviousBitRateItems) {
    m.Open(Inputs());
    EXPECT_TRUE(m.BitRateItems().empty());
    m.SetFormat(kWma);
    const auto wma = m.BitRateItems();
    m.SetFormat(kWav);
    EXPECT_EQ(m.BitRateItems(), wma);
    EXPECT_FALSE(wma.empty());
    EXPECT_EQ(m.BitRateItem(), -1);
    EXPECT_EQ(m.RateItems().back(), "44100 Hz");
}

TEST_F(ConversionModelTest, TheBitRateListHoldsWhatTheEncoderListsForTheRateAndChannels) {
    m.Open(Inputs(kWav, 44100, 1));
    m.SetFormat(kMp3);
    for (auto [rate, channels] :
         {std::pair{44100, 1}, std::pair{22050, 2}, std::pair{44100, 2}, std::pair{8000, 1}}) {
        m.SetRateIndex(IndexOf(SampleRateList(), rate));
        m.SetChannelIndex(channels - 1);
        ASSERT_EQ(m.Quality().Rate(), rate);
        ASSERT_EQ(m.Quality().Channels(), channels);
        // The same list as the command line's: what the encoder itself lists.
        std::vector<std::string> expected;
        for (int kbps : Mp3BitRatesKbps(static_cast<std::uint32_t>(rate), channels))
            expected.push_back(BitRateText(kbps));
        const std::size_t constant = expected.size();
        if (rate >= 16000)
            for (int level = 0; level <= 9; ++level)
                expected.push_back("VBR 品質 " + std::to_string(level) +
                                   (level == 0   ? " (最佳)"
                                    : level == 9 ? " (最小)"
                                                 : ""));
        EXPECT_EQ(m.BitRateItems(), expected) << rate << "/" << channels;
        const auto items = m.BitRateItems();
        ASSERT_GE(m.BitRateItem(), 0);
        EXPECT_EQ(items[static_cast<std::size_t>(m.BitRateItem())],
                  BitRateText(m.Quality().Kbps()));
        // Choosing the last bit rate chooses exactly that, at the shown rate and channels.
        m.SetBitRateItem(static_cast<int>(constant) - 1);
        EXPECT_EQ(BitRateText(m.Quality().Kbps()), items[constant - 1]);
        EXPECT_EQ(m.Quality().Rate(), rate);
        EXPECT_TRUE(m.Quality().Valid());
    }
    m.SetRateIndex(IndexOf(SampleRateList(), 44100));
    m.SetChannelIndex(1);
    const auto stereo = m.BitRateItems();
    EXPECT_NE(std::find(stereo.begin(), stereo.end(), "320 kBps"), stereo.end());
    EXPECT_EQ(std::find(stereo.begin(), stereo.end(), "176 kBps"), stereo.end());
}

TEST_F(ConversionModelTest, TheVariableRateChoiceIsStoredAndNeverKeptWhereItCannotBeMade) {
    WriteOption("MP3Vbr", 4);
    m.Open(Inputs(kMp3, 44100, 2));
    const int constant = static_cast<int>(Mp3BitRatesKbps(44100, 2).size());
    EXPECT_EQ(m.BitRateItem(), constant + 4);
    m.SetBitRateItem(constant + 2);
    ConversionOutputs out;
    std::string refusal;
    ASSERT_TRUE(m.Accept(out, refusal));
    EXPECT_EQ(ReadOption("MP3Vbr"), 2);
    // Below 16000 Hz the levels leave the list and the shown bit rate is what is stored.
    m.SetRateIndex(IndexOf(SampleRateList(), 11025));
    EXPECT_EQ(m.VbrLevel(), -1);
    EXPECT_EQ(m.BitRateItems()[static_cast<std::size_t>(m.BitRateItem())],
              BitRateText(m.Quality().Kbps()));
    ASSERT_TRUE(m.Accept(out, refusal));
    EXPECT_EQ(ReadOption("MP3Vbr"), -1);
    EXPECT_EQ(ReadOption("MP3BitRate"), m.Quality().Kbps());
}

TEST_F(ConversionModelTest, ChoosingWmaMovesMonoAt128ToAValidCombination) {
    WriteOption("MSABitRate", 128);
    m.Open(Inputs(kWav, 44100, 1));
    m.SetQualityMode(1);
    m.SetFormat(kWma);
    EXPECT_TRUE(m.Quality().Valid());
    EXPECT_EQ(m.Quality().Rate(), 44100);
    EXPECT_EQ(m.Quality().Channels(), 1);
    EXPECT_EQ(m.Quality().Kbps(), 32);
    ConversionOutputs out;
    std::string refusal;
    EXPECT_TRUE(m.Accept(out, refusal));
    EXPECT_EQ(ReadOption("MSABitRate"), 32);
}

TEST_F(ConversionModelTest, InvalidWmaCombinationKeepsTheDialogOpen) {
    m.Open(Inputs(kWma));
    std::string before = FileText();
    m.SetBitRateIndex(0);  // 5 kBps: no rate or channel count takes it
    ASSERT_FALSE(m.Quality().Valid());
    ConversionOutputs out;
    std::string refusal;
    EXPECT_FALSE(m.Accept(out, refusal));
    EXPECT_EQ(refusal, kInvalidWmaCombination);
    EXPECT_EQ(refusal.find("Invalid"), std::string::npos);
    EXPECT_EQ(FileText(), before);
    m.SetBitRateIndex(IndexOf(BitRateList(kWma), 64));
    EXPECT_TRUE(m.Accept(out, refusal));
}

TEST_F(ConversionModelTest, CancelLeavesTheStoreUnchanged) {
    WriteOption("MP3BitRate", 64);
    WriteOption("MSABitRate", 48);
    WriteOption("FLACLevel", 8);
    WriteOption("OpusBitRate", 96);
    WriteOptionText("BOut", "/music/");
    std::string before = FileText();
    m.Open(Inputs());
    m.SetFormat(kMp3);
    m.SetBitRateIndex(IndexOf(BitRateList(kMp3), 192));
    m.SetJitter(true);
    m.SetDestination("/elsewhere/");
    // No Accept: the dialog was cancelled.
    EXPECT_EQ(FileText(), before);
}

TEST_F(ConversionModelTest, AcceptWritesStoreAndOutputs) {
    WriteOptionText("BOut", "/music/");
    m.Open(Inputs(kWav, 44100, 2));
    m.SetFormat(kMp3);
    m.SetBitRateIndex(IndexOf(BitRateList(kMp3), 256));
    m.SetRateIndex(IndexOf(SampleRateList(), 22050));  // 256 has no 22050 Hz: moves to 80
    m.SetJitter(true);
    m.SetTitle("新標題");
    m.SetDestination("/out/");
    ConversionOutputs out;
    std::string refusal;
    ASSERT_TRUE(m.Accept(out, refusal));
    EXPECT_EQ(ReadOption("MP3BitRate"), 80);
    EXPECT_EQ(ReadOption("Jitter"), 1);
    EXPECT_EQ(ReadOption("PseudoStereo"), 1);  // one check box feeds both
    EXPECT_EQ(ReadOption("PlaceClipInfo"), 1);
    EXPECT_EQ(ReadOption("Normalize"), 0);
    EXPECT_EQ(ReadOptionText("BOut"), "/out/");
    EXPECT_EQ(out.outputFormat, kMp3);
    EXPECT_FALSE(out.keepInputQuality);
    EXPECT_EQ(out.outputRate, 22050);
    EXPECT_EQ(out.outputChannels, 2);
    EXPECT_EQ(out.title, "新標題");
    EXPECT_EQ(out.artist, "歌手");
}

TEST_F(ConversionModelTest, KeepingTheQualityLeavesRateAndChannels) {
    m.Open(Inputs());
    ConversionOutputs out;
    std::string refusal;
    ASSERT_TRUE(m.Accept(out, refusal));
    EXPECT_TRUE(out.keepInputQuality);
    EXPECT_EQ(out.outputRate, 0);
    EXPECT_EQ(ReadOption("MP3BitRate"), 128);  // only the opening default
}

TEST_F(ConversionModelTest, TogglingSongInfoKeepsTheChosenBitRate) {
    m.Open(Inputs(kMp3));
    m.SetBitRateIndex(IndexOf(BitRateList(kMp3), 192));
    m.SetSongInfo(false);
    m.SetQualityMode(1);
    EXPECT_EQ(m.Quality().Kbps(), 192);
}

TEST_F(ConversionModelTest, ChannelChangeCorrectsMp3) {
    m.Open(Inputs(kMp3, 44100, 2));
    m.SetBitRateIndex(IndexOf(BitRateList(kMp3), 256));
    m.SetChannelIndex(0);
    EXPECT_EQ(m.Quality().Channels(), 1);
    EXPECT_EQ(m.Quality().Kbps(), 128);
    EXPECT_TRUE(m.Quality().Valid());
}

}  // namespace
}  // namespace tralux::models

namespace tralux::models {
namespace {

TEST_F(ConversionModelTest, OpeningCorrectsAnImpossibleMp3Choice) {
    WriteOption("MP3BitRate", 256);
    m.Open(Inputs(kMp3, 8000, 1));
    EXPECT_TRUE(m.Quality().Valid());
    EXPECT_EQ(m.Quality().Rate(), 8000);
    EXPECT_EQ(m.Quality().Kbps(), 8);
}

}  // namespace
}  // namespace tralux::models

namespace tralux::models {
namespace {

// FLAC and Opus take any rate: the input's quality may be kept; each keeps its own stored
// choice (a level for FLAC, a bit rate for Opus) and the list says which it is.
TEST_F(ConversionModelTest, FlacAndOpusKeepTheInputAndTheirOwnChoice) {
    m.Open(Inputs());
    EXPECT_EQ(ReadOption("FLACLevel"), 5);
    EXPECT_EQ(ReadOption("OpusBitRate"), 160);
    m.SetFormat(kFlac);
    EXPECT_EQ(m.QualityMode(), 0);
    EXPECT_TRUE(m.OriginalQualityEnabled());
    ASSERT_EQ(m.BitRateItems().size(), 9u);
    EXPECT_EQ(m.BitRateItems()[m.BitRateItem()], "壓縮等級 5");
    m.SetBitRateItem(8);
    m.SetFormat(kOpus);
    EXPECT_EQ(m.BitRateItems()[m.BitRateItem()], "160 kBps");
    m.SetBitRateItem(0);
    ConversionOutputs out;
    std::string refusal;
    ASSERT_TRUE(m.Accept(out, refusal));
    EXPECT_EQ(out.outputFormat, kOpus);
    EXPECT_TRUE(out.keepInputQuality);
    EXPECT_EQ(ReadOption("OpusBitRate"), 32);
    EXPECT_EQ(ReadOption("FLACLevel"), 5);  // the FLAC choice was never accepted
    EXPECT_EQ(ReadOption("MSABitRate"), 64);
}

}  // namespace
}  // namespace tralux::models
