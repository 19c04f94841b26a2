// Option store and parameter tables.
#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <string>

#include "mp3enc/config/options.h"
#include "mp3enc/config/tuning.h"

namespace mp3enc {
namespace {

TEST(OptionStore, ClosedStoreIgnoresEverything) {
    OptionStore s;
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.SetOption("mol", "14"), kOptionOk);
    int mol = 400;
    EXPECT_EQ(s.GetIntOption("mol", 1, 1000, &mol), kOptionOk);
    EXPECT_EQ(mol, 400);
}

TEST(OptionStore, TypedGettersParseAndCheckRanges) {
    OptionStore s;
    ASSERT_EQ(s.Open(), kOptionOk);
    s.SetOption("mol", "0");
    s.SetOption("amp", "2");
    s.SetOption("bw", "15000.5");
    s.SetOption("few", "1 2");
    s.SetOption("many", "1 2 3 4");
    s.SetOption("arr", "1 2 9 4");
    int mol = 400, amp = 1;
    EXPECT_EQ(s.GetIntOption("mol", 1, 1000, &mol), kOptionRangeFailed);
    EXPECT_EQ(mol, 400);
    EXPECT_TRUE(s.FindEntry("mol")->rangeFailed);
    EXPECT_EQ(s.FindEntry("mol")->status, kOptionRangeFailed);
    EXPECT_EQ(s.GetIntOption("amp", 0, 3, &amp), kOptionOk);
    EXPECT_EQ(amp, 2);
    float bw = 0;
    EXPECT_EQ(s.GetFloatOption("bw", 0, 48000, &bw), kOptionOk);
    EXPECT_FLOAT_EQ(bw, 15000.5f);
    int v3[3] = {7, 7, 7};
    EXPECT_EQ(s.GetIntArrayOption("few", 3, 0, 10, v3), kOptionTooFew);
    EXPECT_EQ(v3[0], 7);
    EXPECT_EQ(s.GetIntArrayOption("many", 3, 0, 10, v3), kOptionTooMany);
    int v4[4] = {0, 0, 0, 0};
    EXPECT_EQ(s.GetIntArrayOption("arr", 4, 0, 5, v4), kOptionRangeFailed);
    EXPECT_EQ(v4[0], 1);  // values before the failing one are stored
    EXPECT_EQ(v4[1], 2);
    EXPECT_EQ(v4[2], 0);
    // min == max switches the range check off.
    int any = 0;
    s.SetOption("free", "-50");
    EXPECT_EQ(s.GetIntOption("free", 0, 0, &any), kOptionOk);
    EXPECT_EQ(any, -50);
    EXPECT_NE(s.Messages().find("At parameter mol: Range Check failed"), std::string::npos);
    EXPECT_NE(s.Messages().find("At parameter few: Too few arguments in configuration"),
              std::string::npos);
    // A name matches only exactly.
    int other = 5;
    EXPECT_EQ(s.GetIntOption("mo", 0, 1000, &other), kOptionOk);
    EXPECT_EQ(other, 5);
}

TEST(OptionStore, UnusableNumbersFailTheRangeCheck) {
    OptionStore s;
    s.Open();
    s.SetOption("bw", "nan");
    s.SetOption("TMN", "inf");
    s.SetOption("mol", "99999999999");
    float bw = 15500, tmn = 18;
    int mol = 400;
    EXPECT_EQ(s.GetFloatOption("bw", 0, 48000, &bw), kOptionRangeFailed);
    EXPECT_EQ(bw, 15500.0f);
    EXPECT_EQ(s.GetFloatOption("TMN", 0, 3.4e38f, &tmn), kOptionRangeFailed);
    EXPECT_EQ(tmn, 18.0f);
    EXPECT_EQ(s.GetIntOption("mol", 1, 1000, &mol), kOptionRangeFailed);
    EXPECT_EQ(mol, 400);
    PsyParams p;
    ASSERT_TRUE(BuildPsyParams(&s, 44100, 64000, true, &p, nullptr));
    EXPECT_FLOAT_EQ(p.lng.bandwidth, 15500.0f);
}

TEST(OptionStore, FlagsAreOnWhenSetEvenWithAValue) {
    OptionStore s;
    s.Open();
    s.SetOption("hfs", "1");
    s.SetOption("noCmdct", "");
    int hfs = 0, cmdct = 0, mixed = 1;
    EXPECT_EQ(s.GetFlagOption("hfs", &hfs), kOptionTooMany);
    EXPECT_EQ(hfs, 1);
    EXPECT_EQ(s.GetFlagOption("noCmdct", &cmdct), kOptionOk);
    EXPECT_EQ(cmdct, 1);
    EXPECT_EQ(s.GetFlagOption("mixed", &mixed), kOptionOk);
    EXPECT_EQ(mixed, 0);
}

TEST(OptionStore, TwentyFirstOptionIsIgnored) {
    OptionStore s;
    s.Open();
    for (int i = 0; i < 21; ++i)
        EXPECT_EQ(s.SetOption(("o" + std::to_string(i)).c_str(), "1"), kOptionOk);
    EXPECT_EQ(s.Count(), 20);
    EXPECT_TRUE(s.IsSet("o19"));
    EXPECT_FALSE(s.IsSet("o20"));
    EXPECT_EQ(s.SetOption(nullptr, "1"), kOptionOk);
    EXPECT_EQ(s.Count(), 20);
}

TEST(OptionStore, OpeningTwiceClosesAndTheSessionAlwaysCloses) {
    OptionStore s;
    EXPECT_EQ(s.Open(), kOptionOk);
    EXPECT_EQ(s.Open(), kOptionNoMemory);
    EXPECT_FALSE(s.IsOpen());
    // A creation that fails half-way still leaves the store closed for the next one.
    auto failingCreation = [&]() -> bool {
        OptionSession session(&s);
        s.SetOption("mol", "14");
        return false;
    };
    EXPECT_FALSE(failingCreation());
    EXPECT_FALSE(s.IsOpen());
    OptionSession next(&s);
    EXPECT_EQ(next.status(), kOptionOk);
    EXPECT_TRUE(s.IsOpen());
    EXPECT_FALSE(s.IsSet("mol"));  // nothing survives a close
}

TEST(SfbParam, BandsCoverTheGranuleForEveryRate) {
    for (int rate : IsoSampleRates()) {
        SfbTable l, s;
        ASSERT_TRUE(GetSfbParam(rate, 0, &l, nullptr)) << rate;
        ASSERT_TRUE(GetSfbParam(rate, 2, &s, nullptr)) << rate;
        EXPECT_EQ(l.bandCount, 22);
        EXPECT_EQ(s.bandCount, 13);
        EXPECT_EQ(std::accumulate(l.width, l.width + 22, 0), 576) << rate;
        EXPECT_EQ(std::accumulate(s.width, s.width + 13, 0), 192) << rate;
        EXPECT_EQ(l.start[22], 576);
        EXPECT_EQ(s.start[13], 192);
        for (int b = 0; b < 22; ++b) EXPECT_EQ(l.start[b + 1] - l.start[b], l.width[b]);
    }
}

TEST(SfbParam, DeployedDecoderTables) {
    SfbTable a, b, c, t8;
    GetSfbParam(11025, 0, &a, nullptr);
    GetSfbParam(16000, 0, &b, nullptr);
    GetSfbParam(44100, 0, &c, nullptr);
    GetSfbParam(8000, 0, &t8, nullptr);
    for (int i = 0; i < 23; ++i) EXPECT_EQ(a.start[i], b.start[i]);
    EXPECT_EQ(c.start[21], 418);
    const int w8[22] = {12, 12, 12, 12, 12, 12, 16, 20, 24, 28, 32,
                        40, 48, 56, 64, 76, 90, 2,  2,  2,  2,  2};
    for (int i = 0; i < 22; ++i) EXPECT_EQ(t8.width[i], w8[i]);
    SfbTable s8;
    GetSfbParam(8000, 2, &s8, nullptr);
    EXPECT_EQ(s8.start[9], 160);
    ErrorChain err;
    EXPECT_FALSE(GetSfbParam(44000, 0, &a, &err));
    ASSERT_EQ(err.size(), 1u);
    EXPECT_EQ(err[0].message, "error initializing sfbParam");
    EXPECT_EQ(err[0].module, "core/psych/enc/common/psyparam");
    EXPECT_FALSE(GetSfbParam(44100, 4, &a, &err));
    EXPECT_EQ(err.back().message, "invalid block type parameter");
}

float Bandwidth(int bitRatePerChannel, int rate, bool stereo) {
    float v[kCodSetSize];
    EXPECT_TRUE(GetCodParam(bitRatePerChannel, rate, stereo, 0, v, nullptr));
    return v[kCodBandwidth];
}

TEST(CodParam, BandwidthInterpolatesTowardsTheNextRow) {
    EXPECT_EQ(CodParamRows().size(), 38u);
    EXPECT_FLOAT_EQ(Bandwidth(64000, 44100, true), 15500.0f);
    EXPECT_FLOAT_EQ(Bandwidth(72000, 44100, true), 17750.0f);
    EXPECT_NEAR(Bandwidth(128000, 44100, false), 16000 + 8000.0 * 48000 / 176000, 0.01);
    EXPECT_FLOAT_EQ(Bandwidth(300000, 44100, true), 22050.0f);  // capped at half the rate
    EXPECT_FLOAT_EQ(Bandwidth(16000, 8000, false),
                    4000.0f);  // last row: the closing row repeats it
    float v[kCodSetSize];
    ASSERT_TRUE(GetCodParam(64000, 44100, true, 2, v, nullptr));
    EXPECT_EQ(v[kCodPeMin], 800);
    EXPECT_EQ(v[kCodPeMax], 1500);
    EXPECT_FLOAT_EQ(v[kCodMaxBitSp], 1.3f);
    ErrorChain err;
    EXPECT_FALSE(GetCodParam(8000, 44100, false, 0, v, &err));
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err[0].message.rfind("error initializing codParam", 0), 0u);
}

