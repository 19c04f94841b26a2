// tralux-cli play: the preview job from a terminal, with the heard position and a level bar.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/eq_args.h"
#include "cli/progress.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/job.h"
#include "engine/playback/playback.h"
#include "platform/notify/notifier.h"

namespace tralux::cli {

namespace {

std::atomic<bool> g_interrupted{false};

void OnPlayInterrupt(int) {
    g_interrupted.store(true);
    Engine().StopRequested.store(true);
}

class PlayNotifier final : public Notifier {
public:
    void Show(const Message& m) override {
        std::fprintf(stderr, "\n%s: %s\n", m.caption.c_str(), Shown(m.text).c_str());
        if (m.icon == MessageIcon::Error) sawError.store(true);
    }
    std::atomic<bool> sawError{false};
};

constexpr const char* kPlayUsage =
    "usage: tralux-cli [--config DIR] play FILE [--start MS]\n"
    "                  [--eq B1,...,B10,MASTER | --eq-db D1,...,D10[,MASTER] | --no-eq]\n"
    "Plays a WAV or MP3 file through the sound card at its own rate and channels (the\n"
    "equalizer's scales as for convert). Ctrl-C stops. TRALUX_AUDIO_DEVICE names the ALSA\n"
    "device. Exit status: 0 played, 1 failed, 2 bad usage, 130 stopped.\n";

int PlayUsageError(const std::string& what) {
    std::fprintf(stderr, "tralux-cli play: %s\nTry 'tralux-cli play --help'.\n",
                 Printable(what).c_str());
    return 2;
}

// The level of the analysis frame being heard at `ms` (0..1 and a little above for full scale).
double LevelAt(double ms) {
    const dsp::AnalysisTables& t = JobAnalysis();
    std::int64_t best = -1;
    double level = 0.0;
    for (int i = 0; i < dsp::AnalysisTables::kSize; ++i) {
        const auto at = static_cast<std::size_t>(i);
        const std::int64_t time = t.AnalysisTime[at].load(std::memory_order_relaxed);
        if (time <= static_cast<std::int64_t>(ms) && time > best) {
            best = time;
            level = t.AnalysisLevel[at].load(std::memory_order_relaxed);
        }
    }
    // Frames older than half a second are not what is heard now.
    return best >= 0 && ms - static_cast<double>(best) < 500 ? level : 0.0;
}

std::string Bar(double level) {
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(std::min(level, 1.0) * kWidth + 0.5);
    return std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kWidth - filled), ' ');
}

}  // namespace

int Play(int argc, char** argv, int first) {
    std::string input;
    long startMs = 0;
    std::vector<int> levels;
    bool eq = false;
    for (int i = first; i < argc; ++i) {
        std::string a = argv[i];
        std::optional<std::string> v;
        if (const auto eqSign = a.find('='); a.rfind("--", 0) == 0 && eqSign != std::string::npos) {
            v = a.substr(eqSign + 1);
            a = a.substr(0, eqSign);
        }
        if (a == "--help" || a == "-h") {
            std::fputs(kPlayUsage, stdout);
            return 0;
        }
        const bool takesValue = a == "--start" || a == "--eq" || a == "--eq-db";
        if (takesValue && !v) {
            if (i + 1 >= argc) return PlayUsageError(a + " needs a value");
            v = argv[++i];
        } else if (!takesValue && v) {
            return PlayUsageError(a + " takes no value");
        }
        if (a == "--start") {
            if (!ParseInt(*v, 0, 0x7FFFFFFF, startMs))
                return PlayUsageError("--start: " + *v + " is not a position in milliseconds");
        } else if (a == "--eq" || a == "--eq-db") {
            if (auto err = a == "--eq" ? ParseEq(*v, levels) : ParseEqDb(*v, levels))
                return PlayUsageError(*err);
            eq = true;
        } else if (a == "--no-eq") {
            eq = false;
        } else if (!a.empty() && a[0] == '-') {
            return PlayUsageError("unknown option " + a);
        } else if (!input.empty()) {
            return PlayUsageError("play takes one file");
        } else {
            input = a;
        }
    }
    if (input.empty()) return PlayUsageError("play needs a file");

    EngineState& e = Engine();
    StreamInfo info;
    if (!ProbeInput(input, info)) {
        const int code = e.LastError.load();
        std::fprintf(stderr, "%s: %s\n", Printable(input).c_str(),
                     code ? Shown(GetLastErrorText()).c_str() : "not a supported input");
        return 1;
    }
    // A preview plays the input as it is: its own rate and channels.
    e.OutputRate.store(info.SampleRate);
    e.OutputChannels.store(static_cast<std::uint16_t>(info.Channels));
    e.StartMs.store(static_cast<std::uint32_t>(startMs));
    e.EqualizerOn.store(eq);
    if (eq) {
        for (std::size_t b = 0; b < 11; ++b) e.EqualizerLevels[b].store(levels[b]);
        e.EqualizerChanged.store(true);
    }

    PlayNotifier notifier;
    SetNotifier(&notifier);
    struct sigaction sa {};
    sa.sa_handler = OnPlayInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);  // no playing on after the terminal has gone

    if (!StartConversion(input, "", 0, kModePreview)) {
        std::fprintf(stderr, "%s: %s\n", Printable(input).c_str(),
                     Shown(GetLastErrorText()).c_str());
        SetNotifier(nullptr);
        return 1;
    }
    const bool live = isatty(STDOUT_FILENO) != 0;
    const std::string total = FormatClock(info.DurationMs / 1000);
    auto lastLine = std::chrono::steady_clock::now() - std::chrono::seconds(1);
    FollowJob(std::chrono::milliseconds(50), [&] {
        if (g_interrupted.load()) DiscardPlayback();
        const double ms = PlayingPositionMs();
        const std::string position =
            FormatClock(static_cast<std::uint64_t>(std::max(ms, 0.0) / 1000));
        if (live) {
            std::printf("\r%s / %s  [%s]", position.c_str(), total.c_str(),
                        Bar(LevelAt(ms)).c_str());
            std::fflush(stdout);
        } else if (std::chrono::steady_clock::now() - lastLine >= std::chrono::seconds(1)) {
            std::printf("%s / %s\n", position.c_str(), total.c_str());
            std::fflush(stdout);
            lastLine = std::chrono::steady_clock::now();
        }
    });
    if (g_interrupted.load())
        DiscardPlayback();  // a stop is heard at once, not half a second later
    WaitForPlaybackClosed();
    if (live) std::printf("\n");
    SetNotifier(nullptr);
    if (g_interrupted.load()) return 130;
    if (e.LastError.load() != 0) {
        std::fprintf(stderr, "%s: %s\n", Printable(input).c_str(),
                     Shown(GetLastErrorText()).c_str());
        return 1;
    }
    return notifier.sawError.load() ? 1 : 0;
}

}  // namespace tralux::cli
