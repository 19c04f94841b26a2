#include "engine/job/job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <map>
#include <thread>

#include "engine/job/errors.h"
#include "engine/job/job_fixture.h"
#include "platform/notify/notifier.h"
#include "platform/wma/wma_output_kind.h"
#include "support/require.h"
#include "support/wav_builder.h"

namespace tralux {
namespace {

using namespace test;

class JobTest : public JobFixture {
protected:
    void TearDown() override {
        JobFixture::TearDown();
        SetWavPayloadLimitForTesting(0);
    }

    std::vector<std::int16_t> Ramp(std::size_t n) {
        std::vector<std::int16_t> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<std::int16_t>((i * 37) % 65536 - 32768);
        return v;
    }
};

TEST_F(JobTest, PassThroughKeepsEverySampleAndTagsTheFile) {
    const auto samples = Ramp(44100 * 2 * 3 + 10);
    WriteFile(dir_ / "in.wav", SimpleWav(samples, 2, 44100));
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    const Bytes out = ReadFile(dir_ / "out.wav");
    const std::uint32_t dataSize = Get32(out, 40);
    ASSERT_EQ(dataSize, samples.size() * 2);
    EXPECT_EQ(Bytes(out.begin() + 44, out.begin() + 44 + dataSize), Pcm16(samples));
    EXPECT_EQ(Get32(out, 4), out.size() - 8);
    const std::string tail(out.begin() + 44 + dataSize, out.end());
    EXPECT_EQ(tail.substr(0, 4), "LIST");
    EXPECT_NE(tail.find("INAM"), std::string::npos);
    EXPECT_NE(tail.find("Converted by Quorvatix Tralux"), std::string::npos);
    EXPECT_FALSE(Engine().JobRunning.load());
    EXPECT_DOUBLE_EQ(Engine().PositionMs.load(), samples.size() / 2 * 1000.0 / 44100);
}

TEST_F(JobTest, FfprobeReadsTheInfoTags) {
    TRALUX_REQUIRE_TOOL("ffprobe");
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(8000), 1, 8000));
    Engine().OutputRate.store(8000);
    Engine().OutputChannels.store(1);
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    const std::string cmd = "ffprobe -v error -show_entries format_tags -of default=nw=1 " +
                            (dir_ / "out.wav") + " > " + (dir_ / "tags.txt");
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const Bytes t = ReadFile(dir_ / "tags.txt");
    const std::string tags(t.begin(), t.end());
    EXPECT_NE(tags.find("title=Title"), std::string::npos) << tags;
    EXPECT_NE(tags.find("artist=Artist"), std::string::npos) << tags;
    EXPECT_NE(tags.find("copyright=Copyright"), std::string::npos) << tags;
    EXPECT_NE(tags.find("encoder=Converted by Quorvatix Tralux"), std::string::npos) << tags;
}

TEST_F(JobTest, PlaceClipInfoOffGivesHeaderAndPayloadOnly) {
    options_["PlaceClipInfo"] = 0;
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(1000), 2, 44100));
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    const Bytes out = ReadFile(dir_ / "out.wav");
    EXPECT_EQ(out.size(), 44u + 2000u);
    EXPECT_EQ(Get32(out, 4), 36u + 2000u);
}

TEST_F(JobTest, StereoToMonoTruncatesTowardZero) {
    WriteFile(dir_ / "in.wav", SimpleWav({-3, 0, 3, 0, 32767, 32767, -32768, -32767}, 2, 44100));
    Engine().OutputChannels.store(1);
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    const Bytes out = ReadFile(dir_ / "out.wav");
    EXPECT_EQ(Bytes(out.begin() + 44, out.begin() + 52), Pcm16({-1, 1, 32767, -32767}));
}

