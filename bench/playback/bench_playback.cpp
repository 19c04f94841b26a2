// CPU use of a preview with the equalizer on, as a share of one core over the wall time.
// Target: below 5 %. The device is TRALUX_AUDIO_DEVICE; it must play in real time (a sound
// card, or "pulse" on a PulseAudio null sink). Usage: bench_playback [seconds=20]
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/wav_file.h"
#include "engine/job/job.h"
#include "engine/playback/playback.h"

namespace {

void WriteWav(const std::string& path, std::uint32_t frames) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    tralux::bench::WritePcmWavHeader(f, 44100, 2, frames);
    std::vector<std::int16_t> s(frames * 2);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100;
        s[2 * i] = s[2 * i + 1] = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
    }
    f.write(reinterpret_cast<const char*>(s.data()), static_cast<std::streamsize>(s.size() * 2));
}

double CpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20.0;
    const std::string in = "/tmp/tralux-bench-play-" + std::to_string(getpid()) + ".wav";
    WriteWav(in, static_cast<std::uint32_t>(seconds * 44100));
    tralux::EngineState& e = tralux::Engine();
    e.OutputRate.store(44100);
    e.OutputChannels.store(2);
    e.EqualizerOn.store(true);
    const int levels[11] = {70, 65, 60, 50, 40, 45, 55, 60, 65, 70, 50};
    for (int i = 0; i < 11; ++i) e.EqualizerLevels[static_cast<std::size_t>(i)].store(levels[i]);
    e.EqualizerChanged.store(true);

    const double cpu0 = CpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    if (!tralux::StartConversion(in, "", 0, tralux::kModePreview)) {
        std::fprintf(stderr, "cannot start the preview\n");
        return 1;
    }
    tralux::WaitForJob();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = CpuSeconds() - cpu0;
    std::remove(in.c_str());
    if (e.LastError.load() != 0) {
        std::fprintf(stderr, "preview failed: %s\n", tralux::GetLastErrorText().c_str());
        return 1;
    }
    std::printf(
        "preview of %.0f s with the equalizer: wall %.2f s, cpu %.3f s, %.2f %% of one core "
        "(target < 5 %%)\n",
        seconds, wall, cpu, 100.0 * cpu / wall);
    if (wall < seconds * 0.9) std::printf("note: the device did not play in real time\n");
    return 0;
}
