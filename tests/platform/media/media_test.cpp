#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/media/flac_file_writer.h"
#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/file.h"
#include "engine/job/job_fixture.h"
#include "engine/outputs/output.h"
#include "platform/media/media_decoder.h"
#include "platform/media/media_output_kinds.h"
#include "platform/media/opus_file_writer.h"
#include "support/require.h"
#include "support/wav_builder.h"

namespace tralux::platform {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

fs::path Dir() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("tralux_media_" + std::to_string(::getpid()));
        fs::create_directories(d);
        return d;
    }();
    return dir;
}

int Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str());
}

Bytes ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::int16_t> AsSamples(const Bytes& b) {
    std::vector<std::int16_t> s(b.size() / 2);
    std::memcpy(s.data(), b.data(), s.size() * 2);
    return s;
}

// Stereo music-like test signal: two tones, a sweep and some noise, never silent.
std::vector<std::int16_t> Signal(std::size_t frames, std::uint32_t rate) {
    std::vector<std::int16_t> s(frames * 2);
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double n = (static_cast<double>(noise >> 16) / 65536.0 - 0.5) * 0.05;
        s[2 * i] =
            static_cast<std::int16_t>(12000 * std::sin(2 * M_PI * 440 * t) +
                                      4000 * std::sin(2 * M_PI * (200 + 800 * t) * t) + 8000 * n);
        s[2 * i + 1] = static_cast<std::int16_t>(10000 * std::sin(2 * M_PI * 660 * t) + 8000 * n);
    }
    return s;
}

fs::path WriteWav(const std::string& name, const std::vector<std::int16_t>& s, std::uint32_t rate) {
    Bytes data(s.size() * 2);
    std::memcpy(data.data(), s.data(), data.size());
    const Bytes wav = test::Riff({{"fmt ", test::FmtPayload(1, 2, rate, 16)}, {"data", data}});
    const fs::path p = Dir() / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    return p;
}

std::vector<std::int16_t> DecodeAll(MediaDecoder& d) {
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> block(4096 * static_cast<std::size_t>(d.Description().Channels));
    for (;;) {
        const long n = d.Read16(block.data(), 4096);
        EXPECT_GE(n, 0) << d.ErrorText();
        if (n <= 0) break;
        out.insert(out.end(), block.begin(), block.begin() + n * d.Description().Channels);
    }
    return out;
}

MediaTags SampleTags() {
    MediaTags t;
    t.Fields = {{"TITLE", "晨光 Morning"}, {"ARTIST", "測試者"}, {"ALBUM", "Album"},
                {"DATE", "2024"},          {"TRACKNUMBER", "3"}, {"TRACKTOTAL", "12"},
                {"GENRE", "Jazz"},         {"COMMENT", ""}};
    t.PictureMime = "image/png";
    t.Picture = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 1, 2, 3, 4, 5, 6, 7, 8};
    return t;
}

constexpr std::uint32_t kRate = 44100;
constexpr std::size_t kFrames = 44100 * 3 + 1234;  // not a whole number of codec frames

TEST(FlacWriter, RoundTripIsBitExactWithTagsCoverAndSeekTable) {
    TRALUX_REQUIRE_TOOL("flac");
    TRALUX_REQUIRE_TOOL("metaflac");
    const auto pcm = Signal(kFrames, kRate);
    const fs::path flac = Dir() / "rt.flac";
    std::string error;
    {
        auto w =
            FlacFileWriter::Create(flac.string(), {kRate, 2, 16, 5, kFrames}, SampleTags(), error);
        ASSERT_TRUE(w) << error;
        // Odd block sizes: the encoder buffers across calls.
        for (std::size_t at = 0; at < kFrames;) {
            const std::size_t n = std::min<std::size_t>(777, kFrames - at);
            ASSERT_TRUE(w->Write16(pcm.data() + at * 2, n));
            at += n;
        }
        ASSERT_TRUE(w->Finish()) << w->ErrorText();
    }
    EXPECT_EQ(Shell("flac -t -s " + flac.string()), 0);
    const fs::path back = Dir() / "rt_back.raw";
    ASSERT_EQ(Shell("flac -d -f --force-raw-format --endian=little --sign=signed -o " +
                    back.string() + " " + flac.string()),
              0);
    EXPECT_EQ(AsSamples(ReadAll(back)), pcm);

    auto d = MediaDecoder::Open(flac.string(), error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->Description().Codec, "flac");
    EXPECT_EQ(d->Description().BitsPerSample, 16);
    EXPECT_EQ(d->Description().Frames, static_cast<std::int64_t>(kFrames));
    EXPECT_EQ(DecodeAll(*d), pcm);

    const fs::path list = Dir() / "rt.txt";
    ASSERT_EQ(std::system(("metaflac --list " + flac.string() + " > " + list.string()).c_str()), 0);
    const Bytes text = ReadAll(list);
    const std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("TITLE=晨光 Morning"), std::string::npos);
    EXPECT_NE(s.find("TRACKTOTAL=12"), std::string::npos);
    EXPECT_EQ(s.find("COMMENT="), std::string::npos);  // empty fields are left out
    EXPECT_NE(s.find("type: 3 (Cover (front))"), std::string::npos);
    EXPECT_NE(s.find("MIME type: image/png"), std::string::npos);
    EXPECT_NE(s.find("SEEKTABLE"), std::string::npos);
    EXPECT_EQ(s.find("00000000000000000000000000000000"), std::string::npos);  // MD5 filled in
}

