// tralux-cli: the conversion engine from a terminal or a script.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/settings/settings.h"
#include "cddb/track_name.h"
#include "cli/cddb_console.h"
#include "cli/commands.h"
#include "cli/eq_args.h"
#include "cli/progress.h"
#include "engine/formats/riff_reader.h"
#include "engine/formats/wav_format_name.h"
#include "engine/job/describe.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "engine/job/job_pool.h"
#include "engine/outputs/mp3_rates.h"
#include "engine/outputs/output.h"
#include "engine/outputs/wma_output.h"
#include "platform/notify/notifier.h"
#include "platform/media_loader/media_loader.h"
#include "platform/media_loader/media_names.h"
#include "platform/tags/taglib_tag_reader.h"

#ifndef TRALUX_VERSION
#define TRALUX_VERSION "0.0"
#endif

namespace {

using namespace tralux;
namespace fs = std::filesystem;
using cli::ParseInt;

constexpr const char* kUsage =
    "usage: tralux-cli [--config DIR] probe FILE...\n"
    "       tralux-cli [--config DIR] convert INPUT... [options]\n"
    "       tralux-cli [--config DIR] play FILE [--start MS] [--eq ... | --eq-db ...]\n"
    "                                   plays a file (tralux-cli play --help shows how)\n"
    "       tralux-cli formats          formats in and out; MP3, WMA, FLAC and Opus settings\n"
    "       tralux-cli cd list | cd rip ...   CD drives and ripping (tralux-cli cd shows how)\n"
    "       tralux-cli --help | --version\n"
    "\n"
    "convert options (--flag VALUE or --flag=VALUE):\n"
    "  --format wav|mp3|wma|flac|opus  output format (default wav)\n"
    "  --rate HZ              output sample rate, 1000..192000 (default: the input's)\n"
    "  --channels 1|2         output channels (default: the input's)\n"
    "  --bitrate KBPS         MP3/WMA bit rate; must be one the encoder or writer takes for\n"
    "                         the output rate and channels (see tralux-cli formats);\n"
    "                         Opus: 6..510, variable around it (default 160)\n"
    "  --flac-level 0..8      FLAC compression, 0 fastest, 8 smallest (default 5)\n"
    "  --vbr 0..9             MP3 at a variable bit rate instead, 0 best and largest\n"
    "                         (output rates of 16000 Hz and above)\n"
    "  --eq B1,...,B10,MASTER equalizer on the window's scale: 11 levels 0..99, 50 is flat,\n"
    "                         lower boosts (0 = +8.7 dB), higher cuts (97 = -32.7 dB, 98+ silent)\n"
    "  --eq-db D1,...,D10[,MASTER]  the same in decibels, -32.7..+8.7 (0 is flat)\n"
    "  --no-eq                equalizer off (the default)\n"
    "  --start MS             start this many milliseconds into the input\n"
    "  --output-dir DIR       output folder (default: the stored \"BOut\" option)\n"
    "  --no-tags              no title/artist tags in the output\n"
    "  --overwrite, -y        replace outputs that already exist\n"
    "  --rename               write \"name (2).ext\" when the output already exists\n"
    "  -j N, --jobs N         convert up to N files at once (default: one per processor core;\n"
    "                         -j 1 converts one after another)\n"
    "  --recursive, -r        an INPUT folder includes its subfolders (their layout is kept\n"
    "                         under the output folder); a folder stands for its audio files\n"
    "\n"
    "Without --overwrite or --rename an existing output is never replaced. Exit status: 0 done,\n"
    "1 a conversion failed, 2 bad usage, 130/143/129 stopped by SIGINT/SIGTERM/SIGHUP.\n";

// Remembers whether the engine showed an error box during a job (file failures keep
// LastError at 0, but they are failures all the same).
class CliNotifier final : public Notifier {
public:
    void Show(const Message& m) override {
        std::fprintf(stderr, "%s: %s\n", m.caption.c_str(), Shown(m.text).c_str());
        if (m.icon == MessageIcon::Error) sawError_.store(true);
    }
    bool TakeError() { return sawError_.exchange(false); }

private:
    std::atomic<bool> sawError_{false};
};

CliNotifier g_notifier;
std::map<std::string, int, std::less<>> g_overrides;
// The signal that asked us to stop (0 = none); the job's own stop flag is cleared per job.
// Atomic, not volatile: the handler may run on a job's thread while the main thread reads it.
std::atomic<int> g_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "written from a signal handler");

void OnSignal(int sig) {
    g_signal = sig;
    Engine().StopRequested.store(true);
}

int UsageError(const std::string& what) {
    std::fprintf(stderr, "tralux-cli: %s\nTry 'tralux-cli --help'.\n", Printable(what).c_str());
    return 2;
}

