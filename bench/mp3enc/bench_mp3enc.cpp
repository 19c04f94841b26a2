// Encodes a set of sox-made signals with our encoder and with lame at the same settings,
// decodes both with ffmpeg and prints speed, SNR, bandwidth and pre-echo side by side.
// Usage: bench_mp3enc [seconds]   (needs sox, lame and ffmpeg on the PATH)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "mp3encoder.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Dir() {
    static std::string d = "/tmp/bench_mp3enc_" + std::to_string(getpid());
    return d;
}

int Sh(const std::string& cmd) {
    return std::system(cmd.c_str());
}

std::vector<int16_t> ReadRaw(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> v(b.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(static_cast<uint8_t>(b[2 * i]) |
                                    (static_cast<uint8_t>(b[2 * i + 1]) << 8));
    return v;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& b) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

struct Setting {
    const char* name;
    int rate, ch, kbps;
};

struct Signal {
    const char* name;
    std::string synth;  // sox effects after "synth SECONDS"
};

std::vector<uint8_t> EncodeOurs(const std::vector<int16_t>& pcm, const Setting& s, int* delay) {
    mp3enc::Mp3Encoder* e = mp3enc::Mp3EncoderCreate(static_cast<float>(s.rate), s.ch, 0);
    mp3enc::Mp3Configuration c{s.rate, s.ch, s.kbps * 1000};
    std::vector<uint8_t> out;
    if (!e || !mp3enc::Mp3EncoderSelectConfiguration(e, &c)) {
        std::fprintf(stderr, "configuration %s refused\n", s.name);
        mp3enc::Mp3EncoderDelete(e);
        return out;
    }
    *delay = mp3enc::Mp3EncoderGetSettings(e)->delay;
    std::vector<uint8_t> buf(8192);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
    int left = static_cast<int>(pcm.size() * 2);
    while (left > 0) {
        int used = 0;
        int w =
            mp3enc::Mp3EncoderEncode(e, p, std::min(left, 4608 * s.ch), &used, buf.data(), 8192);
        if (w < 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + w);
        p += used;
        left -= used;
    }
    for (int used = 0;;) {
        int w = mp3enc::Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), 8192);
        if (w <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + w);
    }
    mp3enc::Mp3EncoderDelete(e);
    return out;
}

// Best alignment of the decoded signal against the input (first channel), 0..4000 samples.
int Align(const std::vector<int16_t>& in, const std::vector<int16_t>& dec, int ch) {
    int best = 0;
    double bestErr = 1e300;
    const size_t n = in.size() / ch;
    // Compare on the loudest stretch of the input.
    size_t from = 0;
    double most = -1;
    for (size_t s = 0; s + 8192 < n; s += 2048) {
        double e = 0;
        for (size_t i = s; i < s + 8192; i += 8) e += double(in[i * ch]) * in[i * ch];
        if (e > most) {
            most = e;
            from = s;
        }
    }
    for (int d = 0; d <= 4000; ++d) {
        double err = 0;
        for (size_t i = from; i < from + 8192 && i < n; i += 2) {
            size_t j = (i + d) * ch;
            if (j >= dec.size()) {
                err = 1e300;
                break;
            }
            double x = in[i * ch] - dec[j];
            err += x * x;
        }
        if (err < bestErr) {
            bestErr = err;
            best = d;
        }
    }
    return best;
}

double Snr(const std::vector<int16_t>& in, const std::vector<int16_t>& dec, int ch, int d) {
    double s = 0, e = 0;
    for (size_t i = static_cast<size_t>(ch) * 2048; i < in.size(); ++i) {
        size_t j = i + static_cast<size_t>(d * ch);
        if (j >= dec.size()) break;
        s += double(in[i]) * in[i];
        e += (double(dec[j]) - in[i]) * (double(dec[j]) - in[i]);
    }
    return 10 * std::log10(s / std::max(e, 1e-9));
}

void Fft(std::vector<std::complex<double>>& a) {
    const size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        std::complex<double> w(std::cos(-2 * M_PI / len), std::sin(-2 * M_PI / len));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wn(1);
            for (size_t k = 0; k < len / 2; ++k) {
                auto u = a[i + k], v = a[i + k + len / 2] * wn;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                wn *= w;
            }
        }
    }
}

// Highest frequency whose averaged power lies within 50 dB of the strongest bin.
double Bandwidth(const std::vector<int16_t>& dec, int ch, int rate) {
    const size_t N = 4096;
    std::vector<double> pow(N / 2, 0.0);
    const size_t frames = dec.size() / ch;
    for (size_t start = 0; start + N <= frames; start += N) {
        std::vector<std::complex<double>> a(N);
        for (size_t i = 0; i < N; ++i)
            a[i] = dec[(start + i) * ch] * (0.5 - 0.5 * std::cos(2 * M_PI * i / N));
        Fft(a);
        for (size_t k = 0; k < N / 2; ++k) pow[k] += std::norm(a[k]);
    }
    double peak = *std::max_element(pow.begin(), pow.end());
    size_t top = 0;
    for (size_t k = 0; k < N / 2; ++k)
        if (pow[k] > peak * 1e-5) top = k;
    return static_cast<double>(top) * rate / N;
}

