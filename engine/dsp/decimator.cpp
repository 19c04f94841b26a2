#include "engine/dsp/decimator.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "engine/dsp/polyphase.h"

namespace tralux::dsp {

namespace {

constexpr double kStopDb = 100.0;
constexpr std::size_t kLanes = 8;

// The filter's whole cost. Four decimated samples at once (their inputs two apart) share each
// load of the taps, and their 4 x 8 independent sums fill the vector registers; an AVX2 build
// is picked at load time where the processor has it (not under ThreadSanitizer, whose runtime
// is not up when the loader makes that choice). n is a multiple of 8.
using V8 = float __attribute__((vector_size(32)));

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void Dot4(const float* h, const float* x, std::size_t n, float* out) {
    V8 a0{}, a1{}, a2{}, a3{}, hv, x0, x1, x2, x3;
    for (std::size_t i = 0; i < n; i += 8) {
        std::memcpy(&hv, h + i, sizeof hv);
        std::memcpy(&x0, x + i, sizeof x0);
        std::memcpy(&x1, x + i + 2, sizeof x1);
        std::memcpy(&x2, x + i + 4, sizeof x2);
        std::memcpy(&x3, x + i + 6, sizeof x3);
        a0 += hv * x0;
        a1 += hv * x1;
        a2 += hv * x2;
        a3 += hv * x3;
    }
    const V8* acc[4] = {&a0, &a1, &a2, &a3};
    for (int k = 0; k < 4; ++k) {
        const V8& a = *acc[k];
        out[k] = ((a[0] + a[4]) + (a[1] + a[5])) + ((a[2] + a[6]) + (a[3] + a[7]));
    }
}

// One decimated sample: the last one to three of a block.
float Dot(const float* h, const float* x, std::size_t n) {
    float a[8] = {};
    for (std::size_t i = 0; i < n; i += 8)
        for (std::size_t j = 0; j < 8; ++j) a[j] += h[i + j] * x[i + j];
    return ((a[0] + a[4]) + (a[1] + a[5])) + ((a[2] + a[6]) + (a[3] + a[7]));
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
        const double sinc =
            k == 0 ? fc : std::sin(std::numbers::pi * fc * k) / (std::numbers::pi * k);
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
        if (in)
            std::memcpy(b.data() + at, in[ch], count * sizeof(float));
        else
            std::fill_n(b.data() + at, count, 0.0f);
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
        const auto start = static_cast<std::size_t>(2 * first - half_ - base_);
        std::size_t i = 0;
        for (; i + 4 <= n; i += 4)
            Dot4(taps_.data(), b.data() + start + 2 * i, taps_.size(), o.data() + at + i);
        for (; i < n; ++i) o[at + i] = Dot(taps_.data(), b.data() + start + 2 * i, taps_.size());
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
