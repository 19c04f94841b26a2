// Stream information: probing, VBR headers and the seek rules.
#include <gtest/gtest.h>

#include <cstring>

#include "synth_stream.h"
#include "mp3dec/mp3dec.h"

namespace {

using namespace mp3dec;
using mp3test::FrameSpec;
using mp3test::MakeFrame;

void PutBe(std::vector<uint8_t>& b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
}

FrameSpec Stereo128() {
    FrameSpec s = mp3test::ToneFrame();
    s.mono = false;
    s.bitrateIndex = 9;
    return s;
}

class Probe : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Mp3InfoCreate(info_), kOk); }
    void TearDown() override { EXPECT_EQ(Mp3InfoDelete(info_), kOk); }
    bool Run(const std::vector<uint8_t>& bytes, int64_t fileLength) {
        return Mp3InfoProbe(info_, bytes.data(), std::min<size_t>(8192, bytes.size()), fileLength);
    }
    const Mp3StreamInfo& Info() { return *Mp3InfoGet(info_); }
    Mp3InfoHandle info_;
};

TEST_F(Probe, ConstantBitRate) {
    const auto stream = mp3test::Repeat(MakeFrame(Stereo128()), 30);
    ASSERT_TRUE(Run(stream, 1000000));
    EXPECT_EQ(Info().bitrate, 128000);
    EXPECT_EQ(Info().channels, 2);
    EXPECT_EQ(Info().sampleRate, 44100);
    EXPECT_EQ(Info().durationMs, 62500);
    EXPECT_EQ(Info().firstFrameOffset, 0);  // a frame at offset 0 is found
    EXPECT_FALSE(Info().vbrHeader);
    EXPECT_FALSE(Info().variableBitrate);
    EXPECT_EQ(Mp3InfoSeekOffset(info_, 30000), 480000);
    EXPECT_EQ(Mp3InfoSeekOffset(info_, 10000000), 1000000);  // clamped to the duration and file
    EXPECT_EQ(Mp3InfoSeekOffset(info_, -5), 0);
}

