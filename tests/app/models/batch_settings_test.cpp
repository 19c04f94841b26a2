#include <gtest/gtest.h>

#include "app/models/batch_settings.h"
#include "app/models/cddb_bridge.h"
#include "app/settings/settings_fixture.h"
#include "engine/outputs/mp3_rates.h"

namespace tralux::models {
namespace {

using settings::ReadOption;
using settings::ReadOptionText;
using settings::WriteOption;
using settings::WriteOptionText;

class BatchModelTest : public settings::testing::SettingsTest {};

TEST_F(BatchModelTest, OpensWithTheStoredValues) {
    settings::EnsureOptionDefaults();
    WriteOptionText("BInDir", "/in/");
    WriteOptionText("BOut", "/out/");
    WriteOption("BIF_MP3", 0);
    WriteOption("BOutFormat", 1);
    WriteOption("BAQ", 1);
    WriteOption("BQ_RATEMP3", 5);
    WriteOption("BQ_CHANMP3", 1);
    BatchSettingsModel m;
    m.Open();
    EXPECT_EQ(m.InputFolder(), "/in/");
    EXPECT_EQ(m.OutputFolder(), "/out/");
    EXPECT_TRUE(m.TakeWav());
    EXPECT_FALSE(m.TakeMp3());
    EXPECT_TRUE(m.TakeCd());
    EXPECT_EQ(m.Format(), kMp3);
    EXPECT_EQ(m.QualityMode(), 1);
    EXPECT_EQ(m.Quality().Kbps(), 128);  // first-run "BQ_BRATEMP3" is 11
    EXPECT_EQ(m.Quality().Rate(), 44100);
    EXPECT_EQ(m.Quality().Channels(), 2);
    EXPECT_EQ(m.BitRateItems().size(), Mp3BitRatesKbps(44100, 2).size());
}

TEST_F(BatchModelTest, UnsetOrStaleIndicesSelectTheFirstEntry) {
    WriteOption("BOutFormat", 1);
    WriteOption("BQ_RATEMP3", 9);
    WriteOption("BQ_CHANMP3", 5);
    WriteOption("BQ_BRATEMP3", -7);
    BatchSettingsModel m;
    m.Open();
    EXPECT_EQ(m.Quality().rateIndex, 0);
    EXPECT_EQ(m.Quality().chanIndex, 0);
    EXPECT_EQ(m.Quality().bitIndex, 0);
    WriteOption("BOutFormat", 0);  // "BQ_RATEWAV"/"BQ_CHANWAV" have no first-run value
    m.Open();
    EXPECT_EQ(m.Quality().Rate(), 8000);
    EXPECT_EQ(m.Quality().Channels(), 1);
    EXPECT_TRUE(m.BitRateItems().empty());
    WriteOption("BOutFormat", 7);
    m.Open();
    EXPECT_EQ(m.Format(), kWav);
}

TEST_F(BatchModelTest, SwitchingFormatsKeepsEachFormatsSelections) {
    settings::EnsureOptionDefaults();
    WriteOption("BOutFormat", 1);
    WriteOption("BAQ", 1);
    BatchSettingsModel m;
    m.Open();
    m.SetRateIndex(4);  // 32000 Hz
    m.SetBitRateIndex(IndexOf(BitRateList(kMp3), 96));
    ASSERT_TRUE(m.Quality().Valid());
    m.SetFormat(kWma);
    EXPECT_EQ(ReadOption("BQ_RATEMP3"), 4);
    EXPECT_EQ(ReadOption("BQ_BRATEMP3"), IndexOf(BitRateList(kMp3), 96));
    EXPECT_TRUE(m.Quality().Valid());  // WMA lists are corrected after filling
    m.SetFormat(kMp3);
    EXPECT_EQ(m.Quality().Rate(), 32000);
    EXPECT_EQ(m.Quality().Kbps(), 96);
}

TEST_F(BatchModelTest, AutomaticStoresTheCustomSelections) {
    WriteOption("BOutFormat", 0);
    WriteOption("BAQ", 1);
    BatchSettingsModel m;
    m.Open();
    m.SetRateIndex(3);
    m.SetChannelIndex(1);
    EXPECT_TRUE(m.RateAndChannelsEnabled());
    EXPECT_FALSE(m.BitRateEnabled());  // WAV has no bit rate
    m.SetQualityMode(0);
    EXPECT_EQ(ReadOption("BQ_RATEWAV"), 3);
    EXPECT_EQ(ReadOption("BQ_CHANWAV"), 1);
    EXPECT_FALSE(m.RateAndChannelsEnabled());
    EXPECT_FALSE(m.BitRateEnabled());
    m.SetFormat(kWma);
    EXPECT_FALSE(m.BitRateEnabled());
    m.SetQualityMode(1);
    EXPECT_TRUE(m.BitRateEnabled());
}

TEST_F(BatchModelTest, OkNeedsBothFolders) {
    BatchSettingsModel m;
    m.Open();
    m.SetInputFolder("/in/");
    EXPECT_FALSE(m.OkEnabled());
    EXPECT_FALSE(m.Accept());
    EXPECT_EQ(ReadOptionText("BInDir"), "");
    m.SetOutputFolder("/out/");
    EXPECT_TRUE(m.OkEnabled());
    m.SetInputFolder("");
    EXPECT_FALSE(m.OkEnabled());
}

TEST_F(BatchModelTest, AcceptWritesEveryValue) {
    settings::EnsureOptionDefaults();
    BatchSettingsModel m;
    m.Open();
    m.SetInputFolder("/in/");
    m.SetOutputFolder("/out/");
    m.SetTakeCd(false);
    m.SetTakeWav(false);
    m.SetJitter(true);
    m.SetFormat(kMp3);
    m.SetQualityMode(1);
    ASSERT_TRUE(m.Accept());
    EXPECT_EQ(ReadOptionText("BInDir"), "/in/");
    EXPECT_EQ(ReadOptionText("BOut"), "/out/");
    EXPECT_EQ(ReadOption("BIF_CDDA"), 0);
    EXPECT_EQ(ReadOption("BIF_WAV"), 0);
    EXPECT_EQ(ReadOption("BIF_MP3"), 1);
    EXPECT_EQ(ReadOption("BIF_REAL"), 1);  // never touched by the dialog
    EXPECT_EQ(ReadOption("BOutFormat"), 1);
    EXPECT_EQ(ReadOption("BAQ"), 1);
    EXPECT_EQ(ReadOption("Jitter"), 1);
    auto out = settings::ResolveBatchOutput(44100, 2);
    ASSERT_TRUE(out.has_value());  // a custom job finds every index set
}

CdDisc Disc() {
    CdDisc d;
    d.title = "專輯";
    d.extended = "版權所有";
    d.idText = "7a09b40b";
    for (int i = 0; i < 3; ++i)
        d.tracks.push_back({"曲目 " + std::to_string(i + 1), "", 200 + i, false});
    return d;
}

TEST(TrackLength, HoursOnlyFromAnHour) {
    EXPECT_EQ(FormatTrackLength(3725), "1:02:05");
    EXPECT_EQ(FormatTrackLength(65), "1:05");
    EXPECT_EQ(FormatTrackLength(3600), "1:00:00");
    EXPECT_EQ(FormatTrackLength(3599), "59:59");
    EXPECT_EQ(FormatTrackLength(0), "0:00");
    EXPECT_EQ(FormatTrackLength(-4), "0:00");
}

TEST_F(BatchModelTest, CdOpenTicksEveryTrack) {
    WriteOptionText("BOut", "/out/");
    CdRipModel m;
    m.Open(Disc());
    for (const CdTrack& t : m.Disc().tracks) EXPECT_TRUE(t.selected);
    EXPECT_TRUE(m.PlaceSongTitles());
    EXPECT_TRUE(m.StartEnabled());
}

TEST_F(BatchModelTest, CdStartNeedsATickAndAFolder) {
    WriteOptionText("BOut", "/out/");
    CdRipModel m;
    m.Open(Disc());
    for (int i = 0; i < 3; ++i) m.SetTicked(i, false);
    EXPECT_FALSE(m.StartEnabled());
    m.SetTicked(1, true);
    EXPECT_TRUE(m.StartEnabled());
    m.SetOutputFolder("");
    EXPECT_FALSE(m.StartEnabled());
    m.SetTicked(7, true);  // no such row
    std::string msg;
    EXPECT_FALSE(m.Start([](const CdDisc&) { return true; }, msg));
}

TEST_F(BatchModelTest, CdStartWritesStoreAndCache) {
    WriteOptionText("BOut", "/out/");
    CdRipModel m;
    m.Open(Disc());
    m.SetTicked(0, false);
    m.SetTrackTitle(2, "改過的標題");
    m.Disc().title = "新專輯";
    m.SetPlaceSongTitles(false);
    m.SetFormat(kWma);
    CdDisc cached;
    std::string msg;
    ASSERT_TRUE(m.Start(
        [&](const CdDisc& d) {
            cached = d;
            return true;
        },
        msg));
    EXPECT_TRUE(msg.empty());
    EXPECT_EQ(cached.title, "新專輯");
    EXPECT_FALSE(cached.tracks[0].selected);
    EXPECT_TRUE(cached.tracks[1].selected);
    EXPECT_EQ(cached.tracks[2].title, "改過的標題");
    EXPECT_EQ(ReadOption("PlaceClipInfo"), 0);
    EXPECT_EQ(ReadOption("BOutFormat"), 2);
    EXPECT_NE(ReadOption("BQ_BRATEWMA"), -1);
}

TEST_F(BatchModelTest, CdCacheFailureIsReportedButStartGoesOn) {
    WriteOptionText("BOut", "/out/");
    CdRipModel m;
    m.Open(Disc());
    std::string msg;
    EXPECT_TRUE(m.Start([](const CdDisc&) { return false; }, msg));
    EXPECT_EQ(msg, "無法將 CD 訊息存入快取!");
    EXPECT_EQ(ReadOptionText("BOut"), "/out/");
}

}  // namespace
}  // namespace tralux::models