// "開啟檔案錯誤: PATH: reason": the engine's text, then what the system said.
void FileFailure(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "%s: %s: %s\n", ErrorCodeText(kErrOpen).c_str(), Printable(path).c_str(),
                 Printable(reason).c_str());
}

struct ConvertOptions {
    std::vector<std::string> inputs;
    int format = kFormatWav;
    std::optional<std::uint32_t> rate;
    std::optional<int> channels;
    std::optional<std::vector<int>> eq;
    std::optional<std::uint32_t> startMs;
    std::optional<int> bitrate;
    std::optional<int> vbr;
    std::optional<int> flacLevel;
    std::optional<std::string> outputDir;
    bool noTags = false;
    bool overwrite = false;
    bool rename = false;
    bool recursive = false;
    std::size_t jobs = 0;  // at once; 0: one per core
};

// A folder given as input stands for its WAV and MP3 files (and with --recursive those of its
// subfolders), each with the subfolder it lies in, so the layout is kept under the output
// folder. Files given by name have no subfolder.
std::vector<std::pair<std::string, std::string>> ExpandInputs(const ConvertOptions& o) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const std::string& in : o.inputs) {
        std::error_code ec;
        if (!fs::is_directory(in, ec)) {
            out.emplace_back(in, "");
            continue;
        }
        std::vector<std::pair<std::string, std::string>> found;
        auto take = [&](const fs::directory_entry& entry) {
            std::error_code e2;
            if (!entry.is_regular_file(e2)) return;
            std::string ext = entry.path().extension().string();
            for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (!platform::IsInputExtension(ext)) return;
            const fs::path sub = entry.path().parent_path().lexically_relative(in);
            found.emplace_back(entry.path().string(), sub == "." ? "" : sub.string());
        };
        if (o.recursive) {
            for (auto it = fs::recursive_directory_iterator(
                     in, fs::directory_options::skip_permission_denied, ec);
                 !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
                take(*it);
        } else {
            for (auto it = fs::directory_iterator(in, ec); !ec && it != fs::directory_iterator();
                 it.increment(ec))
                take(*it);
        }
        std::sort(found.begin(), found.end());
        // A folder without audio is kept as an input: it fails as one, with the reason.
        if (found.empty()) out.emplace_back(in, "");
        out.insert(out.end(), found.begin(), found.end());
    }
    return out;
}

std::string Extension(int format) {
    const OutputKind* kind = FindOutputKind(format);
    return kind ? kind->extension : ".wav";
}

std::string OutputPathFor(const std::string& input, const std::string& folder, int format) {
    std::string name = input;
    const auto slash = name.find_last_of('/');
    if (slash != std::string::npos) name = name.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string::npos && dot != 0) name = name.substr(0, dot);
    name += Extension(format);
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string Key(const std::string& path) {
    std::error_code ec;
    const fs::path c = fs::weakly_canonical(path, ec);
    return ec ? path : c.string();
}

// A name taken on disk, also by a link that points nowhere (writing there would create a file
// elsewhere).
bool Taken(const std::string& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(path, ec));
}

// "dir/name (2).ext", "dir/name (3).ext", ... : the first that neither exists nor is planned
// (planned outputs are held by Key).
std::string FreeName(const std::string& path, const std::set<std::string>& planned) {
    const fs::path p(path);
    const std::string stem = p.stem().string(), ext = p.extension().string();
    for (int n = 2;; ++n) {
        const std::string candidate =
            (p.parent_path() / (stem + " (" + std::to_string(n) + ")" + ext)).string();
        if (!planned.count(Key(candidate)) && !Taken(candidate)) return candidate;
    }
}

// Why an input cannot be read, in the system's words ("" when it can).
std::string InputProblem(const std::string& path) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return std::strerror(EISDIR);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return {};
}

// Why an output cannot be created ("" when it can); leaves no file behind.
std::string OutputProblem(const std::string& path) {
    std::error_code ec;
    const bool existed = fs::exists(path, ec);
    if (existed && fs::is_directory(path, ec)) return std::strerror(EISDIR);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    if (!existed) fs::remove(path, ec);
    return {};
}

// The engine's reason for refusing an input, with the format named when it is a WAV we know.
void ReportProbeFailure(const std::string& path) {
    const int code = Engine().LastError.load();
    if (code == kErrOpen) {
        GetLastErrorText();
        const std::string why = InputProblem(path);
        FileFailure(path, why.empty() ? "cannot be opened" : why);
        return;
    }
    const std::string text = code ? Shown(GetLastErrorText()) : "not a supported input";
    const std::string named = DescribeUnsupportedWav(path);
    if (named.empty())
        std::fprintf(stderr, "%s: %s\n", Printable(path).c_str(), text.c_str());
    else
        std::fprintf(stderr, "%s: %s (%s)\n", Printable(path).c_str(), text.c_str(), named.c_str());
}

