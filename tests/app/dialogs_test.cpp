#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include "app/window/about_box.h"
#include "app/window/drive_dialog.h"
#include "app/window/progress_dialog.h"
#include "app/window/qt_notifier.h"
#include "app/window/ui_config.h"
#include "app_fixture.h"

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

TEST_F(BatchDialogTest, AFolderWithoutMatchingFilesClosesAtTheFirstTick) {
    backend_.folders["/in/"] = {"notes.txt"};
    ProgressDialog d(nullptr, std::nullopt, true);
    RunToEnd(d);
    EXPECT_TRUE(d.Inputs().empty());
    EXPECT_TRUE(backend_.starts.empty());
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
    // t.cda would overwrite t.wav before it is read; a.mpg would overwrite a.mp3's output.
    EXPECT_EQ(StartedInputs(), (std::vector<std::string>{"/in/t.wav", "/in/a.mp3"}));
    const auto texts = MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_NE(texts[0].find("/in/t.wav"), std::string::npos);
    EXPECT_NE(texts[1].find("/in/a.wav"), std::string::npos);
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
    EXPECT_EQ(backend_.reported, (std::vector<int>{104, 103, 104}));
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

TEST_F(BatchDialogTest, StopEndsTheRunningJobAndCloses) {
    backend_.folders["/in/"] = {"a.wav", "b.wav"};
    backend_.files["/in/a.wav"] = WavInfo(44100, 2, 500);
    backend_.files["/in/b.wav"] = WavInfo(44100, 2, 500);
    backend_.jobMs = 60000;
    ProgressDialog d(nullptr, std::nullopt, true);
    d.show();
    ASSERT_TRUE(QTest::qWaitFor([] { return Engine().JobRunning.load(); }, 5000));
    d.findChild<QPushButton*>()->click();
    EXPECT_FALSE(Engine().JobRunning.load());
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(backend_.starts.size(), 1u);
    EXPECT_TRUE(backend_.reported.empty());
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
    ProgressDialog failing(nullptr, std::string("/in/missing.wav"));
    failing.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !failing.isVisible(); }, 5000));
    EXPECT_EQ(backend_.reported, std::vector<int>{103});
}

TEST(DriveChoice, FirstDriveSelectedAndOkWorksAtOnce) {
    App();
    DriveChoiceDialog d(nullptr, {"D:/", "E:/"}, 0);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("選擇 CD 光碟機... "));
    ASSERT_EQ(d.Combo()->count(), 2);
    EXPECT_EQ(d.Combo()->itemText(1), QStringLiteral("CD-Drive E:/"));
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

}  // namespace
}  // namespace tralux::app::test
