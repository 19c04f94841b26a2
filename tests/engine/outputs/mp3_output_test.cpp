#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/outputs/mp3_output.h"
#include "fft/fft.h"
#include "mp3dec/decode_util.h"
#include "mp3encoder.h"

using namespace tralux;

namespace {

// The encoder driven the way a job drives it, one call at a time (no tags: the tests write
// their own).
std::unique_ptr<Output> g_mp3;
void Mp3EncoderStart(int channels, std::uint32_t rate, int kbps) {
    OutputSettings s;
    s.path = Engine().OutputPath;
    s.file = &Engine().OutputFile;
    s.channels = channels;
    s.rate = rate;
    s.kbps = kbps;
    s.placeTags = false;
    g_mp3.reset();
    g_mp3 = OpenMp3Output(s);
}
void Mp3EncoderFeed(const std::uint8_t* pcm, std::size_t bytes) {
    g_mp3->Write(pcm, bytes);
}
void Mp3EncoderFinish() {
    if (auto out = std::move(g_mp3)) out->Finish();
}
void Mp3EncoderRelease() {
    g_mp3.reset();
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/tralux_mp3out_" + std::to_string(getpid()) + "_" +
           name;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)),
                                     std::istreambuf_iterator<char>());
}

std::vector<std::int16_t> Tone(int rate, int channels, int frames) {
    std::vector<std::int16_t> v(static_cast<std::size_t>(frames * channels));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            v[static_cast<std::size_t>(i * channels + c)] =
                static_cast<std::int16_t>(9000 * std::sin(2 * M_PI * 700 * (c + 1) * i / rate));
    return v;
}

struct Frames {
    int count = 0;
    int bitRateIndex = -1;
    std::size_t end = 0;
};

Frames ScanMpeg1(const std::vector<std::uint8_t>& b, std::size_t limit) {
    static const int rates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    Frames f;
    std::size_t off = 0;
    while (off + 4 <= limit && b[off] == 0xFF && (b[off + 1] & 0xE0) == 0xE0) {
        int index = b[off + 2] >> 4, pad = (b[off + 2] >> 1) & 1;
        if (index == 0 || index == 15) break;
        f.bitRateIndex = index;
        off += static_cast<std::size_t>(144 * rates[index] * 1000 / 44100 + pad);
        ++f.count;
    }
    f.end = off;
    return f;
}

// Runs one MP3 output the way the job does: start, feed blocks, finish, tag.
std::vector<std::uint8_t> Convert(int channels, int kbps, int frames, bool tag,
                                  const std::vector<int>& blocks) {
    const std::string path = TempPath("out.mp3");
    EngineState& e = Engine();
    e.OutputPath = path;
    e.OutputFile.Open(path, File::Mode::CreateWrite);
    Mp3EncoderStart(channels, 44100, kbps);
    auto pcm = Tone(44100, channels, frames);
    const std::uint8_t* p = reinterpret_cast<const std::uint8_t*>(pcm.data());
    std::size_t left = pcm.size() * 2, bi = 0;
    while (left > 0) {
        std::size_t n = std::min<std::size_t>(
            left, static_cast<std::size_t>(blocks[bi++ % blocks.size()] * 2 * channels));
        Mp3EncoderFeed(p, n);
        p += n;
        left -= n;
    }
    Mp3EncoderFinish();
    if (tag) WriteId3v1(e.OutputFile, "Title", "Artist", "Comment");
    e.OutputFile.Close();
    auto bytes = ReadAll(path);
    std::remove(path.c_str());
    return bytes;
}

}  // namespace

TEST(Mp3Output, WritesWholeStreamWithItsEnd) {
    const int frames = 44100;
    auto bytes = Convert(2, 128, frames, false, {1000, 333, 4096, 1});
    Frames f = ScanMpeg1(bytes, bytes.size());
    EXPECT_EQ(f.end, bytes.size());
    EXPECT_EQ(f.bitRateIndex, 9);  // 128 kbit/s
    // The delay and the last partial granule are in the file: it covers the whole input.
    EXPECT_GE(static_cast<long>(f.count) * 1152, frames + 1057);
}

TEST(Mp3Output, TagFollowsTheLastFrame) {
    auto bytes = Convert(1, 64, 20000, true, {4410});
    ASSERT_GT(bytes.size(), 128u);
    const std::size_t tag = bytes.size() - 128;
    Frames f = ScanMpeg1(bytes, tag);
    EXPECT_EQ(f.end, tag);
    EXPECT_EQ(std::string(bytes.begin() + static_cast<long>(tag),
                          bytes.begin() + static_cast<long>(tag) + 3),
              "TAG");
    EXPECT_EQ(std::string(bytes.begin() + static_cast<long>(tag) + 3,
                          bytes.begin() + static_cast<long>(tag) + 33),
              "Title" + std::string(25, ' '));
    EXPECT_EQ(bytes.back(), 255);
}

TEST(Mp3Output, UnlistedBitRateTakesTheHighestListedBelowIt) {
    auto bytes = Convert(2, 100, 11025, false, {2048});
    Frames f = ScanMpeg1(bytes, bytes.size());
    EXPECT_EQ(f.bitRateIndex, 7);  // 44100 Hz stereo: 96 kbit/s
}

