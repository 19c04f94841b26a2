#include "engine/dsp/polyphase.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <numeric>
#include <stdexcept>

namespace tralux::dsp {

namespace {

constexpr double kStopDb = 100.0;
constexpr double kPassFraction = 0.91;  // of the lower Nyquist frequency
constexpr std::size_t kPad = 16;

using V8 = float __attribute__((vector_size(32)));

// The filter's whole cost: two outputs at once, two sums each, so four independent chains
// keep the vector adder busy; an AVX2/FMA build is picked at load time where the processor has it
// (not under ThreadSanitizer, whose runtime is not up when the loader makes that choice).
// n is a multiple of 16.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
void Dot2(const float* h0, const float* x0, const float* h1, const float* x1, std::size_t n,
          float* out) {
    V8 a0{}, a1{}, b0{}, b1{}, h, x;
    for (std::size_t i = 0; i < n; i += 16) {
        std::memcpy(&h, h0 + i, sizeof h);
        std::memcpy(&x, x0 + i, sizeof x);
        a0 += h * x;
        std::memcpy(&h, h0 + i + 8, sizeof h);
        std::memcpy(&x, x0 + i + 8, sizeof x);
        a1 += h * x;
        std::memcpy(&h, h1 + i, sizeof h);
        std::memcpy(&x, x1 + i, sizeof x);
        b0 += h * x;
        std::memcpy(&h, h1 + i + 8, sizeof h);
        std::memcpy(&x, x1 + i + 8, sizeof x);
        b1 += h * x;
    }
    a0 += a1;
    b0 += b1;
    out[0] = ((a0[0] + a0[4]) + (a0[1] + a0[5])) + ((a0[2] + a0[6]) + (a0[3] + a0[7]));
    out[1] = ((b0[0] + b0[4]) + (b0[1] + b0[5])) + ((b0[2] + b0[6]) + (b0[3] + b0[7]));
}

// Four outputs on one row, their inputs stride apart: each load of the row serves four sums.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("arch=x86-64-v3", "default")))
#endif
void Dot4(const float* h, const float* x, std::int64_t stride, std::size_t n, float* out) {
    const float* x1 = x + stride;
    const float* x2 = x1 + stride;
    const float* x3 = x2 + stride;
    V8 a0{}, a1{}, a2{}, a3{}, b0{}, b1{}, b2{}, b3{}, h0, h1, v;
    for (std::size_t i = 0; i < n; i += 16) {
        std::memcpy(&h0, h + i, sizeof h0);
        std::memcpy(&h1, h + i + 8, sizeof h1);
        std::memcpy(&v, x + i, sizeof v);
        a0 += h0 * v;
        std::memcpy(&v, x + i + 8, sizeof v);
        b0 += h1 * v;
        std::memcpy(&v, x1 + i, sizeof v);
        a1 += h0 * v;
        std::memcpy(&v, x1 + i + 8, sizeof v);
        b1 += h1 * v;
        std::memcpy(&v, x2 + i, sizeof v);
        a2 += h0 * v;
        std::memcpy(&v, x2 + i + 8, sizeof v);
        b2 += h1 * v;
        std::memcpy(&v, x3 + i, sizeof v);
        a3 += h0 * v;
        std::memcpy(&v, x3 + i + 8, sizeof v);
        b3 += h1 * v;
    }
    a0 += b0;
    a1 += b1;
    a2 += b2;
    a3 += b3;
    const V8* acc[4] = {&a0, &a1, &a2, &a3};
    for (int k = 0; k < 4; ++k) {
        const V8& a = *acc[k];
        out[k] = ((a[0] + a[4]) + (a[1] + a[5])) + ((a[2] + a[6]) + (a[3] + a[7]));
    }
}

}  // namespace

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 64 && term > 1e-12 * sum; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
    }
    return sum;
}

