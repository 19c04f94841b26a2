#pragma once
// Signals and measurements shared by the signal-stage tests.
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "engine/dsp/dsp_state.h"
#include "fft/fft.h"

namespace dsptest {

inline std::vector<std::int16_t> Sine(double freq, double rate, std::size_t n, double amp = 32767.0,
                                      double phase = 0.0) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::int16_t>(std::lround(
            amp * std::sin(2.0 * std::numbers::pi * freq * static_cast<double>(i) / rate + phase)));
    return s;
}

inline std::vector<std::int16_t> Noise(std::size_t n, unsigned seed, int amp = 16000) {
    std::vector<std::int16_t> s(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& v : s) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<std::int16_t>(static_cast<int>(x >> 16) % (2 * amp + 1) - amp);
    }
    return s;
}

inline std::vector<std::int16_t> Interleave(const std::vector<std::int16_t>& l,
                                            const std::vector<std::int16_t>& r) {
    std::vector<std::int16_t> s(2 * l.size());
    for (std::size_t i = 0; i < l.size(); ++i) {
        s[2 * i] = l[i];
        s[2 * i + 1] = r[i];
    }
    return s;
}

// Runs interleaved 16-bit input through Process in blocks of blockFrames, then Flush.
inline std::vector<std::int16_t> Convert(tralux::dsp::DspState& dsp,
                                         const std::vector<std::int16_t>& in,
                                         std::size_t blockFrames, bool flush = true) {
    const std::size_t ch = dsp.Format().SourceChannels;
    std::vector<std::int16_t> out;
    for (std::size_t at = 0; at < in.size(); at += blockFrames * ch) {
        const std::size_t n = std::min(blockFrames * ch, in.size() - at);
        auto o = dsp.Process(reinterpret_cast<const std::uint8_t*>(in.data() + at), n * 2);
        out.insert(out.end(), o.begin(), o.end());
    }
    if (flush) {
        auto o = dsp.Flush();
        out.insert(out.end(), o.begin(), o.end());
    }
    return out;
}

inline std::vector<std::int16_t> Channel(const std::vector<std::int16_t>& s, int ch, int channels) {
    std::vector<std::int16_t> o;
    for (std::size_t i = static_cast<std::size_t>(ch); i < s.size();
         i += static_cast<std::size_t>(channels))
        o.push_back(s[i]);
    return o;
}

// Hann-windowed amplitude spectrum of s[from, from + 2^order), each bin as the amplitude of a
// sine (full scale = 32767 -> 0 dBFS), in dBFS.
inline std::vector<double> SpectrumDbfs(const std::vector<std::int16_t>& s, std::size_t from,
                                        int order) {
    tralux::fft::RealFft fft(order);
    const std::size_t n = fft.Size();
    std::vector<double> x(n);
    double wsum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(n));
        x[i] = (from + i < s.size() ? s[from + i] : 0) * w;
        wsum += w;
    }
    std::vector<std::complex<double>> X(fft.Bins());
    fft.Forward(x.data(), X.data());
    std::vector<double> db(X.size());
    for (std::size_t k = 0; k < X.size(); ++k)
        db[k] = 20.0 * std::log10(std::max(2.0 * std::abs(X[k]) / wsum / 32767.0, 1e-12));
    return db;
}

inline double MaxDb(const std::vector<double>& db, std::size_t lo, std::size_t hi) {
    double m = -400;
    for (std::size_t k = lo; k < std::min(hi, db.size()); ++k) m = std::max(m, db[k]);
    return m;
}

// Least-squares fit A cos + B sin of a sine of known frequency over s[from, to).
struct SineFitResult {
    double A = 0, B = 0;
    double At(double freq, double rate, std::size_t i) const {
        const double a = 2.0 * std::numbers::pi * freq * static_cast<double>(i) / rate;
        return A * std::cos(a) + B * std::sin(a);
    }
};
inline SineFitResult SineFit(const std::vector<std::int16_t>& s, double freq, double rate,
                             std::size_t from, std::size_t to) {
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double a = 2.0 * std::numbers::pi * freq * static_cast<double>(i) / rate;
        const double c = std::cos(a), sn = std::sin(a);
        cc += c * c;
        ss += sn * sn;
        cs += c * sn;
        yc += s[i] * c;
        ys += s[i] * sn;
    }
    const double det = cc * ss - cs * cs;
    return {(yc * ss - ys * cs) / det, (ys * cc - yc * cs) / det};
}

// Least-squares amplitude of a sine of known frequency over s[from, to).
inline double SineAmplitude(const std::vector<std::int16_t>& s, double freq, double rate,
                            std::size_t from, std::size_t to) {
    const SineFitResult f = SineFit(s, freq, rate, from, to);
    return std::hypot(f.A, f.B);
}

// Signal to noise and distortion of a sine of known frequency over s[from, to), in dB: the
// least-squares fit against everything else.
inline double SineSinadDb(const std::vector<std::int16_t>& s, double freq, double rate,
                          std::size_t from, std::size_t to) {
    const SineFitResult f = SineFit(s, freq, rate, from, to);
    double sig = 0, err = 0;
    for (std::size_t i = from; i < to; ++i) {
        const double fit = f.At(freq, rate, i);
        sig += fit * fit;
        err += (s[i] - fit) * (s[i] - fit);
    }
    return 10.0 * std::log10(sig / std::max(err, 1e-9));
}

inline int PeakAbs(const std::vector<std::int16_t>& s, std::size_t from, std::size_t to) {
    int m = 0;
    for (std::size_t i = from; i < std::min(to, s.size()); ++i)
        m = std::max(m, std::abs(static_cast<int>(s[i])));
    return m;
}

}  // namespace dsptest