TEST_F(JobTest, MonoToStereoDuplicatesAndEightBitWidens) {
    Bytes wav = Riff({{"fmt ", FmtPayload(1, 1, 44100, 8)}, {"data", Bytes{0x80, 0xFF, 0x00}}});
    WriteFile(dir_ / "in.wav", wav);
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    const Bytes out = ReadFile(dir_ / "out.wav");
    EXPECT_EQ(Get32(out, 40), 12u);
    EXPECT_EQ(Bytes(out.begin() + 44, out.begin() + 56),
              Pcm16({0, 0, 32512, 32512, -32768, -32768}));
}

TEST_F(JobTest, StartPositionDoesNotReadPastTheDataChunk) {
    // One second of data followed by a LIST chunk that must not become audio.
    auto samples = Ramp(8000);
    Bytes wav = Riff({{"fmt ", FmtPayload(1, 1, 8000, 16)},
                      {"data", Pcm16(samples)},
                      {"LIST", Bytes(100, 0x55)}});
    WriteFile(dir_ / "in.wav", wav);
    Engine().OutputRate.store(8000);
    Engine().OutputChannels.store(1);
    Engine().StartMs.store(250);
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    const Bytes out = ReadFile(dir_ / "out.wav");
    ASSERT_EQ(Get32(out, 40), 6000u * 2);
    EXPECT_EQ(Bytes(out.begin() + 44, out.begin() + 44 + 12000),
              Pcm16(std::vector<std::int16_t>(samples.begin() + 2000, samples.end())));
}

TEST_F(JobTest, ModernInputIsConvertedTo16Bit) {
    Bytes p24;
    for (int i = 0; i < 100; ++i) {
        const std::int32_t v = (i * 1000) << 8;
        p24.push_back(static_cast<std::uint8_t>(v));
        p24.push_back(static_cast<std::uint8_t>(v >> 8));
        p24.push_back(static_cast<std::uint8_t>(v >> 16));
    }
    WriteFile(dir_ / "in.wav", Riff({{"fmt ", FmtPayload(1, 1, 48000, 24)}, {"data", p24}}));
    Engine().OutputRate.store(48000);
    Engine().OutputChannels.store(1);
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    const Bytes out = ReadFile(dir_ / "out.wav");
    ASSERT_EQ(Get32(out, 40), 200u);
    EXPECT_EQ(out[44 + 2 * 7] | out[44 + 2 * 7 + 1] << 8, 7000);
}

TEST_F(JobTest, StopLeavesAPlayableWavWithCreditOnly) {
    options_["PlaceClipInfo"] = 0;
    WriteFile(dir_ / "in.wav", SimpleWav(std::vector<std::int16_t>(44100 * 2 * 120, 7), 2, 44100));
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "out.wav", 0, kModeConvert));
    // A second job while one runs is refused and leaves the first alone.
    EXPECT_FALSE(StartConversion(dir_ / "in.wav", dir_ / "other.wav", 0, kModeConvert));
    Engine().StopRequested.store(true);
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    EXPECT_FALSE(Engine().StopRequested.load());
    const Bytes out = ReadFile(dir_ / "out.wav");
    const std::uint32_t dataSize = Get32(out, 40);
    EXPECT_LT(dataSize, 44100u * 4 * 120);
    EXPECT_EQ(dataSize % 4, 0u);
    EXPECT_EQ(Get32(out, 4), out.size() - 8);
    const std::string tail(out.begin() + 44 + dataSize, out.end());
    EXPECT_EQ(tail.substr(0, 4), "LIST");
    EXPECT_EQ(tail.find("INAM"), std::string::npos);
    EXPECT_NE(tail.find("ISFT"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "other.wav"));
    TRALUX_REQUIRE_TOOL("sox");
    EXPECT_EQ(std::system(("sox -V1 " + (dir_ / "out.wav") + " -n stat 2>/dev/null").c_str()), 0);
}

