// Intensity stereo from the encoder: streams decode alike in our decoder and the peers, the
// stereo image of the intensity bands survives, and nothing above 96 kbit/s carries it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../mp3dec/decode_util.h"
#include "../mp3dec/tool_util.h"
#include "mp3enc/stereo/intensity.h"
#include "mp3encoder.h"
#include "support/require.h"

namespace {

constexpr int kRate = 44100;

struct Stream {
    std::vector<uint8_t> bytes;
    int intensityFrames = 0, frames = 0;
};

Stream Encode(const std::vector<int16_t>& pcm, int kbps, bool intensity) {
    Stream s;
    mp3enc::Mp3Encoder* e = mp3enc::Mp3EncoderCreate(kRate, 2, 0);
    mp3enc::Mp3EncoderSettings set = *mp3enc::Mp3EncoderGetSettings(e);
    set.intensityAllowed = intensity ? 1 : 0;
    mp3enc::Mp3EncoderSetSettings(e, &set);
    const mp3enc::Mp3Configuration c{kRate, 2, kbps * 1000};
    EXPECT_TRUE(mp3enc::Mp3EncoderSelectConfiguration(e, &c));
    std::vector<uint8_t> buf(16384);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
    int left = static_cast<int>(pcm.size() * 2), used = 0;
    while (left > 0) {
        const int w = mp3enc::Mp3EncoderEncode(e, p, std::min(left, 4608), &used, buf.data(),
                                               static_cast<int>(buf.size()));
        if (w < 0) break;
        s.bytes.insert(s.bytes.end(), buf.begin(), buf.begin() + w);
        p += used;
        left -= used;
    }
    for (int w; (w = mp3enc::Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(),
                                              static_cast<int>(buf.size()))) > 0;)
        s.bytes.insert(s.bytes.end(), buf.begin(), buf.begin() + w);
    mp3enc::Mp3EncoderDelete(e);
    // MPEG-1 frames at 44100 Hz: 144 * rate / 44100 bytes plus padding.
    static const int kKbps[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    for (size_t at = 0; at + 4 <= s.bytes.size();) {
        const uint8_t* h = &s.bytes[at];
        if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) break;
        ++s.frames;
        if (((h[3] >> 6) & 3) == 1 && ((h[3] >> 4) & 1)) ++s.intensityFrames;
        at += static_cast<size_t>(144 * 1000 * kKbps[(h[2] >> 4) & 15] / kRate + ((h[2] >> 1) & 1));
    }
    return s;
}

// Shared lows (tone and noise below 2 kHz) and highs panned by rightHighGain: noise, or with
// centreTone, tones at 8 and 9 kHz plus a 5 kHz tone in the centre. Coded mid/side, the side
// channel's bands around 5 kHz are empty below the bound and must not be read as intensity.
std::vector<int16_t> Signal(double seconds, double rightHighGain, bool centreTone) {
    std::mt19937 rng(7);
    std::normal_distribution<double> nd(0, 1);
    const size_t n = static_cast<size_t>(seconds * kRate);
    std::vector<int16_t> v(2 * n);
    double lp = 0, prev = 0;
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        lp += 0.2 * (nd(rng) - lp);
        const double low = 6000 * std::sin(2 * M_PI * 330 * t) + 3000 * lp;
        // First differences of white noise: a rising spectrum, most of it in the highs.
        const double w = nd(rng), diff = w - prev;
        prev = w;
        const double high =
            centreTone ? 2500 * (std::sin(2 * M_PI * 8000 * t) + std::sin(2 * M_PI * 9000 * t))
                       : 1500 * diff;
        const double centre = centreTone ? 2500 * std::sin(2 * M_PI * 5000 * t) : 0;
        v[2 * i] = static_cast<int16_t>(std::clamp(low + high + centre, -32000.0, 32000.0));
        v[2 * i + 1] = static_cast<int16_t>(
            std::clamp(0.8 * low + rightHighGain * high + centre, -32000.0, 32000.0));
    }
    return v;
}

// Energy of each channel's highs (a second-order difference as a crude high-pass).
void HighEnergy(const std::vector<int16_t>& pcm, double* l, double* r) {
    *l = *r = 0;
    for (size_t i = 4; i + 1 < pcm.size(); i += 2)
        for (int c = 0; c < 2; ++c) {
            const double d = pcm[i + c] - 2.0 * pcm[i + c - 2] + pcm[i + c - 4];
            (c ? *r : *l) += d * d;
        }
}

