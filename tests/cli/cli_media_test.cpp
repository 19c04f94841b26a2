// Formats beyond WAV and MP3 through tralux-cli: FLAC and Opus out, anything the system's
// decoders know in, tags and cover art carried; checked against flac, metaflac, ffmpeg, opusdec.
#include <cmath>
#include <numbers>

#include "cli_fixture.h"
#include "support/require.h"

namespace tralux::test {
namespace {

using CliMedia = CliFixture;

std::string Dir(const std::string& d) {
    return " --output-dir " + d;
}

int Sh(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str());
}

// A 24-bit sine in `channels` equal channels, `db` relative to full scale.
Bytes Tone24(std::uint32_t rate, int channels, double freq, double db, std::size_t frames) {
    Bytes b;
    const double amp = 8388607.0 * std::pow(10.0, db / 20.0);
    for (std::size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int32_t>(
            std::lround(amp * std::sin(2 * std::numbers::pi * freq * i / rate)));
        for (int c = 0; c < channels; ++c)
            for (int k = 0; k < 3; ++k) b.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
    }
    return b;
}

// Least-squares fit of a sine of known frequency to channel `ch` over the middle half:
// its amplitude (full scale 1) and everything else against it, in dB.
struct SineFit {
    double amplitude = 0, sinadDb = 0;
};
SineFit FitSine(const std::vector<double>& s, int channels, int ch, double freq, double rate) {
    const std::size_t n = s.size() / static_cast<std::size_t>(channels);
    auto at = [&](std::size_t i) { return s[i * static_cast<std::size_t>(channels) + ch]; };
    double cc = 0, ss = 0, cs = 0, yc = 0, ys = 0;
    for (std::size_t i = n / 4; i < 3 * n / 4; ++i) {
        const double a = 2 * std::numbers::pi * freq * i / rate;
        cc += std::cos(a) * std::cos(a);
        ss += std::sin(a) * std::sin(a);
        cs += std::cos(a) * std::sin(a);
        yc += at(i) * std::cos(a);
        ys += at(i) * std::sin(a);
    }
    const double det = cc * ss - cs * cs, A = (yc * ss - ys * cs) / det,
                 B = (ys * cc - yc * cs) / det;
    double sig = 0, err = 0;
    for (std::size_t i = n / 4; i < 3 * n / 4; ++i) {
        const double a = 2 * std::numbers::pi * freq * i / rate;
        const double fit = A * std::cos(a) + B * std::sin(a);
        sig += fit * fit;
        err += (at(i) - fit) * (at(i) - fit);
    }
    return {std::hypot(A, B), 10 * std::log10(sig / std::max(err, 1e-30))};
}

// Little-endian signed samples of `width` bytes, full scale 1.
std::vector<double> Samples(const Bytes& raw, int width) {
    std::vector<double> s(raw.size() / static_cast<std::size_t>(width));
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t v = 0;
        for (int k = 0; k < width; ++k)
            v |= static_cast<std::uint32_t>(raw[i * width + k]) << (8 * (4 - width + k));
        s[i] = static_cast<std::int32_t>(v) / 2147483648.0;
    }
    return s;
}

// A small PNG made by ffmpeg (any bytes would do for the tags; a real image for the muxers).
std::string MakeCover(CliMedia& t, const std::string& png) {
    EXPECT_EQ(Sh("ffmpeg -y -f lavfi -i color=c=red:s=16x16 -frames:v 1 '" + png + "'"), 0);
    return png;
}

