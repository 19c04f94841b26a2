// Whole jobs along the paths users rarely take on purpose: MP3 output, a full disk, a stop in
// the middle, rate conversion with the equalizer, odd inputs.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <cmath>
#include <cstdio>
#include <numbers>

#include "engine/dsp/dsp_test_util.h"
#include "engine/job/errors.h"
#include "engine/job/job_fixture.h"
#include "mp3dec/decode_util.h"
#include "mp3dec/synth_stream.h"

namespace tralux {
namespace {

using namespace test;

class JobPathsTest : public JobFixture {};

// Left and right tones of different pitch, so a swapped or dropped channel shows.
std::vector<std::int16_t> TwoTones(std::size_t frames, std::uint32_t rate, double amp = 8000) {
    const auto l = dsptest::Sine(440, rate, frames, amp),
               r = dsptest::Sine(1000, rate, frames, amp);
    return dsptest::Interleave(l, r);
}

// Bit-rate index of every MPEG-1 Layer III frame up to `end`; empty when a frame is broken.
std::vector<int> Mpeg1BitRates(const Bytes& b, std::size_t end) {
    static const int kKbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    std::vector<int> rates;
    std::size_t at = 0;
    // Our streams start with an ID3v2 tag (when tags are on) and an Info frame: not audio.
    if (end >= 10 && b[0] == 'I' && b[1] == 'D' && b[2] == '3') {
        at = 10 +
             (std::size_t(b[6]) << 21 | std::size_t(b[7]) << 14 | std::size_t(b[8]) << 7 | b[9]);
        if (b[5] & 0x10) at += 10;
    }
    bool first = true;
    while (at + 4 <= end) {
        if (b[at] != 0xFF || (b[at + 1] & 0xFE) != 0xFA) return {};
        const int index = b[at + 2] >> 4;
        if (index == 0 || index == 15) return {};
        const auto bytes =
            static_cast<std::size_t>(144 * kKbps[index] * 1000 / 44100 + ((b[at + 2] >> 1) & 1));
        const std::string body(b.begin() + at + 4, b.begin() + std::min(at + 40, end));
        const bool header = first && (body.find("Info") != std::string::npos ||
                                      body.find("Xing") != std::string::npos);
        if (!header) rates.push_back(kKbps[index]);
        first = false;
        at += bytes;
    }
    if (at != end) return {};
    return rates;
}

// Signal-to-noise ratio of `test` against `ref` at the best alignment (the codec's delay).
double SnrDb(const std::vector<std::int16_t>& test, const std::vector<std::int16_t>& ref,
             long maxShift) {
    const mp3test::Comparison c = mp3test::Compare(test, ref, maxShift, 2, false);
    double signal = 0, noise = 0;
    const std::size_t shift = static_cast<std::size_t>(c.offset);
    for (std::size_t i = 0; i < c.compared; ++i) {
        signal += double(ref[i]) * ref[i];
        const double d = double(test[shift + i]) - ref[i];
        noise += d * d;
    }
    return 10 * std::log10(signal / std::max(noise, 1.0));
}

TEST_F(JobPathsTest, Mp3OutputDecodesBackToTheInput) {
    const auto input = TwoTones(44100, 44100);
    WriteFile(dir_ / "in.wav", SimpleWav(input, 2, 44100));
    Engine().OutputFormat.store(kFormatMp3);
    options_["MP3BitRate"] = 192;
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "out.mp3"), 0);
    const Bytes mp3 = ReadFile(dir_ / "out.mp3");
    ASSERT_GT(mp3.size(), 128u);
    // The stored bit rate is used and the ID3v1 tag closes the file.
    const std::size_t tag = mp3.size() - 128;
    EXPECT_EQ(std::string(mp3.begin() + tag, mp3.begin() + tag + 8), "TAGTitle");
    const auto rates = Mpeg1BitRates(mp3, tag);
    ASSERT_FALSE(rates.empty());
    for (int r : rates) ASSERT_EQ(r, 192);
    const auto decoded = mp3test::DecodeAll(Bytes(mp3.begin(), mp3.begin() + tag));
    EXPECT_EQ(decoded.channels, 2);
    EXPECT_EQ(decoded.sampleRate, 44100);
    ASSERT_GE(decoded.pcm.size(), input.size());
    const double snr = SnrDb(decoded.pcm, input, 2 * 3000);
    std::printf("MP3 192 kbit/s through a job: SNR %.1f dB\n", snr);
    EXPECT_GT(snr, 40.0);

