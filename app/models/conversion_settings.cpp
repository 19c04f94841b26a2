#include "app/models/conversion_settings.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>

#include "app/models/output_config.h"
#include "app/settings/settings.h"
#include "engine/job/engine_state.h"

namespace tralux::models {

namespace {

int ClampFormat(int f) {
    return f >= kWav && f <= kOpus ? f : kWav;
}

// A stored switch: unset (-1) takes the given default, anything else non-zero is on.
bool StoredFlag(const char* name, bool unsetValue) {
    int v = settings::ReadOption(name);
    return v == -1 ? unsetValue : v != 0;
}

const char* StoredBitRateName(int format) {
    return StoredQualityName(format);
}

// A rate the list lacks (48000, 96000) shows as the nearest listed one (the later on a tie),
// as the command line converts it, not as the list's first entry.
int NearestRateIndex(int rate) {
    const auto list = SampleRateList();
    int best = 0;
    for (std::size_t i = 0; i < list.size(); ++i)
        if (std::abs(list[i] - rate) <= std::abs(list[static_cast<std::size_t>(best)] - rate))
            best = static_cast<int>(i);
    return best;
}

// The encoder's variable rate starts at 16000 Hz; below, only constant rates are offered.
constexpr int kVbrMinRate = 16000;

std::string VbrText(int level) {
    std::string t = "VBR 品質 " + std::to_string(level);
    if (level == 0) t += " (最佳)";
    if (level == 9) t += " (最小)";
    return t;
}

int StoredVbr() {
    const int v = settings::ReadOption("MP3Vbr");
    return v >= 0 && v <= 9 ? v : -1;
}

}  // namespace

std::string FormatPosition(double positionMs) {
    long long s = positionMs > 0 ? static_cast<long long>(positionMs / 1000) : 0;
    char buf[48];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%02lld:%02lld", s / 60, s % 60);
    return buf;
}

void ConversionSettingsModel::Open(const ConversionInputs& in) {
    equalizer_ = in.equalizerOn;
    q_ = QualityChoice{};
    q_.format = ClampFormat(in.outputFormat);
    bitListFormat_ = -1;
    q_.rateIndex = NearestRateIndex(in.outputRate);

    if (settings::ReadOption("MP3BitRate") == -1) settings::WriteOption("MP3BitRate", 128);
    if (settings::ReadOption("MSABitRate") == -1) settings::WriteOption("MSABitRate", 64);
    if (settings::ReadOption("FLACLevel") == -1) settings::WriteOption("FLACLevel", 5);
    if (settings::ReadOption("OpusBitRate") == -1) settings::WriteOption("OpusBitRate", 160);

    decodeStart_ = StoredFlag("DecodeStart", false) ? 1 : 0;
    jitter_ = StoredFlag("Jitter", false);
    songInfo_ = StoredFlag("PlaceClipInfo", true);
    pseudoStereo_ = StoredFlag("PseudoStereo", false);
    normalize_ = StoredFlag("Normalize", false);

    // An empty store means the default folder has not been chosen yet; choose it now rather
    // than offering a folder that may not exist.
    destination_ = settings::ReadOptionText("BOut");
    if (destination_.empty()) {
        settings::ChooseDefaultOutputFolder();
        destination_ = settings::ReadOptionText("BOut");
    }

    title_ = in.title;
    author_ = in.artist;
    copyright_ = in.copyright;
    originalLabel_ = "原始品質           (" + in.qualityDescription + ")";
    qualityMode_ = in.keepInputQuality ? 0 : 1;
    positionMs_ = in.positionMs;
    positionLabel_ = "從目前位置            (" + FormatPosition(positionMs_) + ")";

    q_.chanIndex = std::clamp(in.outputChannels, 1, 2) - 1;
    vbr_ = StoredVbr();
    FillLists(true);
    ApplyEnablingRules();
}

bool ConversionSettingsModel::VbrOffered() const {
    return q_.format == kMp3 && q_.Rate() >= kVbrMinRate;
}

void ConversionSettingsModel::FillLists(bool pickStored) {
    if (q_.format == kWav) return;  // the bit-rate list keeps what it held
    if (pickStored || bitListFormat_ != q_.format) {
        int i = IndexOf(BitRateList(q_.format), settings::ReadOption(StoredBitRateName(q_.format)));
        q_.bitIndex = i < 0 ? 0 : i;
        bitListFormat_ = q_.format;
    }
    // MP3 as well as WMA: a stored bit rate may be no mode at the current rate and channels.
    ReactToChannels(q_);
}

void ConversionSettingsModel::ApplyEnablingRules() {
    if (q_.format != kWav) {
        // MP3 and WMA need one of their rates; FLAC and Opus may keep the input's.
        if (!TakesAnyRate(q_.format)) qualityMode_ = 1;
        // Refilling keeps the user's bit rate: only a change of format brings the stored one.
        FillLists(false);
    }
    if (positionMs_ == 0) decodeStart_ = 0;
    // A level the list no longer shows is no longer chosen: the bit rate shown applies.
    if (q_.format == kMp3 && !VbrOffered()) vbr_ = -1;
}

void ConversionSettingsModel::SetFormat(int format) {
    q_.format = ClampFormat(format);
    vbr_ = StoredVbr();
    FillLists(true);
    ApplyEnablingRules();
    if (q_.format != kWav) ReactToChannels(q_);
}

void ConversionSettingsModel::SetBitRateIndex(int index) {
    if (q_.format == kWav || index < 0 || index >= static_cast<int>(BitRateList(q_.format).size()))
        return;
    q_.bitIndex = index;
    ReactToBitRate(q_);
}

void ConversionSettingsModel::SetRateIndex(int index) {
    if (index < 0 || index >= static_cast<int>(SampleRateList().size())) return;
    q_.rateIndex = index;
    ReactToSampleRate(q_);
    if (!VbrOffered() && q_.format == kMp3) vbr_ = -1;
}

void ConversionSettingsModel::SetChannelIndex(int index) {
    q_.chanIndex = std::clamp(index, 0, 1);
    ReactToChannels(q_);
    if (!VbrOffered() && q_.format == kMp3) vbr_ = -1;
}

void ConversionSettingsModel::SetQualityMode(int mode) {
    qualityMode_ = mode ? 1 : 0;
    ApplyEnablingRules();
}

void ConversionSettingsModel::SetSongInfo(bool on) {
    songInfo_ = on;
    ApplyEnablingRules();
}

std::vector<std::string> ConversionSettingsModel::BitRateItems() const {
    std::vector<std::string> items;
    if (bitListFormat_ < 0) return items;
    const auto list = BitRateList(bitListFormat_);
    for (int i : OfferedBitIndices(bitListFormat_, q_.Rate(), q_.Channels()))
        items.push_back(QualityItemText(bitListFormat_, list[static_cast<std::size_t>(i)]));
    if (bitListFormat_ == kMp3 && q_.Rate() >= kVbrMinRate)
        for (int level = 0; level <= 9; ++level) items.push_back(VbrText(level));
    return items;
}

int ConversionSettingsModel::BitRateItem() const {
    if (q_.format == kWav) return -1;
    const auto offered = OfferedBitIndices(q_.format, q_.Rate(), q_.Channels());
    if (q_.format == kMp3 && vbr_ >= 0) return static_cast<int>(offered.size()) + vbr_;
    const auto it = std::find(offered.begin(), offered.end(), q_.bitIndex);
    return it == offered.end() ? -1 : static_cast<int>(it - offered.begin());
}

void ConversionSettingsModel::SetBitRateItem(int item) {
    if (q_.format == kWav) return;
    const auto offered = OfferedBitIndices(q_.format, q_.Rate(), q_.Channels());
    const int n = static_cast<int>(offered.size());
    if (item >= 0 && item < n) {
        vbr_ = -1;
        SetBitRateIndex(offered[static_cast<std::size_t>(item)]);
    } else if (VbrOffered() && item >= n && item <= n + 9) {
        vbr_ = item - n;
    }
}

std::vector<std::string> ConversionSettingsModel::RateItems() const {
    std::vector<std::string> items;
    const auto list = SampleRateList();
    for (int i : OfferedRateIndices(q_.format))
        items.push_back(RateText(list[static_cast<std::size_t>(i)]));
    return items;
}

int ConversionSettingsModel::RateItem() const {
    const auto offered = OfferedRateIndices(q_.format);
    const auto it = std::find(offered.begin(), offered.end(), q_.rateIndex);
    return it == offered.end() ? -1 : static_cast<int>(it - offered.begin());
}

void ConversionSettingsModel::SetRateItem(int item) {
    const auto offered = OfferedRateIndices(q_.format);
    if (item >= 0 && item < static_cast<int>(offered.size()))
        SetRateIndex(offered[static_cast<std::size_t>(item)]);
}

bool ConversionSettingsModel::Accept(ConversionOutputs& out, std::string& refusal) {
    if (q_.format == kWma && !q_.Valid()) {
        refusal = kInvalidWmaCombination;
        return false;
    }
    out.title = title_;
    out.artist = author_;
    out.copyright = copyright_;
    out.equalizerOn = equalizer_;
    out.outputFormat = q_.format;
    if (q_.format != kWav) settings::WriteOption(StoredBitRateName(q_.format), q_.Kbps());
    if (q_.format == kMp3) settings::WriteOption("MP3Vbr", vbr_);
    // The positioning check box is the only control behind both values.
    pseudoStereo_ = jitter_;
    settings::WriteOption("DecodeStart", decodeStart_);
    settings::WriteOption("PlaceClipInfo", songInfo_ ? 1 : 0);
    settings::WriteOption("PseudoStereo", pseudoStereo_ ? 1 : 0);
    settings::WriteOption("Normalize", normalize_ ? 1 : 0);
    settings::WriteOptionText("BOut", destination_);
    settings::WriteOption("Jitter", jitter_ ? 1 : 0);
    out.keepInputQuality = qualityMode_ == 0;
    if (!out.keepInputQuality) {
        out.outputChannels = q_.Channels();
        out.outputRate = q_.Rate();
    }
    return true;
}

ConversionInputs ConversionInputsFromEngine() {
    EngineState& e = Engine();
    ConversionInputs in;
    in.outputFormat = e.OutputFormat.load();
    in.outputRate = static_cast<int>(e.OutputRate.load());
    in.outputChannels = e.OutputChannels.load();
    in.keepInputQuality = UiOutput().keepInputQuality;
    in.qualityDescription = UiOutput().qualityDescription;
    in.positionMs = e.PositionMs.load();
    in.equalizerOn = e.EqualizerOn.load();
    in.title = e.TagTitle;
    in.artist = e.TagArtist;
    in.copyright = e.TagCopyright;
    return in;
}

void ApplyConversionOutputs(const ConversionOutputs& out) {
    EngineState& e = Engine();
    e.TagTitle = out.title;
    e.TagArtist = out.artist;
    e.TagCopyright = out.copyright;
    e.EqualizerOn = out.equalizerOn;
    e.OutputFormat = out.outputFormat;
    UiOutput().keepInputQuality = out.keepInputQuality;
    if (!out.keepInputQuality) {
        e.OutputChannels = static_cast<std::uint16_t>(out.outputChannels);
        e.OutputRate = static_cast<std::uint32_t>(out.outputRate);
    }
}

}  // namespace tralux::models