TEST_F(CliMedia, WavToFlacToWavIsBitExactAndCarriesTags) {
    TRALUX_REQUIRE_TOOL("flac");
    TRALUX_REQUIRE_TOOL("metaflac");
    const auto pcm = Tone(44100, 2, 44100 * 2 + 777, 100);
    WriteFile(P("src.wav"), SimpleWav(pcm, 2, 44100));
    ASSERT_EQ(RunCli("convert " + P("src.wav") + " --format flac --flac-level 8" + Dir(P("f"))), 0)
        << Err();
    EXPECT_EQ(Sh("flac -t -s '" + P("f/src.flac") + "'"), 0);
    const std::string md5 = Capture("metaflac --show-md5sum '" + P("f/src.flac") + "'");
    EXPECT_EQ(md5.find("00000000000000000000000000000000"), std::string::npos);
    ASSERT_EQ(RunCli("convert " + P("f/src.flac") + Dir(P("w"))), 0) << Err();
    EXPECT_EQ(ReadWavPcm(P("w/src.wav")).samples, pcm);

    // Tags written from an Ogg Vorbis input's comments survive into FLAC and Opus.
    TRALUX_REQUIRE_TOOL("ffmpeg");
    ASSERT_EQ(Sh("ffmpeg -y -i '" + P("src.wav") +
                 "' -c:a libvorbis -metadata title='晨光' "
                 "-metadata artist=Someone -metadata album=Disc -metadata date=2021 "
                 "-metadata tracknumber=3/9 -metadata genre=Jazz '" +
                 P("t.ogg") + "'"),
              0);
    ASSERT_EQ(RunCli("probe " + P("t.ogg")), 0);
    EXPECT_NE(Out().find("Vorbis,16 bits"), std::string::npos) << Out();
    ASSERT_EQ(RunCli("convert " + P("t.ogg") + " --format flac" + Dir(P("tf"))), 0) << Err();
    ASSERT_EQ(RunCli("convert " + P("t.ogg") + " --format opus --bitrate 96" + Dir(P("to"))), 0)
        << Err();
    for (const std::string out : {"tf/t.flac", "to/t.opus"}) {
        ASSERT_EQ(RunCli("probe " + P(out)), 0) << out;
        const std::string o = Out();
        for (const char* want :
             {"title: 晨光", "artist: Someone", "album: Disc", "year: 2021", "track: 3/9"})
            EXPECT_NE(o.find(want), std::string::npos) << out << ": " << want << "\n" << o;
    }
    const std::string list = Capture("metaflac --list '" + P("tf/t.flac") + "'");
    EXPECT_NE(list.find("TRACKTOTAL=9"), std::string::npos);
    EXPECT_NE(list.find("GENRE=Jazz"), std::string::npos);
}

