// WAV to WAV pass-through of a long 44100 Hz stereo file: speed as x real time and peak
// memory. Usage: bench_passthrough [minutes=60] [folder=/tmp]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/wav_file.h"
#include "engine/job/job.h"

namespace {

void WriteLongWav(const std::string& path, std::uint64_t frames) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    tralux::bench::WritePcmWavHeader(f, 44100, 2, frames);
    std::vector<std::int16_t> block(2 * 44100);
    std::uint32_t seed = 1;
    for (auto& s : block) {
        seed = seed * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(seed >> 16);
    }
    for (std::uint64_t done = 0; done < frames; done += 44100) {
        const std::uint64_t n = std::min<std::uint64_t>(44100, frames - done);
        f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n * 4));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 60.0;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const std::string in = folder + "/tralux-bench-in.wav", out = folder + "/tralux-bench-out.wav";
    const auto frames = static_cast<std::uint64_t>(minutes * 60 * 44100);
    WriteLongWav(in, frames);

    tralux::EngineState& e = tralux::Engine();
    e.OutputFormat.store(tralux::kFormatWav);
    e.OutputRate.store(44100);
    e.OutputChannels.store(2);
    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    const auto t0 = std::chrono::steady_clock::now();
    tralux::Engine().ReplaceOutput.store(true);  // its own scratch output, rewritten per run
    if (!tralux::StartConversion(in, out, 0, tralux::kModeConvert)) {
        std::fprintf(stderr, "start failed: %s\n", tralux::GetLastErrorText().c_str());
        return 1;
    }
    tralux::WaitForJob();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    rusage after{};
    getrusage(RUSAGE_SELF, &after);
    const double cpu = (after.ru_utime.tv_sec - before.ru_utime.tv_sec) +
                       (after.ru_utime.tv_usec - before.ru_utime.tv_usec) / 1e6 +
                       (after.ru_stime.tv_sec - before.ru_stime.tv_sec) +
                       (after.ru_stime.tv_usec - before.ru_stime.tv_usec) / 1e6;
    const double audio = static_cast<double>(frames) / 44100.0;
    const bool same = std::filesystem::file_size(out) >= frames * 4 + 44;
    std::printf(
        "pass-through %.0f s of 44100 Hz stereo: wall %.2f s (x%.0f real time), cpu %.2f s "
        "(x%.0f), "
        "peak RSS %.1f MiB, output %s\n",
        audio, wall, audio / wall, cpu, audio / cpu, after.ru_maxrss / 1024.0,
        same ? "complete" : "SHORT");
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return same ? 0 : 1;
}
