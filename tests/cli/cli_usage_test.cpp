// What a user of tralux-cli meets first: usage, outputs that must not be lost, file errors,
// inputs that cannot be converted, stopping by signal.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli_fixture.h"
#include "support/staging.h"

namespace tralux::test {
namespace {

using Cli = CliFixture;

std::string Dir(const std::string& d) {
    return " --output-dir " + d;
}

TEST_F(Cli, UsageErrorsSayWhatWasWrong) {
    WriteFile(P("in.wav"), SimpleWav(Tone(44100, 2, 4410), 2, 44100));
    const std::string in = P("in.wav") + " ";
    const std::pair<std::string, std::string> cases[] = {
        {"--rate 0", "--rate: 0 is not a sample rate (1000..192000)"},
        {"--rate=0", "--rate: 0 is not a sample rate (1000..192000)"},
        {"--channels 3", "--channels: 3 is not a channel count (1 or 2)"},
        {"--format MP3", "--format: 'MP3' is not a format (wav, mp3, wma, flac or opus)"},
        {"--eq 1,2,3", "--eq: 3 levels given, 11 needed"},
        {"--eq 50,50,50,50,50,50,50,50,50,50,100", "--eq: '100' is not a level 0..99"},
        {"--eq-db 0,0,0,0,0,0,0,0,0,20", "--eq-db: 20 dB is outside -32.7..+8.7"},
        {"--frobnicate", "unknown option --frobnicate"},
        {"--rate", "--rate needs a value"},
        {"--no-tags=1", "--no-tags takes no value"},
        {"--overwrite --rename", "--overwrite and --rename exclude each other"},
        {"--start -5", "--start: -5 is not a position in milliseconds"},
    };
    for (const auto& [args, message] : cases) {
        EXPECT_EQ(RunCli("convert " + in + args + Dir(P("out"))), 2) << args;
        EXPECT_NE(Err().find(message), std::string::npos) << args << "\n" << Err();
    }
    EXPECT_FALSE(Exists("out"));
    EXPECT_EQ(RunCli("convert"), 2);
    EXPECT_NE(Err().find("convert needs at least one input"), std::string::npos);
    EXPECT_EQ(RunCli("transmogrify x"), 2);
    EXPECT_NE(Err().find("unknown command 'transmogrify'"), std::string::npos);
}

TEST_F(Cli, FlagEqualsValueWorksLikeTwoWords) {
    WriteFile(P("in.wav"), SimpleWav(Tone(44100, 2, 44100), 2, 44100));
    ASSERT_EQ(
        RunCli("convert " + P("in.wav") + " --rate=22050 --channels=1 --output-dir=" + P("out")), 0)
        << Err();
    const Pcm out = ReadWavPcm(P("out/in.wav"));
    EXPECT_EQ(out.rate, 22050u);
    EXPECT_EQ(out.channels, 1);
}

TEST_F(Cli, HelpAndVersionGoToStdoutWithStatusZero) {
    for (const char* h : {"--help", "-h", "help", "convert --help"}) {
        EXPECT_EQ(RunCli(h), 0) << h;
        EXPECT_NE(Out().find("usage: tralux-cli"), std::string::npos) << h;
        EXPECT_EQ(Err(), "") << h;
    }
    // The equalizer's scale is documented where people look for it.
    EXPECT_NE(Out().find("50 is flat"), std::string::npos);
    EXPECT_NE(Out().find("--eq-db"), std::string::npos);
    EXPECT_EQ(RunCli("--version"), 0);
    EXPECT_EQ(Out().rfind("tralux-cli ", 0), 0u) << Out();
}

TEST_F(Cli, SameNamedInputsInOneBatchKeepEveryOutput) {
    std::filesystem::create_directories(P("A"));
    std::filesystem::create_directories(P("B"));
    // Three lengths tell the outputs apart.
    WriteFile(P("A/song.wav"), SimpleWav(Tone(8000, 1, 8000), 1, 8000));
    WriteFile(P("B/song.wav"), SimpleWav(Tone(8000, 1, 16000), 1, 8000));
    WriteFile(P("A/song.mp3"), SimpleWav(Tone(8000, 1, 24000), 1, 8000));  // a WAV by another name
    ASSERT_EQ(RunCli("convert " + P("A/song.wav") + " " + P("B/song.wav") + " " + P("A/song.mp3") +
                     " " + P("A/song.wav") + Dir(P("o"))),
              0)
        << Err();
    std::vector<std::size_t> frames;
    for (const char* name : {"o/song.wav", "o/song (2).wav", "o/song (3).wav"}) {
        ASSERT_TRUE(Exists(name)) << name << "\n" << Err();
        frames.push_back(ReadWavPcm(P(name)).Frames());
    }
    EXPECT_EQ(frames, (std::vector<std::size_t>{8000, 16000, 24000}));
    EXPECT_FALSE(Exists("o/song (4).wav"));  // the repeated input ran once
    EXPECT_NE(Err().find("given twice"), std::string::npos);
}

// A cut WAV converts what it holds with exit 0, and says the input ended early and how much
// was converted; the run ends with its tally.
TEST_F(Cli, ACutInputSaysSoAndTheRunEndsWithItsTally) {
    Bytes wav = SimpleWav(Tone(8000, 1, 24000), 1, 8000);  // header: 3 s
    wav.resize(44 + 2 * 13600);                            // 1.7 s present
    WriteFile(P("cut.wav"), wav);
    WriteFile(P("junk.wav"), Bytes(100, 7));
    ASSERT_EQ(RunCli("convert " + P("cut.wav") + " " + P("junk.wav") + Dir(P("o"))), 1) << Err();
    EXPECT_EQ(ReadWavPcm(P("o/cut.wav")).Frames(), 13600u);
    EXPECT_NE(Err().find("cut.wav: the input ended early (its header announces 3.000 s); 1.700 s "
                         "converted\n"),
              std::string::npos)
        << Err();
    EXPECT_NE(Err().find("\n1 converted, 1 failed, 0 skipped\n"), std::string::npos) << Err();
}

// A folder stands for its WAV and MP3 files; --recursive adds its subfolders, whose layout is
// kept under --output-dir (same names in two subfolders stay apart).
TEST_F(Cli, AFolderInputConvertsItsAudioFilesKeepingTheLayout) {
    for (const char* d : {"in/x", "in/y"}) std::filesystem::create_directories(P(d));
    const Bytes wav = SimpleWav(Tone(8000, 1, 800), 1, 8000);
    for (const char* f : {"in/top.wav", "in/x/song.wav", "in/y/song.WAV"}) WriteFile(P(f), wav);
    WriteFile(P("in/notes.txt"), Bytes(10, 'x'));
    ASSERT_EQ(RunCli("convert " + P("in") + Dir(P("flat"))), 0) << Err();
    EXPECT_TRUE(Exists("flat/top.wav"));
    EXPECT_FALSE(Exists("flat/x"));
    ASSERT_EQ(RunCli("convert " + P("in") + " --recursive" + Dir(P("deep"))), 0) << Err();
    for (const char* f : {"deep/top.wav", "deep/x/song.wav", "deep/y/song.wav"})
        EXPECT_TRUE(Exists(f)) << f << "\n" << Err();
    EXPECT_NE(Err().find("3 converted, 0 failed, 0 skipped"), std::string::npos) << Err();
}

TEST_F(Cli, SameNamedInputsWithARelativeOutputFolder) {
    for (const char* d : {"A", "B", "C"}) {
        std::filesystem::create_directories(P(d));
        WriteFile(P(std::string(d) + "/song.wav"), SimpleWav(Tone(8000, 1, 800), 1, 8000));
    }
    const std::string cmd =
        "cd " + dir_.path().string() + " && " + Binary() +
        " --config cfg convert A/song.wav B/song.wav C/song.wav --output-dir o" + " 2>" +
        P("stderr.txt");
    ASSERT_EQ(std::system(cmd.c_str()), 0) << Err();
    for (const char* name : {"o/song.wav", "o/song (2).wav", "o/song (3).wav"})
        EXPECT_TRUE(Exists(name)) << name << "\n" << Err();
}

TEST_F(Cli, ExistingOutputsAreKeptUnlessAskedOtherwise) {
    WriteFile(P("song.wav"), SimpleWav(Tone(8000, 1, 8000), 1, 8000));
    std::filesystem::create_directories(P("o"));
    const Bytes precious{'k', 'e', 'e', 'p'};
    WriteFile(P("o/song.wav"), precious);

    EXPECT_EQ(RunCli("convert " + P("song.wav") + Dir(P("o"))), 1);
    EXPECT_EQ(ReadFile(P("o/song.wav")), precious);
    EXPECT_NE(Err().find("exists; --overwrite (-y) replaces it, --rename picks a free name"),
              std::string::npos)
        << Err();
    EXPECT_EQ(Err().find("->"), std::string::npos);

    ASSERT_EQ(RunCli("convert " + P("song.wav") + Dir(P("o")) + " --rename"), 0) << Err();
    EXPECT_EQ(ReadFile(P("o/song.wav")), precious);
    EXPECT_EQ(ReadWavPcm(P("o/song (2).wav")).Frames(), 8000u);

    ASSERT_EQ(RunCli("convert " + P("song.wav") + Dir(P("o")) + " -y"), 0) << Err();
    EXPECT_EQ(ReadWavPcm(P("o/song.wav")).Frames(), 8000u);
    EXPECT_FALSE(Exists("o/song (3).wav"));

    // A link pointing nowhere is a taken name: writing there would create a file elsewhere.
    std::filesystem::create_symlink(P("elsewhere.mp3"), P("o/song.mp3"));
    EXPECT_EQ(RunCli("convert " + P("song.wav") + Dir(P("o")) + " --format mp3"), 1);
    EXPECT_FALSE(Exists("elsewhere.mp3"));

    // Even with -y, an output that is another input of the run is not written over.
    WriteFile(P("o/take.wav"), precious);
    WriteFile(P("take.au"), SimpleWav(Tone(8000, 1, 8000), 1, 8000));
    EXPECT_EQ(RunCli("convert " + P("take.au") + " " + P("o/take.wav") + Dir(P("o")) + " -y"), 1);
    EXPECT_EQ(ReadFile(P("o/take.wav")), precious);
    EXPECT_NE(Err().find("is an input of this run"), std::string::npos) << Err();
    EXPECT_EQ(RunCli("convert " + P("take.au") + " " + P("o/take.wav") + Dir(P("o")) + " --rename"),
              1);
    EXPECT_EQ(ReadFile(P("o/take.wav")), precious);
    EXPECT_EQ(ReadWavPcm(P("o/take (2).wav")).Frames(), 8000u);
}

TEST_F(Cli, ZeroDataSizeWithAudioAfterItIsReadToTheEnd) {
    // As a streaming writer leaves it: data size 0, one second of audio up to the end.
    Bytes streamed = SimpleWav(Tone(8000, 1, 8000), 1, 8000);
    streamed[40] = streamed[41] = streamed[42] = streamed[43] = 0;
    WriteFile(P("streamed.wav"), streamed);
    ASSERT_EQ(RunCli("probe " + P("streamed.wav")), 0);
    EXPECT_NE(Out().find("(1000 ms)"), std::string::npos) << Out();
    ASSERT_EQ(RunCli("convert " + P("streamed.wav") + Dir(P("o"))), 0) << Err();
    EXPECT_EQ(ReadWavPcm(P("o/streamed.wav")).samples, Tone(8000, 1, 8000));

    // A genuinely empty data chunk followed by another chunk stays empty.
    Bytes info;
    PutId(info, "INFO");
    WriteFile(P("empty.wav"),
              Riff({{"fmt ", FmtPayload(1, 1, 8000, 16)}, {"data", {}}, {"LIST", info}}));
    ASSERT_EQ(RunCli("probe " + P("empty.wav")), 0);
    EXPECT_NE(Out().find("(0 ms)"), std::string::npos) << Out();
}

TEST_F(Cli, StartAtOrPastTheEndIsRefused) {
    WriteFile(P("in.wav"), SimpleWav(Tone(8000, 1, 8000), 1, 8000));
    for (const char* start : {"1000", "5000"}) {
        EXPECT_EQ(RunCli("convert " + P("in.wav") + " --start " + start + Dir(P("o"))), 1);
        EXPECT_NE(Err().find("is at or past the end (1000 ms)"), std::string::npos) << Err();
        EXPECT_FALSE(Exists("o/in.wav"));
    }
    ASSERT_EQ(RunCli("convert " + P("in.wav") + " --start 500" + Dir(P("o"))), 0) << Err();
    EXPECT_EQ(ReadWavPcm(P("o/in.wav")).Frames(), 4000u);
}

TEST_F(Cli, FileErrorsNameThePathAndTheReason) {
    WriteFile(P("in.wav"), SimpleWav(Tone(8000, 1, 800), 1, 8000));
    EXPECT_EQ(RunCli("convert " + P("missing.wav") + Dir(P("o"))), 1);
    EXPECT_NE(Err().find("開啟檔案錯誤: " + P("missing.wav") + ": No such file or directory"),
              std::string::npos)
        << Err();
    EXPECT_EQ(RunCli("probe " + P("missing.wav")), 1);
    EXPECT_NE(Err().find("開啟檔案錯誤: " + P("missing.wav") + ": No such file or directory"),
              std::string::npos)
        << Err();

    std::filesystem::create_directories(P("folder.wav"));
    EXPECT_EQ(RunCli("convert " + P("folder.wav") + Dir(P("o"))), 1);
    EXPECT_NE(Err().find("開啟檔案錯誤: " + P("folder.wav") + ": Is a directory"),
              std::string::npos)
        << Err();  // a folder without WAV or MP3 files

    WriteFile(P("afile"), Bytes{1});
    EXPECT_EQ(RunCli("convert " + P("in.wav") + Dir(P("afile"))), 1);
    EXPECT_NE(Err().find("開啟檔案錯誤: " + P("afile") + ": "), std::string::npos) << Err();

    // Converting a WAV into its own folder as WAV would write over the input.
    const Bytes before = ReadFile(P("in.wav"));
    EXPECT_EQ(RunCli("convert " + P("in.wav") + Dir(dir_.path().string()) + " -y"), 1);
    EXPECT_NE(Err().find("開啟檔案錯誤: " + P("in.wav") + ": the input itself"), std::string::npos)
        << Err();
    EXPECT_EQ(ReadFile(P("in.wav")), before);

    // /proc takes no new files, not even from root.
    EXPECT_EQ(RunCli("convert " + P("in.wav") + Dir("/proc")), 1);
    EXPECT_NE(Err().find("開啟檔案錯誤: /proc/in.wav: "), std::string::npos) << Err();
}

TEST_F(Cli, RecognisedButUnsupportedWavFormatsAreNamed) {
    Bytes ext = FmtPayload(0xFFFE, 6, 48000, 16, 24);
    ext[16] = 22;  // cbSize
    ext[24] = 1;   // PCM sub-format
    const Bytes tail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    std::copy(tail.begin(), tail.end(), ext.begin() + 26);
    Bytes rf64 = SimpleWav(Tone(8000, 1, 80), 1, 8000);
    std::copy_n("RF64", 4, rf64.begin());
    // Compressed WAVs our reader refuses go to the system's decoders; RF64 stays refused.
    const Bytes compressed[] = {
        Riff({{"fmt ", FmtPayload(6, 1, 8000, 8)}, {"data", Bytes(800, 0xD5)}}),     // A-law
        Riff({{"fmt ", FmtPayload(7, 1, 8000, 8)}, {"data", Bytes(800, 0xFF)}}),     // mu-law
        Riff({{"fmt ", FmtPayload(0x11, 1, 8000, 4, 2)}, {"data", Bytes(800, 0)}}),  // IMA
    };
    for (const Bytes& file : compressed) {
        WriteFile(P("c.wav"), file);
        EXPECT_EQ(RunCli("convert " + P("c.wav") + " -y" + Dir(P("c"))), 0) << Err();
        EXPECT_GT(ReadWavPcm(P("c/c.wav")).Frames(), 0u);
    }
    EXPECT_EQ(ReadWavPcm(P("c/c.wav")).rate, 8000u);
    WriteFile(P("x.wav"), rf64);
    const std::string message = "RF64 WAV (64-bit sizes) is not supported";
    EXPECT_EQ(RunCli("probe " + P("x.wav")), 1);
    EXPECT_NE(Err().find(message), std::string::npos) << Err();
    EXPECT_EQ(RunCli("convert " + P("x.wav") + Dir(P("o"))), 1);
    EXPECT_NE(Err().find(message), std::string::npos) << Err();
    EXPECT_FALSE(Exists("o/x.wav"));
    // 5.1 is mixed down to stereo.
    WriteFile(P("x.wav"), Riff({{"fmt ", ext}, {"data", Bytes(1200, 0)}}));
    ASSERT_EQ(RunCli("convert " + P("x.wav") + Dir(P("o"))), 0) << Err();
    EXPECT_EQ(ReadWavPcm(P("o/x.wav")).channels, 2);
}

TEST_F(Cli, EqualizerInDecibels) {
    const std::vector<std::int16_t> tone = Tone(44100, 1, 44100, 0, 1000.0, 6000.0);
    WriteFile(P("in.wav"), SimpleWav(tone, 1, 44100));
    auto rms = [](const std::vector<std::int16_t>& s) {
        double e = 0;
        for (std::size_t i = 4410; i < s.size() - 4410; ++i) e += double(s[i]) * s[i];
        return std::sqrt(e / double(s.size() - 8820));
    };
    const double in = rms(tone);
    ASSERT_EQ(RunCli("convert " + P("in.wav") + " --eq-db 0,0,0,0,0,0,0,0,0,0" + Dir(P("flat"))), 0)
        << Err();
    EXPECT_NEAR(20 * std::log10(rms(ReadWavPcm(P("flat/in.wav")).samples) / in), 0.0, 0.2);
    ASSERT_EQ(RunCli("convert " + P("in.wav") + " --eq-db=0,0,0,0,0,0,0,0,0,0,-6" + Dir(P("cut"))),
              0)
        << Err();
    EXPECT_NEAR(20 * std::log10(rms(ReadWavPcm(P("cut/in.wav")).samples) / in), -6.0, 0.5);
    // The window's scale: 0 everywhere is a boost, not flat.
    ASSERT_EQ(RunCli("convert " + P("in.wav") + " --eq 50,50,50,50,50,50,50,50,50,50,0" +
                     Dir(P("boost"))),
              0)
        << Err();
    EXPECT_GT(20 * std::log10(rms(ReadWavPcm(P("boost/in.wav")).samples) / in), 8.0);
}

// Starts a conversion of the given files, waits until the first output is being written, sends
// `sig`.
int InterruptBatch(const std::vector<std::string>& inputs, const std::string& firstOutput, int sig,
                   const std::string& config, const std::string& errFile) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (!freopen(errFile.c_str(), "w", stderr)) _exit(126);
        const std::string dir = std::filesystem::path(firstOutput).parent_path().string();
        const std::string cli = CliFixture::Binary();
        std::vector<const char*> argv{
            cli.c_str(), "--config", config.c_str(), "convert", "--output-dir", dir.c_str(),
            // Rate conversion keeps the job busy long enough for the signal; one job at a
            // time, so the second input is never started.
            "--rate", "8000", "-j", "1"};
        for (const std::string& in : inputs) argv.push_back(in.c_str());
        argv.push_back(nullptr);
        execv(cli.c_str(), const_cast<char* const*>(argv.data()));
        _exit(127);
    }
    for (int i = 0; i < 2000 && StagingFileOf(firstOutput).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(Cli, SignalsStopTheJobSkipTheRestAndSetTheStatus) {
    // Three minutes each: far longer than the signal takes to arrive.
    const Bytes longWav = SimpleWav(std::vector<std::int16_t>(44100 * 2 * 180, 3), 2, 44100);
    WriteFile(P("one.wav"), longWav);
    WriteFile(P("two.wav"), longWav);
    for (const auto& [sig, expected] :
         {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}, std::pair{SIGHUP, 129}}) {
        std::filesystem::remove_all(P("o"));
        EXPECT_EQ(InterruptBatch({P("one.wav"), P("two.wav")}, P("o/one.wav"), sig, P("cfg"),
                                 P("err.txt")),
                  expected);
        const Bytes out = ReadFile(P("o/one.wav"));
        ASSERT_GE(out.size(), 44u);
        EXPECT_EQ(Get32(out, 4), out.size() - 8);  // finished and playable
        EXPECT_LT(Get32(out, 40), 8000u * 4 * 180);
        EXPECT_FALSE(Exists("o/two.wav"));
        const std::string err = Text("err.txt");
        EXPECT_NE(err.find("(stopped; the file holds 00:"), std::string::npos) << err;
        EXPECT_NE(err.find(" of 03:00)"), std::string::npos) << err;
        EXPECT_NE(err.find(std::string("stopped by ") + (sig == SIGINT    ? "SIGINT"
                                                         : sig == SIGTERM ? "SIGTERM"
                                                                          : "SIGHUP")),
                  std::string::npos)
            << err;
    }
}

// Messages into a pipe nobody reads any more (`2>&1 | head`): the run goes on, every output is
// whole.
TEST_F(Cli, AClosedStandardErrorDoesNotCutTheJobs) {
    WriteFile(P("short.wav"), SimpleWav(Tone(8000, 2, 800), 2, 8000));
    WriteFile(P("long.wav"), SimpleWav(std::vector<std::int16_t>(44100 * 2 * 60, 3), 2, 44100));
    const std::string cmd = "(" + Binary() + " --config " + P("cfg") + " convert " +
                            P("short.wav") + " " + P("long.wav") + " -j2" + Dir(P("o")) +
                            " 2>&1; echo $? >" + P("rc.txt") + ") | true";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(Text("rc.txt"), "0\n");
    const Bytes out = ReadFile(P("o/long.wav"));
    ASSERT_GE(out.size(), 44u);
    EXPECT_EQ(Get32(out, 40), 44100u * 4 * 60);
}

}  // namespace
}  // namespace tralux::test