int Probe(const std::vector<std::string>& files) {
    if (files.empty()) return UsageError("probe needs at least one file");
    int status = 0;
    for (const std::string& f : files) {
        StreamInfo info;
        if (!ProbeInput(f, info)) {
            ReportProbeFailure(f);
            status = 1;
            continue;
        }
        std::printf("%s\n%s\nduration: %s (%u ms)\n", Printable(f).c_str(),
                    DescribeInput(info).c_str(), FormatClock(info.DurationMs / 1000).c_str(),
                    info.DurationMs);
        const std::pair<const char*, const std::string*> tags[] = {
            {"title", &info.Title},        {"artist", &info.Artist}, {"album", &info.Album},
            {"year", &info.Year},          {"track", &info.Track},   {"comment", &info.Comment},
            {"copyright", &info.Copyright}};
        for (const auto& [name, text] : tags)
            if (!text->empty() && !(text == &info.Title && info.TitleIsFileName))
                std::printf("%s: %s\n", name, Printable(*text).c_str());
    }
    return status;
}

std::string Join(const std::vector<int>& v) {
    std::string s;
    for (int x : v) s += (s.empty() ? "" : " ") + std::to_string(x);
    return s;
}

int Formats() {
    std::printf("MP3 bit rates (kbit/s) by output sample rate and channels:\n");
    std::printf("  %-9s %-34s %s\n", "rate", "mono", "stereo");
    for (std::uint32_t rate : Mp3OutputRates()) {
        const std::string mono = Join(Mp3BitRatesKbps(rate, 1)),
                          stereo = Join(Mp3BitRatesKbps(rate, 2));
        std::printf("  %-9s %-34s %s\n", (std::to_string(rate) + " Hz").c_str(),
                    mono.empty() ? "-" : mono.c_str(), stereo.empty() ? "-" : stereo.c_str());
    }
    std::printf("\nWMA bit rates (kbit/s) by output sample rate and channels:\n");
    std::printf("  %-9s %-34s %s\n", "rate", "mono", "stereo");
    std::vector<std::uint32_t> wmaRates;
    for (const WmaCombination& c : WmaAcceptedCombinations())
        if (std::find(wmaRates.begin(), wmaRates.end(), c.rate) == wmaRates.end())
            wmaRates.push_back(c.rate);
    std::sort(wmaRates.begin(), wmaRates.end());
    for (std::uint32_t rate : wmaRates) {
        std::vector<int> m, s;
        for (const WmaCombination& c : WmaAcceptedCombinations())
            if (c.rate == rate) (c.channels == 1 ? m : s).push_back(c.kbps);
        const std::string mono = Join(m), stereo = Join(s);
        std::printf("  %-9s %-34s %s\n", (std::to_string(rate) + " Hz").c_str(),
                    mono.empty() ? "-" : mono.c_str(), stereo.empty() ? "-" : stereo.c_str());
    }
    std::printf(
        "\nFLAC: lossless, any rate, mono or stereo, 16 bits, or 24 when the source is "
        "deeper (a CD rip is 16-bit); --flac-level 0..8 (default 5)\n");
    std::printf(
        "Opus: any rate (stored at 48000 Hz), mono or stereo, coded from 24 bits when "
        "the source is deeper; --bitrate 6..510 kbit/s, variable (default 160)\n");
    std::string in = "WAV MP3";
    for (const std::string& ext : platform::MediaInputExtensions()) in += " " + ext.substr(1);
    std::printf("\nInputs: %s, CD tracks (.cda)\n", Printable(in).c_str());
    std::printf("Outputs: wav mp3 wma flac opus\n");
    return 0;
}

const char* ChannelWord(int channels) {
    return channels == 1 ? "mono" : "stereo";
}

// One input's plan, settled before any job runs.
struct Job {
    std::string input;
    StreamInfo info;
    std::string output;
    bool replaces = false;  // a file there when planned, and --overwrite
    std::uint32_t rate = 0;
    int channels = 0;
};