    // Unset bit rate: 128 kbit/s; no tag without "PlaceClipInfo".
    options_.erase("MP3BitRate");
    options_["PlaceClipInfo"] = 0;
    WriteFile(dir_ / "short.wav", SimpleWav(TwoTones(4410, 44100), 2, 44100));
    ASSERT_EQ(Run(dir_ / "short.wav", dir_ / "plain.mp3"), 0);
    const Bytes plain = ReadFile(dir_ / "plain.mp3");
    const auto plainRates = Mpeg1BitRates(plain, plain.size());
    ASSERT_FALSE(plainRates.empty());
    EXPECT_EQ(plainRates.front(), 128);
}

TEST_F(JobPathsTest, EncoderSetupFailureEndsWith108) {
    WriteFile(dir_ / "in.wav", SimpleWav(TwoTones(8000, 8000), 2, 8000));
    Engine().OutputFormat.store(kFormatMp3);
    Engine().OutputRate.store(7000);  // no MPEG rate
    EXPECT_EQ(Run(dir_ / "in.wav", dir_ / "out.mp3"), kErrCodecInit);
    EXPECT_FALSE(Engine().JobRunning.load());
    EXPECT_EQ(GetLastErrorText(), "不能初始化編/解碼器. ");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.mp3"));
}

TEST_F(JobPathsTest, StopAndDiskFullDuringMp3Output) {
    const std::size_t frames = 44100 * 30;
    WriteFile(dir_ / "in.wav", SimpleWav(TwoTones(frames, 44100), 2, 44100));
    Engine().OutputFormat.store(kFormatMp3);
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "stopped.mp3", 0, kModeConvert));
    WaitForPosition(300);
    Engine().StopRequested.store(true);
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    // What was encoded is finished into whole frames and tagged.
    const Bytes stopped = ReadFile(dir_ / "stopped.mp3");
    ASSERT_GT(stopped.size(), 128u);
    EXPECT_EQ(std::string(stopped.end() - 128, stopped.end() - 125), "TAG");
    EXPECT_FALSE(Mpeg1BitRates(stopped, stopped.size() - 128).empty());
    const auto decoded = mp3test::DecodeAll(Bytes(stopped.begin(), stopped.end() - 128));
    EXPECT_GE(decoded.pcm.size(), 2u * 44100 * 300 / 1000);
    EXPECT_LT(decoded.pcm.size(), 2 * frames);

    SetDiskFullForTesting("full.mp3", 30000);
    EXPECT_EQ(Run(dir_ / "in.wav", dir_ / "full.mp3"), 0);
    ASSERT_FALSE(notes_.Messages().empty());
    EXPECT_EQ(notes_.Messages().back().text,
              "寫入檔案錯誤: " + (dir_ / "full.mp3") +
                  ": No space left on device; the unfinished file was removed");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "full.mp3"));
    // The encoder was released: the next job starts afresh.
    SetDiskFullForTesting("", 0);
    WriteFile(dir_ / "short.wav", SimpleWav(TwoTones(4410, 44100), 2, 44100));
    EXPECT_EQ(Run(dir_ / "short.wav", dir_ / "next.mp3"), 0);
    EXPECT_FALSE(Mpeg1BitRates(ReadFile(dir_ / "next.mp3"),
                               std::filesystem::file_size(dir_ / "next.mp3") - 128)
                     .empty());
}

TEST_F(JobPathsTest, StopWhileDecodingMp3Input) {
    const int total = 3000;  // 78 s of mono frames
    WriteFile(dir_ / "in.mp3", mp3test::Repeat(mp3test::MakeFrame(mp3test::ToneFrame()), total));
    Engine().OutputChannels.store(1);
    options_["PlaceClipInfo"] = 0;
    ASSERT_TRUE(StartConversion(dir_ / "in.mp3", dir_ / "out.wav", 0, kModeConvert));
    WaitForPosition(300);
    Engine().StopRequested.store(true);
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    const WavFile w = ReadWav(dir_ / "out.wav");
    EXPECT_GE(w.dataSize, 44100u * 2 * 300 / 1000);
    EXPECT_LT(w.dataSize, total * 1152u * 2);
    EXPECT_EQ(w.dataSize % 2, 0u);
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_GE(w.fileSize, 44u + w.dataSize);
}

