#include "engine/playback/playback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <thread>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "fake_wave_out.h"
#include "platform/notify/notifier.h"
#include "support/wav_builder.h"
#include "support/require.h"

namespace tralux {
namespace {

using namespace std::chrono_literals;
using test::FakeWaveOut;

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetWaveOutForTesting(&fake_);
        SetNotifier(&notes_);
        SetPlaybackStallLimitForTesting(300);
        EngineState& e = Engine();
        e.OutputMode.store(kModePreview);
        e.OutputRate.store(44100);
        e.OutputChannels.store(2);
        e.StopRequested.store(false);
        e.PlaybackStartMs.store(0);
        e.LastError.store(0);
        e.EqualizerOn.store(false);
        e.StartMs.store(0);
        ResetPlayback();
    }
    void TearDown() override {
        Engine().StopRequested.store(true);
        WaitForJob();
        Engine().StopRequested.store(false);
        fake_.autoComplete = true;
        while (fake_.CompleteOldest()) {
        }
        ClosePlayback(false);
        WaitForPlaybackClosed();
        ResetPlayback();
        SetPlaybackStallLimitForTesting(0);
        SetWaveOutForTesting(nullptr);
        SetNotifier(nullptr);
    }

    void Open() {
        StreamInfo info;
        info.SampleRate = 22050;
        info.Channels = 1;
        PrepareOutputFormat(info);
    }
    static std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t fill) {
        return std::vector<std::uint8_t>(n, fill);
    }
    std::size_t Queue(const std::vector<std::uint8_t>& b) {
        return QueuePlayback(b.data(), b.size());
    }
    std::vector<std::string> Texts() {
        std::vector<std::string> t;
        for (const Message& m : notes_.Messages()) t.push_back(m.text);
        return t;
    }

    FakeWaveOut fake_;
    RecordingNotifier notes_;
};

int CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const JobError& e) {
        return e.code();
    }
    return -1;
}

TEST_F(PlaybackTest, FormatRecordIsPlainPcmWithoutExtraBytes) {
    Engine().OutputRate.store(22050);
    Engine().OutputChannels.store(1);
    StreamInfo info;
    info.SampleRate = 48000;
    info.Channels = 2;
    audio::WaveFormat f;
    ASSERT_TRUE(PrepareOutputFormat(false, info, f));
    EXPECT_EQ(f.FormatTag, 1);
    EXPECT_EQ(f.Channels, 1);
    EXPECT_EQ(f.SamplesPerSec, 22050u);
    EXPECT_EQ(f.AvgBytesPerSec, 44100u);
    EXPECT_EQ(f.BlockAlign, 2);
    EXPECT_EQ(f.BitsPerSample, 16);
    EXPECT_EQ(f.ExtraSize, 0);
    EXPECT_EQ(Engine().SourceRate.load(), 48000u);
    EXPECT_EQ(Engine().SourceChannels.load(), 2);
    EXPECT_EQ(QueueThreshold(), 11025u);  // a quarter second of 16-bit mono
    EXPECT_TRUE(fake_.Events().empty());  // no device without openDevice
}

TEST_F(PlaybackTest, OpensTheLastDeviceAndFallsBackToTheDefault) {
    fake_.devices = 3;
    Open();
    EXPECT_EQ(fake_.Events(), (std::vector<std::string>{"query 2", "open 2"}));
    EXPECT_EQ(fake_.lastFormat.ExtraSize, 0);
    ClosePlayback(true);

    fake_.events.clear();
    fake_.openResult[2] = audio::kWaveAllocated;
    Open();
    EXPECT_EQ(fake_.Events(),
              (std::vector<std::string>{"query 2", "open 2", "query -1", "open -1"}));
    EXPECT_TRUE(Texts().empty());
}

TEST_F(PlaybackTest, NoDeviceIs109AndARefusedFormatShowsTheDeviceText) {
    fake_.devices = 0;
    EXPECT_EQ(CodeOf([&] { Open(); }), kErrNoSoundDevice);

    fake_.devices = 1;
    fake_.queryResult[0] = audio::kWaveBadFormat;
    fake_.mapperQuery = audio::kWaveAllocated;
    EXPECT_EQ(CodeOf([&] { Open(); }), 0);
    EXPECT_EQ(Texts(),
              (std::vector<std::string>{"Your Sound Card is used in another application."}));
    EXPECT_EQ(QueuedBufferCount(), 0);
    EXPECT_EQ(CodeOf([&] { Queue(Bytes(4, 0)); }), kErrPlayback);  // nothing open
}

