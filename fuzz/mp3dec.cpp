// Drives the MP3 probe, seeking and the decoder over arbitrary bytes fed in pieces of
// random sizes, with every output mode.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mp3dec/mp3dec.h"

// Every execution creates and frees decoder objects of tens of kilobytes; a small quarantine
// keeps the fuzzer's memory bounded.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    uint32_t rng = data[1] * 2654435761u + 1;
    data += 2;
    size -= 2;

    mp3dec::Mp3InfoHandle info;
    mp3dec::Mp3InfoCreate(info);
    if (mp3dec::Mp3InfoProbe(info, data, size, static_cast<int64_t>(size) + (mode >> 4) * 100000)) {
        const mp3dec::Mp3StreamInfo* si = mp3dec::Mp3InfoGet(info);
        mp3dec::Mp3InfoSeekOffset(info, si->durationMs / 2);
        mp3dec::Mp3InfoSeekOffset(info, si->durationMs * 2 + 7);
        mp3dec::Mp3InfoSeekPercent(info, (mode & 15) * 7.3);
    }
    mp3dec::Mp3InfoDelete(info);

    // The header walk a preview's start takes: every usable header moves it forward.
    for (size_t at = 0, frames = 0; at + 4 <= size && frames < 64; ++frames) {
        int samples = 0;
        const int length = mp3dec::Mp3FrameLength(data + at, size - at, samples);
        if (length <= 0) break;
        if (length < 4 || (samples != 576 && samples != 1152)) __builtin_trap();
        at += static_cast<size_t>(length);
    }

    mp3dec::Mp3DecoderHandle dec;
    if (mp3dec::Mp3DecoderCreate(dec, mode % 3, (mode >> 2) & 1, (mode >> 3) & 1) != mp3dec::kOk)
        return 0;
    const bool floatOut = (mode >> 4) & 1;
    std::vector<float> out(1152 * 2);
    size_t pos = 0;
    bool ended = false;
    // Each call either takes input or consumes bytes, so the end must come within a bound set by
    // the input's size; a decoder that never reports it would hang the engine's source loop.
    const size_t limit = 2 * size + 256;
    size_t afterEnd = 0;
    for (size_t calls = 0; !mp3dec::Mp3DecoderIsEof(dec); ++calls) {
        if (calls > limit || afterEnd > size + 64) __builtin_trap();
        if (ended) ++afterEnd;
        if (pos < size) {
            rng = rng * 1103515245u + 12345u;
            const size_t piece = 1 + (rng >> 16) % 3000;
            size_t accepted = 0;
            mp3dec::Mp3DecoderFeed(dec, data + pos, piece < size - pos ? piece : size - pos,
                                   accepted);
            pos += accepted;
        } else if (!ended) {
            mp3dec::Mp3DecoderEndOfInput(dec);
            ended = true;
        }
        size_t produced = 0;
        const mp3dec::Status s =
            floatOut
                ? mp3dec::Mp3DecoderDecodeFloat(dec, out.data(), out.size() * sizeof(float),
                                                produced)
                : mp3dec::Mp3DecoderDecode(dec, out.data(), out.size() * sizeof(float), produced);
        if (mp3dec::StatusOutputValid(s) && floatOut) {
            // Decoded samples must be finite numbers.
            for (size_t i = 0; i < produced / sizeof(float); ++i)
                if (!(out[i] == out[i])) __builtin_trap();
        }
        if ((calls & 63) == 63 && (mode & 0x80))
            mp3dec::Mp3DecoderReset(dec), ended = false, afterEnd = 0, pos = size;
    }
    mp3dec::Mp3DecoderDelete(dec);
    return 0;
}
