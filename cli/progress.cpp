#include "cli/progress.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "engine/job/job.h"

namespace tralux {

namespace {

// The length of the valid UTF-8 sequence at `s[i]` (its code point in `cp`), 0 if none.
std::size_t Utf8At(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    std::size_t n = 0;
    char32_t min = 0;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool Escaped(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    char buf[12];
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t n = Utf8At(text, i, cp);
        if (n == 0) {
            std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += buf;
            ++i;
            continue;
        }
        if (!Escaped(cp)) {
            out.append(text, i, n);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else {
            std::snprintf(buf, sizeof buf, cp < 0x80 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(cp));
            out += buf;
        }
        i += n;
    }
    return out;
}

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
