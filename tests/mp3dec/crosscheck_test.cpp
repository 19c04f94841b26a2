// Streams made by lame decode like ffmpeg decodes them (PSNR >= 90 dB after alignment), and
// the probe reports ffprobe's duration to within one frame.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "tool_util.h"
#include "support/require.h"

namespace {

struct Case {
    const char* name;
    int rate;
    int channels;
    const char* lameArgs;
    const char* synth;  // sox synth arguments
};

const char* kMusic = "synth 1.5 sine 220 sine 1250 synth 1.5 pinknoise mix";
const char* kClicks = "synth 0.01 square 2000 pad 0 0.23 repeat 5";

std::ostream& operator<<(std::ostream& os, const Case& c) {
    return os << c.name;
}

// Best alignment of our output (which keeps the encoder delay and the VBR header frame) against
// ffmpeg's trimmed output: a coarse search on a middle window, then the full comparison.
mp3test::Comparison Align(const std::vector<int16_t>& ours, const std::vector<int16_t>& ref,
                          int channels) {
    const long window = std::min<long>(8192, static_cast<long>(ref.size()) / 2);
    const long refStart = static_cast<long>(ref.size()) / 4;
    long bestShift = 0;
    double bestErr = 1e300;
    for (long shift = 0; shift <= 4000 * channels; shift += channels) {
        if (refStart + shift + window > static_cast<long>(ours.size())) break;
        double err = 0;
        for (long i = 0; i < window; ++i) {
            const double d = double(ours[refStart + shift + i]) - ref[refStart + i];
            err += d * d;
        }
        if (err < bestErr) bestErr = err, bestShift = shift;
    }
    return mp3test::Compare(ours, ref, bestShift, channels, false).offset == bestShift
               ? mp3test::Compare(ours, ref, bestShift, channels, false)
               : mp3test::Compare(std::vector<int16_t>(ours.begin() + bestShift, ours.end()), ref,
                                  0, 1, false);
}

class LameCrossCheck : public ::testing::TestWithParam<Case> {};

TEST_P(LameCrossCheck, DecodesLikeFfmpeg) {
    const Case& c = GetParam();
    for (const char* tool : {"sox", "lame", "ffmpeg", "ffprobe"}) TRALUX_REQUIRE_TOOL(tool);
    mp3test::TempDir dir;
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("out.mp3");
    ASSERT_TRUE(mp3test::Run("sox -n -r " + std::to_string(c.rate) + " -c " +
                             std::to_string(c.channels) + " -b 16 '" + wav + "' " + c.synth +
                             " vol 0.5"));
    ASSERT_TRUE(
        mp3test::Run(std::string("lame --quiet ") + c.lameArgs + " '" + wav + "' '" + mp3 + "'"));
    const auto bytes = mp3test::ReadFile(mp3);
    const mp3test::Decoded d = mp3test::DecodeAll(bytes, 1234);
    ASSERT_GT(d.frames, 0);
    EXPECT_EQ(d.sampleRate, c.rate);
    // ffmpeg reads lame's 24000 Hz streams with band 18 starting at line 330, not at the 332
    // they are encoded with (see BandEdgeToneKeepsItsLevel); mpg123 is the peer there.
    const bool mpg123 = c.rate == 24000;
    if (mpg123) TRALUX_REQUIRE_TOOL("mpg123");
    const auto ref = mp3test::FfmpegDecode(mp3, dir.File("ref.raw"), mpg123);
    ASSERT_FALSE(ref.empty());
    const int channels = d.channels;
    const mp3test::Comparison cmp = Align(d.pcm, ref, channels);
    std::printf("%s: %.1f dB, max diff %d, shift %ld\n", c.name, cmp.psnr, cmp.maxDiff, cmp.offset);
    EXPECT_GE(cmp.psnr, 90.0);

    // Probe duration against ffprobe's.
    mp3dec::Mp3InfoHandle info;
    ASSERT_EQ(mp3dec::Mp3InfoCreate(info), mp3dec::kOk);
    ASSERT_TRUE(mp3dec::Mp3InfoProbe(info, bytes.data(), std::min<size_t>(8192, bytes.size()),
                                     static_cast<int64_t>(bytes.size())));
    const mp3dec::Mp3StreamInfo* si = mp3dec::Mp3InfoGet(info);
    EXPECT_EQ(si->sampleRate, c.rate);
    EXPECT_EQ(si->channels,
              c.channels == 1 || std::string(c.lameArgs).find("-m m") != std::string::npos ? 1 : 2);
    FILE* p = popen(
        ("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + mp3 + "'").c_str(), "r");
    double seconds = 0;
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(std::fscanf(p, "%lf", &seconds), 1);
    pclose(p);
    const double frameMs = (c.rate > 24000 ? 1152.0 : 576.0) * 1000.0 / c.rate;
    EXPECT_NEAR(static_cast<double>(si->durationMs), seconds * 1000.0, frameMs + 1.0);
    mp3dec::Mp3InfoDelete(info);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LameCrossCheck,
    ::testing::Values(
        Case{"rate8000", 8000, 1, "-b 24", kMusic}, Case{"rate11025", 11025, 2, "-b 32", kMusic},
        Case{"rate12000", 12000, 2, "-b 32", kMusic}, Case{"rate16000", 16000, 1, "-b 48", kMusic},
        Case{"rate22050", 22050, 2, "-b 64", kMusic}, Case{"rate24000", 24000, 2, "-b 64", kMusic},
        Case{"rate32000", 32000, 2, "-b 96", kMusic}, Case{"rate44100", 44100, 2, "-b 128", kMusic},
        Case{"rate48000", 48000, 2, "-b 160", kMusic}, Case{"mono", 44100, 1, "-b 64 -m m", kMusic},
        Case{"downmix", 44100, 2, "-b 64 -m m", kMusic},
        Case{"stereo", 44100, 2, "-b 128 -m s", kMusic},
        Case{"joint", 44100, 2, "-b 128 -m j", kMusic},
        Case{"forcedMs", 44100, 2, "-b 128 -m f", kMusic},
        Case{"crc", 44100, 2, "-b 128 -p", kMusic}, Case{"vbrXing", 44100, 2, "-V 4", kMusic},
        Case{"vbrLowRate", 22050, 1, "-V 6", kMusic}, Case{"clicks", 44100, 2, "-b 128", kClicks},
        Case{"clicks8k", 8000, 1, "-b 16", kClicks}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// A tone on the edge of 24000 Hz band 18 (lines 330 and 331) in a lame stream with an Info tag
// keeps its level: the lines are scaled with the band they were encoded in.
TEST(LameCrossCheckBands, BandEdgeToneKeepsItsLevel) {
    for (const char* tool : {"sox", "lame"}) TRALUX_REQUIRE_TOOL(tool);
    mp3test::TempDir dir;
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("out.mp3");
    ASSERT_TRUE(mp3test::Run("sox -n -r 24000 -c 1 -b 16 '" + wav +
                             "' synth 2 sine 6880 vol 0.5"));
    ASSERT_TRUE(mp3test::Run("lame --quiet -b 64 --resample 24 '" + wav + "' '" + mp3 + "'"));
    const mp3test::Decoded d = mp3test::DecodeAll(mp3test::ReadFile(mp3), 4096);
    ASSERT_EQ(d.sampleRate, 24000);
    auto rms = [](const std::vector<int16_t>& v, size_t from, size_t to) {
        double sum = 0;
        for (size_t i = from; i < to; ++i) sum += double(v[i]) * v[i];
        return std::sqrt(sum / double(to - from));
    };
    // The middle second: past the encoder delay, before the end padding.
    ASSERT_GE(d.pcm.size(), 36000u);
    const double level = rms(d.pcm, 12000, 36000);
    EXPECT_NEAR(20 * std::log10(level / (0.5 * 32767 / std::sqrt(2.0))), 0.0, 1.0);
}

// A file with junk before the first frame and an ID3 version 1 tag at the end decodes whole.
TEST(LameCrossCheckTags, JunkAndId3v1) {
    for (const char* tool : {"sox", "lame", "ffmpeg"}) TRALUX_REQUIRE_TOOL(tool);
    mp3test::TempDir dir;
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("out.mp3");
    ASSERT_TRUE(mp3test::Run("sox -n -r 44100 -c 2 -b 16 '" + wav + "' " + kMusic + " vol 0.5"));
    ASSERT_TRUE(mp3test::Run("lame --quiet -b 128 --id3v1-only --tt Song --ta Band '" + wav +
                             "' '" + mp3 + "'"));
    const auto clean = mp3test::ReadFile(mp3);
    ASSERT_GT(clean.size(), 128u);
    ASSERT_EQ(std::string(clean.end() - 128, clean.end() - 125), "TAG");
    std::vector<uint8_t> junky;
    for (int i = 0; i < 1000; ++i) junky.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
    junky.push_back(0xFF);  // a lone sync byte just before the real first frame
    junky.insert(junky.end(), clean.begin(), clean.end());
    const mp3test::Decoded a = mp3test::DecodeAll(clean, 999);
    const mp3test::Decoded b = mp3test::DecodeAll(junky, 999);
    EXPECT_EQ(a.frames, b.frames);
    EXPECT_EQ(a.pcm, b.pcm);
    const auto ref = mp3test::FfmpegDecode(mp3, dir.File("ref.raw"));
    EXPECT_GE(Align(b.pcm, ref, 2).psnr, 90.0);
}

}  // namespace

namespace {

// Seeking into a stream that uses the reservoir: decoding restarts at the Xing table's offset,
// the first frame lacks its main data (concealed, silent after the reset) and the rest follows
// the uninterrupted decode exactly once the reservoir has refilled.
TEST(SeekIntoStream, XingOffsetThenRecovery) {
    for (const char* tool : {"sox", "lame"}) TRALUX_REQUIRE_TOOL(tool);
    mp3test::TempDir dir;
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("out.mp3");
    ASSERT_TRUE(mp3test::Run("sox -n -r 44100 -c 2 -b 16 '" + wav + "' " + kMusic + " vol 0.5"));
    ASSERT_TRUE(mp3test::Run("lame --quiet -V 2 '" + wav + "' '" + mp3 + "'"));
    const auto bytes = mp3test::ReadFile(mp3);
    mp3dec::Mp3InfoHandle info;
    ASSERT_EQ(mp3dec::Mp3InfoCreate(info), mp3dec::kOk);
    ASSERT_TRUE(mp3dec::Mp3InfoProbe(info, bytes.data(), std::min<size_t>(8192, bytes.size()),
                                     static_cast<int64_t>(bytes.size())));
    ASSERT_TRUE(mp3dec::Mp3InfoGet(info)->seekTable);
    const int64_t offset =
        mp3dec::Mp3InfoSeekOffset(info, mp3dec::Mp3InfoGet(info)->durationMs / 2);
    EXPECT_GT(offset, static_cast<int64_t>(bytes.size()) / 4);
    EXPECT_LT(offset, static_cast<int64_t>(bytes.size()) * 3 / 4);
    mp3dec::Mp3InfoDelete(info);

    const mp3test::Decoded whole = mp3test::DecodeAll(bytes);
    const std::vector<uint8_t> tail(bytes.begin() + offset, bytes.end());
    const mp3test::Decoded part = mp3test::DecodeAll(tail);
    ASSERT_GT(part.frames, 15);
    ASSERT_FALSE(part.statuses.empty());
    EXPECT_EQ(part.statuses.front(), mp3dec::kInfoMainData);
    for (size_t i = 0; i < 2304; ++i) ASSERT_EQ(part.pcm[i], 0);
    // The last frames of both decodes agree sample for sample.
    const size_t n = 5 * 2304;
    ASSERT_GT(part.pcm.size(), n);
    EXPECT_TRUE(std::equal(part.pcm.end() - n, part.pcm.end(), whole.pcm.end() - n));
}

}  // namespace

namespace {

// Mono output of a stereo stream (whose channels may switch blocks independently) equals the
// average of the stereo output.
TEST(MonoOutput, MatchesStereoAverage) {
    for (const char* tool : {"sox", "lame"}) TRALUX_REQUIRE_TOOL(tool);
    mp3test::TempDir dir;
    const std::string wav = dir.File("in.wav"), mp3 = dir.File("out.mp3");
    ASSERT_TRUE(mp3test::Run("sox -n -r 44100 -c 2 -b 16 '" + wav +
                             "' synth 1.2 square 2000 pinknoise pad 0.3 0 vol 0.4"));
    ASSERT_TRUE(mp3test::Run("lame --quiet -b 192 -m s '" + wav + "' '" + mp3 + "'"));
    const auto bytes = mp3test::ReadFile(mp3);
    const auto stereo = mp3test::DecodeAll(bytes);
    const auto mono = mp3test::DecodeAll(bytes, 4096, 0, true);
    ASSERT_EQ(mono.pcm.size() * 2, stereo.pcm.size());
    int worst = 0;
    for (size_t i = 0; i < mono.pcm.size(); ++i)
        worst = std::max(worst,
                         std::abs(2 * mono.pcm[i] - (stereo.pcm[2 * i] + stereo.pcm[2 * i + 1])));
    EXPECT_LE(worst, 3);  // rounding of three values
}

}  // namespace
