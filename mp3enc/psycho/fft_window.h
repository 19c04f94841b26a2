#pragma once
// Analysis windows of the model's transforms and the real FFT they feed.
#include <vector>

namespace mp3enc {

// w[i] = w[n - 1 - i] = sin^2(pi / n (i + 0.5)). Kinds 0 (long) and 2 (short) share the shape;
// any other kind is an internal fault.
void CalculateWindow(float* window, int length, int kind);

// Real FFT of n points (a power of two, at least 8) built on a complex FFT of n/2 points.
class RealFft {
public:
    explicit RealFft(int n);
    int size() const { return n_; }
    // X[k] = sum x[i] e^(-2 pi i k i / n) for k = 0 .. n/2 - 1 (the Nyquist line is dropped).
    void Forward(const float* x, float* re, float* im);

private:
    void Complex(float* re, float* im) const;  // input in bit-reversed order
    int n_, m_;
    std::vector<int> bitrev_;
    std::vector<float> twr_, twi_;        // per stage of half h: e^(-pi i k / h) at [h + k]
    std::vector<float> splitr_, spliti_;  // split twiddles e^(-2 pi i k / n), by recurrence
    std::vector<float> zr_, zi_;
};

}  // namespace mp3enc
