// cd rip reading ahead while tracks encode gives what the one-track-at-a-time rip gives, holds
// its read-ahead within bounds and leaves nothing of it behind.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "image_builder.h"
#include "rip/rip_pipeline.h"
#include "support/staging.h"

namespace tralux::test {
namespace {

namespace fs = std::filesystem;

class RipPipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ImageSpec layout;
        layout.tracks = {
            {300, true, 0, 0}, {260, true, 75, 0}, {140, true, 60, 0}, {200, true, 0, 0}};
        img_ = BuildImage(dir_, layout);
        fs::create_directories(dir_.path() / "cfg/Quorvatix");
        std::ofstream(dir_.path() / "cfg/Quorvatix/tralux.ini") << "[CDDB]\nNeverUseCDDB=1\n";
    }
    int Run(const std::string& env, const std::string& outDir, const std::string& args) {
        const std::string cmd =
            "env -u TRALUX_CD_JITTER -u TRALUX_CD_OFFSET -u TRALUX_CD_SPEED TRALUX_CD_IMAGES=" +
            img_.cuePath + " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + env + " " +
            TRALUX_CLI_PATH + " --config " + (dir_ / "cfg") + " cd rip --output-dir " + outDir +
            " " + args + " >" + outDir + ".out 2>" + outDir + ".err";
        fs::create_directories(outDir);
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    static std::string Text(const fs::path& p) {
        const Bytes b = ReadFile(p);
        return std::string(b.begin(), b.end());
    }
    // Every file of a rip folder (the log without its date line), by name.
    static std::map<std::string, std::string> Folder(const fs::path& dir) {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(dir)) {
            if (!e.is_regular_file()) continue;
            std::string text = Text(e.path());
            if (e.path().extension() == ".log") {
                const auto at = text.find("UTC");
                const auto line = text.rfind('\n', at);
                if (at != std::string::npos) text.erase(line + 1, text.find('\n', at) - line);
            }
            files[e.path().filename().string()] = text;
        }
        return files;
    }
    std::string Out(const std::string& name) { return dir_ / name; }
    static Bytes Payload(const std::string& wav) {
        const Bytes b = ReadFile(wav);
        if (b.size() < 44) return {};
        return Bytes(b.begin() + 44, b.begin() + 44 + Get32(b, 40));
    }
    TempDir dir_;
    BuiltImage img_;
};

TEST_F(RipPipelineTest, GivesTheSerialRipsFilesAndVerdicts) {
    for (const std::string format : {"wav", "mp3"}) {
        const std::string args = "--format " + format + " --jitter --test-copy";
        const std::string jitter = "TRALUX_CD_JITTER=seed=3,share=30 ";
        ASSERT_EQ(Run(jitter, Out("serial" + format), args + " -j 1"), 0);
        // Held in memory with encoders to spare; everything spilled with one encoder.
        ASSERT_EQ(Run(jitter, Out("ahead" + format), args + " -j 3"), 0)
            << Text(Out("ahead" + format) + ".err");
        ASSERT_EQ(Run(jitter + "TRALUX_CD_HOLD_MB=0", Out("spilled" + format), args + " --jobs=1x"),
                  2);
        ASSERT_EQ(Run(jitter + "TRALUX_CD_HOLD_MB=0", Out("spilled" + format), args + " -j2"), 0);
        const auto serial = Folder(Out("serial" + format));
        EXPECT_EQ(serial.size(), 6u);  // four tracks, the log and the CUE sheet
        EXPECT_TRUE(Folder(Out("ahead" + format)) == serial) << format;
        EXPECT_TRUE(Folder(Out("spilled" + format)) == serial) << format;
        // The per-track lines, in track order.
        EXPECT_EQ(Text(Out("ahead" + format) + ".out"), Text(Out("serial" + format) + ".out"));
        EXPECT_EQ(Text(Out("spilled" + format) + ".out"), Text(Out("serial" + format) + ".out"));
        EXPECT_NE(Text(Out("spilled" + format) + ".err").find("4 of 4 tracks ripped\n"),
                  std::string::npos);
    }
}

