#pragma once
// The source loop of a `.cda` input: the CD reader (cd/reader.h) feeding ProcessBlock.
#include "engine/job/stream_info.h"

namespace tralux {

// Reads the track from StartMs on ("Jitter" option: overlap matching) into ProcessBlock and
// flushes the pipeline. Raises JobError 123 for a read failure, 103 when no drive holds the
// track, and passes on the stop (code 0) after the drive is closed.
void CdSourceLoop(StreamInfo& info);

}  // namespace tralux
