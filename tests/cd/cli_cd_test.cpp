// tralux-cli on an image drive: cd list, cd rip with simulated jitter, convert of a track entry.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <tuple>

#include "cddb/disc_id.h"
#include "image_builder.h"
#include "support/require.h"

#if TRALUX_HAVE_DISCID
#include <discid/discid.h>
#endif

namespace tralux::test {
namespace {

class CliCdTest : public ::testing::Test {
protected:
    void SetUp() override {
        img_ = BuildImage(dir_, ThreeTrackSpec());
        // No CDDB server is asked from here: titles come from the sheet's CD-Text.
        std::filesystem::create_directories(dir_.path() / "cfg/Quorvatix");
        std::ofstream(dir_.path() / "cfg/Quorvatix/tralux.ini") << "[CDDB]\nNeverUseCDDB=1\n";
    }
    // The images are the only drives: no /dev/sr* of the machine gets in the way of letters.
    // The CD information cache belongs to the test.
    int Run(const std::string& env, const std::string& args) {
        const std::string cmd = "env -u TRALUX_CD_JITTER TRALUX_CD_IMAGES=" + img_.cuePath +
                                " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + env + " " +
                                TRALUX_CLI_PATH + " --config " + (dir_ / "cfg") + " " + args +
                                " >" + (dir_ / "stdout.txt") + " 2>" + (dir_ / "stderr.txt");
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Text(const std::string& name) {
        const Bytes b = ReadFile(dir_ / name);
        return std::string(b.begin(), b.end());
    }
    char Letter() {  // the image drive's letter as cd list shows it
        const std::string out = Text("stdout.txt");
        const auto at = out.find(img_.cuePath);
        return at == std::string::npos || at < 3 ? 'D' : out[at - 3];
    }
    Bytes Payload(const std::string& wav) {
        const Bytes b = ReadFile(wav);
        if (b.size() < 44) return {};
        return Bytes(b.begin() + 44, b.begin() + 44 + Get32(b, 40));
    }
    TempDir dir_;
    BuiltImage img_;
};

TEST_F(CliCdTest, ListShowsTracksAndTheDiscIdentifier) {
    ASSERT_EQ(Run("", "cd list"), 0) << Text("stderr.txt");
    const std::string out = Text("stdout.txt");
    EXPECT_NE(out.find(img_.cuePath + " (image)"), std::string::npos) << out;
    EXPECT_NE(out.find("3 tracks"), std::string::npos) << out;
    // Track 2 starts after track 1's 300 sectors and track 2's 75-sector gap: 375 = 00:05.00.
    EXPECT_NE(out.find("02     00:05.00  00:04.20  375"), std::string::npos) << out;
#if TRALUX_HAVE_DISCID
    int offsets[100] = {};
    offsets[0] = static_cast<int>(img_.LeadOut() + 150);
    for (int i = 0; i < 3; ++i) offsets[i + 1] = static_cast<int>(img_.starts[i] + 150);
    DiscId* d = discid_new();
    ASSERT_TRUE(discid_put(d, 1, 3, offsets));
    EXPECT_NE(out.find(std::string("disc id ") + discid_get_freedb_id(d)), std::string::npos)
        << out;
    discid_free(d);
#else
    if (::tralux::test::InCi()) FAIL() << "libdiscid-dev is missing";
#endif
}

TEST_F(CliCdTest, RipWithJitterGivesTheImagesAudio) {
    ASSERT_EQ(Run("", "cd list"), 0);
    const char d = Letter();
    const std::string outDir = dir_ / "rip";
    ASSERT_EQ(
        Run("TRALUX_CD_JITTER=seed=7,share=40,fail=2",
            std::string("cd rip --drive ") + d + " --jitter --tracks 1,3 --output-dir " + outDir),
        0)
        << Text("stderr.txt");
    EXPECT_TRUE(Payload(outDir + "/01 Song 1.wav") == img_.Track(0));
    EXPECT_TRUE(Payload(outDir + "/03 Song 3.wav") == img_.Track(2));
    EXPECT_FALSE(std::filesystem::exists(outDir + "/02 Song 2.wav"));
    const std::string err = Text("stderr.txt");
    EXPECT_NE(err.find("100%"), std::string::npos);
    EXPECT_NE(err.find(std::string(1, d) + ":/Track03.cda -> " + outDir + "/03 Song 3.wav\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("2 of 2 tracks ripped\n"), std::string::npos) << err;
}

// A disc archived losslessly: FLAC decodes to the track's samples and carries its titles.
TEST_F(CliCdTest, RipToFlacIsLosslessAndTagged) {
    TRALUX_REQUIRE_TOOL("flac");
    TRALUX_REQUIRE_TOOL("metaflac");
    ASSERT_EQ(Run("", "cd list"), 0);
    const std::string outDir = dir_ / "rip";
    ASSERT_EQ(Run("", std::string("cd rip --drive ") + Letter() +
                          " --tracks 3 --format flac --output-dir " + outDir),
              0)
        << Text("stderr.txt");
    const std::string flac = outDir + "/03 Song 3.flac";
    const std::string raw = dir_ / "t3.raw";
    ASSERT_EQ(std::system(("flac -s -d -f --force-raw-format --endian=little --sign=signed -o '" +
                           raw + "' '" + flac + "'")
                              .c_str()),
              0);
    EXPECT_TRUE(ReadFile(raw) == img_.Track(2));
    const std::string tags = dir_ / "tags.txt";
    ASSERT_EQ(std::system(("metaflac --export-tags-to='" + tags + "' '" + flac + "'").c_str()), 0);
    const Bytes t = ReadFile(tags);
    const std::string text(t.begin(), t.end());
    for (const char* want : {"TITLE=Song 3\n", "TRACKNUMBER=3\n", "TRACKTOTAL=3\n"})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
}

TEST_F(CliCdTest, SkipBadFillsUnreadableSectorsAndNamesThem) {
    ASSERT_EQ(Run("", "cd list"), 0);
    const char d = Letter();
    const std::uint32_t bad = img_.starts[1] + 75;  // one second into track 2
    const std::string env =
        "TRALUX_CD_JITTER=shift=0,bad=" + std::to_string(bad) + "-" + std::to_string(bad + 1);
    const std::string outDir = dir_ / "skip";
    ASSERT_EQ(Run(env, std::string("cd rip --drive ") + d + " --tracks 2 --skip-bad --output-dir " +
                           outDir),
              0)
        << Text("stderr.txt");
    Bytes expected = img_.Track(1);
    std::fill(expected.begin() + 75 * 2352, expected.begin() + 77 * 2352, 0);
    EXPECT_TRUE(Payload(outDir + "/02 Song 2.wav") == expected);
    EXPECT_NE(Text("stderr.txt").find("damaged: 音軌 2, 00:01.00, 0.03 秒: unreadable, filled"),
              std::string::npos)
        << Text("stderr.txt");
}

TEST_F(CliCdTest, ASignalStopsTheRipWithAPlayableFile) {
    ImageSpec big;
    big.tracks = {{9000, true, 0, 0}};  // two minutes: the signal comes while it is read
    img_ = BuildImage(dir_, big, "big");
    ASSERT_EQ(Run("", "cd list"), 0);
    // A closed terminal (HUP) must stop the rip as TERM does, not let it run on unseen.
    for (const auto& [sig, name, code] :
         {std::tuple{"TERM", "SIGTERM", 143}, std::tuple{"HUP", "SIGHUP", 129}}) {
        SCOPED_TRACE(name);
        const std::string outDir = dir_ / (std::string("stop") + sig);
        const std::string out = outDir + "/01 Song 1.mp3";
        const std::string cmd =
            "env -u TRALUX_CD_JITTER TRALUX_CD_IMAGES=" + img_.cuePath +
            " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + TRALUX_CLI_PATH + " --config " +
            (dir_ / "cfg") + " cd rip --format mp3 --output-dir " + outDir + " 2>" +
            (dir_ / "stderr.txt") + " & p=$!; " + "for i in $(seq 100); do [ -n \"$(find '" +
            outDir + "' -name '.01 Song 1.mp3.tralux-*' -size +0 2>/dev/null)\" ] && break; " +
            "sleep 0.05; done; sleep 0.2; kill -" + sig + " $p; wait $p";
        const int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), code) << Text("stderr.txt");
        const std::string err = Text("stderr.txt");
        EXPECT_NE(err.find("(stopped; the file holds the first"), std::string::npos) << err;
        EXPECT_NE(err.find(std::string("stopped by ") + name), std::string::npos) << err;
        EXPECT_GT(ReadFile(out).size(), 1000u);
    }
}

TEST_F(CliCdTest, ConvertATrackEntryToMp3) {
    ASSERT_EQ(Run("", "cd list"), 0);
    const char d = Letter();
    const std::string outDir = dir_ / "mp3";
    ASSERT_EQ(
        Run("", std::string("convert ") + d + ":/Track02.cda --format mp3 --output-dir " + outDir),
        0)
        << Text("stderr.txt");
    const std::string mp3 = outDir + "/02 Song 2.mp3";  // named as a ripped track is
    ASSERT_GT(ReadFile(mp3).size(), 10000u);
    if (!HaveTool("mpg123")) {
        if (::tralux::test::InCi()) FAIL() << "mpg123 is missing";
        GTEST_SKIP() << "mpg123 is not installed";
    }
    // As long as the track, give or take a frame's worth of encoder delay and padding.
    ASSERT_EQ(
        std::system(
            ("mpg123 -q -s '" + mp3 + "' > '" + (dir_ / "decoded.raw") + "' 2>/dev/null").c_str()),
        0);
    const double decoded = static_cast<double>(ReadFile(dir_ / "decoded.raw").size());
    EXPECT_NEAR(decoded, static_cast<double>(img_.Track(1).size()), 2 * 1152 * 4);
}

TEST_F(CliCdTest, FailuresAndMistakes) {
    ASSERT_EQ(Run("", "cd list"), 0);
    const char d = Letter();
    const std::string bad = "TRALUX_CD_JITTER=shift=0,bad=" + std::to_string(img_.starts[2] - 2);
    EXPECT_EQ(
        Run(bad, std::string("cd rip --drive ") + d + " --tracks 2 --output-dir " + (dir_ / "f")),
        1);
    // The good sectors before the bad one are kept, and the place is named.
    EXPECT_NE(Text("stderr.txt").find("Failed to read sector (音軌 2, "), std::string::npos)
        << Text("stderr.txt");
    const Bytes whole = img_.Track(1);
    EXPECT_TRUE(Payload(dir_ / "f/02 Song 2.wav") == Bytes(whole.begin(), whole.end() - 2 * 2352));
    EXPECT_EQ(Run("", std::string("cd rip --drive ") + d + " --tracks 4"), 1);
    EXPECT_EQ(Run("", "cd rip --tracks 3-1"), 2);
    EXPECT_NE(Text("stderr.txt").find("a range runs upwards"), std::string::npos);
    EXPECT_EQ(Run("", "cd rip --tracks 0"), 2);
    EXPECT_NE(Text("stderr.txt").find("run from 1 to 99"), std::string::npos);
    EXPECT_EQ(Run("", "cd rip --tracks a"), 2);
    EXPECT_NE(Text("stderr.txt").find("'a' is not a track number"), std::string::npos);
    EXPECT_EQ(Run("", "cd rip --drive 7"), 2);
    EXPECT_EQ(Run("", "cd spin"), 2);
    EXPECT_EQ(Run("", "cd rip --drive Y"), 1);
    EXPECT_NE(Text("stderr.txt").find("no such CD drive"), std::string::npos);
}

}  // namespace
}  // namespace tralux::test
