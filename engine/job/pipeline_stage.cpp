#include "engine/job/pipeline_stage.h"

#include <array>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"

// Pass-through until the rate converter and equalizer land: equal rates with the equalizer
// off are copied (8-bit widened); anything else fails cleanly.
namespace tralux {
namespace {
std::array<std::vector<std::int16_t>, 2> g_out;
bool g_passThrough = true;
}  // namespace

void StageStart(const StreamInfo& info) {
    EngineState& e = Engine();
    g_passThrough = info.SampleRate == e.OutputRate.load();
}

void StageBuildEqualizer() {}

void StageTakeSwitch() {}

const std::vector<std::int16_t>& StageResample(int channel, const std::uint8_t* samples,
                                               std::size_t frames, bool eightBit) {
    if (!g_passThrough || Engine().EqualizerOn.load()) throw JobError(kErrCodecInit);
    auto& out = g_out[static_cast<std::size_t>(channel & 1)];
    out.resize(frames);
    if (eightBit) {
        for (std::size_t i = 0; i < frames; ++i) out[i] = static_cast<std::int16_t>((samples[i] - 128) * 256);
    } else {
        for (std::size_t i = 0; i < frames; ++i)
            out[i] = static_cast<std::int16_t>(samples[2 * i] | samples[2 * i + 1] << 8);
    }
    return out;
}

std::vector<std::int16_t> StageFlush(int) { return {}; }
void StageFree() {
    for (auto& v : g_out) std::vector<std::int16_t>().swap(v);
}
void ResetAnalysis() {}
void AnalyseOutput(const std::int16_t*, std::size_t, int, std::uint32_t) {}

}  // namespace tralux
