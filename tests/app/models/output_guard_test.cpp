#include "app/models/output_guard.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tralux::models {
namespace {

namespace fs = std::filesystem;

class OutputGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tralux_guard_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Touch(const std::string& name) {
        std::ofstream(dir_ / name) << "x";
        return (dir_ / name).string();
    }
    std::string P(const std::string& name) const { return (dir_ / name).string(); }
    fs::path dir_;
};

TEST_F(OutputGuardTest, AnExistingOutputIsAskedAboutAndTheAnswerIsFollowed) {
    Touch("a.mp3");
    Touch("a (2).mp3");
    const std::vector<std::string> in{P("a.wav")};
    int asked = 0;
    auto answer = [&](ExistingAnswer a) {
        return [&asked, a](const std::string&) {
            ++asked;
            return ExistingReply{a, false};
        };
    };
    OutputGuard replace, keep, skip;
    const OutputDecision r = replace.Decide(in, 0, P("a.mp3"), answer(ExistingAnswer::Replace));
    EXPECT_EQ(r.verdict, OutputVerdict::Write);
    EXPECT_TRUE(r.replaces);
    EXPECT_EQ(r.path, P("a.mp3"));
    const OutputDecision k = keep.Decide(in, 0, P("a.mp3"), answer(ExistingAnswer::KeepBoth));
    EXPECT_EQ(k.path, P("a (3).mp3"));  // "(2)" is taken too
    EXPECT_FALSE(k.replaces);
    const OutputDecision s = skip.Decide(in, 0, P("a.mp3"), answer(ExistingAnswer::Skip));
    EXPECT_EQ(s.verdict, OutputVerdict::Skip);
    EXPECT_FALSE(s.reason.empty());
    EXPECT_EQ(asked, 3);
    // No question for a name that is free; no answer at all keeps the file.
    EXPECT_EQ(OutputGuard().Decide(in, 0, P("new.mp3"), answer(ExistingAnswer::Skip)).verdict,
              OutputVerdict::Write);
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(OutputGuard().Decide(in, 0, P("a.mp3"), nullptr).verdict, OutputVerdict::Skip);
}

TEST_F(OutputGuardTest, ApplyToAllAnswersTheRestOfTheRun) {
    Touch("1.wav");
    Touch("2.wav");
    const std::vector<std::string> in{P("1.mp3"), P("2.mp3")};
    int asked = 0;
    OutputGuard g;
    auto ask = [&](const std::string&) {
        ++asked;
        return ExistingReply{ExistingAnswer::KeepBoth, true};
    };
    EXPECT_EQ(g.Decide(in, 0, P("1.wav"), ask).path, P("1 (2).wav"));
    EXPECT_EQ(g.Decide(in, 1, P("2.wav"), ask).path, P("2 (2).wav"));
    EXPECT_EQ(asked, 1);
}

TEST_F(OutputGuardTest, TheInputALaterInputAndAnEarlierOutputAreNeverWrittenOver) {
    const std::string wav = Touch("t.wav");
    Touch("t.mp3");
    auto replace = [](const std::string&) { return ExistingReply{ExistingAnswer::Replace, true}; };
    OutputGuard g;
    // Written over itself, even through another spelling of the path.
    const std::string again = (dir_ / "." / "t.wav").string();
    EXPECT_EQ(g.Decide({wav}, 0, again, replace).verdict, OutputVerdict::Refuse);
    // t.cda's output would be t.wav, read later in the batch.
    const std::vector<std::string> batch{P("t.cda"), wav, P("t.mp3")};
    EXPECT_EQ(g.Decide(batch, 0, wav, replace).verdict, OutputVerdict::Skip);
    // t.wav and t.mp3 both want t.out: the second never replaces the first, whatever was said.
    const OutputDecision first = g.Decide(batch, 1, P("t.out"), replace);
    const OutputDecision second = g.Decide(batch, 2, P("t.out"), replace);
    EXPECT_EQ(first.path, P("t.out"));
    EXPECT_EQ(second.path, P("t (2).out"));
    fs::create_directory(dir_ / "d.wav");
    EXPECT_EQ(g.Decide({P("d.mp3")}, 0, P("d.wav"), replace).verdict, OutputVerdict::Refuse);
}

TEST_F(OutputGuardTest, ProblemsNameTheSystemsReason) {
    EXPECT_EQ(InputProblem(P("gone.wav")), "檔案或資料夾不存在");
    EXPECT_EQ(InputProblem(dir_.string()), "這是資料夾，不是檔案");
    EXPECT_EQ(InputProblem(Touch("ok.wav")), "");
    EXPECT_EQ(OutputProblem(P("no/such/dir/x.wav")), "檔案或資料夾不存在");
    EXPECT_EQ(OutputProblem(P("free.wav")), "");
    EXPECT_FALSE(fs::exists(dir_ / "free.wav"));  // the check leaves nothing behind
}

TEST(RunSummary, SaysWhatWasWrittenSkippedFailedAndStopped) {
    RunReport r;
    r.written = {"/out/a.mp3"};
    EXPECT_EQ(SummaryText(r, "/out/"), "已完成：/out/a.mp3\n");
    r.written.push_back("/out/b.mp3");
    r.skipped = {{"/out/c.mp3", "檔案已存在，保留原檔"}};
    r.failed = {{"/in/d.wav", "未知的檔案格式"}};
    r.stopped = true;
    r.stoppedPath = "/out/e.mp3";
    r.stoppedHeldMs = 51'000;
    r.stoppedWantedMs = 360'000;
    r.notStarted = 2;
    r.cut = {{"/in/f.mp3", CutInputReason(3000, 1700)}};
    const std::string t = SummaryText(r, "/out/");
    for (const char* part :
         {"已完成 2 個檔案，略過 1 個，失敗 1 個", "/out/e.mp3 只含前 00:51（完整應為 06:00）",
          "尚有 2 個", "檔案位於 /out/", "/in/d.wav：未知的檔案格式", "/out/c.mp3：檔案已存在",
          "提早結束：\n  /in/f.mp3：輸入檔提早結束（檔頭標示 3.000 秒），已轉換 1.700 秒"})
        EXPECT_NE(t.find(part), std::string::npos) << part << "\n" << t;
    // A name with a line break stays on its own line, shown with an escape.
    r = {};
    r.written = {"/out/a.mp3", "/out/b.mp3"};
    r.failed = {{"/in/x\n已完成：y.wav", "未知的檔案格式"}};
    EXPECT_NE(SummaryText(r, "/out/").find("\n  /in/x\\n已完成：y.wav：未知的檔案格式\n"),
              std::string::npos);
}

}  // namespace
}  // namespace tralux::models