TEST(FlacWriter, TwentyFourBitsAndAShortEstimateStayValid) {
    TRALUX_REQUIRE_TOOL("flac");
    const fs::path flac = Dir() / "24.flac";
    std::vector<std::int32_t> pcm(2 * 30000);
    for (std::size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<std::int32_t>((i * 2654435761u) % 16777216u) - 8388608;
    std::string error;
    {
        // Announced longer than it turns out (a stopped job): the file stays valid.
        auto w = FlacFileWriter::Create(flac.string(), {48000, 2, 24, 8, 48000 * 60}, {}, error);
        ASSERT_TRUE(w) << error;
        ASSERT_TRUE(w->Write(pcm.data(), 30000));
        ASSERT_TRUE(w->Finish());
    }
    EXPECT_EQ(Shell("flac -t -s " + flac.string()), 0);
    const fs::path list = Dir() / "24.txt";
    ASSERT_EQ(std::system(("metaflac --list --block-type=SEEKTABLE " + flac.string() + " > " +
                           list.string())
                              .c_str()),
              0);
    const Bytes text = ReadAll(list);
    const std::string s(text.begin(), text.end());
    EXPECT_EQ(s.find("stream_offset=0, frame_samples=0"), std::string::npos) << s;
    auto d = MediaDecoder::Open(flac.string(), error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->Description().BitsPerSample, 24);
    std::vector<std::int32_t> got(pcm.size());
    ASSERT_EQ(d->Read32(got.data(), 30000), 30000);
    for (auto& v : got) v >>= 8;
    EXPECT_EQ(got, pcm);
}

TEST(FlacWriter, RefusesWhatItCannotWrite) {
    std::string error;
    EXPECT_FALSE(
        FlacFileWriter::Create((Dir() / "x.flac").string(), {44100, 2, 20, 5, 0}, {}, error));
    EXPECT_FALSE(
        FlacFileWriter::Create((Dir() / "x.flac").string(), {44100, 2, 16, 9, 0}, {}, error));
    error.clear();
    EXPECT_FALSE(
        FlacFileWriter::Create("/nonexistent-dir/x.flac", {44100, 2, 16, 5, 0}, {}, error));
    EXPECT_FALSE(error.empty());
}

TEST(OpusWriter, ExactLengthAt48kHzWithTagsAndCover) {
    TRALUX_REQUIRE_TOOL("opusdec");
    TRALUX_REQUIRE_TOOL("ffprobe");
    const auto pcm = Signal(kFrames, kRate);
    const fs::path opus = Dir() / "out.opus";
    std::string error;
    {
        auto w = OpusFileWriter::Create(opus.string(), kRate, 2, 160000, SampleTags(), error);
        ASSERT_TRUE(w) << error;
        ASSERT_TRUE(w->Write16(pcm.data(), kFrames));
        ASSERT_TRUE(w->Finish()) << w->ErrorText();
    }
    const fs::path raw = Dir() / "out.raw";
    ASSERT_EQ(
        Shell("opusdec --rate 48000 --quiet --force-wav " + opus.string() + " " + raw.string()), 0);
    const std::size_t expected = static_cast<std::size_t>(std::llround(kFrames * 48000.0 / kRate));
    const std::size_t got = (ReadAll(raw).size() - 44) / 4;
    EXPECT_NEAR(static_cast<double>(got), static_cast<double>(expected), 1.0);

    const fs::path probe = Dir() / "probe.txt";
    ASSERT_EQ(std::system(("ffprobe -v error -show_entries stream_tags:format_tags -of flat " +
                           opus.string() + " > " + probe.string())
                              .c_str()),
              0);
    const Bytes text = ReadAll(probe);
    const std::string s(text.begin(), text.end());
    EXPECT_NE(s.find("晨光 Morning"), std::string::npos);
    EXPECT_NE(s.find("TRACKTOTAL=\"12\""), std::string::npos) << s;

    // The picture is a METADATA_BLOCK_PICTURE comment (base64 of the FLAC block).
    const Bytes file = ReadAll(opus);
    const std::string all(file.begin(), file.end());
    EXPECT_NE(all.find("METADATA_BLOCK_PICTURE="), std::string::npos);

    EXPECT_FALSE(OpusFileWriter::Create((Dir() / "y.opus").string(), 44100, 3, 160000, {}, error));
}

struct Encoded {
    const char* name;
    const char* args;
    int tolerance;  // decoder output may differ by this much from ffmpeg's own (same libraries)
    std::uint32_t rate = kRate;
};

class DecoderMatchesFfmpeg : public ::testing::TestWithParam<Encoded> {};

TEST_P(DecoderMatchesFfmpeg, SampleAlignedAndSeekExact) {
    TRALUX_REQUIRE_TOOL("ffmpeg");
    const Encoded e = GetParam();
    static const fs::path wav = WriteWav("src.wav", Signal(kFrames, kRate), kRate);
    const fs::path file = Dir() / e.name;
    ASSERT_EQ(Shell("ffmpeg -y -i " + wav.string() + " " + e.args + " " + file.string()), 0);
    const fs::path ref = Dir() / (std::string(e.name) + ".raw");
    ASSERT_EQ(Shell("ffmpeg -y -i " + file.string() + " -f s16le " + ref.string()), 0);
    const auto want = AsSamples(ReadAll(ref));

    std::string error;
    auto d = MediaDecoder::Open(file.string(), error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->Description().Rate, e.rate);
    EXPECT_EQ(d->Description().Channels, 2);
    const auto got = DecodeAll(*d);
    ASSERT_EQ(got.size(), want.size());
    // The announced length is for display: within 30 ms is good enough.
    EXPECT_NEAR(static_cast<double>(d->Description().Frames), static_cast<double>(got.size() / 2),
                e.rate * 0.03);
    int worst = 0;
    for (std::size_t i = 0; i < got.size(); ++i)
        worst = std::max(worst, std::abs(got[i] - want[i]));
    EXPECT_LE(worst, e.tolerance);

    // A start position gives the same samples as decoding from the start.
    for (std::uint64_t at :
         {std::uint64_t{70001}, std::uint64_t{1}, std::uint64_t{got.size() / 2 - 10}}) {
        ASSERT_TRUE(d->Seek(at));
        std::vector<std::int16_t> block(2 * 500);
        const long n = d->Read16(block.data(), 500);
        ASSERT_GT(n, 0);
        for (long i = 0; i < n * 2; ++i)
            ASSERT_EQ(block[static_cast<std::size_t>(i)], got[at * 2 + static_cast<std::size_t>(i)])
                << "at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(Containers, DecoderMatchesFfmpeg,
                         ::testing::Values(Encoded{"in.flac", "-c:a flac", 0},
                                           Encoded{"in.mp3", "-c:a libmp3lame -b:a 192k", 1},
                                           Encoded{"in.ogg", "-c:a libvorbis -q:a 5", 1},
                                           Encoded{"in.opus", "-c:a libopus -b:a 128k", 1, 48000},
                                           Encoded{"in.m4a", "-c:a aac -b:a 160k", 1},
                                           Encoded{"in.aiff", "-c:a pcm_s16be", 0},
                                           Encoded{"in.mp2", "-c:a mp2 -b:a 256k", 1}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             return n.substr(n.find('.') + 1);
                         });

// The output kinds' endings: a stopped job's file is whole and valid, a failed one is gone.
TEST(MediaOutputKinds, StoppedFilesPlayAndAbandonedOnesAreRemoved) {
    TRALUX_REQUIRE_TOOL("flac");
    TRALUX_REQUIRE_TOOL("opusdec");
    RegisterFlacOutput();
    RegisterOpusOutput();
    const auto pcm = Signal(30000, kRate);
    for (const int format : {kFormatFlac, kFormatOpus}) {
        const OutputKind* kind = FindOutputKind(format);
        ASSERT_NE(kind, nullptr);
        EXPECT_FALSE(kind->writesFile);  // the writers create their own files
        OutputSettings s;
        s.path = (Dir() / (std::string("kind") + kind->extension)).string();
        s.rate = kRate;
        s.expectedFrames = kRate * 60;  // announced far longer than it turns out
        s.tags.title = "Stopped";
        {
            auto out = kind->open(s);
            out->Write(reinterpret_cast<const std::uint8_t*>(pcm.data()), pcm.size() * 2);
            out->FinishEarly();
        }
        const std::string check = format == kFormatFlac
                                      ? "flac -t -s '" + s.path + "'"
                                      : "opusdec --quiet '" + s.path + "' /dev/null";
        EXPECT_EQ(Shell(check), 0) << s.path;
        {
            auto out = kind->open(s);
            out->Write(reinterpret_cast<const std::uint8_t*>(pcm.data()), pcm.size() * 2);
            out->Abandon();
        }
        EXPECT_FALSE(fs::exists(s.path)) << s.path;
    }
}

using MediaJobs = test::JobFixture;

// A disk that fills under FLAC or Opus output, in the header, in the audio or in the last bytes
// written at the end: the job fails naming the file and the system's reason, and leaves nothing behind.
TEST_F(MediaJobs, DiskFullLeavesNothingBehind) {
    RegisterFlacOutput();
    RegisterOpusOutput();
    options_["PlaceClipInfo"] = 0;
    const std::string dir = dir_.path().string();
    test::WriteFile(dir + "/in.wav", test::SimpleWav(Signal(kRate * 3, kRate), 2, kRate));
    for (const int format : {kFormatFlac, kFormatOpus}) {
        Engine().OutputFormat.store(format);
        const std::string ext = format == kFormatFlac ? ".flac" : ".opus";
        ASSERT_EQ(Run(dir + "/in.wav", dir + "/whole" + ext), 0);
        const std::uint64_t whole = fs::file_size(dir + "/whole" + ext);
        fs::remove(dir + "/whole" + ext);
        for (const std::uint64_t fits : {std::uint64_t{1000}, std::uint64_t{20000}, whole - 1}) {
            const std::string out = dir + "/full" + ext;
            notes_.Clear();
            SetDiskFullForTesting("full" + ext, fits);
            EXPECT_EQ(Run(dir + "/in.wav", out), 0) << out << " " << fits;
            ASSERT_FALSE(notes_.Messages().empty()) << out << " " << fits;
            EXPECT_EQ(notes_.Messages().back().text,
                      "寫入檔案錯誤: " + out +
                          ": No space left on device; the unfinished file was removed")
                << fits;
            EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1)
                << out << " " << fits;  // only the input: no output, no temporary
        }
        SetDiskFullForTesting("", 0);
    }
}

// FLAC, Opus and WMA create their own files: one that cannot be created is refused at the
// start, as a WAV is, so the front end names the file and the reason, not a codec.
TEST_F(MediaJobs, OutputThatCannotBeCreatedIsRefusedAtTheStart) {
    RegisterFlacOutput();
    RegisterOpusOutput();
    const std::string dir = dir_.path().string();
    test::WriteFile(dir + "/in.wav", test::SimpleWav(Signal(kRate / 10, kRate), 2, kRate));
    for (const int format : {kFormatFlac, kFormatOpus}) {
        Engine().OutputFormat.store(format);
        EXPECT_EQ(Run(dir + "/in.wav", dir + "/in.wav/x.out"), -kErrOpen) << format;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator{}), 1);
}

