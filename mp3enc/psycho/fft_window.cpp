#include "mp3enc/psycho/fft_window.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/config/errors.h"
#include "mp3enc/config/wide_clones.h"

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
    // Twiddles stage by stage, each stage's run contiguous (stage of half h at offset h), so the
    // butterflies read them with unit stride.
    twr_.resize(static_cast<size_t>(std::max(m_, 2)));
    twi_.resize(static_cast<size_t>(std::max(m_, 2)));
    for (int half = 1; half < m_; half <<= 1) {
        for (int k = 0; k < half; ++k) {
            const double a = M_PI * k / half;
            twr_[static_cast<size_t>(half + k)] = static_cast<float>(std::cos(a));
            twi_[static_cast<size_t>(half + k)] = static_cast<float>(-std::sin(a));
        }
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

namespace {

// One run of radix-2 butterflies; the halves never overlap, which lets them vectorize.
void Butterflies(float* __restrict ar, float* __restrict ai, float* __restrict br,
                 float* __restrict bi, const float* __restrict wr, const float* __restrict wi,
                 int half) {
    for (int k = 0; k < half; ++k) {
        const float tr = br[k] * wr[k] - bi[k] * wi[k];
        const float ti = br[k] * wi[k] + bi[k] * wr[k];
        br[k] = ar[k] - tr;
        bi[k] = ai[k] - ti;
        ar[k] += tr;
        ai[k] += ti;
    }
}

}  // namespace

MP3ENC_WIDE_CLONES
void RealFft::Complex(float* re, float* im) const {
    // First two stages have trivial twiddles (1 and -i).
    if (m_ >= 4) {
        for (int s = 0; s < m_; s += 4) {
            float* r = re + s;
            float* q = im + s;
            const float r0 = r[0] + r[1], i0 = q[0] + q[1], r1 = r[0] - r[1], i1 = q[0] - q[1];
            const float r2 = r[2] + r[3], i2 = q[2] + q[3], r3 = r[2] - r[3], i3 = q[2] - q[3];
            r[0] = r0 + r2;
            q[0] = i0 + i2;
            r[2] = r0 - r2;
            q[2] = i0 - i2;
            // (r3 + i i3) * -i = i3 - i r3
            r[1] = r1 + i3;
            q[1] = i1 - r3;
            r[3] = r1 - i3;
            q[3] = i1 + r3;
        }
    }
    for (int half = m_ >= 4 ? 4 : 1; half < m_; half <<= 1) {
        const float* wr = twr_.data() + half;
        const float* wi = twi_.data() + half;
        for (int s = 0; s < m_; s += 2 * half)
            Butterflies(re + s, im + s, re + s + half, im + s + half, wr, wi, half);
    }
}

MP3ENC_WIDE_CLONES
void RealFft::Forward(const float* x, float* re, float* im) {
    float* zr = zr_.data();
    float* zi = zi_.data();
    // Even and odd samples straight into bit-reversed order.
    const int* rev = bitrev_.data();
    for (int i = 0; i < m_; ++i) {
        zr[rev[i]] = x[2 * i];
        zi[rev[i]] = x[2 * i + 1];
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
