#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <thread>

#include "dsp_test_util.h"
#include "engine/dsp/dsp_state.h"

namespace {

using namespace tralux::dsp;
using dsptest::Convert;

std::unique_ptr<DspState> Make(std::uint32_t in, std::uint32_t out, int inCh = 1, int outCh = 1,
                               int bits = 16) {
    auto d = std::make_unique<DspState>();
    d->ResamplerStart({in, static_cast<std::uint16_t>(inCh), static_cast<std::uint16_t>(bits), out,
                       static_cast<std::uint16_t>(outCh), false});
    return d;
}

std::size_t Expected(std::size_t inFrames, std::uint32_t in, std::uint32_t out) {
    return static_cast<std::size_t>((std::uint64_t{inFrames} * out + in - 1) / in);
}

TEST(Resampler, SameRateWithoutEqualizerIsBitIdenticalWithoutDelay) {
    auto d = Make(44100, 44100, 2, 2);
    const auto in = dsptest::Interleave(dsptest::Noise(5000, 1), dsptest::Noise(5000, 2));
    auto first = d->Process(reinterpret_cast<const std::uint8_t*>(in.data()), 4000);  // 1000 frames
    ASSERT_EQ(first.size(), 2000u);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), in.begin()));
    d = Make(44100, 44100, 2, 2);
    EXPECT_EQ(Convert(*d, in, 777), in);
}

TEST(Resampler, DoubleRateKeepsSineAmplitude) {
    auto d = Make(22050, 44100);
    const auto in = dsptest::Sine(1000, 22050, 22050 * 2, 32767.0);
    const auto out = Convert(*d, in, 22050);
    ASSERT_EQ(out.size(), 88200u);
    EXPECT_NEAR(dsptest::SineAmplitude(out, 1000, 44100, 4096, out.size() - 4096), 32767.0, 8.0);
    EXPECT_LE(dsptest::PeakAbs(out, 0, out.size()), 32767);
}

TEST(Resampler, UpConversionStopsAtSourceNyquist) {
    for (bool eq : {false, true}) {
        auto d = Make(32000, 44100);
        d->EqualizerOn = eq;
        const auto out = Convert(*d, dsptest::Noise(32000 * 2, 7), 32000);
        const auto db = dsptest::SpectrumDbfs(out, 20000, 15);
        // bin k of 32768 points is k * 44100 / 32768 Hz; 11890 is 16000 Hz.
        EXPECT_GT(dsptest::MaxDb(db, 2000, 11000), -40.0);  // the noise itself, up to ~14.8 kHz
        EXPECT_LT(dsptest::MaxDb(db, 11950, db.size()), -90.0) << eq;
    }
}

TEST(Resampler, ClipsAtPlusMinus32767) {
    auto d = Make(44100, 44100);
    d->EqualizerOn = true;
    d->EqualizerLevels[10] = 0;  // master e, ~2.7x
    d->BuildEqualizerResponse();
    const auto in = dsptest::Sine(440, 44100, 44100, 20000.0);
    const auto out = Convert(*d, in, 4410);
    ASSERT_EQ(out.size(), in.size());
    int lo = 0, hi = 0;
    for (auto v : out) {
        lo = std::min<int>(lo, v);
        hi = std::max<int>(hi, v);
    }
    EXPECT_EQ(hi, 32767);
    EXPECT_EQ(lo, -32767);  // never -32768
}