TEST_F(JobTest, StoppedJobKeepsTheUsersTagTexts) {
    const std::uint32_t full = 44100 * 4 * 60;
    WriteFile(dir_ / "in.wav", SimpleWav(std::vector<std::int16_t>(full / 2, 7), 2, 44100));
    Engine().TagTitle = "Edited title";
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "out.wav", 0, kModeConvert));
    Engine().StopRequested.store(true);
    WaitForJob();
    const Bytes out = ReadFile(dir_ / "out.wav");
    // The stop path ran: a short payload whose size is what the file holds before the LIST chunk.
    const std::uint32_t dataSize = Get32(out, 40);
    EXPECT_LT(dataSize, full);
    ASSERT_LE(44u + dataSize + 8, out.size());
    EXPECT_EQ(std::string(out.begin() + 44 + dataSize, out.begin() + 48 + dataSize), "LIST");
    EXPECT_EQ(44u + dataSize + 8 + Get32(out, 44 + dataSize + 4), out.size());
    const std::string tail(out.begin() + 44 + dataSize, out.end());
    EXPECT_NE(tail.find("INAM"), std::string::npos);
    EXPECT_NE(tail.find("Edited title"), std::string::npos);
}

TEST_F(JobTest, DiskFullShowsTheCauseAndLeavesNoCode) {
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(1000), 2, 44100));
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", "/dev/full", 0, kModeConvert));
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    EXPECT_FALSE(Engine().JobRunning.load());
    const auto msgs = notes_.Messages();
    ASSERT_FALSE(msgs.empty());
    EXPECT_EQ(msgs.back().text, "寫入檔案錯誤: /dev/full: No space left on device");
    EXPECT_EQ(msgs.back().caption, "File error");
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));  // a device is never removed
}

TEST_F(JobTest, OutputNamingTheInputIsRefused) {
    const Bytes wav = SimpleWav(Ramp(1000), 2, 44100);
    WriteFile(dir_ / "song.wav", wav);
    EXPECT_FALSE(StartConversion(dir_ / "song.wav", dir_ / "song.wav", 0, kModeConvert));
    EXPECT_EQ(Engine().LastError.exchange(0), kErrOpen);
    EXPECT_EQ(ReadFile(dir_ / "song.wav"), wav);
    std::filesystem::create_symlink(dir_ / "song.wav", dir_ / "link.wav");
    EXPECT_FALSE(StartConversion(dir_ / "song.wav", dir_ / "link.wav", 0, kModeConvert));
    EXPECT_EQ(ReadFile(dir_ / "song.wav"), wav);
    // A link at the output's name to another file, or to none: the link is replaced.
    Engine().ReplaceOutput.store(true);
    WriteFile(dir_ / "other.txt", Bytes{'k', 'e', 'e', 'p'});
    std::filesystem::create_symlink(dir_ / "other.txt", dir_ / "out.wav");
    std::filesystem::create_symlink(dir_ / "gone.wav", dir_ / "dangling.wav");
    for (const char* out : {"out.wav", "dangling.wav"}) {
        EXPECT_EQ(Run(dir_ / "song.wav", dir_ / out), 0) << out;
        EXPECT_FALSE(std::filesystem::is_symlink(dir_ / out)) << out;
    }
    EXPECT_EQ(ReadFile(dir_ / "other.txt"), (Bytes{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(std::filesystem::exists(dir_ / "gone.wav"));
}

// Names in the folder that start with a dot: hidden files a job left behind.
std::vector<std::string> HiddenFiles(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().filename().string().front() == '.')
            names.push_back(entry.path().filename().string());
    return names;
}

TEST_F(JobTest, ReplacingKeepsTheOldFileUntilTheNewOneIsWhole) {
    WriteFile(dir_ / "in.wav", SimpleWav(std::vector<std::int16_t>(44100 * 2 * 5, 7), 2, 44100));
    const Bytes old{'o', 'l', 'd'};
    WriteFile(dir_ / "out.wav", old);
    std::filesystem::permissions(dir_ / "out.wav", std::filesystem::perms(0640));
    Engine().ReplaceOutput.store(true);
    // Disk full midway: the failure names the output, the old file stays as it was.
    SetDiskFullForTesting("out.wav", 20000);
    EXPECT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    EXPECT_TRUE(Engine().FailureShown.load());
    EXPECT_EQ(Engine().FailureText.rfind("寫入檔案錯誤: " + (dir_ / "out.wav") + ": ", 0), 0u)
        << Engine().FailureText;
    EXPECT_EQ(ReadFile(dir_ / "out.wav"), old);
    EXPECT_EQ(HiddenFiles(dir_.path()), std::vector<std::string>{});
    // Done: the new file, with the old one's permissions.
    SetDiskFullForTesting("", 0);
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
    EXPECT_EQ(ReadWav(dir_ / "out.wav").dataSize, 44100u * 4 * 5);
    EXPECT_EQ(std::filesystem::status(dir_ / "out.wav").permissions(),
              std::filesystem::perms(0640));
    EXPECT_EQ(HiddenFiles(dir_.path()), std::vector<std::string>{});
}

TEST_F(JobTest, StopWhileReplacingLeavesTheNewPlayableFile) {
    WriteFile(dir_ / "in.wav", SimpleWav(std::vector<std::int16_t>(44100 * 2 * 120, 7), 2, 44100));
    WriteFile(dir_ / "out.wav", Bytes{'o', 'l', 'd'});
    Engine().ReplaceOutput.store(true);
    Engine().PositionMs.store(0.0);
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "out.wav", 0, kModeConvert));
    WaitForPosition(100);
    // Until the job ends the old file is what the name holds.
    EXPECT_EQ(ReadFile(dir_ / "out.wav"), (Bytes{'o', 'l', 'd'}));
    Engine().StopRequested.store(true);
    WaitForJob();
    EXPECT_FALSE(Engine().FailureShown.load());
    const WavFile w = ReadWav(dir_ / "out.wav");
    EXPECT_GT(w.dataSize, 0u);
    EXPECT_LT(w.dataSize, 44100u * 4 * 120);
    EXPECT_EQ(HiddenFiles(dir_.path()), std::vector<std::string>{});
}

