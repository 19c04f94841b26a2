#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <set>
#include <vector>

#include "mp3enc/bitstream/frame.h"
#include "mp3encoder.h"
#include "mp3enc/engine/core_engine.h"

using namespace mp3enc;

namespace {

std::vector<int16_t> Sine(int rate, int channels, int frames, double hz = 1000.0) {
    std::vector<int16_t> v(static_cast<size_t>(frames * channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            v[static_cast<size_t>(i * channels + c)] =
                static_cast<int16_t>(8000 * std::sin(2 * M_PI * hz * (c + 1) * i / rate));
    return v;
}

// Feeds the PCM in blocks of the given sizes (cycled) and finishes the stream.
std::vector<uint8_t> Encode(Mp3Encoder* e, const std::vector<int16_t>& pcm,
                            const std::vector<int>& blocks, int capacity = 8192) {
    std::vector<uint8_t> out, buf(static_cast<size_t>(capacity));
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
    int left = static_cast<int>(pcm.size() * 2), bi = 0;
    while (left > 0) {
        int blk = std::min(left, blocks[static_cast<size_t>(bi++) % blocks.size()]);
        int off = 0;
        while (off < blk) {
            int used = 0;
            int w = Mp3EncoderEncode(e, p + off, blk - off, &used, buf.data(), capacity);
            EXPECT_GE(w, 0);
            if (w < 0) return out;
            out.insert(out.end(), buf.begin(), buf.begin() + w);
            if (used == 0 && w == 0)
                break;  // a partial sample frame: hand it in with the next block
            off += used;
        }
        p += off;
        left -= off;
        if (off == 0 && blk > 0) {
            ADD_FAILURE() << "encoder took nothing";
            return out;
        }
    }
    for (int guard = 0; guard < 10000; ++guard) {
        int used = 0;
        int w = Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), capacity);
        EXPECT_GE(w, 0);
        if (w <= 0) break;
        out.insert(out.end(), buf.begin(), buf.begin() + w);
    }
    return out;
}

}  // namespace

TEST(Mp3Encoder, DefaultBitRates) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderStatus s;
    Mp3EncoderGetStatus(e, &s);
    EXPECT_EQ(s.bitRate, 128000);
    EXPECT_EQ(s.outputRate, 44100);
    EXPECT_EQ(s.engine, 1);
    Mp3EncoderDelete(e);
    e = Mp3EncoderCreate(11025, 1, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderGetStatus(e, &s);
    EXPECT_EQ(s.bitRate, 16000);
    Mp3EncoderDelete(e);
    EXPECT_EQ(Mp3DefaultBitRate(8000, 2), 16000);
    EXPECT_EQ(Mp3DefaultBitRate(12345, 2), 0);
    EXPECT_EQ(Mp3EncoderCreate(44100, 3, 0), nullptr);
    EXPECT_EQ(Mp3EncoderDelete(nullptr), 0);
}

TEST(Mp3Encoder, ConfigurationListAtQualityZero) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(e, nullptr);
    const Mp3ConfigurationList* l = Mp3EncoderGetConfigurations(e);
    ASSERT_NE(l, nullptr);
    EXPECT_GT(l->count, 10);
    EXPECT_LE(l->count, 64);
    std::set<int> rates;
    for (int i = 0; i < l->count; ++i) {
        const Mp3Configuration& c = l->entries[i];
        rates.insert(c.sampleRate);
        EXPECT_EQ(44100 % c.sampleRate, 0);
        int v = VersionOfRate(c.sampleRate);
        // Only what the version's table can code.
        EXPECT_GE(c.bitRate, MinBitRate(v));
        EXPECT_LE(c.bitRate, MaxBitRate(v));
        if (c.channels == 2) {
            EXPECT_GE(c.bitRate, 20000);
        }
    }
    EXPECT_EQ(rates, (std::set<int>{11025, 22050, 44100}));
    // Every listed entry can be selected.
    for (int i = 0; i < l->count; ++i) {
        Mp3Configuration c = l->entries[i];
        EXPECT_EQ(Mp3EncoderSelectConfiguration(e, &c), 1)
            << c.sampleRate << " " << c.channels << " " << c.bitRate;
    }
    Mp3EncoderDelete(e);
}

