#pragma once
// The description of one input, filled by a reader and read by the job and the writers.
#include <cstdint>
#include <string>

namespace tralux {

constexpr std::uint32_t FourCC(const char (&s)[5]) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

constexpr std::uint32_t kKindRiff = FourCC("RIFF");
constexpr std::uint32_t kKindMp3 = FourCC("MP3_");
// Anything the system's decoders take (FLAC, Ogg, M4A, AIFF, ...).
constexpr std::uint32_t kKindMedia = FourCC("AVF_");
constexpr std::uint32_t kKindRealMedia = FourCC(".RMF");
constexpr std::uint32_t kKindRealAudio = 0xFD61722Eu;  // bytes 2E 72 61 FD

// How stored WAV samples look; the reader turns everything into 8- or 16-bit for the pipeline.
enum class SampleEncoding : std::uint8_t { Integer, Float };

struct StreamInfo {
    std::uint32_t Kind = 0;
    std::uint64_t StartOffset = 0;  // WAV: first payload byte; .cda: track start in ms
    std::uint64_t DataSize = 0;     // WAV: data payload bytes; MP3: file length
    std::uint32_t BitRate = 0;
    std::uint32_t BitRate2 = 0;  // the second, equal bit-rate field
    std::uint16_t BlockAlign = 0;
    std::uint32_t SampleRate = 0;
    std::uint16_t BitsPerSample = 0;
    std::uint16_t Channels = 0;
    std::string CodecName;
    std::string Title;
    bool TitleIsFileName = false;  // no tag named it: the title shown is the file's name
    std::string Artist;
    std::string Copyright;
    // Further tag texts read from the input (ID3v2, LIST/INFO).
    std::string Album, Year, Track, Comment, Genre;
    std::uint32_t StartMsf = 0;
    std::uint32_t LengthMsf = 0;
    std::uint16_t trackNumber = 0;
    std::uint32_t cdaStartSector = 0;
    std::uint32_t readStartSector = 0;
    std::uint32_t lengthSectors = 0;
    char driveLetter = 0;
    std::uint32_t DurationMs = 0;
    // A cut file: the length its header announces (0 when the file holds all of it).
    std::uint32_t DeclaredDurationMs = 0;

    // Stored WAV samples wider than 16 bits or in float are converted when read.
    SampleEncoding Encoding = SampleEncoding::Integer;
    // A WAV with more than two channels is mixed down to Channels (2) when read; 0 otherwise.
    std::uint16_t StoredChannels = 0;
    std::uint32_t ChannelMask = 0;  // WAVE_FORMAT_EXTENSIBLE speaker positions (0: the usual order)
    // Decoded through the system's decoders: the stored channel count (before any mixdown) and
    // the stored sample width of a lossless source.
    std::uint16_t MediaChannels = 0;
    std::uint16_t MediaBits = 0;
    // First-frame file offset of an MP3 stream (after any leading tag).
    std::uint64_t FirstFrameOffset = 0;

    // Bytes per sample frame as the pipeline sees it (after conversion to 8/16 bits).
    std::uint32_t PipelineFrameBytes() const { return Channels * (BitsPerSample <= 8 ? 1u : 2u); }
};

}  // namespace tralux