TEST_F(RipPipelineTest, FailuresKeepTheSerialRipsRules) {
    // A bad sector near the end of track 2: its file keeps what was read, as it always did.
    const std::string bad = "TRALUX_CD_JITTER=shift=0,bad=" + std::to_string(img_.starts[2] - 2);
    EXPECT_EQ(Run(bad, Out("s"), "-j 1"), 1);
    EXPECT_EQ(Run(bad + " TRALUX_CD_HOLD_MB=0", Out("p"), "-j 3"), 1);
    // (The serial rip's log used to lose the reason: its error text was read twice.)
    EXPECT_TRUE(Folder(Out("p")) == Folder(Out("s")));
    EXPECT_NE(Text(Out("p.err")).find("Failed to read sector (音軌 2, "), std::string::npos)
        << Text(Out("p.err"));
    EXPECT_NE(Text(Out("p.err")).find("3 of 4 tracks ripped, 1 failed"), std::string::npos);
    // With a test read first, the bad track fails there: nothing of it is written, and it counts.
    EXPECT_EQ(Run(bad, Out("ts"), "--test-copy -j 1"), 1);
    EXPECT_EQ(Run(bad, Out("tp"), "--test-copy -j 3"), 1);
    EXPECT_TRUE(Folder(Out("tp")) == Folder(Out("ts")));
    EXPECT_FALSE(fs::exists(Out("tp/02 Song 2.wav")));
    const std::string tested = Text(Out("tp.err"));
    EXPECT_NE(tested.find("Song 2.wav: the test read failed"), std::string::npos) << tested;
    EXPECT_NE(tested.find("3 of 4 tracks ripped, 1 failed"), std::string::npos) << tested;
    // (The serial rip used to count it without saying which track or why.)
    EXPECT_NE(Text(Out("ts.err")).find("Track02.cda: the test read failed"), std::string::npos);

    // An existing file is refused before the drive reads; one that cannot be created fails
    // alone, and the log and the sheet do not name it.
    fs::create_directories(Out("q"));
    std::ofstream(Out("q/03 Song 3.wav")) << "mine";
    fs::create_directories(Out("q/02 Song 2.wav"));
    EXPECT_EQ(Run("", Out("q"), "--tracks 2-4"), 1);
    const std::string err = Text(Out("q.err"));
    EXPECT_NE(err.find("03 Song 3.wav exists; --overwrite"), std::string::npos) << err;
    EXPECT_EQ(Text(Out("q/03 Song 3.wav")), "mine");
    EXPECT_NE(err.find("1 of 3 tracks ripped, 2 failed"), std::string::npos) << err;
    EXPECT_TRUE(Payload(Out("q/04 Song 4.wav")) == img_.Track(3));
    std::string log, cue, audio;
    for (const auto& [name, text] : Folder(Out("q")))
        (name.ends_with(".log") ? log : name.ends_with(".cue") ? cue : audio) += text;
    EXPECT_EQ(log.find("02 Song 2.wav"), std::string::npos) << log;
    EXPECT_EQ(cue.find("02 Song 2.wav"), std::string::npos) << cue;
    EXPECT_NE(cue.find("04 Song 4.wav"), std::string::npos) << cue;
    for (const auto& e : fs::directory_iterator(Out("q")))
        EXPECT_NE(e.path().filename().string()[0], '.') << e.path();

    // A full disk under track 2: it fails, said with the system's reason, in both rips alike.
    for (const std::string j : {"1", "2"}) {
        const std::string dir = Out("full" + j);
        fs::create_directories(dir);
        fs::create_symlink("/dev/full", dir + "/02 Song 2.wav");
        EXPECT_EQ(Run("", dir, "--tracks 2-3 --overwrite -j " + j), 1);
        const std::string said = Text(dir + ".err");
        EXPECT_NE(said.find("No space left on device"), std::string::npos) << said;
        EXPECT_NE(said.find("1 of 2 tracks ripped, 1 failed"), std::string::npos) << said;
    }
    EXPECT_TRUE(Folder(Out("full2")) == Folder(Out("full1")));
    for (const auto& [name, text] : Folder(Out("full2"))) {
        if (name.ends_with(".log") || name.ends_with(".cue")) {
            EXPECT_EQ(text.find("02 Song 2.wav"), std::string::npos) << text;
        }
    }
}

