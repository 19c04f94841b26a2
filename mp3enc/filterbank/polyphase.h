#pragma once
// 32-band polyphase analysis filterbank of the Layer III hybrid filterbank.
namespace mp3enc {

constexpr int kSubbands = 32;
constexpr int kSlotsPerGranule = 18;

// Prototype of the standard's filterbank as D[i] = 32 C[i] for i = 0..256, in units of 2^-16
// (the analysis window C is this divided by 32); D[512 - i] = D[i] for multiples of 64, else
// -D[i].
extern const int kPrototypeHalf[257];
// The full 512-tap analysis window C[i] (signs included), i = 0..511.
const float* AnalysisWindow();

class PolyphaseAnalysis {
public:
    PolyphaseAnalysis();
    // One granule: 576 new samples -> out[sb][slot] (32 x 18), frequency inversion not applied.
    void Process(const float* pcm, float out[kSubbands][kSlotsPerGranule]);
    void Reset();

private:
    float hist_[480 + 576];  // the 480 newest old samples, then the granule
};

}  // namespace mp3enc
