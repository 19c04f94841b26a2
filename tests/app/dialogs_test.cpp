#include <fstream>

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "app/dialogs/widgets_util.h"
#include "app/window/about_box.h"
#include "cd/drives.h"
#include "app/window/drive_dialog.h"
#include "app/window/existing_output_dialog.h"
#include "app/window/progress_dialog.h"
#include "app/window/qt_notifier.h"
#include "app/window/ui_config.h"
#include "app_fixture.h"
#include "support/wav_builder.h"

namespace tralux::app::test {
namespace {

class BatchDialogTest : public WindowTestBase {
protected:
    void SetUp() override {
        WindowTestBase::SetUp();
        settings::WriteOptionText("BInDir", "/in");
        settings::WriteOptionText("BOut", "/out/");
        settings::WriteOption("BOutFormat", 0);
        settings::WriteOption("BAQ", 0);
    }
    // Shows the dialog and lets its timer run until it closes.
    void RunToEnd(ProgressDialog& d) {
        d.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, 10000));
    }
    std::vector<std::string> StartedInputs() const {
        std::vector<std::string> v;
        for (const auto& s : backend_.starts) v.push_back(s.input);
        return v;
    }
};

TEST_F(BatchDialogTest, AFolderWithoutMatchingFilesSaysSo) {
    backend_.folders["/in/"] = {"notes.txt"};
    ProgressDialog d(nullptr, std::nullopt, true);
    RunToEnd(d);
    EXPECT_TRUE(d.Inputs().empty());
    EXPECT_TRUE(backend_.starts.empty());
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find("在 /in/ 中沒有找到"), std::string::npos);
}

TEST_F(BatchDialogTest, ConvertsEachInputInPatternOrderAndRestoresTheConfiguration) {
    Engine().OutputFormat.store(kFormatMp3);
    Engine().OutputRate.store(32000);
    Engine().EqualizerOn.store(true);
    backend_.folders["/in/"] = {"b.mp3", "a.wav", "t.cda"};
    for (const char* f : {"/in/b.mp3", "/in/a.wav", "/in/t.cda"})
        backend_.files[f] = WavInfo(22050, 1, 500);
    settings::WriteOption("BIF_CDDA", 0);
    {
        ProgressDialog d(nullptr, std::nullopt, true);
        EXPECT_TRUE(Ui().batchRunning);
        RunToEnd(d);
    }
    EXPECT_EQ(StartedInputs(), (std::vector<std::string>{"/in/a.wav", "/in/b.mp3"}));
    EXPECT_EQ(backend_.starts[0].output, "/out/a.wav");
    EXPECT_EQ(backend_.starts[0].rate, 22050u);  // automatic quality: the input's
    EXPECT_FALSE(backend_.starts[0].equalizerOn);
    EXPECT_EQ(Engine().OutputFormat.load(), kFormatMp3);
    EXPECT_EQ(Engine().OutputRate.load(), 32000u);
    EXPECT_TRUE(Engine().EqualizerOn.load());
    EXPECT_FALSE(Ui().batchRunning);
}

TEST_F(BatchDialogTest, NeverWritesOverALaterInputOrAnEarlierOutput) {
    settings::WriteOptionText("BOut", "/in/");
    backend_.folders["/in/"] = {"t.cda", "t.wav", "a.mp3", "a.mpg"};
    for (const char* f : {"/in/t.cda", "/in/t.wav", "/in/a.mp3", "/in/a.mpg"})
        backend_.files[f] = WavInfo(44100, 2, 500);
    ProgressDialog d(nullptr, std::nullopt, true);
    RunToEnd(d);
    // t.cda would overwrite t.wav before it is read, t.wav itself; a.mpg takes a free name
    // beside a.mp3's output.
    EXPECT_EQ(StartedInputs(), (std::vector<std::string>{"/in/a.mp3", "/in/a.mpg"}));
    EXPECT_EQ(backend_.starts[1].output, "/in/a (2).wav");
    const models::RunReport& r = d.Report();
    ASSERT_EQ(r.skipped.size(), 1u);
    EXPECT_EQ(r.skipped[0].path, "/in/t.wav");
    ASSERT_EQ(r.failed.size(), 1u);
    EXPECT_EQ(r.failed[0].path, "/in/t.wav");
    ASSERT_EQ(MessageTexts().size(), 1u);  // one summary, no box per file
}

