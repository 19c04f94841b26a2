// Perceptual quality of our MP3 encoder beside lame: makes a set of test signals, encodes each
// with both at 96, 128 and 192 kbit/s (44100 Hz stereo) and prints the PEAQ Objective Difference
// Grade of every stream side by side, plus the encode speed against lame (CPU time).
// Usage: bench_quality [-w WORKDIR] [-r 96,128,192] [-v 0,2,5,9] [-s NAME,NAME] [-d SECONDS]
//                      [-p PEAQ_SCRIPT] [-m 1] [-i 0] [-f WAV,WAV]   (-r none: no constant-rate
//                      rows; -v: VBR levels; -m 1: also both streams brought back to the
//                      reference's level; -i 0: our encoder without intensity stereo; -f: grade
//                      these 44100 Hz stereo 16-bit WAV files instead of the made signals, each
//                      named by its file name without .wav)
// Needs lame, sox, ffmpeg and espeak-ng on the PATH and the PEAQ script (default
// ../shared/tools/peaq/peaq.sh beside the source tree, or $TRALUX_PEAQ).
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "mp3encoder.h"

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

struct Stereo {
    std::vector<float> l, r;
    explicit Stereo(size_t n = 0) : l(n, 0.0f), r(n, 0.0f) {}
    size_t size() const { return l.size(); }
};

// Small deterministic generator so the signals are the same on every run.
struct Rng {
    uint32_t s;
    explicit Rng(uint32_t seed) : s(seed) {}
    float Uniform() {  // [-1, 1)
        s = s * 1664525u + 1013904223u;
        return static_cast<float>(static_cast<int32_t>(s)) / 2147483648.0f;
    }
};

int Sh(const std::string& cmd) {
    return std::system(cmd.c_str());
}

