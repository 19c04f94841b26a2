#include "mp3enc/engine/resampler.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace mp3enc {
namespace {
double BesselI0(double x) {
    double s = 1, t = 1;
    for (int k = 1; k < 40; ++k) {
        t *= (x / (2 * k)) * (x / (2 * k));
        s += t;
    }
    return s;
}
}  // namespace

bool Resampler::Init(int inRate, int outRate, int channels, double cutoffHz) {
    if (inRate <= 0 || outRate <= 0 || channels < 1 || channels > 2) return false;
    int g = std::gcd(inRate, outRate);
    L_ = outRate / g;
    M_ = inRate / g;
    ch_ = channels;
    inCount_ = outCount_ = 0;
    if (L_ == M_) {
        taps_ = 0;
        delayOut_ = tailIn_ = 0;
        return true;
    }
    if (L_ > 1000) return false;
    // Prototype at the rate in * L: cut-off between the pass band and the lower Nyquist.
    const double high = inRate * static_cast<double>(L_);
    const double nyq = 0.5 * std::min(inRate, outRate);
    const double pass = std::min(cutoffHz > 0 ? cutoffHz : nyq * 0.95, nyq * 0.95);
    const double fc = 0.5 * (pass + nyq) / high;  // cycles per high-rate sample
    // Odd length with its centre on a whole output sample: the delay is exactly K samples.
    const int K = (24 * L_ + M_ - 1) / M_;
    const int len = 2 * M_ * K + 1;
    taps_ = (len + L_ - 1) / L_;
    const double beta = 8.0;
    const double pi = 3.14159265358979323846;
    coef_.assign(static_cast<size_t>(taps_ * L_), 0.0f);
    const double mid = (len - 1) / 2.0;
    for (int i = 0; i < len; ++i) {
        double x = i - mid;
        double s = x == 0 ? 2 * fc : std::sin(2 * pi * fc * x) / (pi * x);
        double r = (i - mid) / mid;
        double w = BesselI0(beta * std::sqrt(std::max(0.0, 1 - r * r))) / BesselI0(beta);
        // Reordered as [phase][tap] so one output reads one phase contiguously.
        int phase = i % L_, tap = i / L_;
        coef_[static_cast<size_t>(phase * taps_ + tap)] = static_cast<float>(s * w * L_);
    }
    hist_.assign(static_cast<size_t>((taps_ + 1) * ch_), 0.0f);
    delayOut_ = K;
    tailIn_ = taps_;
    return true;
}

void Resampler::Process(const float* in, int frames, std::vector<float>& out) {
    if (L_ == M_) {
        out.insert(out.end(), in, in + static_cast<size_t>(frames) * ch_);
        return;
    }
    const int hn = taps_ + 1;  // history frames, newest last
    for (int f = 0; f < frames; ++f) {
        std::copy(hist_.begin() + ch_, hist_.end(), hist_.begin());
        for (int c = 0; c < ch_; ++c)
            hist_[static_cast<size_t>((hn - 1) * ch_ + c)] = in[f * ch_ + c];
        ++inCount_;
        const long long newest = inCount_ - 1;
        // Every output whose position n*M (at the rate in*L) is not after the newest input.
        while (outCount_ * M_ <= newest * L_) {
            long long p = outCount_ * M_;
            long long j = p / L_;
            int phase = static_cast<int>(p - j * L_);
            int back = static_cast<int>(newest - j);  // 0 or 1
            const float* h = &coef_[static_cast<size_t>(phase * taps_)];
            for (int c = 0; c < ch_; ++c) {
                float acc = 0;
                const float* x = &hist_[static_cast<size_t>(c)];
                for (int k = 0; k < taps_; ++k)
                    acc += h[k] * x[static_cast<size_t>((hn - 1 - back - k) * ch_)];
                out.push_back(acc);
            }
            ++outCount_;
        }
    }
}

}  // namespace mp3enc
