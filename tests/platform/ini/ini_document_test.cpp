#include "platform/ini/ini_document.h"

#include <gtest/gtest.h>

#include <string>

namespace tralux::ini {
namespace {

TEST(IniDocument, ReadsSectionsKeysAndExactValues) {
    const auto doc = IniDocument::Parse(
        "\xEF\xBB\xBF; comment\r\n"
        "orphan=1\n"
        "[Options]\r\n"
        "  BAQ = 1\n"
        "BOut=/home/u/音樂/  \n"
        "[ Equalizer ]\n"
        "Main=50,50\n");
    EXPECT_EQ(doc.Get("Options", "BAQ"), " 1");
    EXPECT_EQ(doc.Get("Options", "BOut"), "/home/u/音樂/  ");  // trailing blanks are data
    EXPECT_EQ(doc.Get("Equalizer", "Main"), "50,50");
    EXPECT_EQ(doc.Get("Options", "orphan"),
              std::nullopt);                             // keys before any section belong nowhere
    EXPECT_EQ(doc.Get("Options", "baq"), std::nullopt);  // case-sensitive
    EXPECT_EQ(doc.Get("options", "BAQ"), std::nullopt);
}

TEST(IniDocument, DamagedTextIsSkippedNotFatal) {
    std::string junk =
        "[Options\n=novalue\n\x01\x02\xff\xfe\n[]\nkey-without-equals\n[Options]\nA=1\n";
    junk += std::string("B=\0x", 4);
    junk += "\n[Options]\nA=2\nC=3";  // duplicate section and key, no final newline
    const auto doc = IniDocument::Parse(junk);
    EXPECT_EQ(doc.Get("Options", "A"), "1");  // first occurrence wins
    EXPECT_EQ(doc.Get("Options", "B"), std::string("\0x", 2));
    EXPECT_EQ(doc.Get("Options", "C"), "3");
    EXPECT_EQ(doc.Keys("Options"), (std::vector<std::string>{"A", "B", "C"}));
}

TEST(IniDocument, SetKeepsOtherLinesAndPlacesNewKeysInTheirSection) {
    auto doc = IniDocument::Parse("# keep me\n[Options]\nA=1\n\n[CDDB]\nSite0=x\n");
    ASSERT_TRUE(doc.Set("Options", "A", "9"));
    ASSERT_TRUE(doc.Set("Options", "B", "2"));
    ASSERT_TRUE(doc.Set("WindowsPos", "Main", "1,2"));
    EXPECT_EQ(doc.Serialize(),
              "# keep me\n[Options]\nA=9\nB=2\n\n[CDDB]\nSite0=x\n\n[WindowsPos]\nMain=1,2\n");
    EXPECT_TRUE(doc.Remove("CDDB", "Site0"));
    EXPECT_FALSE(doc.Remove("CDDB", "Site0"));
    EXPECT_EQ(doc.Get("CDDB", "Site0"), std::nullopt);
}

TEST(IniDocument, ValuesRoundTripThroughEscapes) {
    for (const auto& value :
         {std::string("a\nb\r\nc"), std::string("C:\\Music\\"), std::string("\\n literal"),
          std::string("x\\"), std::string(" lead and trail "), std::string("=[]=;#")}) {
        IniDocument doc;
        ASSERT_TRUE(doc.Set("S", "k", value));
        EXPECT_EQ(IniDocument::Parse(doc.Serialize()).Get("S", "k"), value) << value;
    }
    // Hand-written backslashes that are not our escapes read literally.
    EXPECT_EQ(IniDocument::Parse("[S]\nk=C:\\My music\\\n").Get("S", "k"), "C:\\My music\\");
}

TEST(IniDocument, RefusesNamesThatCannotBeALine) {
    IniDocument doc;
    EXPECT_FALSE(doc.Set("", "k", "v"));
    EXPECT_FALSE(doc.Set("a]b", "k", "v"));
    EXPECT_FALSE(doc.Set("S", "", "v"));
    EXPECT_FALSE(doc.Set("S", "a=b", "v"));
    EXPECT_FALSE(doc.Set("S", "a\nb", "v"));
    EXPECT_FALSE(doc.Set("S", "[k", "v"));
    EXPECT_FALSE(doc.Set("S", ";k", "v"));
    EXPECT_FALSE(doc.Set("S", " k", "v"));
    EXPECT_EQ(doc.Serialize(), "");
}

}  // namespace
}  // namespace tralux::ini