TEST_F(BatchDialogTest, ATickInsideAModalLoopStartsNoSecondJob) {
    backend_.folders["/in/"] = {"a.wav", "b.wav", "c.wav"};
    for (const char* f : {"/in/a.wav", "/in/b.wav", "/in/c.wav"})
        backend_.files[f] = WavInfo(44100, 2, 500);
    ProgressDialog d(nullptr, std::nullopt, true);
    // A lookup during the probe runs the event loop, and with it the timer.
    backend_.onProbe = [&] { d.Tick(); };
    RunToEnd(d);
    EXPECT_EQ(StartedInputs(), (std::vector<std::string>{"/in/a.wav", "/in/b.wav", "/in/c.wav"}));
    EXPECT_EQ(backend_.probed.size(), 3u);
}

// Each tick starts at most one file; here the next file must follow its predecessor's end.
TEST_F(BatchDialogTest, TheNextFileStartsWhenThePreviousEndsNotAtTheNextTick) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("f" + std::to_string(100 + i) + ".wav");
        backend_.files["/in/" + names.back()] = WavInfo(22050, 1, 500);
    }
    names.push_back("missing.wav");  // a failed probe ends no job and must not wait either
    backend_.folders["/in/"] = names;
    backend_.jobMs = 1;
    ProgressDialog d(nullptr, std::nullopt, true);
    d.show();
    // 41 entries at one per 300 ms tick would take over 12 s.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, 6000));
    EXPECT_EQ(backend_.starts.size(), 40u);
    d.Stop();
}

TEST_F(BatchDialogTest, FailuresAreReportedAndTheBatchGoesOn) {
    backend_.folders["/in/"] = {"a.wav", "bad.wav", "c.wav"};
    backend_.files["/in/a.wav"] = WavInfo(44100, 2, 500);
    backend_.files["/in/c.wav"] = WavInfo(44100, 2, 500);
    backend_.failJobWith = 104;
    ProgressDialog d(nullptr, std::nullopt, true);
    RunToEnd(d);
    EXPECT_EQ(StartedInputs(), (std::vector<std::string>{"/in/a.wav", "/in/c.wav"}));
    EXPECT_TRUE(backend_.reported.empty());
    EXPECT_TRUE(d.Report().written.empty());
    ASSERT_EQ(MessageTexts().size(), 1u);
    const std::string t = MessageTexts()[0];
    EXPECT_NE(t.find("失敗 3 個"), std::string::npos) << t;
    EXPECT_NE(t.find("/out/a.wav：寫入檔案錯誤"), std::string::npos) << t;
    EXPECT_NE(t.find("/in/bad.wav：無法讀取，檔案或資料夾不存在"), std::string::npos) << t;
}