// Rate, channels and bit rate for one input. Returns 2 (usage: printed) when the asked
// combination cannot be had, 0 otherwise.
int SettleFormat(const ConvertOptions& o, Job& job) {
    job.rate = o.rate.value_or(job.info.SampleRate);
    job.channels = o.channels.value_or(job.info.Channels);
    if (o.format == kFormatWma) {
        int kbps = o.bitrate.value_or(ReadEngineOption("MSABitRate"));
        if (kbps == -1) kbps = 64;  // the job's own default
        if (!o.rate && !IsWmaCombinationAccepted(kbps, job.rate, job.channels)) {
            // The input's own rate: the nearest rate WMA takes at this bit rate, said.
            std::uint32_t best = 0;
            for (const WmaCombination& c : WmaAcceptedCombinations()) {
                if (c.kbps != kbps || c.channels != job.channels) continue;
                const auto d = [&](std::uint32_t x) {
                    return x > job.rate ? x - job.rate : job.rate - x;
                };
                if (best == 0 || d(c.rate) < d(best)) best = c.rate;
            }
            if (best != 0) {
                std::fprintf(stderr,
                             "%s: WMA at %d kbit/s %s cannot be written at %u Hz; converting to "
                             "%u Hz\n",
                             Printable(job.input).c_str(), kbps, ChannelWord(job.channels),
                             job.rate, best);
                job.rate = best;
            }
        }
        const std::string problem = WmaCombinationProblem(kbps, job.rate, job.channels);
        if (problem.empty()) return 0;
        UsageError(job.input + ": WMA at " + std::to_string(kbps) + " kbit/s, " +
                   std::to_string(job.rate) + " Hz " + ChannelWord(job.channels) + ": " + problem);
        return 2;
    }
    if (o.format == kFormatOpus && o.bitrate && (*o.bitrate < 6 || *o.bitrate > 510)) {
        UsageError("--bitrate " + std::to_string(*o.bitrate) + ": Opus takes 6..510 kbit/s");
        return 2;
    }
    if (o.format != kFormatMp3) return 0;
    const std::vector<std::uint32_t>& rates = Mp3OutputRates();
    std::string rateList;
    for (std::uint32_t r : rates) rateList += (rateList.empty() ? "" : ", ") + std::to_string(r);
    if (std::find(rates.begin(), rates.end(), job.rate) == rates.end()) {
        if (o.rate) {
            UsageError("--rate: MP3 cannot be written at " + std::to_string(job.rate) +
                       " Hz; MP3 rates: " + rateList);
            return 2;
        }
        // The input's own rate: take the nearest MP3 rate (the later one on a tie) and say so.
        std::uint32_t best = rates.front();
        for (std::uint32_t r : rates) {
            const auto d = [&](std::uint32_t x) {
                return x > job.rate ? x - job.rate : job.rate - x;
            };
            if (d(r) <= d(best)) best = r;
        }
        std::fprintf(stderr, "%s: MP3 cannot be written at %u Hz; converting to %u Hz\n",
                     Printable(job.input).c_str(), job.rate, best);
        job.rate = best;
    }
    if (Mp3BitRatesKbps(job.rate, job.channels).empty()) {
        // MP3 offers nothing at this rate in stereo (8000 Hz): an asked channel count is
        // refused, the input's own is mixed down and said.
        if (o.channels || job.channels == 1) {
            UsageError(job.input + ": MP3 at " + std::to_string(job.rate) + " Hz " +
                       ChannelWord(job.channels) +
                       " has no bit rate (see tralux-cli formats); try --channels 1");
            return 2;
        }
        std::fprintf(stderr, "%s: MP3 at %u Hz has no stereo bit rate; converting to mono\n",
                     Printable(job.input).c_str(), job.rate);
        job.channels = 1;
    }
    if (o.vbr) {
        if (job.rate >= 16000) return 0;
        UsageError("--vbr: MP3 at " + std::to_string(job.rate) +
                   " Hz has no variable bit rate; it needs 16000 Hz or more");
        return 2;
    }
    const std::vector<int> valid = Mp3BitRatesKbps(job.rate, job.channels);
    if (o.bitrate) {
        if (std::find(valid.begin(), valid.end(), *o.bitrate) != valid.end()) return 0;
        char where[64];
        std::snprintf(where, sizeof where, "MP3 at %u Hz %s", job.rate, ChannelWord(job.channels));
        if (valid.empty())
            UsageError("--bitrate " + std::to_string(*o.bitrate) + ": " + where +
                       " has no bit rate; try --channels 1");
        else
            UsageError("--bitrate " + std::to_string(*o.bitrate) + ": not available for " + where +
                       "; valid bit rates (kbit/s): " + Join(valid));
        return 2;
    }
    int stored = ReadEngineOption("MP3BitRate");
    if (stored == -1) stored = 128;
    if (!valid.empty() && std::find(valid.begin(), valid.end(), stored) == valid.end())
        std::fprintf(stderr,
                     "%s: %d kbit/s is not available for MP3 at %u Hz %s; %d kbit/s is used\n",
                     Printable(job.input).c_str(), stored, job.rate, ChannelWord(job.channels),
                     Mp3KbpsFor(job.rate, job.channels, stored));
    return 0;
}

