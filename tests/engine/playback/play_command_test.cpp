// tralux-cli play as a user runs it, on cases that need no sound: usage, missing input, and a
// machine without any sound device.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/wav_builder.h"
#include "support/require.h"

namespace tralux {
namespace {

struct Result {
    int status = -1;
    std::string err;
};

Result RunPlay(const std::string& args, const test::TempDir& dir, const std::string& env = "") {
    const std::string exe = std::string(TRALUX_BINARY_DIR) + "/cli/tralux-cli";
    const std::string errFile = dir / "stderr.txt";
    const std::string cmd = env + " '" + exe + "' --config '" + (dir / "config") + "' play " +
                            args + " >/dev/null 2>'" + errFile + "'";
    Result r;
    const int raw = std::system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    const test::Bytes b = test::ReadFile(errFile);
    r.err.assign(b.begin(), b.end());
    return r;
}

TEST(PlayCommand, BadUsageIs2) {
    test::TempDir dir;
    EXPECT_EQ(RunPlay("", dir).status, 2);
    EXPECT_EQ(RunPlay("a.wav b.wav", dir).status, 2);
    EXPECT_EQ(RunPlay("a.wav --eq 1,2,3", dir).status, 2);
    EXPECT_EQ(RunPlay("a.wav --eq 50,50,50,50,50,50,50,50,50,50,100", dir).status, 2);
    EXPECT_EQ(RunPlay("a.wav --start -5", dir).status, 2);
    EXPECT_EQ(RunPlay("a.wav --loud", dir).status, 2);
    // Every usage error says what was wrong.
    for (const char* args : {"", "a.wav --eq 1,2,3", "a.wav --loud", "a.wav --eq-db x,1"}) {
        const Result r = RunPlay(args, dir);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("tralux-cli play: "), std::string::npos) << args;
    }
    EXPECT_NE(RunPlay("a.wav --eq-db x,1", dir).err.find("'x' is not a number"), std::string::npos);
    // The '=' form and --eq-db are understood like convert's: the missing file is the error.
    EXPECT_EQ(RunPlay("--start=1000 --eq-db=0,0,0,0,0,0,0,0,0,-3 no.wav", dir).status, 1);
    EXPECT_EQ(RunPlay("--help", dir).status, 0);
}

TEST(PlayCommand, MissingInputIs1WithAReason) {
    test::TempDir dir;
    const Result r = RunPlay("'" + (dir / "nothing.wav") + "'", dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("nothing.wav"), std::string::npos) << r.err;
}

TEST(PlayCommand, NoSoundDeviceIs1WithTheEngineText) {
    if (test::SoundCardListed()) GTEST_SKIP() << "this machine has a sound card";
    test::TempDir dir;
    test::WriteFile(dir / "in.wav",
                    test::SimpleWav(std::vector<std::int16_t>(4410 * 2, 100), 2, 44100));
    const Result r = RunPlay("'" + (dir / "in.wav") + "'", dir, "env -u TRALUX_AUDIO_DEVICE");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("在這系統上找不到聲音裝置."), std::string::npos) << r.err;
}

TEST(PlayCommand, StartPastTheEndEndsAtOnce) {
    test::TempDir dir;
    test::WriteFile(dir / "in.wav",
                    test::SimpleWav(std::vector<std::int16_t>(4410 * 2, 100), 2, 44100));
    // ALSA's null device takes everything at once; nothing is left to play past the end.
    const Result r =
        RunPlay("'" + (dir / "in.wav") + "' --start 60000", dir, "TRALUX_AUDIO_DEVICE=null");
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
}  // namespace tralux
