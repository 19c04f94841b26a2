// The engine driven the way the window drives it: one thread starts jobs, polls the flags and
// the position on a timer, moves the equalizer sliders and asks for stops, never blocking on
// the worker. Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>

#include "engine/dsp/dsp_test_util.h"
#include "engine/job/errors.h"
#include "engine/job/job_fixture.h"

namespace tralux {
namespace {

using namespace test;

class GuiThreadTest : public JobFixture {};

TEST_F(GuiThreadTest, StartPollStopAndEqualizerWhileTheWorkerRuns) {
    const std::size_t frames = 44100 * 4 + 11;
    const auto tone = dsptest::Sine(1000, 44100, frames, 8000);
    WriteFile(dir_ / "in.wav", SimpleWav(dsptest::Interleave(tone, tone), 2, 44100));
    options_["PlaceClipInfo"] = 0;
    EngineState& e = Engine();
    e.OutputRate.store(22050);
    e.EqualizerOn.store(true);

    std::atomic<int> failures{0};
    // The window's thread: everything it does goes through the shared flags.
    std::thread gui([&] {
        for (int job = 0; job < 6; ++job) {
            const std::string out = dir_ / ("out" + std::to_string(job) + ".wav");
            if (!StartConversion(dir_ / "in.wav", out, job, kModeConvert)) {
                ++failures;
                continue;
            }
            if (StartConversion(dir_ / "in.wav", dir_ / "second.wav", 0, kModeConvert)) ++failures;
            double last = 0;
            int backwards = 0;
            for (int tick = 0; e.JobRunning.load(); ++tick) {
                // The position runs forwards, after the worker's reset from the last job's end.
                const double pos = e.PositionMs.load();
                if (pos < last && ++backwards > 1) ++failures;
                last = pos;
                e.EqualizerLevels[static_cast<std::size_t>(tick % 11)].store((tick * 37) % 100);
                e.EqualizerChanged.store(true);
                if (tick % 5 == 0) e.EqualizerOn.store(!e.EqualizerOn.load());
                if (job % 2 == 1 && tick == 3) e.StopRequested.store(true);
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            }
            if (e.LastError.exchange(0) != 0) ++failures;
        }
    });
    gui.join();
    WaitForJob();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "second.wav"));
    for (int job = 0; job < 6; ++job) {
        const WavFile w = ReadWav(dir_ / ("out" + std::to_string(job) + ".wav"));
        EXPECT_EQ(w.riffSize, w.fileSize - 8) << job;
        // Finished jobs are whole whatever the sliders did; stopped ones (odd, unless they ended
        // first) are shorter and carry the credit chunk.
        const std::uint32_t whole = (frames + 1) / 2 * 4;
        if (job % 2 == 0) {
            EXPECT_EQ(w.dataSize, whole) << job;
        }
        if (w.dataSize == whole) {
            EXPECT_EQ(w.fileSize, 44u + w.dataSize) << job;
        } else {
            EXPECT_GT(w.fileSize, 44u + w.dataSize) << job;
        }
    }
}

// Two threads racing to start: exactly one job runs.
TEST_F(GuiThreadTest, OnlyOneOfTwoRacingStartsWins) {
    // Ten minutes: the winner's job cannot end before the loser tries.
    WriteFile(dir_ / "in.wav", SimpleWav(std::vector<std::int16_t>(8000 * 600, 3), 1, 8000));
    Engine().ReplaceOutput.store(true);  // each round writes the same names
    for (int round = 0; round < 20; ++round) {
        std::atomic<int> wins{0};
        std::atomic<bool> go{false};
        auto racer = [&](const std::string& out) {
            while (!go.load()) std::this_thread::yield();
            if (StartConversion(dir_ / "in.wav", out, 0, kModeConvert)) ++wins;
        };
        std::thread a(racer, dir_ / "a.wav"), b(racer, dir_ / "b.wav");
        go.store(true);
        a.join();
        b.join();
        EXPECT_EQ(wins.load(), 1) << round;
        Engine().StopRequested.store(true);
        WaitForJob();
        Engine().StopRequested.store(false);
    }
}

}  // namespace
}  // namespace tralux
