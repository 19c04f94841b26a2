// FLAC and Opus output of a whole conversion job (WAV in) beside the reference encoders on the
// same file in the same run: speed as a ratio to `flac -LEVEL` and `opusenc`, and the FLAC
// size against flac's at the same level (target: within 5 %), the Opus size against opusenc's
// at the same bit rate (target: within 3 %).
// Usage: bench_media [seconds=120] [flac level=5] [opus kbps=160] [folder=/tmp]
#include <sys/stat.h>
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
#include "platform/media/media_output_kinds.h"

namespace {

void WriteWav(const std::string& path, std::uint32_t frames) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    tralux::bench::WritePcmWavHeader(f, 44100, 2, frames);
    // Music-like: tones that move, a decaying beat and some noise, so prediction has work.
    std::vector<std::int16_t> block(2 * 44100);
    std::uint32_t seed = 7, done = 0;
    while (done < frames) {
        const std::uint32_t n = std::min<std::uint32_t>(44100, frames - done);
        for (std::uint32_t i = 0; i < n; ++i) {
            const double t = static_cast<double>(done + i) / 44100;
            seed = seed * 1664525u + 1013904223u;
            const double noise = (static_cast<double>(seed >> 16) / 65536.0 - 0.5) * 600;
            const double beat = std::exp(-8 * std::fmod(t, 0.5)) * std::sin(2 * M_PI * 60 * t);
            const double v = 5000 * std::sin(2 * M_PI * (220 + 20 * std::sin(t)) * t) +
                             2500 * std::sin(2 * M_PI * 1760 * t) + 6000 * beat + noise;
            block[2 * i] = static_cast<std::int16_t>(v);
            block[2 * i + 1] = static_cast<std::int16_t>(0.7 * v + 0.3 * noise);
        }
        f.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n * 4));
        done += n;
    }
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long long SizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

// One job; its time in seconds, or a negative number when it failed.
double RunJob(const std::string& in, const std::string& out, int format) {
    tralux::EngineState& e = tralux::Engine();
    e.OutputFormat.store(format);
    e.OutputRate.store(44100);
    e.OutputChannels.store(2);
    const auto start = std::chrono::steady_clock::now();
    tralux::Engine().ReplaceOutput.store(true);  // its own scratch output, rewritten per run
    if (!tralux::StartConversion(in, out, 0, tralux::kModeConvert)) return -1;
    tralux::WaitForJob();
    const double t = Seconds(start);
    return e.LastError.load() == 0 ? t : -1;
}

double RunTool(const std::string& cmd) {
    const auto start = std::chrono::steady_clock::now();
    return std::system(cmd.c_str()) == 0 ? Seconds(start) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 120.0;
    const int level = argc > 2 ? std::atoi(argv[2]) : 5;
    const int kbps = argc > 3 ? std::atoi(argv[3]) : 160;
    const std::string folder = argc > 4 ? argv[4] : "/tmp";
    const std::string base = folder + "/tralux-bench-media-" + std::to_string(getpid());
    const std::string in = base + ".wav";
    WriteWav(in, static_cast<std::uint32_t>(seconds * 44100));
    tralux::platform::RegisterFlacOutput();
    tralux::platform::RegisterOpusOutput();
    tralux::SetOptionReader([level, kbps](std::string_view name) {
        if (name == "FLACLevel") return level;
        if (name == "OpusBitRate") return kbps;
        return -1;
    });
    std::printf("input: %.0f s of 44100 Hz stereo\n", seconds);

    const double ourFlac = RunJob(in, base + ".flac", tralux::kFormatFlac);
    const double theirFlac = RunTool("flac -s -f -" + std::to_string(level) + " -o '" + base +
                                     "-ref.flac' '" + in + "'");
    if (ourFlac < 0) {
        std::fprintf(stderr, "FLAC job failed\n");
        return 1;
    }
    std::printf("FLAC -%d: tralux %.2f s (x %.0f real time)", level, ourFlac, seconds / ourFlac);
    if (theirFlac > 0) {
        const double ratio = static_cast<double>(SizeOf(base + ".flac")) /
                             static_cast<double>(SizeOf(base + "-ref.flac"));
        std::printf(", flac %.2f s; speed ratio %.2f of flac's\n", theirFlac, theirFlac / ourFlac);
        std::printf("FLAC size: tralux %lld bytes, flac %lld bytes, ratio %.4f (target <= 1.05)\n",
                    SizeOf(base + ".flac"), SizeOf(base + "-ref.flac"), ratio);
    } else {
        std::printf("; flac not available: no comparison\n");
    }

    const double ourOpus = RunJob(in, base + ".opus", tralux::kFormatOpus);
    const double theirOpus = RunTool("opusenc --quiet --bitrate " + std::to_string(kbps) + " '" +
                                     in + "' '" + base + "-ref.opus'");
    if (ourOpus < 0) {
        std::fprintf(stderr, "Opus job failed\n");
        return 1;
    }
    std::printf("Opus %d kbit/s: tralux %.2f s (x %.0f real time)", kbps, ourOpus,
                seconds / ourOpus);
    if (theirOpus > 0)
        std::printf(
            ", opusenc %.2f s; speed ratio %.2f of opusenc's; sizes %lld / %lld bytes, ratio "
            "%.4f (target <= 1.03)\n",
            theirOpus, theirOpus / ourOpus, SizeOf(base + ".opus"), SizeOf(base + "-ref.opus"),
            static_cast<double>(SizeOf(base + ".opus")) /
                static_cast<double>(SizeOf(base + "-ref.opus")));
    else
        std::printf("; opusenc not available: no comparison\n");
    for (const char* ext : {".wav", ".flac", "-ref.flac", ".opus", "-ref.opus"})
        std::remove((base + ext).c_str());
    return 0;
}