// One question before the run, about every output that exists; its answer holds for all.
TEST_F(BatchDialogTest, ExistingOutputsAreAskedAboutOnceBeforeAnythingRuns) {
    const std::string out = (dir_ / "out").string() + "/";
    std::filesystem::create_directories(out);
    for (const char* n : {"a.wav", "c.wav"}) std::ofstream(out + n) << "keep";
    settings::WriteOptionText("BOut", out);
    backend_.folders["/in/"] = {"a.mp3", "b.mp3", "c.mp3"};
    for (const char* f : {"/in/a.mp3", "/in/b.mp3", "/in/c.mp3"})
        backend_.files[f] = WavInfo(44100, 2, 50);
    using A = std::optional<models::ExistingAnswer>;
    struct Case {
        A answer;
        std::vector<std::string> outputs;
        const char* summary;
    };
    for (const Case& c :
         {Case{models::ExistingAnswer::Skip, {out + "b.wav"}, "已完成 1 個檔案，略過 2 個"},
          Case{models::ExistingAnswer::KeepBoth,
               {out + "a (2).wav", out + "b.wav", out + "c (2).wav"},
               "已完成 3 個檔案"},
          Case{models::ExistingAnswer::Replace,
               {out + "a.wav", out + "b.wav", out + "c.wav"},
               "已完成 3 個檔案"},
          Case{std::nullopt, {}, nullptr}}) {
        std::vector<std::vector<std::string>> asked;
        SetExistingOutputsQuestion([&](QWidget*, const std::vector<std::string>& paths) {
            EXPECT_TRUE(backend_.starts.empty());  // asked before the first job
            asked.push_back(paths);
            return c.answer;
        });
        backend_.starts.clear();
        messages_.Clear();
        {
            ProgressDialog d(nullptr, std::nullopt, true);
            RunToEnd(d);
        }
        SetExistingOutputsQuestion(nullptr);
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0], (std::vector<std::string>{out + "a.wav", out + "c.wav"}));
        std::vector<std::string> outputs, replacing;
        for (const auto& st : backend_.starts) {
            outputs.push_back(st.output);
            if (st.replaces) replacing.push_back(st.output);
        }
        std::sort(outputs.begin(), outputs.end());
        std::sort(replacing.begin(), replacing.end());
        EXPECT_EQ(outputs, c.outputs);
        // Only the files the user agreed to replace may be replaced.
        const std::vector<std::string> agreed =
            c.answer == models::ExistingAnswer::Replace
                ? std::vector<std::string>{out + "a.wav", out + "c.wav"}
                : std::vector<std::string>{};
        EXPECT_EQ(replacing, agreed);
        if (!c.summary) {
            EXPECT_TRUE(MessageTexts().empty());  // cancelled: nothing ran, nothing to say
            continue;
        }
        ASSERT_EQ(MessageTexts().size(), 1u);
        EXPECT_NE(MessageTexts()[0].find(c.summary), std::string::npos) << MessageTexts()[0];
    }
}

TEST_F(BatchDialogTest, TheQuestionKeepsTheFileUnlessReplaceIsPressed) {
    const std::string path = (dir_ / "x.wav").string();
    std::ofstream(path) << "keep";
    for (auto [button, expected] : {std::pair{"replace", models::ExistingAnswer::Replace},
                                    std::pair{"keepBoth", models::ExistingAnswer::KeepBoth},
                                    std::pair{"", models::ExistingAnswer::Skip}}) {
        ExistingOutputDialog q(nullptr, path, true);
        q.show();
        if (*button)
            q.findChild<QPushButton*>(QString::fromLatin1(button))->click();
        else
            QTest::keyClick(&q, Qt::Key_Escape);
        EXPECT_EQ(q.Reply().answer, expected) << button;
    }
    ExistingOutputDialog enter(nullptr, path, false);
    // The file's time in digits, as the user reads it in a file manager.
    const QString when =
        QFileInfo(QString::fromStdString(path)).lastModified().toString("yyyy/M/d HH:mm");
    bool named = false;
    for (const QLabel* l : enter.findChildren<QLabel*>()) named |= l->text().contains(when);
    EXPECT_TRUE(named) << when.toStdString();
    enter.show();
    QTest::keyClick(&enter, Qt::Key_Return);
    EXPECT_EQ(enter.Reply().answer, models::ExistingAnswer::Skip);
}

TEST_F(BatchDialogTest, DroppedFilesAreTheBatchWhateverTheirFolders) {
    backend_.files["/a/x.wav"] = WavInfo(44100, 2, 50);
    backend_.files["/b/y.mp3"] = WavInfo(44100, 2, 50);
    ProgressDialog d(nullptr, std::vector<std::string>{"/b/y.mp3", "/a/x.wav"});
    RunToEnd(d);
    EXPECT_EQ(StartedInputs(), (std::vector<std::string>{"/b/y.mp3", "/a/x.wav"}));
    EXPECT_EQ(backend_.starts[0].output, "/out/y.wav");
    EXPECT_EQ(settings::ReadOptionText("BInDir"), "/in");  // the folder batch's stays
}