// A failed write leaves nothing under the output's name, wherever the disk fills: in the
// payload, in the tail the rate converter flushes, or in the tags.
TEST_F(JobPathsTest, DiskFullRemovesTheUnfinishedOutput) {
    const auto input = TwoTones(44100 * 3, 44100);
    const Bytes wav = SimpleWav(input, 2, 44100);
    WriteFile(dir_ / "in.wav", wav);
    struct Case {
        const char* name;
        std::uint64_t fits;
        std::uint32_t rate;
    };
    for (const Case c :
         {Case{"out.wav", 44 + 100002, 44100}, Case{"tail.wav", 44 + 44100 * 2 * 3 - 100, 22050},
          Case{"tags.wav", 44 + input.size() * 2 + 10, 44100}}) {
        notes_.Clear();
        Engine().OutputRate.store(c.rate);
        SetDiskFullForTesting(c.name, c.fits);
        EXPECT_EQ(Run(dir_ / "in.wav", dir_ / c.name), 0) << c.name;
        ASSERT_EQ(notes_.Messages().size(), 1u) << c.name;
        EXPECT_EQ(notes_.Messages().back().text,
                  "寫入檔案錯誤: " + (dir_ / c.name) +
                      ": No space left on device; the unfinished file was removed");
        EXPECT_FALSE(std::filesystem::exists(dir_ / c.name)) << c.name;
    }
    EXPECT_EQ(ReadFile(dir_ / "in.wav"), wav);
}

// An input cut by someone else while the job reads it: the job fails naming the input, instead
// of passing off the shorter output as complete.
TEST_F(JobPathsTest, InputCutWhileConvertingFailsTheJob) {
    WriteFile(dir_ / "in.wav", SimpleWav(TwoTones(44100 * 20, 44100), 2, 44100));
    Engine().OutputFormat.store(kFormatMp3);
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "out.mp3", 0, kModeConvert));
    std::filesystem::resize_file(dir_ / "in.wav", 44 + 44100 * 4);
    WaitForJob();
    EXPECT_TRUE(Engine().FailureShown.load());
    ASSERT_FALSE(notes_.Messages().empty());
    EXPECT_EQ(notes_.Messages().back().text,
              "讀取檔案錯誤: " + (dir_ / "in.wav") +
                  ": the file became shorter while it was being converted; the unfinished "
                  "output " +
                  (dir_ / "out.mp3") + " was removed");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.mp3"));
}