TEST(ThrParam, RowsByBitRateAndStereoRaise) {
    float m[kThrSetSize], s[kThrSetSize];
    ASSERT_TRUE(GetThrParam(44200, false, 0, m, nullptr));
    EXPECT_EQ(m[kThrCbMode], 6);  // 36001-44400 wins over the overlapping next row
    ASSERT_TRUE(GetThrParam(44500, false, 0, m, nullptr));
    EXPECT_EQ(m[kThrCbMode], 0);
    EXPECT_EQ(m[kThrNmt], 9);
    ASSERT_TRUE(GetThrParam(64000, false, 0, m, nullptr));
    ASSERT_TRUE(GetThrParam(64000, true, 0, s, nullptr));
    EXPECT_EQ(m[kThrChaosMethod], 0);
    EXPECT_EQ(s[kThrBmax] - m[kThrBmax], 15);
    EXPECT_EQ(s[kThrBmax + 5] - m[kThrBmax + 5], 6);
    EXPECT_EQ(s[kThrBmax + 6], m[kThrBmax + 6]);
    EXPECT_EQ(m[kThrRpmin], 0);
    EXPECT_EQ(m[kThrRpre2], 16);
    float sh[kThrSetSize];
    ASSERT_TRUE(GetThrParam(10000, false, 2, sh, nullptr));
    EXPECT_FLOAT_EQ(sh[kThrRpmin], 0.05f);
    EXPECT_EQ(sh[kThrRpre], 6);
    EXPECT_EQ(sh[kThrCbMode], 0);
    for (int z = 1; z < 25; ++z) EXPECT_GE(m[kThrMinRatio + z], m[kThrMinRatio + z - 1]);
    EXPECT_EQ(m[kThrMinRatio], 10);
    EXPECT_EQ(m[kThrMinRatio + 24], 50);
    EXPECT_FALSE(GetThrParam(4000, false, 0, m, nullptr));
}

