#pragma once
// The rate/equalizer/analysis stage as ProcessBlock and FlushPipeline see it: one call per
// channel per block, 8- or 16-bit input, 16-bit output at OutputRate.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/job/stream_info.h"

namespace tralux {

void StageStart(const StreamInfo& info);
void StageBuildEqualizer();
// Reads the equalizer switch once for both channels of the next block.
void StageTakeSwitch();
// Returns the output for this channel; valid until the next call for the same channel.
const std::vector<std::int16_t>& StageResample(int channel, const std::uint8_t* samples,
                                               std::size_t frames, bool eightBit);
// Drains what the channel still holds.
std::vector<std::int16_t> StageFlush(int channel);
// Safe to call twice.
void StageFree();

void ResetAnalysis();
void AnalyseOutput(const std::int16_t* interleaved, std::size_t frames, int channels,
                   std::uint32_t rate);

}  // namespace tralux
