#include "engine/formats/wav_writer.h"

#include <gtest/gtest.h>

#include <functional>

#include "engine/job/errors.h"

#include "support/wav_builder.h"

namespace tralux {
namespace {

using namespace test;

class WavWriterTest : public ::testing::Test {
protected:
    Bytes WriteWith(const std::function<void(File&)>& body) {
        const std::string p = dir_ / "out.wav";
        {
            File f;
            f.Open(p, File::Mode::CreateWrite);
            body(f);
        }
        return ReadFile(p);
    }
    TempDir dir_;
};

TEST_F(WavWriterTest, HeaderIsTheClassic44Bytes) {
    std::uint64_t offset = 0;
    Bytes b = WriteWith([&](File& f) { offset = WriteWavHeader(f, 2, 44100); });
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(offset, 40u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(Get32(b, 16), 16u);
    EXPECT_EQ(Get32(b, 24), 44100u);
    EXPECT_EQ(Get32(b, 28), 176400u);
    EXPECT_EQ(b[32], 4);
    EXPECT_EQ(b[34], 16);
}

TEST_F(WavWriterTest, InfoItemsAreEvenSizedWithOneOrTwoZeros) {
    Bytes odd = WriteWith([](File& f) { WriteInfoItem("INAM", "abc", f); });
    EXPECT_EQ(odd.size(), 8u + 4u);
    EXPECT_EQ(Get32(odd, 4), 4u);
    EXPECT_EQ(odd[11], 0);

    Bytes even = WriteWith([](File& f) { WriteInfoItem("INAM", "abcd", f); });
    EXPECT_EQ(even.size(), 8u + 6u);
    EXPECT_EQ(Get32(even, 4), 6u);
    EXPECT_EQ(even[12], 0);
    EXPECT_EQ(even[13], 0);

    EXPECT_TRUE(WriteWith([](File& f) { WriteInfoItem("INAM", "", f); }).empty());

    Bytes longText = WriteWith([](File& f) { WriteInfoItem("ICOP", std::string(5000, 'x'), f); });
    EXPECT_EQ(Get32(longText, 4), 1024u);  // cut to 1023 bytes plus the zero
}

TEST_F(WavWriterTest, InfoChunkWithoutTextsHoldsOnlyTheCredit) {
    Bytes b = WriteWith([](File& f) { WriteInfoChunk(f, "", "", "", true); });
    const std::string credit = "Converted by Quorvatix Tralux";
    ASSERT_EQ(b.size(), 12u + 8u + credit.size() + 1);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "LIST");
    EXPECT_EQ(Get32(b, 4), b.size() - 8);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "INFOISFT");

    Bytes all = WriteWith([](File& f) { WriteInfoChunk(f, "Song", "Band", "(c)", true); });
    const std::string s(all.begin(), all.end());
    EXPECT_NE(s.find("INAM"), std::string::npos);
    EXPECT_LT(s.find("IART"), s.find("ICOP"));
    EXPECT_EQ(Get32(all, 4), all.size() - 8);
    Bytes none = WriteWith([](File& f) { WriteInfoChunk(f, "Song", "Band", "(c)", false); });
    EXPECT_EQ(std::string(none.begin(), none.end()).find("INAM"), std::string::npos);
}

TEST_F(WavWriterTest, FinishPatchesBothSizes) {
    Bytes b = WriteWith([](File& f) {
        const std::uint64_t off = WriteWavHeader(f, 1, 8000);
        const std::uint8_t payload[6] = {1, 2, 3, 4, 5, 6};
        f.Write(payload, 6);
        FinishWav(f, off, 6);
    });
    EXPECT_EQ(Get32(b, 4), 36u + 6u);
    EXPECT_EQ(Get32(b, 40), 6u);
}

TEST_F(WavWriterTest, DiskFullRaisesTheCause) {
    File f;
    f.Open("/dev/full", File::Mode::ReadWrite);
    try {
        WriteWavHeader(f, 2, 44100);
        FAIL() << "no error on a full disk";
    } catch (const FileError& e) {
        EXPECT_EQ(e.cause(), kCauseDiskFull);
        EXPECT_EQ(FileErrorMessage(e.cause()), "File I/O Error: The disk is full.");
    }
}

}  // namespace
}  // namespace tralux