TEST_F(BatchDialogTest, MoreThan2048FilesAreCutAndSaidSo) {
    std::vector<std::string> names;
    for (int i = 0; i < 2100; ++i) names.push_back("f" + std::to_string(i) + ".wav");
    backend_.folders["/in/"] = names;
    ProgressDialog d(nullptr, std::nullopt, true);
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !d.Inputs().empty(); }, 5000));
    EXPECT_EQ(d.Inputs().size(), 2048u);
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find("2048"), std::string::npos);
    d.Stop();
    EXPECT_FALSE(d.isVisible());
}

TEST_F(BatchDialogTest, CdBatchTakesTheDisc_sTracksByNumber) {
    backend_.folders["D:/"] = {"Track02.cda", "Track01.cda", "info.txt"};
    backend_.files["D:/Track01.cda"] = WavInfo(44100, 2, 500);
    backend_.files["D:/Track02.cda"] = WavInfo(44100, 2, 500);
    backend_.files["D:/Track03.cda"] = WavInfo(44100, 2, 500);
    backend_.folders["D:/"].push_back("Track03.cda");
    backend_.ticked = {1, 3};
    ProgressDialog d(nullptr, std::string("D:/"), true);
    RunToEnd(d);
    EXPECT_EQ(StartedInputs(), (std::vector<std::string>{"D:/Track01.cda", "D:/Track03.cda"}));
}

// The compression line names the format the batch writes, not uncompressed WAV.
TEST_F(BatchDialogTest, ParallelBatchShowsItsFormatsCompression) {
    settings::WriteOption("BJobs", 2);
    settings::WriteOption("BOutFormat", kFormatFlac);
    backend_.folders["/in/"] = {"a.wav", "b.wav"};
    for (const char* f : {"/in/a.wav", "/in/b.wav"}) backend_.files[f] = WavInfo(44100, 2, 600000);
    backend_.jobMs = 60000;
    ProgressDialog d(nullptr, std::nullopt, true);
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return backend_.starts.size() == 2; }, 5000));
    EXPECT_EQ(d.findChild<QLabel*>("compression")->text(),
              QStringLiteral("壓縮: 無損壓縮 (FLAC), 壓縮等級 5"));
    d.findChild<QPushButton*>("stop")->click();
}

// Two jobs at once: both shown with their own figures, both stopped by one press.
TEST_F(BatchDialogTest, RunsJobsSideBySideAndStopEndsThemAll) {
    settings::WriteOption("BJobs", 2);
    backend_.folders["/in/"] = {"a.wav", "b.wav", "c.wav"};
    for (const char* f : {"/in/a.wav", "/in/b.wav", "/in/c.wav"})
        backend_.files[f] = WavInfo(44100, 2, 600000);
    backend_.jobMs = 60000;
    ProgressDialog d(nullptr, std::nullopt, true);
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return backend_.starts.size() == 2; }, 5000));
    EXPECT_EQ(d.Width(), 2u);
    d.Tick();
    EXPECT_EQ(d.findChild<QLabel*>("inFlight0")->text(), QStringLiteral("a.wav"));
    EXPECT_EQ(d.findChild<QLabel*>("inFlight1")->text(), QStringLiteral("b.wav"));
    EXPECT_EQ(d.findChild<QLabel*>("count")->text(), QStringLiteral("已處理 0 / 3 個檔案"));
    d.findChild<QPushButton*>("stop")->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(backend_.starts.size(), 2u);
    // Each cut-short file is named with how much it holds; c.wav was never begun.
    ASSERT_EQ(MessageTexts().size(), 1u);
    const std::string t = MessageTexts()[0];
    for (const char* f : {"/out/a.wav", "/out/b.wav"})
        EXPECT_NE(t.find(std::string("已停止：") + f + " 只含前 00:0"), std::string::npos) << t;
    EXPECT_NE(t.find("（完整應為 10:00）"), std::string::npos) << t;
    EXPECT_NE(t.find("尚有 1 個檔案未轉換"), std::string::npos) << t;
}