std::string Output(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

std::vector<int16_t> ToPcm(const Stereo& s) {
    std::vector<int16_t> pcm(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) {
        pcm[2 * i] = static_cast<int16_t>(std::lrint(std::clamp(s.l[i], -1.0f, 1.0f) * 32767.0f));
        pcm[2 * i + 1] =
            static_cast<int16_t>(std::lrint(std::clamp(s.r[i], -1.0f, 1.0f) * 32767.0f));
    }
    return pcm;
}

void WriteWav(const std::string& path, const std::vector<int16_t>& pcm) {
    std::ofstream f(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { f.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { f.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t bytes = static_cast<uint32_t>(pcm.size() * 2);
    f.write("RIFF", 4), u32(36 + bytes), f.write("WAVEfmt ", 8), u32(16), u16(1), u16(2),
        u32(kRate), u32(kRate * 4), u16(4), u16(16), f.write("data", 4), u32(bytes);
    f.write(reinterpret_cast<const char*>(pcm.data()), bytes);
}

std::vector<int16_t> ReadWavData(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::vector<int16_t> v;
    for (size_t p = 12; p + 8 <= b.size();) {
        uint32_t len;
        std::memcpy(&len, &b[p + 4], 4);
        if (!std::memcmp(&b[p], "data", 4)) {
            len = static_cast<uint32_t>(std::min<size_t>(len, b.size() - p - 8));
            v.resize(len / 2);
            std::memcpy(v.data(), &b[p + 8], v.size() * 2);
            break;
        }
        p += 8 + len + (len & 1);
    }
    return v;
}

// A 44100 Hz stereo 16-bit PCM WAV file's samples; empty for anything else, which the
// encoders here would be fed at the wrong rate or layout.
std::vector<int16_t> ReadStereoWav(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(&b[8], "WAVE", 4))
        return {};
    for (size_t p = 12; p + 8 <= b.size();) {
        uint32_t len;
        std::memcpy(&len, &b[p + 4], 4);
        if (!std::memcmp(&b[p], "fmt ", 4)) {
            uint16_t format = 0, channels = 0, bits = 0;
            uint32_t rate = 0;
            if (len < 16 || p + 24 > b.size()) return {};
            std::memcpy(&format, &b[p + 8], 2);
            std::memcpy(&channels, &b[p + 10], 2);
            std::memcpy(&rate, &b[p + 12], 4);
            std::memcpy(&bits, &b[p + 22], 2);
            if (format != 1 || channels != 2 || rate != kRate || bits != 16) return {};
            return ReadWavData(path);
        }
        p += 8 + size_t(len) + (len & 1);
    }
    return {};
}

// ---------------------------------------------------------------------------------------------
// Signals

void Pluck(Stereo& s, size_t at, double freq, double gain, double pan, Rng& rng) {
    // Karplus-Strong string: a noise burst circulating in a damped delay line.
    const int period = static_cast<int>(kRate / freq);
    std::vector<float> line(static_cast<size_t>(period));
    for (float& v : line) v = rng.Uniform();
    const size_t n = std::min(s.size() - at, static_cast<size_t>(kRate * 1.5));
    for (size_t i = 0; i < n; ++i) {
        const size_t k = i % static_cast<size_t>(period);
        const float out = line[k];
        line[k] = 0.4985f * (line[k] + line[(k + 1) % static_cast<size_t>(period)]);
        s.l[at + i] += static_cast<float>(out * gain * (1 - pan));
        s.r[at + i] += static_cast<float>(out * gain * pan);
    }
}

void PinkNoise(Stereo& s, double gain, Rng& rng) {
    // Paul Kellet's economy filter on white noise, independent per channel.
    for (int c = 0; c < 2; ++c) {
        float b0 = 0, b1 = 0, b2 = 0;
        auto& x = c ? s.r : s.l;
        for (float& v : x) {
            const float w = rng.Uniform();
            b0 = 0.99765f * b0 + w * 0.0990460f;
            b1 = 0.96300f * b1 + w * 0.2965164f;
            b2 = 0.57000f * b2 + w * 1.0526913f;
            v += static_cast<float>((b0 + b1 + b2 + w * 0.1848f) * 0.25 * gain);
        }
    }
}

void Tone(Stereo& s, double freq, double gain, double pan, double tremHz = 0,
          double tremDepth = 0) {
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double env = 1 - tremDepth * 0.5 * (1 - std::cos(2 * kPi * tremHz * t));
        const double v = gain * env * std::sin(2 * kPi * freq * t);
        s.l[i] += static_cast<float>(v * (1 - pan));
        s.r[i] += static_cast<float>(v * pan);
    }
}

void Click(Stereo& s, size_t at, double gain, Rng& rng) {
    // A 1.5 ms broadband click, decaying.
    for (size_t i = 0; i < 66 && at + i < s.size(); ++i) {
        const float e = static_cast<float>(gain * std::exp(-double(i) / 12.0));
        s.l[at + i] += e * rng.Uniform();
        s.r[at + i] += e * rng.Uniform();
    }
}

void Castanet(Stereo& s, size_t at, double freq, double gain) {
    // A hard wooden click: a resonance at a few kHz dying within about 3 ms.
    for (size_t i = 0; i < 200 && at + i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double v = gain * std::exp(-t / 0.0008) * std::sin(2 * kPi * freq * t) +
                         0.5 * gain * std::exp(-t / 0.0005) * std::sin(2 * kPi * freq * 1.73 * t);
        s.l[at + i] += static_cast<float>(v);
        s.r[at + i] += static_cast<float>(v * 0.8);
    }
}

void Hit(Stereo& s, size_t at, double gain, Rng& rng) {
    // Drum-like attack: a noise burst and a falling body tone.
    for (size_t i = 0; i < static_cast<size_t>(kRate * 0.25) && at + i < s.size(); ++i) {
        const double t = double(i) / kRate;
        const double noise = std::exp(-t / 0.02) * rng.Uniform();
        const double body = std::exp(-t / 0.08) * std::sin(2 * kPi * (180 - 200 * t) * t);
        s.l[at + i] += static_cast<float>(gain * (0.6 * noise + body));
        s.r[at + i] += static_cast<float>(gain * (0.5 * noise + body));
    }
}

Stereo StringsAndPink(size_t n) {
    Stereo s(n);
    Rng rng(1);
    const double notes[] = {196.0, 246.9, 293.7, 392.0, 329.6, 261.6, 220.0, 174.6};
    for (size_t k = 0, at = 0; at < n; ++k, at += kRate / 5)
        Pluck(s, at, notes[k % 8], 0.35, 0.2 + 0.6 * ((k * 3) % 5) / 4.0, rng);
    PinkNoise(s, 0.03, rng);
    return s;
}

Stereo TremoloTones(size_t n) {
    Stereo s(n);
    Tone(s, 440.0, 0.3, 0.35, 5.0, 0.6);
    Tone(s, 659.3, 0.25, 0.65, 3.0, 0.5);
    return s;
}

Stereo ClicksOverTones(size_t n) {
    Stereo s(n);
    Rng rng(2);
    Tone(s, 330.0, 0.2, 0.5);
    Tone(s, 550.0, 0.15, 0.4);
    for (size_t at = kRate / 10; at < n; at += kRate / 4) Click(s, at, 0.7, rng);
    return s;
}

Stereo AttacksAfterSilence(size_t n) {
    Stereo s(n);
    Rng rng(3);
    for (size_t at = kRate / 3; at < n; at += kRate * 6 / 10) Hit(s, at, 0.7, rng);
    return s;
}

Stereo Castanets(size_t n) {
    Stereo s(n);
    // Rolls of four or five clicks, then a pause, as castanets are played.
    const double pattern[] = {0, 0.06, 0.11, 0.16, 0.2, 0.45, 0.5, 0.62, 0.7, 0.78};
    for (size_t bar = 0; bar * kRate < n; ++bar)
        for (size_t k = 0; k < 10; ++k) {
            const size_t at = bar * kRate + static_cast<size_t>(pattern[k] * kRate);
            if (at < n) Castanet(s, at, 2300.0 + 400.0 * double(k % 3), 0.6);
        }
    return s;
}

Stereo Sweep(size_t n) {
    Stereo s(n);
    // The usual full-range measuring sweep, 20 Hz to 20 kHz, logarithmic.
    const double f0 = 20.0, f1 = 20000.0, len = double(n) / kRate;
    const double k = std::log(f1 / f0);
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        const double phase = 2 * kPi * f0 * len / k * (std::exp(t / len * k) - 1);
        s.l[i] = s.r[i] = static_cast<float>(0.4 * std::sin(phase));
    }
    return s;
}

Stereo BandMix(size_t n) {
    // Chords of harmonic-rich voices, a bass line, kick and hi-hat: a dense music-like mix.
    Stereo s(n);
    Rng rng(4);
    const double chords[4][3] = {
        {261.6, 329.6, 392.0}, {220.0, 261.6, 329.6}, {174.6, 220.0, 261.6}, {196.0, 246.9, 293.7}};
    const size_t beat = kRate / 2;
    for (size_t i = 0; i < n; ++i) {
        const size_t bar = (i / (4 * beat)) % 4;
        const double t = double(i) / kRate;
        double v = 0;
        for (int c = 0; c < 3; ++c)
            for (int h = 1; h <= 8; ++h)
                v += 0.05 / h * std::sin(2 * kPi * chords[bar][c] * h * t + c);
        const double bass = 0.25 * std::sin(2 * kPi * chords[bar][0] / 4 * t) *
                            std::exp(-double(i % beat) / kRate / 0.3);
        s.l[i] += static_cast<float>(0.8 * v + bass);
        s.r[i] += static_cast<float>(0.6 * v + bass);
    }
    for (size_t at = 0; at < n; at += beat) Hit(s, at, 0.5, rng);
    for (size_t at = beat / 2; at < n; at += beat / 2)
        for (size_t i = 0; i < 2000 && at + i < n; ++i) {
            const float e = static_cast<float>(0.08 * std::exp(-double(i) / 400.0));
            s.l[at + i] += e * rng.Uniform();
            s.r[at + i] += e * rng.Uniform() * 0.7f;
        }
    return s;
}

Stereo ChannelsApart(size_t n) {
    // Plucked strings on the left only, steady pink noise at about -27 dBFS on the right.
    Stereo s(n), noise(n);
    Rng rng(5);
    const double notes[] = {196.0, 246.9, 293.7, 392.0};
    for (size_t k = 0, at = 0; at < n; ++k, at += kRate / 4)
        Pluck(s, at, notes[k % 4], 0.4, 0.0, rng);
    PinkNoise(noise, 0.12, rng);
    s.r = noise.r;
    return s;
}

Stereo OnsetFromSilence(size_t n) {
    // Digital silence, then a different steady tone in each channel at once.
    Stereo s(n), t(n);
    Tone(t, 440.0, 0.6, 0.0, 4.0, 0.3);
    Tone(t, 587.3, 0.6, 1.0, 6.0, 0.3);
    for (size_t i = n / 3; i < n; ++i) s.l[i] = t.l[i], s.r[i] = t.r[i];
    return s;
}

Stereo SlowFade(size_t n) {
    // The same tones faded in over 0.3 s (a quarter sine) after silence, and out at the end.
    Stereo s = OnsetFromSilence(n);
    const size_t at = n / 3, len = static_cast<size_t>(0.3 * kRate);
    for (size_t i = at; i < n; ++i) {
        const double in = std::min(1.0, double(i - at) / double(len));
        const double out = std::min(1.0, double(n - i) / double(2 * len));
        const float g = static_cast<float>(std::sin(kPi / 2 * in) * std::min(1.0, out));
        s.l[i] *= g, s.r[i] *= g;
    }
    return s;
}

Stereo PianoDecays(size_t n) {
    // Struck notes with inharmonic partials dying away, one every 0.7 s.
    Stereo s(n);
    const double notes[] = {261.6, 392.0, 329.6, 523.3, 220.0, 349.2, 293.7};
    for (size_t k = 0, at = kRate / 10; at < n; ++k, at += kRate * 7 / 10) {
        const double f = notes[k % 7];
        for (size_t i = 0; at + i < n; ++i) {
            const double t = double(i) / kRate;
            double v = 0;
            for (int h = 1; h <= 10; ++h)
                v += std::exp(-t * (1.5 + 0.8 * h)) / h *
                     std::sin(2 * kPi * f * h * std::sqrt(1 + 0.0004 * h * h) * t);
            s.l[at + i] += static_cast<float>(0.35 * v);
            s.r[at + i] += static_cast<float>(0.3 * v);
        }
    }
    return s;
}

Stereo Applause(size_t n) {
    // Dense claps: short noise bursts at random times and places, some 300 a second.
    Stereo s(n);
    Rng rng(6);
    for (size_t at = 0; at < n;) {
        const double pan = 0.5 + 0.5 * rng.Uniform();
        const double gain = 0.15 + 0.1 * rng.Uniform();
        float lp = 0;
        for (size_t i = 0; i < 600 && at + i < n; ++i) {
            lp = 0.6f * lp + 0.4f * rng.Uniform();  // a little darker than white
            const float e = static_cast<float>(gain * std::exp(-double(i) / 120.0)) * lp;
            s.l[at + i] += e * static_cast<float>(1 - pan);
            s.r[at + i] += e * static_cast<float>(pan);
        }
        at += static_cast<size_t>(kRate / 300.0 * (1.0 + rng.Uniform()));
    }
    return s;
}

Stereo LowLevelMix(size_t n) {
    // The band mix 40 dB down.
    Stereo s = BandMix(n);
    for (size_t i = 0; i < n; ++i) s.l[i] *= 0.01f, s.r[i] *= 0.01f;
    return s;
}

// Speech from espeak-ng, resampled to 44100 Hz and spread on both channels.
bool Speech(const std::string& dir, std::vector<int16_t>& pcm) {
    const std::string raw = dir + "/speech_raw.wav", wav = dir + "/speech_44.wav";
    if (Sh("espeak-ng -s 150 -w '" + raw +
           "' 'The quick brown fox jumps over the lazy dog. She sells sea shells by the sea shore; "
           "six thick thistle sticks.' 2>/dev/null") != 0)
        return false;
    if (Sh("sox '" + raw + "' -r 44100 -c 2 -b 16 '" + wav + "' norm -3 2>/dev/null") != 0)
        return false;
    pcm = ReadWavData(wav);
    return !pcm.empty();
}

// ---------------------------------------------------------------------------------------------
// Encoding

double ChildCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// kbps < 0: variable bit rate at level -kbps - 1 (0 best .. 9).
bool gIntensity = true;

bool EncodeOurs(const std::vector<int16_t>& pcm, int kbps, const std::string& path, double& cpu) {
    const std::clock_t t0 = std::clock();
    mp3enc::Mp3Encoder* e = mp3enc::Mp3EncoderCreate(static_cast<float>(kRate), 2, 0);
    mp3enc::Mp3Configuration c{kRate, 2, kbps * 1000};
    bool ok = e != nullptr;
    if (ok && !gIntensity) {
        mp3enc::Mp3EncoderSettings s = *mp3enc::Mp3EncoderGetSettings(e);
        s.intensityAllowed = 0;
        ok = mp3enc::Mp3EncoderSetSettings(e, &s) != 0;
    }
    if (ok && kbps < 0) {
        mp3enc::Mp3EncoderSettings s = *mp3enc::Mp3EncoderGetSettings(e);
        s.vbrQuality = 100 - 10 * (-kbps - 1);
        ok = mp3enc::Mp3EncoderSetSettings(e, &s) != 0;
    } else if (ok) {
        ok = mp3enc::Mp3EncoderSelectConfiguration(e, &c) != 0;
    }
    if (!ok) {
        mp3enc::Mp3EncoderDelete(e);
        return false;
    }
    std::vector<uint8_t> out, buf(16384);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
    int left = static_cast<int>(pcm.size() * 2);
    while (left > 0) {
        int used = 0;
        const int w = mp3enc::Mp3EncoderEncode(e, p, std::min(left, 4608 * 2), &used, buf.data(),
                                               int(buf.size()));
        if (w < 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + w);
        p += used;
        left -= used;
    }
    for (int used = 0;;) {
        const int w = mp3enc::Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), int(buf.size()));
        if (w <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + w);
    }
    mp3enc::Mp3EncoderDelete(e);
    cpu += double(std::clock() - t0) / CLOCKS_PER_SEC;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
    return !out.empty();
}

