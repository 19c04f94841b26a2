#include "engine/dsp/decimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace tralux::dsp {

namespace {

constexpr double kStopDb = 100.0;
constexpr std::size_t kLanes = 8;

// Zeroth-order modified Bessel function, for the Kaiser window.
double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64 && term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

// The filter's whole cost: eight independent sums so the compiler can keep them in one
// vector register; an AVX2 build of it is picked at load time where the processor has it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__((target_clones("avx2", "default")))
#endif
float Dot(const float* a, const float* b, std::size_t n) {
    float acc[kLanes] = {};
    for (std::size_t i = 0; i < n; i += kLanes)
        for (std::size_t j = 0; j < kLanes; ++j) acc[j] += a[i + j] * b[i + j];
    return ((acc[0] + acc[4]) + (acc[1] + acc[5])) + ((acc[2] + acc[6]) + (acc[3] + acc[7]));
}

}  // namespace

HalfDecimator::HalfDecimator(double rate, double passHz, double stopHz, int channels)
    : channels_(channels) {
    if (!(passHz > 0 && passHz < stopHz && stopHz < rate / 2) || channels < 1 || channels > 2)
        throw std::invalid_argument("decimator band edges");
    // Kaiser-windowed sinc cut at the middle of the transition band.
    const double width = (stopHz - passHz) / rate;
    const double beta = 0.1102 * (kStopDb - 8.7);
    half_ = static_cast<std::int64_t>(std::ceil((kStopDb - 7.95) / (14.36 * width) / 2.0));
    const double fc = (passHz + stopHz) / rate;  // cut-off as a fraction of rate / 2
    const auto length = static_cast<std::size_t>(2 * half_ + 1);
    taps_.assign((length + kLanes - 1) / kLanes * kLanes, 0.0f);
    std::vector<double> h(length);
    double sum = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const double k = static_cast<double>(i) - static_cast<double>(half_);
        const double r = k / static_cast<double>(half_);
        const double sinc = k == 0 ? fc : std::sin(std::numbers::pi * fc * k) / (std::numbers::pi * k);
        h[i] = sinc * BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / BesselI0(beta);
        sum += h[i];
    }
    for (std::size_t i = 0; i < length; ++i) taps_[i] = static_cast<float>(h[i] / sum);
    // The input before the start is silence.
    base_ = -half_;
    for (int ch = 0; ch < channels_; ++ch)
        buf_[static_cast<std::size_t>(ch)].assign(static_cast<std::size_t>(half_) + taps_.size(),
                                                   0.0f);
}

void HalfDecimator::Push(const float* const* in, std::size_t count, std::vector<float>* out) {
    const auto at = static_cast<std::size_t>(end_ - base_);
    for (int ch = 0; ch < channels_; ++ch) {
        auto& b = buf_[static_cast<std::size_t>(ch)];
        // Room past the held samples for the padded taps' reach (read, multiplied by zero).
        if (b.size() < at + count + taps_.size()) b.resize(at + count + taps_.size(), 0.0f);
        if (in) std::memcpy(b.data() + at, in[ch], count * sizeof(float));
        else std::fill_n(b.data() + at, count, 0.0f);
    }
    end_ += static_cast<std::int64_t>(count);
    if (in) real_ += static_cast<std::int64_t>(count);
    Emit(out, std::numeric_limits<std::int64_t>::max());
}

void HalfDecimator::Flush(std::vector<float>* out) {
    // Silence past the end, enough for every sample centred inside the input.
    Push(nullptr, static_cast<std::size_t>(half_ + 1), nullptr);
    Emit(out, real_);
}

void HalfDecimator::Emit(std::vector<float>* out, std::int64_t limit) {
    if (!out) return;
    const std::int64_t first = next_;
    while (2 * next_ < limit && 2 * next_ + half_ < end_) ++next_;
    const auto n = static_cast<std::size_t>(next_ - first);
    for (int ch = 0; ch < channels_; ++ch) {
        const auto& b = buf_[static_cast<std::size_t>(ch)];
        auto& o = out[ch];
        const std::size_t at = o.size();
        o.resize(at + n);
        for (std::size_t i = 0; i < n; ++i) {
            const auto start = static_cast<std::size_t>(2 * (first + static_cast<std::int64_t>(i)) -
                                                        half_ - base_);
            o[at + i] = Dot(taps_.data(), b.data() + start, taps_.size());
        }
    }
    // Keep only what the next decimated sample reaches back to.
    const std::int64_t keep = 2 * next_ - half_;
    if (keep > base_) {
        const auto drop = static_cast<std::size_t>(std::min(keep, end_) - base_);
        const auto held = static_cast<std::size_t>(end_ - base_);
        for (int ch = 0; ch < channels_; ++ch) {
            auto& b = buf_[static_cast<std::size_t>(ch)];
            std::memmove(b.data(), b.data() + drop, (held - drop) * sizeof(float));
        }
        base_ += static_cast<std::int64_t>(drop);
    }
}

}  // namespace tralux::dsp
