#pragma once
// MP3 input: the MPEG probe and the decoding input.
#include <memory>
#include <string>

#include "engine/inputs/input.h"

namespace tralux {

// Probes the file from its start; fills info (Kind "MP3_" when clear is set).
bool ProbeMp3(File& file, StreamInfo& info, bool clear);
inline bool ProbeMp3File(File& file, StreamInfo& info) {
    return ProbeMp3(file, info, true);
}
// The decoder drops the encoder's delay and padding when a header frame tells them. Raises
// JobError(108) when no decoder can be made.
std::unique_ptr<Input> OpenMp3Input(File& file, const StreamInfo& info,
                                    const InputOptions& options);
// ID3 version 1 texts from the last 128 bytes; the file position is kept.
bool ReadId3v1(File& file, std::string& title, std::string& artist, std::string& comment);

}  // namespace tralux