// The real engine: files converted side by side come out as they do one after another.
TEST_F(BatchDialogTest, TheParallelBatchWritesWhatTheSerialBatchWrites) {
    SetBackend(nullptr);
    const std::filesystem::path in = dir_ / "in";
    std::filesystem::create_directories(in);
    const std::pair<std::uint32_t, std::uint16_t> formats[] = {
        {22050, 1}, {44100, 2}, {32000, 2}, {48000, 1}, {44100, 1}};
    int n = 0;
    for (const auto& [rate, channels] : formats) {
        std::vector<std::int16_t> samples(rate * channels * 2 / 5);
        for (std::size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<std::int16_t>((i * (37 + 11 * n)) % 20000 - 10000);
        tralux::test::WriteFile(in / ("f" + std::to_string(n++) + ".wav"),
                                tralux::test::SimpleWav(samples, channels, rate));
    }
    settings::WriteOptionText("BInDir", in.string());
    settings::WriteOption("BOutFormat", kFormatMp3);
    for (const char* run : {"serial", "parallel"}) {
        settings::WriteOption("BJobs", std::string(run) == "serial" ? 1 : 3);
        std::filesystem::create_directories(dir_ / run);
        settings::WriteOptionText("BOut", (dir_ / run).string() + "/");
        ProgressDialog d(nullptr, std::nullopt, true);
        RunToEnd(d);
        EXPECT_EQ(d.Report().written.size(), 5u) << run;
        EXPECT_TRUE(d.Report().failed.empty()) << run;
    }
    for (int i = 0; i < n; ++i) {
        const std::string name = "f" + std::to_string(i) + ".mp3";
        const tralux::test::Bytes serial = tralux::test::ReadFile(dir_ / "serial" / name);
        EXPECT_GT(serial.size(), 1000u) << name;
        EXPECT_TRUE(serial == tralux::test::ReadFile(dir_ / "parallel" / name)) << name;
    }
}

TEST_F(BatchDialogTest, SingleConversionStartsOnShowAndReportsAFailedStart) {
    Ui().outputFolder = "/out";
    backend_.files["/in/a.wav"] = WavInfo(44100, 2, 500);
    {
        ProgressDialog d(nullptr, std::string("/in/a.wav"));
        d.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !backend_.starts.empty(); }, 5000));
        EXPECT_EQ(backend_.starts[0].output, "/out/a.wav");
        EXPECT_EQ(backend_.starts[0].mode, kModeConvert);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, 5000));
    }
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"已完成：/out/a.wav\n"});
    messages_.Clear();
    // An input shorter than its header: written, and the summary says how much it held.
    StreamInfo cut = WavInfo(44100, 2, 1700);
    cut.DeclaredDurationMs = 3000;
    backend_.files["/in/cut.wav"] = cut;
    Engine().StartMs.store(0);
    Engine().PositionMs.store(1700.0);
    {
        ProgressDialog d(nullptr, std::string("/in/cut.wav"));
        d.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, 5000));
    }
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"已完成：/out/cut.wav\n\n/in/cut.wav："
                                                       "輸入檔提早結束（檔頭標示 3.000 秒），"
                                                       "已轉換 1.700 秒\n"});
    messages_.Clear();
    // A file failure the engine showed (a full disk, the file removed) is no success.
    backend_.failFileText = "寫入檔案錯誤: /out/a.wav: No space left on device";
    {
        ProgressDialog d(nullptr, std::string("/in/a.wav"));
        d.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, 5000));
        EXPECT_TRUE(d.Report().written.empty());
    }
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_EQ(MessageTexts()[0].find("已完成："), std::string::npos) << MessageTexts()[0];
    EXPECT_NE(MessageTexts()[0].find("No space left on device"), std::string::npos)
        << MessageTexts()[0];
    backend_.failFileText.clear();
    messages_.Clear();
    ProgressDialog failing(nullptr, std::string("/in/missing.wav"));
    failing.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !failing.isVisible(); }, 5000));
    EXPECT_EQ(backend_.starts.size(), 3u);
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find("/in/missing.wav：無法讀取，檔案或資料夾不存在"),
              std::string::npos);
}

