// After the end of input the decoder must report the end within a number of calls bounded by
// the bytes it still holds: the engine's MP3 source decodes until it does, so any input that
// kept it from ending would hang a conversion job.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "decode_util.h"

namespace {

// Feeds `bytes` in pieces, then ends the input; returns the decode calls made after the end,
// or -1 when the end was not reported within the bound.
long CallsAfterEnd(const std::vector<uint8_t>& bytes, size_t piece, bool floatOut) {
    mp3dec::Mp3DecoderHandle h;
    if (mp3dec::Mp3DecoderCreate(h, 0, false, false) != mp3dec::kOk) return -2;
    std::vector<float> out(2304);
    size_t pos = 0;
    long after = -1;
    const long bound = static_cast<long>(bytes.size()) + 64;
    for (long calls = 0; !mp3dec::Mp3DecoderIsEof(h); ++calls) {
        if (calls > 2 * bound + 256 || after > bound) {
            after = -1;
            break;
        }
        if (pos < bytes.size()) {
            size_t accepted = 0;
            mp3dec::Mp3DecoderFeed(h, bytes.data() + pos, std::min(piece, bytes.size() - pos),
                                   accepted);
            pos += accepted;
        } else if (after < 0) {
            mp3dec::Mp3DecoderEndOfInput(h);
            after = 0;
        } else {
            ++after;
        }
        size_t produced = 0;
        if (floatOut)
            mp3dec::Mp3DecoderDecodeFloat(h, out.data(), out.size() * sizeof(float), produced);
        else
            mp3dec::Mp3DecoderDecode(h, out.data(), out.size() * sizeof(float), produced);
    }
    const bool ended = mp3dec::Mp3DecoderIsEof(h);
    mp3dec::Mp3DecoderDelete(h);
    return ended ? after : -1;
}

std::vector<std::vector<uint8_t>> Corpus() {
    std::vector<std::vector<uint8_t>> files;
    for (const auto& e : std::filesystem::directory_iterator(std::string(TRALUX_SOURCE_DIR) +
                                                             "/fuzz/corpus/mp3dec"))
        files.push_back(mp3test::ReadFile(e.path().string()));
    return files;
}

TEST(EndOfStream, EveryCorpusFileEnds) {
    const auto files = Corpus();
    ASSERT_FALSE(files.empty());
    for (const auto& f : files)
        for (size_t piece : {1u, 7u, 417u, 4096u})
            for (bool flt : {false, true})
                EXPECT_GE(CallsAfterEnd(f, piece, flt), 0) << f.size() << " " << piece;
}

TEST(EndOfStream, TruncatedAndDamagedStreamsEnd) {
    // Cut every corpus file at many places and flip bytes: half frames, headers without
    // bodies and false sync words must all end.
    std::mt19937 rng(17);
    for (const auto& f : Corpus()) {
        for (size_t cut = 0; cut < f.size(); cut += 1 + f.size() / 37) {
            std::vector<uint8_t> part(f.begin(), f.begin() + static_cast<long>(cut));
            ASSERT_GE(CallsAfterEnd(part, 333, false), 0) << "cut at " << cut;
            for (int k = 0; k < 8 && !part.empty(); ++k)
                part[rng() % part.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
            ASSERT_GE(CallsAfterEnd(part, 100, true), 0) << "damaged, cut at " << cut;
        }
    }
}

TEST(EndOfStream, HeadersOnlyAndRunsOfSyncEnd) {
    // Streams made of nothing but frame headers, or of 0xFF bytes, give the frame finder the
    // most candidates to chase.
    std::vector<uint8_t> headers;
    for (int i = 0; i < 600; ++i) headers.insert(headers.end(), {0xFF, 0xFB, 0x90, 0x64});
    EXPECT_GE(CallsAfterEnd(headers, 500, false), 0);
    EXPECT_GE(CallsAfterEnd(std::vector<uint8_t>(5000, 0xFF), 64, false), 0);
    EXPECT_GE(CallsAfterEnd({}, 1, false), 0);
}

}  // namespace