TEST(Mp3Output, NoEncoderForTheRateEndsWith108) {
    Engine().OutputPath = TempPath("bad.mp3");
    try {
        Mp3EncoderStart(2, 7000, 128);
        FAIL() << "no exception";
    } catch (const JobError& err) {
        EXPECT_EQ(err.code(), kErrCodecInit);
    }
    // Nothing open: finishing and releasing are harmless.
    Mp3EncoderFinish();
    Mp3EncoderRelease();
}

TEST(Mp3Output, ReleaseWritesNothing) {
    const std::string path = TempPath("rel.mp3");
    EngineState& e = Engine();
    e.OutputFile.Open(path, File::Mode::CreateWrite);
    Mp3EncoderStart(2, 44100, 128);
    const std::uint64_t head = e.OutputFile.Length();  // tag and Info frame placeholder
    auto pcm = Tone(44100, 2, 1000);
    Mp3EncoderFeed(reinterpret_cast<const std::uint8_t*>(pcm.data()), pcm.size() * 2);
    Mp3EncoderRelease();
    e.OutputFile.Close();
    EXPECT_EQ(ReadAll(path).size(), head);
    std::remove(path.c_str());
}

TEST(Mp3Output, Id3v1Layout) {
    const std::string path = TempPath("tag.bin");
    File f;
    f.Open(path, File::Mode::CreateWrite);
    WriteId3v1(f, "abcd", std::string(40, 'x'), "");
    f.Close();
    auto b = ReadAll(path);
    std::remove(path.c_str());
    ASSERT_EQ(b.size(), 128u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 7), "TAGabcd");
    EXPECT_EQ(std::string(b.begin() + 33, b.begin() + 63), std::string(30, 'x'));
    EXPECT_EQ(std::string(b.begin() + 63, b.begin() + 127),
              std::string(64, ' '));  // album, year, comment
    EXPECT_EQ(b[127], 255);
}

// The encoder's low-pass, measured: white noise encoded at 128 kbit/s stereo keeps its level up
// to the bandwidth the encoder reports and loses it above.
TEST(Mp3Output, NoiseSpectrumEndsAtTheReportedBandwidth) {
    const std::string path = TempPath("noise.mp3");
    EngineState& e = Engine();
    e.OutputFile.Open(path, File::Mode::CreateWrite);
    Mp3EncoderStart(2, 44100, 128);
    std::vector<std::int16_t> noise(44100 * 2 * 3);
    std::uint32_t x = 7;
    for (auto& v : noise) {
        x = x * 1664525u + 1013904223u;
        v = static_cast<std::int16_t>(static_cast<std::int32_t>(x) >> 19);  // +-4096
    }
    Mp3EncoderFeed(reinterpret_cast<const std::uint8_t*>(noise.data()), noise.size() * 2);
    mp3enc::Mp3Encoder* probe = mp3enc::Mp3EncoderCreate(44100, 2, 0);
    ASSERT_NE(probe, nullptr);
    const float reported = mp3enc::Mp3EncoderGetSettings(probe)->bandwidth;
    mp3enc::Mp3EncoderDelete(probe);
    Mp3EncoderFinish();
    e.OutputFile.Close();
    const auto decoded = mp3test::DecodeAll(ReadAll(path));
    std::remove(path.c_str());
    ASSERT_GT(decoded.pcm.size(), 44100u * 4);

    // Averaged power spectrum of the left channel, 2048-point Hann frames.
    constexpr int kOrder = 11, kSize = 1 << kOrder;
    tralux::fft::RealFft fft(kOrder);
    std::vector<double> power(kSize / 2 + 1), frame(kSize);
    std::vector<std::complex<double>> bins(fft.Bins());
    for (std::size_t at = 44100; at + kSize <= decoded.pcm.size() / 2 - 4410; at += kSize / 2) {
        for (int i = 0; i < kSize; ++i)
            frame[i] = decoded.pcm[2 * (at + i)] * (0.5 - 0.5 * std::cos(2 * M_PI * i / kSize));
        fft.Forward(frame.data(), bins.data());
        for (std::size_t k = 0; k < power.size(); ++k) power[k] += std::norm(bins[k]);
    }
    const auto bandDb = [&](double lo, double hi) {
        double sum = 0;
        int n = 0;
        for (int k = static_cast<int>(lo * kSize / 44100); k < static_cast<int>(hi * kSize / 44100);
             ++k, ++n)
            sum += power[static_cast<std::size_t>(k)];
        return 10 * std::log10(sum / n);
    };
    const double pass = bandDb(2000, 8000);
    // The edge: the first 200 Hz band, from 5 kHz up, that is 20 dB down.
    double edge = 0;
    for (double f = 5000; f < 22000; f += 100)
        if (bandDb(f, f + 200) < pass - 20) {
            edge = f;
            break;
        }
    std::printf("bandwidth %.0f Hz, measured edge %.0f Hz\n", reported, edge);
    EXPECT_GT(reported, 15000.0f);
    EXPECT_LT(reported, 17000.0f);
    EXPECT_NEAR(edge, reported, 500.0);
    EXPECT_NEAR(bandDb(reported - 3000, reported - 1000), pass, 3.0);
    EXPECT_LT(bandDb(reported + 500, 21000), pass - 40);
}