TEST_F(JobTest, AFileThatTakesTheNameMeanwhileIsNotWrittenOver) {
    WriteFile(dir_ / "in.wav", SimpleWav(std::vector<std::int16_t>(44100 * 2 * 120, 7), 2, 44100));
    const Bytes theirs{'t', 'h', 'e', 'i', 'r', 's'};
    for (const bool stop : {false, true}) {
        std::filesystem::remove(dir_ / "out.wav");
        notes_.Clear();
        ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "out.wav", 0, kModeConvert));
        WriteFile(dir_ / "out.wav", theirs);  // another program, or another job of the run
        if (stop) Engine().StopRequested.store(true);
        WaitForJob();
        EXPECT_EQ(Engine().LastError.load(), 0);
        EXPECT_TRUE(Engine().FailureShown.load());
        EXPECT_EQ(Engine().FailureText,
                  "寫入檔案錯誤: " + (dir_ / "out.wav") + ": " + OutputTakenReason());
        EXPECT_EQ(ReadFile(dir_ / "out.wav"), theirs);
        EXPECT_EQ(HiddenFiles(dir_.path()), std::vector<std::string>{});
    }
}

// The hidden name is longer than the output's: a name at the folder's limit is still written.
TEST_F(JobTest, ANameAtTheLengthLimitIsWritten) {
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(1000), 2, 44100));
    std::string name;
    for (int i = 0; i < 83; ++i) name += "音";  // 249 bytes
    name += ".wav";
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / name), 0);
    EXPECT_EQ(ReadWav(dir_ / name).dataSize, 2000u);
    EXPECT_EQ(HiddenFiles(dir_.path()), std::vector<std::string>{});
}

TEST_F(JobTest, UnknownInputAndUnopenableOutput) {
    WriteFile(dir_ / "junk.bin", Bytes(5000, 0x11));
    EXPECT_EQ(Run(dir_ / "junk.bin", dir_ / "out.wav"), -kErrOpen);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.wav"));
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(100), 1, 8000));
    EXPECT_EQ(Run(dir_ / "in.wav", dir_ / "no/such/folder/out.wav"), -kErrOpen);
    // The input was not left open: the next job starts normally.
    Engine().OutputRate.store(8000);
    Engine().OutputChannels.store(1);
    EXPECT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), 0);
}

