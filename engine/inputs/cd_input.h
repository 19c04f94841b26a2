#pragma once
// A `.cda` track read from the drive that holds it (cd/reader.h).
#include <memory>

#include "engine/inputs/input.h"

namespace tralux {

bool ProbeCdTrack(File& file, StreamInfo& info);
// Pumps only. The rip raises JobError 123 for a read failure (or unverifiable audio), 103 when
// no drive holds the track, and passes a stop on after the drive is closed.
std::unique_ptr<Input> OpenCdTrack(File& file, const StreamInfo& info, const InputOptions& options);

}  // namespace tralux
