#pragma once
// The batch conversion and CD ripping dialogs without their widgets. Both keep the output
// format and quality in the store's "BOutFormat", "BAQ" and "BQ_..." values.
#include <functional>
#include <string>
#include <vector>

#include "app/models/quality.h"

namespace tralux::models {

// Format, quality mode and list selections shared by both dialogs.
class BatchQualityModel {
public:
    void SetFormat(int format);
    void SetQualityMode(int mode);  // 0 automatic, 1 custom
    void SetBitRateIndex(int index);
    void SetRateIndex(int index);
    void SetChannelIndex(int index);
    void SetJitter(bool on) { jitter_ = on; }
    void SetOutputFolder(std::string f) { outDir_ = std::move(f); }

    const QualityChoice& Quality() const { return q_; }
    int Format() const { return q_.format; }
    int QualityMode() const { return qualityMode_; }
    bool Jitter() const { return jitter_; }
    const std::string& OutputFolder() const { return outDir_; }
    // Only what the encoder takes at the chosen rate and channels; empty for WAV.
    std::vector<std::string> BitRateItems() const;
    // The shown item of the chosen bit rate (-1 for WAV), and a choice by shown item.
    int BitRateItem() const;
    void SetBitRateItem(int item);

    bool RateAndChannelsEnabled() const { return qualityMode_ == 1; }
    bool BitRateEnabled() const { return qualityMode_ == 1 && q_.format != kWav; }

    // Writes the list indices to the values of the current format.
    void StoreListSelections() const;

protected:
    void OpenQuality();  // "BOutFormat", "BAQ", "Jitter" and the lists
    void FillLists();

    QualityChoice q_;
    int qualityMode_ = 0;
    bool jitter_ = false;
    std::string outDir_;
};

class BatchSettingsModel : public BatchQualityModel {
public:
    void Open();
    void SetInputFolder(std::string f) { inDir_ = std::move(f); }
    void SetTakeWav(bool on) { wav_ = on; }
    void SetTakeMp3(bool on) { mp3_ = on; }
    void SetTakeCd(bool on) { cd_ = on; }
    void SetTakeOther(bool on) { other_ = on; }
    bool TakeOther() const { return other_; }

    const std::string& InputFolder() const { return inDir_; }
    bool TakeWav() const { return wav_; }
    bool TakeMp3() const { return mp3_; }
    bool TakeCd() const { return cd_; }

    bool OkEnabled() const { return !inDir_.empty() && !outDir_.empty(); }
    // Writes the store; false (nothing written) while OK is disabled.
    bool Accept();

private:
    std::string inDir_;
    bool wav_ = true, mp3_ = true, cd_ = true, other_ = true;
};

struct CdTrack {
    std::string title;
    std::string extended;
    int lengthSeconds = 0;
    bool selected = true;
};

// The disc as the ripping dialog works on it (a copy of the process-wide CD information).
struct CdDisc {
    std::string title;     // DTITLE
    std::string idText;    // DISCID
    std::string extended;  // EXTD, shown as the copyright
    std::string comments;
    std::vector<CdTrack> tracks;
};

// "h:mm:ss" from an hour on, else "m:ss".
std::string FormatTrackLength(int seconds);

inline constexpr const char* kCacheWriteFailed = "無法將 CD 訊息存入快取!";

class CdRipModel : public BatchQualityModel {
public:
    // Saves the disc in the CD information cache; false on failure.
    using CacheWriter = std::function<bool(const CdDisc&)>;

    void Open(CdDisc disc);
    CdDisc& Disc() { return disc_; }
    const CdDisc& Disc() const { return disc_; }
    void SetTicked(int row, bool on);
    void SetTrackTitle(int row, std::string title);
    void SetPlaceSongTitles(bool on) { placeTitles_ = on; }
    bool PlaceSongTitles() const { return placeTitles_; }

    bool StartEnabled() const;
    // Writes the store and the cache. False while start is disabled; `cacheMessage` receives
    // the cache failure text (ripping goes on all the same).
    bool Start(const CacheWriter& writeCache, std::string& cacheMessage);

private:
    CdDisc disc_;
    bool placeTitles_ = true;
};

}  // namespace tralux::models
