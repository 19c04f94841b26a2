// The engine's MP3 input: probing, ID3 texts, and whole conversions through the job driver.
#include "engine/inputs/mp3_input.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>

#include "engine/dsp/dsp_test_util.h"
#include "engine/job/engine_state.h"
#include "engine/job/job.h"
#include "engine/outputs/mp3_info_frame.h"
#include "mp3dec/decode_util.h"
#include "mp3dec/synth_stream.h"
#include "mp3encoder.h"
#include "platform/notify/notifier.h"
#include "support/require.h"
#include "support/wav_builder.h"

namespace tralux {
namespace {

using test::TempDir;

void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::uint8_t> Id3v1(const std::string& title, const std::string& artist,
                                const std::string& comment) {
    std::vector<std::uint8_t> tag(128, ' ');
    std::memcpy(tag.data(), "TAG", 3);
    std::memcpy(tag.data() + 3, title.data(), title.size());
    std::memcpy(tag.data() + 33, artist.data(), artist.size());
    std::memcpy(tag.data() + 97, comment.data(), comment.size());
    tag[127] = 255;
    return tag;
}

std::vector<std::uint8_t> Id3v2(std::size_t body) {
    // Sync-like bytes inside the tag must not be taken for frames.
    std::vector<std::uint8_t> tag(10 + body, 0xFF);
    const std::uint8_t head[10] = {'I',
                                   'D',
                                   '3',
                                   3,
                                   0,
                                   0,
                                   static_cast<std::uint8_t>((body >> 21) & 0x7F),
                                   static_cast<std::uint8_t>((body >> 14) & 0x7F),
                                   static_cast<std::uint8_t>((body >> 7) & 0x7F),
                                   static_cast<std::uint8_t>(body & 0x7F)};
    std::copy(head, head + 10, tag.begin());
    return tag;
}

// Mono 44100 Hz frames at 32 kbit/s with sound in both granules.
std::vector<std::uint8_t> ToneStream(int frames) {
    return mp3test::Repeat(mp3test::MakeFrame(mp3test::ToneFrame()), frames);
}

std::vector<std::uint8_t> StereoStream(int frames) {
    mp3test::FrameSpec s = mp3test::ToneFrame();
    s.mono = false;
    return mp3test::Repeat(mp3test::MakeFrame(s), frames);
}

std::vector<std::uint8_t> operator+(std::vector<std::uint8_t> a,
                                    const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(ProbeMp3Test, FillsTheStreamDescription) {
    TempDir dir;
    const std::string path = dir / "My Song.mp3";
    WriteBytes(path, StereoStream(100));
    File f;
    f.Open(path, File::Mode::Read);
    f.Seek(4);
    StreamInfo info;
    ASSERT_TRUE(ProbeMp3(f, info, true));
    EXPECT_EQ(info.Kind, kKindMp3);
    EXPECT_EQ(info.SampleRate, 44100u);
    EXPECT_EQ(info.Channels, 2);
    EXPECT_EQ(info.BitsPerSample, 16);
    EXPECT_EQ(info.BitRate, 32000u);
    EXPECT_EQ(info.BitRate2, 32000u);
    EXPECT_EQ(info.DataSize, 10400u);
    EXPECT_EQ(info.BlockAlign, 1);
    EXPECT_EQ(info.CodecName, "MP3");
    EXPECT_EQ(info.Title, "My Song");
    EXPECT_EQ(info.DurationMs, 2600u);
    EXPECT_EQ(info.FirstFrameOffset, 0u);  // the first frame at offset 0 is found
    EXPECT_EQ(f.Position(), 4u);
}

TEST(ProbeMp3Test, ShortFilesAndLargeId3v2Tags) {
    TempDir dir;
    File f;
    StreamInfo info;
    WriteBytes(dir / "one.mp3", ToneStream(1));
    f.Open(dir / "one.mp3", File::Mode::Read);
    EXPECT_TRUE(ProbeMp3(f, info, true));
    f.Close();

    // A picture far larger than the probe's 8192 bytes.
    WriteBytes(dir / "tagged.mp3", Id3v2(30000) + ToneStream(50));
    f.Open(dir / "tagged.mp3", File::Mode::Read);
    ASSERT_TRUE(ProbeMp3(f, info, true));
    EXPECT_EQ(info.FirstFrameOffset, 30010u);
    EXPECT_EQ(info.SampleRate, 44100u);
    EXPECT_EQ(info.Channels, 1);
    EXPECT_EQ(info.DurationMs, 1300u);
    f.Close();

    WriteBytes(dir / "noise.mp3", std::vector<std::uint8_t>(20000, 0x41));
    f.Open(dir / "noise.mp3", File::Mode::Read);
    EXPECT_FALSE(ProbeMp3(f, info, true));
}

TEST(ReadId3v1Test, TextsAreTrimmedAndThePositionKept) {
    TempDir dir;
    WriteBytes(dir / "t.mp3", ToneStream(5) + Id3v1("Song", "Some Band", "free to copy"));
    File f;
    f.Open(dir / "t.mp3", File::Mode::Read);
    f.Seek(17);
    std::string title, artist, comment;
    ASSERT_TRUE(ReadId3v1(f, title, artist, comment));
    EXPECT_EQ(title, "Song");
    EXPECT_EQ(artist, "Some Band");
    EXPECT_EQ(comment, "free to copy");
    EXPECT_EQ(f.Position(), 17u);
    StreamInfo info;
    ASSERT_TRUE(ProbeMp3(f, info, true));
    EXPECT_EQ(info.Title, "Song");
    EXPECT_EQ(info.Comment, "free to copy");
    EXPECT_EQ(info.Copyright, "");
    EXPECT_EQ(info.DurationMs, 130u);  // the tag is not counted as stream
}

class Mp3ConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetNotifier(&notes_);
        SetOptionReader([](std::string_view) { return -1; });
        EngineState& e = Engine();
        e.LastError.store(0);
        e.OutputFormat.store(kFormatWav);
        e.OutputMode.store(kModeConvert);
        e.EqualizerOn.store(false);
        e.StartMs.store(0);
        e.TagTitle = e.TagArtist = e.TagCopyright = "";
    }
    void TearDown() override {
        Engine().StopRequested.store(true);
        WaitForJob();
        Engine().StopRequested.store(false);
        SetOptionReader(nullptr);
        SetNotifier(nullptr);
    }
    // Converts to WAV at the input's own format; returns the PCM payload.
    std::vector<std::int16_t> Convert(const std::vector<std::uint8_t>& mp3, int rate,
                                      int channels) {
        const std::string in = dir_ / "in.mp3", out = dir_ / "out.wav";
        WriteBytes(in, mp3);
        Engine().OutputRate.store(static_cast<std::uint32_t>(rate));
        Engine().OutputChannels.store(static_cast<std::uint16_t>(channels));
        Engine().ReplaceOutput.store(true);  // every call writes the same name
        EXPECT_TRUE(StartConversion(in, out, 0, kModeConvert));
        WaitForJob();
        EXPECT_EQ(Engine().LastError.load(), 0);
        const auto wav = test::ReadFile(out);
        std::vector<std::int16_t> pcm;
        for (std::size_t i = 12; i + 8 <= wav.size();) {
            const std::uint32_t size =
                wav[i + 4] | wav[i + 5] << 8 | wav[i + 6] << 16 | wav[i + 7] << 24;
            if (std::memcmp(wav.data() + i, "data", 4) == 0) {
                pcm.resize(std::min<std::size_t>(size, wav.size() - i - 8) / 2);
                std::memcpy(pcm.data(), wav.data() + i + 8, pcm.size() * 2);
                break;
            }
            i += 8 + size + (size & 1);
        }
        return pcm;
    }
    TempDir dir_;
    RecordingNotifier notes_;
};

// Every frame reaches the output, the last ones in the decoder's buffer included.
TEST_F(Mp3ConvertTest, WholeStreamIsDecoded) {
    const auto mp3 = Id3v2(20000) + StereoStream(60) + Id3v1("Title", "", "");
    const auto pcm = Convert(mp3, 44100, 2);
    const auto direct = mp3test::DecodeAll(StereoStream(60));
    ASSERT_EQ(direct.pcm.size(), 60u * 2304);
    EXPECT_EQ(pcm, direct.pcm);
}

TEST_F(Mp3ConvertTest, OneFrameFile) {
    EXPECT_EQ(Convert(ToneStream(1), 44100, 1).size(), 1152u);
}

TEST_F(Mp3ConvertTest, StartPositionSeeks) {
    Engine().StartMs.store(1000);
    const auto pcm = Convert(ToneStream(100), 44100, 1);  // 2.6 s
    // 1000 ms at 32 kbit/s is byte 4000, inside frame 38; the decoder resynchronises there.
    EXPECT_NEAR(static_cast<double>(pcm.size()), (100 - 39) * 1152.0, 2 * 1152.0);
}

// Our encoder's stream of interleaved 16-bit PCM at 44100 Hz.
std::vector<std::uint8_t> Encode(const std::vector<std::int16_t>& pcm, int channels) {
    mp3enc::Mp3Encoder* e = mp3enc::Mp3EncoderCreate(44100, channels, 0);
    std::vector<std::uint8_t> out, buf(16384);
    const auto* p = reinterpret_cast<const std::uint8_t*>(pcm.data());
    int left = static_cast<int>(pcm.size() * 2), used = 0, n = 0;
    while (left > 0 && (n = mp3enc::Mp3EncoderEncode(e, p, left, &used, buf.data(), 16384)) >= 0) {
        out.insert(out.end(), buf.begin(), buf.begin() + n);
        p += used;
        left -= used;
    }
    while ((n = mp3enc::Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), 16384)) > 0)
        out.insert(out.end(), buf.begin(), buf.begin() + n);
    mp3enc::Mp3EncoderDelete(e);
    return out;
}

