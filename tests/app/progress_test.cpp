#include <gtest/gtest.h>

#include <filesystem>

#include "app/core/progress.h"
#include "support/wav_builder.h"

namespace tralux::app {
namespace {

TEST(Clock, MinutesAndSecondsThenHoursWithMinutesWithinTheHour) {
    EXPECT_EQ(FormatClock(0), "00:00");
    EXPECT_EQ(FormatClock(65), "01:05");
    EXPECT_EQ(FormatClock(3599), "59:59");
    EXPECT_EQ(FormatClock(3600), "01:00:00");
    EXPECT_EQ(FormatClock(3600 + 61 * 60 + 5), "02:01:05");  // not "01:61:05"
    EXPECT_EQ(FormatClock(100 * 3600), "100:00:00");
}

TEST(PositionDisplay, LengthPartAndTenths) {
    EXPECT_EQ(PositionDisplayText(0, 65000), "00:00/01:05");
    EXPECT_EQ(PositionDisplayText(12500, 65300), "00:12/01:05.3");
    EXPECT_EQ(PositionDisplayText(0, 65001), "00:00/01:05.1");  // rounded up
    EXPECT_EQ(PositionDisplayText(0, 65999), "00:00/01:05.9");  // never a tenth of ten
    EXPECT_EQ(PositionDisplayText(0, 0), "00:00/00:00");
}

TEST(PositionDisplay, HoursOnBothSidesFromAnHourOfLength) {
    EXPECT_EQ(PositionDisplayText(61000, 3600000), "00:01:01/01:00:00");
    EXPECT_EQ(PositionDisplayText(3725000, 7200500), "01:02:05/02:00:00");  // no tenths with hours
}

TEST(Progress, HalfwayAtDoubleSpeed) {
    const ProgressFigures f = ComputeProgress(0, 60000, 30000.0, 15000);
    EXPECT_EQ(f.percent, 50);
    EXPECT_EQ(f.totalMs, 30000);
    EXPECT_EQ(f.remainingMs, 15000);
    EXPECT_EQ(f.speedHundredths, 200);
    EXPECT_EQ(SpeedLine(250), "速度: x 2.50 ");
    EXPECT_EQ(SpeedLine(105), "速度: x 1.05 ");
}

TEST(Progress, NothingDoneYetEstimatesTheTrackLength) {
    const ProgressFigures f = ComputeProgress(10000, 70000, 10000.0, 500);
    EXPECT_EQ(f.percent, 0);
    EXPECT_EQ(f.totalMs, 60000);
    EXPECT_EQ(f.remainingMs, 59500);
    EXPECT_EQ(f.speedHundredths, 100);
}

TEST(Progress, EndEqualToStartIsCompleteWithoutDividingByZero) {
    const ProgressFigures f = ComputeProgress(5000, 5000, 5000.0, 800);
    EXPECT_EQ(f.percent, 100);
    EXPECT_EQ(f.remainingMs, 0);
    EXPECT_EQ(f.speedHundredths, 100);
    const ProgressFigures g = ComputeProgress(9000, 5000, 0.0, 0);  // end before start
    EXPECT_EQ(g.percent, 100);
}

TEST(Progress, LongJobsStayInRange) {
    // Ten hours from the end of a long input: 32-bit products would overflow here.
    const ProgressFigures f = ComputeProgress(0, 4000000000u, 3000000000.0, 3000000000);
    EXPECT_EQ(f.percent, 75);
    EXPECT_EQ(f.totalMs, 4000000000LL);
    EXPECT_EQ(f.remainingMs, 1000000000LL);
    // A position a little past the end never shows more than 100 %.
    EXPECT_EQ(ComputeProgress(0, 1000, 1200.0, 10).percent, 100);
}

TEST(Lines, CompressionAndQuality) {
    EXPECT_EQ(CompressionLine(0, 128, 64), "壓縮: 不被壓縮的 WAV 檔");
    EXPECT_EQ(CompressionLine(1, 128, 64), "壓縮: MPEG Layer-3, 位元率: 128 kBps");
    EXPECT_EQ(CompressionLine(2, 128, 64), "壓縮: MS Audio 4.0, 位元率: 64 kBps");
    EXPECT_EQ(QualityLine(44100, 2, true, false),
              "品質 : 比率:    44100 Hz, 立體聲, 16 位元, 均衡器:   開, 定位: 關.   ");
    EXPECT_EQ(QualityLine(8000, 1, false, true),
              "品質 : 比率:    8000 Hz, 單聲, 16 位元, 均衡器:   關 , 定位: 開.  ");
    EXPECT_EQ(QualityLine(96000, 2, false, false, 24),
              "品質 : 比率:    96000 Hz, 立體聲, 24 位元, 均衡器:   關 , 定位: 關.   ");
    EXPECT_EQ(SingleTitleLine(1, "a.wav"), "MP3 編碼至  a.wav ....     ");
    EXPECT_EQ(BatchOutputLine(0, "/o/a.wav"), "正在解碼成 /o/a.wav .... ");
    EXPECT_EQ(BatchCountLine(3, 12), "正在解碼檔案 3 至 12 ");
}

TEST(OutputNames, ExtensionFolderAndDotsInFolderNames) {
    EXPECT_EQ(OutputPathFor("/in/song.wav", "/out", 1), "/out/song.mp3");
    EXPECT_EQ(OutputPathFor("/in/song.wav", "/out/", 2), "/out/song.wma");
    EXPECT_EQ(OutputPathFor("/in/song.mp3", "", 0), "song.wav");
    EXPECT_EQ(OutputPathFor("/in.d/noext", "/out", 0), "/out/noext.wav");
    EXPECT_EQ(OutputPathFor("D:/Track01.cda", "/music", 1), "/music/Track01.mp3");
}

TEST(BatchCollection, PatternOrderAndFilters) {
    const std::vector<std::string> names{"b.wav",  "a.MP3", "c.mpg", "d.mpeg",
                                         "t1.cda", "x.txt", "a.wav", "wav"};
    BatchList all = CollectFolderInputs("/in", names, {});
    EXPECT_EQ(all.inputs, (std::vector<std::string>{"/in/t1.cda", "/in/a.wav", "/in/b.wav",
                                                    "/in/a.MP3", "/in/d.mpeg", "/in/c.mpg"}));
    BatchList mp3Only = CollectFolderInputs("/in/", names, {false, false, true, {}});
    EXPECT_EQ(mp3Only.inputs, (std::vector<std::string>{"/in/a.MP3", "/in/d.mpeg", "/in/c.mpg"}));
    EXPECT_TRUE(CollectFolderInputs("/in", {"x.txt"}, {}).inputs.empty());
}

TEST(BatchCollection, StopsAt2048AndSaysSo) {
    std::vector<std::string> names;
    for (int i = 0; i < 2100; ++i) names.push_back("f" + std::to_string(i) + ".wav");
    BatchList list = CollectFolderInputs("/in", names, {});
    EXPECT_EQ(list.inputs.size(), kBatchLimit);
    EXPECT_TRUE(list.truncated);
    names.resize(2048);
    list = CollectFolderInputs("/in", names, {});
    EXPECT_EQ(list.inputs.size(), 2048u);
    EXPECT_FALSE(list.truncated);
}

TEST(BatchCollection, CdTracksMatchByTrackNumberNotByListingOrder) {
    // The drive lists track 10 before track 2; only tracks 2 and 10 are ticked.
    const std::vector<std::string> names{"Track01.cda", "Track10.cda", "Track02.cda",
                                         "Track03.cda"};
    auto trackOf = [](const std::string& p) { return std::stoi(p.substr(p.size() - 6, 2)); };
    auto selected = [](int t) { return t == 2 || t == 10; };
    const BatchList list = CollectCdInputs("D:/", names, trackOf, selected);
    EXPECT_EQ(list.inputs, (std::vector<std::string>{"D:/Track10.cda", "D:/Track02.cda"}));
    // An entry whose track number cannot be read is never taken.
    EXPECT_TRUE(CollectCdInputs(
                    "D:", names, [](const std::string&) { return 0; }, selected)
                    .inputs.empty());
}

TEST(BatchOutputs, RefusesToWriteOverALaterInputOrAnEarlierOutput) {
    const std::vector<std::string> inputs{"/m/a.mp3", "/m/a.wav", "/m/b.wav"};
    // Converting a.mp3 to WAV in its own folder would destroy the next input.
    EXPECT_EQ(CheckBatchOutput(inputs, 0, "/m/a.wav", {}), OutputClash::LaterInput);
    EXPECT_EQ(CheckBatchOutput(inputs, 0, "/m/./a.wav", {}), OutputClash::LaterInput);
    // The earlier input itself is done: writing over it is the engine's own refusal.
    EXPECT_EQ(CheckBatchOutput(inputs, 2, "/m/a.wav", {}), OutputClash::None);
    EXPECT_EQ(CheckBatchOutput(inputs, 1, "/o/a.wav", {"/o/a.wav"}), OutputClash::EarlierOutput);
    EXPECT_EQ(CheckBatchOutput(inputs, 1, "/o/a.wav", {"/o/b.wav"}), OutputClash::None);
    EXPECT_NE(OutputClashMessage(OutputClash::LaterInput, "/m/a.wav").find("/m/a.wav"),
              std::string::npos);

    // The batch's guard answers the same, a repeated input counting at its last place.
    BatchOutputGuard guard;
    guard.Reset({"/m/a.mp3", "/m/a.wav", "/m/b.wav", "/m/./a.wav"});
    EXPECT_EQ(guard.Check(0, "/m/a.wav"), OutputClash::LaterInput);
    EXPECT_EQ(guard.Check(2, "/m/a.wav"), OutputClash::LaterInput);
    EXPECT_EQ(guard.Check(3, "/m/a.wav"), OutputClash::None);
    EXPECT_EQ(guard.Check(1, "/o/a.wav"), OutputClash::None);
    guard.Written("/o/./a.wav");
    EXPECT_EQ(guard.Check(1, "/o/a.wav"), OutputClash::EarlierOutput);
    EXPECT_EQ(guard.Check(1, "/o/b.wav"), OutputClash::None);
}

TEST(CdaFiles, TrackNumberFromTheTrackFile) {
    using namespace tralux::test;
    const auto dir = std::filesystem::temp_directory_path() / "tralux_app_cda";
    std::filesystem::create_directories(dir);
    Bytes fmt;
    Put16(fmt, 1);  // version
    Put16(fmt, 7);  // track
    Put32(fmt, 0x1234);
    Put32(fmt, 0);
    Put32(fmt, 1000);
    Put32(fmt, 0);
    Put32(fmt, 0);
    WriteFile(dir / "Track07.cda", Riff({{"fmt ", fmt}}, "CDDA"));
    EXPECT_EQ(CdaTrackNumber((dir / "Track07.cda").string()), 7);
    WriteFile(dir / "x.wav", SimpleWav({0, 0}, 1, 8000));
    EXPECT_EQ(CdaTrackNumber((dir / "x.wav").string()), 0);
    EXPECT_EQ(CdaTrackNumber((dir / "missing.cda").string()), 0);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace tralux::app
