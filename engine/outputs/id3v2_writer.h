#pragma once
// ID3 version 2.4 tag for the front of our MP3 output: UTF-8 text frames, no unsynchronisation
// (version 2.4 readers do not need it for UTF-8 text).
#include <cstdint>
#include <string>
#include <vector>

namespace tralux {

struct Id3v2Texts {
    std::string title, artist, album, year, track, comment, copyright, genre;
};

struct CoverArt;

// The whole tag, header included; empty when every text is empty and there is no cover.
// `cover` (may be null or empty) becomes the front-cover picture (APIC).
std::vector<std::uint8_t> BuildId3v2Tag(const Id3v2Texts& texts, const CoverArt* cover = nullptr);

}  // namespace tralux
