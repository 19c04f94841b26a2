#pragma once
// Tags of an input file, read through TagLib (a widely fuzzed parser: tag formats are full of
// variants and hostile files). MP3: ID3v2 (v2.2 to v2.4) over ID3v1; WAV: LIST/INFO. Only this
// adapter sees TagLib.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job/stream_info.h"

namespace tralux {

// Fills the tag texts of `info` (Title, Artist, Album, Year, Track, Comment, Copyright) from
// the file's tags, keeping what the probe found where a tag has nothing. `info.Kind` says
// which tags to look for. Never throws; a file without tags changes nothing.
void ReadInputTags(const std::string& path, StreamInfo& info);
// The front cover of a file of any kind TagLib knows (ID3v2 APIC, FLAC and Ogg pictures, MP4
// covr, ASF WM/Picture); false when it has none.
bool ReadInputCover(const std::string& path, std::string& mime, std::vector<std::uint8_t>& bytes);
// The same over bytes in memory ("RIFF" at the start: WAV, anything else: MPEG; Kind "AVF_":
// any kind TagLib tells by content, cover included).
void ReadInputTagsFromMemory(const std::uint8_t* data, std::size_t size, StreamInfo& info);

// Tag bytes of unknown encoding as UTF-8: kept when valid UTF-8, else read as Big5 when they
// are valid Big5 with at least one double-byte character, else as Latin-1. Trailing NULs and
// blanks are dropped.
std::string TagTextToUtf8(std::string_view bytes);

}  // namespace tralux
