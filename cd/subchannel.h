#pragma once
// What a disc says in its Q sub-channel beside the audio: the media catalog number, each
// track's ISRC and where each track's pre-gap (INDEX 00) starts. Asked of any drive through
// MMC command blocks: READ SUB-CHANNEL for the two codes, READ CD with formatted Q for the
// positions. The reply parsers take untrusted bytes.
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cd/scsi.h"
#include "cd/toc.h"

namespace tralux::cd {

constexpr std::uint8_t kOpReadSubChannel = 0x42;
constexpr std::uint8_t kSubChannelMcn = 0x02;
constexpr std::uint8_t kSubChannelIsrc = 0x03;
constexpr std::size_t kSubChannelReplyBytes = 24;  // header and one MCN or ISRC block
constexpr std::uint8_t kReadCdFormattedQ = 0x02;   // READ CD byte 10: sub-channel selection
constexpr std::size_t kFormattedQBytes = 16;

// One formatted Q block (READ CD sub-channel selection 010b) as read.
struct QFrame {
    std::uint8_t control = 0;
    std::uint8_t adr = 0;      // 1: position, 2: catalog number, 3: ISRC
    int track = 0, index = 0;  // ADR 1; track 0xAA is the lead-out
    std::int64_t absoluteLba = 0;
};

// The CRC the Q sub-channel carries over its first ten bytes (CCITT, stored inverted).
std::uint16_t QCrc(const std::uint8_t* q);

// A position frame (ADR 1) whose CRC holds (a CRC of zero means the drive gives none) and
// whose numbers are BCD; nullopt for anything else.
std::optional<QFrame> ParseFormattedQ(std::span<const std::uint8_t> block);

// READ SUB-CHANNEL format 02h: the 13-digit catalog number, or empty when the drive says there
// is none (MCVAL clear), the reply is cut or the digits are not digits or all zero.
std::string ParseMcnReply(std::span<const std::uint8_t> reply);
// READ SUB-CHANNEL format 03h for `track`: the 12-character ISRC (upper case letters and digits
// as the standard has them), or empty.
std::string ParseIsrcReply(std::span<const std::uint8_t> reply, int track);

std::string ReadMcn(CdDevice& device);
std::string ReadIsrc(CdDevice& device, int track);

// Pre-gaps: per TOC track, the sectors from its INDEX 00 to its INDEX 01, found by a search of
// the sectors before each start. nullopt for a track whose sub-channel could not be read. The
// search gives up between tracks once `stop` is set.
std::vector<std::optional<std::uint32_t>> ReadPregaps(CdDevice& device, const DiscToc& toc,
                                                      const std::atomic<bool>* stop = nullptr);

// What a drive would return for `lba` in its Q sub-channel (image drive; tests).
void MakeFormattedQ(std::uint8_t* out, std::uint8_t control, int track, int index,
                    std::int64_t relative, std::int64_t lba);

}  // namespace tralux::cd
