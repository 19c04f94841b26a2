// The standard's Layer III compliance streams decode to their reference output.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "decode_util.h"
#include "support/require.h"

namespace {

std::string Dir() {
    return std::string(TRALUX_TESTDATA_DIR) + "/mp3-conformance/";
}

class Conformance : public ::testing::TestWithParam<const char*> {};

TEST_P(Conformance, MatchesReference) {
    const std::string name = GetParam();
    TRALUX_REQUIRE_PATH(Dir() + name + ".bit");
    const auto bits = mp3test::ReadFile(Dir() + name + ".bit");
    const auto refBytes = mp3test::ReadFile(Dir() + name + ".pcm");
    std::vector<int16_t> ref(refBytes.size() / 2);
    for (size_t i = 0; i < ref.size(); ++i)
        ref[i] = int16_t(refBytes[2 * i] | (refBytes[2 * i + 1] << 8));
    const mp3test::Decoded d = mp3test::DecodeAll(bits, 1000);
    ASSERT_GT(d.frames, 0);
    // The reference may start up to two frames later than our output.
    const long frame = (d.sampleRate > 24000 ? 1152 : 576) * d.channels;
    const mp3test::Comparison c = mp3test::Compare(d.pcm, ref, 2 * frame, d.channels, false);
    std::printf("%s: %.1f dB, max diff %d, offset %ld, %zu samples compared of %zu\n", name.c_str(),
                c.psnr, c.maxDiff, c.offset, c.compared, ref.size());
    EXPECT_GE(c.psnr, 96.0);
    EXPECT_LE(c.maxDiff, 1);
    EXPECT_GE(c.compared + frame, ref.size());
}

INSTANTIATE_TEST_SUITE_P(Streams, Conformance,
                         ::testing::Values("l3-compl", "l3-he_32khz", "l3-he_44khz", "l3-he_48khz",
                                           "l3-he_mode", "l3-hecommon", "l3-si", "l3-si_block",
                                           "l3-si_huff", "l3-sin1k0db", "M2L3_compl24",
                                           "M2L3_intensity22"));

TEST(ConformanceFreeFormat, NeverSynchronises) {
    const std::string path = Dir() + "l3-he_free.bit";
    TRALUX_REQUIRE_PATH(path);
    const mp3test::Decoded d = mp3test::DecodeAll(mp3test::ReadFile(path), 777);
    EXPECT_EQ(d.frames, 0);
}

}  // namespace

namespace {

// The full-scale sine clips: 16-bit output is the float output rounded (ties to even) and
// clipped, and never wraps around.
TEST(ConformanceRounding, SixteenBitIsRoundedAndClippedFloat) {
    const std::string path = Dir() + "l3-sin1k0db.bit";
    TRALUX_REQUIRE_PATH(path);
    const auto bits = mp3test::ReadFile(path);
    mp3dec::Mp3DecoderHandle hi, hf;
    ASSERT_EQ(mp3dec::Mp3DecoderCreate(hi, 0, false, false), mp3dec::kOk);
    ASSERT_EQ(mp3dec::Mp3DecoderCreate(hf, 0, false, false), mp3dec::kOk);
    size_t posI = 0, posF = 0, clipped = 0, compared = 0;
    std::vector<int16_t> pcm(2304);
    std::vector<float> flt(2304);
    for (int frame = 0; frame < 200; ++frame) {
        size_t acc = 0, nI = 0, nF = 0;
        mp3dec::Status si, sf;
        do {
            mp3dec::Mp3DecoderFeed(hi, bits.data() + posI, bits.size() - posI, acc);
            posI += acc;
            si = mp3dec::Mp3DecoderDecode(hi, pcm.data(), pcm.size() * 2, nI);
        } while (si == mp3dec::kSyncSearched || si == mp3dec::kSyncNeedData);
        do {
            mp3dec::Mp3DecoderFeed(hf, bits.data() + posF, bits.size() - posF, acc);
            posF += acc;
            sf = mp3dec::Mp3DecoderDecodeFloat(hf, flt.data(), flt.size() * 4, nF);
        } while (sf == mp3dec::kSyncSearched || sf == mp3dec::kSyncNeedData);
        ASSERT_EQ(si, sf);
        if (!mp3dec::StatusOutputValid(si)) break;
        ASSERT_EQ(nI * 2, nF);
        for (size_t i = 0; i < nI / 2; ++i) {
            const float scaled = std::min(std::max(flt[i] * 32768.0f, -32768.0f), 32767.0f);
            ASSERT_EQ(pcm[i], static_cast<int16_t>(std::nearbyint(scaled)))
                << "sample " << i << " of frame " << frame;
            if (pcm[i] == 32767 || pcm[i] == -32768) ++clipped;
            ++compared;
        }
    }
    EXPECT_GT(compared, 100000u);
    EXPECT_GT(clipped, 0u);
    mp3dec::Mp3DecoderDelete(hi);
    mp3dec::Mp3DecoderDelete(hf);
}

}  // namespace
