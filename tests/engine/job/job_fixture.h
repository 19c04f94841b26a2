#pragma once
// A job test's surroundings: recorded messages, stored options, a fresh folder, and the
// engine state reset before and after.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "engine/job/engine_state.h"
#include "engine/job/job.h"
#include "platform/notify/notifier.h"
#include "support/wav_builder.h"

namespace tralux::test {

class JobFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetNotifier(&notes_);
        SetOptionReader([this](std::string_view name) {
            auto it = options_.find(std::string(name));
            return it == options_.end() ? -1 : it->second;
        });
        EngineState& e = Engine();
        e.LastError.store(0);
        e.OutputFormat.store(kFormatWav);
        e.OutputRate.store(44100);
        e.OutputChannels.store(2);
        e.EqualizerOn.store(false);
        for (auto& l : e.EqualizerLevels) l.store(50);
        e.StartMs.store(0);
        e.ReplaceOutput.store(false);
        e.TagTitle = "Title";
        e.TagArtist = "Artist";
        e.TagCopyright = "Copyright";
    }
    void TearDown() override {
        Engine().StopRequested.store(true);
        WaitForJob();
        Engine().StopRequested.store(false);
        Engine().EqualizerOn.store(false);
        for (auto& l : Engine().EqualizerLevels) l.store(50);
        SetOptionReader(nullptr);
        SetNotifier(nullptr);
        SetDiskFullForTesting("", 0);
    }

    // Runs one job to its end; returns LastError (negated when the start was refused).
    int Run(const std::string& in, const std::string& out, int mode = kModeConvert) {
        if (!StartConversion(in, out, 0, mode)) return -Engine().LastError.exchange(0);
        WaitForJob();
        return Engine().LastError.load();
    }

    // Waits until the running job has produced `ms` of output (or has ended).
    static void WaitForPosition(double ms) {
        while (Engine().JobRunning.load() && Engine().PositionMs.load() < ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    TempDir dir_;
    RecordingNotifier notes_;
    std::map<std::string, int> options_;
};

// The parts of a written WAV file that the tests check.
struct WavFile {
    std::uint32_t riffSize = 0, dataSize = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::size_t fileSize = 0;
    std::vector<std::int16_t> pcm;  // the data chunk as declared (cut at the end of the file)
};

inline WavFile ReadWav(const std::string& path) {
    const Bytes b = ReadFile(path);
    WavFile w;
    w.fileSize = b.size();
    if (b.size() < 44) return w;
    w.riffSize = Get32(b, 4);
    w.channels = static_cast<std::uint16_t>(b[22] | b[23] << 8);
    w.rate = Get32(b, 24);
    w.dataSize = Get32(b, 40);
    const std::size_t n = std::min<std::size_t>(w.dataSize, b.size() - 44) / 2;
    w.pcm.resize(n);
    if (n) std::memcpy(w.pcm.data(), b.data() + 44, n * 2);
    return w;
}

}  // namespace tralux::test
