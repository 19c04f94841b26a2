#pragma once
// Progress of one job as the single-file progress dialog computes it, drawn as a live bar on a
// terminal and as plain lines elsewhere.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job/clock_text.h"
#include "engine/job/printable_text.h"

namespace tralux {

// A message as the terminal shows it: the blanks and line ends that pad some texts for a
// dialog do not end a line of output; the rest is Printable.
std::string Shown(std::string text);

struct ProgressFigures {
    int percent = 0;
    std::uint64_t elapsedMs = 0, remainingMs = 0, totalMs = 0;
    int speedHundredths = 100;  // "x 2.50" is 250
};
// From the engine's counters and the wall-clock time since the job started.
ProgressFigures ComputeProgress(std::uint32_t startMs, std::uint32_t durationMs, double positionMs,
                                std::uint64_t elapsedMs);
std::string FormatSpeed(int hundredths);

// Runs `tick` now and then every `period` while the engine's job runs, and returns (the worker
// joined) as soon as the job ends rather than at the next tick.
void FollowJob(std::chrono::milliseconds period, const std::function<void()>& tick);

class ProgressDisplay {
public:
    ProgressDisplay(bool live, std::string input, std::string output);
    // Timed from `start` (a job that began before its display).
    ProgressDisplay(bool live, std::string input, std::string output,
                    std::chrono::steady_clock::time_point start);
    void Tick(std::uint32_t startMs, std::uint32_t durationMs, double positionMs);
    void Finish(std::uint32_t startMs, std::uint32_t durationMs, double positionMs);

private:
    std::string Line(std::uint32_t startMs, std::uint32_t durationMs, double positionMs);

    bool live_;
    std::string input_, output_;
    std::chrono::steady_clock::time_point start_, lastPrint_;
};

// The whole of a parallel batch on one line: files done of all, the overall speed (audio
// converted per wall-clock second) and the files being converted.
class BatchProgress {
public:
    struct Running {
        std::string input;
        std::uint32_t startMs = 0, durationMs = 0;
        double positionMs = 0;
    };
    BatchProgress(bool live, std::size_t total);
    void Tick(const std::vector<Running>& running);
    // A file ended after converting `convertedMs` of audio.
    void Done(double convertedMs);
    // A live line is erased so that a result line can be printed in its place.
    void Clear();
    std::string Line(const std::vector<Running>& running) const;

private:
    bool live_;
    std::size_t total_, done_ = 0;
    double doneMs_ = 0;
    std::chrono::steady_clock::time_point start_, lastPrint_;
    bool shown_ = false;
};

}  // namespace tralux
