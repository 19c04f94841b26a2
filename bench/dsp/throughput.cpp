// Speed of the signal stage, in multiples of real time on one core: stereo 16-bit input in
// one-second blocks (as the WAV loop reads it), for each kind of conversion path, with the
// equalizer off and on; then the same through the 24-bit stage of deep sources (full-range
// 32-bit samples in and out). Measured in the thread's CPU time, so a busy machine does not skew
// it. Usage: bench_dsp_throughput [seconds of audio, default 120] [input rate [output rate]]
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

#include "engine/dsp/dsp_state.h"

namespace {

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::int16_t> Music(std::uint32_t rate, std::size_t seconds) {
    // A few tones and some noise, so no path sees an all-zero or trivial signal.
    std::vector<std::int16_t> s(2 * rate * seconds);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < s.size() / 2; ++i) {
        const double t = static_cast<double>(i) / rate;
        x = x * 1664525u + 1013904223u;
        const double n = static_cast<double>(static_cast<int>(x >> 20) - 2048);
        const double v = 6000 * std::sin(2 * std::numbers::pi * 220 * t) +
                         3000 * std::sin(2 * std::numbers::pi * 3100 * t) + n;
        s[2 * i] = static_cast<std::int16_t>(v);
        s[2 * i + 1] = static_cast<std::int16_t>(-v * 0.7);
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t seconds = argc > 1 ? static_cast<std::size_t>(std::atoi(argv[1])) : 120;
    // Only the paths from (and to) the given rates, e.g. for a profiler.
    const auto onlyFrom = static_cast<std::uint32_t>(argc > 2 ? std::atoi(argv[2]) : 0);
    const auto onlyTo = static_cast<std::uint32_t>(argc > 3 ? std::atoi(argv[3]) : 0);
    struct Path {
        std::uint32_t from, to;
    };
    const Path paths[] = {{44100, 22050}, {22050, 44100},  {44100, 32000}, {32000, 44100},
                          {44100, 8000},  {44100, 44100},  {48000, 44100}, {96000, 48000},
                          {96000, 44100}, {192000, 48000}, {192000, 8000}, {8000, 48000}};
    std::printf("%-16s %12s %12s %12s %12s\n", "path (stereo)", "eq off", "eq on", "24-bit off",
                "24-bit on");
    double worst = 1e30, worstWide = 1e30;
    for (const auto& p : paths) {
        if ((onlyFrom && p.from != onlyFrom) || (onlyTo && p.to != onlyTo)) continue;
        const auto input = Music(p.from, seconds);
        std::vector<std::int32_t> deep(input.size());
        for (std::size_t i = 0; i < input.size(); ++i)
            deep[i] =
                static_cast<std::int32_t>(input[i]) * 65536 + (static_cast<int>(i % 255) << 8);
        std::printf("%6u -> %-6u", p.from, p.to);
        for (int run = 0; run < 4; ++run) {
            const bool eq = run % 2 == 1, wide = run >= 2;
            tralux::dsp::DspState dsp;
            dsp.EqualizerOn = eq;
            if (eq) {
                dsp.EqualizerLevels[0] = 20;
                dsp.EqualizerLevels[6] = 70;
                dsp.EqualizerLevels[10] = 45;
            }
            dsp.ResamplerStart({p.from, 2, 16, p.to, 2, false, true, wide});
            std::size_t outSamples = 0;
            const double t0 = CpuSeconds();
            const std::size_t block = 2 * p.from;
            for (std::size_t at = 0; at < input.size(); at += block)
                outSamples +=
                    wide ? dsp.ProcessWide(deep.data() + at, p.from).size()
                         : dsp.Process(reinterpret_cast<const std::uint8_t*>(input.data() + at),
                                       block * 2)
                               .size();
            outSamples += wide ? dsp.FlushWide().size() : dsp.Flush().size();
            const double secs = CpuSeconds() - t0;
            const double speed = static_cast<double>(seconds) / secs;
            if (!(p.from == p.to && !eq))
                (wide ? worstWide : worst) = std::min(wide ? worstWide : worst, speed);
            std::printf(" %11.0fx", speed);
            if (outSamples != 2 * static_cast<std::size_t>(p.to) * seconds)
                std::printf("(len %zu!)", outSamples);
        }
        std::printf("\n");
    }
    std::printf("slowest converting path: %.0fx real time (24-bit: %.0fx)\n", worst, worstWide);
    return 0;
}