// A 24-bit source goes to FLAC untouched; the equalizer switched on midway takes over from
// there (24 bits through the stage), with nothing lost or added at the switch.
TEST_F(MediaJobs, DeepSamplesPassUntilTheEqualizerComesOn) {
    TRALUX_REQUIRE_TOOL("flac");
    RegisterFlacOutput();
    options_["PlaceClipInfo"] = 0;
    const std::string dir = dir_.path().string();
    const std::size_t frames = kRate * 120;
    const Bytes payload = test::Noise24(frames);
    test::WriteFile(dir + "/deep.wav",
                    test::Riff({{"fmt ", test::FmtPayload(1, 2, kRate, 24)}, {"data", payload}}));
    Engine().OutputFormat.store(kFormatFlac);
    Engine().EqualizerLevels[9].store(0);
    Engine().PositionMs.store(0);  // not the last job's
    ASSERT_TRUE(StartConversion(dir + "/deep.wav", dir + "/deep.flac", 0, kModeConvert));
    WaitForPosition(1000);
    EXPECT_EQ(Engine().OutputBits.load(), 24);
    Engine().EqualizerChanged.store(true);
    Engine().EqualizerOn.store(true);
    WaitForJob();
    ASSERT_EQ(Engine().LastError.load(), 0);
    ASSERT_EQ(Shell("flac -d -f -s --force-raw-format --endian=little --sign=signed -o '" + dir +
                    "/deep.raw' '" + dir + "/deep.flac'"),
              0);
    const Bytes raw = ReadAll(dir + "/deep.raw");
    ASSERT_EQ(raw.size(), payload.size());
    const std::size_t second = kRate * 6;
    EXPECT_TRUE(std::equal(raw.begin(), raw.begin() + second, payload.begin()));
    EXPECT_FALSE(std::equal(raw.end() - second, raw.end(), payload.end() - second));

    // Stopped on the wide path: a valid 24-bit file holding the start, bit for bit.
    Engine().EqualizerOn.store(false);
    Engine().PositionMs.store(0);
    ASSERT_TRUE(StartConversion(dir + "/deep.wav", dir + "/stop.flac", 0, kModeConvert));
    WaitForPosition(1000);
    Engine().StopRequested.store(true);
    WaitForJob();
    Engine().StopRequested.store(false);
    ASSERT_EQ(Shell("flac -d -f -s --force-raw-format --endian=little --sign=signed -o '" + dir +
                    "/stop.raw' '" + dir + "/stop.flac'"),
              0);
    const Bytes cut = ReadAll(dir + "/stop.raw");
    EXPECT_GE(cut.size(), second);
    EXPECT_LT(cut.size(), payload.size());
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), payload.begin()));

    // Stopped while converting the rate: a valid 24-bit file of what was done.
    Engine().OutputRate.store(22050);
    Engine().PositionMs.store(0);
    ASSERT_TRUE(StartConversion(dir + "/deep.wav", dir + "/half.flac", 0, kModeConvert));
    WaitForPosition(1000);
    EXPECT_EQ(Engine().OutputBits.load(), 24);  // what the progress window shows
    Engine().StopRequested.store(true);
    WaitForJob();
    Engine().StopRequested.store(false);
    Engine().OutputRate.store(kRate);
    EXPECT_EQ(Shell("flac -t -s '" + dir + "/half.flac'"), 0);
    ASSERT_EQ(Shell("(metaflac --show-bps --show-sample-rate --show-total-samples '" + dir +
                    "/half.flac' > '" + dir + "/half.txt')"),
              0);
    std::ifstream fields(dir + "/half.txt");
    int bits = 0, rate = 0;
    std::uint64_t total = 0;
    fields >> bits >> rate >> total;
    EXPECT_EQ(bits, 24);
    EXPECT_EQ(rate, 22050);
    EXPECT_GE(total, 22050u);
    EXPECT_LT(total, frames / 2);
}