// Deep sources run the same stage at 24 bits: same length and timing as the 16-bit stage
// (within its rounding), and a boost clips at 24-bit full scale instead of wrapping.
TEST(Resampler, DeepSamplesFollowThe16BitPathAt24Bits) {
    struct Case {
        std::uint32_t in, out;
        int inCh, outCh;
        bool eq;
    };
    auto wideConvert = [](DspState& d, const std::vector<std::int32_t>& in, int ch) {
        std::vector<std::int32_t> out;
        const std::size_t frames = in.size() / static_cast<std::size_t>(ch);
        for (std::size_t at = 0; at < frames; at += 3000) {
            const auto got = d.ProcessWide(in.data() + at * static_cast<std::size_t>(ch),
                                           std::min<std::size_t>(3000, frames - at));
            out.insert(out.end(), got.begin(), got.end());
        }
        const auto tail = d.FlushWide();
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    };
    for (const Case& c : {Case{96000, 44100, 2, 2, true}, Case{44100, 48000, 1, 2, false},
                          Case{44100, 44100, 2, 1, false}}) {
        const auto narrowIn = dsptest::Noise(c.in * static_cast<std::size_t>(c.inCh), 3);
        std::vector<std::int32_t> wideIn(narrowIn.size());
        for (std::size_t i = 0; i < wideIn.size(); ++i)
            wideIn[i] = narrowIn[i] * 65536 + static_cast<int>(i % 200) * 256 - 25600;
        auto narrow = Make(c.in, c.out, c.inCh, c.outCh);
        narrow->EqualizerOn = c.eq;
        const auto want = Convert(*narrow, narrowIn, 3000);
        auto wide = std::make_unique<DspState>();
        wide->EqualizerOn = c.eq;
        DspFormat f{c.in,  static_cast<std::uint16_t>(c.inCh),  16,
                    c.out, static_cast<std::uint16_t>(c.outCh), false};
        f.Wide = true;
        wide->ResamplerStart(f);
        const auto got = wideConvert(*wide, wideIn, c.inCh);
        ASSERT_EQ(got.size(), want.size()) << c.in << " -> " << c.out;
        int worst = 0;
        bool lowBits = false;
        for (std::size_t i = 0; i < got.size(); ++i) {
            worst = std::max(worst,
                             std::abs(static_cast<int>(std::lround(got[i] / 65536.0)) - want[i]));
            lowBits = lowBits || (got[i] & 0xFF00) != 0;
            ASSERT_EQ(got[i] & 0xFF, 0);
        }
        EXPECT_LE(worst, 2) << c.in << " -> " << c.out;
        EXPECT_TRUE(lowBits);
    }

    auto d = std::make_unique<DspState>();
    d->EqualizerOn = true;
    d->EqualizerLevels[10] = 0;  // master ~2.7x
    DspFormat f{44100, 1, 16, 44100, 1, false};
    f.Wide = true;
    d->ResamplerStart(f);
    const auto sine = dsptest::Sine(440, 44100, 44100, 30000.0);
    std::vector<std::int32_t> in(sine.begin(), sine.end());
    for (auto& v : in) v *= 65536;
    const auto out = wideConvert(*d, in, 1);
    EXPECT_EQ(*std::max_element(out.begin(), out.end()), 8388607 * 256);
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), -8388607 * 256);
}

