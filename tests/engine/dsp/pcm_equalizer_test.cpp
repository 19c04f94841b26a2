#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "dsp_test_util.h"
#include "engine/dsp/equalizer.h"
#include "engine/dsp/pcm.h"

namespace {

using namespace tralux::dsp;

TEST(Pcm, EightBitMapping) {
    EXPECT_EQ(Widen8(std::uint8_t{0x80}), 0);
    EXPECT_EQ(Widen8(std::uint8_t{0xFF}), 32512);
    EXPECT_EQ(Widen8(std::uint8_t{0x00}), -32768);
    EXPECT_EQ(Widen8(std::uint8_t{0x81}), 256);
}

TEST(Pcm, StereoToMonoRounding) {
    const std::int16_t in16[] = {-3, 0, 3, 0, -32768, -32768, 32767, 32767, -32768, 32767};
    std::int16_t out16[5];
    MixStereoToMono16(in16, 5, out16);
    EXPECT_EQ(out16[0], -1);  // toward zero, not down
    EXPECT_EQ(out16[1], 1);
    EXPECT_EQ(out16[2], -32768);
    EXPECT_EQ(out16[3], 32767);
    EXPECT_EQ(out16[4], 0);
    std::uint8_t in8[] = {0x81, 0x80, 0xFF, 0xFF, 0x00, 0x01};
    MixStereoToMono8(in8, 3, in8);  // in place
    EXPECT_EQ(in8[0], 0x80);        // unsigned values, rounded down
    EXPECT_EQ(in8[1], 0xFF);
    EXPECT_EQ(in8[2], 0x00);
}

TEST(Pcm, SplitJoinAndDuplicate) {
    const std::int16_t st[] = {1, -1, 2, -2, 3, -3};
    std::int16_t l[3], r[3], back[6], dup[6];
    Deinterleave(st, 3, l, r);
    EXPECT_EQ(l[2], 3);
    EXPECT_EQ(r[0], -1);
    Interleave(l, r, 3, back);
    EXPECT_TRUE(std::equal(back, back + 6, st));
    MonoToStereo(l, 3, dup);
    EXPECT_EQ(dup[4], 3);
    EXPECT_EQ(dup[5], 3);
    const std::uint8_t le[] = {0x00, 0x80, 0xFF, 0x7F};
    std::int16_t v[2];
    Load16(le, 2, v);
    EXPECT_EQ(v[0], -32768);
    EXPECT_EQ(v[1], 32767);
}

// A sine through the converter with the equalizer on: the measured level change of its band
// (+8.7 dB at level 0, -32.7 dB at 97, silence from 98) and none in the other bands.
TEST(Equalizer, MeasuredBandAndMasterGains) {
    const auto in1k = dsptest::Sine(1000, 44100, 44100, 4000),
               in5k = dsptest::Sine(5000, 44100, 44100, 4000);
    std::vector<std::int16_t> in(in1k.size());
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<std::int16_t>(in1k[i] + in5k[i]);
    const auto gainsDb = [&](int band6, int master) {
        DspState d;
        d.ResamplerStart({44100, 1, 16, 44100, 1, false});
        d.EqualizerOn = true;
        d.EqualizerLevels[5] = band6;  // 750-1500 Hz
        d.EqualizerLevels[10] = master;
        d.BuildEqualizerResponse();
        const auto out = dsptest::Convert(d, in, 4096);
        const auto db = [&](double hz) {
            return 20 *
                   std::log10(std::max(dsptest::SineAmplitude(out, hz, 44100, 8000, 36000), 1e-3) /
                              4000);
        };
        return std::pair{db(1000), db(5000)};
    };
    auto [b, other] = gainsDb(0, 50);
    EXPECT_NEAR(b, 8.69, 0.2);
    EXPECT_NEAR(other, 0.0, 0.2);
    std::tie(b, other) = gainsDb(97, 50);
    EXPECT_NEAR(b, -32.7, 0.5);
    EXPECT_NEAR(other, 0.0, 0.2);
    std::tie(b, other) = gainsDb(98, 50);
    EXPECT_LT(b, -60.0);
    std::tie(b, other) = gainsDb(50, 0);  // master level 0 lifts everything
    EXPECT_NEAR(b, 8.69, 0.2);
    EXPECT_NEAR(other, 8.69, 0.2);
    // Stored values out of range take the nearest end instead of exploding.
    EXPECT_EQ(BandGain(-1), BandGain(0));
    EXPECT_EQ(BandGain(500), 0.0f);
}

std::array<int, kEqualizerLevels> Neutral() {
    std::array<int, kEqualizerLevels> l{};
    l.fill(50);
    return l;
}

TEST(Equalizer, NeutralLevelsGiveUnitResponse) {
    EqualizerResponseTable r{};
    EXPECT_EQ(BuildEqualizerResponse(Neutral(), 44100, 44100, r), 1.0f);
    for (double v : r) ASSERT_EQ(v, 1.0);
}

TEST(Equalizer, BandsMapToBinsAtOutputRate) {
    auto l = Neutral();
    l[5] = 99;  // 750-1500 Hz
    l[10] = 0;  // master
    EqualizerResponseTable r{};
    const float master = BuildEqualizerResponse(l, 44100, 44100, r);
    EXPECT_FLOAT_EQ(master, std::exp(1.0f));
    // bin k is at k * 44100 / 2048 Hz
    EXPECT_EQ(r[34], 1.0);  // 732 Hz
    EXPECT_EQ(r[36], 0.0);  // 775 Hz
    EXPECT_EQ(r[69], 0.0);  // 1486 Hz
    EXPECT_EQ(r[71], 1.0);  // 1529 Hz
}

TEST(Equalizer, HighOutputRatesStayInsideTheCurve) {
    auto l = Neutral();
    l[9] = 0;
    EqualizerResponseTable r{};
    BuildEqualizerResponse(l, 192000, 192000, r);
    // Everything from 12 kHz up, including bins past 64 kHz, takes the top band's gain.
    EXPECT_FLOAT_EQ(static_cast<float>(r[1023]), std::exp(1.0f));
    EXPECT_FLOAT_EQ(static_cast<float>(r[700]), std::exp(1.0f));
    EXPECT_EQ(r[100], 1.0);
}

}  // namespace