// Frames switching between mono and stereo keep the first frame's format: stereo frames are
// mixed down as (left + right) / 2, mono frames doubled onto both sides.
TEST_F(Mp3ConvertTest, ChannelCountChangesMidStream) {
    const std::size_t n = 44100;
    const auto mono = Encode(dsptest::Sine(440, 44100, n, 10000), 1);
    // Stereo part: 1 kHz on the left only, 2.5 kHz on the right only.
    const auto stereo = Encode(dsptest::Interleave(dsptest::Sine(1000, 44100, n, 10000),
                                                   dsptest::Sine(2500, 44100, n, 6000)),
                               2);
    const std::size_t monoLen = mp3test::DecodeAll(mono).pcm.size();
    const std::size_t stereoLen = mp3test::DecodeAll(stereo).pcm.size() / 2;

    const auto down = Convert(mono + stereo + mono, 44100, 1);
    ASSERT_GE(down.size(), 2 * monoLen + stereoLen - 2 * 1152);
    const std::size_t from = monoLen + n / 4, to = monoLen + 3 * n / 4;
    EXPECT_NEAR(dsptest::SineAmplitude(down, 1000, 44100, from, to), 5000, 250);
    EXPECT_NEAR(dsptest::SineAmplitude(down, 2500, 44100, from, to), 3000, 150);
    EXPECT_NEAR(dsptest::SineAmplitude(down, 440, 44100, n / 4, 3 * n / 4), 10000, 500);

    const auto both = Convert(stereo + mono, 44100, 2);
    ASSERT_GE(both.size(), 2 * (stereoLen + monoLen - 2 * 1152));
    const auto left = dsptest::Channel(both, 0, 2), right = dsptest::Channel(both, 1, 2);
    EXPECT_NEAR(dsptest::SineAmplitude(left, 1000, 44100, n / 4, 3 * n / 4), 10000, 500);
    EXPECT_LT(dsptest::SineAmplitude(right, 1000, 44100, n / 4, 3 * n / 4), 100);
    EXPECT_TRUE(std::equal(left.begin() + static_cast<long>(stereoLen + 1152), left.end(),
                           right.begin() + static_cast<long>(stereoLen + 1152)));
    EXPECT_NEAR(dsptest::SineAmplitude(left, 440, 44100, stereoLen + n / 4, stereoLen + 3 * n / 4),
                10000, 500);
}