TEST(Resampler, NeutralEqualizerMatchesEqualizerOff) {
    for (auto [from, to] :
         {std::pair{44100u, 44100u}, std::pair{44100u, 22050u}, std::pair{32000u, 44100u}}) {
        auto off = Make(from, to, 2, 2);
        auto on = Make(from, to, 2, 2);
        on->EqualizerOn = true;
        const auto in =
            dsptest::Interleave(dsptest::Noise(from, 3), dsptest::Sine(3000, from, from));
        const auto a = Convert(*off, in, from / 2);
        const auto b = Convert(*on, in, from / 2);
        ASSERT_EQ(a.size(), b.size()) << from << "->" << to;
        int worst = 0;
        for (std::size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
        EXPECT_LE(worst, 1) << from << "->" << to;
    }
}

TEST(Resampler, BandAt98IsSilenced) {
    for (std::uint32_t rate : {44100u, 22050u}) {
        auto d = Make(44100, rate);
        d->EqualizerOn = true;
        d->EqualizerLevels[5] = 98;  // 750-1500 Hz
        d->BuildEqualizerResponse();
        auto in = dsptest::Sine(1100, 44100, 44100 * 2, 16000.0);
        const auto keep = dsptest::Sine(4000, 44100, 44100 * 2, 16000.0);
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<std::int16_t>(in[i] + keep[i]);
        const auto out = Convert(*d, in, 44100);
        const auto db = dsptest::SpectrumDbfs(out, rate / 2, 14);
        const auto bin = [&](double hz) {
            return static_cast<std::size_t>(hz * 16384 / rate + 0.5);
        };
        EXPECT_LT(dsptest::MaxDb(db, bin(1050), bin(1150)), -85.0) << rate;
        EXPECT_NEAR(dsptest::MaxDb(db, bin(3950), bin(4050)), 20 * std::log10(16000.0 / 32767), 0.2)
            << rate;
    }
}

TEST(Resampler, EqualizerChangeIsPickedUpAtTheNextFrame) {
    auto d = Make(44100, 44100);
    d->EqualizerOn = true;
    const auto in = dsptest::Sine(1000, 44100, 44100 * 2, 16000.0);
    auto out = Convert(*d, std::vector<std::int16_t>(in.begin(), in.begin() + 44100), 44100, false);
    d->EqualizerLevels[5] = 99;
    d->EqualizerChanged = true;
    auto rest = Convert(*d, std::vector<std::int16_t>(in.begin() + 44100, in.end()), 44100);
    EXPECT_FALSE(d->EqualizerChanged.load());
    EXPECT_EQ(d->EqualizerResponse()[46], 0.0);
    out.insert(out.end(), rest.begin(), rest.end());
    ASSERT_EQ(out.size(), in.size());
    // Before the change the tone passes, after it the band is cut (measured in the spectrum:
    // unwindowed frames leave edge residue spread over other bins).
    const auto after = dsptest::SpectrumDbfs(out, 50000, 14);
    const std::size_t k = 1000 * 16384 / 44100;
    EXPECT_NEAR(dsptest::SineAmplitude(out, 1000, 44100, 4000, 30000), 16000.0, 16.0);
    EXPECT_LT(dsptest::MaxDb(after, k - 3, k + 4), -60.0);
}

// Every rate pair of the sample-rate list, mono and stereo, odd block sizes: the output lasts
// the input's duration times the ratio (rounded up), nothing lost at the end.
TEST(Resampler, OutputLengthAfterFlushForEveryRatePair) {
    const std::uint32_t rates[] = {8000, 11025, 16000, 22050, 32000, 44100};
    for (auto from : rates)
        for (auto to : rates)
            for (bool eq : {false, true}) {
                auto d = Make(from, to, 2, 2);
                d->EqualizerOn = eq;
                const std::size_t frames = from + 1234;
                const auto in =
                    dsptest::Interleave(dsptest::Noise(frames, 5), dsptest::Noise(frames, 6));
                const auto out = Convert(*d, in, from / 3 + 1);
                ASSERT_EQ(out.size() / 2, Expected(frames, from, to))
                    << from << "->" << to << " eq " << eq;
            }
}

// Inputs that are halved before conversion: the same length rule, odd lengths and blocks, and
// no shift in time (a decimator's delay would show as a phase error against the ideal tone).
TEST(Resampler, HighRateInputsKeepTheirLengthTimingAndPassBand) {
    for (std::uint32_t from : {88200u, 96000u, 176400u, 192000u})
        for (std::uint32_t to : {8000u, 22050u, 44100u, 48000u})
            for (bool eq : {false, true}) {
                auto d = Make(from, to, 2, 2);
                d->EqualizerOn = eq;
                const std::size_t frames = from / 2 + 1235;
                const auto in =
                    dsptest::Interleave(dsptest::Noise(frames, 5), dsptest::Noise(frames, 6));
                ASSERT_EQ(Convert(*d, in, from / 7 + 1).size() / 2, Expected(frames, from, to))
                    << from << "->" << to << " eq " << eq;
            }
    for (auto [from, to] : {std::pair{96000u, 48000u}, std::pair{192000u, 44100u}}) {
        auto d = Make(from, to);
        const auto out = Convert(*d, dsptest::Sine(500, from, from * 2, 20000.0), from / 3 + 1);
        const auto ideal = dsptest::Sine(500, to, to * 2, 20000.0);
        ASSERT_EQ(out.size(), ideal.size());
        int worst = 0;
        for (std::size_t i = to / 10; i < out.size() - to / 10; ++i)
            worst = std::max(worst, std::abs(out[i] - ideal[i]));
        EXPECT_LE(worst, 20) << from << "->" << to;
    }
    // Whole-number ratios pick input samples: the top of the pass band keeps its level.
    for (auto [from, to] : {std::pair{192000u, 8000u}, std::pair{96000u, 32000u},
                            std::pair{176400u, 22050u}, std::pair{192000u, 48000u}}) {
        auto d = Make(from, to);
        const double tone = 0.42 * to;
        const auto out = Convert(*d, dsptest::Sine(tone, from, from, 16000.0), from / 3 + 1);
        EXPECT_NEAR(dsptest::SineAmplitude(out, tone, to, to / 8, to * 7 / 8), 16000.0,
                    16000 * 0.01)
            << from << "->" << to;
    }
}

TEST(Resampler, ShortAndEmptyInputs) {
    for (std::size_t frames : {0u, 1u, 100u, 1500u}) {
        auto d = Make(44100, 32000);
        const auto out = Convert(*d, dsptest::Noise(frames, 9), 512);
        EXPECT_EQ(out.size(), Expected(frames, 44100, 32000)) << frames;
    }
}

TEST(Resampler, TailIsTheInputsTail) {
    // The tone runs to the very end: the last samples come out, not silence.
    auto d = Make(44100, 22050);
    const auto in = dsptest::Sine(500, 44100, 30000, 20000.0);
    const auto out = Convert(*d, in, 44100);
    ASSERT_EQ(out.size(), 15000u);
    EXPECT_GT(dsptest::PeakAbs(out, 14000, 14900), 18000);
}

TEST(Resampler, DownConversionAliasesStayBelowMinus50Dbfs) {
    struct Case {
        double tone;
        std::uint32_t to;
    };
    for (auto c : {Case{15000, 8000}, Case{12000, 16000}, Case{9000, 16000}, Case{20000, 32000}}) {
        auto d = Make(44100, c.to);
        const auto out = Convert(*d, dsptest::Sine(c.tone, 44100, 44100 * 3), 44100);
        const auto db = dsptest::SpectrumDbfs(out, c.to / 2, 14);
        EXPECT_LT(dsptest::MaxDb(db, 0, db.size()), -50.0) << c.tone << " -> " << c.to;
        // In time too, away from the switch-on and switch-off of the tone (whose clicks are
        // in-band content of the gated sine, not aliases).
        EXPECT_LT(dsptest::PeakAbs(out, c.to / 10, out.size() - c.to / 10), 104)
            << c.tone << " -> " << c.to;
    }
}

// Every input rate the readers take against every output rate: a full-scale tone above the
// output's Nyquist frequency ends at least 90 dB down; a -1 dBFS tone at 86 % of the lower
// Nyquist frequency keeps its level (within 0.05 dB) and comes out clean (SINAD; the 16-bit
// input and the truncated output alone allow about 95 dB).
TEST(Resampler, EveryRatePairFiltersAboveAndKeepsBelowTheOutputsNyquist) {
    const std::uint32_t inputs[] = {7350,  8000,  11025, 12000, 16000, 22050,  24000, 32000,
                                    37800, 44056, 44100, 48000, 88200, 176400, 192000};
    const std::uint32_t outputs[] = {8000,  11025, 12000, 16000, 22050,
                                     24000, 32000, 44100, 48000, 96000};
    for (auto from : inputs)
        for (auto to : outputs) {
            const auto convert = [&](double tone, double amp) {
                auto d = Make(from, to);
                return Convert(*d, dsptest::Sine(tone, from, from, amp), from / 3 + 1);
            };
            if (from > to)
                for (double tone : {0.502 * to, 0.25 * (to + from), 0.48 * from}) {
                    // Measured away from the tone's switch-on and switch-off clicks.
                    const auto db = dsptest::SpectrumDbfs(convert(tone, 32767.0), to / 4, 12);
                    EXPECT_LT(dsptest::MaxDb(db, 0, db.size()), -90.0)
                        << from << "->" << to << " tone " << tone;
                }
            const double tone = 0.43 * std::min(from, to), amp = 32767.0 * 0.891;
            const auto out = convert(tone, amp);
            EXPECT_NEAR(dsptest::SineAmplitude(out, tone, to, to / 8, to * 7 / 8), amp, amp * 0.006)
                << from << "->" << to;
            EXPECT_GT(dsptest::SineSinadDb(out, tone, to, to / 8, to * 7 / 8), 90.0)
                << from << "->" << to;
        }
}

TEST(Resampler, DownConversionKeepsThePassBand) {
    auto d = Make(44100, 8000);
    const auto out = Convert(*d, dsptest::Sine(1000, 44100, 44100 * 2, 16000.0), 44100);
    EXPECT_NEAR(dsptest::SineAmplitude(out, 1000, 8000, 2000, out.size() - 2000), 16000.0,
                16000.0 * 0.01);
}

TEST(Resampler, NoDriftOverManyBlocks) {
    // 44100 -> 32000 in one-second blocks for a minute: the sine keeps its phase to the end.
    auto d = Make(44100, 32000);
    const auto in = dsptest::Sine(100, 44100, 44100 * 60, 20000.0);
    const auto out = Convert(*d, in, 44100);
    ASSERT_EQ(out.size(), 32000u * 60);
    const auto ideal = dsptest::Sine(100, 32000, 32000 * 60, 20000.0);
    int worst = 0;
    for (std::size_t i = out.size() - 64000; i < out.size() - 4000; ++i)
        worst = std::max(worst, std::abs(out[i] - ideal[i]));
    EXPECT_LE(worst, 20);
}

TEST(Resampler, SwitchDuringStereoPreviewNeitherRepeatsNorDrops) {
    auto d = std::make_unique<DspState>();
    d->ResamplerStart({44100, 2, 16, 44100, 2, true});
    const auto l = dsptest::Sine(700, 44100, 44100 * 3, 12000.0);
    const auto r = dsptest::Noise(44100 * 3, 4, 8000);
    const auto in = dsptest::Interleave(l, r);
    std::vector<std::int16_t> out;
    const std::size_t block = 1152 * 2;
    std::size_t blockNo = 0;
    for (std::size_t at = 0; at < in.size(); at += block, ++blockNo) {
        d->EqualizerOn = (blockNo / 7) % 2 == 1;  // toggles every 7 blocks, neutral levels
        const std::size_t n = std::min(block, in.size() - at);
        auto o = d->Process(reinterpret_cast<const std::uint8_t*>(in.data() + at), n * 2);
        ASSERT_EQ(o.size() % 2, 0u);
        out.insert(out.end(), o.begin(), o.end());
    }
    auto t = d->Flush();
    out.insert(out.end(), t.begin(), t.end());
    ASSERT_EQ(out.size(), in.size());
    int worst = 0;
    for (std::size_t i = 0; i < in.size(); ++i) worst = std::max(worst, std::abs(out[i] - in[i]));
    EXPECT_LE(worst, 1);
}

TEST(Resampler, FlushAndFreeTwiceAreHarmless) {
    auto d = Make(44100, 22050, 2, 2);
    const auto in = dsptest::Interleave(dsptest::Noise(30000, 1), dsptest::Noise(30000, 2));
    auto out = Convert(*d, in, 10000);
    EXPECT_EQ(out.size(), 2 * 15000u);
    EXPECT_TRUE(d->Flush().empty());
    d->ResamplerFree();
    EXPECT_TRUE(d->Flush().empty());
    d->ResamplerFree();
    EXPECT_TRUE(d->Process(reinterpret_cast<const std::uint8_t*>(in.data()), 400).empty());
    DspState never;
    never.ResamplerFree();
    EXPECT_TRUE(never.Flush().empty());
    // A new job on the same state works again.
    d->ResamplerStart({44100, 2, 16, 22050, 2, false});
    EXPECT_EQ(Convert(*d, in, 10000).size(), 2 * 15000u);
}

TEST(Resampler, ChannelLayouts) {
    const auto l = dsptest::Sine(300, 22050, 22050, 10000.0);
    const auto r = dsptest::Sine(300, 22050, 22050, 10000.0, std::numbers::pi);  // l + r = 0
    {  // stereo to mono mixes before converting
        auto d = Make(22050, 44100, 2, 1);
        const auto out = Convert(*d, dsptest::Interleave(l, r), 5000);
        EXPECT_EQ(out.size(), 44100u);
        EXPECT_LE(dsptest::PeakAbs(out, 0, out.size()), 2);
    }
    {  // mono to stereo: one conversion on both sides
        auto d = Make(22050, 44100, 1, 2);
        const auto out = Convert(*d, l, 5000);
        ASSERT_EQ(out.size(), 2 * 44100u);
        for (std::size_t i = 0; i < out.size(); i += 2) ASSERT_EQ(out[i], out[i + 1]);
        EXPECT_GT(dsptest::PeakAbs(out, 0, out.size()), 9900);
    }
}

TEST(Resampler, EightBitInput) {
    auto d = Make(11025, 11025, 2, 1, 8);
    const std::uint8_t in[] = {0x80, 0x80, 0xFF, 0xFF, 0x00, 0x00, 0x81, 0x80};
    auto out = d->Process(in, sizeof in);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 32512);
    EXPECT_EQ(out[2], -32768);
    EXPECT_EQ(out[3], 0);  // (0x81 + 0x80) / 2 rounds down to 0x80
}

