#pragma once
// File names of ripped tracks.
#include <string>
#include <string_view>

namespace tralux::cddb {

// "NN Title.ext" (NN the track number with two digits): no '/', no control characters, no
// leading dots or blanks in the title, at most 200 bytes of title cut at a character
// boundary; Chinese and other letters are kept. "NN.ext" for an empty title.
std::string TrackFileName(int trackNumber, std::string_view title, std::string_view extension);

// The title part alone, cleaned as above.
std::string SanitizeTitle(std::string_view title);

}  // namespace tralux::cddb
