// tralux-cli cd list | cd rip: the CD drives, their discs, and ripping several tracks.
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/settings/settings.h"
#include "cd/cda_files.h"
#include "cd/drives.h"
#include "cd/reader.h"
#include "cddb/cd_info.h"
#include "cddb/disc_id.h"
#include "cddb/engine/cd_info_provider.h"
#include "cddb/track_name.h"
#include "cli/cddb_console.h"
#include "cli/commands.h"
#include "cli/eq_args.h"
#include "cli/progress.h"
#include "rip/rip_pipeline.h"
#include "rip/verified_rip.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/job.h"

namespace tralux::cli {
namespace {

constexpr const char* kCdUsage =
    "usage: tralux-cli [--config DIR] cd list [--refresh] [--cddb-server URL] [--no-cddb]\n"
    "                  [--cddb-choice N]\n"
    "       tralux-cli [--config DIR] cd rip [--drive D] [--tracks 1,3-5] [--jitter] [--skip-bad]\n"
    "                  [--format wav|mp3|wma|flac|opus] [--rate HZ] [--channels 1|2] [--bitrate "
    "KBPS]\n"
    "                  [--output-dir DIR] [--no-tags] [--overwrite|-y] [--refresh]\n"
    "                  [--cddb-server URL] [--no-cddb] [--cddb-choice N]\n"
    "                  [--accuraterip-url URL] [--read-offset N] [--test-copy] [--hidden-track]\n"
    "                  [-j N|--jobs N]\n"
    "Tracks are named \"NN Title.ext\" after the disc's CD information (CDDB server, cache,\n"
    "CD-Text); an existing output is replaced only with --overwrite. Each track is checked\n"
    "against the AccurateRip database (server from --accuraterip-url or the setting) and a\n"
    "line \"accuraterip NN match|mismatch|absent confidence N v1 X v2 X crc X\" printed; a log\n"
    "and a CUE sheet named after the disc are left beside the tracks. --refresh asks the server\n"
    "again although the cache knows the disc; --skip-bad turns sectors that cannot be read\n"
    "into silence instead of ending the track. The drive reads the next track while up to N\n"
    "earlier ones encode (default one per core); -j 1 reads and encodes one track at a time.\n"
    "Exit status: 0 done, 1 a track failed, 2 bad usage, 130/143/129 stopped by "
    "SIGINT/SIGTERM/SIGHUP.\n";

// The signal that stopped the rip (the job clears its own stop flag when it ends).
// Atomic, not volatile: the handler may run on a reader or encoder thread.
std::atomic<int> g_cdSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "written from a signal handler");
void OnCdSignal(int sig) {
    g_cdSignal = sig;
    Engine().StopRequested.store(true);
}

int Usage() {
    std::fputs(kCdUsage, stderr);
    return 2;
}

// "mm:ss.ff" of a count of sectors.
std::string Msf(std::uint32_t sectors) {
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u.%02u", sectors / 75 / 60, sectors / 75 % 60,
                  sectors % 75);
    return text;
}

std::string Root(char letter) {
    return std::string(1, letter) + ":/";
}

// A text from a server or a cache, fit for a terminal.
std::string Shown(std::string_view text) {
    return Printable(cddb::TrimBlanks(cddb::StripControls(text)));
}