TEST(Resampler, PositionFollowsEmittedAudio) {
    auto d = Make(44100, 44100, 2, 2);
    d->Position().store(0.0);
    std::vector<std::int16_t> second(88200);
    d->Process(reinterpret_cast<const std::uint8_t*>(second.data()), 176400);
    EXPECT_EQ(d->PositionMs.load(), 1000.0);
    // Through the converter, in whatever pieces it emits, the total is the output's duration.
    auto c = Make(44100, 22050, 2, 2);
    c->Position().store(500.0);
    Convert(*c, std::vector<std::int16_t>(2 * 44100 * 2), 12345);
    EXPECT_EQ(c->PositionMs.load(), 2500.0);
}

TEST(Resampler, CallerMayAnalyseItself) {
    DspState d;
    d.ResamplerStart({44100, 2, 16, 44100, 2, false, /*AnalyseOutput=*/false});
    std::vector<std::int16_t> second(88200);
    const auto out = d.Process(reinterpret_cast<const std::uint8_t*>(second.data()), 176400);
    EXPECT_EQ(d.PositionMs.load(), 0.0);
    d.AnalyseBlock(out.data(), out.size_bytes(), 2, 44100);
    EXPECT_EQ(d.PositionMs.load(), 1000.0);
}

TEST(Resampler, RejectsImpossibleFormats) {
    DspState d;
    EXPECT_THROW(d.ResamplerStart({0, 2, 16, 44100, 2, false}), std::invalid_argument);
    EXPECT_THROW(d.ResamplerStart({44100, 3, 16, 44100, 2, false}), std::invalid_argument);
    EXPECT_THROW(d.ResamplerStart({44100, 2, 24, 44100, 2, false}), std::invalid_argument);
    EXPECT_TRUE(d.Flush().empty());
}