// Inputs made by ffmpeg decode sample-aligned with ffmpeg's own decode; start positions are
// exact; the front cover reaches FLAC, Opus and MP3 outputs.
TEST_F(CliMedia, InputsDecodeAlignedWithStartAndCover) {
    TRALUX_REQUIRE_TOOL("ffmpeg");
    TRALUX_REQUIRE_TOOL("metaflac");
    WriteFile(P("src.wav"), SimpleWav(Tone(44100, 2, 44100 * 3, 3000), 2, 44100));
    const std::string png = MakeCover(*this, P("cover.png"));
    const Bytes cover = ReadFile(png);
    struct Case {
        const char* name;
        const char* codec;
        bool coverInFile;
    };
    for (const Case c :
         {Case{"a.flac", "-c:a flac", true}, Case{"a.ogg", "-c:a libvorbis", false},
          Case{"a.opus", "-c:a libopus", false}, Case{"a.m4a", "-c:a aac -b:a 192k", true},
          Case{"a.aiff", "-c:a pcm_s16be", false}}) {
        const std::string in = P(c.name);
        const std::string pic = c.coverInFile ? " -i '" + png +
                                                    "' -map 0 -map 1 -c:v copy "
                                                    "-disposition:v attached_pic"
                                              : "";
        ASSERT_EQ(Sh("ffmpeg -y -i '" + P("src.wav") + "'" + pic + " " + c.codec + " '" + in + "'"),
                  0)
            << c.name;
        ASSERT_EQ(Sh("ffmpeg -y -i '" + in + "' -map 0:a '" + P("ff.wav") + "'"), 0);
        ASSERT_EQ(RunCli("convert " + in + " -y" + Dir(P("o"))), 0) << c.name << Err();
        const std::string stem = std::string(c.name).substr(0, 1);
        const Pcm ours = ReadWavPcm(P("o/a.wav")), ff = ReadWavPcm(P("ff.wav"));
        EXPECT_EQ(ours.rate, ff.rate) << c.name;
        ASSERT_EQ(ours.Frames(), ff.Frames()) << c.name;
        int worst = 0;
        for (std::size_t i = 0; i < ours.samples.size(); ++i)
            worst = std::max(worst, std::abs(ours.samples[i] - ff.samples[i]));
        EXPECT_LE(worst, 1) << c.name;

        ASSERT_EQ(RunCli("convert " + in + " --start 1234 -y" + Dir(P("s"))), 0) << Err();
        const Pcm late = ReadWavPcm(P("s/a.wav"));
        const std::size_t skip = ours.rate * 1234 / 1000;
        ASSERT_EQ(late.Frames(), ours.Frames() - skip) << c.name;
        EXPECT_TRUE(std::equal(late.samples.begin(), late.samples.end(),
                               ours.samples.begin() + static_cast<std::ptrdiff_t>(2 * skip)))
            << c.name;

        if (!c.coverInFile) continue;
        ASSERT_EQ(RunCli("convert " + in + " --format flac -y" + Dir(P("c"))), 0) << Err();
        ASSERT_EQ(Sh("metaflac --export-picture-to='" + P("got.png") + "' '" + P("c/a.flac") + "'"),
                  0)
            << c.name;
        EXPECT_EQ(ReadFile(P("got.png")), cover) << c.name;
        ASSERT_EQ(RunCli("convert " + in + " --format opus -y" + Dir(P("c"))), 0) << Err();
        const std::string probe =
            Capture("ffprobe -v error -show_streams '" + P("c/a.opus") + "' 2>&1");
        EXPECT_NE(probe.find("attached_pic=1"), std::string::npos) << c.name;
        // MP3 holds it as the ID3v2 front cover, byte for byte.
        ASSERT_EQ(RunCli("convert " + in + " --format mp3 -y" + Dir(P("c"))), 0) << Err();
        ASSERT_EQ(Sh("ffmpeg -y -i '" + P("c/a.mp3") + "' -map 0:v -c copy -f image2 '" +
                     P("mp3.png") + "'"),
                  0)
            << c.name;
        EXPECT_EQ(ReadFile(P("mp3.png")), cover) << c.name;
    }
}

TEST_F(CliMedia, SurroundIsMixedDownAsWavIsAndOpusKeepsTheLength) {
    TRALUX_REQUIRE_TOOL("ffmpeg");
    TRALUX_REQUIRE_TOOL("opusdec");
    ASSERT_EQ(Sh("ffmpeg -y -f lavfi -i 'sine=f=300:d=1,aformat=s16' -f lavfi -i "
                 "'sine=f=500:d=1,aformat=s16' -filter_complex "
                 "'[0][1]amerge=inputs=2,pan=5.1|c0=c0|c1=c1|c2=c0|c3=c1|c4=c0|c5=c1' "
                 "-c:a pcm_s16le '" +
                 P("six.wav") + "'"),
              0);
    ASSERT_EQ(Sh("ffmpeg -y -i '" + P("six.wav") + "' -c:a flac '" + P("six.flac") + "'"), 0);
    ASSERT_EQ(RunCli("convert " + P("six.wav") + Dir(P("w"))), 0) << Err();
    ASSERT_EQ(RunCli("convert " + P("six.flac") + Dir(P("f"))), 0) << Err();
    const Pcm w = ReadWavPcm(P("w/six.wav")), f = ReadWavPcm(P("f/six.wav"));
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.samples, w.samples);

    ASSERT_EQ(RunCli("convert " + P("w/six.wav") + " --format opus --rate 32000" + Dir(P("o"))), 0)
        << Err();
    ASSERT_EQ(Sh("opusdec --rate 48000 --force-wav '" + P("o/six.opus") + "' '" + P("d.wav") + "'"),
              0);
    EXPECT_NEAR(static_cast<double>(ReadWavPcm(P("d.wav")).Frames()), 48000.0, 1.0);
}