TEST_F(BatchDialogTest, TheSingleDialogShowsThisInputsLengthAndNamesTheOutput) {
    Ui().outputFolder = "/out";
    Engine().OutputFormat.store(kFormatMp3);
    Engine().DurationMs.store(360000);  // the previous input's
    backend_.files["/in/long.wav"] = WavInfo(44100, 2, 65000);
    backend_.jobMs = 60000;
    ProgressDialog d(nullptr, std::string("/in/long.wav"));
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !backend_.starts.empty(); }, 5000));
    QStringList texts;
    for (const QLabel* l : d.findChildren<QLabel*>()) texts << l->text();
    const QString all = texts.join(QLatin1Char('|'));
    EXPECT_TRUE(all.contains(QStringLiteral("結束時間: 01:05"))) << all.toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("long.mp3"))) << all.toStdString();
    EXPECT_FALSE(all.contains(QStringLiteral("long.wav ...."))) << all.toStdString();
    d.Stop();
}

TEST(DriveChoice, FirstDriveSelectedAndOkWorksAtOnce) {
    App();
    cd::SetCdDriveSourceForTesting({[] {
                                        return std::vector<cd::CdDriveSlot>{
                                            {'D', "/dev/sr0", false},
                                            {'E', "/discs/album.cue", true}};
                                    },
                                    nullptr});
    DriveChoiceDialog d(nullptr, {"D:/", "E:/", "F:/"}, 0);
    cd::SetCdDriveSourceForTesting({});
    EXPECT_EQ(d.windowTitle(), QStringLiteral("選擇 CD 光碟機... "));
    ASSERT_EQ(d.Combo()->count(), 3);
    EXPECT_EQ(d.Combo()->itemText(0), QStringLiteral("光碟機 D:（/dev/sr0）"));
    EXPECT_EQ(d.Combo()->itemText(1), QStringLiteral("光碟機 E:（映像檔 /discs/album.cue）"));
    EXPECT_EQ(d.Combo()->itemText(2), QStringLiteral("光碟機 F:/"));  // gone meanwhile
    EXPECT_FALSE(d.Combo()->itemIcon(0).isNull());
    EXPECT_EQ(d.Combo()->currentIndex(), 0);
    EXPECT_TRUE(d.OkButton()->isEnabled());
    d.Combo()->setCurrentIndex(1);
    d.OkButton()->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.Chosen(), 1);
}

TEST(DriveChoice, EscapeIsACancel) {
    App();
    QTimer::singleShot(50, [] {
        if (QWidget* w = QApplication::activeModalWidget()) QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(RunDriveChoiceDialog(nullptr, {"D:/", "E:/"}, 0), std::nullopt);
    QTimer::singleShot(50, [] {
        if (QWidget* w = QApplication::activeModalWidget())
            w->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    });
    EXPECT_EQ(RunDriveChoiceDialog(nullptr, {"D:/", "E:/"}, 0), std::nullopt);
}

TEST(About, BuildDateAndHomePage) {
    App();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[A-Z][a-z]{2} [ 123][0-9] [0-9]{4}$"))
                    .match(BuildDateText())
                    .hasMatch())
        << BuildDateText().toStdString();
    EXPECT_TRUE(AboutText().startsWith(QStringLiteral("Quorvatix Tralux 2.011 \n BLD ")));
    EXPECT_TRUE(AboutText().endsWith(QLatin1Char(' ')));
    EXPECT_EQ(ProductPageUrl().path(), QStringLiteral("/Products/Tralux/index.asp"));
    EXPECT_TRUE(ProductPageUrl().host().endsWith(QStringLiteral(".example.com")));
    AboutBox box(nullptr);
    EXPECT_EQ(box.findChild<QPushButton*>(QStringLiteral("visitHome"))->text(),
              QStringLiteral("拜訪 Quorvatix Tralux 首頁"));
}

TEST(QtNotifierTest, AWorkerThreadNeverWaitsForTheUser) {
    App();
    QtNotifier notifier;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        notifier.Show(Message{"File I/O Error: disk full", "File error", MessageIcon::Error});
        returned.store(true);
    });
    worker.join();  // would hang if the worker waited for the box to be closed
    EXPECT_TRUE(returned.load());
    // The box appears on the GUI thread once events are processed.
    QString seen;
    QTimer::singleShot(50, [&] {
        if (auto* box = QApplication::activeModalWidget()) {
            seen = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))->text();
            box->close();
        }
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !seen.isEmpty(); }, 3000));
    EXPECT_EQ(seen, QStringLiteral("File I/O Error: disk full"));
}

