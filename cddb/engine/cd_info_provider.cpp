#include "cddb/engine/cd_info_provider.h"

#include <map>
#include <mutex>

#include "cddb/cache.h"
#include "cddb/disc_id.h"
#include "engine/formats/riff_reader.h"

namespace tralux::cddb {
namespace {

thread_local CddbUi* t_ui = nullptr;
thread_local bool t_off = false;
std::mutex g_mutex;
CdTextSource g_cdText;
LookupTiming g_timing;
// What this run's lookups found, by cache entry name: a disc nobody knows is asked once.
std::map<std::string, CdInfo> g_runLookups;

std::optional<CdInfo> RunLookup(const CdInfo& empty) {
    std::lock_guard lock(g_mutex);
    const auto it = g_runLookups.find(CacheEntryName(empty));
    if (it == g_runLookups.end()) return std::nullopt;
    return it->second;
}

void KeepRunLookup(const CdInfo& info) {
    std::lock_guard lock(g_mutex);
    g_runLookups[CacheEntryName(info)] = info;
}

bool TrackTextsOf(const CdInfo& disc, int trackNumber, TrackTexts& texts) {
    const auto index = static_cast<std::size_t>(trackNumber - 1);
    if (trackNumber < 1 || index >= disc.tracks.size()) return false;
    texts.discTitle = TruncateUtf8(disc.discTitle, kMaxInfoText);
    texts.extended = TruncateUtf8(disc.extended, kMaxInfoText);
    texts.trackTitle = TruncateUtf8(disc.tracks[index].title, kMaxInfoText);
    texts.year = TruncateUtf8(disc.year, kMaxInfoText);
    texts.genre = TruncateUtf8(disc.genre, kMaxInfoText);
    texts.trackCount = disc.tracks.size();
    return true;
}

}  // namespace

void ForgetRunLookups() {
    std::lock_guard lock(g_mutex);
    g_runLookups.clear();
}

void SetThreadUi(CddbUi* ui) {
    t_ui = ui;
}

ScopedCdInfoOff::ScopedCdInfoOff() : previous_(t_off) {
    t_off = true;
}
ScopedCdInfoOff::~ScopedCdInfoOff() {
    t_off = previous_;
}
CddbUi* ThreadUi() {
    return t_ui;
}

void SetCdTextSource(CdTextSource source) {
    std::lock_guard lock(g_mutex);
    g_cdText = std::move(source);
}

std::optional<CdInfo> ReadCdText(const std::string& root, std::size_t trackCount) {
    CdTextSource source;
    {
        std::lock_guard lock(g_mutex);
        source = g_cdText;
    }
    if (!source) return std::nullopt;
    return source(root, trackCount);
}

void SetLookupTiming(LookupTiming timing) {
    std::lock_guard lock(g_mutex);
    g_timing = timing;
}

bool LookupDiscTrack(const std::string& root, int trackNumber, TrackTexts& texts) {
    LookupRequest request;
    request.discId = ComputeDiscId(root, &request.toc);
    request.trackNumber = trackNumber;
    request.discTitle = texts.discTitle;
    request.extended = texts.extended;
    request.trackTitle = texts.trackTitle;
    if (request.discId != 0) {
        CdInfo known;
        ResetForDisc(known, request.discId, request.toc.tracks.size());
        if (!CacheRead(known)) {
            if (const std::optional<CdInfo> run = RunLookup(known))
                return TrackTextsOf(*run, trackNumber, texts);
        }
    }
    // The whole disc once (the next probe of another track finds it in this run's record).
    CddbUi* ui = t_ui;
    if (request.discId != 0 && ui) {
        return TrackTextsOf(LookupDisc(root), trackNumber, texts);
    }
    return LookupTrackInfo(request, texts, ui);
}

CdInfo LookupDisc(const std::string& root, bool refresh) {
    LookupRequest request;
    request.discId = ComputeDiscId(root, &request.toc);
    request.refresh = refresh;
    if (request.discId == 0) {
        TrackTexts none;
        LookupTrackInfo(request, none, t_ui);  // clears the previous disc
        return CdInfo{};
    }
    CdInfo info;
    ResetForDisc(info, request.discId, request.toc.tracks.size());
    if (!refresh) {
        if (CacheRead(info)) {
            ComputeTrackLengths(info, request.toc);
            if (t_ui) SetCurrentCdInfo(info);
            return info;
        }
        if (std::optional<CdInfo> run = RunLookup(info)) {
            if (t_ui) SetCurrentCdInfo(*run);
            return *run;
        }
    }
    TrackTexts texts;
    if (t_ui) request.cdText = ReadCdText(root, request.toc.tracks.size());
    LookupTiming timing;
    {
        std::lock_guard lock(g_mutex);
        timing = g_timing;
    }
    const bool found = LookupTrackInfo(request, texts, t_ui, timing);
    if (found) {
        // The record of the lookup that just ended (hit or answer) describes this disc.
        CdInfo current = CurrentCdInfo();
        if (current.discIdText == info.discIdText && current.tracks.size() == info.tracks.size())
            info = std::move(current);
        else
            CacheRead(info);  // a cache-only lookup leaves the shared record alone
    } else if (t_ui) {
        // Nothing found (or nothing asked): the disc's own CD-Text, else the placeholders.
        if (request.cdText) {
            if (!request.cdText->discTitle.empty()) info.discTitle = request.cdText->discTitle;
            if (!request.cdText->extended.empty()) info.extended = request.cdText->extended;
            for (std::size_t i = 0; i < info.tracks.size() && i < request.cdText->tracks.size();
                 ++i)
                if (!request.cdText->tracks[i].title.empty())
                    info.tracks[i].title = request.cdText->tracks[i].title;
        }
    }
    ComputeTrackLengths(info, request.toc);
    // A lookup that could ask (or was cancelled) is not repeated in this run.
    if (t_ui) KeepRunLookup(info);
    return info;
}

void InstallCdInfoProvider() {
    {
        std::lock_guard lock(g_mutex);
        if (!g_cdText) g_cdText = DriveCdText;
    }
    SetCdInfoProvider([](StreamInfo& info) {
        if (!info.driveLetter || t_off) return;
        TrackTexts texts;
        texts.discTitle = info.Artist;
        texts.extended = info.Copyright;
        texts.trackTitle = info.Title;
        if (LookupDiscTrack(std::string(1, info.driveLetter) + ":", info.trackNumber, texts)) {
            // "Artist / Album" is the disc title's convention.
            SplitDiscTitle(texts.discTitle, info.Artist, info.Album);
            info.Copyright = texts.extended;
            info.Title = texts.trackTitle;
            info.Year = texts.year;
            info.Genre = texts.genre;
            if (texts.trackCount)
                info.Track =
                    std::to_string(info.trackNumber) + "/" + std::to_string(texts.trackCount);
        }
    });
}

}  // namespace tralux::cddb