// The same on a real file system that runs full, where this machine lets us mount one.
TEST_F(JobPathsTest, DiskFullOnASmallTmpfs) {
    const std::string mnt = dir_ / "small";
    std::filesystem::create_directory(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount here";
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{mnt};
    const auto input = TwoTones(44100 * 2, 44100);
    WriteFile(dir_ / "in.wav", SimpleWav(input, 2, 44100));
    EXPECT_EQ(Run(dir_ / "in.wav", mnt + "/out.wav"), 0);
    ASSERT_FALSE(notes_.Messages().empty());
    EXPECT_NE(notes_.Messages().back().text.find(mnt + "/out.wav: No space left on device"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(mnt + "/out.wav"));
}

TEST_F(JobPathsTest, RateConversionAndEqualizerInAJob) {
    // 44137 frames (not a whole number of output frames) of 1 kHz, band 6 (750-1500 Hz) at 0.
    const std::size_t frames = 44137;
    const auto tone = dsptest::Sine(1000, 44100, frames, 8000);
    WriteFile(dir_ / "in.wav", SimpleWav(dsptest::Interleave(tone, tone), 2, 44100));
    Engine().OutputRate.store(22050);
    Engine().EqualizerOn.store(true);
    Engine().EqualizerLevels[5].store(0);
    options_["PlaceClipInfo"] = 0;
    ASSERT_EQ(Run(dir_ / "in.wav", dir_ / "down.wav"), 0);
    const WavFile down = ReadWav(dir_ / "down.wav");
    EXPECT_EQ(down.rate, 22050u);
    EXPECT_EQ(down.dataSize, 22069u * 4);  // ceil(44137 / 2) frames after the flushed tail
    EXPECT_EQ(down.fileSize, 44u + down.dataSize);
    EXPECT_EQ(down.riffSize, down.fileSize - 8);
    ASSERT_EQ(down.pcm.size(), 22069u * 2);
    // Level 0 lifts its band by e (+8.7 dB), both channels alike.
    const auto left = dsptest::Channel(down.pcm, 0, 2), right = dsptest::Channel(down.pcm, 1, 2);
    const double gainDb =
        20 * std::log10(dsptest::SineAmplitude(left, 1000, 22050, 4000, 18000) / 8000);
    EXPECT_NEAR(gainDb, 8.69, 0.3);
    EXPECT_NEAR(dsptest::SineAmplitude(right, 1000, 22050, 4000, 18000),
                dsptest::SineAmplitude(left, 1000, 22050, 4000, 18000), 1.0);

    // Up and to mono, neutral levels: twice the frames, the tone's level kept.
    for (auto& l : Engine().EqualizerLevels) l.store(50);
    WriteFile(dir_ / "low.wav", SimpleWav(dsptest::Sine(1000, 22050, 11025, 8000), 1, 22050));
    Engine().OutputRate.store(44100);
    Engine().OutputChannels.store(1);
    ASSERT_EQ(Run(dir_ / "low.wav", dir_ / "up.wav"), 0);
    const WavFile up = ReadWav(dir_ / "up.wav");
    EXPECT_EQ(up.dataSize, 22050u * 2);
    EXPECT_EQ(up.riffSize, up.fileSize - 8);
    EXPECT_NEAR(dsptest::SineAmplitude(up.pcm, 1000, 44100, 4000, 18000), 8000, 80);
}

TEST_F(JobPathsTest, FloatNanAndAShortDataChunk) {
    Bytes f64;
    const double values[] = {0.5, -0.5, std::nan(""), INFINITY, 1.5, -1.0, -INFINITY, 1e-9};
    for (double v : values) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        for (int i = 0; i < 8; ++i) f64.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
    }
    WriteFile(dir_ / "f64.wav", Riff({{"fmt ", FmtPayload(3, 1, 8000, 64)}, {"data", f64}}));
    Engine().OutputRate.store(8000);
    Engine().OutputChannels.store(1);
    ASSERT_EQ(Run(dir_ / "f64.wav", dir_ / "f64out.wav"), 0);
    const WavFile w = ReadWav(dir_ / "f64out.wav");
    EXPECT_EQ(w.pcm,
              (std::vector<std::int16_t>{16384, -16384, 0, 32767, 32767, -32768, -32768, 0}));

    // The data chunk ends two bytes into its third frame; a LIST chunk follows.
    const Bytes data = Pcm16({1, -1, 2, -2, 3});
    WriteFile(
        dir_ / "cut.wav",
        Riff({{"fmt ", FmtPayload(1, 2, 8000, 16)}, {"data", data}, {"LIST", Bytes(64, 0x7F)}}));
    Engine().OutputChannels.store(2);
    ASSERT_EQ(Run(dir_ / "cut.wav", dir_ / "cutout.wav"), 0);
    const WavFile c = ReadWav(dir_ / "cutout.wav");
    EXPECT_EQ(c.dataSize, 8u);
    EXPECT_EQ(c.pcm, (std::vector<std::int16_t>{1, -1, 2, -2}));
}

TEST_F(JobPathsTest, CorruptMp3PastAGoodProbeEndsTheJob) {
    const Bytes frame = mp3test::MakeFrame(mp3test::ToneFrame());
    Bytes mp3 = mp3test::Repeat(frame, 100);  // 10400 bytes: the probe sees only good frames
    std::uint32_t x = 12345;
    for (int i = 0; i < 30000; ++i) {
        x = x * 1664525u + 1013904223u;
        mp3.push_back(static_cast<std::uint8_t>(i % 97 == 0 ? 0xFF : x >> 24));
    }
    const Bytes tail = mp3test::Repeat(frame, 50);
    mp3.insert(mp3.end(), tail.begin(), tail.end());
    mp3.insert(mp3.end(), frame.begin(), frame.begin() + 40);  // cut inside a frame
    WriteFile(dir_ / "bad.mp3", mp3);
    Engine().OutputChannels.store(1);
    options_["PlaceClipInfo"] = 0;
    EXPECT_EQ(Run(dir_ / "bad.mp3", dir_ / "out.wav"), 0);
    EXPECT_FALSE(Engine().JobRunning.load());
    const WavFile w = ReadWav(dir_ / "out.wav");
    EXPECT_EQ(w.riffSize, w.fileSize - 8);
    EXPECT_GE(w.dataSize, 148u * 1152 * 2);
    EXPECT_LE(w.dataSize, (151u + 30000 / 104) * 1152 * 2);
    // The good frames before the damage come out as the decoder gives them alone.
    const auto good = mp3test::DecodeAll(mp3test::Repeat(frame, 100));
    ASSERT_GE(w.pcm.size(), 99u * 1152);
    EXPECT_TRUE(std::equal(w.pcm.begin(), w.pcm.begin() + 99 * 1152, good.pcm.begin()));
}

}  // namespace
}  // namespace tralux
