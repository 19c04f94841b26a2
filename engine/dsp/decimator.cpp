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

// The filter's whole cost. Eight decimated samples at once (their inputs two apart) share each
// load of the taps, and the second four's inputs are the first four's in the next pass, so a
// pass costs five loads for eight vector multiply-adds. An AVX2/FMA build is picked at load
// time where the processor has it (not under ThreadSanitizer, whose runtime is not up when the
// loader makes that choice). n is a multiple of 8.
using V8 = float __attribute__((vector_size(32)));

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
void Dot8(const float* h, const float* x, std::size_t n, float* out) {
    // Named, not arrays: arrays of vectors end up in memory.
    V8 a0{}, a1{}, a2{}, a3{}, a4{}, a5{}, a6{}, a7{}, hv, l0, l1, l2, l3, u0, u1, u2, u3;
    std::memcpy(&l0, x, sizeof l0);
    std::memcpy(&l1, x + 2, sizeof l1);
    std::memcpy(&l2, x + 4, sizeof l2);
    std::memcpy(&l3, x + 6, sizeof l3);
    for (std::size_t i = 0; i < n; i += 8) {
        std::memcpy(&hv, h + i, sizeof hv);
        std::memcpy(&u0, x + i + 8, sizeof u0);
        std::memcpy(&u1, x + i + 10, sizeof u1);
        std::memcpy(&u2, x + i + 12, sizeof u2);
        std::memcpy(&u3, x + i + 14, sizeof u3);
        a0 += hv * l0;
        a1 += hv * l1;
        a2 += hv * l2;
        a3 += hv * l3;
        a4 += hv * u0;
        a5 += hv * u1;
        a6 += hv * u2;
        a7 += hv * u3;
        l0 = u0;
        l1 = u1;
        l2 = u2;
        l3 = u3;
    }
    const V8* acc[8] = {&a0, &a1, &a2, &a3, &a4, &a5, &a6, &a7};
    for (int k = 0; k < 8; ++k) {
        const V8& a = *acc[k];
        out[k] = ((a[0] + a[4]) + (a[1] + a[5])) + ((a[2] + a[6]) + (a[3] + a[7]));
    }
}

// One decimated sample: the last one to seven of a block.
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
        for (; i + 8 <= n; i += 8)
            Dot8(taps_.data(), b.data() + start + 2 * i, taps_.size(), o.data() + at + i);
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
