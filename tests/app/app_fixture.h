#pragma once
// Shared pieces of the window tests: one QApplication, a stand-in engine, recorded messages and
// a private settings folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>

#include "app/settings/settings.h"
#include "app/window/backend.h"
#include "app/window/startup.h"
#include "engine/job/engine_state.h"
#include "engine/job/job.h"
#include "platform/notify/notifier.h"

namespace tralux::app::test {

inline QApplication& App() {
    static int argc = 1;
    static char name[] = "tralux_app_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new QApplication(argc, argv);
        ApplyAppStyle(*a);
        return a;
    }();
    return *app;
}

// Jobs that end by themselves after `jobMs`, or run until StopRequested when `untilStopped`.
class FakeBackend : public Backend {
public:
    struct StartCall {
        std::string input, output;
        int mode;
        std::uint32_t rate;
        int channels;
        bool equalizerOn;
        bool replaces;  // the job may replace a file at the output's name
    };
    std::map<std::string, StreamInfo> files;
    std::vector<std::string> drives;
    std::map<std::string, std::vector<std::string>> folders;
    std::vector<StartCall> starts;
    std::vector<int> reported;
    std::vector<std::string> probed;
    bool previewRunsUntilStopped = true;
    int jobMs = 20;
    std::map<std::string, int> jobMsOf;  // per input, for a batch's own jobs
    int failJobWith = 0;
    std::string failFileText;  // the default job fails on a file: the engine's message, shown
    std::function<void()> onProbe;

    ~FakeBackend() override { Join(); }

    bool Probe(const std::string& path, StreamInfo& info) override {
        probed.push_back(path);
        if (onProbe) onProbe();
        auto it = files.find(path);
        if (it == files.end()) {
            Engine().LastError.store(103);
            return false;
        }
        info = it->second;
        return true;
    }
    bool Start(const std::string& in, const std::string& out, int mode) override {
        Join();
        EngineState& e = Engine();
        starts.push_back({in, out, mode, e.OutputRate.load(), e.OutputChannels.load(),
                          e.EqualizerOn.load(), e.ReplaceOutput.load()});
        if (!files.count(in)) {
            e.LastError.store(103);
            return false;
        }
        e.OutputPath = out;
        e.StopRequested.store(false);
        e.JobRunning.store(true);
        e.ClockOriginMs.store(1);
        const bool untilStopped = mode == kModePreview && previewRunsUntilStopped;
        const int ms = jobMs, fail = failJobWith;
        e.FailureShown.store(false);
        worker_ = std::thread([this, untilStopped, ms, fail, fileText = failFileText] {
            EngineState& s = Engine();
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (!s.StopRequested.load() &&
                   (untilStopped || std::chrono::steady_clock::now() < end))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!s.StopRequested.load() && fail) s.LastError.store(fail);
            if (!fileText.empty()) {
                s.FailureText = fileText;
                s.FailureShown.store(true);
            }
            s.ClockOriginMs.store(0);
            s.StopRequested.store(false);
            s.JobRunning.store(false);
            std::lock_guard lock(endMutex_);
            if (onEnd_) onEnd_();
        });
        return true;
    }
    // A batch's own job: its position runs from 0 to the length in `jobMs`.
    bool StartOn(Job& job, const std::string& in, const std::string& out, int mode) override {
        EngineState& e = job.State();
        starts.push_back({in, out, mode, e.OutputRate.load(), e.OutputChannels.load(),
                          e.EqualizerOn.load(), e.ReplaceOutput.load()});
        if (!files.count(in)) {
            e.LastError.store(103);
            return false;
        }
        e.OutputPath = out;
        e.StopRequested.store(false);
        e.PositionMs.store(0.0);
        e.JobRunning.store(true);
        const int ms = jobMsOf.count(in) ? jobMsOf[in] : jobMs, fail = failJobWith;
        std::lock_guard lock(workersMutex_);
        workers_.emplace_back([this, &e, ms, fail] {
            const auto begin = std::chrono::steady_clock::now();
            const double length = e.DurationMs.load();
            for (;;) {
                const double done = std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - begin)
                                        .count() /
                                    std::max(ms, 1);
                if (e.StopRequested.load() || done >= 1.0) break;
                e.PositionMs.store(length * done);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (!e.StopRequested.load()) {
                if (fail)
                    e.LastError.store(fail);
                else
                    e.PositionMs.store(length);
            }
            e.StopRequested.store(false);
            e.JobRunning.store(false);
            std::lock_guard endLock(endMutex_);
            if (onEnd_) onEnd_();
        });
        return true;
    }
    void ReportLastError() override { reported.push_back(Engine().LastError.exchange(0)); }
    void OnJobEnd(std::function<void()> callback) override {
        std::lock_guard lock(endMutex_);
        onEnd_ = std::move(callback);
    }
    std::vector<std::string> CdDriveRoots() override { return drives; }
    std::vector<std::string> ListFolder(const std::string& folder) override {
        auto it = folders.find(folder);
        return it == folders.end() ? std::vector<std::string>{} : it->second;
    }
    int CdaTrack(const std::string& path) override {
        const auto dot = path.rfind('.');
        return dot >= 2 ? std::atoi(path.substr(dot - 2, 2).c_str()) : 0;
    }
    // Tracks the ripping dialog left ticked; empty: all.
    std::vector<int> ticked;
    bool TrackSelected(int track) override {
        return ticked.empty() || std::find(ticked.begin(), ticked.end(), track) != ticked.end();
    }
    void Join() {
        if (worker_.joinable()) worker_.join();
        std::vector<std::thread> workers;
        {
            std::lock_guard lock(workersMutex_);
            workers.swap(workers_);
        }
        for (std::thread& t : workers) t.join();
    }

private:
    std::thread worker_;
    std::mutex workersMutex_;
    std::vector<std::thread> workers_;
    std::mutex endMutex_;
    std::function<void()> onEnd_;
};

inline StreamInfo WavInfo(std::uint32_t rate, std::uint16_t channels, std::uint32_t ms) {
    StreamInfo i;
    i.Kind = kKindRiff;
    i.SampleRate = rate;
    i.Channels = channels;
    i.BitsPerSample = 16;
    i.BlockAlign = static_cast<std::uint16_t>(channels * 2);
    i.BitRate = rate * channels * 16;
    i.CodecName = "PCM";
    i.DurationMs = ms;
    i.Title = "Song";
    return i;
}

class WindowTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        dir_ = std::filesystem::temp_directory_path() /
               ("tralux_window_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_ / "config");
        settings::SetConfigRoot(dir_ / "config");
        settings::SetApplicationName("tralux");
        SetNotifier(&messages_);
        SetBackend(&backend_);
        EngineState& e = Engine();
        e.LastError.store(0);
        e.StopRequested.store(false);
        e.OutputFormat.store(kFormatWav);
    }
    void TearDown() override {
        backend_.Join();
        SetBackend(nullptr);
        SetNotifier(nullptr);
        settings::SetConfigRoot({});
        std::filesystem::remove_all(dir_);
    }
    std::vector<std::string> MessageTexts() const {
        std::vector<std::string> t;
        for (const Message& m : messages_.Messages()) t.push_back(m.text);
        return t;
    }

    std::filesystem::path dir_;
    FakeBackend backend_;
    RecordingNotifier messages_;
};

}  // namespace tralux::app::test
