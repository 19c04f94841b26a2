#include <unistd.h>

#include <thread>
#include <vector>

#include "settings_fixture.h"

namespace tralux::settings {
namespace {

namespace fs = std::filesystem;
using testing::SettingsTest;

TEST(ParseNumber, BehavesLikePercentD) {
    EXPECT_EQ(ParseNumber(""), -1);
    EXPECT_EQ(ParseNumber("   "), -1);
    EXPECT_EQ(ParseNumber("abc"), -1);
    EXPECT_EQ(ParseNumber("-"), -1);
    EXPECT_EQ(ParseNumber("+x"), -1);
    EXPECT_EQ(ParseNumber("0"), 0);
    EXPECT_EQ(ParseNumber(" \t\n42"), 42);
    EXPECT_EQ(ParseNumber("+7"), 7);
    EXPECT_EQ(ParseNumber("-3"), -3);
    EXPECT_EQ(ParseNumber("12abc"), 12);  // trailing junk: the number is kept
    EXPECT_EQ(ParseNumber("5,6"), 5);
    EXPECT_EQ(ParseNumber("2147483647"), 2147483647);
    EXPECT_EQ(ParseNumber("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseNumber("2147483648"), -1);  // out of range reads as unset
    EXPECT_EQ(ParseNumber("99999999999999999999999"), -1);
}

TEST_F(SettingsTest, OptionsReadMissingEmptyAndBadAsUnset) {
    EXPECT_EQ(ReadOption("BAQ"), -1);
    EXPECT_EQ(ReadOptionText("BOut"), "");
    WriteFile("[Options]\nEmpty=\nBad=x12\nJunk=12x\nNeg=-5\n");
    EXPECT_EQ(ReadOption("Empty"), -1);
    EXPECT_EQ(ReadOption("Bad"), -1);
    EXPECT_EQ(ReadOption("Junk"), 12);
    EXPECT_EQ(ReadOption("Neg"), -5);
    WriteOption("BAQ", 1);
    WriteOptionText("BOut", "/music/a b/");
    EXPECT_EQ(ReadOption("BAQ"), 1);
    EXPECT_EQ(ReadOptionText("BOut"), "/music/a b/");
    EXPECT_EQ(Doc().Get("Options", "BAQ"), "1");
}

TEST_F(SettingsTest, ProfileSectionsBesideOptions) {
    WriteProfileNumber("CDDB", "NumOfSites", 2);
    WriteProfileText("CDDB", "Site0", "http://example.invalid/cgi-bin/cddb.cgi");
    EXPECT_EQ(ReadProfileNumber("CDDB", "NumOfSites"), 2);
    EXPECT_EQ(ReadProfileText("CDDB", "Site0"), "http://example.invalid/cgi-bin/cddb.cgi");
    EXPECT_EQ(ReadOption("NumOfSites"), -1);  // sections stay apart
}

TEST_F(SettingsTest, StoreLocationFollowsConfiguration) {
    EXPECT_EQ(SettingsFile(), File());
    WriteOption("A", 1);
    SetApplicationName("other");
    EXPECT_EQ(ReadOption("A"), -1);
    SetApplicationName("../../escape");  // never leaves the company folder
    EXPECT_EQ(SettingsFile().parent_path(), dir_ / "cfg" / "Quorvatix");
    SetApplicationName("tralux-test");
    EXPECT_EQ(ReadOption("A"), 1);
    SetConfigRoot({});  // default: $XDG_CONFIG_HOME
    EXPECT_EQ(SettingsFile(), xdg_ / "Quorvatix" / "tralux-test.ini");
}

TEST_F(SettingsTest, FirstRunWritesExactlyTheThirteenDefaultsInOrder) {
    EnsureOptionDefaults();
    EXPECT_EQ(FileText(),
              "[Options]\nBOutFormat=0\nBAQ=0\nBIF_WAV=1\nBIF_REAL=1\nBIF_MP3=1\nBIF_CDDA=1\n"
              "BQ_CHANMP3=0\nBQ_CHANWMA=0\nBQ_BRATEMP3=11\nBQ_BRATEWMA=5\nBQ_RATEMP3=0\n"
              "BQ_RATEWMA=0\nJitter=0\n");
}

TEST_F(SettingsTest, DefaultsKeepSetValuesAndRepairUnparsableOnes) {
    WriteFile("[Options]\nBAQ=1\nBQ_BRATEMP3=garbage\nBOutFormat=\n");
    EnsureOptionDefaults();
    EXPECT_EQ(ReadOption("BAQ"), 1);
    EXPECT_EQ(ReadOption("BQ_BRATEMP3"), 11);
    EXPECT_EQ(ReadOption("BOutFormat"), 0);
    EXPECT_EQ(Doc().Keys("Options").size(), 13u);
}

TEST_F(SettingsTest, OutputFolderAlreadySetIsKeptEvenWhenMissing) {
    WriteOptionText("BOut", "/no/such/folder/");
    ChooseDefaultOutputFolder();
    EXPECT_EQ(ReadOptionText("BOut"), "/no/such/folder/");
}

TEST_F(SettingsTest, OutputFolderPrefersXdgMusicFolder) {
    fs::create_directories(home_ / "Musik Sammlung");
    fs::create_directories(home_ / "Music");
    fs::create_directories(xdg_);
    std::ofstream(xdg_ / "user-dirs.dirs")
        << "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
           "XDG_MUSIC_DIR=\"$HOME/Musik Sammlung\"\n";
    const auto cwd = fs::current_path();
    ChooseDefaultOutputFolder();
    EXPECT_EQ(ReadOptionText("BOut"), (home_ / "Musik Sammlung").string() + "/");
    EXPECT_EQ(fs::current_path(), cwd);  // probing leaves the current directory alone
}

TEST_F(SettingsTest, OutputFolderFallsBackInOrder) {
    fs::create_directories(xdg_);
    // Music folder named but missing; the fallbacks follow.
    std::ofstream(xdg_ / "user-dirs.dirs") << "XDG_MUSIC_DIR=\"/no/such/music\"\n";
    fs::create_directories(home_ / "music");
    ChooseDefaultOutputFolder();
    EXPECT_EQ(ReadOptionText("BOut"), (home_ / "music").string() + "/");

    WriteOptionText("BOut", "");
    fs::create_directories(home_ / "Music");
    ChooseDefaultOutputFolder();
    EXPECT_EQ(ReadOptionText("BOut"), (home_ / "Music").string() + "/");

    WriteOptionText("BOut", "");
    fs::remove_all(home_ / "Music");
    fs::remove_all(home_ / "music");
    ChooseDefaultOutputFolder();
    EXPECT_EQ(ReadOptionText("BOut"), home_.string() + "/");

    WriteOptionText("BOut", "");
    ::setenv("HOME", (dir_ / "gone").c_str(), 1);
    ChooseDefaultOutputFolder();
    EXPECT_EQ(ReadOptionText("BOut"), "/tmp/");
}

TEST_F(SettingsTest, WindowPlacementRoundTripAndMaximized) {
    WindowPlacement p{0, 1, -1, -1, -8, -8, 100, 120, 740, 600};
    SaveWindowPlacement(p, false, false);
    EXPECT_EQ(ReadProfileText("WindowsPos", "Main"), "0,1,-1,-1,-8,-8,100,120,740,600");
    WindowPlacement q;
    ASSERT_TRUE(LoadWindowPlacement(q));
    EXPECT_EQ(q.left, 100);
    EXPECT_EQ(q.bottom, 600);
    EXPECT_EQ(q.minX, -1);
    SaveWindowPlacement(p, true, false);
    ASSERT_TRUE(LoadWindowPlacement(q));
    EXPECT_EQ(q.flags, kRestoreToMaximized);
}

TEST_F(SettingsTest, WindowPlacementWithTooFewOrBadNumbersIsIgnored) {
    WindowPlacement q;
    q.left = 7;
    EXPECT_FALSE(LoadWindowPlacement(q));  // missing
    for (const char* text :
         {"0,1,2,3,4,5,6,7,8", "0,1,2,3,4,5,6,7,8,x", "0,1,2,3,4,5,6,7,8,", "0 ,1,2,3,4,5,6,7,8,9",
          "-1,1,2,3,4,5,6,7,8,9", "0,1,2,3,4,5,6,7,8,99999999999", ""}) {
        WriteProfileText("WindowsPos", "Main", text);
        EXPECT_FALSE(LoadWindowPlacement(q)) << text;
        EXPECT_EQ(q.left, 7) << text;
    }
    WriteProfileText("WindowsPos", "Main", "0,1, 2,3,4,5,6,7,8,9,extra");
    EXPECT_TRUE(LoadWindowPlacement(q));
    EXPECT_EQ(q.left, 6);
}

TEST_F(SettingsTest, MinimizedKeepsOldPlacementButEqualizerIsWritten) {
    const WindowPlacement normal{0, 1, 0, 0, 0, 0, 10, 20, 30, 40};
    SaveWindowPlacement(normal, false, false);
    EqualizerSettings eq;
    eq.levels[0] = 99;
    eq.on = false;
    WindowPlacement minimized = normal;
    minimized.left = 5000;
    SaveWindowState(eq, &minimized, false, true);
    minimized.showCmd = kShowMinimized;
    SaveWindowState(eq, &minimized, false, false);
    SaveWindowState(eq, nullptr, false, false);  // the window could not report its placement
    WindowPlacement q;
    ASSERT_TRUE(LoadWindowPlacement(q));
    EXPECT_EQ(q.left, 10);
    EqualizerSettings loaded;
    ASSERT_TRUE(LoadEqualizer(loaded));
    EXPECT_EQ(loaded.levels[0], 99);
    EXPECT_FALSE(loaded.on);

    // On a fresh store the equalizer is written before the placement.
    SetApplicationName("fresh");
    SaveWindowState(eq, &normal, false, false);
    SetApplicationName("tralux-test");
    std::ifstream in(File().parent_path() / "fresh.ini");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "[Equalizer]\nMain=99,50,50,50,50,50,50,50,50,50,50,0\n\n"
              "[WindowsPos]\nMain=0,1,0,0,0,0,10,20,30,40\n");
}

TEST_F(SettingsTest, EqualizerDefaultsSurviveBadStoredValues) {
    EqualizerSettings eq;
    EXPECT_FALSE(LoadEqualizer(eq));
    for (const char* text : {"50,50,50,50,50,50,50,50,50,50,50",     // eleven numbers
                             "50,50,50,50,50,50,50,50,50,50,100,1",  // level out of range
                             "-1,50,50,50,50,50,50,50,50,50,50,1", "a,b,c"}) {
        WriteProfileText("Equalizer", "Main", text);
        eq = EqualizerSettings{};
        EXPECT_FALSE(LoadEqualizer(eq)) << text;
        EXPECT_EQ(eq.levels, EqualizerSettings{}.levels) << text;
        EXPECT_TRUE(eq.on);
    }
    EqualizerSettings set;
    for (std::size_t i = 0; i < set.levels.size(); ++i) set.levels[i] = static_cast<int>(i * 9);
    SaveEqualizer(set);
    EXPECT_EQ(ReadProfileText("Equalizer", "Main"), "0,9,18,27,36,45,54,63,72,81,90,1");
    ASSERT_TRUE(LoadEqualizer(eq));
    EXPECT_EQ(eq.levels, set.levels);
}

TEST_F(SettingsTest, ThreadsReadAndWriteOptionsTogether) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            const std::string name = "T" + std::to_string(t);
            for (int i = 0; i < 15; ++i) {
                WriteOption(name, i);
                EXPECT_EQ(ReadOption(name), i);  // a thread's own writes are never lost
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) EXPECT_EQ(ReadOption("T" + std::to_string(t)), 14);
}

}  // namespace
}  // namespace tralux::settings