bool EncodeLame(const std::string& wav, int kbps, const std::string& path, double& cpu) {
    const double t0 = ChildCpuSeconds();
    const std::string mode =
        kbps < 0 ? "-V " + std::to_string(-kbps - 1) : "-b " + std::to_string(kbps);
    const int rc = Sh("lame --silent " + mode + " '" + wav + "' '" + path + "'");
    cpu += ChildCpuSeconds() - t0;
    return rc == 0;
}

// The decoded stream's level against the reference: the median of the least-squares gains of
// 100 ms blocks that carry signal below 2 kHz, after aligning with the PEAQ script's own
// aligner. The median is robust to blocks a low-pass empties (the end of a sweep).
double LevelOf(const std::string& peaqDir, const std::string& ref, const std::string& mp3,
               const std::string& aligned) {
    const std::string dec = aligned + ".dec.wav";
    if (Sh("ffmpeg -v error -y -i '" + mp3 + "' -c:a pcm_s16le '" + dec + "'") != 0 ||
        Sh("/usr/bin/python3 '" + peaqDir + "/align.py' '" + ref + "' '" + dec + "' '" + aligned +
           "' >/dev/null") != 0)
        return NAN;
    // Below about 2 kHz, where both encoders code finely: the coding loss of the top bands
    // (low-pass, lines quantized to zero) is no level change.
    auto lowpass = [](const std::vector<int16_t>& x) {
        std::vector<double> y(x.size());
        double s[2][4] = {};
        const double a = 1 - std::exp(-2 * kPi * 2000.0 / kRate);
        for (size_t i = 0; i < x.size(); ++i) {
            double v = x[i];
            for (double& st : s[i & 1]) v = st += a * (v - st);
            y[i] = v;
        }
        return y;
    };
    const std::vector<double> r = lowpass(ReadWavData(ref)), t = lowpass(ReadWavData(aligned));
    const size_t block = 2 * kRate / 10;
    std::vector<double> gains;
    for (size_t at = 0; at + block <= std::min(r.size(), t.size()); at += block) {
        double rt = 0, rr = 0;
        for (size_t i = at; i < at + block; ++i) rt += r[i] * t[i], rr += r[i] * r[i];
        if (rr > block * 100.0) gains.push_back(rt / rr);  // above -50 dBFS or so
    }
    if (gains.empty()) return 1.0;
    std::nth_element(gains.begin(), gains.begin() + long(gains.size() / 2), gains.end());
    return gains[gains.size() / 2];
}