TEST_F(RipPipelineTest, AStopEndsEveryStartedFilePlayable) {
    // At 2x a 4-second track takes 2 seconds: the signal comes while track 2 is read. (A stop
    // while a track encodes is the serial rip's signal test, which runs this way too.)
    const std::string outDir = Out("stop");
    fs::create_directories(outDir);
    const std::string cmd =
        "env -u TRALUX_CD_JITTER TRALUX_CD_SPEED=2 TRALUX_CD_IMAGES=" + img_.cuePath +
        " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + TRALUX_CLI_PATH + " --config " +
        (dir_ / "cfg") + " cd rip --format wav -j 2 --output-dir " + outDir + " 2>" + outDir +
        ".err & p=$!; for i in $(seq 200); do [ -s '" + outDir +
        "/01 Song 1.wav' ] && break; sleep 0.05; done; sleep 0.8; kill -INT $p; wait $p";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string err = Text(outDir + ".err");
    EXPECT_TRUE(Payload(outDir + "/01 Song 1.wav") == img_.Track(0)) << err;
    // Track 2 was on the drive: what was read of it is a playable file, and said so.
    const Bytes part = Payload(outDir + "/02 Song 2.wav");
    const Bytes whole = img_.Track(1);
    EXPECT_FALSE(part.empty());
    EXPECT_LT(part.size(), whole.size());
    EXPECT_TRUE(std::equal(part.begin(), part.end(), whole.begin())) << err;
    EXPECT_NE(err.find("Song 2.wav (stopped; the file holds the first"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(outDir + "/03 Song 3.wav"));
    EXPECT_FALSE(fs::exists(outDir + "/.02 Song 2.wav.pcm"));
    EXPECT_EQ(test::StagingFileOf(outDir + "/02 Song 2.wav"), "");
    EXPECT_NE(err.find("stopped by SIGINT"), std::string::npos) << err;
}

TEST_F(RipPipelineTest, AStopDuringTheTestReadIsNoFailure) {
    // At 2x track 1's test read takes 2 seconds: the signal comes during it (the offset line
    // is said just before the first track).
    for (const std::string j : {"1", "2"}) {
        const std::string outDir = Out("stoptest" + j);
        fs::create_directories(outDir);
        const std::string cmd =
            "env -u TRALUX_CD_JITTER TRALUX_CD_SPEED=2 TRALUX_CD_IMAGES=" + img_.cuePath +
            " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + TRALUX_CLI_PATH + " --config " +
            (dir_ / "cfg") + " cd rip --test-copy -j " + j + " --output-dir " + outDir + " 2>" +
            outDir + ".err & p=$!; for i in $(seq 200); do grep -q 'read offset' " + outDir +
            ".err && break; sleep 0.05; done; sleep 0.3; kill -INT $p; wait $p";
        const int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 130);
        const std::string err = Text(outDir + ".err");
        EXPECT_NE(err.find("Track01.cda: not ripped (stopped during the test read)"),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("0 of 4 tracks ripped\n"), std::string::npos) << err;
        EXPECT_TRUE(fs::is_empty(outDir)) << err;
    }
}

TEST_F(RipPipelineTest, AKilledRipLeavesNoHoldFile) {
    // Everything spilled, one encoder at 2x: track 2 is held on disk when the kill comes.
    const std::string outDir = Out("killed");
    fs::create_directories(outDir);
    const std::string cmd =
        "env -u TRALUX_CD_JITTER TRALUX_CD_SPEED=2 TRALUX_CD_HOLD_MB=0 TRALUX_CD_IMAGES=" +
        img_.cuePath + " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + TRALUX_CLI_PATH +
        " --config " + (dir_ / "cfg") + " cd rip --format mp3 -j 2 --output-dir " + outDir +
        " >/dev/null 2>&1 & p=$!; for i in $(seq 200); do [ -s '" + outDir +
        "/01 Song 1.mp3' ] && break; sleep 0.05; done; sleep 0.8; ls -l /proc/$p/fd > " + outDir +
        ".fds; kill -KILL $p; wait $p";
    const int status = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + 9);
    // The hold was open, and had no name in the folder.
    EXPECT_NE(Text(outDir + ".fds").find(" (deleted)"), std::string::npos) << Text(outDir + ".fds");
    // A killed job may leave its unfinished output's hidden name; never a hold file.
    for (const auto& e : fs::directory_iterator(outDir))
        EXPECT_NE(e.path().extension(), ".pcm") << e.path();
}

TEST(RipHoldLimit, TakesWholeMiBWithinRangeOnly) {
    EXPECT_EQ(rip::ParseHoldMb("0"), 0u);
    EXPECT_EQ(rip::ParseHoldMb(" +8 "), std::uint64_t{8} << 20);
    EXPECT_EQ(rip::ParseHoldMb("1048576"), std::uint64_t{1} << 40);
    for (const char* bad :
         {"", " ", "+", "-1", "-0", "8MB", "1.5", "0x10", "1048577", "99999999999999999999999"})
        EXPECT_EQ(rip::ParseHoldMb(bad), std::nullopt) << bad;
}

}  // namespace
}  // namespace tralux::test
