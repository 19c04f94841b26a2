// Preview through ALSA into a PulseAudio null sink: a real device that plays in real time
// without a sound card. The test starts its own server in a private runtime folder.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <thread>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "engine/playback/playback.h"
#include "platform/notify/notifier.h"
#include "support/wav_builder.h"
#include "support/require.h"

namespace tralux {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class PulseServer {
public:
    bool Start() {
        if (!test::HaveTool("pulseaudio")) return false;
        char tmpl[] = "/tmp/tralux-pulse-XXXXXX";
        if (!::mkdtemp(tmpl)) return false;
        dir_ = tmpl;
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("HOME", dir_.c_str(), 1);  // the server keeps its cookie there
        const std::string cmd =
            "pulseaudio -D -n --exit-idle-time=-1 --load='module-null-sink sink_name=null' "
            "--load=module-native-protocol-unix >/dev/null 2>&1";
        if (std::system(cmd.c_str()) != 0) return false;
        const auto deadline = Clock::now() + 5s;
        while (!std::filesystem::exists(dir_ + "/pulse/native") && Clock::now() < deadline)
            std::this_thread::sleep_for(20ms);
        std::ifstream pidFile(dir_ + "/pulse/pid");
        pidFile >> pid_;
        return pid_ > 0 && std::filesystem::exists(dir_ + "/pulse/native");
    }
    ~PulseServer() {
        if (pid_ > 0) ::kill(pid_, SIGTERM);
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }

private:
    std::string dir_;
    pid_t pid_ = 0;
};

class PulsePreviewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new PulseServer;
        ready_ = server_->Start();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        if (!ready_) {
            if (::tralux::test::InCi()) FAIL() << "could not start a PulseAudio null sink";
            GTEST_SKIP() << "no PulseAudio server";
        }
        setenv("TRALUX_AUDIO_DEVICE", "pulse", 1);
        SetNotifier(&notes_);
        EngineState& e = Engine();
        e.OutputRate.store(44100);
        e.OutputChannels.store(2);
        e.EqualizerOn.store(false);
        e.StartMs.store(0);
        e.LastError.store(0);
    }
    void TearDown() override {
        Engine().StopRequested.store(true);
        WaitForJob();
        Engine().StopRequested.store(false);
        DiscardPlayback();
        WaitForPlaybackClosed();
        unsetenv("TRALUX_AUDIO_DEVICE");
        SetNotifier(nullptr);
    }
    std::string Tone(double seconds) {
        std::vector<std::int16_t> s(static_cast<std::size_t>(44100 * seconds) * 2);
        for (std::size_t i = 0; i < s.size(); ++i)
            s[i] = static_cast<std::int16_t>((i % 100) * 100);
        const std::string path = dir_ / "tone.wav";
        test::WriteFile(path, test::SimpleWav(s, 2, 44100));
        return path;
    }

    static inline PulseServer* server_ = nullptr;
    static inline bool ready_ = false;
    test::TempDir dir_;
    RecordingNotifier notes_;
};

TEST_F(PulsePreviewTest, RunsToTheEndAtRealSpeed) {
    const std::string in = Tone(3.0);
    const auto start = Clock::now();
    ASSERT_TRUE(StartConversion(in, "", 0, kModePreview));
    struct Sample {
        double wallMs, positionMs;
    };
    std::vector<Sample> samples;
    while (Engine().JobRunning.load()) {
        const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        samples.push_back({wall, PlayingPositionMs()});
        std::this_thread::sleep_for(20ms);
    }
    WaitForJob();
    const double total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    EXPECT_EQ(Engine().LastError.load(), 0);
    EXPECT_TRUE(notes_.Messages().empty());
    // The job lasts as long as the sound, not as long as decoding it. The null sink holds
    // the first buffers for up to its two-second latency before it starts.
    EXPECT_GT(total, 2950);
    EXPECT_LT(total, 6500);
    // The heard position never runs backwards, and once the sound has started it moves at
    // the wall clock's pace.
    const Sample* a = nullptr;
    const Sample* b = nullptr;
    for (std::size_t i = 1; i < samples.size(); ++i) {
        EXPECT_GE(samples[i].positionMs, samples[i - 1].positionMs - 1) << samples[i].wallMs;
        if (!a && samples[i].positionMs >= 300) a = &samples[i];
        if (samples[i].positionMs <= 2700) b = &samples[i];
    }
    ASSERT_TRUE(a && b && b->wallMs - a->wallMs > 1500);
    const double speed = (b->positionMs - a->positionMs) / (b->wallMs - a->wallMs);
    EXPECT_NEAR(speed, 1.0, 0.1);
    EXPECT_GT(samples.back().positionMs, 2800);
    EXPECT_LT(samples.back().positionMs, 3300);
}