// Energy in the 12 ms before each click onset, relative to the click's energy (dB, mean).
double PreEcho(const std::vector<int16_t>& in, const std::vector<int16_t>& dec, int ch, int d,
               int rate) {
    const size_t n = in.size() / ch;
    const size_t pre = static_cast<size_t>(rate) * 12 / 1000,
                 guard = static_cast<size_t>(rate) / 1000;
    double sum = 0;
    int count = 0;
    size_t quiet = 0;
    for (size_t i = 0; i < n; ++i) {
        if (std::abs(in[i * ch]) < 200) {
            ++quiet;
            continue;
        }
        if (quiet > static_cast<size_t>(rate) / 10 && i > pre + guard) {
            double before = 0, click = 0;
            for (size_t k = i - pre - guard; k < i - guard; ++k) {
                size_t j = (k + d) * ch;
                if (j < dec.size()) before += double(dec[j]) * dec[j];
            }
            for (size_t k = i; k < i + pre && k < n; ++k) click += double(in[k * ch]) * in[k * ch];
            sum += 10 * std::log10(std::max(before, 1e-3) / click);
            ++count;
        }
        quiet = 0;
    }
    return count ? sum / count : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    if (Sh("command -v sox >/dev/null && command -v lame >/dev/null && command -v ffmpeg "
           ">/dev/null") != 0) {
        std::fprintf(stderr, "needs sox, lame and ffmpeg\n");
        return 1;
    }
    Sh("mkdir -p " + Dir());
    const Setting settings[] = {{"64k stereo 44.1", 44100, 2, 64},
                                {"128k stereo 44.1", 44100, 2, 128},
                                {"192k stereo 44.1", 44100, 2, 192},
                                {"32k mono 22.05", 22050, 1, 32}};
    const Signal signals[] = {
        {"sine 1k", "sine 1000 vol 0.5"},
        {"sweep", "sine 20-20000 vol 0.5"},
        {"pink noise", "pinknoise vol 0.5"},
        {"clicks", "CLICKS"},
        {"tones+noise", "sine 440 sine 1333 sine 3100 pinknoise remix 1-4 1-4 vol 0.4"},
        {"formant noise", "pinknoise band 700 200 band 1200 300 tremolo 5 90 vol 2"},
    };
    std::printf(
        "| signal | setting | ours xRT | lame xRT | ours SNR dB | lame SNR dB | ours BW Hz | lame "
        "BW Hz | pre-echo ours/lame dB |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const Setting& s : settings) {
        for (const Signal& g : signals) {
            const std::string raw = Dir() + "/in.raw";
            const std::string fmt = " -r " + std::to_string(s.rate) + " -c " +
                                    std::to_string(s.ch) + " -b 16 -e signed-integer ";
            std::string gen;
            if (g.synth == "CLICKS") {
                int reps = static_cast<int>(seconds * 4) - 1;
                gen = "sox -n" + fmt + "'" + raw +
                      "' synth 0.008 whitenoise fade 0 0.008 0.007 vol 0.8 pad 0.242 0 repeat " +
                      std::to_string(reps);
            } else {
                gen = "sox -n" + fmt + "'" + raw + "' synth " + std::to_string(seconds) + " " +
                      g.synth;
            }
            if (Sh(gen + " 2>/dev/null") != 0) {
                std::fprintf(stderr, "sox failed for %s\n", g.name);
                continue;
            }
            auto pcm = ReadRaw(raw);
            const double dur = static_cast<double>(pcm.size()) / s.ch / s.rate;
            // Ours, in process: best of three.
            double oursT = 1e9;
            int delay = 0;
            std::vector<uint8_t> mp3;
            for (int k = 0; k < 3; ++k) {
                auto t0 = Clock::now();
                mp3 = EncodeOurs(pcm, s, &delay);
                oursT = std::min(oursT, std::chrono::duration<double>(Clock::now() - t0).count());
            }
            WriteFile(Dir() + "/ours.mp3", mp3);
            // lame at the same rate, mode and bit rate: best of three.
            char rateText[16];
            std::snprintf(rateText, sizeof rateText, "%.2f", s.rate / 1000.0);
            std::string lame = std::string("lame --silent -r -s ") + rateText +
                               " --bitwidth 16 --signed --little-endian -m " +
                               (s.ch == 1 ? "m" : "j") + " --resample " + rateText + " -b " +
                               std::to_string(s.kbps) + " '" + raw + "' '" + Dir() + "/lame.mp3'";
            double lameT = 1e9;
            for (int k = 0; k < 3; ++k) {
                auto t0 = Clock::now();
                Sh(lame + " 2>/dev/null");
                lameT = std::min(lameT, std::chrono::duration<double>(Clock::now() - t0).count());
            }
            Sh("ffmpeg -nostdin -v error -y -i '" + Dir() + "/ours.mp3' -f s16le '" + Dir() +
               "/ours.raw'");
            Sh("ffmpeg -nostdin -v error -y -i '" + Dir() + "/lame.mp3' -f s16le '" + Dir() +
               "/lame.raw'");
            auto decO = ReadRaw(Dir() + "/ours.raw");
            auto decL = ReadRaw(Dir() + "/lame.raw");
            int dO = Align(pcm, decO, s.ch), dL = Align(pcm, decL, s.ch);
            std::string pre = "-";
            if (g.synth == "CLICKS") {
                char b[64];
                std::snprintf(b, sizeof b, "%.1f / %.1f", PreEcho(pcm, decO, s.ch, dO, s.rate),
                              PreEcho(pcm, decL, s.ch, dL, s.rate));
                pre = b;
            }
            std::printf("| %s | %s | %.1f | %.1f | %.1f | %.1f | %.0f | %.0f | %s |\n", g.name,
                        s.name, dur / oursT, dur / lameT, Snr(pcm, decO, s.ch, dO),
                        Snr(pcm, decL, s.ch, dL), Bandwidth(decO, s.ch, s.rate),
                        Bandwidth(decL, s.ch, s.rate), pre.c_str());
            std::fflush(stdout);
            (void)delay;
        }
    }
    Sh("rm -rf " + Dir());
    return 0;
}
