#pragma once
// Names what a RIFF/WAVE file holds when it is a WAV we recognise but do not convert
// (A-law, ADPCM, 5.1, RF64 ...), for a message better than "unknown format".
#include <string>

namespace tralux {

// "" when the file is no such WAV (or cannot be read).
std::string DescribeUnsupportedWav(const std::string& path);

}  // namespace tralux
