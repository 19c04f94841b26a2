#include "engine/job/describe.h"

#include <gtest/gtest.h>

namespace tralux {
namespace {

TEST(DescribeTest, ThousandsRounding) {
    EXPECT_EQ(Thousands(44100), "44.1");
    EXPECT_EQ(Thousands(22050), "22");
    EXPECT_EQ(Thousands(128000), "128");
    EXPECT_EQ(Thousands(450), "0.4");
    EXPECT_EQ(Thousands(40), "0");
    EXPECT_EQ(Thousands(11025), "11");
    EXPECT_EQ(Thousands(1951), "2");  // 51 > 50 adds 100 first
}

TEST(DescribeTest, TwoLines) {
    StreamInfo info;
    info.Title = "Song";
    info.Artist = "Band";
    info.BitRate = info.BitRate2 = 128000;
    info.SampleRate = 44100;
    info.Channels = 2;
    info.CodecName = "MP3";
    info.BitsPerSample = 16;
    EXPECT_EQ(DescribeInput(info), "Song,Band\n128kBps,44.1kHz,立體聲, MP3,16 bits,");
    info.BitRate2 = 1411200;
    info.Channels = 1;
    EXPECT_EQ(DescribeInput(info).substr(10), "1.4mBps,44.1kHz,單聲, MP3,16 bits,");
}

}  // namespace
}  // namespace tralux
