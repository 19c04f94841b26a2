// Quality of the rate converter beside sox's own rate conversion of the same input: for a
// 1 kHz sine, a 15 kHz sine and a logarithmic sweep from 20 Hz to 20 kHz (to 90 % of the input's
// Nyquist frequency when that is lower), all at -1 dBFS, mono, 16-bit. Printed per path:
//   SINAD  signal to noise-and-distortion (sine: around a least-squares fit of the tone; sweep:
//          energy near the sweep's instantaneous frequency against the rest, short-time spectra,
//          where the sweep lies below 90 % of the output's Nyquist frequency; the start and end
//          quarter second are left out);
//   spur   the strongest component away from the expected tone, in dBFS (for a tone above the
//          output's Nyquist frequency, which must vanish, the strongest component of all).
// sox runs as "sox -D in.wav -r <rate> out.wav" (default quality, no dither). Without sox only
// our columns are printed. Usage: bench_dsp_quality
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "engine/dsp/dsp_state.h"
#include "fft/fft.h"

namespace {

constexpr double kAmp = 32767.0 * 0.891250938;  // -1 dBFS
constexpr double kSeconds = 6.0;

struct Signal {
    const char* name;
    double tone;  // 0 for the sweep
};

std::vector<std::int16_t> Make(const Signal& s, std::uint32_t rate, double f2) {
    const auto n = static_cast<std::size_t>(kSeconds * rate);
    std::vector<std::int16_t> v(n);
    const double f1 = 20.0, k = std::log(f2 / f1) / kSeconds;
    for (std::size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double ph = s.tone > 0 ? 2 * std::numbers::pi * s.tone * t
                                     : 2 * std::numbers::pi * f1 / k * (std::exp(k * t) - 1.0);
        v[i] = static_cast<std::int16_t>(std::lround(kAmp * std::sin(ph)));
    }
    return v;
}

std::vector<std::int16_t> Ours(const std::vector<std::int16_t>& in, std::uint32_t from,
                               std::uint32_t to) {
    tralux::dsp::DspState dsp;
    dsp.ResamplerStart({from, 1, 16, to, 1, false});
    std::vector<std::int16_t> out;
    for (std::size_t at = 0; at < in.size(); at += from) {
        const std::size_t n = std::min<std::size_t>(from, in.size() - at);
        auto o = dsp.Process(reinterpret_cast<const std::uint8_t*>(in.data() + at), n * 2);
        out.insert(out.end(), o.begin(), o.end());
    }
    auto o = dsp.Flush();
    out.insert(out.end(), o.begin(), o.end());
    return out;
}

void Put32(std::ofstream& f, std::uint32_t v) {
    f.write(reinterpret_cast<const char*>(&v), 4);
}
void Put16(std::ofstream& f, std::uint16_t v) {
    f.write(reinterpret_cast<const char*>(&v), 2);
}

void WriteWav(const std::string& path, const std::vector<std::int16_t>& s, std::uint32_t rate) {
    std::ofstream f(path, std::ios::binary);
    const auto bytes = static_cast<std::uint32_t>(s.size() * 2);
    f.write("RIFF", 4);
    Put32(f, 36 + bytes);
    f.write("WAVEfmt ", 8);
    Put32(f, 16);
    Put16(f, 1);
    Put16(f, 1);
    Put32(f, rate);
    Put32(f, rate * 2);
    Put16(f, 2);
    Put16(f, 16);
    f.write("data", 4);
    Put32(f, bytes);
    f.write(reinterpret_cast<const char*>(s.data()), bytes);
}

std::optional<std::vector<std::int16_t>> ReadWav(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) != 0) return std::nullopt;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        std::uint32_t len;
        std::memcpy(&len, b.data() + at + 4, 4);
        if (std::memcmp(b.data() + at, "data", 4) == 0) {
            len = static_cast<std::uint32_t>(std::min<std::size_t>(len, b.size() - at - 8));
            std::vector<std::int16_t> s(len / 2);
            std::memcpy(s.data(), b.data() + at + 8, s.size() * 2);
            return s;
        }
        at += 8 + len + (len & 1);
    }
    return std::nullopt;
}

std::optional<std::vector<std::int16_t>> Sox(const std::vector<std::int16_t>& in,
                                             std::uint32_t from, std::uint32_t to) {
    const auto dir = std::filesystem::temp_directory_path();
    const std::string a = (dir / "tralux_quality_in.wav").string(),
                      b = (dir / "tralux_quality_out.wav").string();
    WriteWav(a, in, from);
    const std::string cmd =
        "sox -D '" + a + "' -r " + std::to_string(to) + " '" + b + "' 2>/dev/null";
    if (std::system(cmd.c_str()) != 0) return std::nullopt;
    auto out = ReadWav(b);
    std::filesystem::remove(a);
    std::filesystem::remove(b);
    return out;
}

struct Result {
    double sinad = NAN, spur = NAN;
};

double Db(double ratio) {
    return 10.0 * std::log10(std::max(ratio, 1e-30));
}

