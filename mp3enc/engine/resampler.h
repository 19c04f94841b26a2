#pragma once
#include <vector>

namespace mp3enc {

// Rational sample-rate converter (up by L, down by M) with a Kaiser-windowed sinc,
// one instance per channel set. Channels are interleaved.
class Resampler {
public:
    // cutoffHz: end of the pass band. Returns false for unusable rates.
    bool Init(int inRate, int outRate, int channels, double cutoffHz);
    bool bypass() const { return L_ == M_; }
    // Appends the output of the given input frames to out.
    void Process(const float* in, int frames, std::vector<float>& out);
    // Output samples (per channel) between an input sample and its converted copy.
    int Delay() const { return delayOut_; }
    // Input frames of zeros that bring the filter's tail out.
    int TailFrames() const { return tailIn_; }

private:
    int L_ = 1, M_ = 1, ch_ = 1, taps_ = 0;  // taps per phase
    std::vector<float> coef_;                // [phase][tap]
    std::vector<float> hist_;                // last taps_ input frames, interleaved
    long long inCount_ = 0;                  // input frames seen
    long long outCount_ = 0;                 // output frames produced
    int delayOut_ = 0, tailIn_ = 0;
};

}  // namespace mp3enc