TEST(Mp3Encoder, SelectingByBitRateAlone) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderSettings* s = Mp3EncoderGetSettings(e);
    s->monoConfigs = 0;
    ASSERT_EQ(Mp3EncoderSetSettings(e, s), 1);
    Mp3Configuration c{0, 2, 18000};
    EXPECT_EQ(Mp3EncoderSelectConfiguration(e, &c), 0);  // stereo at 18 kbit/s is invalid
    s->monoConfigs = 1;
    ASSERT_EQ(Mp3EncoderSetSettings(e, s), 1);
    EXPECT_EQ(Mp3EncoderSelectConfiguration(e, &c), 1);  // retried as mono
    Mp3EncoderStatus st;
    Mp3EncoderGetStatus(e, &st);
    EXPECT_EQ(st.outputChannels, 1);
    EXPECT_EQ(st.outputRate, 11025);
    Mp3Configuration tooHigh{44100, 2, 20000};  // MPEG-1 frames cannot carry 20 kbit/s
    EXPECT_EQ(Mp3EncoderSelectConfiguration(e, &tooHigh), 0);
    Mp3Configuration tooFast{48000, 2, 128000};  // above the input rate
    EXPECT_EQ(Mp3EncoderSelectConfiguration(e, &tooFast), 0);
    Mp3EncoderDelete(e);
}

TEST(Mp3Encoder, SettingsAreChecked) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderSettings s = *Mp3EncoderGetSettings(e);
    Mp3EncoderSettings bad = s;
    bad.inputFormat = 2;
    EXPECT_EQ(Mp3EncoderSetSettings(e, &bad), 0);
    bad = s;
    bad.paddingMode = 3;
    EXPECT_EQ(Mp3EncoderSetSettings(e, &bad), 0);
    bad = s;
    bad.bandwidth = 30000;
    EXPECT_EQ(Mp3EncoderSetSettings(e, &bad), 0);
    bad = s;
    bad.vbrQuality = 101;
    EXPECT_EQ(Mp3EncoderSetSettings(e, &bad), 0);
    s.bandwidth = 12000;
    ASSERT_EQ(Mp3EncoderSetSettings(e, &s), 1);
    EXPECT_FLOAT_EQ(Mp3EncoderGetSettings(e)->bandwidth, 12000);
    EXPECT_GT(Mp3EncoderGetSettings(e)->delay, 0);
    Mp3EncoderDelete(e);
}

TEST(Mp3Encoder, EncodeWithoutEngineIsAnError) {
    Mp3Encoder* e = Mp3EncoderCreate(11025, 2, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderSettings s = *Mp3EncoderGetSettings(e);
    s.vbrQuality = 50;  // below 16000 Hz: the re-initialization fails and leaves no engine
    EXPECT_EQ(Mp3EncoderSetSettings(e, &s), 0);
    std::vector<uint8_t> out(8192);
    int16_t pcm[4] = {};
    int used = 0;
    EXPECT_EQ(Mp3EncoderEncode(e, pcm, 8, &used, out.data(), 8192), -1);
    EXPECT_EQ(Mp3EncoderEncode(e, nullptr, 0, &used, out.data(), 8192), -1);
    EXPECT_EQ(Mp3EncoderEncode(nullptr, pcm, 8, &used, out.data(), 8192), -1);
    Mp3EncoderDelete(e);
}

TEST(Mp3Encoder, SmallOutputBufferIsRefused) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderStatus st;
    Mp3EncoderGetStatus(e, &st);
    ASSERT_GT(st.minOutputSpace, 0);
    std::vector<uint8_t> out(static_cast<size_t>(st.minOutputSpace));
    auto pcm = Sine(44100, 2, 1000);
    int used = 5;
    EXPECT_EQ(Mp3EncoderEncode(e, pcm.data(), 4000, &used, out.data(), st.minOutputSpace - 1), -1);
    EXPECT_EQ(used, 0);
    Mp3EncoderDelete(e);
}

// Blocks of any length give the same stream as whole granules: no silence is inserted.
TEST(Mp3Encoder, ArbitraryBlocksGiveTheSameStream) {
    auto pcm = Sine(44100, 2, 44100);
    Mp3Encoder* a = Mp3EncoderCreate(44100, 2, 0);
    Mp3Encoder* b = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_TRUE(a && b);
    auto one = Encode(a, pcm, {576 * 4});
    auto two = Encode(b, pcm, {1000, 4, 12, 4096, 2300, 4});
    EXPECT_GT(one.size(), 10000u);
    EXPECT_EQ(one, two);
    Mp3EncoderDelete(a);
    Mp3EncoderDelete(b);
}

