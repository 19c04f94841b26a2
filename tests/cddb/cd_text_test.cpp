// CD-Text from drive packs and CUE sheets, and the file names of ripped tracks.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cddb/cd_text.h"
#include "cddb/track_name.h"

namespace tralux::cddb {
namespace {

// Packs of one type for block 0 as a drive returns them (CRC left zero, as many drives do).
void AddPacks(std::vector<std::uint8_t>& out, std::uint8_t type,
              const std::vector<std::string>& texts, std::uint8_t& seq, std::uint8_t flags = 0) {
    std::string all;
    std::vector<int> trackOfByte;
    for (std::size_t t = 0; t < texts.size(); ++t) {
        all += texts[t];
        all.push_back('\0');
        trackOfByte.resize(all.size(), static_cast<int>(t));
    }
    while (all.size() % 12) {
        all.push_back('\0');
        trackOfByte.push_back(static_cast<int>(texts.size()));
    }
    for (std::size_t off = 0; off < all.size(); off += 12) {
        out.push_back(type);
        out.push_back(static_cast<std::uint8_t>(trackOfByte[off]));
        out.push_back(seq++);
        out.push_back(flags);
        out.insert(out.end(), all.begin() + static_cast<std::ptrdiff_t>(off),
                   all.begin() + static_cast<std::ptrdiff_t>(off) + 12);
        out.push_back(0);
        out.push_back(0);
    }
}

TEST(CdTextPacksTest, TitlesAndPerformerOfBlockZero) {
    std::vector<std::uint8_t> packs;
    std::uint8_t seq = 0;
    AddPacks(packs, 0x80, {"Greatest Hits", "The first song of the disc", "\t", "Third"}, seq);
    AddPacks(packs, 0x81, {"Some Band", "Some Band", "Some Band", "Some Band"}, seq);
    // With the 4-byte header a READ TOC reply starts with.
    std::vector<std::uint8_t> reply{static_cast<std::uint8_t>((packs.size() + 2) >> 8),
                                    static_cast<std::uint8_t>((packs.size() + 2) & 0xFF), 0, 0};
    reply.insert(reply.end(), packs.begin(), packs.end());
    for (const auto* data : {&packs, &reply}) {
        const auto info = ParseCdTextPacks(data->data(), data->size(), 3);
        ASSERT_TRUE(info);
        EXPECT_EQ(info->discTitle, "Some Band / Greatest Hits");
        ASSERT_EQ(info->tracks.size(), 3u);
        EXPECT_EQ(info->tracks[0].title, "The first song of the disc");
        EXPECT_EQ(info->tracks[1].title, "The first song of the disc");  // tab: as the previous
        EXPECT_EQ(info->tracks[2].title, "Third");
    }
}

TEST(CdTextPacksTest, Latin1BlockAndDamage) {
    std::vector<std::uint8_t> packs;
    std::uint8_t seq = 0;
    AddPacks(packs, 0x80, {"", "Caf\xE9"}, seq);
    std::vector<std::uint8_t> info8f(18, 0);
    info8f[0] = 0x8F;  // block info: character code 0x00, ISO-8859-1
    packs.insert(packs.end(), info8f.begin(), info8f.end());
    auto info = ParseCdTextPacks(packs.data(), packs.size(), 1);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->tracks[0].title, "Café");
    EXPECT_EQ(info->discTitle, "");
    // No packs, a cut pack, double-byte texts: nothing.
    EXPECT_FALSE(ParseCdTextPacks(packs.data(), 10, 1));
    EXPECT_FALSE(ParseCdTextPacks(nullptr, 0, 1));
    std::vector<std::uint8_t> wide;
    seq = 0;
    AddPacks(wide, 0x80, {"", "ab"}, seq, 0x80);
    EXPECT_FALSE(ParseCdTextPacks(wide.data(), wide.size(), 1));
}

TEST(CueCdTextTest, DiscAndTrackTexts) {
    const std::string cue =
        "\xEF\xBB\xBFREM GENRE Pop\r\n"
        "PERFORMER \"周杰\"\r\n"
        "TITLE \"夜曲 精選\"\r\n"
        "FILE \"disc.bin\" BINARY\r\n"
        "  TRACK 01 AUDIO\r\n"
        "    TITLE \"第一首\"\r\n"
        "    PERFORMER \"周杰\"\r\n"
        "    INDEX 01 00:00:00\r\n"
        "  TRACK 02 AUDIO\r\n"
        "    INDEX 01 03:00:00\r\n"
        "  track 03 audio\r\n"
        "    title Unquoted words\r\n"
        "  TRACK 04 AUDIO\r\n"
        "    TITLE \"\xA4\xA4\"\r\n";  // Big5 in a sheet said to be text: left out
    const auto info = ParseCueCdText(cue, 4);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->discTitle, "周杰 / 夜曲 精選");
    EXPECT_EQ(info->tracks[0].title, "第一首");
    EXPECT_EQ(info->tracks[1].title, "");
    EXPECT_EQ(info->tracks[2].title, "Unquoted words");
    EXPECT_EQ(info->tracks[3].title, "");
    EXPECT_FALSE(
        ParseCueCdText("FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", 1));
}

TEST(TrackFileNameTest, CleanNamesKeepChinese) {
    EXPECT_EQ(TrackFileName(1, "第1首 春天的歌", ".mp3"), "01 第1首 春天的歌.mp3");
    EXPECT_EQ(TrackFileName(2, "夏夜/晚風", "wav"), "02 夏夜_晚風.wav");
    EXPECT_EQ(TrackFileName(3, "..秋意", ".wav"), "03 秋意.wav");
    EXPECT_EQ(TrackFileName(12, " ../../etc/passwd", ".wav"), "12 _.._etc_passwd.wav");
    EXPECT_EQ(TrackFileName(4, "tab\tnew\nline\x7f", ".wav"), "04 tabnewline.wav");
    EXPECT_EQ(TrackFileName(5, "", ".wav"), "05.wav");
    EXPECT_EQ(TrackFileName(6, "...", ".wav"), "06.wav");
    EXPECT_EQ(TrackFileName(7, "Caf\xE9\x85", ".wav"),
              "07 Café.wav");  // Latin-1, C1 control dropped
}

TEST(TrackFileNameTest, LongTitlesAreCutOnACharacter) {
    std::string title;
    for (int i = 0; i < 100; ++i) title += "歌";
    const std::string name = TrackFileName(9, title, ".mp3");
    EXPECT_LE(name.size(), 255u);
    EXPECT_EQ(name.substr(name.size() - 4), ".mp3");
    EXPECT_EQ(name.size(), 3u + 198u + 4u);  // 66 whole characters
}

}  // namespace
}  // namespace tralux::cddb
