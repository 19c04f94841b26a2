#pragma once
// The (bit rate, rate, channels) combinations the WMA writer takes.
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

// The writer itself lives on the platform layer (platform/wma/wma_output_kind.h), which adds
// the WMA kind to the output table at the front end's startup.

}  // namespace tralux
