#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cli/progress.h"
#include "support/wav_builder.h"

namespace tralux {
namespace {

using namespace test;

TEST(ProgressTest, ClockAndSpeedTexts) {
    EXPECT_EQ(FormatClock(0), "00:00");
    EXPECT_EQ(FormatClock(59), "00:59");
    EXPECT_EQ(FormatClock(3599), "59:59");
    EXPECT_EQ(FormatClock(3600), "1:00:00");
    EXPECT_EQ(FormatSpeed(250), "x 2.50");
    EXPECT_EQ(FormatSpeed(7), "x 0.07");
    // Texts padded for a dialog end a terminal line without their blanks; inner ones stay.
    EXPECT_EQ(Shown("網際網路錯誤!  "), "網際網路錯誤!");
    EXPECT_EQ(Shown("無法將 CD 訊息存入快取!       "), "無法將 CD 訊息存入快取!");
    EXPECT_EQ(Shown("不支援解壓縮.\n"), "不支援解壓縮.");
    EXPECT_EQ(Shown("   "), "");
    // A name in a message cannot steer the terminal: controls, stray bytes and reordering marks
    // are escapes; Chinese stays.
    EXPECT_EQ(Shown("壞\x1b[2J\r\n.wav"), "壞\\x1b[2J\\r\\n.wav");
    EXPECT_EQ(Printable("a\tb\x7f\xc2\x9b\xe2\x80\xae.wav"), "a\\tb\\x7f\\u009b\\u202e.wav");
    EXPECT_EQ(Printable("\xff\xc3(\xe6\xad\xed\xa0\x80\xc0\xaf歌"),
              "\\xff\\xc3(\\xe6\\xad\\xed\\xa0\\x80\\xc0\\xaf歌");
    EXPECT_EQ(Printable(std::string("x\0y", 3)), "x\\x00y");
}

TEST(ProgressTest, FiguresFollowTheDialogsArithmetic) {
    // 10 s of a 40 s job done in 2 s: 25 %, 8 s in all, 6 s to go, speed x 5.00.
    ProgressFigures f = ComputeProgress(0, 40000, 10000.0, 2000);
    EXPECT_EQ(f.percent, 25);
    EXPECT_EQ(f.totalMs, 8000u);
    EXPECT_EQ(f.remainingMs, 6000u);
    EXPECT_EQ(f.speedHundredths, 500);
    // Nothing done yet: the estimate is the track's own length, speed x 1.00.
    f = ComputeProgress(5000, 45000, 5000.0, 300);
    EXPECT_EQ(f.percent, 0);
    EXPECT_EQ(f.speedHundredths, 100);
    // An empty track never divides by zero.
    f = ComputeProgress(0, 0, 0.0, 10);
    EXPECT_EQ(f.percent, 0);
}

class CliTest : public ::testing::Test {
protected:
    int RunCli(const std::string& args) {
        const std::string cmd = std::string(TRALUX_CLI_PATH) + " --config " + (dir_ / "cfg") + " " +
                                args + " >" + (dir_ / "stdout.txt") + " 2>" + (dir_ / "stderr.txt");
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Text(const std::string& name) {
        const Bytes b = ReadFile(dir_ / name);
        return std::string(b.begin(), b.end());
    }
    TempDir dir_;
};

TEST_F(CliTest, ConvertsAWavIntoTheOutputFolder) {
    std::vector<std::int16_t> s(44100 * 2);
    for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<std::int16_t>(i * 7);
    WriteFile(dir_ / "song.wav", SimpleWav(s, 2, 44100));
    ASSERT_EQ(RunCli("convert " + (dir_ / "song.wav") + " --output-dir " + (dir_ / "out")), 0)
        << Text("stderr.txt");
    const Bytes out = ReadFile(dir_ / "out/song.wav");
    ASSERT_GT(out.size(), 44u);
    EXPECT_EQ(Get32(out, 40), s.size() * 2);
    EXPECT_NE(Text("stderr.txt").find("100%"), std::string::npos);

    ASSERT_EQ(RunCli("probe " + (dir_ / "song.wav")), 0);
    EXPECT_NE(Text("stdout.txt").find("44.1kHz,立體聲, PCM,16 bits,"), std::string::npos)
        << Text("stdout.txt");
    EXPECT_NE(Text("stdout.txt").find("duration: 00:01"), std::string::npos);
}

TEST_F(CliTest, FailuresGiveNonZeroStatusAndTheEngineText) {
    WriteFile(dir_ / "junk.wav", Bytes(100, 1));
    EXPECT_NE(RunCli("convert " + (dir_ / "junk.wav") + " --output-dir " + (dir_ / "out")), 0);
    EXPECT_NE(Text("stderr.txt").find("未知的檔案格式."), std::string::npos) << Text("stderr.txt");
    EXPECT_NE(RunCli("probe " + (dir_ / "junk.wav")), 0);
    EXPECT_NE(Text("stderr.txt").find("未知的檔案格式."), std::string::npos) << Text("stderr.txt");
    EXPECT_EQ(RunCli("convert"), 2);
    EXPECT_EQ(RunCli("convert x.wav --channels 3"), 2);
    EXPECT_EQ(RunCli("convert x.wav --eq 1,2,3"), 2);
}

TEST_F(CliTest, NamesWithControlBytesArePrintedEscaped) {
    const std::string name = "a\x1b]0;x\x07\nforged: done\r\xff.wav";
    WriteFile(dir_ / name, SimpleWav(std::vector<std::int16_t>(2000), 2, 44100));
    ASSERT_EQ(RunCli("convert '" + (dir_ / name) + "' --output-dir " + (dir_ / "out")), 0);
    const std::string shown = "a\\x1b]0;x\\x07\\nforged: done\\r\\xff";
    EXPECT_NE(Text("stderr.txt").find(shown + ".wav -> "), std::string::npos) << Text("stderr.txt");
    WriteFile(dir_ / "junk\n.wav", Bytes(100, 1));
    EXPECT_NE(RunCli("probe '" + (dir_ / "junk\n.wav") + "' '" + (dir_ / name) + "'"), 0);
    EXPECT_NE(Text("stderr.txt").find("junk\\n.wav: "), std::string::npos) << Text("stderr.txt");
    EXPECT_NE(Text("stdout.txt").find(shown + ".wav\n"), std::string::npos);
    for (const std::string file : {"stderr.txt", "stdout.txt"})
        for (const char c : Text(file))
            EXPECT_TRUE(c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7f)) << file;
}

TEST_F(CliTest, UnwritableOutputFolderIsAFailure) {
    WriteFile(dir_ / "song.wav", SimpleWav(std::vector<std::int16_t>(2000), 2, 44100));
    EXPECT_NE(RunCli("convert " + (dir_ / "song.wav") + " --output-dir /proc"), 0);
}

// The names in `dir` that start with a dot: hidden files a job writes or left behind.
std::vector<std::string> Hidden(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        if (it->path().filename().string().front() == '.')
            names.push_back(it->path().filename().string());
    return names;
}

// tralux-cli converting long.wav into out/ with `extra` flags, in a child; returns once the
// job writes (its hidden file is there).
pid_t StartLongConversion(const TempDir& dir, std::vector<std::string> extra) {
    const pid_t pid = fork();
    if (pid == 0) {
        const std::string in = dir / "long.wav", out = dir / "out", cfg = dir / "cfg",
                          err = dir / "stderr.txt";
        freopen(err.c_str(), "w", stderr);
        std::vector<const char*> argv{TRALUX_CLI_PATH, "--config",     cfg.c_str(), "convert",
                                      in.c_str(),      "--output-dir", out.c_str(), "--no-tags",
                                      "--rate",        "8000"};
        for (const std::string& a : extra) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        execv(TRALUX_CLI_PATH, const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    for (int i = 0; i < 400 && Hidden(dir / "out").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return pid;
}

int ExitCode(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(CliTest, InterruptFinishesAPlayableFile) {
    WriteFile(dir_ / "long.wav",
              SimpleWav(std::vector<std::int16_t>(44100 * 2 * 600, 3), 2, 44100));
    std::filesystem::create_directory(dir_ / "out");
    WriteFile(dir_ / "out/long.wav", Bytes{'o', 'l', 'd'});
    const pid_t pid = StartLongConversion(dir_, {"-y"});
    ASSERT_GE(pid, 0);
    // Until the job ends the old file is what the name holds.
    EXPECT_EQ(ReadFile(dir_ / "out/long.wav"), (Bytes{'o', 'l', 'd'}));
    kill(pid, SIGINT);
    // Ten minutes through the rate converter take far longer than the signal needs.
    EXPECT_EQ(ExitCode(pid), 130);
    const Bytes out = ReadFile(dir_ / "out/long.wav");
    ASSERT_GE(out.size(), 44u);
    const std::uint32_t dataSize = Get32(out, 40);
    EXPECT_EQ(Get32(out, 4), out.size() - 8);
    EXPECT_EQ(dataSize % 4, 0u);
    EXPECT_LT(dataSize, 8000u * 4 * 600);  // stopped part-way
    ASSERT_GE(out.size(), 48u + dataSize);
    EXPECT_EQ(std::string(out.begin() + 44 + dataSize, out.begin() + 48 + dataSize), "LIST");
    EXPECT_EQ(Hidden(dir_ / "out"), std::vector<std::string>{});
}

// A failed job that was to replace a file leaves that file as it was; an output that appears
// while the job runs is never written over.
TEST_F(CliTest, FailedOrOvertakenOutputsLeaveTheFileThereAlone) {
    const Bytes input = SimpleWav(std::vector<std::int16_t>(44100 * 2 * 600, 3), 2, 44100);
    const Bytes old{'o', 'l', 'd'};
    WriteFile(dir_ / "long.wav", input);
    std::filesystem::create_directory(dir_ / "out");
    WriteFile(dir_ / "out/long.wav", old);
    pid_t pid = StartLongConversion(dir_, {"-y"});
    ASSERT_GE(pid, 0);
    std::filesystem::resize_file(dir_ / "long.wav", 44 + 44100 * 4);  // the input fails
    EXPECT_EQ(ExitCode(pid), 1);
    EXPECT_NE(Text("stderr.txt").find("the file became shorter"), std::string::npos)
        << Text("stderr.txt");
    EXPECT_EQ(ReadFile(dir_ / "out/long.wav"), old);
    EXPECT_EQ(Hidden(dir_ / "out"), std::vector<std::string>{});

    WriteFile(dir_ / "long.wav", input);
    std::filesystem::remove(dir_ / "out/long.wav");
    pid = StartLongConversion(dir_, {});
    ASSERT_GE(pid, 0);
    WriteFile(dir_ / "out/long.wav", old);  // another program took the name
    kill(pid, SIGINT);                      // the stopped file has nowhere to go
    EXPECT_EQ(ExitCode(pid), 130);
    EXPECT_NE(Text("stderr.txt").find((dir_ / "out/long.wav") + ": another file is now under"),
              std::string::npos)
        << Text("stderr.txt");
    EXPECT_EQ(ReadFile(dir_ / "out/long.wav"), old);
    EXPECT_EQ(Hidden(dir_ / "out"), std::vector<std::string>{});
}

}  // namespace
}  // namespace tralux