// A track entry copied off a CD, converted without its disc: nothing was read, so nothing is
// left under the output's name.
TEST_F(JobTest, ACdTrackWithoutItsDiscLeavesNoOutput) {
    const Bytes cda{'R', 'I',  'F',  'F',  0x24, 0, 0,    0, 'C', 'D',  'D',  'A',  'f', 'm',  't',
                    ' ', 0x18, 0,    0,    0,    1, 0,    5, 0,   0x34, 0x12, 0,    0,   0x98, 0x3a,
                    0,   0,    0xb8, 0x3d, 0,    0, 0x10, 1, 2,   0,    0x28, 0x1e, 3,   0};
    WriteFile(dir_ / "Track05.cda", cda);
    EXPECT_EQ(Run(dir_ / "Track05.cda", dir_ / "out.wav"), kErrOpen);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.wav"));
}

TEST_F(JobTest, WavOutputStopsAtItsSizeLimitWithCorrectSizes) {
    SetWavPayloadLimitForTesting(10002);
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(44100 * 2), 2, 44100));
    EXPECT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav"), kErrWrite);
    const Bytes out = ReadFile(dir_ / "out.wav");
    EXPECT_EQ(Get32(out, 40), 10000u);
    EXPECT_EQ(Get32(out, 4), out.size() - 8);
    EXPECT_EQ(GetLastErrorText(), "寫入檔案錯誤");
    EXPECT_EQ(GetLastErrorText(), "No errors");
}

TEST_F(JobTest, WmaJobWritesAFileOfTheInputsLength) {
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(88200), 2, 44100));  // one second
    platform::RegisterWmaOutput();
    Engine().OutputFormat.store(kFormatWma);
    const std::string out = dir_ / "out.wma";
    ASSERT_EQ(Run(dir_ / "in.wav", out), 0);
    ASSERT_TRUE(std::filesystem::exists(out));
    TRALUX_REQUIRE_TOOL("ffprobe");
    const std::string cmd =
        "ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" + out + "'";
    std::string text;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[64] = {};
        if (std::fgets(buf, sizeof buf, p)) text = buf;
        ::pclose(p);
    }
    ASSERT_FALSE(text.empty());
    EXPECT_NEAR(std::stod(text), 1.0, 2048.0 / 44100) << text;
}

TEST_F(JobTest, PreviewPlaysThroughOrReportsNoDevice) {
    EXPECT_FALSE(StartConversion(dir_ / "missing.wav", "", 0, kModePreview));
    EXPECT_EQ(Engine().LastError.exchange(0), kErrOpen);
    const auto samples = Ramp(8000);
    WriteFile(dir_ / "in.wav", SimpleWav(samples, 1, 8000));
    Engine().OutputRate.store(8000);
    Engine().OutputChannels.store(1);
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", "", 0, kModePreview));
    WaitForJob();
    EXPECT_FALSE(Engine().JobRunning.load());
    const int code = Engine().LastError.exchange(0);
    // A machine without a sound device says so; with one, the whole second was played or the
    // device's refusal of the format was shown.
    if (code != 0) {
        EXPECT_EQ(code, kErrNoSoundDevice);
    } else {
        const double pos = Engine().PositionMs.load();
        EXPECT_TRUE(std::abs(pos - 1000.0) < 50.0 || !notes_.Messages().empty()) << pos;
    }
    EXPECT_EQ(ReadFile(dir_ / "in.wav"), SimpleWav(samples, 1, 8000));
}