QString ScreenshotDir() {
    const QString dir = QStringLiteral(TRALUX_BINARY_DIR "/screenshots/") +
                        qEnvironmentVariable("QT_SCALE_FACTOR", "1") + QStringLiteral("x");
    QDir().mkpath(dir);
    return dir;
}

class WindowScreensBatch : public BatchDialogTest {};

// The batch dialog with two files in flight, each at its own point.
TEST_F(WindowScreensBatch, TwoFilesInFlight) {
    settings::WriteOption("BJobs", 2);
    settings::WriteOption("BOutFormat", kFormatMp3);
    settings::WriteOptionText("BOut", "/home/使用者/音樂/");
    const char* names[] = {"01 夏天的第一場雨.wav", "02 遠方的你（現場版，2019 年台北小巨蛋）.wav",
                           "03 城市裡的星星.wav"};
    backend_.folders["/in/"] = {names[0], names[1], names[2]};
    for (const char* n : names) backend_.files[std::string("/in/") + n] = WavInfo(44100, 2, 240000);
    backend_.jobMsOf[std::string("/in/") + names[0]] = 2500;
    backend_.jobMs = 8000;
    ProgressDialog d(nullptr, std::nullopt, true);
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return backend_.starts.size() == 2; }, 5000));
    QTest::qWait(1200);
    d.Tick();
    d.adjustSize();
    QApplication::processEvents();
    EXPECT_GE(d.width(), d.minimumSizeHint().width());
    EXPECT_TRUE(d.grab().save(ScreenshotDir() + "/batch_in_flight.png"));
    d.Stop();
}

