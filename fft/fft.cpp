#include "fft/fft.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tralux::fft {

// Tuning: tile edge of the bit-reversed scatter (2^2 complex doubles fill a 64-byte line) and
// the points per cache block of the butterfly passes. TRALUX_FFT_SCALAR forces the plain path.
#ifndef TRALUX_FFT_TILE
#define TRALUX_FFT_TILE 2
#endif
#ifndef TRALUX_FFT_BLOCK
#define TRALUX_FFT_BLOCK 1024
#endif

namespace {

// One complex double per register where SSE2 is there (always on x86-64); plain arithmetic
// elsewhere. std::complex multiplication goes through a slow NaN-aware helper either way.
#if defined(__SSE2__) && !defined(TRALUX_FFT_SCALAR)
struct C2 {
    __m128d v;
};
inline C2 Load(const double* p) {
    return {_mm_loadu_pd(p)};
}
inline void Store(double* p, C2 a) {
    _mm_storeu_pd(p, a.v);
}
inline C2 operator+(C2 a, C2 b) {
    return {_mm_add_pd(a.v, b.v)};
}
inline C2 operator-(C2 a, C2 b) {
    return {_mm_sub_pd(a.v, b.v)};
}
inline __m128d SignLo() {
    return _mm_set_pd(0.0, -0.0);
}
inline __m128d SignHi() {
    return _mm_set_pd(-0.0, 0.0);
}
inline C2 Conj(C2 a) {
    return {_mm_xor_pd(a.v, SignHi())};
}
inline C2 Half(C2 a) {
    return {_mm_mul_pd(a.v, _mm_set1_pd(0.5))};
}
inline C2 Scale(C2 a, double f) {
    return {_mm_mul_pd(a.v, _mm_set1_pd(f))};
}
// a * w, or a * conj(w) for the inverse.
template <bool Inv>
inline C2 Mul(C2 a, C2 w) {
    const __m128d wr = _mm_unpacklo_pd(w.v, w.v);
    const __m128d wi = _mm_unpackhi_pd(w.v, w.v);
    const __m128d t = _mm_mul_pd(_mm_shuffle_pd(a.v, a.v, 1), wi);  // (ai wi, ar wi)
    return {_mm_add_pd(_mm_mul_pd(a.v, wr), _mm_xor_pd(t, Inv ? SignHi() : SignLo()))};
}
// a * -i, or a * i for the inverse.
template <bool Inv>
inline C2 MulNegI(C2 a) {
    return {_mm_xor_pd(_mm_shuffle_pd(a.v, a.v, 1), Inv ? SignLo() : SignHi())};
}
#else
struct C2 {
    double r, i;
};
inline C2 Load(const double* p) {
    return {p[0], p[1]};
}
inline void Store(double* p, C2 a) {
    p[0] = a.r;
    p[1] = a.i;
}
inline C2 operator+(C2 a, C2 b) {
    return {a.r + b.r, a.i + b.i};
}
inline C2 operator-(C2 a, C2 b) {
    return {a.r - b.r, a.i - b.i};
}
inline C2 Conj(C2 a) {
    return {a.r, -a.i};
}
inline C2 Half(C2 a) {
    return {0.5 * a.r, 0.5 * a.i};
}
inline C2 Scale(C2 a, double f) {
    return {f * a.r, f * a.i};
}
template <bool Inv>
inline C2 Mul(C2 a, C2 w) {
    if (Inv) return {a.r * w.r + a.i * w.i, a.i * w.r - a.r * w.i};
    return {a.r * w.r - a.i * w.i, a.r * w.i + a.i * w.r};
}
template <bool Inv>
inline C2 MulNegI(C2 a) {
    if (Inv) return {-a.i, a.r};
    return {a.i, -a.r};
}
#endif

// Two radix-2 passes in one (blocks of span -> 4 span), on bit-reversed data; the twiddles of
// the pass are (w, w^2, w^3) for j < span, w = exp(-2 pi i j / (4 span)).
template <bool Inv>
void Radix4Pass(double* d, std::size_t n, std::size_t span, const double* tw) {
    const std::size_t q = 2 * span;  // doubles between the four inputs
    if (span == 1) {
        for (std::size_t s = 0; s < n; s += 4) {
            double* p = d + 2 * s;
            const C2 x0 = Load(p), x1 = Load(p + 2), x2 = Load(p + 4), x3 = Load(p + 6);
            const C2 a = x0 + x1, b = x0 - x1, c = x2 + x3, e = MulNegI<Inv>(x2 - x3);
            Store(p, a + c);
            Store(p + 4, a - c);
            Store(p + 2, b + e);
            Store(p + 6, b - e);
        }
        return;
    }
    for (std::size_t s = 0; s < n; s += 4 * span) {
        double* p = d + 2 * s;
        const double* w = tw;
        for (std::size_t j = 0; j < span; ++j, p += 2, w += 6) {
            const C2 x0 = Load(p);
            const C2 x1 = Mul<Inv>(Load(p + q), Load(w + 2));
            const C2 x2 = Mul<Inv>(Load(p + 2 * q), Load(w));
            const C2 x3 = Mul<Inv>(Load(p + 3 * q), Load(w + 4));
            const C2 a = x0 + x1, b = x0 - x1, c = x2 + x3, e = MulNegI<Inv>(x2 - x3);
            Store(p, a + c);
            Store(p + 2 * q, a - c);
            Store(p + q, b + e);
            Store(p + 3 * q, b - e);
        }
    }
}

// Calls f(k) for every k < 2^bits, in tiles whose bit-reversed indices also lie close
// together: a scatter to reversed positions then touches a few cache lines per tile instead of
// one line per element.
template <class F>
void InReversalTiles(int bits, F f) {
    constexpr int t = TRALUX_FFT_TILE;
    if (bits < 2 * t) {
        for (std::size_t k = 0; k < (std::size_t{1} << bits); ++k) f(k);
        return;
    }
    const int hi = bits - t;
    for (std::size_t m = 0; m < (std::size_t{1} << (bits - 2 * t)); ++m)
        for (std::size_t a = 0; a < (std::size_t{1} << t); ++a)
            for (std::size_t c = 0; c < (std::size_t{1} << t); ++c) f((a << hi) | (m << t) | c);
}

}  // namespace