// Deeper sources keep their samples in FLAC when nothing is converted (our WAV reader and the
// system's decoders, also from a start position) and 24 bits of precision through rate
// conversion, the equalizer and mixdowns; Opus is coded from them too.
TEST_F(CliMedia, DeepSourcesStayDeepInFlacAndOpus) {
    TRALUX_REQUIRE_TOOL("flac");
    TRALUX_REQUIRE_TOOL("metaflac");
    const Bytes payload = Noise24(48000 * 2 + 333);
    WriteFile(P("deep.wav"), Riff({{"fmt ", FmtPayload(1, 2, 48000, 24)}, {"data", payload}}));
    auto raw = [&](const std::string& flac) {
        EXPECT_EQ(Sh("flac -d -f -s --force-raw-format --endian=little --sign=signed -o '" +
                     P("raw.pcm") + "' '" + flac + "'"),
                  0);
        return ReadFile(P("raw.pcm"));
    };
    auto bps = [&](const std::string& flac) {
        return Capture("metaflac --show-bps '" + flac + "'");
    };
    ASSERT_EQ(RunCli("convert " + P("deep.wav") + " --format flac" + Dir(P("a"))), 0) << Err();
    EXPECT_EQ(bps(P("a/deep.flac")), "24\n");
    EXPECT_TRUE(raw(P("a/deep.flac")) == payload);

    // The 24-bit FLAC as input, from 0.5 s on.
    ASSERT_EQ(RunCli("convert " + P("a/deep.flac") + " --format flac --start 500" + Dir(P("b"))), 0)
        << Err();
    EXPECT_EQ(bps(P("b/deep.flac")), "24\n");
    EXPECT_TRUE(raw(P("b/deep.flac")) == Bytes(payload.begin() + 24000 * 6, payload.end()));

    // Rate conversion, the equalizer, a mixdown and float samples keep 24 bits: a -6 dBFS tone
    // comes out cleaner than 16 bits could hold it (about 98 dB; measured 137).
    WriteFile(P("tone.wav"), Riff({{"fmt ", FmtPayload(1, 2, 96000, 24)},
                                   {"data", Tone24(96000, 2, 997, -6, 96000)}}));
    WriteFile(P("quad.wav"), Riff({{"fmt ", FmtPayload(1, 4, 48000, 24)},
                                   {"data", Tone24(48000, 4, 997, -6, 48000)}}));
    Bytes floats;  // the same tone as 32-bit float samples
    for (std::size_t i = 0; i < 2 * 48000; ++i) {
        const float v = static_cast<float>(
            0.5 * std::sin(2 * std::numbers::pi * 997 * static_cast<double>(i / 2) / 48000));
        const auto* p = reinterpret_cast<const std::uint8_t*>(&v);
        floats.insert(floats.end(), p, p + 4);
    }
    WriteFile(P("float.wav"), Riff({{"fmt ", FmtPayload(3, 2, 48000, 32)}, {"data", floats}}));
    struct Case {
        std::string args, out;
        double rate;
    };
    for (const Case& c :
         {Case{P("tone.wav") + " --rate 48000", "c/tone.flac", 48000},
          Case{P("tone.wav") + " --eq-db 0,0,0,0,0,0,0,0,0,0,-3", "d/tone.flac", 96000},
          Case{P("quad.wav"), "e/quad.flac", 48000}, Case{P("float.wav"), "f/float.flac", 48000}}) {
        const std::string dir = P(c.out.substr(0, 1));
        ASSERT_EQ(RunCli("convert " + c.args + " --format flac" + Dir(dir)), 0) << Err();
        EXPECT_EQ(bps(P(c.out)), "24\n") << c.args;
        EXPECT_EQ(Capture("metaflac --show-channels '" + P(c.out) + "'"), "2\n") << c.args;
        const std::vector<double> s = Samples(raw(P(c.out)), 3);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_GT(FitSine(s, 2, ch, 997, c.rate).sinadDb, 120) << c.args;
    }

    // Opus from a deep source: a tone at -110 dBFS, below 16 bits' reach, is still coded.
    TRALUX_REQUIRE_TOOL("opusdec");
    TRALUX_REQUIRE_TOOL("sox");
    WriteFile(P("low.wav"), Riff({{"fmt ", FmtPayload(1, 1, 48000, 24)},
                                  {"data", Tone24(48000, 1, 1000, -110, 96000)}}));
    ASSERT_EQ(RunCli("convert " + P("low.wav") + " --format opus" + Dir(P("o"))), 0) << Err();
    ASSERT_EQ(Sh("opusdec --float --force-wav '" + P("o/low.opus") + "' '" + P("o.wav") +
                 "' && sox '" + P("o.wav") + "' -t s32 '" + P("o.raw") + "'"),
              0);
    const double level =
        20 * std::log10(FitSine(Samples(ReadFile(P("o.raw")), 4), 1, 0, 1000, 48000).amplitude);
    EXPECT_NEAR(level, -110, 2);

    ASSERT_EQ(RunCli("formats"), 0);
    EXPECT_NE(Out().find("16 bits, or 24 when the source is deeper"), std::string::npos) << Out();
}