TEST(Resampler, LinksShareTheJobsControls) {
    std::atomic<bool> on{true};
    std::array<std::atomic<int>, kEqualizerLevels> levels;
    for (auto& v : levels) v = 50;
    levels[10] = 99;  // master silent
    std::atomic<bool> changed{true};
    std::atomic<double> pos{0.0};
    DspState d(DspLinks{&on, &levels, &changed, &pos});
    d.ResamplerStart({44100, 1, 16, 44100, 1, false});
    EXPECT_FALSE(changed.load());
    EXPECT_EQ(d.EqualizerGain(), 0.0f);
    const auto out = Convert(d, dsptest::Sine(500, 44100, 10000), 2000);
    EXPECT_EQ(dsptest::PeakAbs(out, 0, out.size()), 0);
    EXPECT_DOUBLE_EQ(pos.load(), 10000 * 1000.0 / 44100);
}

}  // namespace

namespace {

// The user interface moves the sliders and the switch while a preview converts.
TEST(Resampler, ControlsChangedFromAnotherThread) {
    auto d = std::make_unique<DspState>();
    d->ResamplerStart({44100, 2, 16, 44100, 2, true});
    const auto in = dsptest::Interleave(dsptest::Noise(44100 * 4, 1), dsptest::Noise(44100 * 4, 2));
    std::atomic<bool> done{false};
    std::thread ui([&] {
        for (int i = 0; !done.load(); ++i) {
            d->EqualizerOn = i % 3 != 0;
            d->EqualizerLevels[static_cast<std::size_t>(i % 11)] = (i * 37) % 100;
            d->EqualizerChanged = true;
            std::this_thread::yield();
        }
    });
    std::size_t total = 0;
    for (std::size_t at = 0; at < in.size(); at += 2 * 1152) {
        const std::size_t n = std::min<std::size_t>(2 * 1152, in.size() - at);
        total += d->Process(reinterpret_cast<const std::uint8_t*>(in.data() + at), n * 2).size();
    }
    total += d->Flush().size();
    done = true;
    ui.join();
    EXPECT_EQ(total, in.size());
    EXPECT_GT(d->Analysis.AnalysisIndex.load(), 0);
}

}  // namespace
