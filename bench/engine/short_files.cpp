// Many short files through tralux-cli: wall time per file for WAV->WAV and WAV->MP3, the same
// audio as one long file (the work itself), the difference per file (a job's own overhead), and
// lame run once per file beside it. Usage: bench_short_files [files=300] [folder=/tmp]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/wav_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRate = 22050;
constexpr double kFileSeconds = 0.5;
constexpr double kOverheadTargetMs = 5.0;

void WriteMonoWav(const std::string& path, std::uint64_t frames, double hz) {
    tralux::bench::WriteMonoToneWav(path, kRate, frames, hz);
}

double g_lastCpu = 0;  // CPU seconds of the last Run's process

// Runs argv with stdout and stderr thrown away; the wall time in seconds, negative on failure.
double Run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return -1;
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    g_lastCpu =
        u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? s : -1;
}

double Cli(const std::string& config, const std::vector<std::string>& inputs,
           const std::string& format, const std::string& out) {
    fs::remove_all(out);
    fs::create_directories(out);
    std::vector<std::string> args{TRALUX_CLI_PATH, "--config", config, "convert"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.insert(args.end(), {"--format", format, "--output-dir", out, "--bitrate", "32"});
    if (format == "wav") args.pop_back(), args.pop_back();
    return Run(args);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::string base = (argc > 2 ? argv[2] : "/tmp") + std::string("/tralux-bench-short");
    if (count < 1) return 2;
    fs::remove_all(base);
    fs::create_directories(base + "/in");
    const auto frames = static_cast<std::uint64_t>(kRate * kFileSeconds);
    std::vector<std::string> inputs;
    for (int i = 0; i < count; ++i) {
        inputs.push_back(base + "/in/f" + std::to_string(1000 + i) + ".wav");
        WriteMonoWav(inputs.back(), frames, 200.0 + i);
    }
    const std::string longFile = base + "/long.wav";
    WriteMonoWav(longFile, frames * static_cast<std::uint64_t>(count), 440.0);
    const std::string config = base + "/config";
    fs::create_directories(config);

    std::printf("%d files of %.1f s, %u Hz mono WAV (tralux-cli: one run for all files)\n", count,
                kFileSeconds, kRate);
    std::printf("%-12s %12s %16s %18s %22s %14s\n", "", "per file", "work per file",
                "overhead per file", "CPU overhead per file", "lame per file");
    bool met = true;
    for (const char* format : {"wav", "mp3"}) {
        const double many = Cli(config, inputs, format, base + "/out");
        const double manyCpu = g_lastCpu;
        const double one = Cli(config, {longFile}, format, base + "/out-long");
        const double cpu = (manyCpu - g_lastCpu) * 1000 / count;
        if (many < 0 || one < 0) {
            std::fprintf(stderr, "tralux-cli failed (%s)\n", format);
            return 1;
        }
        const double perFile = many * 1000 / count, work = one * 1000 / count;
        const double overhead = perFile - work;
        met = met && overhead <= kOverheadTargetMs;
        std::string lame = "-";
        if (std::string(format) == "mp3") {
            double total = 0;
            for (const std::string& in : inputs) {
                const double s = Run({"lame", "--quiet", "-b", "32", in, base + "/lame.mp3"});
                if (s < 0) {
                    total = -1;
                    break;
                }
                total += s;
            }
            char buf[32];
            std::snprintf(buf, sizeof buf, "%.1f ms", total * 1000 / count);
            lame = total < 0 ? "(no lame)" : buf;
        }
        std::printf("%-12s %9.1f ms %13.2f ms %15.2f ms %19.2f ms %14s\n",
                    std::string(format) == "wav" ? "WAV -> WAV" : "WAV -> MP3", perFile, work,
                    overhead, cpu, lame.c_str());
    }
    std::printf("overhead target %.0f ms per file: %s\n", kOverheadTargetMs,
                met ? "met" : "MISSED");
    fs::remove_all(base);
    return 0;
}