// A cut input converts what it holds (still a success); the user hears how much that was.
void ReportCutInput(const EngineState& e, const Job& job) {
    if (job.info.DeclaredDurationMs == 0) return;
    const double converted = std::max(0.0, e.PositionMs.load() - e.StartMs.load()) / 1000.0;
    std::fprintf(stderr,
                 "%s: the input ended early (its header announces %.3f s); %.3f s converted\n",
                 Printable(job.input).c_str(), job.info.DeclaredDurationMs / 1000.0, converted);
}

// A stopped job's file is playable; the user hears how much of the input it holds. (The stop
// clears the job's own start time, so the planned one counts.)
void ReportStopped(const EngineState& e, const Job& job, const ConvertOptions& o) {
    const double start = o.startMs.value_or(0);
    const double held = std::max(0.0, e.PositionMs.load() - start);
    const double wanted = std::max(0.0, e.DurationMs.load() - start);
    std::fprintf(stderr, "%s -> %s (stopped; the file holds %s of %s)\n",
                 Printable(job.input).c_str(), Printable(e.OutputPath).c_str(),
                 FormatClock(static_cast<std::uint64_t>(held) / 1000).c_str(),
                 FormatClock(static_cast<std::uint64_t>(wanted) / 1000).c_str());
}

enum class Outcome { Done, Failed, Stopped };

// The engine state of one planned job.
void Configure(EngineState& e, const Job& job, const ConvertOptions& o) {
    e.OutputFormat.store(o.format);
    e.OutputRate.store(job.rate);
    e.OutputChannels.store(static_cast<std::uint16_t>(job.channels));
    if (o.eq) {
        for (std::size_t i = 0; i < 11; ++i) e.EqualizerLevels[i].store((*o.eq)[i]);
        e.EqualizerOn.store(true);
        e.EqualizerChanged.store(true);
    } else {
        e.EqualizerOn.store(false);
    }
    e.StartMs.store(o.startMs.value_or(0));
    e.ReplaceOutput.store(job.replaces);
    const StreamInfo& info = job.info;
    SetTagTexts(e, info);
}

// Says why a job could not start.
void ReportRefusal(EngineState& e, const Job& job) {
    const int code = e.LastError.load();
    if (code == kErrOpen) {
        LastErrorText(e);
        std::string why = InputProblem(job.input);
        if (!why.empty()) {
            FileFailure(job.input, why);
        } else {
            why = OutputProblem(job.output);
            FileFailure(job.output, why.empty() ? "cannot be created" : why);
        }
    } else {
        std::fprintf(stderr, "%s: %s\n", Printable(job.input).c_str(),
                     Shown(LastErrorText(e)).c_str());
    }
}

Outcome RunJob(const Job& job, const ConvertOptions& o) {
    EngineState& e = Engine();
    Configure(e, job, o);
    g_notifier.TakeError();
    if (!StartConversion(job.input, job.output, 0, kModeConvert)) {
        ReportRefusal(e, job);
        return Outcome::Failed;
    }
    ProgressDisplay progress(isatty(STDERR_FILENO) != 0, job.input, e.OutputPath);
    FollowJob(std::chrono::milliseconds(50), [&] {
        // A signal that came while the job was being started is not lost.
        if (g_signal) e.StopRequested.store(true);
        progress.Tick(e.StartMs.load(), e.DurationMs.load(), e.PositionMs.load());
    });
    progress.Finish(e.StartMs.load(), e.DurationMs.load(), e.PositionMs.load());
    if (e.LastError.load() != 0) {
        std::fprintf(stderr, "%s: %s\n", Printable(job.input).c_str(),
                     Shown(GetLastErrorText()).c_str());
        return Outcome::Failed;
    }
    if (g_notifier.TakeError()) return Outcome::Failed;
    if (g_signal) {
        ReportStopped(e, job, o);
        return Outcome::Stopped;
    }
    std::fprintf(stderr, "%s -> %s\n", Printable(job.input).c_str(),
                 Printable(e.OutputPath).c_str());
    ReportCutInput(e, job);
    return Outcome::Done;
}