namespace tralux::test {
namespace {

// Several jobs at once write what one at a time writes, and keep the rules on existing outputs,
// the tally and the exit status.
TEST_F(Cli, ParallelBatchMatchesOneAtATime) {
    std::string inputs;
    for (int i = 0; i < 5; ++i) {
        std::vector<std::int16_t> pcm(static_cast<std::size_t>(22050 + 3001 * i) * 2);
        for (std::size_t k = 0; k < pcm.size(); ++k)
            pcm[k] = static_cast<std::int16_t>((k * (7 + i)) % 9000);
        WriteFile(P("in" + std::to_string(i) + ".wav"), SimpleWav(pcm, 2, 44100));
        inputs += " " + P("in" + std::to_string(i) + ".wav");
    }
    for (const char* format : {"wav", "mp3"}) {
        const std::string f = std::string(" --format ") + format;
        ASSERT_EQ(RunCli("convert" + inputs + f + " -j 1" + Dir(P("serial"))), 0) << Err();
        ASSERT_EQ(RunCli("convert" + inputs + f + " -j 3" + Dir(P("parallel"))), 0) << Err();
        EXPECT_NE(Err().find("5 converted, 0 failed, 0 skipped"), std::string::npos) << Err();
        for (int i = 0; i < 5; ++i) {
            const std::string name = "/in" + std::to_string(i) + "." + format;
            EXPECT_EQ(ReadFile(P("serial") + name), ReadFile(P("parallel") + name)) << name;
        }
    }
    // An existing output is left alone and counted, the rest convert; exit status 1.
    const Bytes kept = ReadFile(P("parallel/in2.wav"));
    std::filesystem::remove(P("parallel/in0.wav"));
    EXPECT_EQ(RunCli("convert" + inputs + " --jobs=2" + Dir(P("parallel"))), 1);
    EXPECT_NE(Err().find("1 converted, 4 failed, 0 skipped"), std::string::npos) << Err();
    EXPECT_EQ(ReadFile(P("parallel/in2.wav")), kept);
    EXPECT_EQ(RunCli("convert" + inputs + " -j 0" + Dir(P("parallel"))), 2);
}

}  // namespace
}  // namespace tralux::test
