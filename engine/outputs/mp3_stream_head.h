#pragma once
// What goes around the encoded frames of our MP3 output: the ID3v2 tag and the Info frame in
// front (the Info frame is a placeholder until the stream ends, then filled in with the frame
// count, byte count, seek table and the encoder delay and padding).
#include <cstddef>
#include <cstdint>

#include "engine/job/file.h"
#include "engine/outputs/output.h"

namespace tralux {

class Mp3StreamHead {
public:
    // Writes the ID3v2 tag (when `tags` is given, with `cover` as its picture) and the placeholder Info frame at the
    // current position of `file`.
    void Begin(File& file, std::uint32_t rate, int channels, const TagTexts* tags,
               const CoverArt* cover = nullptr);
    // Counts the sample frames handed to the encoder.
    void NoteInput(std::size_t sampleFrames) { samples_ += sampleFrames; }
    // After the encoder's last frame: fills in the Info frame. `encoderDelay` is the delay the
    // encoder reports (leading samples a decoder outputs before the first input sample). Leaves
    // the file position at its end. `variable`: the frames vary in size ("Xing", not "Info").
    void End(File& file, int encoderDelay, bool variable = false);

private:
    bool active_ = false;
    std::uint64_t infoAt_ = 0;
    std::size_t infoBytes_ = 0;
    std::uint32_t rate_ = 0;
    int channels_ = 0;
    std::uint64_t samples_ = 0;
};

}  // namespace tralux
