// Helpers shared by the decoder tests: whole-buffer decoding and PCM comparison.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mp3dec/mp3dec.h"

namespace mp3test {

inline std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
}

struct Decoded {
    std::vector<int16_t> pcm;
    int channels = 0;
    int sampleRate = 0;
    int frames = 0;
    int concealed = 0;
    std::vector<mp3dec::Status> statuses;  // every status but "searching" and "need data"
};

// Feeds `bytes` in pieces of `piece` bytes and decodes until the decoder reports the end.
inline Decoded DecodeAll(const std::vector<uint8_t>& bytes, size_t piece = 4096, int rateShift = 0,
                         bool mono = false) {
    Decoded d;
    mp3dec::Mp3DecoderHandle h;
    if (mp3dec::Mp3DecoderCreate(h, rateShift, false, mono) != mp3dec::kOk) return d;
    size_t pos = 0;
    std::vector<int16_t> out(1152 * 2);
    bool ended = false;
    for (int guard = 0; guard < 10000000 && !mp3dec::Mp3DecoderIsEof(h); ++guard) {
        if (pos < bytes.size()) {
            size_t accepted = 0;
            mp3dec::Mp3DecoderFeed(h, bytes.data() + pos, std::min(piece, bytes.size() - pos),
                                   accepted);
            pos += accepted;
        } else if (!ended) {
            mp3dec::Mp3DecoderEndOfInput(h);
            ended = true;
        }
        size_t produced = 0;
        const mp3dec::Status s = mp3dec::Mp3DecoderDecode(h, out.data(), out.size() * 2, produced);
        if (mp3dec::StatusOutputValid(s)) {
            mp3dec::Mp3FrameProperties p;
            mp3dec::Mp3DecoderProperties(h, p);
            d.channels = p.outputChannels;
            d.sampleRate = p.outputRate;
            d.pcm.insert(d.pcm.end(), out.begin(), out.begin() + produced / 2);
            ++d.frames;
            if (s != mp3dec::kOk) ++d.concealed;
        }
        if (s != mp3dec::kSyncSearched && s != mp3dec::kSyncNeedData) d.statuses.push_back(s);
    }
    mp3dec::Mp3DecoderDelete(h);
    return d;
}

struct Comparison {
    double psnr = 0.0;
    int maxDiff = 0;
    long offset = 0;  // samples dropped from the start of the test signal
    size_t compared = 0;
};

// Compares `test` against `ref` over the overlap, trying start offsets of `test` (or of `ref`
// when negative) in steps of `step` interleaved samples up to `maxShift`; keeps the best PSNR.
inline Comparison Compare(const std::vector<int16_t>& test, const std::vector<int16_t>& ref,
                          long maxShift, long step = 1, bool allowRefShift = true) {
    Comparison best;
    best.psnr = -1e9;
    for (long shift = allowRefShift ? -maxShift : 0; shift <= maxShift; shift += step) {
        const size_t ts = shift > 0 ? shift : 0, rs = shift < 0 ? -shift : 0;
        if (ts >= test.size() || rs >= ref.size()) continue;
        const size_t n = std::min(test.size() - ts, ref.size() - rs);
        double err = 0.0;
        int maxDiff = 0;
        for (size_t i = 0; i < n; ++i) {
            const int diff = int(test[ts + i]) - int(ref[rs + i]);
            err += double(diff) * diff;
            maxDiff = std::max(maxDiff, std::abs(diff));
        }
        const double mse = n ? err / n : 1e30;
        const double psnr = mse > 0 ? 10.0 * std::log10(32767.0 * 32767.0 / mse) : 200.0;
        if (psnr > best.psnr) best = Comparison{psnr, maxDiff, shift, n};
    }
    return best;
}

}  // namespace mp3test
