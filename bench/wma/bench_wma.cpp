// WMA encoding speed of a whole conversion job (WAV in, WMA out) beside ffmpeg's own wmav2
// encoder on the same file in the same run. Target: at least 0.8 of ffmpeg's speed.
// Usage: bench_wma [seconds=120] [kbps=128] [folder=/tmp]
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
#include "platform/wma/wma_output_kind.h"

namespace {

void WriteWav(const std::string& path, std::uint32_t frames) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    tralux::bench::WritePcmWavHeader(f, 44100, 2, frames);
    // Music-like: a few tones with some noise, so the encoder has real work.
    std::vector<std::int16_t> block(2 * 44100);
    std::uint32_t seed = 7, done = 0;
    while (done < frames) {
        const std::uint32_t n = std::min<std::uint32_t>(44100, frames - done);
        for (std::uint32_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(done + i) / 44100;
            seed = seed * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(seed >> 16) / 65536.0 - 0.5) * 2000;
            const double v =
                6000 * std::sin(2 * M_PI * 220 * t) + 3000 * std::sin(2 * M_PI * 1760 * t) + noise;
            block[2 * i] = static_cast<std::int16_t>(v);
            block[2 * i + 1] = static_cast<std::int16_t>(0.8 * v);
        }
        f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n * 4));
        done += n;
    }
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 120.0;
    const int kbps = argc > 2 ? std::atoi(argv[2]) : 128;
    const std::string folder = argc > 3 ? argv[3] : "/tmp";
    tralux::platform::RegisterWmaOutput();
    const std::string tag = std::to_string(getpid());
    const std::string in = folder + "/tralux-bench-wma-" + tag + ".wav";
    const std::string ours = folder + "/tralux-bench-wma-" + tag + ".wma";
    const std::string theirs = folder + "/tralux-bench-wma-ffmpeg-" + tag + ".wma";
    WriteWav(in, static_cast<std::uint32_t>(seconds * 44100));

    tralux::EngineState& e = tralux::Engine();
    e.OutputFormat.store(tralux::kFormatWma);
    e.OutputRate.store(44100);
    e.OutputChannels.store(2);
    tralux::SetOptionReader(
        [kbps](std::string_view name) { return name == "MSABitRate" ? kbps : -1; });
    auto start = std::chrono::steady_clock::now();
    tralux::Engine().ReplaceOutput.store(true);  // its own scratch output, rewritten per run
    if (!tralux::StartConversion(in, ours, 0, tralux::kModeConvert)) {
        std::fprintf(stderr, "cannot start the job\n");
        return 1;
    }
    tralux::WaitForJob();
    const double ourTime = Seconds(start);
    if (e.LastError.load() != 0) {
        std::fprintf(stderr, "job failed: %s\n", tralux::GetLastErrorText().c_str());
        return 1;
    }

    start = std::chrono::steady_clock::now();
    const std::string cmd = "ffmpeg -v error -y -i '" + in + "' -c:a wmav2 -b:a " +
                            std::to_string(kbps) + "k '" + theirs + "'";
    const bool ffmpegRan = std::system(cmd.c_str()) == 0;
    const double theirTime = Seconds(start);

    std::printf("input: %.0f s of 44100 Hz stereo, %d kbit/s\n", seconds, kbps);
    std::printf("tralux job:   %.2f s  x %.1f real time\n", ourTime, seconds / ourTime);
    if (ffmpegRan) {
        std::printf("ffmpeg wmav2: %.2f s  x %.1f real time\n", theirTime, seconds / theirTime);
        std::printf("ratio: %.2f of ffmpeg's speed (target >= 0.80)\n", theirTime / ourTime);
    } else {
        std::printf("ffmpeg not available: no comparison\n");
    }
    std::remove(in.c_str());
    std::remove(ours.c_str());
    std::remove(theirs.c_str());
    return 0;
}
