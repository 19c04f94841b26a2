// Jobs running side by side share nothing: each output is byte for byte what the same job
// writes alone.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/job/file.h"
#include "engine/job/job.h"
#include "engine/job/job_pool.h"
#include "platform/notify/notifier.h"
#include "support/wav_builder.h"

namespace tralux {
namespace {

using test::Bytes;

struct Case {
    std::string input;
    int format;
    std::uint32_t outputRate;
    std::uint16_t outputChannels;
    bool equalizer;
};

class ParallelJobsTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetNotifier(&notes_);
        SetOptionReader([](std::string_view) { return -1; });
        // Inputs unlike one another: rates, channel counts, lengths and tones.
        const std::uint32_t rates[] = {44100, 22050, 48000, 32000};
        for (int i = 0; i < 4; ++i) {
            const int channels = i % 2 ? 1 : 2;
            const std::size_t frames = rates[i] / 2 + 997 * static_cast<std::size_t>(i);
            std::vector<std::int16_t> pcm(frames * channels);
            for (std::size_t f = 0; f < frames; ++f)
                for (int c = 0; c < channels; ++c)
                    pcm[f * channels + c] = static_cast<std::int16_t>(
                        8000 * std::sin(2 * M_PI * (300.0 + 170 * i + 90 * c) * f / rates[i]));
            inputs_.push_back(dir_ / ("in" + std::to_string(i) + ".wav"));
            test::WriteFile(inputs_.back(),
                            test::SimpleWav(pcm, static_cast<std::uint16_t>(channels), rates[i]));
        }
    }
    void TearDown() override {
        SetOptionReader(nullptr);
        SetNotifier(nullptr);
    }

    std::vector<Case> Cases(int count) const {
        std::vector<Case> cases;
        for (int i = 0; i < count; ++i)
            cases.push_back({inputs_[i % 4], i % 2 ? kFormatMp3 : kFormatWav,
                             i % 3 ? 44100u : 32000u, static_cast<std::uint16_t>(i % 4 ? 2 : 1),
                             i % 3 == 1});
        return cases;
    }

    static void Configure(EngineState& e, const Case& c, int i) {
        e.OutputFormat.store(c.format);
        e.OutputRate.store(c.outputRate);
        e.OutputChannels.store(c.outputChannels);
        e.EqualizerOn.store(c.equalizer);
        for (std::size_t b = 0; b < e.EqualizerLevels.size(); ++b)
            e.EqualizerLevels[b].store(c.equalizer ? static_cast<int>(20 + 5 * b) : 50);
        e.TagTitle = "Title " + std::to_string(i);
        e.TagArtist = "Artist";
    }

    std::string OutputName(const Case& c, int i, const std::string& run) const {
        return dir_ / (run + std::to_string(i) + (c.format == kFormatMp3 ? ".mp3" : ".wav"));
    }

    // Runs the cases `width` at a time, each on its own job; returns the outputs' bytes.
    std::vector<Bytes> RunAll(const std::vector<Case>& cases, std::size_t width,
                              const std::string& run) {
        std::vector<Bytes> out(cases.size());
        for (std::size_t from = 0; from < cases.size(); from += width) {
            std::vector<std::unique_ptr<Job>> jobs;
            for (std::size_t i = from; i < std::min(cases.size(), from + width); ++i) {
                jobs.push_back(std::make_unique<Job>());
                Configure(jobs.back()->State(), cases[i], static_cast<int>(i));
                EXPECT_TRUE(jobs.back()->Start(cases[i].input,
                                               OutputName(cases[i], static_cast<int>(i), run), 0,
                                               kModeConvert));
            }
            for (std::size_t k = 0; k < jobs.size(); ++k) {
                jobs[k]->Wait();
                EXPECT_EQ(jobs[k]->State().LastError.load(), 0) << from + k;
                EXPECT_FALSE(jobs[k]->State().JobRunning.load());
            }
            for (std::size_t i = from; i < std::min(cases.size(), from + width); ++i)
                out[i] = test::ReadFile(OutputName(cases[i], static_cast<int>(i), run));
        }
        return out;
    }

    test::TempDir dir_;
    RecordingNotifier notes_;
    std::vector<std::string> inputs_;
};

TEST_F(ParallelJobsTest, TwoAndEightAtOnceWriteWhatEachWritesAlone) {
    const std::vector<Case> cases = Cases(8);
    const std::vector<Bytes> alone = RunAll(cases, 1, "alone");
    for (std::size_t i = 0; i < alone.size(); ++i) ASSERT_GT(alone[i].size(), 1000u) << i;
    const std::vector<Bytes> pairs = RunAll(cases, 2, "pair");
    const std::vector<Bytes> eight = RunAll(cases, 8, "eight");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_TRUE(pairs[i] == alone[i]) << "case " << i;
        EXPECT_TRUE(eight[i] == alone[i]) << "case " << i;
    }
    EXPECT_TRUE(notes_.Messages().empty());
}

