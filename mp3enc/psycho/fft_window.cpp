#include "mp3enc/psycho/fft_window.h"

#include <cmath>

#include "mp3enc/config/errors.h"

namespace mp3enc {

void CalculateWindow(float* window, int length, int kind) {
    if (kind != 0 && kind != 2)
        FatalError("CalculateWindow() called with invalid window type", __FILE__, __LINE__);
    for (int i = 0; i < length / 2; ++i) {
        const double s = std::sin(M_PI / length * (i + 0.5));
        window[i] = window[length - 1 - i] = static_cast<float>(s * s);
    }
}

RealFft::RealFft(int n)
    : n_(n),
      m_(n / 2),
      bitrev_(static_cast<size_t>(n / 2)),
      zr_(static_cast<size_t>(n / 2)),
      zi_(static_cast<size_t>(n / 2)) {
    int bits = 0;
    while ((1 << bits) < m_) ++bits;
    for (int i = 0; i < m_; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            if (i & (1 << b)) r |= 1 << (bits - 1 - b);
        bitrev_[static_cast<size_t>(i)] = r;
    }
    twr_.resize(static_cast<size_t>(m_ / 2));
    twi_.resize(static_cast<size_t>(m_ / 2));
    for (int k = 0; k < m_ / 2; ++k) {
        twr_[static_cast<size_t>(k)] = static_cast<float>(std::cos(2 * M_PI * k / m_));
        twi_[static_cast<size_t>(k)] = static_cast<float>(-std::sin(2 * M_PI * k / m_));
    }
    // Split twiddles from a rotation recurrence rather than a call per line.
    splitr_.resize(static_cast<size_t>(n / 4 + 1));
    spliti_.resize(static_cast<size_t>(n / 4 + 1));
    const double c = std::cos(2 * M_PI / n), s = -std::sin(2 * M_PI / n);
    double wr = 1, wi = 0;
    for (int k = 0; k <= n / 4; ++k) {
        splitr_[static_cast<size_t>(k)] = static_cast<float>(wr);
        spliti_[static_cast<size_t>(k)] = static_cast<float>(wi);
        const double t = wr * c - wi * s;
        wi = wr * s + wi * c;
        wr = t;
    }
}

void RealFft::Complex(float* re, float* im) const {
    for (int i = 0; i < m_; ++i) {
        const int j = bitrev_[static_cast<size_t>(i)];
        if (j > i) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
    }
    for (int len = 2; len <= m_; len <<= 1) {
        const int half = len >> 1;
        const int step = m_ / len;
        for (int s = 0; s < m_; s += len) {
            for (int k = 0; k < half; ++k) {
                const float wr = twr_[static_cast<size_t>(k * step)],
                            wi = twi_[static_cast<size_t>(k * step)];
                float* ar = re + s + k;
                float* ai = im + s + k;
                const float br = ar[half] * wr - ai[half] * wi;
                const float bi = ar[half] * wi + ai[half] * wr;
                ar[half] = *ar - br;
                ai[half] = *ai - bi;
                *ar += br;
                *ai += bi;
            }
        }
    }
}

void RealFft::Forward(const float* x, float* re, float* im) {
    float* zr = zr_.data();
    float* zi = zi_.data();
    for (int i = 0; i < m_; ++i) {
        zr[i] = x[2 * i];
        zi[i] = x[2 * i + 1];
    }
    Complex(zr, zi);
    re[0] = zr[0] + zi[0];
    im[0] = 0;
    for (int k = 1; k < n_ / 4; ++k) {
        const int j = m_ - k;
        // Even and odd parts of the pair (k, m - k).
        const float er = 0.5f * (zr[k] + zr[j]), ei = 0.5f * (zi[k] - zi[j]);
        const float or_ = 0.5f * (zi[k] + zi[j]), oi = -0.5f * (zr[k] - zr[j]);
        const float wr = splitr_[static_cast<size_t>(k)], wi = spliti_[static_cast<size_t>(k)];
        const float tr = or_ * wr - oi * wi, ti = or_ * wi + oi * wr;
        re[k] = er + tr;
        im[k] = ei + ti;
        // X[m - k] = conj(E[k]) - conj(W^k O[k]) since W^(m-k) = -conj(W^k).
        re[j] = er - tr;
        im[j] = -ei + ti;
    }
    re[n_ / 4] = zr[n_ / 4];
    im[n_ / 4] = -zi[n_ / 4];
}

}  // namespace mp3enc
