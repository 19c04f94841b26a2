// The xmcd reader, the default entry, the protocol's URLs and the UTF-8 helpers.
#include <gtest/gtest.h>

#include "cddb/cd_info.h"
#include "cddb/disc_id.h"
#include "cddb/protocol.h"
#include "cddb_test_util.h"

namespace tralux::cddb {
namespace {

using test::MakeToc;

TEST(ParseXmcdTest, ContinuationLinesAreConcatenatedExactly) {
    CdInfo info;
    const std::vector<std::string> reply{"210 rock 1b033103 CD database entry follows",
                                         "# xmcd",
                                         "DISCID=1b033103",
                                         "DTITLE=測試歌手 / 測試專輯",
                                         "DTITLE= (second part)\r",
                                         "DYEAR=1999",
                                         "DGENRE=Folk",
                                         "EXTD=  YEAR: 1999\t",
                                         "TTITLE0=Hello Wor",
                                         "TTITLE0=ld",
                                         "TTITLE1=Second ",
                                         "TTITLE1=half",
                                         "EXTT1=live",
                                         "."};
    ASSERT_TRUE(ParseXmcd(reply, info, 2));
    EXPECT_EQ(info.discIdText, "1b033103");
    EXPECT_EQ(info.discTitle, "測試歌手 / 測試專輯 (second part)");
    EXPECT_EQ(info.year, "1999");
    EXPECT_EQ(info.genre, "Folk");
    EXPECT_EQ(info.extended, "YEAR: 1999");  // only the ends of the whole text are trimmed
    ASSERT_EQ(info.tracks.size(), 2u);
    EXPECT_EQ(info.tracks[0].title, "Hello World");
    EXPECT_EQ(info.tracks[1].title, "Second half");
    EXPECT_TRUE(info.tracks[0].selected);
}

TEST(ParseXmcdTest, ControlCharactersFromTheServerAreDropped) {
    CdInfo info;
    // An ESC sequence that would retitle a terminal, a C1 CSI (U+009B), a bell and a DEL.
    ASSERT_TRUE(ParseXmcd({"DTITLE=A\x1b]0;owned\x07"
                           "B",
                           "TTITLE0=x\xc2\x9b"
                           "31my\x7f"},
                          info, 1));
    EXPECT_EQ(info.discTitle, "A]0;ownedB");
    EXPECT_EQ(info.tracks[0].title, "x31my");
    EXPECT_EQ(StripControls("中\t文\xc2\xa0"), "中 文\xc2\xa0");  // NBSP is no control
}

TEST(DiscTitleTest, SplitsAtTheFirstSlash) {
    std::string artist, album;
    SplitDiscTitle("林小雨 / 春天 / 夏天", artist, album);
    EXPECT_EQ(artist, "林小雨");
    EXPECT_EQ(album, "春天 / 夏天");
    SplitDiscTitle("AC/DC", artist, album);
    EXPECT_EQ(artist, "AC/DC");
    EXPECT_EQ(album, "AC/DC");
}

TEST(ParseXmcdTest, TrackCountComesFromTheDiscNotTheReply) {
    CdInfo info;
    const std::vector<std::string> reply{"TTITLE0=one", "TTITLE1=two", "TTITLE2=three",
                                         "TTITLE10=ten"};
    ASSERT_TRUE(ParseXmcd(reply, info, 2));
    ASSERT_EQ(info.tracks.size(), 2u);
    EXPECT_EQ(info.tracks[1].title, "two");
    // Fewer lines than tracks: the rest stay empty. TTITLE1 must not match TTITLE10.
    ASSERT_TRUE(ParseXmcd({"TTITLE10=ten", "TTITLE01=zero-one"}, info, 3));
    EXPECT_EQ(info.tracks[0].title, "");
    EXPECT_EQ(info.tracks[1].title, "");
    EXPECT_EQ(info.tracks[2].title, "");
}

TEST(ParseXmcdTest, EmptyListClearsAndFails) {
    CdInfo info;
    info.discTitle = "old";
    info.tracks.resize(3);
    EXPECT_FALSE(ParseXmcd({}, info, 3));
    EXPECT_TRUE(info.discTitle.empty());
    EXPECT_TRUE(info.tracks.empty());
}

TEST(DefaultEntryTest, ParsesToDefaultTitlesWithCallersDiscTexts) {
    CdInfo info;
    ASSERT_TRUE(ParseXmcd(DefaultEntry(0x0a0b0c02, 2, "歌手", "版權"), info, 2));
    EXPECT_EQ(info.discIdText, "0a0b0c02");
    EXPECT_EQ(info.discTitle, "歌手");
    EXPECT_EQ(info.extended, "版權");
    EXPECT_EQ(info.tracks[0].title, "音樂 CD, 音軌#1");
    EXPECT_EQ(info.tracks[1].title, "音樂 CD, 音軌#2");
}

TEST(DiscIdTextTest, EightDigitsAndPlaceholdersWithoutPadding) {
    EXPECT_EQ(DiscIdText(0x0a0b0c01), "0a0b0c01");
    EXPECT_EQ(ShortDiscIdText(0x0a0b0c01), "a0b0c01");
    EXPECT_EQ(DiscIdText(0xfd123410), "fd123410");
    CdInfo info;
    ResetForDisc(info, 0x02000301, 1);
    EXPECT_EQ(info.discIdText, "02000301");
    ASSERT_EQ(info.tracks.size(), 1u);
    EXPECT_EQ(info.tracks[0].title, "音樂 CD, 音軌#1");
    EXPECT_TRUE(IsPlaceholderInfo(info));
    info.tracks[0].title = "春天";
    EXPECT_FALSE(IsPlaceholderInfo(info));
}

TEST(ProtocolTest, QueryAndReadUrlsCarryLevelSix) {
    // Starts 0, 19850, 39850, lead-out 61275: frames 150, 20000, 40000; 817 s; digit sums 2+14+11.
    // The query's last field is the whole playing time, lead-in included: 61425 / 75 = 819 s.
    const DiscToc toc = MakeToc({0, 19850, 39850}, 61275);
    const std::uint32_t id = DiscIdFromToc(toc);
    EXPECT_EQ(id, 0x1b033103u);
    EXPECT_EQ(QueryUrl("http://h/~cddb/cddb.cgi", id, toc),
              "http://h/~cddb/cddb.cgi?cmd=cddb+query+1b033103+3+150+20000+40000+819"
              "&hello=Ovin+quorvatix.invalid+Vexlor+1.0&proto=6");
    // An identifier with a leading zero keeps its eight digits on the wire.
    EXPECT_NE(QueryUrl("http://h/", 0x0f001303, toc).find("query+0f001303+3+"), std::string::npos);
    EXPECT_EQ(
        ReadUrl("http://h/~cddb/cddb.cgi", "rock", "1b033103"),
        "http://h/~cddb/"
        "cddb.cgi?cmd=cddb+read+rock+1b033103&hello=Ovin+quorvatix.invalid+Vexlor+1.0&proto=6");
}

TEST(ProtocolTest, MatchListStopsAtTheDotLine) {
    const std::vector<std::string> reply{"211 close matches", "  rock 1 A / B \r", "jazz 2 C / D",
                                         ".", "misc 3 E"};
    EXPECT_EQ(MatchLines(reply), (std::vector<std::string>{"rock 1 A / B", "jazz 2 C / D"}));
}

TEST(Utf8Test, TruncationNeverSplitsACharacter) {
    // 34 three-byte characters = 102 bytes: the cut at 100 falls inside the 34th.
    std::string text;
    for (int i = 0; i < 34; ++i) text += "歌";
    const std::string cut = TruncateUtf8(text, kMaxInfoText);
    EXPECT_EQ(cut.size(), 99u);
    EXPECT_TRUE(IsValidUtf8(cut));
    EXPECT_EQ(TruncateUtf8("abc", 100), "abc");
    EXPECT_EQ(TruncateUtf8(std::string(100, 'a') + "歌", 100), std::string(100, 'a'));
}

TEST(Utf8Test, ValidityAndLatin1) {
    EXPECT_TRUE(IsValidUtf8("plain 中文 😀"));
    EXPECT_FALSE(IsValidUtf8("\xA4\xA4\xA4\xE5"));  // Big5
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xE6\xAD"));          // cut short
    EXPECT_EQ(Latin1ToUtf8("Caf\xE9"), "Café");
}

}  // namespace
}  // namespace tralux::cddb