int List(bool refresh) {
    struct sigaction sa {};
    sa.sa_handler = OnCdSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    const std::vector<cd::CdDriveSlot> drives = cd::ListCdDrives();
    if (drives.empty()) {
        std::printf(
            "no CD drives (TRALUX_CD_IMAGES names image drives: a colon-separated list of .cue "
            "files)\n");
        return 0;
    }
    // A failed lookup still lists the disc, but the run is not a success.
    const std::size_t failuresBefore = CddbFailuresShown();
    for (const cd::CdDriveSlot& d : drives) {
        std::printf("%c: %s%s\n", d.letter, Printable(d.source).c_str(), d.image ? " (image)" : "");
        DiscToc toc;
        std::string reason;
        if (!cd::ReadDiscTocWithReason(Root(d.letter), toc, &reason)) {
            std::printf("   %s\n", Printable(reason).c_str());
            continue;
        }
        const std::uint32_t id = DiscIdFromToc(toc);
        std::printf("   %zu tracks, %s, disc id %08x\n", toc.tracks.size(),
                    Msf(toc.leadOutLba - toc.tracks.front().startLba).c_str(),
                    static_cast<unsigned>(id));
        const cddb::CdInfo disc = cddb::LookupDisc(Root(d.letter), refresh);
        if (CddbChoiceRefused()) return 2;
        if (!disc.discTitle.empty()) std::printf("   %s\n", Shown(disc.discTitle).c_str());
        if (!disc.extended.empty()) std::printf("   版權: %s\n", Shown(disc.extended).c_str());
        std::printf("   track  start     length    LBA\n");
        for (std::size_t k = 0; k < toc.tracks.size(); ++k) {
            const TocTrack& t = toc.tracks[k];
            const std::uint32_t next =
                k + 1 < toc.tracks.size() ? toc.tracks[k + 1].startLba : toc.leadOutLba;
            const std::string title = k < disc.tracks.size() ? Shown(disc.tracks[k].title) : "";
            std::printf("   %02u     %s  %s  %u%s%s%s\n", static_cast<unsigned>(t.number),
                        Msf(t.startLba).c_str(), Msf(next - t.startLba).c_str(),
                        static_cast<unsigned>(t.startLba), t.audio ? "" : "  data",
                        title.empty() ? "" : "  ", title.c_str());
        }
    }
    if (g_cdSignal) {
        // A lookup cut short by the signal: the discs are listed without it.
        std::fprintf(stderr, "stopped by %s\n", StopSignalName(g_cdSignal));
        return 128 + g_cdSignal;
    }
    return CddbFailuresShown() == failuresBefore ? 0 : 1;
}

// "1,3-5" -> {1, 3, 4, 5}; nullopt with `why` for anything else.
std::optional<std::set<int>> ParseTracks(const std::string& text, std::string& why) {
    std::set<int> tracks;
    std::size_t pos = 0;
    auto number = [](const std::string& s, long& out) {
        if (s.empty() || s.size() > 3 ||
            !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        out = std::stol(s);
        return true;
    };
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string item = text.substr(pos, comma - pos);
        const auto dash = item.find('-');
        long a = 0, b = 0;
        if (!number(item.substr(0, dash), a) ||
            (dash != std::string::npos && !number(item.substr(dash + 1), b))) {
            why = "'" + item + "' is not a track number or a range like 3-5";
            return std::nullopt;
        }
        if (dash == std::string::npos) b = a;
        if (a < 1 || b < 1 || a > 99 || b > 99) {
            why = "'" + item + "': track numbers run from 1 to 99";
            return std::nullopt;
        }
        if (a > b) {
            why = "'" + item + "': a range runs upwards (" + std::to_string(b) + "-" +
                  std::to_string(a) + ")";
            return std::nullopt;
        }
        for (long n = a; n <= b; ++n) tracks.insert(static_cast<int>(n));
        pos = comma + 1;
        if (comma == text.size()) break;
    }
    return tracks;
}

struct RipOptions {
    std::optional<char> drive;
    std::optional<std::set<int>> tracks;
    bool jitter = false;
    int format = kFormatWav;
    std::optional<std::uint32_t> rate;
    std::optional<int> channels;
    std::optional<int> bitrate;
    std::optional<std::string> outputDir;
    bool noTags = false;
    bool overwrite = false;
    rip::VerifyOptions verify;
    bool refresh = false;
    bool skipBad = false;
    unsigned jobs = 0;  // encoders at once; 0 one per core, 1 the serial rip
};

// What the summary tells at the end.
struct RipTally {
    int ripped = 0, failed = 0;
    std::vector<cd::CdDamage> damage;
};

std::string Extension(int format) {
    return format == kFormatMp3    ? ".mp3"
           : format == kFormatWma  ? ".wma"
           : format == kFormatFlac ? ".flac"
           : format == kFormatOpus ? ".opus"
                                   : ".wav";
}