double Odg(const std::string& script, const std::string& ref, const std::string& test) {
    const std::string out = Output("'" + script + "' '" + ref + "' '" + test + "' 2>/dev/null");
    const size_t at = out.find("odg=");
    return at == std::string::npos ? NAN : std::atof(out.c_str() + at + 4);
}

// ODG of the stream brought back to the reference's level first: a plain level change is no
// coding loss, and PEAQ grades one up or down by as much as 0.6 depending on the signal.
double MatchedOdg(const std::string& script, const std::string& ref, const std::string& mp3,
                  double unmatched, double& level) {
    const std::string dir = script.substr(0, script.find_last_of('/'));
    const std::string aligned = mp3 + ".aligned.wav";
    level = LevelOf(dir, ref, mp3, aligned);
    if (!(level > 0.1)) return NAN;
    // Within 0.03 dB is the same level: rescaling would only add a rounding.
    if (std::fabs(level - 1) < 0.003) {
        level = 1;
        return unmatched;
    }
    std::vector<int16_t> t = ReadWavData(aligned);
    for (int16_t& v : t)
        v = static_cast<int16_t>(std::lrint(std::clamp(v / level, -32768.0, 32767.0)));
    WriteWav(aligned, t);
    return Odg(script, ref, aligned);
}

std::vector<std::string> Split(const std::string& s) {
    std::vector<std::string> v;
    std::stringstream in(s);
    for (std::string item; std::getline(in, item, ',');)
        if (!item.empty()) v.push_back(item);
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    std::string dir = "/tmp/tralux_quality_" + std::to_string(getpid());
    std::vector<int> rates = {96, 128, 192};
    std::vector<int> levels;  // variable-bit-rate levels beside lame -V
    std::vector<std::string> only, files;
    double seconds = 5.0;
    bool matched = false;  // -m 1: also grade both streams level-matched to the reference
    const char* env = std::getenv("TRALUX_PEAQ");
    std::string peaq = env ? env : std::string(TRALUX_SOURCE_DIR) + "/../shared/tools/peaq/peaq.sh";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "-w")
            dir = v;
        else if (a == "-r") {
            rates.clear();
            for (const auto& r : Split(v))
                if (std::atoi(r.c_str()) > 0) rates.push_back(std::atoi(r.c_str()));
        } else if (a == "-v") {
            for (const auto& l : Split(v)) levels.push_back(std::atoi(l.c_str()));
        } else if (a == "-s")
            only = Split(v);
        else if (a == "-d")
            seconds = std::atof(v.c_str());
        else if (a == "-p")
            peaq = v;
        else if (a == "-m")
            matched = v == "1";
        else if (a == "-i")
            gIntensity = v != "0";
        else if (a == "-f")
            files = Split(v);
    }
    if (Sh("command -v lame >/dev/null && command -v sox >/dev/null && command -v ffmpeg "
           ">/dev/null") != 0 ||
        access(peaq.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "needs lame, sox, ffmpeg and the PEAQ script (%s)\n", peaq.c_str());
        return 1;
    }
    Sh("mkdir -p '" + dir + "'");
    const size_t n = static_cast<size_t>(seconds * kRate);
    const std::vector<std::pair<std::string, std::function<Stereo(size_t)>>> makers = {
        {"strings+pink", StringsAndPink},
        {"tremolo tones", TremoloTones},
        {"clicks/tones", ClicksOverTones},
        {"hits after silence", AttacksAfterSilence},
        {"castanets", Castanets},
        {"sweep", Sweep},
        {"band mix", BandMix},
        {"channels apart", ChannelsApart},
        {"onset from silence", OnsetFromSilence},
        {"slow fade", SlowFade},
        {"piano decays", PianoDecays},
        {"applause", Applause},
        {"band mix -40 dB", LowLevelMix}};

    std::vector<std::pair<std::string, std::vector<int16_t>>> signals;
    for (const std::string& path : files) {
        std::string name = path.substr(path.find_last_of('/') + 1);
        if (name.size() > 4 && name.ends_with(".wav")) name.resize(name.size() - 4);
        std::vector<int16_t> pcm = ReadStereoWav(path);
        if (pcm.empty()) {
            std::fprintf(stderr, "%s: not a 44100 Hz stereo 16-bit WAV file\n", path.c_str());
            return 1;
        }
        signals.emplace_back(name, std::move(pcm));
    }
    if (files.empty()) {
        for (const auto& [name, make] : makers) signals.emplace_back(name, ToPcm(make(n)));
        std::vector<int16_t> speech;
        if (Speech(dir, speech))
            signals.emplace_back("speech", speech);
        else
            std::fprintf(stderr, "espeak-ng missing: no speech signal\n");
    }

    double oursCpu = 0, lameCpu = 0, audioSeconds = 0;
    // Per rate (VBR level -N - 1): both grades summed, and the worst ours - lame.
    struct Tally {
        double ours = 0, lame = 0, worst = INFINITY;
        int n = 0;
        void Add(double o, double l) {
            if (std::isnan(o) || std::isnan(l)) return;  // no grade or no level found
            ours += o, lame += l, ++n;
            worst = std::min(worst, o - l);
        }
    };
    std::map<int, Tally> sums, matchedSums;
    if (matched)
        std::printf(
            "| signal | kbit/s | ours ODG | lame ODG | ours - lame | ours level | lame level | "
            "ours matched | lame matched | - lame |\n|---|---|---|---|---|---|---|---|---|---|\n");
    else
        std::printf(
            "| signal | kbit/s | ours ODG | lame ODG | ours - lame |\n|---|---|---|---|---|\n");
    for (size_t si = 0; si < signals.size(); ++si) {
        const auto& [name, pcm] = signals[si];
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end()) continue;
        const std::string base = dir + "/s" + std::to_string(si);
        WriteWav(base + ".wav", pcm);
        for (int kbps : rates) {
            const std::string ours = base + "_ours" + std::to_string(kbps) + ".mp3";
            const std::string lame = base + "_lame" + std::to_string(kbps) + ".mp3";
            if (!EncodeOurs(pcm, kbps, ours, oursCpu) ||
                !EncodeLame(base + ".wav", kbps, lame, lameCpu)) {
                std::fprintf(stderr, "%s at %d kbit/s: encoding failed\n", name.c_str(), kbps);
                continue;
            }
            audioSeconds += double(pcm.size()) / 2 / kRate;
            const double o = Odg(peaq, base + ".wav", ours), l = Odg(peaq, base + ".wav", lame);
            std::printf("| %s | %d | %.2f | %.2f | %+.2f |", name.c_str(), kbps, o, l, o - l);
            if (matched) {
                double ol = 0, ll = 0;
                const double om = MatchedOdg(peaq, base + ".wav", ours, o, ol);
                const double lm = MatchedOdg(peaq, base + ".wav", lame, l, ll);
                std::printf(" %.3f | %.3f | %.2f | %.2f | %+.2f |", ol, ll, om, lm, om - lm);
                matchedSums[kbps].Add(om, lm);
            }
            std::printf("\n");
            std::fflush(stdout);
            sums[kbps].Add(o, l);
        }
    }
    if (!levels.empty())
        std::printf(
            "\n| signal | VBR level | ours kbit/s | ours ODG | lame -V kbit/s | lame ODG |%s\n"
            "|---|---|---|---|---|---|%s\n",
            matched ? " ours matched | lame matched | - lame |" : "",
            matched ? "---|---|---|" : "");
    for (size_t si = 0; si < signals.size() && !levels.empty(); ++si) {
        const auto& [name, pcm] = signals[si];
        if (!only.empty() && std::find(only.begin(), only.end(), name) == only.end()) continue;
        const std::string base = dir + "/s" + std::to_string(si);
        WriteWav(base + ".wav", pcm);
        const double seconds = double(pcm.size()) / 2 / kRate;
        auto kbpsOf = [&](const std::string& f) {
            std::ifstream in(f, std::ios::binary | std::ios::ate);
            return double(in.tellg()) * 8 / seconds / 1000;
        };
        for (int level : levels) {
            const std::string ours = base + "_oursV" + std::to_string(level) + ".mp3";
            const std::string lame = base + "_lameV" + std::to_string(level) + ".mp3";
            double unused = 0;
            if (!EncodeOurs(pcm, -level - 1, ours, unused) ||
                !EncodeLame(base + ".wav", -level - 1, lame, unused))
                continue;
            const double o = Odg(peaq, base + ".wav", ours), l = Odg(peaq, base + ".wav", lame);
            std::printf("| %s | %d | %.0f | %.2f | %.0f | %.2f |", name.c_str(), level,
                        kbpsOf(ours), o, kbpsOf(lame), l);
            sums[-level - 1].Add(o, l);
            if (matched) {
                double ol = 0, ll = 0;
                const double om = MatchedOdg(peaq, base + ".wav", ours, o, ol);
                const double lm = MatchedOdg(peaq, base + ".wav", lame, l, ll);
                std::printf(" %.2f | %.2f | %+.2f |", om, lm, om - lm);
                matchedSums[-level - 1].Add(om, lm);
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    auto summary = [](const std::map<int, Tally>& tallies, const char* how) {
        for (const auto& [kbps, t] : tallies) {
            if (t.n == 0) continue;
            const std::string mode = kbps < 0 ? "VBR " + std::to_string(-kbps - 1) + " / lame -V"
                                              : std::to_string(kbps) + " kbit/s";
            std::printf(
                "%s%s: mean ours %.2f, lame %.2f, ours - lame %+.2f (sum %+.2f), worst "
                "ours - lame %+.2f\n",
                mode.c_str(), how, t.ours / t.n, t.lame / t.n, (t.ours - t.lame) / t.n,
                t.ours - t.lame, t.worst);
        }
    };
    summary(sums, "");
    summary(matchedSums, " level-matched");
    std::printf(
        "encode CPU time for %.0f s of audio: ours %.2f s, lame %.2f s, speed ratio %.2f x lame\n",
        audioSeconds, oursCpu, lameCpu, oursCpu > 0 ? lameCpu / oursCpu : 0.0);
    return 0;
}
