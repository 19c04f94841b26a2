#include "fft/fft.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tralux::fft {

namespace {

// Plain arithmetic: std::complex multiplication goes through a slow NaN-aware helper.
inline void Mul(double ar, double ai, double br, double bi, double& r, double& i) {
    r = ar * br - ai * bi;
    i = ar * bi + ai * br;
}

}  // namespace

ComplexFft::ComplexFft(int order) : order_(order) {
    if (order < 0 || order > 20) throw std::invalid_argument("fft order out of range");
    n_ = std::size_t{1} << order;
    for (std::uint32_t i = 0; i < n_; ++i) {
        std::uint32_t r = 0;
        for (int b = 0; b < order; ++b)
            if (i & (1u << b)) r |= 1u << (order - 1 - b);
        if (r > i) {
            swaps_.push_back(i);
            swaps_.push_back(r);
        }
    }
    twiddle_.reserve(n_ > 1 ? n_ - 1 : 0);
    for (std::size_t len = 2; len <= n_; len <<= 1) {
        for (std::size_t j = 0; j < len / 2; ++j) {
            const double a =
                -2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(len);
            twiddle_.emplace_back(std::cos(a), std::sin(a));
        }
    }
}

void ComplexFft::Permute(std::complex<double>* data) const {
    for (std::size_t k = 0; k < swaps_.size(); k += 2)
        std::swap(data[swaps_[k]], data[swaps_[k + 1]]);
}

void ComplexFft::Butterflies(std::complex<double>* data) const {
    double* d = reinterpret_cast<double*>(data);
    const std::size_t n = n_;
    if (n < 2) return;
    // Length 2 and 4 stages need no multiplications.
    for (std::size_t s = 0; s < n; s += 2) {
        double* a = d + 2 * s;
        const double r0 = a[0], i0 = a[1], r1 = a[2], i1 = a[3];
        a[0] = r0 + r1;
        a[1] = i0 + i1;
        a[2] = r0 - r1;
        a[3] = i0 - i1;
    }
    if (n < 4) return;
    for (std::size_t s = 0; s < n; s += 4) {
        double* a = d + 2 * s;
        const double r0 = a[0], i0 = a[1], r1 = a[2], i1 = a[3];
        const double r2 = a[4], i2 = a[5], r3 = a[6], i3 = a[7];
        // twiddle for index 3 is -i: (r3, i3) * -i = (i3, -r3)
        a[0] = r0 + r2;
        a[1] = i0 + i2;
        a[4] = r0 - r2;
        a[5] = i0 - i2;
        a[2] = r1 + i3;
        a[3] = i1 - r3;
        a[6] = r1 - i3;
        a[7] = i1 + r3;
    }
    const double* tw = reinterpret_cast<const double*>(twiddle_.data());
    std::size_t twOffset = 1 + 2;  // entries used by the length 2 and 4 stages
    for (std::size_t len = 8; len <= n; len <<= 1) {
        const std::size_t half = len / 2;
        const double* w = tw + 2 * twOffset;
        for (std::size_t s = 0; s < n; s += len) {
            double* a = d + 2 * s;
            double* b = a + 2 * half;
            for (std::size_t j = 0; j < half; ++j) {
                double tr, ti;
                Mul(b[2 * j], b[2 * j + 1], w[2 * j], w[2 * j + 1], tr, ti);
                const double ar = a[2 * j], ai = a[2 * j + 1];
                a[2 * j] = ar + tr;
                a[2 * j + 1] = ai + ti;
                b[2 * j] = ar - tr;
                b[2 * j + 1] = ai - ti;
            }
        }
        twOffset += half;
    }
}

void ComplexFft::Forward(std::complex<double>* data) const {
    Permute(data);
    Butterflies(data);
}

void ComplexFft::InverseUnscaled(std::complex<double>* data) const {
    for (std::size_t k = 0; k < n_; ++k) data[k] = std::conj(data[k]);
    Forward(data);
    for (std::size_t k = 0; k < n_; ++k) data[k] = std::conj(data[k]);
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
    for (std::size_t k = 0; k < h; ++k) work_[k] = {in[2 * k], in[2 * k + 1]};
    half_.Forward(work_.data());
    const double z0r = work_[0].real(), z0i = work_[0].imag();
    out[0] = {z0r + z0i, 0.0};
    out[h] = {z0r - z0i, 0.0};
    for (std::size_t k = 1; k < h; ++k) {
        const double zr = work_[k].real(), zi = work_[k].imag();
        const double cr = work_[h - k].real(), ci = -work_[h - k].imag();  // conj(Z[h-k])
        const double er = 0.5 * (zr + cr), ei = 0.5 * (zi + ci);           // even part
        // odd part (Z - conj)/(2i)
        const double dr = 0.5 * (zr - cr), di = 0.5 * (zi - ci);
        const double orr = di, oi = -dr;
        double tr, ti;
        Mul(orr, oi, w_[k].real(), w_[k].imag(), tr, ti);
        out[k] = {er + tr, ei + ti};
    }
}

void RealFft::Inverse(const std::complex<double>* in, double* out) {
    const std::size_t h = n_ / 2;
    {
        const double x0 = in[0].real(), xh = in[h].real();
        work_[0] = {0.5 * (x0 + xh), 0.5 * (x0 - xh)};  // even + i * odd at k = 0
    }
    for (std::size_t k = 1; k < h; ++k) {
        const double xr = in[k].real(), xi = in[k].imag();
        const double cr = in[h - k].real(), ci = -in[h - k].imag();  // conj(X[h-k])
        const double er = 0.5 * (xr + cr), ei = 0.5 * (xi + ci);
        const double dr = 0.5 * (xr - cr), di = 0.5 * (xi - ci);
        double orr, oi;  // d / W^k = d * conj(W^k)
        Mul(dr, di, w_[k].real(), -w_[k].imag(), orr, oi);
        work_[k] = {er - oi, ei + orr};  // even + i * odd
    }
    half_.InverseUnscaled(work_.data());
    const double scale = 1.0 / static_cast<double>(h);
    for (std::size_t k = 0; k < h; ++k) {
        out[2 * k] = work_[k].real() * scale;
        out[2 * k + 1] = work_[k].imag() * scale;
    }
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