// Power of a channel at one frequency (a multiple of 10 Hz), averaged over 0.1 s blocks.
double TonePower(const std::vector<int16_t>& pcm, int ch, double hz) {
    const size_t block = kRate / 10;
    double sum = 0;
    int blocks = 0;
    for (size_t at = 0; (at + block) * 2 <= pcm.size(); at += block, ++blocks) {
        double re = 0, im = 0;
        for (size_t i = 0; i < block; ++i) {
            const double a = 2 * M_PI * hz * double(i) / kRate, v = pcm[2 * (at + i) + ch];
            re += v * std::cos(a);
            im += v * std::sin(a);
        }
        sum += re * re + im * im;
    }
    return blocks ? sum / blocks : 0;
}

std::string Save(const mp3test::TempDir& dir, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.File("is.mp3");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

TEST(IntensityStereo, StreamsDecodeAlikeInOurDecoderAndThePeers) {
    struct Case {
        const char* name;
        int kbps;
        double rightGain;
        bool centreTone;
    };
    TRALUX_REQUIRE_TOOL("mpg123");
    TRALUX_REQUIRE_TOOL("ffmpeg");
    for (const Case& c :
         {Case{"panned highs", 64, 0.3, false}, Case{"panned highs", 96, 0.5, false},
          Case{"centre tone", 80, 0.5, true}}) {
        SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.kbps));
        const auto pcm = Signal(1.5, c.rightGain, c.centreTone);
        const Stream s = Encode(pcm, c.kbps, true);
        ASSERT_GT(s.frames, 50);
        EXPECT_GT(s.intensityFrames, s.frames / 2);
        const mp3test::Decoded ours = mp3test::DecodeAll(s.bytes);
        ASSERT_EQ(ours.concealed, 0);
        ASSERT_EQ(ours.channels, 2);

        const Stream off = Encode(pcm, c.kbps, false);
        EXPECT_EQ(off.intensityFrames, 0);
        const std::vector<int16_t> plain = mp3test::DecodeAll(off.bytes).pcm;
        if (!c.centreTone) {
            // The stereo image above the bound: each channel's high-band energy as the stream
            // coded without intensity has it (within 1.5 dB); a wrong position or level
            // misses by far more.
            double onL, onR, offL, offR;
            HighEnergy(ours.pcm, &onL, &onR);
            HighEnergy(plain, &offL, &offR);
            EXPECT_NEAR(10 * std::log10(onL / offL), 0.0, 1.5);
            EXPECT_NEAR(10 * std::log10(onR / offR), 0.0, 1.5);
        } else {
            // The centre tone below the bound stays in both channels, at its level.
            for (int ch = 0; ch < 2; ++ch)
                EXPECT_NEAR(
                    10 * std::log10(TonePower(ours.pcm, ch, 5000) / TonePower(plain, ch, 5000)),
                    0.0, 1.0);
        }

        mp3test::TempDir dir;
        const std::string path = Save(dir, s.bytes);
        for (bool mpg123 : {true, false}) {
            const auto peer = mp3test::FfmpegDecode(path, dir.File("peer.raw"), mpg123);
            ASSERT_FALSE(peer.empty());
            // mpg123 decodes every frame as we do; ffmpeg drops the decoder delay at the start.
            const auto cmp = mp3test::Compare(ours.pcm, peer, mpg123 ? 0 : 2 * 1152, 2, false);
            EXPECT_GE(cmp.psnr, mpg123 ? 96.0 : 90.0) << (mpg123 ? "mpg123" : "ffmpeg");
            if (mpg123) {
                EXPECT_LE(cmp.maxDiff, 1);
            }
        }
    }
}

TEST(IntensityStereo, OnlyUpTo96kbitAndOnlyWhenAllowed) {
    const auto pcm = Signal(0.6, 0.3, false);
    EXPECT_EQ(Encode(pcm, 112, true).intensityFrames, 0);
    EXPECT_EQ(Encode(pcm, 128, true).intensityFrames, 0);
    EXPECT_EQ(Encode(pcm, 96, false).intensityFrames, 0);
    EXPECT_GT(Encode(pcm, 96, true).intensityFrames, 0);
}

}  // namespace
