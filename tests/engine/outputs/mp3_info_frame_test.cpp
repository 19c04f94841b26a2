#include "engine/outputs/mp3_info_frame.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/wav_builder.h"
#include "support/require.h"

namespace tralux {
namespace {

TEST(Mp3InfoFrame, Crc16IsTheStandardArcCrc) {
    const std::string check = "123456789";
    EXPECT_EQ(Crc16Update(0, reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0xBB3D);
}

TEST(Mp3InfoFrame, HeaderParsingFollowsTheStandard) {
    Mp3FrameHeader h;
    // MPEG-1 Layer III 128 kbit/s 44100 Hz joint stereo, padded: 418 bytes.
    const std::uint8_t a[4] = {0xFF, 0xFB, 0x92, 0x40};
    ASSERT_TRUE(ParseMp3FrameHeader(a, 4, h));
    EXPECT_EQ(h.version, 0);
    EXPECT_EQ(h.bitrateKbps, 128);
    EXPECT_EQ(h.sampleRate, 44100u);
    EXPECT_EQ(h.frameBytes, 418);
    EXPECT_EQ(h.sideInfoBytes, 32);
    // MPEG-2.5 8 kbit/s 8000 Hz mono: 72 bytes, 576 samples.
    const std::uint8_t b[4] = {0xFF, 0xE3, 0x18, 0xC0};
    ASSERT_TRUE(ParseMp3FrameHeader(b, 4, h));
    EXPECT_EQ(h.version, 2);
    EXPECT_EQ(h.frameBytes, 72);
    EXPECT_EQ(h.samplesPerFrame, 576);
    EXPECT_EQ(h.channels, 1);
    // Layer II, free format, a bad rate index, too few bytes.
    for (const auto& bad : {std::array<std::uint8_t, 4>{0xFF, 0xFD, 0x90, 0x00},
                            {0xFF, 0xFB, 0x02, 0x00},
                            {0xFF, 0xFB, 0x9C, 0x00},
                            {0xFF, 0xEB, 0x90, 0x00}})
        EXPECT_FALSE(ParseMp3FrameHeader(bad.data(), 4, h));
    EXPECT_FALSE(ParseMp3FrameHeader(a, 3, h));
}

TEST(Mp3InfoFrame, WrittenFramesReadBackAtEveryRate) {
    for (std::uint32_t rate :
         {8000u, 11025u, 12000u, 16000u, 22050u, 24000u, 32000u, 44100u, 48000u}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(rate) + "/" + std::to_string(channels));
            Mp3InfoTag in;
            in.encoder = kInfoEncoderName;
            in.frames = 12345;
            in.bytes = 987654;
            for (int i = 0; i < 100; ++i)
                in.toc[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 2);
            in.delay = 1104;
            in.padding = 4095;
            const std::vector<std::uint8_t> frame = BuildMp3InfoFrame(rate, channels, in, 0x1234);
            ASSERT_EQ(frame.size(), Mp3InfoFrameBytes(rate, channels));
            Mp3FrameHeader h;
            ASSERT_TRUE(ParseMp3FrameHeader(frame.data(), frame.size(), h));
            EXPECT_EQ(static_cast<std::size_t>(h.frameBytes), frame.size());
            EXPECT_EQ(h.sampleRate, rate);
            EXPECT_EQ(h.channels, channels);
            Mp3InfoTag out;
            ASSERT_TRUE(ReadMp3InfoTag(frame.data(), frame.size(), out));
            EXPECT_FALSE(out.xing);
            EXPECT_EQ(out.frames, in.frames);
            EXPECT_EQ(out.bytes, in.bytes);
            EXPECT_EQ(out.toc, in.toc);
            ASSERT_TRUE(out.hasExtension);
            EXPECT_EQ(out.encoder, kInfoEncoderName);
            EXPECT_EQ(out.delay, 1104);
            EXPECT_EQ(out.padding, 4095);
            // The extension's own CRC covers the frame up to it.
            const std::size_t end = 4 + static_cast<std::size_t>(h.sideInfoBytes) + 120 + 34;
            EXPECT_EQ(Crc16Update(0, frame.data(), end), frame[end] << 8 | frame[end + 1]);
        }
    }
    EXPECT_EQ(Mp3InfoFrameBytes(96000, 2), 0u);
    EXPECT_TRUE(BuildMp3InfoFrame(7350, 1, {}, 0).empty());
}

TEST(Mp3InfoFrame, DelayAndPaddingAreTwelveBitsEach) {
    Mp3InfoTag in;
    in.encoder = "X";
    in.delay = 5000;
    in.padding = -3;
    Mp3InfoTag out;
    const std::vector<std::uint8_t> f = BuildMp3InfoFrame(44100, 2, in, 0);
    ASSERT_TRUE(ReadMp3InfoTag(f.data(), f.size(), out));
    EXPECT_EQ(out.delay, 4095);
    EXPECT_EQ(out.padding, 0);
}

TEST(Mp3InfoFrame, AnExtensionIsOnlyBelievedWithAnEncoderName) {
    Mp3InfoTag in;
    std::vector<std::uint8_t> f = BuildMp3InfoFrame(44100, 2, in, 0);
    const std::size_t name = 4 + 32 + 120;
    std::fill(f.begin() + name, f.begin() + name + 9, 0);  // an old Xing header without extension
    Mp3InfoTag out;
    ASSERT_TRUE(ReadMp3InfoTag(f.data(), f.size(), out));
    EXPECT_FALSE(out.hasExtension);
    // Cut short: the header fields that fit are read, nothing beyond.
    ASSERT_TRUE(ReadMp3InfoTag(f.data(), 4 + 32 + 12, out));
    EXPECT_TRUE(out.hasFrames);
    EXPECT_FALSE(out.hasBytes);
    // Xing data that happens to hold "VBRI" where a VBRI header would start is still Xing.
    Mp3InfoTag toc;
    std::copy_n("VBRI", 4, toc.toc.begin() + 7);  // frame offset 36 in MPEG-2.5 mono
    const std::vector<std::uint8_t> lsf = BuildMp3InfoFrame(8000, 1, toc, 0);
    ASSERT_TRUE(ReadMp3InfoTag(lsf.data(), lsf.size(), out));
    EXPECT_FALSE(out.vbri);
    EXPECT_EQ(out.toc, toc.toc);
    // A frame of audio is no header frame.
    std::vector<std::uint8_t> audio(418, 0x55);
    audio[0] = 0xFF, audio[1] = 0xFB, audio[2] = 0x92, audio[3] = 0x40;
    EXPECT_FALSE(ReadMp3InfoTag(audio.data(), audio.size(), out));
}

TEST(Mp3InfoFrame, TableOfContentsMapsPercentOfFramesToBytes) {
    // 200 frames of 400 bytes after a 400-byte header frame.
    std::vector<std::uint32_t> offsets;
    for (std::uint32_t i = 0; i < 200; ++i) offsets.push_back(400 + 400 * i);
    const std::array<std::uint8_t, 100> toc = BuildMp3Toc(offsets, 400 * 201);
    EXPECT_EQ(toc[0], 1);     // frame 0 at 400 of 80400 bytes
    EXPECT_EQ(toc[50], 128);  // frame 100 at 40400 bytes
    EXPECT_EQ(toc[99], 253);  // frame 198 at 79600 bytes
    for (std::size_t i = 1; i < 100; ++i) EXPECT_GE(toc[i], toc[i - 1]);
    EXPECT_EQ(BuildMp3Toc({}, 0)[10], 0);
}

TEST(Mp3InfoFrame, ReadsTheDelayOfAReferenceEncoder) {
    if (std::system("command -v lame >/dev/null 2>&1") != 0) {
        if (::tralux::test::InCi()) FAIL() << "lame is needed under CI";
        GTEST_SKIP() << "lame not installed";
    }
    test::TempDir dir;
    std::vector<std::int16_t> s(44100 * 2);
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] = static_cast<std::int16_t>((i * 37) % 2000 - 1000);
    test::WriteFile(dir / "in.raw", test::Pcm16(s));
    ASSERT_EQ(
        std::system(("lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -b 128 " +
                     (dir / "in.raw") + " " + (dir / "out.mp3"))
                        .c_str()),
        0);
    const test::Bytes mp3 = test::ReadFile(dir / "out.mp3");
    std::size_t first = 0;
    if (mp3.size() > 10 && mp3[0] == 'I')
        first = 10 + (std::size_t(mp3[6]) << 21 | std::size_t(mp3[7]) << 14 |
                      std::size_t(mp3[8]) << 7 | mp3[9]);
    Mp3InfoTag tag;
    ASSERT_TRUE(ReadMp3InfoTag(&mp3[first], mp3.size() - first, tag));
    ASSERT_TRUE(tag.hasExtension);
    EXPECT_EQ(tag.encoder.substr(0, 4), "LAME");
    EXPECT_EQ(tag.delay, 576);
    // Frames of 1152 samples hold the input, the delay and the padding exactly.
    EXPECT_EQ(tag.frames * 1152u, 44100u + static_cast<std::uint32_t>(tag.delay + tag.padding));
}

}  // namespace
}  // namespace tralux
