#pragma once
// The conversion settings dialog without its widgets: the fields, the opening sequence, the
// enabling rules, the reactions that keep the quality lists on a valid combination, and OK.
#include <string>
#include <vector>

#include "app/models/quality.h"

namespace tralux::models {

// What the dialog reads from the output configuration when it opens.
struct ConversionInputs {
    int outputFormat = kWav;
    int outputRate = 44100;
    int outputChannels = 2;
    bool keepInputQuality = true;
    std::string qualityDescription;
    double positionMs = 0;
    bool equalizerOn = false;
    std::string title, artist, copyright;
};

// What OK hands back to the output configuration.
struct ConversionOutputs {
    std::string title, artist, copyright;
    bool equalizerOn = false;
    int outputFormat = kWav;
    bool keepInputQuality = true;
    int outputRate = 0;      // set only when keepInputQuality is false
    int outputChannels = 0;  // likewise
};

inline constexpr const char* kInvalidWmaCombination =
    "MS Audio 編碼不能使用這個位元率、取樣率與聲道的組合，請另選一個。";

// "mm:ss" below an hour, "h:mm:ss" from an hour on.
std::string FormatPosition(double positionMs);

class ConversionSettingsModel {
public:
    // Reads the settings store (writing the default bit rates when unset) and the inputs.
    void Open(const ConversionInputs& in);

    // Reactions to the controls.
    void SetFormat(int format);
    void SetBitRateIndex(int index);
    void SetRateIndex(int index);
    void SetChannelIndex(int index);
    void SetQualityMode(int mode);  // 0 keep the input's quality, 1 convert
    void SetSongInfo(bool on);
    void SetDecodeStart(int start) { decodeStart_ = FromPositionEnabled() ? start : 0; }
    void SetTitle(std::string t) { title_ = std::move(t); }
    void SetAuthor(std::string t) { author_ = std::move(t); }
    void SetCopyright(std::string t) { copyright_ = std::move(t); }
    void SetEqualizer(bool on) { equalizer_ = on; }
    void SetJitter(bool on) { jitter_ = on; }
    void SetDestination(std::string d) { destination_ = std::move(d); }

    // OK: false (and the message in `refusal`) when the dialog must stay open; otherwise the
    // settings store is written and `out` filled.
    bool Accept(ConversionOutputs& out, std::string& refusal);

    // Fields.
    const QualityChoice& Quality() const { return q_; }
    int Format() const { return q_.format; }
    int QualityMode() const { return qualityMode_; }
    int DecodeStart() const { return decodeStart_; }
    bool SongInfo() const { return songInfo_; }
    const std::string& Title() const { return title_; }
    const std::string& Author() const { return author_; }
    const std::string& Copyright() const { return copyright_; }
    bool Equalizer() const { return equalizer_; }
    bool Jitter() const { return jitter_; }
    bool Normalize() const { return normalize_; }
    const std::string& Destination() const { return destination_; }
    const std::string& OriginalQualityLabel() const { return originalLabel_; }
    const std::string& FromPositionLabel() const { return positionLabel_; }

    // The bit-rate list as shown: only what the encoder takes at the chosen rate and
    // channels, for MP3 from 16000 Hz on followed by the variable-rate levels 0 (best) .. 9;
    // WAV leaves the previous format's items in place.
    std::vector<std::string> BitRateItems() const;
    // The shown item of the chosen bit rate or level (-1 for WAV), and a choice by shown item.
    int BitRateItem() const;
    void SetBitRateItem(int item);
    // MP3 variable-rate level 0..9, or -1 for the constant bit rate.
    int VbrLevel() const { return vbr_; }
    // The rate list as shown: for WMA only the rates the writer takes at some bit rate.
    std::vector<std::string> RateItems() const;
    int RateItem() const;  // -1 when the chosen rate is not shown
    void SetRateItem(int item);

    // Enabling rules.
    bool OriginalQualityEnabled() const { return TakesAnyRate(q_.format); }
    bool BitRateEnabled() const { return q_.format != kWav; }
    bool RateAndChannelsEnabled() const { return qualityMode_ == 1; }
    bool TagEditsEnabled() const { return songInfo_; }
    bool FromPositionEnabled() const { return positionMs_ != 0; }

private:
    void FillLists(bool pickStored);
    void ApplyEnablingRules();
    bool VbrOffered() const;

    QualityChoice q_;
    int bitListFormat_ = -1;  // whose bit rates the list holds
    int vbr_ = -1;            // MP3 variable-rate level, -1 constant
    int qualityMode_ = 0;
    int decodeStart_ = 0;
    bool songInfo_ = true;
    bool equalizer_ = false;
    bool jitter_ = false;
    bool pseudoStereo_ = false;
    bool normalize_ = false;
    double positionMs_ = 0;
    std::string title_, author_, copyright_, destination_;
    std::string originalLabel_, positionLabel_;
};

// The output configuration of the engine and the user interface, read and written.
ConversionInputs ConversionInputsFromEngine();
void ApplyConversionOutputs(const ConversionOutputs& out);

}  // namespace tralux::models
