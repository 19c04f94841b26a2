#include "engine/playback/playback.h"

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"

// No sound device layer yet: preview reports "no device", which is an ordinary outcome.
namespace tralux {

void PrepareOutputFormat(const StreamInfo& info) {
    EngineState& e = Engine();
    e.SourceRate.store(info.SampleRate);
    e.SourceChannels.store(info.Channels);
    if (e.OutputMode.load() == kModePreview) throw JobError(kErrNoSoundDevice);
}
void ResetPlayback() { Engine().ClockOriginMs.store(0); }
std::size_t QueuePlayback(const std::uint8_t*, std::size_t) { throw JobError(kErrPlayback); }
void ClosePlayback(bool) {}

}  // namespace tralux
