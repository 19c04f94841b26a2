#include "engine/dsp/pcm.h"

namespace tralux::dsp {

void Widen8(const std::uint8_t* in, std::size_t count, std::int16_t* out) {
    for (std::size_t i = 0; i < count; ++i) out[i] = Widen8(in[i]);
}

void Load16(const std::uint8_t* bytes, std::size_t count, std::int16_t* out) {
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<std::int16_t>(
            static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
}

void MixStereoToMono8(const std::uint8_t* in, std::size_t frames, std::uint8_t* out) {
    for (std::size_t i = 0; i < frames; ++i)
        out[i] = static_cast<std::uint8_t>((static_cast<unsigned>(in[2 * i]) + in[2 * i + 1]) / 2);
}

void MixStereoToMono16(const std::int16_t* in, std::size_t frames, std::int16_t* out) {
    for (std::size_t i = 0; i < frames; ++i)
        out[i] = static_cast<std::int16_t>((static_cast<int>(in[2 * i]) + in[2 * i + 1]) / 2);
}

void Deinterleave(const std::int16_t* in, std::size_t frames, std::int16_t* left,
                  std::int16_t* right) {
    for (std::size_t i = 0; i < frames; ++i) {
        left[i] = in[2 * i];
        right[i] = in[2 * i + 1];
    }
}

void Interleave(const std::int16_t* left, const std::int16_t* right, std::size_t frames,
                std::int16_t* out) {
    for (std::size_t i = 0; i < frames; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

void MonoToStereo(const std::int16_t* in, std::size_t frames, std::int16_t* out) {
    for (std::size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
}

void Load24(const std::int32_t* in, std::size_t frames, int channels, bool mixToMono,
            std::int32_t* left, std::int32_t* right) {
    if (channels == 1) {
        for (std::size_t i = 0; i < frames; ++i) left[i] = To24(in[i]);
    } else if (mixToMono) {
        for (std::size_t i = 0; i < frames; ++i)
            left[i] = (To24(in[2 * i]) + To24(in[2 * i + 1])) / 2;
    } else {
        for (std::size_t i = 0; i < frames; ++i) {
            left[i] = To24(in[2 * i]);
            right[i] = To24(in[2 * i + 1]);
        }
    }
}

void Store24(const std::int32_t* left, const std::int32_t* right, std::size_t frames, bool stereo,
             std::int32_t* out) {
    if (!stereo) {
        for (std::size_t i = 0; i < frames; ++i) out[i] = From24(left[i]);
    } else {
        if (!right) right = left;
        for (std::size_t i = 0; i < frames; ++i) {
            out[2 * i] = From24(left[i]);
            out[2 * i + 1] = From24(right[i]);
        }
    }
}

}  // namespace tralux::dsp