// Pictures of the window's own dialogs, to be looked at: <build>/screenshots/<scale>x/.
TEST(WindowScreens, QuestionSummaryAndDriveChoice) {
    App();
    const QString dir = QStringLiteral(TRALUX_BINARY_DIR "/screenshots/") +
                        qEnvironmentVariable("QT_SCALE_FACTOR", "1") + QStringLiteral("x");
    QDir().mkpath(dir);
    auto shoot = [&](QWidget* w, const char* name) {
        w->show();
        w->adjustSize();
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
        EXPECT_TRUE(w->grab().save(dir + "/" + name + ".png")) << name;
        w->hide();
    };
    const auto path = std::filesystem::temp_directory_path() / "林小雨 - 夏天的第一場雨.mp3";
    std::ofstream(path) << "x";
    ExistingOutputDialog question(nullptr, path.string(), true);
    shoot(&question, "existing_output");
    std::filesystem::remove(path);
    // A name with control bytes stays on its line, its size and date still read from the file.
    const auto odd = std::filesystem::temp_directory_path() / "壞\x1b[31m\n第二行\r.mp3";
    std::ofstream(odd) << "x";
    ExistingOutputDialog oddQuestion(nullptr, odd.string(), true);
    shoot(&oddQuestion, "existing_output_control_name");
    bool shown = false;
    for (const QLabel* l : oddQuestion.findChildren<QLabel*>())
        shown |= l->text().contains(QStringLiteral("壞\\x1b[31m\\n第二行\\r.mp3\n（"));
    EXPECT_TRUE(shown);
    std::filesystem::remove(odd);
    QMessageBox markup(QMessageBox::Critical, QStringLiteral("x"), QStringLiteral("<b>x</b>.wav"));
    PrepareMessageBox(markup);
    EXPECT_EQ(markup.textFormat(), Qt::PlainText);
    std::vector<std::string> existing;
    for (const char* n : {"01 夏天的第一場雨", "02 遠方的你", "03 城市裡的星星", "04 慢慢走",
                          "05 海邊的午後", "06 回家的路", "07 再見了，老朋友", "08 晚安"})
        existing.push_back(std::string("/home/使用者/音樂/") + n + ".mp3");
    ExistingOutputsDialog once(nullptr, existing);
    shoot(&once, "existing_outputs_once");
    models::RunReport parallel;
    parallel.written = {"/home/使用者/音樂/01 夏天的第一場雨.mp3"};
    parallel.failed = {{"/home/使用者/音樂/05 海邊的午後.mp3",
                        "File I/O Error: disk full; the unfinished file was removed"}};
    parallel.stopped = true;
    parallel.stoppedFiles = {{"/home/使用者/音樂/02 遠方的你.mp3", 51000, 240000},
                             {"/home/使用者/音樂/03 城市裡的星星.mp3", 12000, 198000}};
    parallel.notStarted = 3;
    QMessageBox parallelSummary(
        QMessageBox::Critical, QStringLiteral("批次轉換"),
        QString::fromStdString(models::SummaryText(parallel, "/home/使用者/音樂/")));
    PrepareMessageBox(parallelSummary);
    shoot(&parallelSummary, "parallel_summary");

    models::RunReport r;
    r.written = {"/home/使用者/音樂/01 夏天的第一場雨.mp3", "/home/使用者/音樂/02 遠方的你.mp3"};
    r.skipped = {{"/home/使用者/音樂/03 城市裡的星星.mp3", "檔案已存在，保留原檔"}};
    r.failed = {{"/home/使用者/下載/壞掉的檔案.wav", "未知的檔案格式"}};
    r.stopped = true;
    r.stoppedPath = "/home/使用者/音樂/04 慢慢走.mp3";
    r.stoppedHeldMs = 51000;
    r.stoppedWantedMs = 360000;
    r.notStarted = 3;
    r.cut = {{"/home/使用者/下載/只下載一半.wav", models::CutInputReason(183000, 91500)}};
    QMessageBox summary(QMessageBox::Critical, QStringLiteral("批次轉換"),
                        QString::fromStdString(models::SummaryText(r, "/home/使用者/音樂/")));
    PrepareMessageBox(summary);
    shoot(&summary, "run_summary");

    cd::SetCdDriveSourceForTesting({[] {
                                        return std::vector<cd::CdDriveSlot>{
                                            {'D', "/dev/sr0", false},
                                            {'E', "/home/使用者/光碟/專輯.cue", true}};
                                    },
                                    nullptr});
    DriveChoiceDialog drives(nullptr, {"D:/", "E:/"}, 1);
    cd::SetCdDriveSourceForTesting({});
    shoot(&drives, "drive_choice");
    AboutBox about(nullptr);
    shoot(&about, "about");
    // A CD-information failure as the lookup shows it (a plain information box).
    QMessageBox network(QMessageBox::Information, QStringLiteral("Quorvatix Tralux"),
                        QStringLiteral("網際網路錯誤! CDDB 伺服器 cddb.example.org:80 "
                                       "(http://cddb.example.org/~cddb/cddb.cgi): 伺服器拒絕連線。"
                                       "系統訊息: Failed to connect to cddb.example.org port 80 "
                                       "after 3 ms: Couldn't connect to server (Connection "
                                       "refused)"));
    WidenLongMessage(network);
    shoot(&network, "cddb_network_failure");
}

}  // namespace
}  // namespace tralux::app::test
