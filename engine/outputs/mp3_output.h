#pragma once
// MP3 output: ID3v2 tag and Info frame, the encoder's frames, ID3v1 at the end.
#include <memory>
#include <string>

#include "engine/job/file.h"
#include "engine/outputs/output.h"

namespace tralux {

// Raises JobError(108) when no encoder can be made for the rate and channels. The bit rate is
// settings.kbps (128 when unset) or the highest listed below it; option "MP3Vbr" 0..9 asks for
// variable bit rate instead.
std::unique_ptr<Output> OpenMp3Output(const OutputSettings& settings);

void WriteId3v1(File& file, const std::string& title, const std::string& artist,
                const std::string& comment);

}  // namespace tralux