TEST_F(PulsePreviewTest, StopEndsTheJobWithin200Ms) {
    const std::string in = Tone(10.0);
    ASSERT_TRUE(StartConversion(in, "", 0, kModePreview));
    std::this_thread::sleep_for(1s);
    ASSERT_TRUE(Engine().JobRunning.load());
    const auto stop = Clock::now();
    Engine().StopRequested.store(true);
    while (Engine().JobRunning.load() && Clock::now() - stop < 5s) std::this_thread::sleep_for(1ms);
    const auto took = std::chrono::duration<double, std::milli>(Clock::now() - stop).count();
    EXPECT_LT(took, 200);
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    // What was queued plays out in the background and the device closes after it.
    const auto closing = Clock::now();
    WaitForPlaybackClosed();
    EXPECT_LT(Clock::now() - closing, 5s);  // half a second of sound behind the sink's latency
}

TEST_F(PulsePreviewTest, AlsasNullDeviceTakesEverythingWithoutTrouble) {
    setenv("TRALUX_AUDIO_DEVICE", "null", 1);
    const std::string in = Tone(2.0);
    ASSERT_TRUE(StartConversion(in, "", 0, kModePreview));
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    EXPECT_TRUE(notes_.Messages().empty());
}

TEST_F(PulsePreviewTest, UnknownDeviceFallsBackToTheDefault) {
    // With the server running, ALSA's default device is the server (pulseaudio's ALSA hook).
    setenv("TRALUX_AUDIO_DEVICE", "tralux_no_such_device", 1);
    ASSERT_TRUE(StartConversion(Tone(0.3), "", 0, kModePreview));
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    EXPECT_TRUE(notes_.Messages().empty());
}

// The command-line front end, as a user runs it.
pid_t SpawnPlay(const std::string& file, const std::string& config) {
    const std::string exe = std::string(TRALUX_BINARY_DIR) + "/cli/tralux-cli";
    std::vector<std::string> args = {exe, "--config", config, "play", file};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = 0;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(PulsePreviewTest, CliPlaysAnMp3ToTheEnd) {
    const std::string wav = Tone(2.0), mp3 = dir_ / "song.mp3";
    if (!test::HaveTool("lame")) {
        if (::tralux::test::InCi()) FAIL() << "lame missing under CI";
        GTEST_SKIP() << "lame not installed";
    }
    ASSERT_EQ(std::system(("lame --quiet -b 128 '" + wav + "' '" + mp3 + "'").c_str()), 0);
    const auto start = Clock::now();
    const pid_t pid = SpawnPlay(mp3, dir_ / "config");
    ASSERT_GT(pid, 0);
    EXPECT_EQ(WaitExit(pid), 0);
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_GT(took, 1.95);  // never faster than the sound itself
    EXPECT_LT(took, 6.0);
}

TEST_F(PulsePreviewTest, CliInterruptStopsAtOnce) {
    const pid_t pid = SpawnPlay(Tone(10.0), dir_ / "config");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(2500ms);
    const auto stop = Clock::now();
    ::kill(pid, SIGINT);
    EXPECT_EQ(WaitExit(pid), 130);
    EXPECT_LT(Clock::now() - stop, 1s);
}

}  // namespace
}  // namespace tralux