namespace tralux::models {
namespace {

TEST_F(BatchModelTest, OpeningCorrectsAnImpossibleMp3Choice) {
    settings::EnsureOptionDefaults();  // MP3: 8000 Hz, mono, 128 kBps
    WriteOption("BOutFormat", 1);
    WriteOption("BAQ", 1);
    BatchSettingsModel m;
    m.Open();
    EXPECT_TRUE(m.Quality().Valid());
    EXPECT_EQ(m.Quality().Rate(), 8000);
    EXPECT_EQ(m.Quality().Kbps(), 8);
}

TEST(CdDiscLengths, TheTableOfContentsFillsWhatTheLookupLeftEmpty) {
    CdDisc looked;
    looked.tracks = {{"一", "", 0, true}, {"二", "", 125, true}};
    CdDisc toc;
    toc.tracks = {{"", "", 200, true}, {"", "", 130, true}};
    TakeTocLengths(looked, toc);
    EXPECT_EQ(looked.tracks[0].lengthSeconds, 200);
    EXPECT_EQ(looked.tracks[1].lengthSeconds, 125);  // the lookup's own stays
    EXPECT_EQ(looked.tracks[0].title, "一");
    CdDisc other;
    other.tracks = {{"", "", 0, true}};
    TakeTocLengths(other, toc);  // another disc's TOC is no source
    EXPECT_EQ(other.tracks[0].lengthSeconds, 0);
}

}  // namespace
}  // namespace tralux::models