TEST_F(CliMedia, RefusalsLeaveNothingBehind) {
    WriteFile(P("junk.ogg"), Bytes(4000, 0x4F));
    EXPECT_EQ(RunCli("convert " + P("junk.ogg") + " --format flac" + Dir(P("o"))), 1);
    EXPECT_FALSE(Exists("o/junk.flac"));
    WriteFile(P("src.wav"), SimpleWav(Tone(8000, 1, 800), 1, 8000));
    EXPECT_EQ(RunCli("convert " + P("src.wav") + " --format opus --bitrate 600" + Dir(P("o"))), 2);
    EXPECT_EQ(RunCli("convert " + P("src.wav") + " --format flac --flac-level 9" + Dir(P("o"))), 2);
    EXPECT_FALSE(Exists("o/src.opus"));
    ASSERT_EQ(RunCli("formats"), 0);
    EXPECT_NE(Out().find("FLAC"), std::string::npos);
    EXPECT_NE(Out().find("Opus"), std::string::npos);
}

// The media kinds load on first use: WAV and MP3 jobs never map FFmpeg. A missing or broken
// module fails those kinds with the file and the system's reason and leaves nothing behind.
TEST_F(CliMedia, TheModuleLoadsOnFirstUseAndItsAbsenceIsTold) {
    WriteFile(P("src.wav"), SimpleWav(Tone(8000, 1, 800), 1, 8000));
    ::setenv("LD_DEBUG", "files", 1);
    const int mp3 = RunCli("convert " + P("src.wav") + " --format mp3" + Dir(P("m")));
    const std::string mp3Log = Err();
    const int flac = RunCli("convert " + P("src.wav") + " --format flac" + Dir(P("m")));
    const std::string flacLog = Err();
    ::unsetenv("LD_DEBUG");
    ASSERT_EQ(mp3, 0) << mp3Log;
    ASSERT_EQ(flac, 0) << flacLog;
    EXPECT_EQ(mp3Log.find("tralux-media.so"), std::string::npos);
    EXPECT_EQ(mp3Log.find("libavcodec"), std::string::npos);
    EXPECT_NE(flacLog.find("tralux-media.so"), std::string::npos);

    WriteFile(P("bad.so"), Bytes(4096, 'x'));
    for (const std::string& module : {P("none.so"), P("bad.so")}) {
        ::setenv("TRALUX_MEDIA_MODULE", module.c_str(), 1);
        EXPECT_EQ(RunCli("convert -y " + P("src.wav") + Dir(P("w"))), 0) << Err();
        EXPECT_EQ(RunCli("convert " + P("src.wav") + " --format opus" + Dir(P("o"))), 1);
        EXPECT_NE(Err().find(module), std::string::npos) << Err();
        EXPECT_FALSE(Exists("o/src.opus"));
        EXPECT_EQ(RunCli("convert " + P("m/src.flac") + Dir(P("o"))), 1);
        EXPECT_NE(Err().find(module), std::string::npos) << Err();
        EXPECT_FALSE(Exists("o/src.wav"));
        ::unsetenv("TRALUX_MEDIA_MODULE");
    }
    EXPECT_NE(Err().find("invalid ELF header"), std::string::npos) << Err();
}

}  // namespace
}  // namespace tralux::test