TEST_F(Probe, NothingToFind) {
    std::vector<uint8_t> junk(5000);
    for (size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<uint8_t>(i * 7919 >> 3);
    EXPECT_FALSE(Run(junk, 5000));
    FrameSpec layer2 = Stereo128();
    layer2.layer = 2;
    EXPECT_FALSE(Run(mp3test::Repeat(MakeFrame(layer2), 10), 5000));
    EXPECT_TRUE(Run(MakeFrame(mp3test::ToneFrame()), 104));  // a one-frame file
}

std::vector<uint8_t> XingStream(uint32_t flags, uint32_t frames, uint32_t bytes) {
    auto first = MakeFrame(Stereo128());
    size_t at = 36;
    std::memcpy(first.data() + at, "Xing", 4);
    PutBe(first, at + 4, flags, 4);
    at += 8;
    if (flags & 1) PutBe(first, at, frames, 4), at += 4;
    if (flags & 2) PutBe(first, at, bytes, 4), at += 4;
    if (flags & 4) {
        for (int i = 0; i < 100; ++i) first[at + i] = static_cast<uint8_t>(i * 256 / 100);
        at += 100;
    }
    auto stream = first;
    const auto rest = mp3test::Repeat(MakeFrame(Stereo128()), 20);
    stream.insert(stream.end(), rest.begin(), rest.end());
    return stream;
}

TEST_F(Probe, XingTableOfContents) {
    ASSERT_TRUE(Run(XingStream(7, 1000, 1000000), 1000000));
    EXPECT_TRUE(Info().vbrHeader);
    EXPECT_TRUE(Info().variableBitrate);
    EXPECT_TRUE(Info().seekTable);
    EXPECT_EQ(Info().frames, 1000);
    EXPECT_EQ(Info().durationMs, 26122);  // 1000 x 1152 / 44100 s
    EXPECT_NEAR(Info().bitrate, 1000000 * 8 / 26.122, 50);
    EXPECT_EQ(Mp3InfoSeekPercent(info_, 50), 500000);  // toc[50] = 128
    EXPECT_EQ(Mp3InfoSeekPercent(info_, 100), 1000000);
    EXPECT_EQ(Mp3InfoSeekPercent(info_, 250), 1000000);
    EXPECT_EQ(Mp3InfoSeekPercent(info_, -3), 0);
    EXPECT_NEAR(static_cast<double>(Mp3InfoSeekOffset(info_, Info().durationMs / 2)), 500000, 100);
}

TEST_F(Probe, ImplausibleVbrHeadersAreIgnored) {
    ASSERT_TRUE(Run(XingStream(7, 0, 1000000), 1000000));
    EXPECT_FALSE(Info().vbrHeader);
    EXPECT_EQ(Info().durationMs, 62500);
    ASSERT_TRUE(Run(XingStream(7, 0xFFFFFFF0u, 1000000), 1000000));
    EXPECT_FALSE(Info().vbrHeader);
    ASSERT_TRUE(Run(XingStream(3, 1000, 0), 1000000));
    EXPECT_FALSE(Info().vbrHeader);
}

TEST_F(Probe, InfoTagAtLowRates) {
    FrameSpec s = mp3test::ToneFrame();
    s.version = 2;
    s.rateIndex = 2;     // 8000 Hz
    s.bitrateIndex = 2;  // 16 kbit/s
    auto first = MakeFrame(s);
    std::memcpy(first.data() + 13, "Info",
                4);  // after 4 header bytes and 9 bytes of side information
    PutBe(first, 17, 1, 4);
    PutBe(first, 21, 500, 4);
    auto stream = first;
    const auto rest = mp3test::Repeat(MakeFrame(s), 12);
    stream.insert(stream.end(), rest.begin(), rest.end());
    ASSERT_TRUE(Run(stream, 500 * 144));
    EXPECT_TRUE(Info().vbrHeader);
    EXPECT_FALSE(Info().variableBitrate);
    EXPECT_EQ(Info().durationMs, 36000);  // 500 x 576 / 8000 s
    EXPECT_EQ(Info().bitrate, 16000);
}

std::vector<uint8_t> VbriStream(uint16_t framesPerEntry, uint16_t entries, size_t keep = 0) {
    auto first = MakeFrame(Stereo128());
    const size_t at = 36;
    std::memcpy(first.data() + at, "VBRI", 4);
    PutBe(first, at + 4, 1, 2);         // version
    PutBe(first, at + 10, 500000, 4);   // stream bytes
    PutBe(first, at + 14, 1000, 4);     // frames
    PutBe(first, at + 18, entries, 2);  // table entries
    PutBe(first, at + 20, 2, 2);        // scale
    PutBe(first, at + 22, 2, 2);        // entry size
    PutBe(first, at + 24, framesPerEntry, 2);
    const size_t frameSize = first.size();
    first.resize(std::max(frameSize, at + 26 + 2 * size_t{entries}));
    for (int i = 0; i < entries; ++i) PutBe(first, at + 26 + 2 * i, 25000, 2);  // 50000 bytes each
    first.resize(keep ? keep : frameSize);  // a table longer than the frame is cut off
    auto stream = first;
    const auto rest = mp3test::Repeat(MakeFrame(Stereo128()), 20);
    stream.insert(stream.end(), rest.begin(), rest.end());
    return stream;
}

TEST_F(Probe, VbriTable) {
    ASSERT_TRUE(Run(VbriStream(100, 10), 600000));
    EXPECT_TRUE(Info().vbrHeader);
    EXPECT_TRUE(Info().seekTable);
    EXPECT_EQ(Info().fileLength, 500000);
    EXPECT_EQ(Info().durationMs, 26122);
    const double frameMs = 1152 * 1000.0 / 44100;
    EXPECT_NEAR(
        static_cast<double>(Mp3InfoSeekOffset(info_, static_cast<int64_t>(250 * frameMs + 0.5))),
        125000, 100);
    EXPECT_NEAR(
        static_cast<double>(Mp3InfoSeekOffset(info_, static_cast<int64_t>(50 * frameMs + 0.5))),
        25000, 100);
    EXPECT_NEAR(static_cast<double>(Mp3InfoSeekOffset(info_, Info().durationMs)), 500000, 100);
    EXPECT_EQ(Mp3InfoSeekOffset(info_, 10 * Info().durationMs),
              Mp3InfoSeekOffset(info_, Info().durationMs));
}

TEST_F(Probe, ImplausibleVbriIsIgnored) {
    ASSERT_TRUE(Run(VbriStream(0, 10), 600000));
    EXPECT_FALSE(Info().vbrHeader);
    ASSERT_TRUE(Run(VbriStream(100, 200), 600000));  // the table runs past the frame's 417 bytes
    EXPECT_FALSE(Info().vbrHeader);
}

TEST_F(Probe, Id3v2TagIsSkipped) {
    std::vector<uint8_t> stream = {'I',  'D', '3', 4, 0,
                                   0x10, 0,   0,   7, 0x68};  // 1000-byte body, footer
    stream.resize(10 + 1000 + 10, 0);
    const auto frames = mp3test::Repeat(MakeFrame(Stereo128()), 15);
    stream.insert(stream.end(), frames.begin(), frames.end());
    EXPECT_EQ(Mp3Id3v2Size(stream.data(), stream.size()), 1020u);
    ASSERT_TRUE(Run(stream, 1020 + 1000000));
    EXPECT_EQ(Info().firstFrameOffset, 1020);
    EXPECT_EQ(Info().durationMs, 62500);
    EXPECT_EQ(Mp3InfoSeekOffset(info_, 30000), 1020 + 480000);
    // A tag larger than the bytes given is left to the caller.
    stream[7] = 0x7F;
    EXPECT_GT(Mp3Id3v2Size(stream.data(), stream.size()), 8192u);
    EXPECT_FALSE(Run(stream, 3000000));
}

}  // namespace
