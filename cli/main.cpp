// tralux-cli: the conversion engine from a terminal or a script.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/settings/settings.h"
#include "cli/commands.h"
#include "cli/progress.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/describe.h"
#include "engine/job/job.h"
#include "platform/notify/notifier.h"

namespace {

using namespace tralux;

constexpr const char* kUsage =
    "usage: tralux-cli [--config DIR] probe FILE...\n"
    "       tralux-cli [--config DIR] convert INPUT... [--format wav|mp3|wma] [--rate HZ]\n"
    "                  [--channels 1|2] [--eq B1,...,B10,MASTER] [--no-eq] [--start MS]\n"
    "                  [--bitrate KBPS] [--output-dir DIR] [--no-tags]\n";

// Remembers whether the engine showed an error box during a job (file failures keep
// LastError at 0, but they are failures all the same).
class CliNotifier final : public Notifier {
public:
    void Show(const Message& m) override {
        std::fprintf(stderr, "%s: %s\n", m.caption.c_str(), m.text.c_str());
        if (m.icon == MessageIcon::Error) sawError_.store(true);
    }
    bool TakeError() { return sawError_.exchange(false); }

private:
    std::atomic<bool> sawError_{false};
};

CliNotifier g_notifier;
std::map<std::string, int, std::less<>> g_overrides;

void OnInterrupt(int) { Engine().StopRequested.store(true); }

struct ConvertOptions {
    std::vector<std::string> inputs;
    int format = kFormatWav;
    std::optional<std::uint32_t> rate;
    std::optional<int> channels;
    std::optional<std::vector<int>> eq;
    std::optional<std::uint32_t> startMs;
    std::optional<int> bitrate;
    std::optional<std::string> outputDir;
    bool noTags = false;
};

bool ParseInt(const char* s, long lo, long hi, long& out) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (errno || end == s || *end || v < lo || v > hi) return false;
    out = v;
    return true;
}

std::optional<std::vector<int>> ParseEq(const std::string& text) {
    std::vector<int> v;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        const std::size_t comma = text.find(',', pos);
        const std::string item = text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        long n;
        if (!ParseInt(item.c_str(), 0, 99, n)) return std::nullopt;
        v.push_back(static_cast<int>(n));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    if (v.size() != 11) return std::nullopt;
    return v;
}

std::string OutputPathFor(const std::string& input, const std::string& folder, int format) {
    std::string name = input;
    const auto slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot != 0) name = name.substr(0, dot);
    name += format == kFormatMp3 ? ".mp3" : format == kFormatWma ? ".wma" : ".wav";
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

int Probe(const std::vector<std::string>& files) {
    int status = 0;
    for (const std::string& f : files) {
        StreamInfo info;
        if (!ProbeInput(f, info)) {
            const int code = Engine().LastError.load();
            std::fprintf(stderr, "%s: %s\n", f.c_str(), code ? GetLastErrorText().c_str() : "not a supported input");
            status = 1;
            continue;
        }
        std::printf("%s\n%s\nduration: %s (%u ms)\n", f.c_str(), DescribeInput(info).c_str(),
                    FormatClock(info.DurationMs / 1000).c_str(), info.DurationMs);
    }
    return status;
}