// Hann-windowed spectrum of y[from, from + 2^order), each bin as a sine amplitude relative to full scale.
std::vector<double> Amplitudes(const std::vector<std::int16_t>& y, std::size_t from, int order) {
    tralux::fft::RealFft fft(order);
    std::vector<double> x(fft.Size());
    double wsum = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) /
                                              static_cast<double>(x.size()));
        x[i] = (from + i < y.size() ? y[from + i] : 0) * w;
        wsum += w;
    }
    std::vector<std::complex<double>> X(fft.Bins());
    fft.Forward(x.data(), X.data());
    std::vector<double> a(X.size());
    for (std::size_t k = 0; k < a.size(); ++k) a[k] = 2 * std::abs(X[k]) / wsum / 32767.0;
    return a;
}

Result MeasureTone(const std::vector<std::int16_t>& y, double tone, std::uint32_t rate) {
    Result r;
    const std::size_t skip = rate / 4, from = skip, to = y.size() - skip;
    int order = 10;
    while ((std::size_t{2} << order) <= to - from && order < 16) ++order;
    const auto amp = Amplitudes(y, from, order);
    const double binHz = static_cast<double>(rate) / (1 << order);
    const bool present = tone < rate / 2.0;
    double spur = 0;
    for (std::size_t k = 0; k < amp.size(); ++k)
        if (!present || std::abs(static_cast<double>(k) * binHz - tone) > 8 * binHz)
            spur = std::max(spur, amp[k]);
    r.spur = 20 * std::log10(std::max(spur, 1e-12));
    if (present) {
        double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0, yy = 0;
        for (std::size_t i = from; i < to; ++i) {
            const double a = 2 * std::numbers::pi * tone * static_cast<double>(i) / rate;
            const double c = std::cos(a), s = std::sin(a);
            cc += c * c;
            ss += s * s;
            cs += c * s;
            yc += y[i] * c;
            ys += y[i] * s;
            yy += double(y[i]) * y[i];
        }
        const double det = cc * ss - cs * cs, A = (yc * ss - ys * cs) / det,
                     B = (ys * cc - yc * cs) / det;
        const double fit = A * A * cc + B * B * ss + 2 * A * B * cs;
        r.sinad = Db(fit / std::max(yy - fit, 1e-9));
    }
    return r;
}

Result MeasureSweep(const std::vector<std::int16_t>& y, std::uint32_t rate, double f2) {
    Result r;
    // Blocks of about 46 ms at any rate: the sweep moves under 3 % in one.
    int kOrder = 9;
    while ((std::size_t{1} << (kOrder + 1)) <= rate / 20) ++kOrder;
    const std::size_t n = std::size_t{1} << kOrder;
    const double binHz = static_cast<double>(rate) / n, k = std::log(f2 / 20.0) / kSeconds;
    double sig = 0, rest = 0, spur = 0;
    for (std::size_t from = rate / 4; from + n + rate / 4 <= y.size(); from += n / 2) {
        const double t = (static_cast<double>(from) + n / 2.0) / rate;
        const double f = 20.0 * std::exp(k * t);
        const double zone = 0.05 * f + 6 * binHz;
        const bool present = f < rate / 2.0;
        const bool inBand = f < 0.9 * rate / 2.0;
        const auto amp = Amplitudes(y, from, kOrder);
        for (std::size_t b = 0; b < amp.size(); ++b) {
            const bool near = present && std::abs(static_cast<double>(b) * binHz - f) <= zone;
            if (!near) spur = std::max(spur, amp[b]);
            if (inBand) (near ? sig : rest) += amp[b] * amp[b];
        }
    }
    r.spur = 20 * std::log10(std::max(spur, 1e-12));
    r.sinad = Db(sig / std::max(rest, 1e-30));
    return r;
}

void Cell(double v) {
    if (std::isnan(v))
        std::printf(" %8s", "-");
    else if (v < -200)
        std::printf(" %8s", "silent");
    else
        std::printf(" %8.1f", v);
}

}  // namespace

int main() {
    struct Path {
        std::uint32_t from, to;
    };
    const Path paths[] = {{44100, 8000},  {44100, 16000}, {44100, 22050}, {44100, 32000},
                          {22050, 44100}, {32000, 44100}, {44100, 48000}, {48000, 44100},
                          {96000, 44100}, {96000, 48000}};
    const Signal signals[] = {{"1 kHz sine", 1000}, {"15 kHz sine", 15000}, {"sweep", 0}};
    std::printf("%-15s %-12s | %8s %8s | %8s %8s\n", "path", "signal", "SINAD dB", "spur dBFS",
                "sox SINAD", "sox spur");
    for (const auto& p : paths) {
        for (const auto& s : signals) {
            if (s.tone >= p.from / 2.0) continue;
            const double f2 = std::min(20000.0, 0.9 * p.from / 2.0);
            const auto in = Make(s, p.from, f2);
            const auto ours = Ours(in, p.from, p.to);
            const auto sox = Sox(in, p.from, p.to);
            const auto measure = [&](const std::vector<std::int16_t>& y) {
                return s.tone > 0 ? MeasureTone(y, s.tone, p.to) : MeasureSweep(y, p.to, f2);
            };
            const Result a = measure(ours);
            const Result b = sox ? measure(*sox) : Result{};
            std::printf("%6u -> %-6u %-12s |", p.from, p.to, s.name);
            Cell(a.sinad);
            Cell(a.spur);
            std::printf(" |");
            Cell(b.sinad);
            Cell(b.spur);
            std::printf("\n");
        }
    }
    return 0;
}
