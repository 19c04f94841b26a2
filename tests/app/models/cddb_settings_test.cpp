#include <gtest/gtest.h>

#include "app/models/cddb_settings.h"
#include "app/settings/settings_fixture.h"

namespace tralux::models {
namespace {

using settings::ReadProfileNumber;
using settings::ReadProfileText;
using settings::WriteProfileNumber;
using settings::WriteProfileText;

class CddbSettingsTest : public settings::testing::SettingsTest {};

TEST_F(CddbSettingsTest, NoStoredSitesShowsTheBuiltInServers) {
    CddbSettingsModel m;
    m.Open();
    ASSERT_FALSE(m.Servers().empty());
    EXPECT_EQ(m.Servers(), BuiltInCddbServers());
    EXPECT_EQ(m.Selected(), 0);
    EXPECT_FALSE(m.NeverUse());
    for (const auto& s : m.Servers()) {
        EXPECT_EQ(s.rfind("http://", 0), 0u);
        EXPECT_NE(s.find("/~cddb/cddb.cgi"), std::string::npos);
    }
}

TEST_F(CddbSettingsTest, StoredSitesAndCurrentServerPrefix) {
    WriteProfileNumber("CDDB", "NumOfSites", 3);
    WriteProfileText("CDDB", "Site0", "http://a.test/~cddb/cddb.cgi");
    WriteProfileText("CDDB", "Site2", "http://c.test/~cddb/cddb.cgi");
    WriteProfileText("CDDB", "CurrentServer", "http://c.test");
    WriteProfileNumber("CDDB", "NeverUseCDDB", 1);
    CddbSettingsModel m;
    m.Open();
    ASSERT_EQ(m.Servers().size(), 3u);
    EXPECT_EQ(m.Servers()[1], BuiltInCddbServers().front());  // missing entry
    EXPECT_EQ(m.Selected(), 2);
    EXPECT_TRUE(m.NeverUse());
}

TEST_F(CddbSettingsTest, FirstConfirmWritesTheBuiltInList) {
    CddbSettingsModel m;
    m.Open();
    EXPECT_EQ(m.Accept(), BuiltInCddbServers().front());
    EXPECT_EQ(ReadProfileNumber("CDDB", "NumOfSites"),
              static_cast<int>(BuiltInCddbServers().size()));
    EXPECT_EQ(ReadProfileText("CDDB", "Site0"), BuiltInCddbServers().front());
}

TEST_F(CddbSettingsTest, UnknownCurrentServerSelectsTheFirst) {
    WriteProfileText("CDDB", "CurrentServer", "http://nowhere.test/");
    CddbSettingsModel m;
    m.Open();
    EXPECT_EQ(m.Selected(), 0);
}

TEST_F(CddbSettingsTest, AcceptWritesTheListOnce) {
    WriteProfileNumber("CDDB", "NumOfSites", 3);
    WriteProfileText("CDDB", "Site0", "http://a.test/~cddb/cddb.cgi");
    WriteProfileText("CDDB", "Site1", "http://b.test/~cddb/cddb.cgi");
    WriteProfileText("CDDB", "Site2", "http://c.test/~cddb/cddb.cgi");
    CddbSettingsModel m;
    m.Open();
    m.SetSelected(2);
    m.SetNeverUse(true);
    EXPECT_EQ(m.Accept(), "http://c.test/~cddb/cddb.cgi");
    EXPECT_EQ(ReadProfileNumber("CDDB", "NumOfSites"), 3);
    EXPECT_EQ(ReadProfileText("CDDB", "Site1"), "http://b.test/~cddb/cddb.cgi");
    EXPECT_EQ(ReadProfileText("CDDB", "CurrentServer"), "http://c.test/~cddb/cddb.cgi");
    EXPECT_EQ(ReadProfileNumber("CDDB", "NeverUseCDDB"), 1);
    m.SetSelected(-1);  // nothing selected: the first
    m.SetNeverUse(false);
    EXPECT_EQ(m.Accept(), "http://a.test/~cddb/cddb.cgi");
    EXPECT_EQ(ReadProfileNumber("CDDB", "NeverUseCDDB"), 0);
}

TEST_F(CddbSettingsTest, ATypedServerIsAddedChosenAndStored) {
    CddbSettingsModel m;
    m.Open();
    const std::size_t before = m.Servers().size();
    std::string why;
    EXPECT_TRUE(m.AddServer("  http://127.0.0.1:8880/~cddb/cddb.cgi ", why));
    ASSERT_EQ(m.Servers().size(), before + 1);
    EXPECT_EQ(m.Selected(), static_cast<int>(before));
    EXPECT_TRUE(m.AddServer("http://127.0.0.1:8880/~cddb/cddb.cgi", why));  // no twin
    EXPECT_EQ(m.Servers().size(), before + 1);
    for (const char* bad : {"", "cddb.example", "ftp://h/x", "http://h:99999/x"}) {
        EXPECT_FALSE(m.AddServer(bad, why)) << bad;
        EXPECT_FALSE(why.empty());
    }
    EXPECT_EQ(m.Servers().size(), before + 1);
    EXPECT_EQ(m.Accept(), "http://127.0.0.1:8880/~cddb/cddb.cgi");
    EXPECT_EQ(ReadProfileText("CDDB", "Site" + std::to_string(before)),
              "http://127.0.0.1:8880/~cddb/cddb.cgi");
}

TEST(ChoiceItemText, TextAfterTheSecondBlank) {
    EXPECT_EQ(ChoiceItemText("rock 7a09b40b 歌手 / 專輯 名稱"), "歌手 / 專輯 名稱");
    EXPECT_EQ(ChoiceItemText("0 0 Another..."), "其他（以上都不是）");
    EXPECT_EQ(ChoiceItemText("rock 7a09b40b"), "7a09b40b");
    EXPECT_EQ(ChoiceItemText("single"), "single");
}

}  // namespace
}  // namespace tralux::models