TEST(Decoder, SurroundKeepsItsSpeakersAndMemoryInputWorks) {
    TRALUX_REQUIRE_TOOL("ffmpeg");
    const fs::path file = Dir() / "six.flac";
    ASSERT_EQ(Shell("ffmpeg -y -f lavfi -i sine=frequency=300:duration=0.5 -af "
                    "\"pan=5.1|c0=c0|c1=c0|c2=c0|c3=c0|c4=c0|c5=c0\" -c:a flac " +
                    file.string()),
              0);
    const Bytes bytes = ReadAll(file);
    std::string error;
    auto d = MediaDecoder::OpenMemory(bytes.data(), bytes.size(), error);
    ASSERT_TRUE(d) << error;
    EXPECT_EQ(d->Description().Channels, 6);
    EXPECT_EQ(d->Description().ChannelMask, 0x3Fu);  // FL FR FC LFE BL BR
    const auto all = DecodeAll(*d);
    EXPECT_EQ(all.size(), 6u * 22050);

    const Bytes junk(5000, 0x5A);
    EXPECT_FALSE(MediaDecoder::OpenMemory(junk.data(), junk.size(), error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(MediaDecoder::Open((Dir() / "missing.ogg").string(), error));
}

}  // namespace
}  // namespace tralux::platform
