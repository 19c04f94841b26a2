#pragma once
// Tags of an input file, read through TagLib (a widely fuzzed parser: tag formats are full of
// variants and hostile files). MP3: ID3v2 (v2.2 to v2.4) over ID3v1; WAV: LIST/INFO; any other
// kind TagLib knows through its unified names. Only this adapter sees TagLib.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/job/stream_info.h"

namespace tralux::platform {

// Makes the engine read input tags and covers through TagLib; front ends call it once at
// startup (repeats are harmless).
void InstallTagLibReader();

// The reader's work over bytes in memory ("RIFF" at the start: WAV, anything else: MPEG; Kind
// "AVF_": any kind TagLib tells by content, cover included). For tests and the fuzzer.
void ReadInputTagsFromMemory(const std::uint8_t* data, std::size_t size, StreamInfo& info);

// Tag bytes of unknown encoding as UTF-8: kept when valid UTF-8, else read as Big5 when they
// are valid Big5 with at least one double-byte character, else as Latin-1. Trailing NULs and
// blanks are dropped.
std::string TagTextToUtf8(std::string_view bytes);

}  // namespace tralux::platform
