#include "app/core/layout.h"

namespace tralux::app {

int HitTest(const HotRects& rects, int x, int y) {
    for (int c : kHitOrder)
        if (rects[static_cast<std::size_t>(c)].Contains(x, y)) return c;
    return kNoControl;
}

namespace {

HotRects BuildLayout() {
    HotRects r{};
    r[kInactiveDisplay] = kDescriptionArea;
    r[kInactiveSpectrum] = kSpectrumArea;
    r[kMinimize] = {176, 8, 191, 21};
    r[kClose] = {196, 8, 211, 21};
    r[kPosition] = {14, 117, 210, 130};
    // Transport row: play, then the five action buttons.
    r[kPlay] = {14, 137, 44, 161};
    r[kLoad] = {49, 137, 78, 161};
    r[kConvert] = {82, 137, 111, 161};
    r[kRipCd] = {115, 137, 144, 161};
    r[kBatch] = {148, 137, 177, 161};
    r[kAbout] = {181, 137, 210, 161};
    // Output quality.
    r[kOriginalQuality] = {14, 170, 74, 184};
    r[kStereo] = {79, 170, 142, 184};
    r[kMono] = {147, 170, 210, 184};
    for (int i = 0; i < 6; ++i) {
        const int left = 14 + i * 33;
        r[static_cast<std::size_t>(kRate8000 + i)] = {left, 189, i == 5 ? 210 : left + 29, 203};
    }
    // Equalizer switch row and faders.
    r[kEqualizerOn] = {104, 212, 135, 225};
    r[kEqualizerOff] = {140, 212, 171, 225};
    r[kEqualizerReset] = {176, 212, 210, 225};
    for (int i = 0; i < 10; ++i) {
        const int left = 14 + i * 17;
        r[static_cast<std::size_t>(kFirstBand + i)] = {left, 231, left + 14, 293};
    }
    r[kMaster] = {193, 231, 209, 293};
    return r;
}

}  // namespace

const HotRects& SkinHotRects() {
    static const HotRects rects = BuildLayout();
    return rects;
}

std::string_view ControlName(int control) {
    switch (control) {
        case kLoad:
            return "載入聲音檔案 (Ctrl+O)";
        case kConvert:
            return "轉換目前的聲音檔案";
        case kRipCd:
            return "擷取音樂 CD";
        case kBatch:
            return "批次轉換資料夾";
        case kAbout:
            return "關於 Quorvatix Tralux";
        case kClose:
            return "關閉 (Ctrl+Q)";
        case kMinimize:
            return "最小化";
        case kEqualizerOn:
            return "開啟等化器";
        case kEqualizerOff:
            return "關閉等化器";
        case kEqualizerReset:
            return "等化器歸零";
        case kPlay:
            return "播放 / 停止 (空白鍵)";
        case kPosition:
            return "播放位置";
        case kOriginalQuality:
            return "原始品質";
        case kStereo:
            return "立體聲";
        case kMono:
            return "單聲道";
        case kRate8000:
            return "8000 Hz";
        case kRate8000 + 1:
            return "11025 Hz";
        case kRate8000 + 2:
            return "16000 Hz";
        case kRate8000 + 3:
            return "22050 Hz";
        case kRate8000 + 4:
            return "32000 Hz";
        case kRate44100:
            return "44100 Hz";
        case kMaster:
            return "總音量";
        default:
            break;
    }
    if (control >= kFirstBand && control <= kLastBand) return "等化器頻段";
    return "";
}

bool HighlightsOnHover(int control, bool inputLoaded) {
    if (control == kClose || control == kMinimize) return true;
    if (!inputLoaded) return false;
    return (control >= kLoad && control <= kAbout) || control == kPlay;
}

}  // namespace tralux::app
