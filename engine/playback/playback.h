#pragma once
// Preview playback through the sound card.
#include <cstddef>
#include <cstdint>

#include "engine/job/stream_info.h"

namespace tralux {

// Sets SourceRate/SourceChannels; in preview mode opens the device (109 when there is none).
void PrepareOutputFormat(const StreamInfo& info);
void ResetPlayback();
// Queues output PCM; 0 while the playback buffer is still filling.
std::size_t QueuePlayback(const std::uint8_t* samples, std::size_t byteCount);
// Waits for the queued buffers (unless stopping) and closes the device; safe when closed.
void ClosePlayback(bool drain);

}  // namespace tralux
