#include "engine/formats/riff_reader.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "platform/notify/notifier.h"
#include "support/wav_builder.h"

namespace tralux {
namespace {

using namespace test;

class RiffReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetNotifier(&notes_);
        Engine().LastError.store(0);
    }
    void TearDown() override { SetNotifier(nullptr); }

    // Probes bytes written to a file; returns the verdict and leaves LastError for inspection.
    bool Probe(const Bytes& bytes, StreamInfo& info) {
        const std::string p = dir_ / "in.wav";
        WriteFile(p, bytes);
        Engine().LastError.store(0);
        return ProbeInput(p, info);
    }
    // Runs the RIFF reader alone (after the four kind bytes).
    bool ReadRiff(const Bytes& bytes, StreamInfo& info) {
        const std::string p = dir_ / "riff.wav";
        WriteFile(p, bytes);
        File f;
        f.Open(p, File::Mode::Read);
        f.Seek(4);
        Engine().LastError.store(0);
        return ReadRiffInput(f, info, true);
    }
    int LastError() { return Engine().LastError.load(); }

    TempDir dir_;
    RecordingNotifier notes_;
};

TEST_F(RiffReaderTest, PlainWavIsDescribed) {
    StreamInfo info;
    ASSERT_TRUE(Probe(SimpleWav(std::vector<std::int16_t>(88200, 0), 2, 44100), info));
    EXPECT_EQ(info.Kind, kKindRiff);
    EXPECT_EQ(info.StartOffset, 44u);
    EXPECT_EQ(info.DataSize, 176400u);
    EXPECT_EQ(info.DurationMs, 1000u);
    EXPECT_EQ(info.BitRate, 1411200u);
    EXPECT_EQ(info.BitRate2, 1411200u);
    EXPECT_EQ(info.CodecName, "PCM");
    EXPECT_EQ(info.Channels, 2);
    EXPECT_EQ(info.BlockAlign, 4);
}

TEST_F(RiffReaderTest, ChunksBeforeAndAfterFmtAreWalkedWithPadBytes) {
    // JUNK before fmt, an 18-byte fmt, then fact, an odd-sized LIST and bext before data.
    const Bytes odd = {'a', 'b', 'c'};
    Bytes wav = Riff({{"JUNK", Bytes(28, 0)},
                      {"fmt ", FmtPayload(1, 1, 8000, 16, 2)},
                      {"fact", Bytes(4, 0)},
                      {"LIST", odd},
                      {"bext", Bytes(5, 7)},
                      {"data", Pcm16({1, 2, 3, 4})}});
    StreamInfo info;
    ASSERT_TRUE(Probe(wav, info));
    EXPECT_EQ(info.DataSize, 8u);
    EXPECT_EQ(wav[info.StartOffset], 1);
    EXPECT_EQ(wav[info.StartOffset + 6], 4);
}

TEST_F(RiffReaderTest, DataSizeIsClampedToTheFile) {
    Bytes wav = SimpleWav({1, 2, 3, 4}, 1, 8000);
    wav[40] = wav[41] = wav[42] = wav[43] = 0xFF;  // streaming writers leave 0xFFFFFFFF
    StreamInfo info;
    ASSERT_TRUE(Probe(wav, info));
    EXPECT_EQ(info.DataSize, 8u);
    EXPECT_EQ(info.DurationMs, 0u);

    Bytes cut = SimpleWav(std::vector<std::int16_t>(100, 5), 1, 8000);
    cut.resize(44 + 50);
    ASSERT_TRUE(Probe(cut, info));
    EXPECT_EQ(info.DataSize, 50u);
}

TEST_F(RiffReaderTest, RefusalsEndWithTheEngineCodes) {
    StreamInfo info;
    struct Case {
        const char* name;
        Bytes bytes;
        int riffCode;  // what the RIFF reader alone reports
    };
    Bytes truncatedFmt = SimpleWav({1, 2}, 1, 8000);
    truncatedFmt.resize(30);
    Bytes noData = Riff({{"fmt ", FmtPayload(1, 1, 8000, 16)}});
    Bytes noFmt = Riff({{"data", Pcm16({1, 2})}});
    Bytes shortFmt = Riff({{"fmt ", Bytes(14, 1)}, {"data", Pcm16({1})}});
    const Case cases[] = {
        {"truncated header", truncatedFmt, kErrRead},
        {"no data chunk", noData, kErrRead},
        {"data before fmt", noFmt, kErrUnknownFormat},
        {"fmt below 16 bytes", shortFmt, kErrUnknownFormat},
        {"adpcm", Riff({{"fmt ", FmtPayload(2, 1, 8000, 4)}, {"data", Bytes(8)}}),
         kErrCompressedWav},
        {"zero channels", Riff({{"fmt ", FmtPayload(1, 0, 8000, 16)}, {"data", Bytes(8)}}),
         kErrUnknownFormat},
        {"nine channels", Riff({{"fmt ", FmtPayload(1, 9, 8000, 16)}, {"data", Bytes(18)}}),
         kErrUnknownFormat},
        {"rate zero", Riff({{"fmt ", FmtPayload(1, 1, 0, 16)}, {"data", Bytes(8)}}),
         kErrUnknownFormat},
        {"rate too high", Riff({{"fmt ", FmtPayload(1, 1, 400000, 16)}, {"data", Bytes(8)}}),
         kErrUnknownFormat},
        {"bits zero", Riff({{"fmt ", FmtPayload(1, 1, 8000, 0)}, {"data", Bytes(8)}}),
         kErrUnknownFormat},
        {"12 bits", Riff({{"fmt ", FmtPayload(1, 1, 8000, 12)}, {"data", Bytes(8)}}),
         kErrUnknownFormat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ReadRiff(c.bytes, info));
        EXPECT_EQ(LastError(), c.riffCode);
        // Refused RIFF files go on to the MPEG probe, which refuses them too.
        EXPECT_FALSE(Probe(c.bytes, info));
        EXPECT_EQ(LastError(), kErrUnknownFormat);
    }
}

