#include "cddb/engine/cd_info_provider.h"

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

}  // namespace

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
    CddbUi* ui = t_ui;
    // CD-Text is read only where the lookup may go on to the server: a worker has the cache.
    if (request.discId != 0 && ui) request.cdText = ReadCdText(root, request.toc.tracks.size());
    LookupTiming timing;
    {
        std::lock_guard lock(g_mutex);
        timing = g_timing;
    }
    return LookupTrackInfo(request, texts, ui, timing);
}

CdInfo LookupDisc(const std::string& root) {
    LookupRequest request;
    request.discId = ComputeDiscId(root, &request.toc);
    if (request.discId == 0) {
        TrackTexts none;
        LookupTrackInfo(request, none, t_ui);  // clears the previous disc
        return CdInfo{};
    }
    CdInfo info;
    ResetForDisc(info, request.discId, request.toc.tracks.size());
    TrackTexts texts;
    if (t_ui) request.cdText = ReadCdText(root, request.toc.tracks.size());
    LookupTiming timing;
    {
        std::lock_guard lock(g_mutex);
        timing = g_timing;
    }
    if (!LookupTrackInfo(request, texts, t_ui, timing)) {
        ComputeTrackLengths(info, request.toc);
        return info;
    }
    // The record of the lookup that just ended (hit or answer) describes this disc.
    CdInfo current = CurrentCdInfo();
    if (current.discIdText == info.discIdText && current.tracks.size() == info.tracks.size())
        return current;
    // A cache-only lookup leaves the shared record alone; read the entry again.
    CacheRead(info);
    ComputeTrackLengths(info, request.toc);
    return info;
}

void InstallCdInfoProvider() {
    {
        std::lock_guard lock(g_mutex);
        if (!g_cdText) g_cdText = DriveCdText;
    }
    SetCdInfoProvider([](StreamInfo& info) {
        if (!info.driveLetter || t_off) return;
        TrackTexts texts{info.Artist, info.Copyright, info.Title};
        if (LookupDiscTrack(std::string(1, info.driveLetter) + ":", info.trackNumber, texts)) {
            info.Artist = texts.discTitle;
            info.Copyright = texts.extended;
            info.Title = texts.trackTitle;
        }
    });
}

}  // namespace tralux::cddb
