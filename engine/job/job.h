#pragma once
// The conversion job: start, the worker, the per-block hub and the error texts.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/dsp/analysis.h"
#include "engine/job/engine_state.h"
#include "engine/job/stream_info.h"
#include "engine/outputs/wav_output.h"

namespace tralux {

namespace dsp {
struct AnalysisTables;
}
// The spectrum analysis of the running preview, read by the window's display.
const dsp::AnalysisTables& PreviewAnalysis();

// One conversion: its settings, counters and stop flag (State), its input, output, rate and
// equalizer stage and its worker thread. Several jobs may run at once, each on its own worker;
// a job runs one conversion at a time. Preview (sound card) is the default job's only.
class Job {
public:
    Job();
    explicit Job(EngineState& state);  // over a state the caller keeps (the default job)
    ~Job();                            // waits for the worker
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    EngineState& State();
    // False (with LastError) when a conversion runs or the input/output cannot be opened.
    bool Start(const std::string& inputPath, const std::string& outputPath,
               std::intptr_t jobParameter, int mode);
    // Blocks until the worker (if any) has ended and been joined.
    void Wait();
    // Blocks until no conversion runs or `timeout` has passed; true when none runs. The worker
    // wakes it the moment it clears JobRunning.
    bool WaitForEnd(std::chrono::milliseconds timeout);
    // Called on the worker right after each conversion's end clears JobRunning (empty: none).
    // It runs under a lock that SetEndCallback also takes, so once that returns the old
    // callback is never entered again; keep it short and never start a job from it.
    void SetEndCallback(std::function<void()> callback);
    // The level and band tables (read by displays while the job runs).
    const dsp::AnalysisTables& Analysis();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// The window's and the command line's one job (its state is Engine()).
Job& DefaultJob();

// The default job's calls, for the front ends.
bool StartConversion(const std::string& inputPath, const std::string& outputPath,
                     std::intptr_t jobParameter, int mode);
void WaitForJob();
bool WaitForJobEnd(std::chrono::milliseconds timeout);
void SetJobEndCallback(std::function<void()> callback);
const dsp::AnalysisTables& JobAnalysis();

// Every job of the process, for a program told to end (SIGTERM): asks each running job to stop,
// then waits until each has finished its playable file. False when the wait timed out.
void StopAllJobs();
bool WaitForAllJobs(std::chrono::milliseconds timeout);

// The text of a job's last error code (clearing it); the default job's when none is given.
std::string LastErrorText(EngineState& state);
std::string GetLastErrorText();
void ReportLastError();

struct TagTexts;
// The texts a job writes into its output: those the input carries, or those a plan settled.
void SetTagTexts(EngineState& state, const StreamInfo& info);
void SetTagTexts(EngineState& state, const TagTexts& tags);
// The texts an input carries, as a job would write them.
TagTexts TagTextsOf(const StreamInfo& info);

}  // namespace tralux