TEST_F(Mp3ConvertTest, LameFileWithTags) {
    TRALUX_REQUIRE_TOOL("lame");
    TRALUX_REQUIRE_TOOL("sox");
    const std::string wav = dir_ / "src.wav", mp3 = dir_ / "src.mp3";
    ASSERT_EQ(
        std::system(
            ("sox -n -r 22050 -c 2 -b 16 '" + wav + "' synth 3 sine 440 sine 550 vol 0.5").c_str()),
        0);
    ASSERT_EQ(
        std::system(("lame --quiet -V 5 --tt Tune --ta Maker '" + wav + "' '" + mp3 + "'").c_str()),
        0);
    const auto bytes = test::ReadFile(mp3);
    const auto pcm = Convert(bytes, 22050, 2);
    const auto direct = mp3test::DecodeAll(bytes);
    // The job leaves out the Info frame (576 samples here) and the encoder delay and padding it
    // records (decoder delay included, as players trim them); the rest is the same audio.
    const std::size_t id3 = mp3dec::Mp3Id3v2Size(bytes.data(), bytes.size());
    Mp3InfoTag tag;
    ASSERT_TRUE(ReadMp3InfoTag(bytes.data() + id3, bytes.size() - id3, tag));
    ASSERT_TRUE(tag.hasExtension);
    const std::size_t skip = 2 * static_cast<std::size_t>(576 + tag.delay + kMp3DecoderDelay);
    const std::size_t dropEnd = 2 * static_cast<std::size_t>(tag.padding - kMp3DecoderDelay);
    ASSERT_EQ(pcm.size() + skip + dropEnd, direct.pcm.size());
    EXPECT_TRUE(
        std::equal(pcm.begin(), pcm.end(), direct.pcm.begin() + static_cast<std::ptrdiff_t>(skip)));
    File f;
    f.Open(mp3, File::Mode::Read);
    StreamInfo info;
    ASSERT_TRUE(ProbeMp3(f, info, true));
    EXPECT_EQ(info.Title, "Tune");
    EXPECT_EQ(info.Artist, "Maker");
    EXPECT_NEAR(info.DurationMs, 3000.0, 60.0);

    // A preview from a position starts at that sample, the recorded delay counted.
    InputOptions preview;
    preview.exactSeek = false;
    File g;
    g.Open(mp3, File::Mode::Read);
    auto in = OpenInput(g, preview);
    in->Seek(30000);
    std::vector<std::int16_t> rest(pcm.size());
    rest.resize(in->Read(reinterpret_cast<std::uint8_t*>(rest.data()), rest.size() * 2) / 2);
    ASSERT_EQ(rest.size(), pcm.size() - 60000);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), pcm.begin() + 60000));

    // Starting at 1.5 s goes through the Xing table: about half of the frames remain.
    Engine().StartMs.store(1500);
    const auto half = Convert(bytes, 22050, 2);
    EXPECT_NEAR(static_cast<double>(half.size()), direct.pcm.size() / 2.0, 3 * 1152.0);
}

}  // namespace
}  // namespace tralux

