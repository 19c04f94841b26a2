#pragma once
// Band-limited rate conversion: a Kaiser-windowed sinc evaluated at each output's exact
// position between the input samples, from a table of filter phases. The cut-off follows the
// lower of the two Nyquist frequencies, so one filter both removes what would fold back on the
// way down and the images on the way up: flat (within 0.001 dB) to 91 % of that Nyquist
// frequency, at least 100 dB down from it on.
//
// Where the ratio reduces to at most kMaxExactPhases output positions per input step, every
// phase has its own row; otherwise the output is interpolated between the two nearest of
// kInterpolatedPhases rows (an error below -110 dB).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tralux::dsp {

// Zeroth-order modified Bessel function, for Kaiser windows.
double BesselI0(double x);

class PolyphaseFilter {
public:
    static constexpr std::uint32_t kMaxExactPhases = 1024;
    static constexpr std::uint32_t kInterpolatedPhases = 512;

    PolyphaseFilter(std::uint32_t sourceRate, std::uint32_t outputRate);

    // Input samples an output reaches on either side of the one at or before its position.
    std::int64_t Reach() const { return half_; }
    std::size_t Taps() const { return taps_; }

    // count outputs, the first at input position i + rem / outputRate (rem < outputRate), each
    // next one sourceRate / outputRate further. x points at input sample i; an output at
    // k + phase reads samples k - Reach() + 1 up to k - Reach() + Taps() (the last ones are
    // padding, multiplied by zero).
    void Run(const float* x, std::int64_t rem, std::size_t count, double* out) const;

private:
    std::uint32_t sr_, or_;
    std::int64_t half_ = 0;
    std::size_t taps_ = 0;  // per row, padded to a multiple of 16
    std::uint32_t gcd_ = 1;
    bool exact_ = true;
    std::uint32_t rows_ = 0;
    std::vector<float> table_;
};

}  // namespace tralux::dsp
