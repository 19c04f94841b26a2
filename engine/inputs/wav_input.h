#pragma once
// WAV input (PCM of any width, float, more than two channels mixed down), and the RealMedia
// files the program names but no longer decodes.
#include <memory>

#include "engine/inputs/input.h"

namespace tralux {

bool ProbeWav(File& file, StreamInfo& info);
// WAV forms other than PCM and float are refused with a message (JobError 0).
std::unique_ptr<Input> OpenWavInput(File& file, const StreamInfo& info, const InputOptions&);

bool ProbeRealMedia(File& file, StreamInfo& info);
// Says why it is refused (JobError 0).
std::unique_ptr<Input> OpenRealMedia(File& file, const StreamInfo& info, const InputOptions&);

}  // namespace tralux
