#pragma once
// Runs tralux-cli in a fresh folder and reads back what it wrote.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/wav_builder.h"
#include "support/require.h"

namespace tralux::test {

// TRALUX_REQUIRE_TOOL (support/require.h): a reference peer, skipped without it, a failure in CI.

struct Pcm {
    int channels = 0;
    std::uint32_t rate = 0;
    std::vector<std::int16_t> samples;  // interleaved
    std::size_t Frames() const {
        return channels ? samples.size() / static_cast<std::size_t>(channels) : 0;
    }
    std::vector<double> Channel(int c) const {
        std::vector<double> v;
        for (std::size_t i = static_cast<std::size_t>(c); i < samples.size();
             i += static_cast<std::size_t>(channels))
            v.push_back(samples[i]);
        return v;
    }
};

// 16-bit PCM WAV: walks the chunks to "fmt " and "data".
inline Pcm ReadWavPcm(const std::string& path) {
    const Bytes b = ReadFile(path);
    Pcm p;
    for (std::size_t at = 12; at + 8 <= b.size();) {
        const std::uint32_t size = Get32(b, at + 4);
        const std::string id(b.begin() + static_cast<std::ptrdiff_t>(at),
                             b.begin() + static_cast<std::ptrdiff_t>(at + 4));
        if (id == "fmt ") {
            p.channels = b[at + 10];
            p.rate = Get32(b, at + 12);
        } else if (id == "data") {
            const std::size_t n = std::min<std::size_t>(size, b.size() - at - 8) / 2;
            for (std::size_t i = 0; i < n; ++i)
                p.samples.push_back(
                    static_cast<std::int16_t>(b[at + 8 + 2 * i] | b[at + 9 + 2 * i] << 8));
            break;
        }
        at += 8 + size + (size & 1);
    }
    return p;
}

// A tone that starts after `silence` frames (an onset to align on), `frames` long in all.
inline std::vector<std::int16_t> Tone(std::uint32_t rate, int channels, std::size_t frames,
                                      std::size_t silence = 0, double freq = 440.0,
                                      double amplitude = 8000.0) {
    std::vector<std::int16_t> s;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        // A sweep as well, so no lag but the true one correlates.
        const double v = i < silence ? 0.0
                                     : amplitude * std::sin(2 * M_PI * (freq + 300.0 * t) * t) *
                                           (0.6 + 0.4 * std::sin(2 * M_PI * 3.0 * t));
        for (int c = 0; c < channels; ++c) s.push_back(static_cast<std::int16_t>(std::lround(v)));
    }
    return s;
}

// The shift of b against a (b[i + lag] ~ a[i]) with the best normalised correlation.
inline int BestLag(const std::vector<double>& a, const std::vector<double>& b, int maxLag,
                   double* corr = nullptr) {
    double best = -2;
    int bestLag = 0;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        const std::size_t s0 = lag < 0 ? static_cast<std::size_t>(-lag) : 0,
                          s1 = lag > 0 ? static_cast<std::size_t>(lag) : 0;
        if (s0 >= a.size() || s1 >= b.size()) continue;
        const std::size_t n = std::min(a.size() - s0, b.size() - s1);
        double x = 0, y = 0, z = 0;
        for (std::size_t k = 0; k < n; ++k) {
            x += a[s0 + k] * b[s1 + k];
            y += a[s0 + k] * a[s0 + k];
            z += b[s1 + k] * b[s1 + k];
        }
        const double r = x / std::sqrt(y * z + 1e-9);
        if (r > best) {
            best = r;
            bestLag = lag;
        }
    }
    if (corr) *corr = best;
    return bestLag;
}

inline std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

class CliFixture : public ::testing::Test {
public:
    // TRALUX_CLI_UNDER_TEST runs the same checks against another build (an older one, say).
    static std::string Binary() {
        const char* other = std::getenv("TRALUX_CLI_UNDER_TEST");
        return other && *other ? other : TRALUX_CLI_PATH;
    }

protected:
    int RunCli(const std::string& args) {
        const std::string cmd = Binary() + " --config " + (dir_ / "cfg") + " " + args + " >" +
                                (dir_ / "stdout.txt") + " 2>" + (dir_ / "stderr.txt");
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Text(const std::string& name) {
        const Bytes b = ReadFile(dir_ / name);
        return std::string(b.begin(), b.end());
    }
    std::string Out() { return Text("stdout.txt"); }
    std::string Err() { return Text("stderr.txt"); }
    std::string P(const std::string& name) { return dir_ / name; }
    bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }
    TempDir dir_;
};

}  // namespace tralux::test
