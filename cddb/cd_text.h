#pragma once
// Titles a disc carries itself (CD-Text): from the drive's READ TOC format 5 packs, or from the
// TITLE/PERFORMER lines of a CUE sheet that describes a disc image. Used when the server has
// no entry or is never asked, before the default titles.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "cddb/cd_info.h"

namespace tralux::cddb {

// `data` is the READ TOC format 5 reply, with or without its 4-byte header. Disc title is
// "performer / title" when the disc names both. Nullopt when no title is found.
std::optional<CdInfo> ParseCdTextPacks(const std::uint8_t* data, std::size_t size,
                                       std::size_t trackCount);

// TITLE and PERFORMER before the first TRACK belong to the disc, after a "TRACK nn" to track nn.
std::optional<CdInfo> ParseCueCdText(std::string_view cue, std::size_t trackCount);

}  // namespace tralux::cddb