TEST_F(PlaybackTest, DeviceErrorTexts) {
    EXPECT_EQ(DeviceErrorText(0), "no error");
    EXPECT_EQ(DeviceErrorText(2), "device ID out of range");
    EXPECT_EQ(DeviceErrorText(4), "Your Sound Card is used in another application.");
    EXPECT_EQ(DeviceErrorText(8), "function isn't supported");
    EXPECT_EQ(DeviceErrorText(20), "driver does not call DriverCallback");
    EXPECT_EQ(DeviceErrorText(21), "unknown MM error");
    EXPECT_EQ(DeviceErrorText(31), "unknown MM error");
    EXPECT_EQ(DeviceErrorText(32), "unsupported wave format");
    EXPECT_EQ(DeviceErrorText(33), "still something playing");
    EXPECT_EQ(DeviceErrorText(34), "header not prepared");
    EXPECT_EQ(DeviceErrorText(35), "device is synchronous");
    EXPECT_EQ(DeviceErrorText(36), "unknown MM error");
    EXPECT_EQ(DeviceErrorText(-1), "unknown MM error");
    ShowDeviceError(4);
    ASSERT_EQ(notes_.Messages().size(), 1u);
    EXPECT_EQ(notes_.Messages()[0].caption, "Quorvatix Tralux");
}

TEST_F(PlaybackTest, QueuesAQuarterSecondAndKeepsAtMostTwoBuffers) {
    Open();
    // 44100 Hz stereo: 44100 bytes make a buffer.
    EXPECT_EQ(Queue(Bytes(44096, 1)), 0u);
    EXPECT_EQ(QueuedBufferCount(), 0);
    EXPECT_EQ(Queue(Bytes(4, 1)), 4u);
    EXPECT_EQ(QueuedBufferCount(), 1);
    // One second of WAV input goes out as one buffer.
    EXPECT_EQ(Queue(Bytes(176400, 2)), 176400u);
    EXPECT_EQ(QueuedBufferCount(), 2);
    auto third = std::async(std::launch::async, [&] { return Queue(Bytes(176400, 3)); });
    EXPECT_EQ(third.wait_for(100ms), std::future_status::timeout);  // waits for the device
    ASSERT_TRUE(fake_.CompleteOldest());
    ASSERT_EQ(third.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(third.get(), 176400u);
    EXPECT_EQ(QueuedBufferCount(), 2);
    const auto w = fake_.Written();
    ASSERT_EQ(w.size(), 3u);
    EXPECT_EQ(w[0].size(), 44100u);
    EXPECT_EQ(w[1], Bytes(176400, 2));
    EXPECT_EQ(w[2], Bytes(176400, 3));
}

TEST_F(PlaybackTest, StopDuringTheWaitLeavesThePlayingBuffersAlone) {
    Open();
    Queue(Bytes(44100, 0xA1));
    Queue(Bytes(44100, 0xB2));
    ASSERT_EQ(QueuedBufferCount(), 2);
    auto blocked = std::async(std::launch::async, [&] { return Queue(Bytes(44100, 0xCC)); });
    std::this_thread::sleep_for(50ms);
    const auto start = std::chrono::steady_clock::now();
    Engine().StopRequested.store(true);
    ASSERT_EQ(blocked.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(blocked.get(), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    // The device still reads the first buffer: it must hold what was written.
    ASSERT_NE(fake_.current, nullptr);
    ASSERT_EQ(fake_.Written().size(), 2u);
    ASSERT_EQ(fake_.current->Oldest()->Bytes, 44100u);
    EXPECT_EQ(std::vector<std::uint8_t>(fake_.current->Oldest()->Data,
                                        fake_.current->Oldest()->Data + 44100),
              Bytes(44100, 0xA1));
}

TEST_F(PlaybackTest, StopWithTwoBuffersQueuedReturnsAtOnceAndBothPlayOut) {
    Open();
    Queue(Bytes(44100, 1));
    Queue(Bytes(44100, 2));
    const auto start = std::chrono::steady_clock::now();
    ClosePlayback(false);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 200ms);
    std::this_thread::sleep_for(30ms);
    auto events = fake_.Events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "close"), 0);  // still playing out
    ASSERT_TRUE(fake_.CompleteOldest());
    ASSERT_TRUE(fake_.CompleteOldest());
    WaitForPlaybackClosed();
    events = fake_.Events();
    EXPECT_EQ(events, (std::vector<std::string>{"query 0", "open 0", "write 44100", "write 44100",
                                                "done 44100", "done 44100", "close"}));
}

TEST_F(PlaybackTest, DiscardSilencesAStoppedPreview) {
    Open();
    Queue(Bytes(44100, 1));
    Queue(Bytes(44100, 2));
    ClosePlayback(false);
    DiscardPlayback();
    WaitForPlaybackClosed();
    const auto events = fake_.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "reset"), events.end());
    EXPECT_EQ(events.back(), "close");
}