TEST(StreamParams, RowsSelectByUpperLimit) {
    EXPECT_EQ(FindStreamParamRow(2, 18000)->preferredRate, 0);
    EXPECT_EQ(FindStreamParamRow(1, 18000)->preferredRate, 16000);
    EXPECT_EQ(FindStreamParamRow(2, 128000)->preferredRate, 44100);
    EXPECT_EQ(FindStreamParamRow(2, 128000)->intensity, 0);
    EXPECT_EQ(FindStreamParamRow(2, 320000)->preferredRate, 48000);
    EXPECT_EQ(FindStreamParamRow(2, 320001), nullptr);
}

TEST(PsyParams, DerivedLimitsAndOptions) {
    PsyParams p;
    ASSERT_TRUE(BuildPsyParams(nullptr, 44100, 64000, true, &p, nullptr));
    EXPECT_FLOAT_EQ(p.lng.bandwidth, 15500.0f);
    EXPECT_EQ(p.lng.lowpassLine, static_cast<int>(576 * 15500 / 22050.0));
    EXPECT_EQ(p.lng.sfb.highestLine, 418);
    EXPECT_EQ(p.lng.analysisLimit, static_cast<int>(std::lround(512.0 / 576 * p.lng.lowpassLine)));
    EXPECT_EQ(p.lng.toneLimit, static_cast<int>(std::lround(512 * 9500 / 22050.0)));
    EXPECT_EQ(p.lng.chaosMethod, 0);
    // Above the last band start the highest coded line follows the bandwidth.
    ASSERT_TRUE(BuildPsyParams(nullptr, 44100, 128000, true, &p, nullptr));
    EXPECT_EQ(p.lng.sfb.highestLine,
              static_cast<int>(std::lround(576 * p.lng.bandwidth / 22050.0)));

    OptionStore o;
    o.Open();
    o.SetOption("bw", "30000");
    o.SetOption("CHAOS_METHOD", "9");
    o.SetOption("CHAOS_METHOD_S", "1");
    o.SetOption("rpre", "3");
    o.SetOption("nobmax", "");
    o.SetOption("blm", "2");
    o.SetOption("lp-adjust", "");
    ASSERT_TRUE(BuildPsyParams(&o, 44100, 64000, true, &p, nullptr));
    EXPECT_FLOAT_EQ(p.lng.bandwidth, 22050.0f);  // "bw" capped at half the rate, border at 576
    EXPECT_EQ(p.lng.chaosMethod, 0);             // out of range: default kept
    EXPECT_EQ(p.shrt.chaosMethod, 1);
    EXPECT_EQ(p.lng.thr[kThrRpre + 7], 3);
    EXPECT_EQ(p.lng.thr[kThrBmax], 0);
    EXPECT_EQ(p.blm, 2);
    EXPECT_TRUE(p.lpAdjust);
}

}  // namespace
}  // namespace mp3enc