// Several jobs at once, `width` at most, each on its own engine job. Every question was
// settled while planning, so nothing here waits for the user; one line shows the whole batch.
void RunParallel(const std::vector<Job>& jobs, const ConvertOptions& o, std::size_t width,
                 std::size_t& converted, std::size_t& failed) {
    JobPool pool(std::min(width, jobs.size()));
    BatchProgress progress(isatty(STDERR_FILENO) != 0, jobs.size());
    std::size_t next = 0;
    auto finish = [&](const JobPool::Slot& slot) {
        EngineState& e = slot.job->State();
        const Job& job = jobs[slot.item];
        progress.Done(static_cast<double>(e.PositionMs.load()) - e.StartMs.load());
        progress.Clear();
        if (e.LastError.load() != 0) {
            std::fprintf(stderr, "%s: %s\n", Printable(job.input).c_str(),
                         Shown(LastErrorText(e)).c_str());
            ++failed;
        } else if (e.FailureShown.load()) {
            ++failed;
        } else if (g_signal) {
            ReportStopped(e, job, o);
        } else {
            std::fprintf(stderr, "%s -> %s\n", Printable(job.input).c_str(),
                         Printable(e.OutputPath).c_str());
            ReportCutInput(e, job);
            ++converted;
        }
    };
    for (;;) {
        for (const JobPool::Slot& slot : pool.TakeEnded()) finish(slot);
        while (next < jobs.size() && !g_signal) {
            tralux::Job* engine = pool.Free();
            if (!engine) break;
            const std::size_t item = next++;
            const Job& job = jobs[item];
            EngineState& e = engine->State();
            Configure(e, job, o);
            if (engine->Start(job.input, job.output, 0, kModeConvert)) {
                pool.Occupy(*engine, item);
            } else {
                progress.Clear();
                ReportRefusal(e, job);
                ++failed;
                progress.Done(0);
            }
        }
        // A signal reaches every job that runs.
        if (g_signal) pool.StopAll();
        std::vector<BatchProgress::Running> running;
        for (const JobPool::Slot& slot : pool.Running()) {
            EngineState& e = slot.job->State();
            running.push_back({jobs[slot.item].input, e.StartMs.load(), e.DurationMs.load(),
                               e.PositionMs.load()});
        }
        if (running.empty() && (next >= jobs.size() || g_signal)) break;
        progress.Tick(running);
        pool.WaitForEnd(std::chrono::milliseconds(100));
    }
    progress.Clear();
}

// Splits "--name=value"; `value` is set only for the '=' form.
void SplitFlag(const std::string& arg, std::string& name, std::optional<std::string>& value) {
    const auto eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
    } else {
        name = arg;
        value.reset();
    }
}