namespace tralux {
namespace {

// What an input pumps, pulled instead in odd sizes, and from an exact sample frame on.
TEST(Mp3InputInterface, ReadAndSeekGiveWhatPumpGives) {
    TempDir dir;
    const std::string path = dir / "in.mp3";
    WriteBytes(path, Encode(dsptest::Interleave(dsptest::Sine(700, 44100, 30000, 9000),
                                                dsptest::Sine(1300, 44100, 30000, 7000)),
                            2));
    struct Collect final : BlockSink {
        void Block(std::uint8_t* data, std::size_t bytes) override {
            all.insert(all.end(), data, data + bytes);
        }
        std::vector<std::uint8_t> all;
    };
    auto open = [&](File& file) { return OpenInput(file, InputOptions{}); };
    File a, b, c;
    a.Open(path, File::Mode::Read);
    b.Open(path, File::Mode::Read);
    c.Open(path, File::Mode::Read);
    Collect pumped;
    open(a)->Pump(pumped);
    ASSERT_GT(pumped.all.size(), 30000u * 4 - 2 * 4608);

    auto read = [](Input& in, std::size_t chunk) {
        std::vector<std::uint8_t> out, buf(chunk);
        for (std::size_t n; (n = in.Read(buf.data(), buf.size())) > 0;)
            out.insert(out.end(), buf.begin(), buf.begin() + static_cast<long>(n));
        return out;
    };
    EXPECT_EQ(read(*open(b), 4 * 333), pumped.all);
    auto seeking = open(c);
    seeking->Seek(12345);
    const std::vector<std::uint8_t> tail = read(*seeking, 4 * 1000 + 2);  // half frames left out
    ASSERT_EQ(tail.size(), pumped.all.size() - 12345 * 4);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), pumped.all.begin() + 12345 * 4));

    // A preview starts at the same sample, from a few frames back (or the first frame when
    // nearer); the warm-up frames leave no trace.
    for (std::uint64_t at : {1u, 1152u * 3 + 7u, 12345u, 1152u * 20u, 29000u}) {
        InputOptions preview;
        preview.exactSeek = false;
        File d;
        d.Open(path, File::Mode::Read);
        auto in = OpenInput(d, preview);
        in->Seek(at);
        const std::vector<std::uint8_t> rest = read(*in, 4 * 1000);
        ASSERT_EQ(rest.size(), pumped.all.size() - at * 4) << at;
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), pumped.all.begin() + at * 4)) << at;
    }
}

}  // namespace
}  // namespace tralux
