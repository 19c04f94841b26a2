// Measures the encoder front end alone: time per second of audio on one core.
// Usage: bench_mp3enc_front [seconds]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "mp3enc/psycho/model.h"

namespace {

// Tones, noise and a click train, planar granules.
std::vector<float> MakeSignal(int rate, int channels, int granules) {
    std::vector<float> s(static_cast<size_t>(granules) * 576 * channels);
    std::mt19937 rng(7);
    std::normal_distribution<float> nd(0, 1500);
    for (int g = 0; g < granules; ++g)
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < 576; ++i) {
                const double t = (576.0 * g + i) / rate;
                double v = 6000 * std::sin(2 * M_PI * 440 * t) +
                           3000 * std::sin(2 * M_PI * (1200 + 300 * c) * t) + nd(rng);
                if ((g % 40) == 20 && i < 64) v += 20000.0 * (((i * 7919) % 13) - 6) / 6.0;
                s[(static_cast<size_t>(g) * channels + c) * 576 + i] = static_cast<float>(v);
            }
    return s;
}

double Run(int rate, int channels, int bitRate, double seconds) {
    mp3enc::PsyModelConfig cfg;
    cfg.channels = channels;
    cfg.sampleRate = rate;
    cfg.bitRate = bitRate;
    cfg.granulesPerFrame = rate >= 32000 ? 2 : 1;
    cfg.intensity = channels == 2 && bitRate / channels <= 56000;
    mp3enc::ErrorChain err;
    auto model = mp3enc::PsychoacousticModel::Create(cfg, nullptr, &err);
    if (!model) {
        std::fprintf(stderr, "create failed: %s\n", err.empty() ? "?" : err[0].message.c_str());
        std::exit(1);
    }
    const int granules = static_cast<int>(seconds * rate / 576);
    const auto signal = MakeSignal(rate, channels, granules);
    double pe = 0;
    const auto t0 = std::chrono::steady_clock::now();
    for (int g = 0; g < granules; ++g) {
        model->Advance(signal.data() + static_cast<size_t>(g) * 576 * channels);
        pe += model->Output().ch[0].pe;
    }
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double audio = granules * 576.0 / rate;
    std::printf(
        "%6d Hz %d ch %6d bit/s: %.1f s audio in %.3f s = %.1fx real time (%.2f ms per second; "
        "mean PE %.0f)\n",
        rate, channels, bitRate, audio, elapsed, audio / elapsed, 1000 * elapsed / audio,
        pe / granules);
    return audio / elapsed;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
    const double main = Run(44100, 2, 128000, seconds);
    Run(44100, 2, 256000, seconds);
    Run(22050, 1, 32000, seconds);
    Run(8000, 1, 8000, seconds);
    std::printf("front end, 44100 Hz stereo: %.1fx real time (target 80x)\n", main);
    return main >= 80 ? 0 : 2;
}