ComplexFft::ComplexFft(int order) : order_(order) {
    if (order < 0 || order > 20) throw std::invalid_argument("fft order out of range");
    n_ = std::size_t{1} << order;
    for (std::uint32_t i = 0; i < n_; ++i) {
        std::uint32_t r = 0;
        for (int b = 0; b < order; ++b)
            if (i & (1u << b)) r |= 1u << (order - 1 - b);
        reversed_.push_back(r);
        if (r > i) {
            swaps_.push_back(i);
            swaps_.push_back(r);
        }
    }
    // An odd order starts with one radix-2 pass; the radix-4 passes of span 1 need no twiddles.
    for (std::size_t span = (order % 2) ? 2 : 4; 4 * span <= n_; span *= 4) {
        for (std::size_t j = 0; j < span; ++j) {
            for (std::size_t m = 1; m <= 3; ++m) {
                // Reduced index keeps the angle exact to the last bit for every power.
                const std::size_t len = 4 * span, k = (m * j) % len;
                const double a =
                    -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(len);
                twiddle_.emplace_back(std::cos(a), std::sin(a));
            }
        }
    }
}

void ComplexFft::Permute(std::complex<double>* data) const {
    for (std::size_t k = 0; k < swaps_.size(); k += 2)
        std::swap(data[swaps_[k]], data[swaps_[k + 1]]);
}

template <bool Inv>
void ComplexFft::Butterflies(std::complex<double>* data) const {
    double* d = reinterpret_cast<double*>(data);
    const std::size_t n = n_;
    if (n < 2) return;
    // The passes that stay within a block run block after block while it sits in the L1 cache;
    // pass after pass over the whole array would stream it through memory each time.
    const std::size_t block = std::min<std::size_t>(n, TRALUX_FFT_BLOCK);
    std::size_t span = 1;
    const double* tw = nullptr;
    for (std::size_t b = 0; b < n; b += block) {
        double* p = d + 2 * b;
        span = 1;
        tw = reinterpret_cast<const double*>(twiddle_.data());
        if (order_ % 2) {
            for (std::size_t s = 0; s < block; s += 2) {
                const C2 x0 = Load(p + 2 * s), x1 = Load(p + 2 * s + 2);
                Store(p + 2 * s, x0 + x1);
                Store(p + 2 * s + 2, x0 - x1);
            }
            span = 2;
        }
        for (; 4 * span <= block; span *= 4) {
            Radix4Pass<Inv>(p, block, span, tw);
            if (span > 1) tw += 6 * span;
        }
    }
    for (; 4 * span <= n; span *= 4) {
        Radix4Pass<Inv>(d, n, span, tw);
        tw += 6 * span;
    }
}