// A name taken on disk, also by a link that points nowhere: replaced only with --overwrite.
bool Taken(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

// The output and the tags of one track, from the one lookup of the whole disc; false (said)
// when the entry cannot be probed.
bool PlanTrack(const std::string& input, int track, const RipOptions& o, const std::string& folder,
               const cddb::CdInfo& disc, rip::PipelineTrack& plan) {
    // The disc was looked up once; the probe must neither ask again nor rename the output
    // after the disc title.
    cddb::ScopedCdInfoOff noLookup;
    StreamInfo info;
    if (!ProbeInput(input, info)) {
        const int code = Engine().LastError.load();
        std::fprintf(stderr, "%s: %s\n", Printable(input).c_str(),
                     code ? GetLastErrorText().c_str() : "not a CD track");
        return false;
    }
    plan.number = track;
    plan.cdaPath = input;
    plan.format = o.format;
    plan.rate = o.rate.value_or(info.SampleRate);
    plan.channels = static_cast<std::uint16_t>(o.channels.value_or(info.Channels));
    const auto index = static_cast<std::size_t>(track - 1);
    if (index < disc.tracks.size()) {
        info.Title = cddb::TruncateUtf8(disc.tracks[index].title, cddb::kMaxInfoText);
        std::string artist, album;
        cddb::SplitDiscTitle(disc.discTitle, artist, album);
        info.Artist = cddb::TruncateUtf8(artist, cddb::kMaxInfoText);
        plan.tags.album = cddb::TruncateUtf8(album, cddb::kMaxInfoText);
        info.Copyright = cddb::TruncateUtf8(disc.extended, cddb::kMaxInfoText);
    }
    plan.tags.title = info.Title;
    plan.tags.artist = info.Artist;
    plan.tags.copyright = info.Copyright;
    plan.tags.year = cddb::TruncateUtf8(disc.year, cddb::kMaxInfoText);
    plan.tags.genre = cddb::TruncateUtf8(disc.genre, cddb::kMaxInfoText);
    plan.tags.track = disc.tracks.empty()
                          ? std::to_string(track)
                          : std::to_string(track) + "/" + std::to_string(disc.tracks.size());
    const std::string name = cddb::TrackFileName(track, info.Title, Extension(o.format));
    plan.outputPath = folder.empty() ? name : (std::filesystem::path(folder) / name).string();
    return true;
}

// `failure` receives what went wrong (the printed text clears the job's error code).
int RipOne(const std::string& input, int track, const RipOptions& o, const std::string& folder,
           const cddb::CdInfo& disc, RipTally& tally, std::string* written, std::string* failure) {
    EngineState& e = Engine();
    rip::PipelineTrack plan;
    if (!PlanTrack(input, track, o, folder, disc, plan)) return 1;
    rip::SetUpEncoder(e, plan, {});  // the plan's rate and channels are settled
    const std::string& output = plan.outputPath;
    if (Taken(output)) {
        if (!o.overwrite) {
            std::fprintf(stderr, "%s: %s exists; --overwrite (-y) replaces it\n",
                         Printable(input).c_str(), Printable(output).c_str());
            ++tally.failed;
            return 1;
        }
        e.ReplaceOutput.store(true);
    }
    if (!StartConversion(input, output, 0, kModeConvert)) {
        *failure = GetLastErrorText();
        std::fprintf(stderr, "%s -> %s: %s\n", Printable(input).c_str(), Printable(output).c_str(),
                     Printable(*failure).c_str());
        ++tally.failed;
        return 1;
    }
    ProgressDisplay progress(isatty(STDERR_FILENO) != 0, input, e.OutputPath);
    FollowJob(std::chrono::milliseconds(100), [&] {
        if (g_cdSignal) e.StopRequested.store(true);  // a signal during the start is not lost
        progress.Tick(e.StartMs.load(), e.DurationMs.load(), e.PositionMs.load());
    });
    progress.Finish(e.StartMs.load(), e.DurationMs.load(), e.PositionMs.load());
    const std::vector<cd::CdDamage> damage = cd::LastTrackDamage();
    tally.damage.insert(tally.damage.end(), damage.begin(), damage.end());
    const std::string held = FormatClock(static_cast<std::uint64_t>(e.PositionMs.load()) / 1000);
    if (e.FailureShown.load()) {
        // A file failure: the job's message named it and the unfinished file is gone.
        *failure = "the output could not be written";
        ++tally.failed;
        return 1;
    }
    if (e.LastError.load() != 0) {
        // The file keeps what was read before the failure, unless the job removed it
        // (nothing was read at all).
        *failure = GetLastErrorText();
        std::error_code ec;
        if (std::filesystem::exists(e.OutputPath, ec))
            std::fprintf(stderr, "%s -> %s: %s; the file holds the first %s\n",
                         Printable(input).c_str(), Printable(e.OutputPath).c_str(),
                         Printable(*failure).c_str(), held.c_str());
        else
            std::fprintf(stderr, "%s -> %s: %s\n", Printable(input).c_str(),
                         Printable(e.OutputPath).c_str(), Printable(*failure).c_str());
        ++tally.failed;
        return 1;
    }
    if (g_cdSignal) {
        std::fprintf(stderr, "%s -> %s (stopped; the file holds the first %s)\n",
                     Printable(input).c_str(), Printable(e.OutputPath).c_str(), held.c_str());
        return 1;
    }
    std::fprintf(stderr, "%s -> %s\n", Printable(input).c_str(), Printable(e.OutputPath).c_str());
    *written = e.OutputPath;
    ++tally.ripped;
    return 0;
}

void PrintSummary(const RipTally& t, std::size_t planned) {
    std::fprintf(stderr, "%d of %zu tracks ripped", t.ripped, planned);
    if (t.failed) std::fprintf(stderr, ", %d failed", t.failed);
    std::fputc('\n', stderr);
    for (const cd::CdDamage& d : t.damage) {
        const char* what = d.kind == cd::CdDamage::Padded       ? "unreadable, filled with silence"
                           : d.kind == cd::CdDamage::Unreadable ? "unreadable"
                                                                : "could not be verified";
        std::fprintf(stderr, "  damaged: %s: %s\n", cd::DescribeDamage(d).c_str(), what);
    }
}

// One track after another on the default job: read, encode, then the next.
int RipSerially(const std::vector<std::pair<int, std::string>>& work, const RipOptions& o,
                const std::string& folder, const cddb::CdInfo& disc, rip::VerifiedRip& verified,
                RipTally& tally) {
    int status = 0;
    for (const auto& [track, path] : work) {
        std::string output, error;
        if (o.verify.testCopy && !verified.TestRead(track, path)) {
            if (g_cdSignal) {
                // A stop, not a failure: said as the pipeline says it.
                std::fprintf(stderr, "%s: not ripped (%s)\n", Printable(path).c_str(),
                             rip::kStoppedInTestRead);
                verified.AfterCopy(track, "", "not ripped");
                break;
            }
            error = rip::kTestReadFailed;
            std::fprintf(stderr, "%s: %s\n", Printable(path).c_str(), error.c_str());
            ++tally.failed;
            status = 1;
        } else {
            verified.BeforeCopy(track, path);
            std::string failure;
            if (RipOne(path, track, o, folder, disc, tally, &output, &failure) != 0) {
                status = 1;
                error = failure.empty() ? "not ripped" : failure;
            }
        }
        verified.AfterCopy(track, output, error);
        if (g_cdSignal) break;
    }
    return status;
}

// The drive reads on while earlier tracks encode.
int RipPipelined(const std::vector<std::pair<int, std::string>>& work, const RipOptions& o,
                 const std::string& folder, const cddb::CdInfo& disc, rip::VerifiedRip& verified,
                 RipTally& tally) {
    int status = 0;
    // Every name and every existing-file refusal is settled before the drive spins.
    std::vector<rip::PipelineTrack> plans;
    // Entries that are no CD track fail the run but, as in the serial rip, are no failed track.
    std::vector<int> unplanned;
    for (const auto& [track, path] : work) {
        rip::PipelineTrack plan;
        plan.number = track;
        plan.cdaPath = path;
        if (!PlanTrack(path, track, o, folder, disc, plan)) {
            plan.refused = "not a CD track";
            unplanned.push_back(track);
        } else if (Taken(plan.outputPath)) {
            plan.replaces = o.overwrite;
            if (!o.overwrite) {
                std::fprintf(stderr, "%s: %s exists; --overwrite (-y) replaces it\n",
                             Printable(path).c_str(), Printable(plan.outputPath).c_str());
                plan.refused = "exists";
            }
        }
        plans.push_back(std::move(plan));
    }
    rip::PipelineOptions options;
    options.encoders = o.jobs;
    options.testCopy = o.verify.testCopy;
    std::string warning;
    options.memoryLimit = rip::HoldLimitFromEnvironment(warning);
    if (!warning.empty()) std::fprintf(stderr, "%s\n", Printable(warning).c_str());
    const bool live = isatty(STDERR_FILENO) != 0;
    bool lineShown = false;
    auto clearLine = [&] {
        if (lineShown) std::fputs("\r\033[K", stderr);
        lineShown = false;
    };
    rip::RipPipeline pipeline(verified, options);
    pipeline.Run(
        plans,
        [&](const rip::PipelineTrack& t, const rip::TrackResult& r) {
            clearLine();
            tally.damage.insert(tally.damage.end(), r.damage.begin(), r.damage.end());
            const std::string held = FormatClock(r.heldMs / 1000);
            if (r.durationMs && (r.kind == rip::TrackResult::Ripped || r.fileKept))
                ProgressDisplay(live, t.cdaPath, t.outputPath, r.began)
                    .Finish(0, r.durationMs, static_cast<double>(r.heldMs));
            const std::string inText = Printable(t.cdaPath);
            const char* in = inText.c_str();
            const std::string outText = Printable(t.outputPath);
            const char* out = outText.c_str();
            switch (r.kind) {
                case rip::TrackResult::Ripped:
                    std::fprintf(stderr, "%s -> %s\n", in, out);
                    ++tally.ripped;
                    return;
                case rip::TrackResult::Stopped:
                    std::fprintf(stderr, "%s -> %s (stopped; the file holds the first %s)\n", in,
                                 out, held.c_str());
                    break;
                case rip::TrackResult::Failed:
                case rip::TrackResult::OutputFailed:
                case rip::TrackResult::TestReadFailed:
                    if (r.fileKept)
                        std::fprintf(stderr, "%s -> %s: %s; the file holds the first %s\n", in, out,
                                     Printable(r.error).c_str(), held.c_str());
                    else
                        std::fprintf(stderr, "%s -> %s: %s\n", in, out, Printable(r.error).c_str());
                    ++tally.failed;
                    break;
                case rip::TrackResult::Refused:  // said when it was planned
                    if (std::find(unplanned.begin(), unplanned.end(), t.number) == unplanned.end())
                        ++tally.failed;
                    break;
                case rip::TrackResult::StoppedInTestRead:
                case rip::TrackResult::NotRipped:
                    std::fprintf(stderr, "%s: not ripped (%s)\n", in,
                                 r.error.empty() ? "stopped" : Printable(r.error).c_str());
                    break;
            }
            status = 1;
        },
        [&](const rip::PipelineProgress& p) {
            if (!live) return;
            std::string line = "\r\033[K";
            char part[64];
            if (p.readingTrack) {
                std::snprintf(part, sizeof part, "reading %02d %3.0f%%", p.readingTrack,
                              p.readPercent);
                line += part;
            }
            for (const auto& [track, pct] : p.encoding) {
                std::snprintf(part, sizeof part, "  encoding %02d %3.0f%%", track, pct);
                line += part;
            }
            std::fputs(line.c_str(), stderr);
            lineShown = true;
        });
    clearLine();
    return status;
}

int Rip(int argc, char** argv, int i) {
    RipOptions o;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        long n;
        if (a == "--drive") {
            const char* v = value();
            char letter;
            if (!v || !(cd::ParseDriveRoot(v, letter) ||
                        (std::strlen(v) == 1 && std::isalpha(static_cast<unsigned char>(v[0])))))
                return Usage();
            if (std::strlen(v) == 1)
                letter = static_cast<char>(std::toupper(static_cast<unsigned char>(v[0])));
            o.drive = letter;
        } else if (a == "--tracks") {
            const char* v = value();
            if (!v) return Usage();
            std::string why;
            if (!(o.tracks = ParseTracks(v, why))) {
                std::fprintf(stderr, "--tracks %s: %s\n", v, Printable(why).c_str());
                return 2;
            }
        } else if (a == "--jitter") {
            o.jitter = true;
        } else if (a == "--skip-bad") {
            o.skipBad = true;
        } else if (a == "--refresh") {
            o.refresh = true;
        } else if (a == "--format") {
            const char* v = value();
            const std::string f = v ? v : "";
            if (f == "wav")
                o.format = kFormatWav;
            else if (f == "mp3")
                o.format = kFormatMp3;
            else if (f == "wma")
                o.format = kFormatWma;
            else if (f == "flac")
                o.format = kFormatFlac;
            else if (f == "opus")
                o.format = kFormatOpus;
            else
                return Usage();
        } else if (a == "--rate") {
            const char* v = value();
            if (!v || !ParseInt(v, 1000, 192000, n)) return Usage();
            o.rate = static_cast<std::uint32_t>(n);
        } else if (a == "--channels") {
            const char* v = value();
            if (!v || !ParseInt(v, 1, 2, n)) return Usage();
            o.channels = static_cast<int>(n);
        } else if (a == "--bitrate") {
            const char* v = value();
            if (!v || !ParseInt(v, 1, 1000, n)) return Usage();
            o.bitrate = static_cast<int>(n);
        } else if (a == "--output-dir") {
            const char* v = value();
            if (!v) return Usage();
            o.outputDir = v;
        } else if (a == "--no-tags") {
            o.noTags = true;
        } else if (a == "--overwrite" || a == "-y") {
            o.overwrite = true;
        } else if (a == "--accuraterip-url") {
            const char* v = value();
            if (!v || std::strncmp(v, "http://", 7) != 0) return Usage();
            o.verify.accurateRipUrl = v;
        } else if (a == "--read-offset") {
            const char* v = value();
            if (!v || !ParseInt(v, -2940, 2940, n)) return Usage();
            o.verify.readOffset = static_cast<std::int32_t>(n);
        } else if (a == "--test-copy") {
            o.verify.testCopy = true;
        } else if (a == "--hidden-track") {
            o.verify.hiddenTrack = true;
        } else if (a == "-j" || a == "--jobs" || a.rfind("--jobs=", 0) == 0 ||
                   (a.size() > 2 && a.rfind("-j", 0) == 0)) {
            const char* v = a == "-j" || a == "--jobs" ? value()
                            : a[1] == 'j'              ? argv[i] + 2
                                                       : argv[i] + 7;
            if (!v || !ParseInt(v, 1, 256, n)) return Usage();
            o.jobs = static_cast<unsigned>(n);
        } else {
            return Usage();
        }
    }

    // The drive: the one asked for, else the first holding an audio disc.
    std::vector<std::string> entries;
    char letter = 0;
    if (o.drive) {
        const auto slot = cd::FindCdDrive(*o.drive);
        if (!slot) {
            std::fprintf(stderr, "%c: no such CD drive\n", *o.drive);
            return 1;
        }
        letter = slot->letter;
        entries = cd::ListCdaFiles(Root(letter));
        if (entries.empty()) {
            DiscToc toc;
            std::string reason;
            const bool read = cd::ReadDiscTocWithReason(Root(letter), toc, &reason);
            std::fprintf(stderr, "%s: %s\n", cd::DriveLabel(*slot).c_str(),
                         read ? "not an audio CD" : Printable(reason).c_str());
            return 1;
        }
    } else {
        for (const cd::CdDriveSlot& d : cd::ListCdDrives()) {
            entries = cd::ListCdaFiles(Root(d.letter));
            if (!entries.empty()) {
                letter = d.letter;
                break;
            }
        }
        if (entries.empty()) {
            std::fprintf(stderr,
                         "no audio CD in any drive (tralux-cli cd list shows the drives)\n");
            return 1;
        }
    }
    if (const auto slot = cd::FindCdDrive(letter))
        std::fprintf(stderr, "ripping from %s\n", cd::DriveLabel(*slot).c_str());
    std::vector<std::pair<int, std::string>> work;
    std::set<int> present;
    for (const std::string& path : entries) {
        char l;
        int t;
        if (!cd::ParseCdaPath(path, l, t)) continue;
        present.insert(t);
        if (!o.tracks || o.tracks->count(t)) work.emplace_back(t, path);
    }
    if (o.tracks)
        for (int t : *o.tracks)
            if (!present.count(t)) {
                std::fprintf(stderr, "%c: has no audio track %d\n", letter, t);
                return 1;
            }

    // Flags hold for this run only; everything else comes from the stored settings.
    std::map<std::string, int, std::less<>> overrides;
    if (o.jitter) overrides["Jitter"] = 1;
    if (o.skipBad) overrides["SkipBadSectors"] = 1;
    if (o.noTags) overrides["PlaceClipInfo"] = 0;
    if (o.bitrate)
        overrides["MP3BitRate"] = overrides["MSABitRate"] = overrides["OpusBitRate"] = *o.bitrate;
    SetOptionReader([overrides](std::string_view name) {
        const auto it = overrides.find(name);
        return it != overrides.end() ? it->second : settings::ReadOption(name);
    });
    const std::string folder = o.outputDir ? *o.outputDir : settings::ReadOptionText("BOut");
    if (!folder.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
    }
    struct sigaction sa {};
    sa.sa_handler = OnCdSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);  // a closed terminal stops the rip like Ctrl-C
    const cddb::CdInfo disc = cddb::LookupDisc(Root(letter), o.refresh);
    if (CddbChoiceRefused()) return 2;
    o.verify.jitter = o.jitter || settings::ReadOption("Jitter") > 0;
    o.verify.overwrite = o.overwrite;
    rip::RipReport report;
    // A live status line may stand on the terminal (the reader speaks from its own thread).
    report.say = [live = isatty(STDERR_FILENO) != 0](const std::string& text) {
        std::fprintf(stderr, live ? "\r\033[K%s\n" : "%s\n", Printable(text).c_str());
    };
    report.machine = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    rip::VerifiedRip verified(*cd::FindCdDrive(letter), o.verify, std::move(report));
    verified.Begin();
    if (g_cdSignal) {
        // Stopped while the disc was looked up: no track read, nothing to verify.
        std::fprintf(stderr, "stopped by %s before any track was read\n",
                     StopSignalName(g_cdSignal));
        Engine().CdReadOffset.store(0);
        return 128 + g_cdSignal;
    }
    int status = 0;
    RipTally tally;
    if (o.jobs != 1) {
        status = RipPipelined(work, o, folder, disc, verified, tally);
    } else {
        status = RipSerially(work, o, folder, disc, verified, tally);
    }
    PrintSummary(tally, work.size());
    if (g_cdSignal) {
        std::fprintf(stderr, "stopped by %s\n", StopSignalName(g_cdSignal));
        Engine().CdReadOffset.store(0);
        return 128 + g_cdSignal;
    }
    Engine().CdReadOffset.store(0);
    verified.Finish(folder, disc, Extension(o.format));
    return status;
}

}  // namespace

int CdCommand(int argc, char** argv, int first) {
    if (first >= argc) return Usage();
    const std::string sub = argv[first];
    std::vector<std::string> args(argv + first + 1, argv + argc);
    if (!TakeCddbOptions(args)) return Usage();
    std::vector<char*> rest;
    for (std::string& a : args) rest.push_back(a.data());
    rest.push_back(nullptr);
    if (sub == "list" && args.empty()) return List(false);
    if (sub == "list" && args.size() == 1 && args[0] == "--refresh") return List(true);
    if (sub == "rip") return Rip(static_cast<int>(args.size()), rest.data(), 0);
    return Usage();
}

}  // namespace tralux::cli
