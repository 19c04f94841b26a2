#pragma once
// The conversion job: start, the worker, the per-block hub and the error texts.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/dsp/analysis.h"
#include "engine/job/engine_state.h"
#include "engine/job/stream_info.h"

namespace tralux {

namespace dsp {
struct AnalysisTables;
}
// The spectrum analysis of the running preview, read by the window's display.
const dsp::AnalysisTables& PreviewAnalysis();

// UI thread. False (with LastError) when a job runs or the input/output cannot be opened.
bool StartConversion(const std::string& inputPath, const std::string& outputPath,
                     std::intptr_t jobParameter, int mode);
// Blocks until the current worker (if any) has ended and been joined.
void WaitForJob();
// Blocks until no job runs or `timeout` has passed, whichever comes first; true when no job
// runs. The worker wakes it the moment it clears JobRunning, so callers never pay a tick.
bool WaitForJobEnd(std::chrono::milliseconds timeout);
// Called on the worker thread right after each job's end clears JobRunning (empty: none).
// It runs under a lock that SetJobEndCallback also takes, so once that returns the old callback
// is never entered again; keep it short (post an event) and never start a job from it.
void SetJobEndCallback(std::function<void()> callback);

// Called by every source loop for every block of input-format PCM (modified in place when
// channels are mixed). Returns the bytes the sink accepted.
std::size_t ProcessBlock(std::uint8_t* block, std::size_t byteCount, const StreamInfo& info);
// Hands output PCM (16-bit, OutputRate, OutputChannels) to the sink.
std::size_t EmitBlock(const std::uint8_t* samples, std::size_t byteCount);
// Drains the rate converter into the sink; a second call does nothing.
std::size_t FlushPipeline(const StreamInfo& info);

// The preview's level and band tables (read by displays while a job runs).
const dsp::AnalysisTables& JobAnalysis();

std::string GetLastErrorText();
void ReportLastError();

// The WAV payload limit (RIFF sizes are 32-bit); tests may lower it.
void SetWavPayloadLimitForTesting(std::uint64_t bytes);

}  // namespace tralux
