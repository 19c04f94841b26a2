#include "app/models/batch_settings.h"

#include <algorithm>
#include <cstdio>

#include "app/settings/settings.h"

namespace tralux::models {

namespace {

struct StoredNames {
    const char* rate;
    const char* chan;
    const char* bit;  // null for WAV
};

StoredNames NamesFor(int format) {
    switch (format) {
        case kMp3:
            return {"BQ_RATEMP3", "BQ_CHANMP3", "BQ_BRATEMP3"};
        case kWma:
            return {"BQ_RATEWMA", "BQ_CHANWMA", "BQ_BRATEWMA"};
        case kFlac:
            return {"BQ_RATEFLAC", "BQ_CHANFLAC", "BQ_LEVELFLAC"};
        case kOpus:
            return {"BQ_RATEOPUS", "BQ_CHANOPUS", "BQ_BRATEOPUS"};
        default:
            return {"BQ_RATEWAV", "BQ_CHANWAV", nullptr};
    }
}

int ClampFormat(int f) {
    return f >= kWav && f <= kOpus ? f : kWav;
}

}  // namespace

void BatchQualityModel::OpenQuality() {
    q_ = QualityChoice{};
    q_.format = ClampFormat(settings::ReadOption("BOutFormat"));
    qualityMode_ = settings::ReadOption("BAQ") == 1 ? 1 : 0;
    jitter_ = settings::ReadOption("Jitter") > 0;
    outDir_ = settings::ReadOptionText("BOut");
    FillLists();
}

// Stored indices select the entries; unset or stale ones select the first entry so a later
// job never looks up a list with them.
void BatchQualityModel::FillLists() {
    StoredNames n = NamesFor(q_.format);
    q_.rateIndex =
        ClampIndex(settings::ReadOption(n.rate), static_cast<int>(SampleRateList().size()));
    q_.chanIndex = ClampIndex(settings::ReadOption(n.chan), 2);
    q_.bitIndex = n.bit ? ClampIndex(settings::ReadOption(n.bit),
                                     static_cast<int>(BitRateList(q_.format).size()))
                        : 0;
    // FLAC and Opus start at CD quality, level 5 and 160 kBps (index 5 in each list).
    if (q_.format == kFlac || q_.format == kOpus) {
        if (settings::ReadOption(n.rate) == -1) q_.rateIndex = 5;
        if (settings::ReadOption(n.chan) == -1) q_.chanIndex = 1;
        if (settings::ReadOption(n.bit) == -1) q_.bitIndex = 5;
    }
    // MP3 too: the first-run MP3 choices (8000 Hz mono, 128 kBps) are no encoder mode.
    ReactToChannels(q_);
}

void BatchQualityModel::StoreListSelections() const {
    StoredNames n = NamesFor(q_.format);
    settings::WriteOption(n.rate, q_.rateIndex);
    settings::WriteOption(n.chan, q_.chanIndex);
    if (n.bit) settings::WriteOption(n.bit, q_.bitIndex);
}

std::vector<std::string> BatchQualityModel::BitRateItems() const {
    std::vector<std::string> items;
    const auto list = BitRateList(q_.format);
    for (int i : OfferedBitIndices(q_.format, q_.Rate(), q_.Channels()))
        items.push_back(QualityItemText(q_.format, list[static_cast<std::size_t>(i)]));
    return items;
}

int BatchQualityModel::BitRateItem() const {
    if (q_.format == kWav) return -1;
    const auto offered = OfferedBitIndices(q_.format, q_.Rate(), q_.Channels());
    const auto it = std::find(offered.begin(), offered.end(), q_.bitIndex);
    return it == offered.end() ? -1 : static_cast<int>(it - offered.begin());
}

void BatchQualityModel::SetBitRateItem(int item) {
    if (q_.format == kWav) return;
    const auto offered = OfferedBitIndices(q_.format, q_.Rate(), q_.Channels());
    if (item >= 0 && item < static_cast<int>(offered.size()))
        SetBitRateIndex(offered[static_cast<std::size_t>(item)]);
}

void BatchQualityModel::SetFormat(int format) {
    StoreListSelections();
    q_.format = ClampFormat(format);
    FillLists();
    if (q_.format != kWav) ReactToChannels(q_);
}

void BatchQualityModel::SetQualityMode(int mode) {
    if (mode) {
        qualityMode_ = 1;
        FillLists();
        ReactToChannels(q_);
    } else {
        if (qualityMode_ == 1) StoreListSelections();
        qualityMode_ = 0;
        FillLists();
    }
}

void BatchQualityModel::SetBitRateIndex(int index) {
    if (q_.format == kWav || index < 0 || index >= static_cast<int>(BitRateList(q_.format).size()))
        return;
    q_.bitIndex = index;
    ReactToBitRate(q_);
}

void BatchQualityModel::SetRateIndex(int index) {
    if (index < 0 || index >= static_cast<int>(SampleRateList().size())) return;
    q_.rateIndex = index;
    ReactToSampleRate(q_);
}

void BatchQualityModel::SetChannelIndex(int index) {
    q_.chanIndex = std::clamp(index, 0, 1);
    ReactToChannels(q_);
}

void BatchSettingsModel::Open() {
    inDir_ = settings::ReadOptionText("BInDir");
    cd_ = settings::ReadOption("BIF_CDDA") > 0;
    mp3_ = settings::ReadOption("BIF_MP3") > 0;
    wav_ = settings::ReadOption("BIF_WAV") > 0;
    other_ = settings::ReadOption("BIF_OTHER") != 0;  // unset: on, as for a first run
    OpenQuality();
}

bool BatchSettingsModel::Accept() {
    if (!OkEnabled()) return false;
    settings::WriteOptionText("BInDir", inDir_);
    settings::WriteOptionText("BOut", outDir_);
    settings::WriteOption("BIF_CDDA", cd_ ? 1 : 0);
    settings::WriteOption("BIF_MP3", mp3_ ? 1 : 0);
    settings::WriteOption("BIF_WAV", wav_ ? 1 : 0);
    settings::WriteOption("BIF_OTHER", other_ ? 1 : 0);
    settings::WriteOption("BAQ", qualityMode_);
    settings::WriteOption("BOutFormat", q_.format);
    settings::WriteOption("Jitter", jitter_ ? 1 : 0);
    StoreListSelections();
    return true;
}

std::string FormatTrackLength(int seconds) {
    if (seconds < 0) seconds = 0;
    char buf[32];
    if (seconds >= 3600)
        std::snprintf(buf, sizeof buf, "%d:%02d:%02d", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    else
        std::snprintf(buf, sizeof buf, "%d:%02d", seconds / 60, seconds % 60);
    return buf;
}

void CdRipModel::Open(CdDisc disc) {
    disc_ = std::move(disc);
    for (CdTrack& t : disc_.tracks) t.selected = true;
    placeTitles_ = true;
    OpenQuality();
}

void CdRipModel::SetTicked(int row, bool on) {
    if (row >= 0 && row < static_cast<int>(disc_.tracks.size())) disc_.tracks[row].selected = on;
}

void CdRipModel::SetTrackTitle(int row, std::string title) {
    if (row >= 0 && row < static_cast<int>(disc_.tracks.size()))
        disc_.tracks[row].title = std::move(title);
}

bool CdRipModel::StartEnabled() const {
    if (outDir_.empty()) return false;
    return std::any_of(disc_.tracks.begin(), disc_.tracks.end(),
                       [](const CdTrack& t) { return t.selected; });
}

bool CdRipModel::Start(const CacheWriter& writeCache, std::string& cacheMessage) {
    cacheMessage.clear();
    if (!StartEnabled()) return false;
    settings::WriteOptionText("BOut", outDir_);
    settings::WriteOption("BAQ", qualityMode_);
    settings::WriteOption("BOutFormat", q_.format);
    settings::WriteOption("PlaceClipInfo", placeTitles_ ? 1 : 0);
    settings::WriteOption("Jitter", jitter_ ? 1 : 0);
    StoreListSelections();
    if (!writeCache || !writeCache(disc_)) cacheMessage = kCacheWriteFailed;
    return true;
}

}  // namespace tralux::models
