#pragma once
// WMA output through the platform's audio writer, and the (bit rate, rate, channels)
// combinations that writer takes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace tralux {

struct WmaCombination {
    int kbps;
    std::uint32_t rate;
    int channels;  // 1 mono, 2 stereo
};

// Every combination the settings dialog used to offer (32 of them), lowest bit rate first.
std::span<const WmaCombination> WmaListedCombinations();
// The subset the writer accepts (the wmav2 encoder needs 24 kbit/s or more): 15 entries,
// none at 8000, 11025 or 16000 Hz. The settings dialog and the CLI validate against this.
std::span<const WmaCombination> WmaAcceptedCombinations();
bool IsWmaCombinationAccepted(int kbps, std::uint32_t rate, int channels);
// "" when accepted; otherwise a sentence for the user saying why and what to choose.
std::string WmaCombinationProblem(int kbps, std::uint32_t rate, int channels);

// Creates the writer for `path` with the job's tags (when "PlaceClipInfo" is on). A refusal
// shows the writer's message and raises JobError(108).
void WmaWriterStart(const std::string& path, int channels, std::uint32_t rate,
                    int kilobitsPerSecond);
// EmitBlock's WMA branch; JobError(108) when the writer fails.
std::size_t WmaWriterFeed(const std::uint8_t* samples, std::size_t byteCount);
// Normal end: drains the encoder, finishes and releases the file; JobError(108) on failure.
void WmaWriterFinish();
// Stop/error/cleanup: finishes and releases without raising; safe when no writer exists.
void WmaWriterClose();

}  // namespace tralux