TEST_F(PlaybackTest, FailingWriteIsNotCountedAndCloseDoesNotHang) {
    Open();
    fake_.writeResult = audio::kWaveError;
    EXPECT_EQ(CodeOf([&] { Queue(Bytes(44100, 1)); }), kErrOpenDevice);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Error in waveOutWrite"}));
    EXPECT_EQ(QueuedBufferCount(), 0);
    const auto start = std::chrono::steady_clock::now();
    ClosePlayback(true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(PlaybackTest, FailingPrepareIs110) {
    Open();
    fake_.prepareResult = audio::kWaveNoMemory;
    EXPECT_EQ(CodeOf([&] { Queue(Bytes(44100, 1)); }), kErrOpenDevice);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Error in prepare header"}));
    EXPECT_EQ(QueuedBufferCount(), 0);
}

TEST_F(PlaybackTest, TheLastPartialBufferIsPlayed) {
    Open();
    Queue(Bytes(44100, 1));
    Queue(Bytes(1000, 7));
    fake_.autoComplete = true;
    while (fake_.CompleteOldest()) {
    }
    ClosePlayback(true);
    const auto w = fake_.Written();
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[1], Bytes(1000, 7));
    EXPECT_EQ(fake_.Events().back(), "close");
}

TEST_F(PlaybackTest, ASilentDeviceIsCutOffNotWaitedForForever) {
    Open();
    Queue(Bytes(44100, 1));
    Queue(Bytes(44100, 2));
    // The producer gives up on a device that stopped finishing buffers.
    EXPECT_EQ(CodeOf([&] { Queue(Bytes(44100, 3)); }), kErrPlayback);
    const auto start = std::chrono::steady_clock::now();
    ClosePlayback(true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);  // 0.5 s of sound + the 0.3 s limit
    const auto events = fake_.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), "reset"), events.end());
    EXPECT_EQ(events.back(), "close");
}

TEST_F(PlaybackTest, ForeignHeaderIsReportedAndCountingGoesOn) {
    Open();
    Queue(Bytes(44100, 1));
    ASSERT_EQ(QueuedBufferCount(), 1);
    audio::WaveHeader stranger;
    fake_.current->CallDone(&stranger);
    EXPECT_EQ(QueuedBufferCount(), 0);
    ASSERT_EQ(notes_.Messages().size(), 1u);
    EXPECT_EQ(notes_.Messages()[0].text, "HEADER NOT FOUNT");
    EXPECT_EQ(notes_.Messages()[0].caption, "InternalError");
}

TEST_F(PlaybackTest, ClockFollowsWhatTheDeviceHasPlayed) {
    Engine().PlaybackStartMs.store(5000);
    Open();
    EXPECT_EQ(Engine().ClockOriginMs.load(), 0u);
    Queue(Bytes(44100, 1));
    EXPECT_NE(Engine().ClockOriginMs.load(), 0u);
    EXPECT_NEAR(PlayingPositionMs(), 5000, 25);
    fake_.playedFrames = 22050;  // half a second heard
    EXPECT_NEAR(PlayingPositionMs(), 5500, 25);
    EXPECT_NEAR(static_cast<double>(PlaybackTickMs() - Engine().ClockOriginMs.load()), 5500, 25);
    // A finished buffer re-measures too.
    fake_.playedFrames = 44100;
    fake_.CompleteOldest();
    EXPECT_NEAR(static_cast<double>(PlaybackTickMs() - Engine().ClockOriginMs.load()), 6000, 25);
}

// The whole preview job over the fake device: every sample reaches it, the tail included.
TEST_F(PlaybackTest, PreviewJobPlaysEverySample) {
    test::TempDir dir;
    std::vector<std::int16_t> samples(44100 * 2 + 1234 * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<std::int16_t>(i * 7);
    test::WriteFile(dir / "in.wav", test::SimpleWav(samples, 2, 44100));
    fake_.autoComplete = true;
    ASSERT_TRUE(StartConversion(dir / "in.wav", "", 0, kModePreview));
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    std::vector<std::uint8_t> heard;
    for (const auto& b : fake_.Written()) heard.insert(heard.end(), b.begin(), b.end());
    EXPECT_EQ(heard, test::Pcm16(samples));
    EXPECT_EQ(fake_.Events().back(), "close");
}

TEST_F(PlaybackTest, PreviewWithoutDeviceEndsWith109) {
    test::TempDir dir;
    test::WriteFile(dir / "in.wav", test::SimpleWav(std::vector<std::int16_t>(8000, 5), 2, 44100));
    fake_.devices = 0;
    ASSERT_TRUE(StartConversion(dir / "in.wav", "", 0, kModePreview));
    WaitForJob();
    EXPECT_EQ(Engine().LastError.exchange(0), kErrNoSoundDevice);
}

// The real ALSA layer on a machine without a sound card and without a named device.
TEST(AlsaWithoutCard, NoDeviceMeans109) {
    if (test::SoundCardListed()) GTEST_SKIP() << "this machine has a sound card";
    const char* named = std::getenv("TRALUX_AUDIO_DEVICE");
    const std::string saved = named ? named : "";
    unsetenv("TRALUX_AUDIO_DEVICE");
    EXPECT_EQ(audio::AlsaWaveOut().DeviceCount(), 0);
    Engine().OutputMode.store(kModePreview);
    StreamInfo info;
    info.SampleRate = 44100;
    info.Channels = 2;
    EXPECT_EQ(CodeOf([&] { PrepareOutputFormat(info); }), kErrNoSoundDevice);
    if (named) setenv("TRALUX_AUDIO_DEVICE", saved.c_str(), 1);
}

}  // namespace
}  // namespace tralux
