// MP3 through tralux-cli: bit rates and rates the encoder can take, the Info frame in and out,
// tags in and out; checked against ffmpeg, ffprobe, mpg123 and lame.
#include "cli_fixture.h"
#include "engine/outputs/mp3_info_frame.h"
#include "support/require.h"

namespace tralux::test {
namespace {

using CliMp3 = CliFixture;

std::string Dir(const std::string& d) {
    return " --output-dir " + d;
}

// Headers of every frame of an MP3 file (after an ID3v2 tag).
std::vector<Mp3FrameHeader> Frames(const Bytes& b, std::size_t* first = nullptr) {
    std::size_t at = 0;
    if (b.size() >= 10 && b[0] == 'I' && b[1] == 'D' && b[2] == '3')
        at = 10 +
             (std::size_t(b[6]) << 21 | std::size_t(b[7]) << 14 | std::size_t(b[8]) << 7 | b[9]);
    if (first) *first = at;
    std::vector<Mp3FrameHeader> frames;
    Mp3FrameHeader h;
    while (at + 4 <= b.size() && ParseMp3FrameHeader(&b[at], b.size() - at, h)) {
        frames.push_back(h);
        at += static_cast<std::size_t>(h.frameBytes);
    }
    return frames;
}

Mp3InfoTag InfoTagOf(const Bytes& b) {
    std::size_t first = 0;
    Frames(b, &first);
    Mp3InfoTag tag;
    EXPECT_TRUE(ReadMp3InfoTag(&b[first], b.size() - first, tag));
    return tag;
}

// ffprobe's view of a file: "key=value" lines of the format section.
std::string Ffprobe(const std::string& path) {
    return Capture("ffprobe -v error -show_entries format=duration:format_tags -of default=nw=1 '" +
                   path + "'");
}

TEST_F(CliMp3, BitRatesTheEncoderDoesNotListAreRefusedBeforeAnyFile) {
    WriteFile(P("st44.wav"), SimpleWav(Tone(44100, 2, 4410), 2, 44100));
    WriteFile(P("mono44.wav"), SimpleWav(Tone(44100, 1, 4410), 1, 44100));
    WriteFile(P("st22.wav"), SimpleWav(Tone(22050, 2, 22050), 2, 22050));
    const std::tuple<std::string, int, std::string> refused[] = {
        {"st44.wav", 80, "valid bit rates (kbit/s): 96 112 128 160 192 224 256 320"},
        {"mono44.wav", 160, "valid bit rates (kbit/s): 48 56 64 80 96 112 128"},
        {"st22.wav", 128,
         "not available for MP3 at 22050 Hz stereo; valid bit rates (kbit/s): 40 48 56 64 80"},
        {"st44.wav", 999, "not available for MP3 at 44100 Hz stereo"},
    };
    for (const auto& [in, kbps, message] : refused) {
        EXPECT_EQ(RunCli("convert " + P(in) + " --format mp3 --bitrate " + std::to_string(kbps) +
                         Dir(P("o"))),
                  2);
        EXPECT_NE(Err().find(message), std::string::npos) << Err();
        EXPECT_FALSE(Exists("o")) << in << " " << kbps;
    }
    // A listed bit rate is the one the frames carry.
    ASSERT_EQ(RunCli("convert " + P("st22.wav") + " --format mp3 --bitrate 48" + Dir(P("o"))), 0)
        << Err();
    const std::vector<Mp3FrameHeader> frames = Frames(ReadFile(P("o/st22.mp3")));
    ASSERT_GT(frames.size(), 3u);
    for (std::size_t i = 1; i < frames.size(); ++i) EXPECT_EQ(frames[i].bitrateKbps, 48) << i;

    ASSERT_EQ(RunCli("formats"), 0);
    const std::string table = Out();
    const auto line = table.find("  44100 Hz");
    ASSERT_NE(line, std::string::npos) << table;
    const std::string row = table.substr(line, table.find('\n', line) - line);
    EXPECT_NE(row.find(" 48 56 64 80 96 112 128 "), std::string::npos) << row;
    EXPECT_NE(row.find(" 96 112 128 160 192 224 256 320"), std::string::npos) << row;
}

TEST_F(CliMp3, VariableBitRateRefusesWhatItCannotHonour) {
    WriteFile(P("lo.wav"), SimpleWav(Tone(11025, 1, 2000, 440), 1, 11025));
    EXPECT_EQ(RunCli("convert " + P("lo.wav") + " --format mp3 --vbr 2" + Dir(P("o"))), 2);
    EXPECT_NE(Err().find("16000"), std::string::npos) << Err();
    EXPECT_EQ(RunCli("convert " + P("lo.wav") + " --format mp3 --vbr 10" + Dir(P("o"))), 2);
    EXPECT_EQ(RunCli("convert " + P("lo.wav") + " --format mp3 --rate 44100 --vbr 1 --bitrate 128" +
                     Dir(P("o"))),
              2);
    EXPECT_FALSE(std::filesystem::exists(P("o")));
}

TEST_F(CliMp3, RatesTheEncoderCannotTakeAreSettledBeforeTheJob) {
    WriteFile(P("hi.wav"), SimpleWav(Tone(96000, 2, 9600), 2, 96000));
    WriteFile(P("lo.wav"), SimpleWav(Tone(7350, 1, 7350), 1, 7350));
    ASSERT_EQ(RunCli("convert " + P("hi.wav") + " " + P("lo.wav") + " --format mp3" + Dir(P("o"))),
              0)
        << Err();
    EXPECT_NE(Err().find("MP3 cannot be written at 96000 Hz; converting to 48000 Hz"),
              std::string::npos)
        << Err();
    EXPECT_NE(Err().find("MP3 cannot be written at 7350 Hz; converting to 8000 Hz"),
              std::string::npos)
        << Err();
    EXPECT_EQ(Frames(ReadFile(P("o/hi.mp3"))).at(1).sampleRate, 48000u);
    EXPECT_EQ(Frames(ReadFile(P("o/lo.mp3"))).at(1).sampleRate, 8000u);

    // Asked for explicitly, an impossible rate is a usage error that names the possible ones.
    EXPECT_EQ(RunCli("convert " + P("lo.wav") + " --format mp3 --rate 96000" + Dir(P("o2"))), 2);
    EXPECT_NE(Err().find("MP3 rates: 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000"),
              std::string::npos);
    EXPECT_EQ(Err().find("->"), std::string::npos);
    EXPECT_FALSE(Exists("o2"));
    // WMA: the writer's own list decides, before any file.
    EXPECT_EQ(RunCli("convert " + P("lo.wav") + " --format wma" + Dir(P("o2"))), 2);
    EXPECT_NE(Err().find("WMA does not offer"), std::string::npos) << Err();
    EXPECT_EQ(Err().find("->"), std::string::npos);
    EXPECT_FALSE(Exists("o2"));
    WriteFile(P("st44.wav"), SimpleWav(Tone(44100, 2, 44100), 2, 44100));
    EXPECT_EQ(RunCli("convert " + P("st44.wav") + " --format wma --bitrate 20" + Dir(P("o2"))), 2);
    EXPECT_FALSE(Exists("o2"));
    ASSERT_EQ(RunCli("convert " + P("st44.wav") + " --format wma --bitrate 128" + Dir(P("o2"))), 0)
        << Err();
    ASSERT_TRUE(Exists("o2/st44.wma"));
    TRALUX_REQUIRE_TOOL("ffprobe");
    // Read back: one second, within one 2,048-sample frame.
    const std::string probe = Ffprobe(P("o2/st44.wma"));
    const auto at = probe.find("duration=");
    ASSERT_NE(at, std::string::npos) << probe;
    EXPECT_NEAR(std::stod(probe.substr(at + 9)), 1.0, 2048.0 / 44100) << probe;
    // The input's own rate WMA cannot take: the nearest one it takes, said.
    ASSERT_EQ(RunCli("convert " + P("hi.wav") + " --format wma" + Dir(P("o3"))), 0) << Err();
    EXPECT_NE(Err().find("cannot be written at 96000 Hz; converting to 44100 Hz"),
              std::string::npos)
        << Err();
    EXPECT_TRUE(Exists("o3/hi.wma"));
}

// Without a listed 128 kbit/s the automatic bit rate is the highest listed below it; 8000 Hz
// has no stereo bit rate, so stereo is refused when asked and mixed down when inherited.
TEST_F(CliMp3, AutomaticBitRateAndStereoAt8000Hz) {
    WriteFile(P("st.wav"), SimpleWav(Tone(8000, 2, 8000), 2, 8000));
    struct Case {
        const char* args;
        int kbps;
    };
    for (const Case c :
         {Case{"--rate 11025 --channels 1", 20}, Case{"--rate 22050 --channels 1", 56},
          Case{"--rate 22050", 80}, Case{"", 8}}) {
        ASSERT_EQ(RunCli("convert " + P("st.wav") + " --format mp3 -y " + c.args + Dir(P("o"))), 0)
            << Err();
        // Rates between the header's steps (18, 20 kbit/s) alternate frames: the mean counts.
        const auto frames = Frames(ReadFile(P("o/st.mp3")));
        double sum = 0;
        for (std::size_t i = 1; i < frames.size(); ++i) sum += frames[i].bitrateKbps;
        EXPECT_NEAR(sum / static_cast<double>(frames.size() - 1), c.kbps, 0.5) << c.args;
    }
    EXPECT_NE(Err().find("no stereo bit rate; converting to mono"), std::string::npos) << Err();
    EXPECT_EQ(RunCli("convert " + P("st.wav") + " --format mp3 --channels 2" + Dir(P("o2"))), 2);
    EXPECT_NE(Err().find("8000 Hz stereo has no bit rate"), std::string::npos) << Err();
    EXPECT_FALSE(Exists("o2"));
}

// --start on MP3 input starts at the exact sample, as on WAV input: the output is the full
// conversion's tail, not a frame's worth early.
TEST_F(CliMp3, StartOnMp3InputIsSampleExact) {
    WriteFile(P("src.wav"), SimpleWav(Tone(44100, 2, 44100 * 3, 3000), 2, 44100));
    ASSERT_EQ(RunCli("convert " + P("src.wav") + " --format mp3" + Dir(P("m"))), 0) << Err();
    ASSERT_EQ(RunCli("convert " + P("m/src.mp3") + Dir(P("full"))), 0) << Err();
    ASSERT_EQ(RunCli("convert " + P("m/src.mp3") + " --start 1500" + Dir(P("late"))), 0) << Err();
    // Nothing but the job's own lines on standard error.
    EXPECT_EQ(Err().find("frame "), std::string::npos) << Err();
    const Pcm full = ReadWavPcm(P("full/src.wav")), late = ReadWavPcm(P("late/src.wav"));
    ASSERT_EQ(full.Frames(), 44100u * 3);
    ASSERT_EQ(late.Frames(), full.Frames() - 66150);
    EXPECT_TRUE(
        std::equal(late.samples.begin(), late.samples.end(), full.samples.begin() + 2 * 66150));
}

TEST_F(CliMp3, InfoFrameOfAnotherEncoderIsAHeaderAndItsDelayIsTrimmed) {
    TRALUX_REQUIRE_TOOL("lame");
    TRALUX_REQUIRE_TOOL("ffmpeg");
    WriteFile(P("src.wav"), SimpleWav(Tone(44100, 2, 44100, 3000), 2, 44100));
    ASSERT_EQ(
        std::system(("lame --quiet -b 128 '" + P("src.wav") + "' '" + P("cbr.mp3") + "'").c_str()),
        0);
    ASSERT_EQ(
        std::system(("lame --quiet -V 4 '" + P("src.wav") + "' '" + P("vbr.mp3") + "'").c_str()),
        0);
    for (const char* name : {"cbr", "vbr"}) {
        const std::string mp3 = P(std::string(name) + ".mp3");
        ASSERT_EQ(RunCli("convert " + mp3 + Dir(P("o"))), 0) << Err();
        ASSERT_EQ(
            std::system(("ffmpeg -v error -y -i '" + mp3 + "' '" + P("ff.wav") + "'").c_str()), 0);
        const Pcm ours = ReadWavPcm(P(std::string("o/") + name + ".wav")),
                  ff = ReadWavPcm(P("ff.wav"));
        EXPECT_EQ(ours.Frames(), ff.Frames()) << name;
        EXPECT_EQ(ours.Frames(), 44100u) << name;
        double corr = 0;
        EXPECT_EQ(BestLag(ff.Channel(0), ours.Channel(0), 3000, &corr), 0) << name;
        EXPECT_GT(corr, 0.99) << name;
    }
}

TEST_F(CliMp3, OurMp3CarriesAnInfoFrameThatGivesBackTheExactLength) {
    struct Case {
        std::uint32_t rate;
        int channels;
        std::size_t frames;
        std::string vbr;  // variable bit rate level, or empty
    };
    for (const Case& c :
         {Case{44100, 2, 441000, ""}, Case{8000, 1, 80000, ""}, Case{22050, 2, 33333, ""},
          Case{44100, 2, 100000, "2"}, Case{24000, 1, 33333, "9"}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " vbr " + c.vbr);
        const std::vector<std::int16_t> src = Tone(c.rate, c.channels, c.frames, 1234);
        WriteFile(P("in.wav"), SimpleWav(src, static_cast<std::uint16_t>(c.channels), c.rate));
        std::filesystem::remove_all(P("o"));
        ASSERT_EQ(RunCli("convert " + P("in.wav") + " --format mp3" +
                         (c.vbr.empty() ? "" : " --vbr " + c.vbr) + Dir(P("o"))),
                  0)
            << Err();
        const Bytes mp3 = ReadFile(P("o/in.mp3"));
        const Mp3InfoTag tag = InfoTagOf(mp3);
        EXPECT_EQ(tag.xing, !c.vbr.empty());  // "Info" for a constant bit rate
        EXPECT_EQ(tag.encoder, kInfoEncoderName);
        std::size_t first = 0;
        const std::vector<Mp3FrameHeader> frames = Frames(mp3, &first);
        ASSERT_TRUE(tag.hasFrames && tag.hasBytes && tag.hasToc);
        EXPECT_EQ(tag.frames, frames.size() - 1);
        EXPECT_EQ(tag.bytes, mp3.size() - first - 128);  // up to the ID3v1 tag
        EXPECT_EQ(tag.frames * static_cast<std::uint32_t>(frames[1].samplesPerFrame),
                  c.frames + static_cast<std::size_t>(tag.delay + tag.padding));

        // The probe's length is the input's, not the frames'.
        ASSERT_EQ(RunCli("probe " + P("o/in.mp3")), 0);
        EXPECT_NE(Out().find("(" + std::to_string(c.frames * 1000 / c.rate) + " ms)"),
                  std::string::npos)
            << Out();

        // WAV -> MP3 -> WAV with our decoder keeps the sample count and the timing.
        ASSERT_EQ(RunCli("convert " + P("o/in.mp3") + Dir(P("back"))), 0) << Err();
        const Pcm back = ReadWavPcm(P("back/in.wav"));
        EXPECT_EQ(back.Frames(), c.frames);
        Pcm srcPcm{c.channels, c.rate, src};
        EXPECT_EQ(BestLag(srcPcm.Channel(0), back.Channel(0), 2000), 0);
        std::filesystem::remove_all(P("back"));

        if (!HaveTool("mpg123") && !::tralux::test::InCi()) continue;
        TRALUX_REQUIRE_TOOL("mpg123");
        ASSERT_EQ(
            std::system(("mpg123 -q -w '" + P("mpg.wav") + "' '" + P("o/in.mp3") + "'").c_str()),
            0);
        const Pcm mpg = ReadWavPcm(P("mpg.wav"));
        EXPECT_EQ(mpg.Frames(), c.frames);
        EXPECT_EQ(BestLag(srcPcm.Channel(0), mpg.Channel(0), 2000), 0);
    }
}

TEST_F(CliMp3, FfprobeReadsTheLengthFromTheInfoFrame) {
    TRALUX_REQUIRE_TOOL("ffprobe");
    WriteFile(P("in.wav"), SimpleWav(Tone(44100, 2, 441000), 2, 44100));
    ASSERT_EQ(RunCli("convert " + P("in.wav") + " --format mp3" + Dir(P("o"))), 0) << Err();
    const std::string probe = Ffprobe(P("o/in.mp3"));
    const auto at = probe.find("duration=");
    ASSERT_NE(at, std::string::npos) << probe;
    // Frames x 1152 / rate: the input plus our delay and padding, no estimate from the bit rate.
    const Mp3InfoTag tag = InfoTagOf(ReadFile(P("o/in.mp3")));
    EXPECT_NEAR(std::stod(probe.substr(at + 9)), tag.frames * 1152.0 / 44100.0, 0.0005) << probe;
}

TEST_F(CliMp3, Id3v2TagsOfTheInputSurviveIntoTheMp3) {
    TRALUX_REQUIRE_TOOL("ffmpeg");
    TRALUX_REQUIRE_TOOL("ffprobe");
    WriteFile(P("src.wav"), SimpleWav(Tone(44100, 2, 44100), 2, 44100));
    ASSERT_EQ(std::system(
                  ("ffmpeg -v error -y -i '" + P("src.wav") +
                   "' -metadata title='夏夜的月光' -metadata artist='林小雨' -metadata album='專輯'"
                   " -metadata date=1977 -id3v2_version 3 '" +
                   P("tagged.mp3") + "'")
                      .c_str()),
              0);
    ASSERT_EQ(RunCli("probe " + P("tagged.mp3")), 0);
    EXPECT_NE(Out().find("title: 夏夜的月光"), std::string::npos) << Out();
    ASSERT_EQ(RunCli("convert " + P("tagged.mp3") + " --format mp3" + Dir(P("o"))), 0) << Err();
    const std::string probe = Ffprobe(P("o/tagged.mp3"));
    EXPECT_NE(probe.find("TAG:title=夏夜的月光\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:artist=林小雨\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:album=專輯\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:date=1977\n"), std::string::npos) << probe;
    // The version 1 tag stays at the end, for old readers.
    const Bytes out = ReadFile(P("o/tagged.mp3"));
    EXPECT_EQ(std::string(out.end() - 128, out.end() - 125), "TAG");
    // Version 2.4 in front.
    EXPECT_EQ(std::string(out.begin(), out.begin() + 3), "ID3");
    EXPECT_EQ(out[3], 4);

    ASSERT_EQ(RunCli("convert " + P("tagged.mp3") + " --format mp3 --no-tags" + Dir(P("bare"))), 0)
        << Err();
    const Bytes bare = ReadFile(P("bare/tagged.mp3"));
    EXPECT_NE(std::string(bare.begin(), bare.begin() + 3), "ID3");
    EXPECT_NE(std::string(bare.end() - 128, bare.end() - 125), "TAG");
}

// probe prints the tags a file carries: no title made up from the name, an ID3v1 comment as
// the comment (never the copyright), and no length for a stream that holds no samples.
TEST_F(CliMp3, ProbePrintsTheTagsTheFileCarries) {
    TRALUX_REQUIRE_TOOL("lame");
    WriteFile(P("s.wav"), SimpleWav(Tone(44100, 2, 44100), 2, 44100));
    WriteFile(P("empty.wav"), SimpleWav({}, 2, 44100));
    const std::string lame = "lame --quiet --id3v1-only ";
    ASSERT_EQ(std::system((lame + "'" + P("s.wav") + "' '" + P("plain.mp3") + "'").c_str()), 0);
    ASSERT_EQ(std::system(
                  (lame + "--tc 'free to copy' '" + P("s.wav") + "' '" + P("c.mp3") + "'").c_str()),
              0);
    ASSERT_EQ(std::system((lame + "'" + P("empty.wav") + "' '" + P("empty.mp3") + "'").c_str()), 0);
    ASSERT_EQ(RunCli("probe " + P("plain.mp3")), 0);
    EXPECT_EQ(Out().find("title:"), std::string::npos) << Out();
    ASSERT_EQ(RunCli("probe " + P("c.mp3")), 0);
    EXPECT_NE(Out().find("comment: free to copy\n"), std::string::npos) << Out();
    EXPECT_EQ(Out().find("copyright:"), std::string::npos) << Out();
    ASSERT_EQ(RunCli("probe " + P("empty.mp3")), 0);
    EXPECT_NE(Out().find("(0 ms)"), std::string::npos) << Out();
}

TEST_F(CliMp3, WavInfoTagsSurviveIntoMp3AndWav) {
    TRALUX_REQUIRE_TOOL("ffprobe");
    Bytes info;
    PutId(info, "INFO");
    auto item = [&](const char* id, const std::string& text) {
        Bytes t(text.begin(), text.end());
        t.push_back(0);
        PutChunk(info, id, t);
    };
    item("INAM", "夜之歌");                    // UTF-8
    item("IART", "\xAA\x4C\xA4\x70\xAB\x42");  // Big5 for 林小雨
    item("ICMT", "Caf\xE9");                   // Latin-1
    item("IPRD", "Album");
    WriteFile(P("in.wav"), Riff({{"fmt ", FmtPayload(1, 2, 44100, 16)},
                                 {"data", Pcm16(Tone(44100, 2, 44100))},
                                 {"LIST", info}}));
    ASSERT_EQ(RunCli("probe " + P("in.wav")), 0);
    EXPECT_NE(Out().find("artist: 林小雨\n"), std::string::npos) << Out();
    EXPECT_NE(Out().find("comment: Café\n"), std::string::npos) << Out();

    ASSERT_EQ(RunCli("convert " + P("in.wav") + " --format mp3" + Dir(P("o"))), 0) << Err();
    std::string probe = Ffprobe(P("o/in.mp3"));
    EXPECT_NE(probe.find("TAG:title=夜之歌\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:artist=林小雨\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:album=Album\n"), std::string::npos) << probe;

    ASSERT_EQ(RunCli("convert " + P("in.wav") + Dir(P("w"))), 0) << Err();
    probe = Ffprobe(P("w/in.wav"));
    EXPECT_NE(probe.find("TAG:title=夜之歌\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:artist=林小雨\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:album=Album\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:comment=Café\n"), std::string::npos) << probe;
}

TEST_F(CliMp3, Mp3InsideWavIsAcceptedByProbeAndConvertAlike) {
    TRALUX_REQUIRE_TOOL("lame");
    WriteFile(P("src.wav"), SimpleWav(Tone(44100, 2, 44100), 2, 44100));
    ASSERT_EQ(
        std::system(("lame --quiet -b 128 '" + P("src.wav") + "' '" + P("s.mp3") + "'").c_str()),
        0);
    Bytes fmt = FmtPayload(0x55, 2, 44100, 0, 12);
    WriteFile(P("mp3.wav"), Riff({{"fmt ", fmt}, {"data", ReadFile(P("s.mp3"))}}));
    ASSERT_EQ(RunCli("probe " + P("mp3.wav")), 0) << Err();
    EXPECT_NE(Out().find("MP3"), std::string::npos) << Out();
    ASSERT_EQ(RunCli("convert " + P("mp3.wav") + Dir(P("o"))), 0) << Err();
    EXPECT_EQ(Err().find("被壓縮的 WAV 檔案是不被支援的."), std::string::npos) << Err();
    EXPECT_NE(Err().find("-> " + P("o/mp3.wav")), std::string::npos) << Err();
    EXPECT_NEAR(static_cast<double>(ReadWavPcm(P("o/mp3.wav")).Frames()), 44100.0, 1152.0);
}

}  // namespace
}  // namespace tralux::test
