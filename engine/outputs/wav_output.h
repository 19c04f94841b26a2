#pragma once
// WAV output: a 44-byte header, the payload, a LIST/INFO chunk, patched sizes.
#include <cstdint>
#include <memory>

#include "engine/outputs/output.h"

namespace tralux {

std::unique_ptr<Output> OpenWavOutput(const OutputSettings& settings);

// The payload limit (RIFF sizes are 32-bit): a longer job ends with code 104 and a finished
// file. Tests may lower it; 0 restores the default.
void SetWavPayloadLimitForTesting(std::uint64_t bytes);

}  // namespace tralux