// Model tables are shared between encoders: a reused or neighbouring set must never change a
// stream. Nine other set-ups push every earlier set out of the shared store.
TEST(Mp3Encoder, SharedModelTablesGiveTheSameStreamAsFreshOnes) {
    auto flush = [] {
        for (int rate : {8000, 11025, 12000, 16000, 24000, 32000, 44100, 48000})
            Mp3EncoderDelete(Mp3EncoderCreate(static_cast<float>(rate), 1, 0));
        Mp3EncoderDelete(Mp3EncoderCreate(44100, 2, 0));
    };
    auto encode = [](int channels) {
        Mp3Encoder* e = Mp3EncoderCreate(22050, channels, 0);
        EXPECT_NE(e, nullptr);
        auto out = e ? Encode(e, Sine(22050, channels, 11025), {4096}) : std::vector<uint8_t>{};
        Mp3EncoderDelete(e);
        return out;
    };
    flush();
    const auto monoFresh = encode(1);
    const auto stereoAfterMono = encode(2);
    EXPECT_EQ(encode(1), monoFresh);
    flush();
    EXPECT_EQ(encode(2), stereoAfterMono);
    EXPECT_GT(monoFresh.size(), 1000u);
}

TEST(Mp3Encoder, FreshEncoderFlushesWholeFrames) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(e, nullptr);
    std::vector<uint8_t> buf(8192);
    int used = 0;
    long total = 0;
    int calls = 0;
    for (;;) {
        int w = Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), 8192);
        ASSERT_GE(w, 0);
        if (w == 0) break;
        total += w;
        ++calls;
    }
    EXPECT_GT(total, 0);
    // 128 kbit/s at 44100 Hz: frames of 417 bytes, 418 with padding.
    const long frames = total / 417;
    EXPECT_LE(total - frames * 417, frames);
    // Another end-of-stream call stays at 0; input after the end is refused.
    EXPECT_EQ(Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), 8192), 0);
    int16_t pcm[4] = {};
    EXPECT_EQ(Mp3EncoderEncode(e, pcm, 8, &used, buf.data(), 8192), -1);
    Mp3EncoderDelete(e);
}

TEST(CoreEngine, ConfigSetterAndStreamCheck) {
    std::unique_ptr<EncoderConfig> cfg;
    EXPECT_TRUE(CreateEncoderConfig(&cfg).empty());
    EXPECT_EQ(cfg->quality, 9);
    int32_t q = 0;
    EXPECT_TRUE(SetEncoderConfig(cfg.get(), kCfgQuality, &q).empty());
    ErrorChain bad = SetEncoderConfig(cfg.get(), 1, &q);
    ASSERT_FALSE(bad.empty());
    EXPECT_EQ(bad[0].message, "invalid function parameter");
    InputFormat in;
    in.sampleRate = 44100;
    StreamParams sp;
    sp.channels = 2;
    sp.bitRate = 18000;
    ErrorChain e = CheckStreamParams(in, &sp, *cfg);
    ASSERT_FALSE(e.empty());
    EXPECT_EQ(e[0].message, "bitrate invalid for this mode");
    sp.channels = 1;
    EXPECT_TRUE(CheckStreamParams(in, &sp, *cfg).empty());
    sp.bitRate = 7999;
    EXPECT_EQ(CheckStreamParams(in, &sp, *cfg)[0].message,
              "bitrates < 8000 not supported by ISO MPEG Layer-3");
    sp.bitRate = 320001;
    EXPECT_EQ(CheckStreamParams(in, &sp, *cfg)[0].message,
              "bitrates > 320000 not supported by ISO MPEG Layer-3");
}

TEST(CoreEngine, PaddingPeriodOfNonIsoRates) {
    int period = 0, bytes = 0;
    BitRatePeriod(20000, 16000, 0, &period, &bytes);
    EXPECT_EQ(period, 2);
    EXPECT_EQ(bytes, 72 + 108);
    BitRatePeriod(128000, 44100, 0, &period, &bytes);
    EXPECT_EQ(period, 1);
    EXPECT_EQ(bytes, 1);
    // 3 frames at 16 and 1 at 24 kbit/s; with ISO padding the padding rule governs instead.
    BitRatePeriod(18000, 11025, 1, &period, &bytes);
    EXPECT_EQ(period, 4);
    BitRatePeriod(18000, 11025, 0, &period, &bytes);
    EXPECT_EQ(period, 1);
}

