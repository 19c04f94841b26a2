#pragma once
// What goes around the encoded frames of our MP3 output: the ID3v2 tag and the Info frame in
// front (the Info frame is a placeholder until the stream ends, then filled in with the frame
// count, byte count, seek table and the encoder delay and padding).
#include <cstddef>
#include <cstdint>

#include "engine/job/file.h"

namespace tralux {

// Writes the ID3v2 tag (when "PlaceClipInfo" is on) and the placeholder Info frame at the
// current position of `file`.
void Mp3StreamBegin(File& file, std::uint32_t rate, int channels);
// Counts the sample frames handed to the encoder.
void Mp3StreamNoteInput(std::size_t sampleFrames);
// After the encoder's last frame: fills in the Info frame. `encoderDelay` is the delay the
// encoder reports (leading samples a decoder outputs before the first input sample). Leaves the
// file position at its end. `variable`: the frames vary in size ("Xing" rather than "Info").
void Mp3StreamEnd(File& file, int encoderDelay, bool variable = false);
// Forgets the stream without touching the file (file-failure path).
void Mp3StreamAbandon();

}  // namespace tralux