// A waiter with a long timeout must be woken by the job's end itself, not by a tick.
TEST_F(JobTest, AJobsEndWakesItsWaiterAndCallbackAtOnce) {
    std::atomic<int> ends{0};
    std::atomic<bool> runningSeen{false};
    SetJobEndCallback([&] {
        ends.fetch_add(1);
        if (Engine().JobRunning.load()) runningSeen.store(true);
    });
    WriteFile(dir_ / "in.wav", SimpleWav(std::vector<std::int16_t>(44100 * 2 * 120, 7), 2, 44100));
    // Rate conversion and the equalizer keep the job busy for far longer than the set-up below.
    Engine().OutputRate.store(48000);
    Engine().EqualizerOn.store(true);
    EXPECT_FALSE(StartConversion(dir_ / "missing.wav", dir_ / "out.wav", 0, kModeConvert));
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "out.wav", 0, kModeConvert));
    std::atomic<bool> waiting{false};
    auto waiter = std::async(std::launch::async, [&] {
        waiting.store(true);
        return WaitForJobEnd(std::chrono::seconds(90));
    });
    while (!waiting.load()) std::this_thread::yield();
    // Give the waiter time to block; the job must still be running when the stop comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(Engine().JobRunning.load());
    Engine().StopRequested.store(true);
    ASSERT_EQ(waiter.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(waiter.get());
    WaitForJob();
    EXPECT_EQ(ends.load(), 1);  // the refused start was no job
    EXPECT_FALSE(runningSeen.load());

    SetJobEndCallback(nullptr);
    WriteFile(dir_ / "short.wav", SimpleWav(Ramp(100), 2, 44100));
    ASSERT_EQ(Run(dir_ / "short.wav", dir_ / "short-out.wav"), 0);
    EXPECT_EQ(ends.load(), 1);
    EXPECT_TRUE(WaitForJobEnd(std::chrono::milliseconds(0)));
}

TEST_F(JobTest, CompletionIsAnnouncedInModeOne) {
    WriteFile(dir_ / "in.wav", SimpleWav(Ramp(100), 2, 44100));
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.wav", kModeConvertAnnounce), 0);
    const auto msgs = notes_.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].text, "Conversion completed");
    EXPECT_EQ(msgs[0].caption, "Quorvatix Tralux");
    notes_.Clear();
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out2.wav", kModeConvert), 0);
    EXPECT_TRUE(notes_.Messages().empty());
}

TEST_F(JobTest, ReportLastErrorShowsTheTextOnce) {
    Engine().LastError.store(kErrUnknownFormat);
    ReportLastError();
    ReportLastError();
    const auto msgs = notes_.Messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].text, "未知的檔案格式.");
    EXPECT_EQ(msgs[0].caption, "Quorvatix Tralux Error");
    EXPECT_EQ(ErrorCodeText(108), "不能初始化編/解碼器. ");
    EXPECT_EQ(ErrorCodeText(107), "不支援解壓縮.\n");
}

TEST(FileCauseTest, ErrnoMapsToTheCauseTable) {
    EXPECT_EQ(FileCauseFromErrno(ENOSPC), kCauseDiskFull);
    EXPECT_EQ(FileCauseFromErrno(ENOENT), kCauseFileNotFound);
    EXPECT_EQ(FileCauseFromErrno(ENAMETOOLONG), kCauseBadPath);
    EXPECT_EQ(FileCauseFromErrno(ENFILE), kCauseTooManyOpenFiles);
    EXPECT_EQ(FileCauseFromErrno(EROFS), kCauseAccessDenied);
    EXPECT_EQ(FileCauseFromErrno(EBADF), kCauseInvalidFile);
    EXPECT_EQ(FileCauseFromErrno(EINVAL, true), kCauseBadSeek);
    EXPECT_EQ(FileCauseFromErrno(EINVAL, false), kCauseGeneric);
    EXPECT_EQ(FileCauseFromErrno(EIO), kCauseHardIO);
    EXPECT_EQ(FileCauseFromErrno(ENOTCONN), kCauseGeneric);
    EXPECT_EQ(FileCauseText(14), "The end of file was reached. ");
    EXPECT_EQ(FileErrorMessage(99), "File I/O Error: ");
}

}  // namespace
}  // namespace tralux
