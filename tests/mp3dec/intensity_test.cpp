// MPEG-2 intensity stereo above the last coded scalefactor band: with the bound inside band 20,
// band 21 (which has no scalefactor) is intensity-coded at position 0, so the right channel
// there equals the left. A hand-built joint-stereo stream must decode exactly like the plain
// stereo stream that spells those lines out.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp3dec/mp3dec.h"
#include "synth_stream.h"

namespace {

// Count1 quadruples with table B: four inverted value bits, then a sign bit per nonzero value.
void Quad(mp3test::BitWriter& w, int a, int b, int c, int d) {
    const int v[4] = {a, b, c, d};
    for (int x : v) w.Put(x ? 0 : 1, 1);
    for (int x : v)
        if (x) w.Put(0, 1);
}

// One MPEG-2 22050 Hz 160 kbit/s frame. Left: lines 0..575 all +1. Right: +1 on lines 0..467
// (the last coded line falls inside band 20, lines 464..521), and, in the plain stereo
// version, also +1 on band 21 (lines 522..575).
std::vector<uint8_t> Frame(bool joint) {
    mp3test::BitWriter main;
    for (int q = 0; q < 144; ++q) Quad(main, 1, 1, 1, 1);
    int leftBits = 144 * 8;
    for (int q = 0; q < 117; ++q) Quad(main, 1, 1, 1, 1);
    int rightBits = 117 * 8;
    if (!joint) {
        for (int q = 0; q < 13; ++q) Quad(main, 0, 0, 0, 0);  // lines 468..519
        Quad(main, 0, 0, 1, 1);                               // 520..523
        for (int q = 0; q < 13; ++q) Quad(main, 1, 1, 1, 1);  // 524..575
        rightBits += 13 * 4 + 6 + 13 * 8;
    }
    mp3test::BitWriter w;
    // Sync, MPEG-2, layer III, no CRC, 160 kbit/s, 22050 Hz; mode 1 (joint) with intensity only,
    // or mode 0.
    const uint32_t mode = joint ? 1 : 0, ext = joint ? 1 : 0;
    w.Put(0xFFF3E000u | (mode << 6) | (ext << 4), 32);
    w.Put(0, 8);  // main_data_begin
    w.Put(0, 2);
    for (int bits : {leftBits, rightBits}) {
        w.Put(static_cast<uint32_t>(bits), 12);
        w.Put(0, 9);    // big_values
        w.Put(190, 8);  // global_gain
        w.Put(0, 9);    // scalefac_compress: no scalefactor bits in either channel
        w.Put(0, 1);
        w.Put(0, 15);
        w.Put(0, 7);
        w.Put(0, 1);
        w.Put(1, 1);  // count1 table B
    }
    std::vector<uint8_t> f = w.Bytes();
    const std::vector<uint8_t> m = main.Bytes();
    f.insert(f.end(), m.begin(), m.end());
    f.resize(72 * 160000 / 22050, 0);
    return f;
}

std::vector<float> Decode(const std::vector<uint8_t>& bytes) {
    std::vector<float> pcm;
    mp3dec::Mp3DecoderHandle h;
    EXPECT_EQ(mp3dec::Mp3DecoderCreate(h, 0, false, false), mp3dec::kOk);
    size_t pos = 0;
    std::vector<float> out(2304);
    for (int guard = 0; guard < 10000 && !mp3dec::Mp3DecoderIsEof(h); ++guard) {
        size_t accepted = 0;
        if (pos < bytes.size()) {
            mp3dec::Mp3DecoderFeed(h, bytes.data() + pos, bytes.size() - pos, accepted);
            pos += accepted;
        } else {
            mp3dec::Mp3DecoderEndOfInput(h);
        }
        size_t produced = 0;
        if (mp3dec::StatusOutputValid(
                mp3dec::Mp3DecoderDecodeFloat(h, out.data(), out.size() * 4, produced)))
            pcm.insert(pcm.end(), out.begin(), out.begin() + static_cast<long>(produced / 4));
    }
    mp3dec::Mp3DecoderDelete(h);
    return pcm;
}

TEST(IntensityLsf, BandAboveTheLastScalefactorBandTakesPositionZero) {
    const auto joint = Decode(mp3test::Repeat(Frame(true), 12));
    const auto plain = Decode(mp3test::Repeat(Frame(false), 12));
    ASSERT_EQ(joint.size(), plain.size());
    ASSERT_GE(joint.size(), 10u * 1152);
    double diff = 0, right = 0;
    for (size_t i = 0; i < joint.size(); ++i) {
        diff = std::max(diff, double(std::fabs(joint[i] - plain[i])));
        if (i % 2) right = std::max(right, double(std::fabs(plain[i])));
    }
    EXPECT_GT(right, 1e-3);
    EXPECT_LT(diff, 1e-6);
}

}  // namespace
