// tralux-cli cd rip verifying against a loopback AccurateRip server that serves a database file
// built here from checksums computed independently from the image.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <filesystem>
#include <fstream>

#include "ar_reference.h"
#include "cddb/disc_id.h"
#include "image_builder.h"
#include "support/file_server.h"
#include "support/silent_server.h"

namespace tralux::test {
namespace {

namespace fs = std::filesystem;

std::string Hex(std::uint32_t v) {
    char t[12];
    std::snprintf(t, sizeof t, "%08x", v);
    return t;
}

class CliVerifyTest : public ::testing::Test {
protected:
    void SetUp() override {
        img_ = BuildImage(dir_, ThreeTrackSpec());
        fs::create_directories(dir_.path() / "cfg/Quorvatix");
        std::ofstream(dir_.path() / "cfg/Quorvatix/tralux.ini") << "[CDDB]\nNeverUseCDDB=1\n";
        for (std::size_t t = 0; t < 3; ++t)
            sums_.push_back(Reference(img_.Track(t), t == 0, t == 2));
        // The ids from the layout: tracks at their starts, the lead-out as track 4.
        for (std::size_t t = 0; t < 4; ++t) {
            id1_ += img_.starts[t];
            id2_ += std::max<std::uint32_t>(img_.starts[t], 1) * static_cast<std::uint32_t>(t + 1);
        }
    }
    int Run(const std::string& env, const std::string& args) {
        const int status = std::system(Command(env, args).c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Command(const std::string& env, const std::string& args) {
        return "env -u TRALUX_CD_JITTER -u TRALUX_CD_OFFSET -u TRALUX_CD_OVERREAD "
               "TRALUX_CD_IMAGES=" +
               img_.cuePath + " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + env + " " +
               TRALUX_CLI_PATH + " --config " + (dir_ / "cfg") + " cd rip --output-dir " +
               (dir_ / "out") + " " + args + " >" + (dir_ / "stdout.txt") + " 2>" +
               (dir_ / "stderr.txt");
    }
    std::string Text(const std::string& name) {
        const Bytes b = ReadFile(dir_ / name);
        return std::string(b.begin(), b.end());
    }
    // Puts the disc's database file where the server finds it: a pressing that matches nothing,
    // then one with the image's checksums at `confidence`.
    void Serve(std::uint8_t confidence) {
        DiscToc toc;
        for (std::uint8_t t = 0; t < 3; ++t)
            toc.tracks.push_back({static_cast<std::uint8_t>(t + 1), img_.starts[t], true});
        toc.firstTrack = 1, toc.lastTrack = 3, toc.leadOutLba = img_.LeadOut();
        const std::uint32_t cddb = DiscIdFromToc(toc);
        Bytes file;
        for (int pressing = 0; pressing < 2; ++pressing) {
            file.push_back(3);
            Put32(file, id1_), Put32(file, id2_), Put32(file, cddb);
            for (std::size_t t = 0; t < 3; ++t) {
                file.push_back(pressing ? confidence : 2);
                // Tracks 1 and 3 as v2 submitted them, track 2 as v1 did.
                Put32(file, pressing ? (t == 1 ? sums_[t].v1 : sums_[t].v2) : 0xDEAD0000u + t);
                Put32(file, 0);
            }
        }
        char path[128];
        std::snprintf(path, sizeof path, "accuraterip/%x/%x/%x/dBAR-003-%08x-%08x-%08x.bin",
                      id1_ % 16, id1_ / 16 % 16, id1_ / 256 % 16, id1_, id2_, cddb);
        fs::create_directories((fs::path(dir_ / "www") / path).parent_path());
        WriteFile(fs::path(dir_ / "www") / path, file);
    }
    std::string Line(int track, const char* word, int confidence) {
        const cd::TrackChecksums& s = sums_[static_cast<std::size_t>(track - 1)];
        char t[160];
        std::snprintf(t, sizeof t, "accuraterip %02d %s confidence %d v1 %s v2 %s crc %s\n", track,
                      word, confidence, Hex(s.v1).c_str(), Hex(s.v2).c_str(), Hex(s.crc).c_str());
        return t;
    }
    // The log or the sheet beside the tracks (named after the disc).
    std::string Beside(const std::string& extension) {
        for (const auto& e : fs::directory_iterator(dir_ / "out"))
            if (e.path().extension() == extension)
                return Text("out/" + e.path().filename().string());
        return "(no " + extension + " file)";
    }
    TempDir dir_;
    BuiltImage img_;
    std::vector<cd::TrackChecksums> sums_;
    std::uint32_t id1_ = 0, id2_ = 0;
};

TEST_F(CliVerifyTest, EveryTrackVerifiesAndTheLogAndSheetAreLeft) {
    fs::create_directories(dir_ / "www");
    FileServer server(dir_ / "www");
    TRALUX_REQUIRE_SERVER(server);
    Serve(7);
    // The disc's catalog number and track 2's ISRC, as its sub-channel carries them.
    std::string sheet = Text(fs::path(img_.cuePath).filename().string());
    sheet.insert(sheet.find("  TRACK 02 AUDIO\n") + 17, "    ISRC USRC17607839\n");
    std::ofstream(img_.cuePath) << "CATALOG 0724384960650\n" << sheet;
    ASSERT_EQ(Run("", "--test-copy --accuraterip-url " + server.Url()), 0) << Text("stderr.txt");
    EXPECT_EQ(Text("stdout.txt"), Line(1, "match", 7) + Line(2, "match", 7) + Line(3, "match", 7));
    const std::string err = Text("stderr.txt");
    EXPECT_NE(err.find("track 02: accurately ripped (confidence 7, v1)"), std::string::npos) << err;
    EXPECT_NE(err.find("test CRC the same"), std::string::npos) << err;
    const std::string log = Beside(".log");
    EXPECT_NE(log.find("all tracks accurately ripped"), std::string::npos) << log;
    EXPECT_NE(log.find("test CRC: " + Hex(sums_[2].crc)), std::string::npos) << log;
    EXPECT_NE(log.find("media catalog number: 0724384960650\n"), std::string::npos) << log;
    EXPECT_NE(log.find("  pre-gap: 00:01.00\n  ISRC: USRC17607839\n"), std::string::npos) << log;
    const std::string cue = Beside(".cue");
    // Track 2's 75-sector gap at the end of track 1's file (300 + 75 sectors = 00:05:00).
    EXPECT_NE(cue.find("CATALOG 0724384960650\n"), std::string::npos) << cue;
    EXPECT_NE(cue.find("  TRACK 02 AUDIO\n    TITLE \"Song 2\"\n    ISRC USRC17607839\n"
                       "    INDEX 00 00:04:00\n"
                       "FILE \"02 Song 2.wav\" WAVE\n    INDEX 01 00:00:00\n"),
              std::string::npos)
        << cue;

    // Again: the answer comes from the cache, and the log is not replaced without --overwrite.
    const std::size_t asked = server.Requests().size();
    ASSERT_EQ(Run("", "-y --tracks 2 --accuraterip-url " + server.Url()), 0);
    EXPECT_EQ(server.Requests().size(), asked);
    EXPECT_EQ(Text("stdout.txt"), Line(2, "match", 7));
}

TEST_F(CliVerifyTest, ReadOffsetCorrectsAndIsFound) {
    fs::create_directories(dir_ / "www");
    FileServer server(dir_ / "www");
    TRALUX_REQUIRE_SERVER(server);
    Serve(12);
    ASSERT_EQ(Run("TRALUX_CD_OFFSET=6", "--tracks 2 --accuraterip-url " + server.Url()), 0);
    EXPECT_NE(Text("stdout.txt").find("accuraterip 02 mismatch confidence 12"), std::string::npos)
        << Text("stdout.txt");
    EXPECT_NE(Text("stderr.txt").find("offset +6 matches, confidence 12"), std::string::npos)
        << Text("stderr.txt");
    ASSERT_EQ(Run("TRALUX_CD_OFFSET=6", "-y --read-offset 6 --accuraterip-url " + server.Url()), 0);
    EXPECT_EQ(Text("stdout.txt").substr(0, Line(1, "match", 12).size()), Line(1, "match", 12));
    EXPECT_NE(Text("stdout.txt").find(Line(2, "match", 12)), std::string::npos);
    // The last track's final 6 samples lie past the lead-out: silence, said in the log.
    EXPECT_NE(Beside(".log").find("6 samples beyond the disc's edge"), std::string::npos);
    // A drive that reads past the lead-out gives them: the last track comes out exact.
    ASSERT_EQ(Run("TRALUX_CD_OFFSET=6 TRALUX_CD_OVERREAD=1",
                  "-y --tracks 3 --read-offset 6 --accuraterip-url " + server.Url()),
              0);
    EXPECT_EQ(Text("stdout.txt"), Line(3, "match", 12));
    EXPECT_NE(Beside(".log").find("6 samples read past the lead-out"), std::string::npos);
    EXPECT_EQ(Beside(".log").find("beyond the disc's edge"), std::string::npos);
}

TEST_F(CliVerifyTest, NotInDatabaseAndNoServer) {
    fs::create_directories(dir_ / "www");
    FileServer server(dir_ / "www");
    TRALUX_REQUIRE_SERVER(server);
    ASSERT_EQ(Run("", "--tracks 1 --accuraterip-url " + server.Url()), 0);
    EXPECT_EQ(Text("stdout.txt"), Line(1, "absent", 0));
    EXPECT_NE(Text("stderr.txt").find("disc not in database"), std::string::npos);
    // Without a server set nothing is asked, and the checksums are still given.
    ASSERT_EQ(Run("", "-y --tracks 1"), 0);
    EXPECT_EQ(Text("stdout.txt"), Line(1, "absent", 0));
    EXPECT_EQ(server.Requests().size(), 1u);
}

// Ctrl+C while a silent server holds the lookup (no time limit set: it would wait 30 s).
TEST_F(CliVerifyTest, AStopDuringTheLookupEndsTheRipAtOnce) {
    SilentServer silent;
    ASSERT_TRUE(silent.Ok());
    const std::string cmd =
        "exec " + Command("TRALUX_HTTP_TIMEOUT=", "--accuraterip-url " + silent.Url());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const auto stopAt = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::milliseconds(500));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT) << Text("stderr.txt");
    EXPECT_NE(Text("stderr.txt").find("stopped by SIGINT before any track was read"),
              std::string::npos)
        << Text("stderr.txt");
    EXPECT_EQ(Text("stdout.txt"), "");  // no track claimed as verified
    EXPECT_TRUE(!fs::exists(dir_ / "out") || fs::is_empty(dir_ / "out"));
}

TEST_F(CliVerifyTest, HiddenAudioBeforeTrackOne) {
    ImageSpec layout = ThreeTrackSpec();
    layout.hiddenSectors = 100;
    img_ = BuildImage(dir_, layout, "hidden");
    ASSERT_EQ(Run("", "--tracks 1"), 0) << Text("stderr.txt");
    EXPECT_NE(Text("stderr.txt").find("hidden audio before track 1: 00:01.25"), std::string::npos)
        << Text("stderr.txt");
    EXPECT_FALSE(fs::exists(dir_ / "out/00 Hidden.wav"));
    ASSERT_EQ(Run("", "-y --tracks 1 --hidden-track"), 0) << Text("stderr.txt");
    const Bytes wav = ReadFile(dir_ / "out/00 Hidden.wav");
    ASSERT_EQ(wav.size(), 44u + 100 * 2352);
    EXPECT_TRUE(Bytes(wav.begin() + 44, wav.end()) ==
                Bytes(img_.disc.begin(), img_.disc.begin() + 100 * 2352));
}

}  // namespace
}  // namespace tralux::test