int ConvertOne(const std::string& input, const ConvertOptions& o) {
    EngineState& e = Engine();
    StreamInfo info;
    if (!ProbeInput(input, info)) {
        const int code = e.LastError.load();
        std::fprintf(stderr, "%s: %s\n", input.c_str(), code ? GetLastErrorText().c_str() : "not a supported input");
        return 1;
    }
    e.OutputFormat.store(o.format);
    e.OutputRate.store(o.rate.value_or(info.SampleRate));
    e.OutputChannels.store(static_cast<std::uint16_t>(o.channels.value_or(info.Channels)));
    if (o.eq) {
        for (std::size_t i = 0; i < 11; ++i) e.EqualizerLevels[i].store((*o.eq)[i]);
        e.EqualizerOn.store(true);
        e.EqualizerChanged.store(true);
    } else {
        e.EqualizerOn.store(false);
    }
    e.StartMs.store(o.startMs.value_or(0));
    e.TagTitle = info.Title;
    e.TagArtist = info.Artist;
    e.TagCopyright = info.Copyright;
    const std::string folder = o.outputDir ? *o.outputDir : settings::ReadOptionText("BOut");
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
    }
    const std::string output = OutputPathFor(input, folder, o.format);

    g_notifier.TakeError();
    if (!StartConversion(input, output, 0, kModeConvert)) {
        std::fprintf(stderr, "%s: %s\n", input.c_str(), GetLastErrorText().c_str());
        return 1;
    }
    ProgressDisplay progress(isatty(STDERR_FILENO) != 0, input, e.OutputPath);
    while (e.JobRunning.load(std::memory_order_acquire)) {
        progress.Tick(e.StartMs.load(), e.DurationMs.load(), e.PositionMs.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    WaitForJob();
    progress.Finish(e.StartMs.load(), e.DurationMs.load(), e.PositionMs.load());
    if (e.LastError.load() != 0) {
        std::fprintf(stderr, "%s: %s\n", input.c_str(), GetLastErrorText().c_str());
        return 1;
    }
    if (g_notifier.TakeError()) return 1;
    return 0;
}

int Convert(int argc, char** argv, int i) {
    ConvertOptions o;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) return nullptr;
            return argv[++i];
        };
        long n;
        if (a == "--format") {
            const char* v = value();
            if (!v) return 2;
            const std::string f = v;
            if (f == "wav") o.format = kFormatWav;
            else if (f == "mp3") o.format = kFormatMp3;
            else if (f == "wma") o.format = kFormatWma;
            else return 2;
        } else if (a == "--rate") {
            const char* v = value();
            if (!v || !ParseInt(v, 1000, 192000, n)) return 2;
            o.rate = static_cast<std::uint32_t>(n);
        } else if (a == "--channels") {
            const char* v = value();
            if (!v || !ParseInt(v, 1, 2, n)) return 2;
            o.channels = static_cast<int>(n);
        } else if (a == "--eq") {
            const char* v = value();
            if (!v || !(o.eq = ParseEq(v))) return 2;
        } else if (a == "--no-eq") {
            o.eq.reset();
        } else if (a == "--start") {
            const char* v = value();
            if (!v || !ParseInt(v, 0, 0x7FFFFFFF, n)) return 2;
            o.startMs = static_cast<std::uint32_t>(n);
        } else if (a == "--bitrate") {
            const char* v = value();
            if (!v || !ParseInt(v, 1, 1000, n)) return 2;
            o.bitrate = static_cast<int>(n);
        } else if (a == "--output-dir") {
            const char* v = value();
            if (!v) return 2;
            o.outputDir = v;
        } else if (a == "--no-tags") {
            o.noTags = true;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return 2;
        } else {
            o.inputs.push_back(a);
        }
    }
    if (o.inputs.empty()) return 2;
    // Flags hold for this run only: nothing is written to the settings store.
    if (o.noTags) g_overrides["PlaceClipInfo"] = 0;
    if (o.bitrate) {
        g_overrides["MP3BitRate"] = *o.bitrate;
        g_overrides["MSABitRate"] = *o.bitrate;
    }
    int status = 0;
    for (const std::string& in : o.inputs) {
        const int s = ConvertOne(in, o);
        if (s) status = s;
        if (Engine().StopRequested.load()) return 130;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    settings::SetRegistryKey("Quorvatix");
    // Shares the window's settings file.
    settings::SetApplicationName("tralux");
    SetNotifier(&g_notifier);
    SetOptionReader([](std::string_view name) {
        auto it = g_overrides.find(name);
        return it != g_overrides.end() ? it->second : settings::ReadOption(name);
    });
    int i = 1;
    if (i + 1 < argc && std::strcmp(argv[i], "--config") == 0) {
        settings::SetConfigRoot(argv[i + 1]);
        i += 2;
    }
    if (i >= argc) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string command = argv[i++];
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    int status;
    if (command == "probe" && i < argc) {
        status = Probe(std::vector<std::string>(argv + i, argv + argc));
    } else if (command == "convert") {
        status = Convert(argc, argv, i);
    } else if (command == "cd") {
        status = cli::CdCommand(argc, argv, i);
    } else {
        status = 2;
    }
    if (status == 2) std::fputs(kUsage, stderr);
    SetNotifier(nullptr);
    return status;
}