TEST(CoreEngine, SmallCapacityWritesAndTakesNothing) {
    std::unique_ptr<EncoderConfig> cfg;
    CreateEncoderConfig(&cfg);
    InputFormat in;
    in.channels = 2;
    in.sampleRate = 48000;
    StreamParams sp;
    sp.channels = 2;
    sp.bitRate = 128000;
    sp.sampleRate = 32000;  // fractional ratio: the core engine's own converter
    std::unique_ptr<CoreEngine> e;
    ASSERT_TRUE(CreateEncoder(&e, in, sp, *cfg).empty());
    auto pcm = Sine(48000, 2, 4800);
    std::vector<uint8_t> out(8192);
    int used = 1, written = 1;
    EXPECT_TRUE(
        EncodeBuffer(e.get(), pcm.data(), 19200, out.data(), 5499, &used, &written).empty());
    EXPECT_EQ(used, 0);
    EXPECT_EQ(written, 0);
    EncoderInfo info;
    GetEncoderInfo(e.get(), &info);
    EXPECT_EQ(info.minOutputSpace, 5500);
    EXPECT_GT(info.delay, 1000);
    // A zero-length call on a fresh engine still writes the flush frames, then 0.
    std::unique_ptr<CoreEngine> f;
    ASSERT_TRUE(CreateEncoder(&f, in, sp, *cfg).empty());
    long total = 0;
    for (int i = 0; i < 100; ++i) {
        EXPECT_TRUE(EncodeBuffer(f.get(), nullptr, 0, out.data(), 8192, &used, &written).empty());
        if (written == 0) break;
        total += written;
    }
    EXPECT_GT(total, 0);
    EXPECT_TRUE(EncodeBuffer(f.get(), nullptr, 0, out.data(), 8192, &used, &written).empty());
    EXPECT_EQ(written, 0);
}

// Variable bit rate: frames follow the signal's demand, a quiet tone costs less than loud
// noise, and every frame is a whole table-rate frame back to back.
TEST(Mp3Encoder, VariableBitRateFollowsTheSignal) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderSettings s = *Mp3EncoderGetSettings(e);
    s.vbrQuality = 80;
    ASSERT_EQ(Mp3EncoderSetSettings(e, &s), 1);
    std::vector<int16_t> pcm = Sine(44100, 2, 44100, 440.0);
    for (auto& v : pcm) v = static_cast<int16_t>(v / 8);
    uint32_t seed = 1;
    for (int i = 0; i < 4 * 44100; ++i) {  // two seconds of stereo noise
        seed = seed * 1664525u + 1013904223u;
        pcm.push_back(static_cast<int16_t>(static_cast<int32_t>(seed >> 16) - 32768) / 2);
    }
    const std::vector<uint8_t> out = Encode(e, pcm, {4608});
    Mp3EncoderDelete(e);
    static const int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    std::vector<int> kbps;
    size_t at = 0;
    while (at + 4 <= out.size()) {
        ASSERT_EQ(out[at], 0xFF);
        const int index = out[at + 2] >> 4;
        ASSERT_TRUE(index >= 1 && index <= 14);
        kbps.push_back(kKbps[index]);
        at += static_cast<size_t>(144 * kKbps[index] * 1000 / 44100 + ((out[at + 2] >> 1) & 1));
    }
    EXPECT_EQ(at, out.size());
    ASSERT_GT(kbps.size(), 100u);
    const double tone = std::accumulate(kbps.begin() + 5, kbps.begin() + 35, 0.0) / 30;
    const double noise = std::accumulate(kbps.end() - 40, kbps.end() - 10, 0.0) / 30;
    EXPECT_LT(tone * 1.5, noise);
}

// Each level takes the model settings of its own rate: every level must open at every output
// rate it accepts, in mono and stereo, and a higher level never makes a larger stream.
TEST(Mp3Encoder, VariableBitRateLevelsOpenEverywhereAndOrderBySize) {
    for (int rate : {16000, 22050, 24000, 32000, 44100, 48000})
        for (int channels : {1, 2}) {
            std::mt19937 rng(7);
            std::normal_distribution<double> n(0, 3000);
            std::vector<int16_t> pcm = Sine(rate, channels, rate / 2, 440.0);
            for (auto& v : pcm) v = static_cast<int16_t>(v / 2 + n(rng));
            size_t before = SIZE_MAX;
            for (int level : {0, 2, 5, 9}) {
                SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(channels) +
                             " ch, level " + std::to_string(level));
                Mp3Encoder* e = Mp3EncoderCreate(static_cast<float>(rate), channels, 0);
                ASSERT_NE(e, nullptr);
                Mp3EncoderSettings s = *Mp3EncoderGetSettings(e);
                s.vbrQuality = 100 - 10 * level;
                ASSERT_EQ(Mp3EncoderSetSettings(e, &s), 1);
                const size_t size = Encode(e, pcm, {4608}).size();
                Mp3EncoderDelete(e);
                EXPECT_GT(size, 0u);
                EXPECT_LE(size, before);
                before = size;
            }
        }
}
