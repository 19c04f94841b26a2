// The window's batch progress dialog over many short files, with the real engine on the
// offscreen platform: wall time per file, the same audio as one long file (the work itself),
// and the difference per file (the window's own overhead per job).
// Usage: bench_batch_window [files=300] [folder=/tmp]
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <QApplication>

#include "app/settings/settings.h"
#include "app/window/progress_dialog.h"
#include "bench/support/wav_file.h"
#include "engine/job/job.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kRate = 22050;
constexpr double kOverheadTargetMs = 20.0;

void WriteMonoWav(const std::string& path, std::uint64_t frames, double hz) {
    tralux::bench::WriteMonoToneWav(path, kRate, frames, hz);
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Times {
    double wall = -1, cpu = 0;
};

// One batch over `in` into a fresh `out`; wall -1 when not every file was written.
Times Batch(const std::string& in, const std::string& out, int format, std::size_t expected) {
    fs::remove_all(out);
    fs::create_directories(out);
    tralux::settings::WriteOptionText("BInDir", in);
    tralux::settings::WriteOptionText("BOut", out + "/");
    tralux::settings::WriteOption("BOutFormat", format);
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    tralux::app::RunBatchProgress(nullptr, std::nullopt);
    Times t;
    t.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    t.cpu = CpuSeconds() - cpu0;
    std::size_t written = 0;
    for (const auto& e : fs::directory_iterator(out)) written += e.is_regular_file() ? 1 : 0;
    if (written != expected) t.wall = -1;
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    const std::string base = (argc > 2 ? argv[2] : "/tmp") + std::string("/tralux-bench-batch");
    if (count < 1) return 2;
    if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    fs::remove_all(base);
    fs::create_directories(base + "/many");
    fs::create_directories(base + "/one");
    const auto frames = static_cast<std::uint64_t>(kRate / 2);
    for (int i = 0; i < count; ++i)
        WriteMonoWav(base + "/many/f" + std::to_string(1000 + i) + ".wav", frames, 200.0 + i);
    WriteMonoWav(base + "/one/long.wav", frames * static_cast<std::uint64_t>(count), 440.0);
    tralux::settings::SetConfigRoot(base + "/config");
    tralux::settings::SetApplicationName("tralux");
    tralux::SetOptionReader(
        [](std::string_view name) { return tralux::settings::ReadOption(name); });
    tralux::settings::EnsureOptionDefaults();
    tralux::settings::WriteOption("BAQ", 0);

    std::printf("window batch: %d files of 0.5 s, %u Hz mono WAV\n", count, kRate);
    std::printf("%-12s %12s %16s %18s %22s\n", "", "per file", "work per file", "overhead per file",
                "CPU overhead per file");
    bool met = true;
    for (int format : {0, 1}) {
        const Times many = Batch(base + "/many", base + "/out", format, count);
        const Times one = Batch(base + "/one", base + "/out-long", format, 1);
        if (many.wall < 0 || one.wall < 0) {
            std::fprintf(stderr, "the batch did not write every file\n");
            return 1;
        }
        const double perFile = many.wall * 1000 / count, work = one.wall * 1000 / count;
        const double cpu = (many.cpu - one.cpu) * 1000 / count;
        met = met && perFile - work <= kOverheadTargetMs;
        std::printf("%-12s %9.1f ms %13.2f ms %15.2f ms %19.2f ms\n",
                    format == 0 ? "WAV -> WAV" : "WAV -> MP3", perFile, work, perFile - work, cpu);
    }
    tralux::WaitForJob();
    std::printf("overhead target %.0f ms per file: %s\n", kOverheadTargetMs,
                met ? "met" : "MISSED");
    fs::remove_all(base);
    return 0;
}
