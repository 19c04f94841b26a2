#include "rip/verified_rip.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "app/settings/settings.h"
#include "cd/cue_writer.h"
#include "cd/image_drive.h"
#include "cd/reader.h"
#include "cd/subchannel.h"
#include "cddb/accuraterip_fetch.h"
#include "cddb/disc_id.h"
#include "cddb/engine/cd_info_provider.h"
#include "cddb/track_name.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/job.h"

#ifndef TRALUX_VERSION
#define TRALUX_VERSION "0"
#endif

namespace tralux::rip {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSection = "AccurateRip";
constexpr std::uint32_t kHiddenChunk = 20;  // sectors per raw read

std::string Hex(std::uint32_t v) {
    char t[12];
    std::snprintf(t, sizeof t, "%08x", v);
    return t;
}

std::string Signed(std::int32_t v) {
    return (v > 0 ? "+" : "") + std::to_string(v);
}

template <typename... A>
std::string Format(const char* format, A... args) {
    char text[512];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

std::string Root(char letter) {
    return std::string(1, letter) + ":/";
}

bool StopAsked() {
    return Engine().StopRequested.load();
}

// Probes a track entry without asking for CD information again.
bool ProbeTrack(const std::string& cdaPath, StreamInfo& info) {
    cddb::ScopedCdInfoOff off;
    return ProbeInput(cdaPath, info);
}

// Reads a whole track into the checksummer only (no output); false when a read failed or the
// user stopped the rip.
bool ReadForChecksums(const std::string& cdaPath, bool jitter, std::int32_t offset,
                      cd::TrackChecksummer& summer) {
    StreamInfo info;
    if (!ProbeTrack(cdaPath, info)) return false;
    struct Discard final : cd::CdSink {
        void Block(std::uint8_t*, std::size_t) override {
            if (Engine().StopRequested.load()) throw std::runtime_error("stopped");
        }
        void Finish() override {}
    } sink;
    cd::CdRipRequest request;
    request.jitter = jitter;
    request.readOffset = offset;
    request.tap = [&](const std::uint8_t* d, std::size_t n) { summer.Add(d, n); };
    try {
        cd::CdRipTrack(sink, info, request);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char t[40];
    std::strftime(t, sizeof t, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return t;
}

// Writes `text` to `path` unless something is there and overwriting was not asked for; what
// went wrong is said through `say`.
void WriteBeside(const fs::path& path, const std::string& text, bool overwrite,
                 const std::function<void(const std::string&)>& say) {
    std::error_code ec;
    if (!overwrite && fs::exists(path, ec)) {
        say(path.string() + " exists: not replaced");
        return;
    }
    const fs::path temp = path.string() + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) {
            out.close();
            fs::remove(temp, ec);
            say(path.string() + ": cannot be written");
            return;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        say(path.string() + ": " + ec.message());
    }
}

// A WAV of raw CD audio (hidden track one audio) read from the drive a piece at a time, written
// whole or not at all.
bool WriteHiddenWav(const fs::path& path, cd::CdDevice& device, std::uint32_t sectors) {
    auto le = [](std::string& s, std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    };
    const std::uint32_t bytes = sectors * 2352;
    std::string h = "RIFF";
    le(h, 36 + bytes, 4);
    h += "WAVEfmt ";
    le(h, 16, 4);
    le(h, 1, 2);
    le(h, 2, 2);
    le(h, 44100, 4);
    le(h, 44100 * 4, 4);
    le(h, 4, 2);
    le(h, 16, 2);
    h += "data";
    le(h, bytes, 4);
    const fs::path temp = path.string() + ".part";
    std::error_code ec;
    bool ok = true;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << h;
        std::vector<std::uint8_t> buf(kHiddenChunk * 2352);
        for (std::uint32_t at = 0; ok && at < sectors; at += kHiddenChunk) {
            const std::uint32_t n = std::min(kHiddenChunk, sectors - at);
            ok = device.ReadAudio(at, n, buf.data()) &&
                 out.write(reinterpret_cast<const char*>(buf.data()), n * 2352);
        }
        ok = ok && out.flush();
    }
    if (ok) fs::rename(temp, path, ec);
    if (!ok || ec) fs::remove(temp, ec);
    return ok && !ec;
}

}  // namespace

VerifiedRip::VerifiedRip(const cd::CdDriveSlot& slot, VerifyOptions options, RipReport report)
    : slot_(slot), options_(std::move(options)), report_(std::move(report)) {
    if (!report_.say) report_.say = [](const std::string&) {};
    log_.program = std::string("Quorvatix Tralux ") + TRALUX_VERSION;
    log_.date = UtcNow();
    log_.drive = cd::DriveLabel(slot_);
    log_.jitter = options_.jitter;
    log_.testCopy = options_.testCopy;
}

void VerifiedRip::Begin() {
    // The offset: the flag, else the one stored for this drive ([AccurateRip] Offset <source>).
    log_.readOffsetSource = "none set";
    if (options_.readOffset) {
        log_.readOffset = *options_.readOffset;
        log_.readOffsetSource = "--read-offset";
        offsetSet_ = true;
    } else {
        const std::string stored = settings::ReadProfileText(kSection, "Offset " + slot_.source);
        std::int32_t frames = 0;
        if (!stored.empty() && cd::ParseReadOffset(stored, frames)) {
            log_.readOffset = frames;
            log_.readOffsetSource = "set for this drive";
            offsetSet_ = true;
        }
    }
    Engine().CdReadOffset.store(log_.readOffset);

    std::string reason;
    if (!cd::ReadDiscTocWithReason(Root(slot_.letter), log_.toc, &reason)) {
        log_.database = "not looked up: " + reason;
        return;
    }
    ReadSubChannel();
    haveIds_ = cd::ArIdsFromToc(log_.toc, DiscIdFromToc(log_.toc), ids_);

    // Audio before track 1: is any of it not silence? Read a piece at a time: it may be long.
    if (!log_.toc.tracks.empty() && log_.toc.tracks.front().startLba > 0) {
        if (auto device = cd::OpenCdDrive(slot_)) {
            const std::uint32_t sectors = log_.toc.tracks.front().startLba;
            std::vector<std::uint8_t> buf(kHiddenChunk * 2352);
            bool audio = false;
            for (std::uint32_t at = 0; at < sectors && !audio && !StopAsked(); at += kHiddenChunk) {
                const std::uint32_t n = std::min(kHiddenChunk, sectors - at);
                if (!device->ReadAudio(at, n, buf.data())) break;
                audio = std::any_of(buf.begin(), buf.begin() + n * 2352,
                                    [](std::uint8_t b) { return b != 0; });
            }
            if (audio) {
                hiddenSectors_ = sectors;
                const std::string t = Format("hidden audio before track 1: %02u:%02u.%02u",
                                             sectors / 4500, sectors / 75 % 60, sectors % 75);
                log_.hiddenAudio = t;
                Say(t + (options_.hiddenTrack ? " (ripped as track 00)"
                                              : " (can be ripped as track 00)"));
            }
        }
    }

    std::string url = options_.accurateRipUrl.value_or(settings::ReadProfileText(kSection, "Url"));
    if (!haveIds_) {
        log_.database = "not looked up: no audio tracks";
    } else if (url.empty()) {
        log_.database = "not looked up: no AccurateRip server set (--accuraterip-url)";
    } else {
        const cddb::ArLookup found =
            cddb::FetchArDatabase(url, ids_, nullptr, &Engine().StopRequested);
        looked_ =
            found.status == cddb::ArLookup::Found || found.status == cddb::ArLookup::NotInDatabase;
        if (found.status == cddb::ArLookup::Stopped) {
            stopped_ = true;
            log_.database = "not looked up: stopped";
        } else if (found.status == cddb::ArLookup::Found) {
            responses_ = found.responses;
            log_.database = cd::ArFileName(ids_) + ", " + std::to_string(responses_.size()) +
                            (responses_.size() == 1 ? " pressing" : " pressings") +
                            (found.fromCache ? " (cached)" : "");
        } else if (found.status == cddb::ArLookup::NotInDatabase) {
            log_.database = cd::ArFileName(ids_) + ": disc not in database";
        } else {
            log_.database = "lookup failed: " + found.error;
        }
    }
    if (StopAsked()) {
        stopped_ = true;
        return;
    }
    Say("AccurateRip: " + log_.database);
    Say("read offset " + Signed(log_.readOffset) + " samples (" + log_.readOffsetSource + ")");
}

void VerifiedRip::ReadSubChannel() {
    const std::size_t n = log_.toc.tracks.size();
    log_.pregaps.assign(n, 0);
    isrcs_.assign(n, {});
    std::string reason;
    const auto device = cd::OpenCdDrive(slot_, &reason);
    if (!device) {
        log_.pregapNote = "pre-gaps not read: " + reason;
        return;
    }
    log_.catalog = cd::ReadMcn(*device);
    for (std::size_t k = 0; k < n && !StopAsked(); ++k)
        if (log_.toc.tracks[k].audio) isrcs_[k] = cd::ReadIsrc(*device, log_.toc.tracks[k].number);
    const auto gaps = cd::ReadPregaps(*device, log_.toc, &Engine().StopRequested);
    std::string unknown;
    int count = 0;
    for (std::size_t k = 0; k < n; ++k) {
        if (gaps[k]) {
            log_.pregaps[k] = *gaps[k];
        } else {
            unknown += (unknown.empty() ? "" : ", ") + std::to_string(log_.toc.tracks[k].number);
            ++count;
        }
    }
    if (count)
        log_.pregapNote = std::string(count == 1 ? "pre-gap of track " : "pre-gaps of tracks ") +
                          unknown +
                          " not known: the drive's sub-channel did not say (00:00.00 shown)";
}

bool VerifiedRip::TestRead(int track, const std::string& cdaPath) {
    (void)track;
    testCrc_.reset();
    cd::TrackChecksummer summer(0, false, false);
    if (!ReadForChecksums(cdaPath, options_.jitter, log_.readOffset, summer)) return false;
    testCrc_ = summer.Result().crc;
    return true;
}

void VerifiedRip::BeforeCopy(int track, const std::string& cdaPath) {
    StreamInfo info;
    expectedFrames_ = ProbeTrack(cdaPath, info) ? std::uint64_t{info.lengthSectors} * 588 : 0;
    std::uint8_t firstAudio = 0, lastAudio = 0;
    for (const TocTrack& t : log_.toc.tracks)
        if (t.audio) {
            if (!firstAudio) firstAudio = t.number;
            lastAudio = t.number;
        }
    cdaPath_ = cdaPath;
    first_ = track == firstAudio;
    last_ = track == lastAudio;
    summer_ = std::make_shared<cd::TrackChecksummer>(expectedFrames_, first_, last_);
    auto summer = summer_;
    Engine().CdTap = [summer](const std::uint8_t* d, std::size_t n) { summer->Add(d, n); };
}

void VerifiedRip::AfterCopy(int track, const std::string& file, const std::string& error) {
    Engine().CdTap = nullptr;
    cd::RipLogTrack t;
    t.number = track;
    t.testCrc = testCrc_;
    testCrc_.reset();
    const auto k = static_cast<std::size_t>(track - 1);
    t.pregapSectors = k < log_.pregaps.size() ? log_.pregaps[k] : 0;
    if (k < isrcs_.size()) t.isrc = isrcs_[k];
    // A stopped or failed copy has no whole track to verify.
    if (!error.empty() || !summer_ || summer_->Frames() != expectedFrames_ ||
        expectedFrames_ == 0) {
        t.error = error.empty() ? "stopped" : error;
        log_.tracks.push_back(t);
        summer_.reset();
        return;
    }
    t.file = fs::path(file).filename().string();
    t.checked = looked_;
    t.sums = summer_->Result();
    t.peak = summer_->Peak();
    summer_.reset();
    if (haveIds_)
        t.accurateRip = cd::ArVerify(responses_, ids_, static_cast<std::uint32_t>(track), t.sums);
    // Where the offset reached beyond the disc's edges: silence before sector 0; past the
    // lead-out what the drive read there, as the reader reported for this very track.
    const std::int32_t o = log_.readOffset;
    if (!log_.toc.tracks.empty()) {
        if (o < 0 && track == log_.toc.tracks.front().number &&
            log_.toc.tracks.front().startLba == 0)
            t.paddedFrames = static_cast<std::uint64_t>(-static_cast<std::int64_t>(o));
        if (o > 0 && track == log_.toc.tracks.back().number) {
            const cd::CdEdges edges = cd::LastTrackEdges();
            const bool reported = edges.track == track;
            t.overreadFrames = reported ? edges.overread : 0;
            t.paddedFrames = reported ? edges.padded : static_cast<std::uint64_t>(o);
        }
    }
    std::string words = Format("track %02d: %s, copy CRC %s", track,
                               looked_ ? cd::ArResultText(t.accurateRip).c_str() : "not looked up",
                               Hex(t.sums.crc).c_str());
    if (t.testCrc) {
        const bool same = *t.testCrc == t.sums.crc;
        if (!same) copiesAgree_ = false;
        words += same ? ", test CRC the same"
                      : ", test CRC " + Hex(*t.testCrc) + " differs: the two reads disagree";
    }
    Say(words);
    if (report_.machine)
        report_.machine(Format("accuraterip %02d %s confidence %u v1 %s v2 %s crc %s", track,
                               cd::ArResultWord(t.accurateRip), t.accurateRip.confidence,
                               Hex(t.sums.v1).c_str(), Hex(t.sums.v2).c_str(),
                               Hex(t.sums.crc).c_str()));
    log_.tracks.push_back(t);
    if (t.accurateRip.kind == cd::ArTrackResult::Mismatch && !offsetSet_ && !searched_)
        SearchOffset(track, cdaPath_, t.accurateRip);
}

void VerifiedRip::CopyFailed(int track, const std::string& error) {
    for (cd::RipLogTrack& t : log_.tracks)
        if (t.number == track && t.error.empty()) {
            t.error = error.empty() ? "not ripped" : error;
            t.file.clear();
        }
}

void VerifiedRip::SearchOffset(int track, const std::string& cdaPath,
                               const cd::ArTrackResult& atZero) {
    searched_ = true;
    Say(Format("no read offset set: trying the common ones on track %02d", track));
    for (const std::int32_t o : cd::CommonReadOffsets()) {
        if (Engine().StopRequested.load()) return;
        cd::TrackChecksummer summer(expectedFrames_, first_, last_);
        if (!ReadForChecksums(cdaPath, options_.jitter, o, summer)) continue;
        const cd::ArTrackResult r =
            cd::ArVerify(responses_, ids_, static_cast<std::uint32_t>(track), summer.Result());
        if (r.kind != cd::ArTrackResult::Match) continue;
        log_.offsetFinding =
            "offset " + Signed(o) + " matches, confidence " + std::to_string(r.confidence);
        Say(log_.offsetFinding + Format(" (a read offset of %d rips the disc accurately)", o));
        return;
    }
    log_.offsetFinding = "none of the common offsets matches (best confidence " +
                         std::to_string(atZero.confidence) + ")";
    Say(log_.offsetFinding);
}

void VerifiedRip::Finish(const std::string& folder, const cddb::CdInfo& disc,
                         const std::string& extension) {
    (void)extension;
    std::string performer, title = std::string(cddb::TrimBlanks(disc.discTitle));
    if (const auto slash = title.find(" / "); slash != std::string::npos) {
        performer = std::string(cddb::TrimBlanks(title.substr(0, slash)));
        title = std::string(cddb::TrimBlanks(title.substr(slash + 3)));
    }
    log_.performer = performer;
    log_.title = title;
    log_.infoSource = disc.discTitle.empty() ? "none" : "CDDB server, cache or CD-Text";
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    std::string base = cddb::SanitizeTitle(performer.empty() ? title : performer + " - " + title);
    if (base.empty()) base = "disc";
    // A name that starts with '-' reads as an option to the tools the files are handed to.
    if (base.front() == '-') base.front() = '_';

    if (hiddenSectors_ && options_.hiddenTrack) {
        const fs::path path = dir / cddb::TrackFileName(0, "Hidden", ".wav");
        std::error_code ec;
        if (!options_.overwrite && fs::exists(path, ec)) {
            Say(path.string() + " exists: not replaced");
        } else if (auto device = cd::OpenCdDrive(slot_);
                   device && WriteHiddenWav(path, *device, hiddenSectors_)) {
            Say("track 00: " + path.string());
        } else {
            Say("track 00: the hidden audio could not be read");
        }
    }

    cd::CueOutDisc cue;
    cue.performer = performer;
    cue.title = title;
    cue.discId = Hex(DiscIdFromToc(log_.toc));
    cue.comment = log_.program;
    cue.catalog = log_.catalog;
    cue.fileType = extension == ".mp3" ? "MP3" : "WAVE";
    int previous = -1;
    for (const cd::RipLogTrack& t : log_.tracks) {
        if (!t.error.empty()) continue;
        cd::CueOutTrack c;
        // A pre-gap lies in the previous track's file: only when that track was ripped too.
        const bool gapFile = previous == t.number - 1;
        previous = t.number;
        c.number = t.number;
        c.file = t.file;
        c.isrc = t.isrc;
        const auto k = static_cast<std::size_t>(t.number - 1);
        if (k < disc.tracks.size()) c.title = disc.tracks[k].title;
        c.pregapSectors = gapFile || t.number == 1 ? t.pregapSectors : 0;
        if (k < log_.toc.tracks.size()) {
            const std::uint32_t next = k + 1 < log_.toc.tracks.size()
                                           ? log_.toc.tracks[k + 1].startLba
                                           : log_.toc.leadOutLba;
            c.sectors = next - log_.toc.tracks[k].startLba;
        }
        cue.tracks.push_back(c);
    }
    WriteBeside(dir / (base + ".log"), cd::FormatRipLog(log_), options_.overwrite, report_.say);
    if (!cue.tracks.empty())
        WriteBeside(dir / (base + ".cue"), cd::FormatCueSheet(cue), options_.overwrite,
                    report_.say);
    Say(cd::RipVerdict(log_.tracks));
}

}  // namespace tralux::rip
