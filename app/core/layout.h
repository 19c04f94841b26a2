#pragma once
// The window's controls: numbers, hot rectangles in the face's 224 x 317 logical pixels, and
// the order in which a point is tested against them.
#include <array>
#include <string_view>

namespace tralux::app {

enum Control : int {
    kNoControl = 0,
    kInactiveDisplay = 1,
    kLoad = 2,
    kConvert = 3,
    kRipCd = 4,
    kBatch = 5,
    kAbout = 6,
    kClose = 7,
    kEqualizerOn = 8,
    kEqualizerOff = 9,
    kEqualizerReset = 10,
    kInactiveSpectrum = 11,
    kPlay = 12,
    kPosition = 13,
    kOriginalQuality = 15,
    kStereo = 16,
    kMono = 17,
    kRate8000 = 18,  // ... 23 for 44100 Hz
    kRate44100 = 23,
    kFirstBand = 24,  // ... 33, lowest band first
    kLastBand = 33,
    kMaster = 34,
    kMinimize = 36,
};
inline constexpr int kControlSlots = 37;  // numbers 0..36

inline constexpr int kFaceWidth = 224;
inline constexpr int kFaceHeight = 317;

// Edges belong to the rectangle: a point is inside when left <= x <= right, top <= y <= bottom.
struct HotRect {
    int left = 0, top = 0, right = -1, bottom = -1;
    constexpr bool Empty() const { return right < left || bottom < top; }
    constexpr bool Contains(int x, int y) const {
        return !Empty() && x >= left && x <= right && y >= top && y <= bottom;
    }
    constexpr int Width() const { return right - left; }
    constexpr int Height() const { return bottom - top; }
    constexpr int CenterX() const { return (left + right) / 2; }
    constexpr int CenterY() const { return (top + bottom) / 2; }
};

using HotRects = std::array<HotRect, kControlSlots>;

// 1 to 7, then 36, then 8 to 13, then 15 to 34 (14 and 35 are not used).
inline constexpr std::array<int, 34> kHitOrder{1,  2,  3,  4,  5,  6,  7,  36, 8,  9,  10, 11,
                                               12, 13, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24,
                                               25, 26, 27, 28, 29, 30, 31, 32, 33, 34};

// The first control in testing order whose rectangle holds the point; 0 when none does.
int HitTest(const HotRects& rects, int x, int y);

// The skin's layout of all 36 controls.
const HotRects& SkinHotRects();

// Areas of the face that are drawn but are not controls.
inline constexpr HotRect kDescriptionArea{16, 30, 208, 56};
inline constexpr HotRect kTimeArea{16, 58, 208, 86};
inline constexpr HotRect kSpectrumArea{16, 88, 208, 108};
inline constexpr HotRect kLcdPanel{11, 26, 213, 112};

// Sample rates of the rate buttons 18..23.
inline constexpr std::array<int, 6> kRateButtonHz{8000, 11025, 16000, 22050, 32000, 44100};

// Chinese name of each control, for tool tips and accessibility ("" where none).
std::string_view ControlName(int control);

// Whether hovering shows the highlight: 7 and 36 always, 2 to 6 and 12 only with an input.
bool HighlightsOnHover(int control, bool inputLoaded);

}  // namespace tralux::app
