#pragma once
// Sample widening and channel mixing ahead of the rate converter, and interleaving after it.
// Blocks are little-endian interleaved PCM in whole sample frames.
#include <cstddef>
#include <cstdint>

namespace tralux::dsp {

// 8-bit unsigned to 16-bit signed: (b - 128) * 256, so 0x80 -> 0, 0xFF -> 32512, 0x00 -> -32768.
constexpr std::int16_t Widen8(std::uint8_t b) {
    return static_cast<std::int16_t>((static_cast<int>(b) - 128) * 256);
}
void Widen8(const std::uint8_t* in, std::size_t count, std::int16_t* out);

// Reads count little-endian 16-bit samples from bytes (no alignment needed).
void Load16(const std::uint8_t* bytes, std::size_t count, std::int16_t* out);

// Stereo to mono. 8-bit: (l + r) / 2 on the unsigned values, rounded down. 16-bit: (l + r) / 2
// truncated toward zero (-3 and 0 give -1). in and out may be the same buffer.
void MixStereoToMono8(const std::uint8_t* in, std::size_t frames, std::uint8_t* out);
void MixStereoToMono16(const std::int16_t* in, std::size_t frames, std::int16_t* out);

void Deinterleave(const std::int16_t* in, std::size_t frames, std::int16_t* left,
                  std::int16_t* right);
void Interleave(const std::int16_t* left, const std::int16_t* right, std::size_t frames,
                std::int16_t* out);
// Mono to stereo: the one channel on both sides.
void MonoToStereo(const std::int16_t* in, std::size_t frames, std::int16_t* out);

// Deep sources: 32-bit samples holding 24-bit values (the rate converter's wide samples).
// A full-range 32-bit sample rounded to 24 bits (clipped at the top), and back.
constexpr std::int32_t To24(std::int32_t full) {
    const std::int64_t r = (static_cast<std::int64_t>(full) + 0x80) >> 8;
    return static_cast<std::int32_t>(r > 8388607 ? 8388607 : r);
}
constexpr std::int32_t From24(std::int32_t s) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(s) << 8);
}
// Interleaved full-range samples to 24-bit planar ones (left only for mono), mixing stereo to
// mono ((l + r) / 2 truncated toward zero, as the 16-bit mix) when `mixToMono`.
void Load24(const std::int32_t* in, std::size_t frames, int channels, bool mixToMono,
            std::int32_t* left, std::int32_t* right);
// 24-bit planar to interleaved full-range samples (right null: mono, doubled when `stereo`).
void Store24(const std::int32_t* left, const std::int32_t* right, std::size_t frames, bool stereo,
             std::int32_t* out);

}  // namespace tralux::dsp
