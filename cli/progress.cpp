#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "engine/job/job.h"

namespace tralux {

std::string Shown(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t'))
        text.pop_back();
    return Printable(text);
}

ProgressFigures ComputeProgress(std::uint32_t startMs, std::uint32_t durationMs, double positionMs,
                                std::uint64_t elapsedMs) {
    ProgressFigures f;
    const double total = durationMs > startMs ? static_cast<double>(durationMs - startMs) : 0.0;
    double done = positionMs - startMs;
    if (done < 0) done = 0;
    if (total > 0) f.percent = static_cast<int>(std::min(100.0, done * 100.0 / total));
    f.elapsedMs = elapsedMs;
    const double estTotal = done > 0 ? static_cast<double>(elapsedMs) * total / done : total;
    f.totalMs = static_cast<std::uint64_t>(estTotal);
    f.remainingMs = f.totalMs > elapsedMs ? f.totalMs - elapsedMs : 0;
    f.speedHundredths = estTotal > 0 ? static_cast<int>(total * 100.0 / estTotal) : 100;
    return f;
}

std::string FormatSpeed(int h) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "x %d.%d%d", h / 100, h / 10 % 10, h % 10);
    return buf;
}

void FollowJob(std::chrono::milliseconds period, const std::function<void()>& tick) {
    do {
        tick();
    } while (!WaitForJobEnd(period));
    WaitForJob();
}

ProgressDisplay::ProgressDisplay(bool live, std::string input, std::string output)
    : live_(live),
      input_(std::move(input)),
      output_(std::move(output)),
      start_(std::chrono::steady_clock::now()),
      lastPrint_(start_) {}

ProgressDisplay::ProgressDisplay(bool live, std::string input, std::string output,
                                 std::chrono::steady_clock::time_point start)
    : ProgressDisplay(live, std::move(input), std::move(output)) {
    start_ = lastPrint_ = start;
}

std::string ProgressDisplay::Line(std::uint32_t startMs, std::uint32_t durationMs,
                                  double positionMs) {
    const auto elapsed =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start_)
                                       .count());
    const ProgressFigures f = ComputeProgress(startMs, durationMs, positionMs, elapsed);
    std::string bar;
    if (live_) {
        const int width = 24, filled = f.percent * width / 100;
        bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
              std::string(static_cast<std::size_t>(width - filled), '-') + "] ";
    }
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s%3d%%  %s / %s  elapsed %s  remaining %s  %s", bar.c_str(),
                  f.percent, FormatClock(static_cast<std::uint64_t>(positionMs / 1000)).c_str(),
                  FormatClock(durationMs / 1000).c_str(), FormatClock(f.elapsedMs / 1000).c_str(),
                  FormatClock(f.remainingMs / 1000).c_str(),
                  FormatSpeed(f.speedHundredths).c_str());
    return buf;
}

void ProgressDisplay::Tick(std::uint32_t startMs, std::uint32_t durationMs, double positionMs) {
    const auto now = std::chrono::steady_clock::now();
    const auto period = live_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000);
    if (now - lastPrint_ < period) return;
    lastPrint_ = now;
    if (live_)
        std::fprintf(stderr, "\r%s", Line(startMs, durationMs, positionMs).c_str());
    else
        std::fprintf(stderr, "%s\n", Line(startMs, durationMs, positionMs).c_str());
}

void ProgressDisplay::Finish(std::uint32_t startMs, std::uint32_t durationMs, double positionMs) {
    // The caller says how the job ended ("in -> out", stopped or failed).
    std::fprintf(stderr, live_ ? "\r%s\n" : "%s\n", Line(startMs, durationMs, positionMs).c_str());
}

BatchProgress::BatchProgress(bool live, std::size_t total)
    : live_(live), total_(total), start_(std::chrono::steady_clock::now()), lastPrint_(start_) {}

std::string BatchProgress::Line(const std::vector<Running>& running) const {
    double ms = doneMs_;
    for (const Running& r : running) ms += std::max(0.0, r.positionMs - r.startMs);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start_)
                             .count();
    const int speed = elapsed > 0 ? static_cast<int>(ms * 100 / static_cast<double>(elapsed)) : 0;
    char head[96];
    std::snprintf(head, sizeof head, "%zu/%zu files  elapsed %s  %s", done_, total_,
                  FormatClock(static_cast<std::uint64_t>(elapsed / 1000)).c_str(),
                  FormatSpeed(speed).c_str());
    std::string line = head;
    if (!running.empty()) line += "  running:";
    for (const Running& r : running) {
        const ProgressFigures f = ComputeProgress(r.startMs, r.durationMs, r.positionMs, 0);
        line += " " + Printable(std::filesystem::path(r.input).filename().string()) + " " +
                std::to_string(f.percent) + "%";
    }
    return line;
}

void BatchProgress::Tick(const std::vector<Running>& running) {
    const auto now = std::chrono::steady_clock::now();
    const auto period = live_ ? std::chrono::milliseconds(200) : std::chrono::milliseconds(1000);
    if (now - lastPrint_ < period) return;
    lastPrint_ = now;
    if (live_) {
        std::fprintf(stderr, "\r\033[K%s", Line(running).c_str());
        shown_ = true;
    } else {
        std::fprintf(stderr, "%s\n", Line(running).c_str());
    }
}

void BatchProgress::Done(double convertedMs) {
    ++done_;
    doneMs_ += std::max(0.0, convertedMs);
}

void BatchProgress::Clear() {
    if (!shown_) return;
    std::fprintf(stderr, "\r\033[K");
    shown_ = false;
}

}  // namespace tralux
