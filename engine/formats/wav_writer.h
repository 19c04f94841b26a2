#pragma once
// RIFF/WAVE output: 44-byte header, payload, optional LIST/INFO chunk, patched sizes.
#include <cstdint>
#include <string>

#include "engine/job/file.h"

namespace tralux {

inline constexpr const char* kSoftwareCredit = "Converted by Quorvatix Tralux";
// Texts go through a 1024-byte buffer in the rest of the program.
inline constexpr std::size_t kMaxInfoText = 1023;

// Returns the file offset of the data size field (40).
std::uint64_t WriteWavHeader(File& file, int channels, std::uint32_t rate);
// Writes nothing for an empty text.
void WriteInfoItem(const char (&id)[5], const std::string& text, File& file);
// Texts beyond the three: album (IPRD), comment (ICMT), date (ICRD), track (ITRK), genre (IGNR).
struct InfoExtras {
    std::string album, comment, year, track, genre;
};
void WriteInfoChunk(File& file, const std::string& title, const std::string& artist,
                    const std::string& copyright, bool withTexts, const InfoExtras& extras = {});
// Patches the RIFF size (length - 8) and the data size.
void FinishWav(File& file, std::uint64_t dataSizeOffset, std::uint64_t dataSize);

}  // namespace tralux