TEST_F(RiffReaderTest, InconsistentBlockAlignIsRefused) {
    Bytes fmt = FmtPayload(1, 2, 44100, 16);
    fmt[12] = 3;  // block align 3 for stereo 16-bit
    StreamInfo info;
    EXPECT_FALSE(ReadRiff(Riff({{"fmt ", fmt}, {"data", Bytes(12)}}), info));
    EXPECT_EQ(LastError(), kErrUnknownFormat);
}

TEST_F(RiffReaderTest, ShortFilesAndMissingFiles) {
    StreamInfo info;
    EXPECT_FALSE(Probe({'R', 'I'}, info));
    EXPECT_EQ(LastError(), kErrUnknownFormat);
    EXPECT_FALSE(ProbeInput(dir_ / "missing.wav", info));
    EXPECT_EQ(LastError(), kErrOpen);
    EXPECT_FALSE(ProbeInput(dir_.path().string(), info));  // a folder is no input
    EXPECT_EQ(LastError(), kErrOpen);
}

TEST_F(RiffReaderTest, RealMediaIsRefusedWithItsMessageAndNoCode) {
    StreamInfo info;
    EXPECT_FALSE(Probe({'.', 'R', 'M', 'F', 0, 0, 0, 0}, info));
    EXPECT_EQ(LastError(), 0);
    EXPECT_FALSE(Probe({0x2E, 0x72, 0x61, 0xFD, 0, 0}, info));
    EXPECT_EQ(LastError(), 0);
    const auto msgs = notes_.Messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].text, "Tralux no longer supports RealAudio or RealMedia decoding.");
}

TEST_F(RiffReaderTest, CdaTrackFile) {
    Bytes fmt;
    Put16(fmt, 1);
    Put16(fmt, 5);           // track
    Put32(fmt, 0x1234);      // serial
    Put32(fmt, 15000);       // first sector
    Put32(fmt, 15800);       // length in sectors
    Put32(fmt, 0x00020110);  // start: frame 16, second 1, minute 2
    Put32(fmt, 0x00031E28);  // length: frame 40, second 30, minute 3
    StreamInfo info;
    ASSERT_TRUE(Probe(Riff({{"fmt ", fmt}}, "CDDA"), info));
    EXPECT_EQ(info.trackNumber, 5);
    EXPECT_EQ(info.DurationMs, 210000u);
    EXPECT_EQ(info.StartOffset, 121000u);
    EXPECT_EQ(info.cdaStartSector, 15000u);
    EXPECT_EQ(info.readStartSector, 15000u);
    EXPECT_EQ(info.lengthSectors, 15800u);
    EXPECT_EQ(info.Title, "音樂 CD, 音軌#5");  // no padding reaches a tag
    EXPECT_EQ(info.SampleRate, 44100u);
    EXPECT_EQ(info.BitRate2, 1411200u);

    Bytes trackZero = fmt;
    trackZero[2] = 0;  // no such track: must not pass for a WAV without a format
    EXPECT_FALSE(Probe(Riff({{"fmt ", trackZero}}, "CDDA"), info));

    Bytes wrong = fmt;
    wrong.pop_back();  // fmt size 23
    EXPECT_FALSE(Probe(Riff({{"fmt ", wrong}}, "CDDA"), info));
    EXPECT_EQ(LastError(), kErrUnknownFormat);
}

TEST_F(RiffReaderTest, PathRepairInsertsABlankAfterTheLastSlash) {
    const std::string spaced = dir_ / " x.wav";
    WriteFile(spaced, SimpleWav({0, 0}, 1, 8000));
    EXPECT_EQ(RepairInputPath(dir_ / "x.wav"), spaced);
    EXPECT_EQ(RepairInputPath(dir_ / "y.wav"), dir_ / "y.wav");  // nothing better to offer
    StreamInfo info;
    EXPECT_TRUE(ProbeInput(dir_ / "x.wav", info));
}