// The pool as both front ends drive it: never more than its width at once, every item handed
// back exactly once, outputs as the jobs write them alone.
TEST_F(ParallelJobsTest, APoolRunsEachItemOnceAtMostWidthAtATime) {
    const std::vector<Case> cases = Cases(7);
    const std::vector<Bytes> alone = RunAll(cases, 1, "alone");
    JobPool pool(3);
    std::vector<int> ended(cases.size(), 0);
    std::size_t next = 0, most = 0;
    while (next < cases.size() || pool.Busy()) {
        for (const JobPool::Slot& slot : pool.TakeEnded()) {
            EXPECT_EQ(slot.job->State().LastError.load(), 0);
            ++ended[slot.item];
        }
        while (next < cases.size()) {
            Job* job = pool.Free();
            if (!job) break;
            Configure(job->State(), cases[next], static_cast<int>(next));
            ASSERT_TRUE(job->Start(cases[next].input,
                                   OutputName(cases[next], static_cast<int>(next), "pool"), 0,
                                   kModeConvert));
            pool.Occupy(*job, next++);
        }
        most = std::max(most, pool.Running().size());
        pool.WaitForEnd(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(most, 3u);
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(ended[i], 1) << i;
        EXPECT_TRUE(test::ReadFile(OutputName(cases[i], static_cast<int>(i), "pool")) == alone[i])
            << i;
    }
}

// Stopping one job leaves its neighbour running to a complete file.
TEST_F(ParallelJobsTest, AStopReachesOnlyItsOwnJob) {
    const std::vector<Case> cases = Cases(2);
    const std::vector<Bytes> alone = RunAll(cases, 1, "alone");
    const std::string longInput = dir_ / "long.wav";
    test::WriteFile(longInput,
                    test::SimpleWav(std::vector<std::int16_t>(44100 * 2 * 20, 1000), 2, 44100));
    Job stopped, kept;
    Configure(stopped.State(), cases[0], 0);
    stopped.State().OutputFormat.store(kFormatWav);
    Configure(kept.State(), cases[1], 1);
    ASSERT_TRUE(stopped.Start(longInput, dir_ / "stopped.wav", 0, kModeConvert));
    ASSERT_TRUE(kept.Start(cases[1].input, OutputName(cases[1], 1, "kept"), 0, kModeConvert));
    stopped.State().StopRequested.store(true);
    stopped.Wait();
    kept.Wait();
    EXPECT_EQ(test::ReadFile(OutputName(cases[1], 1, "kept")), alone[1]);
    const Bytes cut = test::ReadFile(dir_ / "stopped.wav");
    EXPECT_LT(cut.size(), 44100u * 4 * 20);
    ASSERT_GE(cut.size(), 44u);  // still a WAV file
    EXPECT_EQ(std::string(cut.begin(), cut.begin() + 4), "RIFF");
    EXPECT_EQ(test::Get32(cut, 4), cut.size() - 8);
}

// A program told to end stops every job at once; each leaves a finished file.
TEST_F(ParallelJobsTest, StopAllJobsFinishesEveryFile) {
    const std::string longInput = dir_ / "long.wav";
    test::WriteFile(longInput,
                    test::SimpleWav(std::vector<std::int16_t>(44100 * 2 * 60, 1000), 2, 44100));
    Job a, b;
    for (Job* j : {&a, &b}) {
        Configure(j->State(), {longInput, kFormatMp3, 44100, 2, true}, 0);
        ASSERT_TRUE(j->Start(longInput, dir_ / (j == &a ? "a.mp3" : "b.mp3"), 0, kModeConvert));
    }
    StopAllJobs();
    ASSERT_TRUE(WaitForAllJobs(std::chrono::seconds(20)));
    for (Job* j : {&a, &b}) {
        EXPECT_EQ(j->State().LastError.load(), 0);
        EXPECT_LT(j->State().PositionMs.load(), 60000.0);  // stopped, not run to the end
    }
    EXPECT_GT(std::filesystem::file_size(dir_ / "a.mp3"), 0u);
    EXPECT_GT(std::filesystem::file_size(dir_ / "b.mp3"), 0u);
}

// A job that fails on a full disk removes its output and says so on its own state only.
TEST_F(ParallelJobsTest, AFailureStaysWithItsJob) {
    const std::vector<Case> cases = Cases(2);
    const std::vector<Bytes> alone = RunAll(cases, 1, "alone");
    SetDiskFullForTesting("full.wav", 4096);
    Job failing, kept;
    Configure(failing.State(), cases[0], 0);
    Configure(kept.State(), cases[1], 1);
    ASSERT_TRUE(failing.Start(cases[0].input, dir_ / "full.wav", 0, kModeConvert));
    ASSERT_TRUE(kept.Start(cases[1].input, OutputName(cases[1], 1, "kept"), 0, kModeConvert));
    failing.Wait();
    kept.Wait();
    SetDiskFullForTesting("", 0);
    EXPECT_TRUE(failing.State().FailureShown.load());
    EXPECT_FALSE(std::filesystem::exists(dir_ / "full.wav"));
    EXPECT_FALSE(kept.State().FailureShown.load());
    EXPECT_EQ(kept.State().LastError.load(), 0);
    EXPECT_EQ(test::ReadFile(OutputName(cases[1], 1, "kept")), alone[1]);
    ASSERT_EQ(notes_.Messages().size(), 1u);
    EXPECT_NE(notes_.Messages()[0].text.find("full.wav"), std::string::npos);
}

}  // namespace
}  // namespace tralux