PolyphaseFilter::PolyphaseFilter(std::uint32_t sourceRate, std::uint32_t outputRate)
    : sr_(sourceRate), or_(outputRate) {
    if (sr_ == 0 || or_ == 0) throw std::invalid_argument("sample rate 0");
    // Distances are in input samples: the cut-off sits in the middle of the transition band.
    const double nyquist = std::min(sr_, or_) / 2.0;
    const double width = (1.0 - kPassFraction) * nyquist / sr_;
    const double fc = (1.0 + kPassFraction) / 2.0 * nyquist / sr_;  // cycles per input sample
    const double reach = (kStopDb - 7.95) / (14.36 * width) / 2.0;
    const double beta = 0.1102 * (kStopDb - 8.7), norm = BesselI0(beta);
    half_ = static_cast<std::int64_t>(std::ceil(reach));
    taps_ = (static_cast<std::size_t>(2 * half_) + kPad - 1) / kPad * kPad;

    gcd_ = std::gcd(sr_, or_);
    const std::uint32_t phases = or_ / gcd_;
    exact_ = phases <= kMaxExactPhases;
    rows_ = exact_ ? phases : kInterpolatedPhases + 1;
    const double step = exact_ ? 1.0 / phases : 1.0 / kInterpolatedPhases;
    table_.assign(std::size_t{rows_} * taps_, 0.0f);
    std::vector<double> h(static_cast<std::size_t>(2 * half_));
    for (std::uint32_t p = 0; p < rows_; ++p) {
        // Tap m weighs input i - half_ + 1 + m for an output at i + phase.
        const double phase = p * step;
        double sum = 0;
        for (std::size_t m = 0; m < h.size(); ++m) {
            const double d = phase + static_cast<double>(half_ - 1) - static_cast<double>(m);
            const double r = d / reach;
            double v = 0;
            if (std::abs(r) < 1.0) {
                const double s =
                    d == 0 ? 2 * fc
                           : std::sin(2 * std::numbers::pi * fc * d) / (std::numbers::pi * d);
                v = s * BesselI0(beta * std::sqrt(1.0 - r * r)) / norm;
            }
            h[m] = v;
            sum += v;
        }
        // Each phase on its own passes DC unchanged.
        float* row = table_.data() + std::size_t{p} * taps_;
        for (std::size_t m = 0; m < h.size(); ++m) row[m] = static_cast<float>(h[m] / sum);
    }
}

void PolyphaseFilter::Run(const float* x, std::int64_t rem, std::size_t count, double* out) const {
    const std::int64_t step = sr_ / or_, stepRem = sr_ % or_, o = or_;
    const float* base = x - half_ + 1;
    std::int64_t idx = 0;
    const auto advance = [&] {
        idx += step;
        rem += stepRem;
        if (rem >= o) {
            rem -= o;
            ++idx;
        }
    };
    float r[2];
    if (exact_) {
        // In whole phases: the position moves by stepRem / gcd of the or_ / gcd phases.
        const std::int64_t g = gcd_, phases = o / g, phaseStep = stepRem / g;
        std::int64_t p = rem / g;
        const auto next = [&] {
            idx += step;
            p += phaseStep;
            if (p >= phases) {
                p -= phases;
                ++idx;
            }
        };
        const std::size_t k = taps_;
        if (static_cast<std::size_t>(phases) * 3 <= count) {
            // Outputs a whole cycle of phases apart use the same row, sr_ / gcd_ inputs apart:
            // row by row, four of them at a time.
            const std::int64_t stride = sr_ / g;
            const auto cycle = static_cast<std::size_t>(phases);
            float r4[4];
            for (std::size_t c = 0; c < cycle; ++c) {
                const float* h = table_.data() + static_cast<std::size_t>(p) * k;
                const float* xc = base + idx;
                std::size_t n = c;
                for (; n + 3 * cycle < count; n += 4 * cycle, xc += 4 * stride) {
                    Dot4(h, xc, stride, k, r4);
                    for (std::size_t m = 0; m < 4; ++m) out[n + m * cycle] = r4[m];
                }
                for (; n + cycle < count; n += 2 * cycle, xc += 2 * stride) {
                    Dot2(h, xc, h, xc + stride, k, r);
                    out[n] = r[0];
                    out[n + cycle] = r[1];
                }
                if (n < count) {
                    Dot2(h, xc, h, xc, k, r);
                    out[n] = r[0];
                }
                next();
            }
            return;
        }
        std::size_t n = 0;
        for (; n + 2 <= count; n += 2) {
            const float* h0 = table_.data() + static_cast<std::size_t>(p) * k;
            const float* x0 = base + idx;
            next();
            Dot2(h0, x0, table_.data() + static_cast<std::size_t>(p) * k, base + idx, k, r);
            next();
            out[n] = r[0];
            out[n + 1] = r[1];
        }
        if (n < count) {
            const float* h0 = table_.data() + static_cast<std::size_t>(p) * k;
            Dot2(h0, base + idx, h0, base + idx, k, r);
            out[n] = r[0];
        }
        return;
    }
    const double scale = static_cast<double>(kInterpolatedPhases) / static_cast<double>(o);
    for (std::size_t n = 0; n < count; ++n) {
        const double pos = static_cast<double>(rem) * scale;
        const auto p = static_cast<std::size_t>(pos);
        const double f = pos - static_cast<double>(p);
        const float* h0 = table_.data() + p * taps_;
        Dot2(h0, base + idx, h0 + taps_, base + idx, taps_, r);
        out[n] = (1.0 - f) * r[0] + f * r[1];
        advance();
    }
}

}  // namespace tralux::dsp