void ComplexFft::Forward(std::complex<double>* data) const {
    Permute(data);
    Butterflies<false>(data);
}

void ComplexFft::InverseUnscaled(std::complex<double>* data) const {
    Permute(data);
    Butterflies<true>(data);
}

RealFft::RealFft(int order) : order_(order), n_(std::size_t{1} << order), half_(order - 1) {
    if (order < 1 || order > 20) throw std::invalid_argument("fft order out of range");
    w_.resize(n_ / 2);
    for (std::size_t k = 0; k < n_ / 2; ++k) {
        const double a = -2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n_);
        w_[k] = {std::cos(a), std::sin(a)};
    }
    work_.resize(n_ / 2);
}

void RealFft::Forward(const double* in, std::complex<double>* out) {
    const std::size_t h = n_ / 2;
    double* z = reinterpret_cast<double*>(work_.data());
    const std::uint32_t* rev = half_.reversed_.data();
    InReversalTiles(half_.order_, [&](std::size_t k) { Store(z + 2 * rev[k], Load(in + 2 * k)); });
    half_.Butterflies<false>(work_.data());
    double* o = reinterpret_cast<double*>(out);
    const double* w = reinterpret_cast<const double*>(w_.data());
    const double z0r = z[0], z0i = z[1];
    o[0] = z0r + z0i;
    o[1] = 0.0;
    o[2 * h] = z0r - z0i;
    o[2 * h + 1] = 0.0;
    for (std::size_t k = 1; k < h; ++k) {
        const C2 zk = Load(z + 2 * k), cz = Conj(Load(z + 2 * (h - k)));
        const C2 even = Half(zk + cz);
        // odd part (Z - conj)/(2i) = -i (Z - conj) / 2
        const C2 odd = MulNegI<false>(Half(zk - cz));
        Store(o + 2 * k, even + Mul<false>(odd, Load(w + 2 * k)));
    }
}

void RealFft::Inverse(const std::complex<double>* in, double* out) {
    const std::size_t h = n_ / 2;
    double* z = reinterpret_cast<double*>(work_.data());
    const double* x = reinterpret_cast<const double*>(in);
    const double* w = reinterpret_cast<const double*>(w_.data());
    const std::uint32_t* rev = half_.reversed_.data();
    {
        const double x0 = x[0], xh = x[2 * h];
        z[0] = 0.5 * (x0 + xh);  // even + i * odd at k = 0
        z[1] = 0.5 * (x0 - xh);
    }
    InReversalTiles(half_.order_, [&](std::size_t k) {
        if (k == 0) return;
        const C2 xk = Load(x + 2 * k), cx = Conj(Load(x + 2 * (h - k)));
        const C2 even = Half(xk + cx);
        const C2 odd = Mul<true>(Half(xk - cx), Load(w + 2 * k));  // d / W^k = d * conj(W^k)
        Store(z + 2 * rev[k], even - MulNegI<false>(odd));         // even + i * odd
    });
    half_.Butterflies<true>(work_.data());
    const double scale = 1.0 / static_cast<double>(h);
    for (std::size_t k = 0; k < h; ++k) Store(out + 2 * k, Scale(Load(z + 2 * k), scale));
}

RealFftS16::RealFftS16(int order) : fft_(order) {
    if (order < 9 || order > 11) throw std::invalid_argument("16-bit fft order must be 9 to 11");
    in_.resize(fft_.Size());
    spec_.resize(fft_.Bins());
}

void RealFftS16::Forward(const std::int16_t* in, std::int32_t* out) {
    for (std::size_t k = 0; k < in_.size(); ++k) in_[k] = in[k];
    fft_.Forward(in_.data(), spec_.data());
    for (std::size_t k = 0; k < spec_.size(); ++k) {
        out[2 * k] = static_cast<std::int32_t>(std::lround(spec_[k].real()));
        out[2 * k + 1] = static_cast<std::int32_t>(std::lround(spec_[k].imag()));
    }
}

}  // namespace tralux::fft
