#pragma once
// The Xing/Info header frame at the start of an MP3 stream: a frame of the stream's format
// whose body holds the frame count, the byte count, a 100-entry seek table and, in the
// extension most encoders append, the encoder name and the encoder delay and padding that a
// player trims for a gapless result. Reading and writing here; no codec involved.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tralux {

// One Layer III frame header, decoded.
struct Mp3FrameHeader {
    int version = 0;  // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    std::uint32_t sampleRate = 0;
    int bitrateKbps = 0;
    int channels = 0;
    bool crc = false;
    int frameBytes = 0;
    int sideInfoBytes = 0;
    int samplesPerFrame = 0;
};
// False for anything but a valid Layer III header (free format included).
bool ParseMp3FrameHeader(const std::uint8_t* p, std::size_t size, Mp3FrameHeader& out);

struct Mp3InfoTag {
    bool vbri = false;  // a VBRI header (only the frame's nature is used)
    bool xing = false;  // "Xing" rather than "Info"
    bool hasFrames = false, hasBytes = false, hasToc = false;
    std::uint32_t frames = 0;  // audio frames, the header frame not counted
    std::uint32_t bytes = 0;   // stream bytes, the header frame counted
    std::array<std::uint8_t, 100> toc{};
    // The extension: encoder name (9 bytes) and the 12-bit delay and padding pair.
    bool hasExtension = false;
    std::string encoder;
    int delay = 0, padding = 0;
};

// Looks for a Xing/Info/VBRI header in the frame that starts at frame[0] (size bytes of it).
bool ReadMp3InfoTag(const std::uint8_t* frame, std::size_t size, Mp3InfoTag& out);

// Samples a decoder puts before the first encoded sample on top of the encoder's own delay
// (the synthesis filter bank); players skip delay + this many samples.
inline constexpr int kMp3DecoderDelay = 529;

// Our encoder's name in the extension (9 bytes).
inline constexpr const char* kInfoEncoderName = "Tralux0.1";

// Size of the Info frame we write for a stream of this rate and channel count (0 when the
// rate is not an MPEG rate).
std::size_t Mp3InfoFrameBytes(std::uint32_t rate, int channels);
// A complete Info frame for a constant-bit-rate stream of this rate and channel count.
// `musicCrc` covers the audio frames after this one.
std::vector<std::uint8_t> BuildMp3InfoFrame(std::uint32_t rate, int channels, const Mp3InfoTag& tag,
                                            std::uint16_t musicCrc);
// Table of contents: entry i = 256 * (offset of the frame i % of the way in) / bytes.
std::array<std::uint8_t, 100> BuildMp3Toc(const std::vector<std::uint32_t>& frameOffsets,
                                          std::uint32_t bytes);

// CRC-16 as the Info extension uses it (polynomial 0x8005, reflected, start 0).
std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* p, std::size_t n);

}  // namespace tralux
