#pragma once
// Real FFTs for the rate converter, the equalizer and the spectrum analysis.
// Every object precomputes its bit-reversal table and twiddles when built and owns its
// scratch space, so a transform never allocates. One object per thread.
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tralux::fft {

// Complex transform of 2^order points, in place, unscaled (inverse is the unscaled conjugate).
class ComplexFft {
public:
    explicit ComplexFft(int order);
    int Order() const { return order_; }
    std::size_t Size() const { return n_; }
    void Forward(std::complex<double>* data) const;
    void InverseUnscaled(std::complex<double>* data) const;

private:
    friend class RealFft;  // fills the data in bit-reversed order itself, saving the swap pass
    void Permute(std::complex<double>* data) const;
    template <bool Inverse>
    void Butterflies(std::complex<double>* data) const;

    int order_;
    std::size_t n_;
    std::vector<std::uint32_t> swaps_;           // index pairs to exchange for bit reversal
    std::vector<std::uint32_t> reversed_;        // bit-reversed index of each index
    std::vector<std::complex<double>> twiddle_;  // per radix-4 pass: w, w^2, w^3 for each j
};

// Real transform of N = 2^order points (order 1 to 20; the converter uses 9 to 16).
// Forward: N reals to the half spectrum, N/2 + 1 bins from DC to Nyquist, unscaled.
// Inverse: such a half spectrum back to N reals, scaled by 1/N (the imaginary parts of the
// DC and Nyquist bins are ignored).
class RealFft {
public:
    explicit RealFft(int order);
    int Order() const { return order_; }
    std::size_t Size() const { return n_; }
    std::size_t Bins() const { return n_ / 2 + 1; }
    void Forward(const double* in, std::complex<double>* out);
    void Inverse(const std::complex<double>* in, double* out);

private:
    int order_;
    std::size_t n_;
    ComplexFft half_;
    std::vector<std::complex<double>> w_;  // exp(-2 pi i k / N), k < N/2
    std::vector<std::complex<double>> work_;
};

// Forward real transform of 16-bit samples, order 9 to 11, scale factor 0 (unscaled).
// The unscaled spectrum of full-scale input reaches N * 32768, more than 16 bits hold, so the
// bins come out as 32-bit integers (rounded) instead of wrapping.
class RealFftS16 {
public:
    explicit RealFftS16(int order);
    int Order() const { return fft_.Order(); }
    std::size_t Size() const { return fft_.Size(); }
    // out: N/2 + 1 (re, im) pairs.
    void Forward(const std::int16_t* in, std::int32_t* out);

private:
    RealFft fft_;
    std::vector<double> in_;
    std::vector<std::complex<double>> spec_;
};

}  // namespace tralux::fft