int Convert(int argc, char** argv, int i) {
    ConvertOptions o;
    static const std::set<std::string> kWithValue{
        "--format", "--rate",    "--channels",   "--eq",  "--eq-db",
        "--start",  "--bitrate", "--output-dir", "--vbr", "--flac-level"};
    bool optionsEnded = false;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            o.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg.rfind("-j", 0) == 0 || arg.rfind("--jobs", 0) == 0) {
            // -j N, -jN, --jobs N, --jobs=N
            std::string value;
            if (arg.size() > 2 && arg[1] == 'j')
                value = arg.substr(2);
            else if (arg.rfind("--jobs=", 0) == 0)
                value = arg.substr(7);
            else if (arg == "-j" || arg == "--jobs") {
                if (i + 1 >= argc) return UsageError(arg + " needs a value");
                value = argv[++i];
            } else {
                return UsageError("unknown option " + arg);
            }
            long n;
            if (!ParseInt(value, 1, 256, n))
                return UsageError("-j: " + value + " is not a number of jobs (1..256)");
            o.jobs = static_cast<std::size_t>(n);
            continue;
        }
        std::string a;
        std::optional<std::string> v;
        SplitFlag(arg, a, v);
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (kWithValue.count(a)) {
            if (!v) {
                // "--rate --channels 1" is a forgotten value, not a rate of "--channels".
                if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0)
                    return UsageError(a + " needs a value");
                v = argv[++i];
            }
        } else if (v) {
            return UsageError(a + " takes no value");
        }
        long n;
        if (a == "--format") {
            if (const OutputKind* kind = FindOutputKindByName(*v)) {
                o.format = kind->format;
            } else {
                // "wav, mp3 or wma": every kind the table holds.
                const std::vector<OutputKind> kinds = OutputKinds();
                std::string names;
                for (std::size_t k = 0; k < kinds.size(); ++k)
                    names += (k == 0                  ? ""
                              : k + 1 == kinds.size() ? " or "
                                                      : ", ") +
                             std::string(kinds[k].cliName);
                return UsageError("--format: '" + *v + "' is not a format (" + names + ")");
            }
        } else if (a == "--rate") {
            if (!ParseInt(*v, 1000, 192000, n))
                return UsageError("--rate: " + *v + " is not a sample rate (1000..192000)");
            o.rate = static_cast<std::uint32_t>(n);
        } else if (a == "--channels") {
            if (!ParseInt(*v, 1, 2, n))
                return UsageError("--channels: " + *v + " is not a channel count (1 or 2)");
            o.channels = static_cast<int>(n);
        } else if (a == "--eq" || a == "--eq-db") {
            std::vector<int> levels;
            if (auto err = a == "--eq" ? cli::ParseEq(*v, levels) : cli::ParseEqDb(*v, levels))
                return UsageError(*err);
            o.eq = levels;
        } else if (a == "--no-eq") {
            o.eq.reset();
        } else if (a == "--start") {
            if (!ParseInt(*v, 0, 0x7FFFFFFF, n))
                return UsageError("--start: " + *v + " is not a position in milliseconds");
            o.startMs = static_cast<std::uint32_t>(n);
        } else if (a == "--bitrate") {
            if (!ParseInt(*v, 1, 1000, n))
                return UsageError("--bitrate: " + *v + " is not a bit rate in kbit/s");
            o.bitrate = static_cast<int>(n);
        } else if (a == "--flac-level") {
            if (!ParseInt(*v, 0, 8, n))
                return UsageError("--flac-level: " + *v + " is not a level 0..8");
            o.flacLevel = static_cast<int>(n);
        } else if (a == "--vbr") {
            if (!ParseInt(*v, 0, 9, n)) return UsageError("--vbr: " + *v + " is not a level 0..9");
            o.vbr = static_cast<int>(n);
        } else if (a == "--output-dir") {
            o.outputDir = *v;
        } else if (a == "--no-tags") {
            o.noTags = true;
        } else if (a == "--overwrite" || a == "-y") {
            o.overwrite = true;
        } else if (a == "--rename") {
            o.rename = true;
        } else if (a == "--recursive" || a == "-r") {
            o.recursive = true;
        } else {
            return UsageError("unknown option " + a);
        }
    }
    if (o.inputs.empty()) return UsageError("convert needs at least one input");
    if (o.overwrite && o.rename) return UsageError("--overwrite and --rename exclude each other");
    if (o.vbr && o.bitrate) return UsageError("--vbr and --bitrate exclude each other");
    if (o.vbr && o.format != kFormatMp3)
        std::fprintf(stderr, "tralux-cli: --vbr is for MP3 output; it is ignored\n");
    if (o.bitrate && (o.format == kFormatWav || o.format == kFormatFlac))
        std::fprintf(stderr,
                     "tralux-cli: --bitrate is for MP3, WMA and Opus output; it is ignored\n");
    if (o.flacLevel && o.format != kFormatFlac)
        std::fprintf(stderr, "tralux-cli: --flac-level is for FLAC output; it is ignored\n");
    if (o.flacLevel) g_overrides["FLACLevel"] = *o.flacLevel;
    // Flags hold for this run only: nothing is written to the settings store.
    if (o.noTags) g_overrides["PlaceClipInfo"] = 0;
    if (o.bitrate) {
        g_overrides["MP3BitRate"] = *o.bitrate;
        g_overrides["MSABitRate"] = *o.bitrate;
        g_overrides["OpusBitRate"] = *o.bitrate;
    }
    // A bit rate given here beats a stored variable-bit-rate choice.
    if (o.vbr && o.format == kFormatMp3)
        g_overrides["MP3Vbr"] = *o.vbr;
    else if (o.bitrate)
        g_overrides["MP3Vbr"] = -1;

    const std::string folder = o.outputDir ? *o.outputDir : settings::ReadOptionText("BOut");

    // Every input is settled before the first job: a combination that cannot be had stops the
    // run before any file is written; an input that cannot be converted is reported and left out.
    int status = 0;
    std::vector<Job> jobs;
    std::set<std::string> seenInputs, planned;
    std::size_t duplicates = 0;
    const auto inputs = ExpandInputs(o);
    std::set<std::string> inputKeys;
    for (const auto& input : inputs) inputKeys.insert(Key(input.first));
    for (const auto& [in, sub] : inputs) {
        if (!seenInputs.insert(Key(in)).second) {
            std::fprintf(stderr, "%s: given twice; converted once\n", Printable(in).c_str());
            ++duplicates;
            continue;
        }
        Job job;
        job.input = in;
        if (!ProbeInput(in, job.info)) {
            ReportProbeFailure(in);
            status = 1;
            continue;
        }
        if (cli::CddbChoiceRefused()) return 2;
        if (SettleFormat(o, job) == 2) return 2;
        if (o.startMs && *o.startMs >= job.info.DurationMs && job.info.trackNumber == 0) {
            std::fprintf(stderr, "%s: --start %u ms is at or past the end (%u ms)\n",
                         Printable(in).c_str(), *o.startMs, job.info.DurationMs);
            status = 1;
            continue;
        }
        const std::string place = sub.empty() ? folder : (fs::path(folder) / sub).string();
        std::string out = OutputPathFor(in, place, o.format);
        // A CD track is named after its title, as `cd rip` and the window name it.
        if (job.info.trackNumber != 0) {
            const std::string name =
                cddb::TrackFileName(job.info.trackNumber, job.info.Title, Extension(o.format));
            out = place.empty() ? name : (fs::path(place) / name).string();
        }
        std::error_code ec;
        if (fs::exists(out, ec) && fs::equivalent(in, out, ec)) {
            FileFailure(out, "the input itself; choose another --output-dir or --format");
            status = 1;
            continue;
        }
        const std::string key = Key(out);
        if (inputKeys.count(key) && !o.rename) {
            // Even with --overwrite: another input of this run is never written over.
            std::fprintf(stderr,
                         "%s: %s is an input of this run; skipped so as not to write over it\n",
                         Printable(in).c_str(), Printable(out).c_str());
            status = 1;
            continue;
        }
        if (planned.count(key) || inputKeys.count(key)) {
            out = FreeName(out, planned);  // never the same output twice in one run
        } else if (Taken(out)) {
            if (o.rename) {
                out = FreeName(out, planned);
            } else if (!o.overwrite) {
                std::fprintf(
                    stderr,
                    "%s: %s exists; --overwrite (-y) replaces it, --rename picks a free name\n",
                    Printable(in).c_str(), Printable(out).c_str());
                status = 1;
                continue;
            } else {
                job.replaces = true;
            }
        }
        planned.insert(Key(out));
        job.output = out;
        jobs.push_back(std::move(job));
    }

    if (!folder.empty() && !jobs.empty()) {
        std::error_code ec;
        fs::create_directories(folder, ec);
        if (ec || !fs::is_directory(folder)) {
            FileFailure(folder, ec ? ec.message() : std::strerror(ENOTDIR));
            return 1;
        }
    }
    for (const Job& job : jobs) {
        // Subfolders of a folder input are made under the output folder as needed.
        const fs::path parent = fs::path(job.output).parent_path();
        std::error_code ec;
        if (!parent.empty()) fs::create_directories(parent, ec);
    }
    const std::size_t refused = inputs.size() - duplicates - jobs.size();
    std::size_t converted = 0, failed = 0;
    const std::size_t width =
        o.jobs ? o.jobs : std::max<std::size_t>(1, std::thread::hardware_concurrency());
    if (width > 1 && jobs.size() > 1) {
        RunParallel(jobs, o, width, converted, failed);
        if (failed) status = 1;
    } else {
        for (const Job& job : jobs) {
            if (g_signal) break;
            const Outcome r = RunJob(job, o);
            if (r == Outcome::Failed) status = 1;
            if (r == Outcome::Done) ++converted;
            if (r == Outcome::Failed) ++failed;
            if (r == Outcome::Stopped) break;
        }
    }
    std::fprintf(stderr, "%zu converted, %zu failed, %zu skipped\n", converted, failed + refused,
                 jobs.size() - converted - failed);
    if (g_signal) {
        std::fprintf(stderr, "tralux-cli: stopped by %s; the remaining inputs were skipped\n",
                     tralux::cli::StopSignalName(g_signal));
        return 128 + g_signal;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    settings::SetRegistryKey("Quorvatix");
    // Shares the window's settings file.
    settings::SetApplicationName("tralux");
    SetNotifier(&g_notifier);
    platform::InstallTagLibReader();
    platform::RegisterMediaKinds();
    SetOptionReader([](std::string_view name) {
        auto it = g_overrides.find(name);
        return it != g_overrides.end() ? it->second : settings::ReadOption(name);
    });
    int i = 1;
    if (i < argc && std::strncmp(argv[i], "--config=", 9) == 0) {
        settings::SetConfigRoot(argv[i] + 9);
        ++i;
    } else if (i < argc && std::strcmp(argv[i], "--config") == 0) {
        if (i + 1 >= argc) return UsageError("--config needs a value");
        settings::SetConfigRoot(argv[i + 1]);
        i += 2;
    }
    cli::InstallCddb();
    if (i >= argc) return UsageError("no command given (probe, convert or formats)");
    const std::string command = argv[i++];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("tralux-cli %s\n", TRALUX_VERSION);
        return 0;
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // A closed terminal stops the jobs like Ctrl-C; a closed stderr pipe (`2>&1 | head`) only
    // makes our messages fail. Either would otherwise kill jobs with their files half written.
    sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    int status;
    if (command == "probe") {
        status = Probe(std::vector<std::string>(argv + i, argv + argc));
    } else if (command == "play") {
        status = tralux::cli::Play(argc, argv, i);
    } else if (command == "convert") {
        status = Convert(argc, argv, i);
    } else if (command == "formats") {
        status = Formats();
    } else if (command == "cd") {
        status = cli::CdCommand(argc, argv, i);
    } else {
        status = UsageError("unknown command '" + command + "'");
    }
    SetNotifier(nullptr);
    return status;
}