// Wider and float samples reach the pipeline as rounded, clipped 16-bit values.
TEST_F(RiffReaderTest, ModernFormatsAreConvertedTo16Bit) {
    StreamInfo info;
    Bytes p24 = {0x80, 0x00, 0x00, /*+128 -> 1*/ 0x7F,    0x00, 0x00, /*127 -> 0*/
                 0xFF, 0xFF, 0x7F, /*max -> 32767*/ 0x00, 0x00, 0x80 /*min*/};
    ASSERT_TRUE(Probe(Riff({{"fmt ", FmtPayload(1, 1, 48000, 24)}, {"data", p24}}), info));
    ASSERT_TRUE(NeedsSampleConversion(info));
    std::int16_t out[4];
    ConvertStoredSamples(p24.data(), 4, info, out);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], 32767);
    EXPECT_EQ(out[3], -32768);

    Bytes f32;
    for (float v : {0.5f, -1.0f, 1.5f, -2.0f, 1.0f}) {
        std::uint32_t u;
        std::memcpy(&u, &v, 4);
        Put32(f32, u);
    }
    ASSERT_TRUE(Probe(Riff({{"fmt ", FmtPayload(3, 1, 44100, 32)}, {"data", f32}}), info));
    std::int16_t fo[5];
    ConvertStoredSamples(f32.data(), 5, info, fo);
    EXPECT_EQ(fo[0], 16384);
    EXPECT_EQ(fo[1], -32768);
    EXPECT_EQ(fo[2], 32767);
    EXPECT_EQ(fo[3], -32768);
    EXPECT_EQ(fo[4], 32767);

    Bytes i32;
    Put32(i32, 0x7FFFFFFF);
    Put32(i32, 0x00008000);  // exactly half an LSB rounds up
    ASSERT_TRUE(Probe(Riff({{"fmt ", FmtPayload(1, 1, 44100, 32)}, {"data", i32}}), info));
    std::int16_t io[2];
    ConvertStoredSamples(i32.data(), 2, info, io);
    EXPECT_EQ(io[0], 32767);
    EXPECT_EQ(io[1], 1);
}

// More than two channels are mixed down to stereo: front sides in full, centre and surrounds
// at -3 dB, no LFE, scaled so nothing clips.
TEST_F(RiffReaderTest, SurroundIsMixedDownToStereo) {
    Bytes pcm;
    for (int v : {1000, 2000, 3000, 30000, 4000, 5000}) Put16(pcm, static_cast<std::uint16_t>(v));
    StreamInfo info;
    ASSERT_TRUE(Probe(Riff({{"fmt ", FmtPayload(1, 6, 48000, 16)}, {"data", pcm}}), info));
    EXPECT_EQ(info.Channels, 2);
    ASSERT_TRUE(NeedsSampleConversion(info));
    std::int16_t out[2];
    ConvertStoredSamples(pcm.data(), 1, info, out);
    const double k = 0.7071, n = 1 + 2 * k;
    EXPECT_EQ(out[0], std::lround((1000 + k * 3000 + k * 4000) / n));
    EXPECT_EQ(out[1], std::lround((2000 + k * 3000 + k * 5000) / n));
    // Quad: FL FR BL BR.
    pcm.clear();
    for (int v : {32767, 0, 32767, 0}) Put16(pcm, static_cast<std::uint16_t>(v));
    ASSERT_TRUE(Probe(Riff({{"fmt ", FmtPayload(1, 4, 48000, 16)}, {"data", pcm}}), info));
    ConvertStoredSamples(pcm.data(), 1, info, out);
    EXPECT_EQ(out[0], 32767);
    EXPECT_EQ(out[1], 0);
}

TEST_F(RiffReaderTest, ExtensibleFormatTakesItsSubFormat) {
    auto ext = [](std::uint16_t sub, std::uint16_t bits) {
        Bytes f = FmtPayload(0xFFFE, 2, 96000, bits);
        Put16(f, 22);
        Put16(f, bits);
        Put32(f, 3);
        Put16(f, sub);
        const std::uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        f.insert(f.end(), tail, tail + 14);
        return f;
    };
    StreamInfo info;
    ASSERT_TRUE(Probe(Riff({{"fmt ", ext(1, 24)}, {"data", Bytes(12)}}), info));
    EXPECT_EQ(info.BitsPerSample, 24);
    EXPECT_EQ(info.Encoding, SampleEncoding::Integer);
    ASSERT_TRUE(Probe(Riff({{"fmt ", ext(3, 32)}, {"data", Bytes(16)}}), info));
    EXPECT_EQ(info.Encoding, SampleEncoding::Float);
    EXPECT_FALSE(ReadRiff(Riff({{"fmt ", ext(2, 16)}, {"data", Bytes(16)}}), info));
    EXPECT_EQ(LastError(), kErrCompressedWav);
}

}  // namespace
}  // namespace tralux
