#include <QDir>
#include <QMimeData>
#include <QTest>
#include <QUrl>

#include "app/core/layout.h"
#include "app/core/slider.h"
#include "app/window/main_window.h"
#include "engine/dsp/analysis.h"
#include "app_fixture.h"

namespace tralux::app::test {
namespace {

QPoint Centre(int control) {
    const HotRect& r = SkinHotRects()[static_cast<std::size_t>(control)];
    return {r.CenterX(), r.CenterY()};
}

class MainWindowTest : public WindowTestBase {
protected:
    void SetUp() override {
        WindowTestBase::SetUp();
        WindowDialogs d;
        d.conversionSettings = [this](QWidget*) {
            ++conversionDialogs;
            return confirm;
        };
        d.batchSettings = [this](QWidget*) {
            ++batchDialogs;
            return confirm;
        };
        d.cdRip = [this](QWidget*, const std::string& root) {
            ripRoots.push_back(root);
            return confirm;
        };
        d.chooseDrive = [this](QWidget*, const std::vector<std::string>& roots) {
            ++driveChoices;
            chooserSaw = roots;
            return driveChoice;
        };
        d.openFile = [this](QWidget*, const QString&) { return openResult; };
        d.singleProgress = [this](QWidget*, const std::string& input) {
            singleRuns.push_back(input);
        };
        d.batchProgress = [this](QWidget*, const std::optional<std::string>& root) {
            batchRuns.push_back(root);
        };
        d.about = [this](QWidget*) { ++abouts; };
        d.askDropBatch = [this](QWidget*, const QString& what) {
            dropQuestions << what;
            return dropChoice;
        };
        d.batchFiles = [this](QWidget*, const std::vector<std::string>& files) {
            batchFileRuns.push_back(files);
        };
        window = std::make_unique<MainWindow>(d);
        window->show();
        backend_.files["/music/song.wav"] = WavInfo(44100, 2, 65000);
        backend_.files["/music/voice.wav"] = WavInfo(22050, 1, 3000);
    }
    void TearDown() override {
        window.reset();
        WindowTestBase::TearDown();
    }
    void Click(int control) {
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(control));
    }

    std::unique_ptr<MainWindow> window;
    bool confirm = true;
    int conversionDialogs = 0, batchDialogs = 0, driveChoices = 0, abouts = 0;
    std::optional<int> driveChoice = 0;
    std::vector<std::string> chooserSaw, ripRoots, singleRuns;
    std::vector<std::optional<std::string>> batchRuns;
    QString openResult;
    DropChoice dropChoice = DropChoice::LoadFirst;
    QStringList dropQuestions;
    std::vector<std::vector<std::string>> batchFileRuns;
};

TEST_F(MainWindowTest, ConvertAndPlayWithNothingLoadedOnlyPrompt) {
    Click(kConvert);
    Click(kPlay);
    EXPECT_EQ(conversionDialogs, 0);
    EXPECT_TRUE(singleRuns.empty());
    EXPECT_TRUE(backend_.starts.empty());
    const auto texts = MessageTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "將聲音檔案或 CD 音軌            \n拖入 Quorvatix Tralux 或按【載入】");
    EXPECT_EQ(texts[1], "將聲音檔案或 CD 音軌            \n拖入 Tralux 或按【載入】");
}

TEST_F(MainWindowTest, LoadingTakesTheInputsQualityAndStoresTheFolder) {
    openResult = QStringLiteral("/music/song.wav");
    Click(kLoad);
    EXPECT_EQ(window->InputPath(), "/music/song.wav");
    EXPECT_EQ(window->ChosenRate(), 44100);
    EXPECT_EQ(window->ChosenChannels(), 2);
    EXPECT_EQ(window->LengthMs(), 65000u);
    EXPECT_EQ(settings::ReadOptionText("BInDir"), "/music/");
    EXPECT_TRUE(window->DescriptionText().startsWith(QStringLiteral("Song")));
    // A file that cannot be read leaves the current input and reports the error.
    openResult = QStringLiteral("/music/broken.wav");
    Click(kLoad);
    EXPECT_EQ(window->InputPath(), "/music/song.wav");
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"無法開啟 /music/broken.wav\n檔案或資料夾不存在"});
}

TEST_F(MainWindowTest, ConvertRunsTheDialogThenTheProgressWithTheChosenQuality) {
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    Click(kMono);
    Click(kRate8000 + 3);  // 22050 Hz
    Click(kConvert);
    EXPECT_EQ(conversionDialogs, 1);
    ASSERT_EQ(singleRuns, std::vector<std::string>{"/music/song.wav"});
    EXPECT_EQ(Engine().OutputRate.load(), 22050u);
    EXPECT_EQ(Engine().OutputChannels.load(), 1);
    EXPECT_EQ(Engine().StartMs.load(), 0u);
    confirm = false;
    Click(kConvert);
    EXPECT_EQ(singleRuns.size(), 1u);  // cancelled: no job
}

TEST_F(MainWindowTest, RateButtonRestartsAPlayingPreviewAndOnlyRepaintsWhenStopped) {
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    Click(kRate8000 + 1);
    EXPECT_TRUE(backend_.starts.empty());
    EXPECT_EQ(window->ChosenRate(), 11025);
    Click(kPlay);
    ASSERT_EQ(backend_.starts.size(), 1u);
    EXPECT_EQ(backend_.starts[0].mode, kModePreview);
    EXPECT_EQ(backend_.starts[0].rate, 11025u);
    EXPECT_TRUE(window->PreviewPlaying());
    Click(kRate44100);
    ASSERT_EQ(backend_.starts.size(), 2u);
    EXPECT_EQ(backend_.starts[1].rate, 44100u);
    // Play again stops it.
    Click(kPlay);
    EXPECT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 2000));
    EXPECT_FALSE(Engine().JobRunning.load());
    EXPECT_EQ(backend_.starts.size(), 2u);
}

TEST_F(MainWindowTest, AFailedPreviewIsReported) {
    backend_.previewRunsUntilStopped = false;
    backend_.failJobWith = 109;
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    Click(kPlay);
    EXPECT_TRUE(QTest::qWaitFor([this] { return !backend_.reported.empty(); }, 3000));
    EXPECT_EQ(backend_.reported, std::vector<int>{109});
}

TEST_F(MainWindowTest, DroppingSeveralFilesPreviewsTheFirstReadableOne) {
    window->DropFiles({QStringLiteral("/music/broken.wav"), QStringLiteral("/music/voice.wav"),
                       QStringLiteral("/music/song.wav")});
    EXPECT_EQ(window->InputPath(), "/music/voice.wav");
    ASSERT_EQ(backend_.starts.size(), 1u);
    EXPECT_EQ(backend_.starts[0].input, "/music/voice.wav");
    EXPECT_EQ(backend_.starts[0].mode, kModePreview);
    EXPECT_TRUE(backend_.reported.empty());
}

TEST_F(MainWindowTest, DroppingSeveralFilesOrAFolderOffersABatch) {
    settings::WriteOption("BOutFormat", 1);
    settings::WriteOptionText("BOut", "/out/");
    dropChoice = DropChoice::Batch;
    window->DropFiles({QStringLiteral("/music/voice.wav"), QStringLiteral("/music/song.wav")});
    ASSERT_EQ(dropQuestions.size(), 1);
    EXPECT_TRUE(dropQuestions[0].contains(QStringLiteral("2 個檔案")))
        << dropQuestions[0].toStdString();
    EXPECT_TRUE(dropQuestions[0].contains(QStringLiteral("MP3")));
    EXPECT_TRUE(dropQuestions[0].contains(QStringLiteral("/out/")));
    ASSERT_EQ(batchFileRuns.size(), 1u);
    EXPECT_EQ(batchFileRuns[0], (std::vector<std::string>{"/music/voice.wav", "/music/song.wav"}));
    EXPECT_TRUE(window->InputPath().empty());
    // A folder: its sound files, even when it holds only one.
    backend_.folders[dir_.string()] = {"notes.txt", "b.mp3", "a.wav"};
    std::filesystem::create_directories(dir_ / "sub");
    backend_.folders[(dir_ / "sub").string()] = {"x.wav"};
    window->DropFiles({QString::fromStdString((dir_ / "sub").string())});
    ASSERT_EQ(batchFileRuns.size(), 2u);
    EXPECT_EQ(batchFileRuns[1], std::vector<std::string>{(dir_ / "sub" / "x.wav").string()});
    dropChoice = DropChoice::Cancel;
    window->DropFiles({QString::fromStdString(dir_.string())});
    EXPECT_EQ(dropQuestions.size(), 3);
    EXPECT_EQ(batchFileRuns.size(), 2u);
    EXPECT_TRUE(window->InputPath().empty());
}

TEST_F(MainWindowTest, DroppingOnlyUnreadableFilesNamesEachWithItsReason) {
    const std::string folder = dir_.string();
    window->DropFiles({QStringLiteral("/music/broken.wav"), QStringLiteral("/music/gone.wav")});
    EXPECT_TRUE(window->InputPath().empty());
    ASSERT_EQ(MessageTexts().size(), 1u);
    const std::string t = MessageTexts()[0];
    EXPECT_NE(t.find("/music/broken.wav：檔案或資料夾不存在"), std::string::npos) << t;
    EXPECT_NE(t.find("/music/gone.wav：檔案或資料夾不存在"), std::string::npos) << t;
    messages_.Clear();
    openResult = QString::fromStdString(folder);
    Click(kLoad);
    EXPECT_EQ(MessageTexts(),
              std::vector<std::string>{"無法開啟 " + folder + "\n這是資料夾，不是檔案"});
}

TEST_F(MainWindowTest, RipCdWithoutDrivesSaysSo) {
    Click(kRipCd);
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"在您的電腦上找不到光碟機 !"});
    EXPECT_EQ(driveChoices, 0);
}

TEST_F(MainWindowTest, RipCdWithOneDriveAsksNoChoiceAndRunsTheBatchOverItsRoot) {
    backend_.drives = {"D:/"};
    backend_.folders["D:/"] = {"Track01.cda"};  // a single-track disc is an audio CD too
    backend_.files["D:/Track01.cda"] = WavInfo(44100, 2, 180000);
    Click(kRipCd);
    EXPECT_EQ(driveChoices, 0);
    EXPECT_TRUE(MessageTexts().empty());
    EXPECT_EQ(window->InputPath(), "D:/Track01.cda");
    EXPECT_EQ(ripRoots, std::vector<std::string>{"D:/"});
    ASSERT_EQ(batchRuns.size(), 1u);
    EXPECT_EQ(batchRuns[0], std::optional<std::string>("D:/"));
}

TEST_F(MainWindowTest, RippingLeavesTheFolderBatchSettingsAlone) {
    settings::WriteOptionText("BInDir", "/music/");
    settings::WriteOption("BIF_WAV", 1);
    settings::WriteOption("BIF_MP3", 1);
    settings::WriteOption("BIF_CDDA", 0);
    backend_.drives = {"D:/"};
    backend_.folders["D:/"] = {"Track01.cda"};
    backend_.files["D:/Track01.cda"] = WavInfo(44100, 2, 180000);
    Click(kRipCd);
    ASSERT_EQ(batchRuns.size(), 1u);
    EXPECT_EQ(settings::ReadOptionText("BInDir"), "/music/");
    EXPECT_EQ(settings::ReadOption("BIF_WAV"), 1);
    EXPECT_EQ(settings::ReadOption("BIF_MP3"), 1);
    EXPECT_EQ(settings::ReadOption("BIF_CDDA"), 0);
}

TEST_F(MainWindowTest, ConvertFromThePositionRefusesAtTheEnd) {
    settings::WriteOption("DecodeStart", 1);
    ASSERT_TRUE(window->LoadInput("/music/voice.wav"));  // 3 s
    const HotRect& r = SkinHotRects()[kPosition];
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(r.right, r.CenterY()));
    ASSERT_GT(window->PositionMs() + 1000, window->LengthMs());
    Click(kConvert);
    EXPECT_TRUE(singleRuns.empty());
    ASSERT_EQ(MessageTexts().size(), 1u);
    EXPECT_NE(MessageTexts()[0].find("voice.wav 的結尾"), std::string::npos);
    // From the middle it runs, and the progress starts with this input's length.
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(r.CenterX(), r.CenterY()));
    Click(kConvert);
    EXPECT_EQ(singleRuns.size(), 1u);
    EXPECT_EQ(Engine().DurationMs.load(), 3000u);
    EXPECT_EQ(Engine().StartMs.load(), window->PositionMs());
}

TEST_F(MainWindowTest, RipCdWithTwoDrivesAsksAndACancelStops) {
    backend_.drives = {"D:/", "E:/"};
    backend_.folders["E:/"] = {"Track02.cda", "Track01.cda"};
    backend_.files["E:/Track01.cda"] = WavInfo(44100, 2, 1000);
    driveChoice = std::nullopt;
    Click(kRipCd);
    EXPECT_EQ(driveChoices, 1);
    EXPECT_EQ(chooserSaw, (std::vector<std::string>{"D:/", "E:/"}));
    EXPECT_TRUE(ripRoots.empty());
    EXPECT_TRUE(MessageTexts().empty());
    driveChoice = 1;
    Click(kRipCd);
    EXPECT_EQ(window->InputPath(), "E:/Track01.cda");
    EXPECT_EQ(ripRoots, std::vector<std::string>{"E:/"});
}

TEST_F(MainWindowTest, RipCdWithoutTracksAsksForAnAudioCd) {
    backend_.drives = {"D:/"};
    backend_.folders["D:/"] = {"readme.txt"};
    Click(kRipCd);
    const auto m = messages_.Messages();
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].text, "請放入音樂 CD!");
    EXPECT_EQ(m[0].caption, "更換 CD");
    EXPECT_TRUE(ripRoots.empty());
}

TEST_F(MainWindowTest, BatchRunsTheProgressOnlyAfterTheSettingsAreConfirmed) {
    confirm = false;
    Click(kBatch);
    EXPECT_EQ(batchDialogs, 1);
    EXPECT_TRUE(batchRuns.empty());
    confirm = true;
    Click(kBatch);
    ASSERT_EQ(batchRuns.size(), 1u);
    EXPECT_FALSE(batchRuns[0].has_value());
    Click(kAbout);
    EXPECT_EQ(abouts, 1);
}

TEST_F(MainWindowTest, EqualizerPressesFollowTheFaderRulesAndReachTheEngine) {
    const HotRect& band = SkinHotRects()[kFirstBand + 2];
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(band.CenterX(), band.top));
    EXPECT_EQ(window->Equalizer().levels[2], 0);
    EXPECT_EQ(Engine().EqualizerLevels[2].load(), 0);
    EXPECT_TRUE(Engine().EqualizerChanged.load());
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(band.CenterX(), band.bottom));
    EXPECT_EQ(window->Equalizer().levels[2], 99);
    // Drag the master knob down by 10 pixels.
    const HotRect& master = SkinHotRects()[kMaster];
    const int knobY = EqualizerKnobY(master, 50);
    QTest::mousePress(window.get(), Qt::LeftButton, {}, QPoint(master.CenterX(), knobY));
    QMouseEvent move(QEvent::MouseMove, QPointF(master.CenterX(), knobY + 10),
                     window->mapToGlobal(QPointF(master.CenterX(), knobY + 10)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window.get(), &move);
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, QPoint(master.CenterX(), knobY + 10));
    EXPECT_EQ(window->Equalizer().levels[10], EqualizerDragged(master, 50, 10));
    EXPECT_EQ(Engine().EqualizerLevels[10].load(), window->Equalizer().levels[10]);
    Click(kEqualizerOff);
    EXPECT_FALSE(Engine().EqualizerOn.load());
    Click(kEqualizerReset);
    for (int v : window->Equalizer().levels) EXPECT_EQ(v, 50);
    Click(kEqualizerOn);
    EXPECT_TRUE(Engine().EqualizerOn.load());
}

TEST_F(MainWindowTest, PositionSliderBeepsWithoutLengthAndSeeksWithOne) {
    Click(kPosition);
    EXPECT_EQ(window->PositionMs(), 0u);
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    const HotRect& s = SkinHotRects()[kPosition];
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(s.right, s.CenterY()));
    EXPECT_EQ(window->PositionMs(), 65000u);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(s.left, s.CenterY()));
    EXPECT_EQ(window->PositionMs(), 0u);
    // Playing from the end starts again at 0.
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(s.right, s.CenterY()));
    Click(kPlay);
    ASSERT_EQ(backend_.starts.size(), 1u);
    EXPECT_EQ(Engine().StartMs.load(), 0u);
}

TEST_F(MainWindowTest, KeysPlayAndLoad) {
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    window->activateWindow();
    window->setFocus();
    QTest::keyClick(window.get(), Qt::Key_Space);
    EXPECT_EQ(backend_.starts.size(), 1u);
    openResult = QStringLiteral("/music/voice.wav");
    QTest::keyClick(window.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(window->InputPath(), "/music/voice.wav");
}

TEST_F(MainWindowTest, EveryFaceButtonHasAKeyThatItsTipNames) {
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));  // 65 s
    window->setFocus();
    QTest::keyClick(window.get(), Qt::Key_3);
    EXPECT_EQ(window->ChosenRate(), 16000);
    QTest::keyClick(window.get(), Qt::Key_M);
    EXPECT_EQ(window->ChosenChannels(), 1);
    QTest::keyClick(window.get(), Qt::Key_0);
    EXPECT_EQ(window->ChosenRate(), 44100);
    EXPECT_EQ(window->ChosenChannels(), 2);
    QTest::keyClick(window.get(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(batchDialogs, 1);
    QTest::keyClick(window.get(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(conversionDialogs, 1);
    QTest::keyClick(window.get(), Qt::Key_F1);
    EXPECT_EQ(abouts, 1);
    QTest::keyClick(window.get(), Qt::Key_Right);
    QTest::keyClick(window.get(), Qt::Key_Right);
    EXPECT_EQ(window->PositionMs(), 10000u);
    QTest::keyClick(window.get(), Qt::Key_Left);
    EXPECT_EQ(window->PositionMs(), 5000u);
    for (int c : {kLoad, kConvert, kRipCd, kBatch, kAbout, kClose, kMinimize, kPlay,
                  kOriginalQuality, kStereo, kMono, kRate8000, kRate44100, kEqualizerOn,
                  kEqualizerOff, kEqualizerReset, kPosition})
        EXPECT_TRUE(ControlToolTip(c).contains(QStringLiteral("（"))) << c;
}

TEST_F(MainWindowTest, TabWalksTheFaceWithAMarkAndArrowsMoveAFocusedFader) {
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    window->activateWindow();
    window->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    ASSERT_TRUE(window->hasFocus());
    const QImage unmarked = window->grab().toImage();
    EXPECT_EQ(window->FocusedControl(), 0);
    QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(window->FocusedControl(), kPosition);
    EXPECT_TRUE(window->hasFocus());                // Tab stays on the face
    EXPECT_NE(window->grab().toImage(), unmarked);  // the mark is drawn
    QTest::keyClick(window.get(), Qt::Key_Backtab);
    EXPECT_EQ(window->FocusedControl(), kClose);  // round the face backwards
    for (int i = 0; i < 4; ++i) QTest::keyClick(window.get(), Qt::Key_Tab);
    EXPECT_EQ(window->FocusedControl(), kConvert);
    QDir().mkpath(QStringLiteral(TRALUX_BINARY_DIR "/screenshots"));
    window->grab().save(QStringLiteral(TRALUX_BINARY_DIR "/screenshots/main_window_focus.png"));
    QTest::keyClick(window.get(), Qt::Key_Return);  // Enter presses the focused button
    EXPECT_EQ(conversionDialogs, 1);
    // Tab on to the third band: the arrows move it, by steps, within 0..99.
    while (window->FocusedControl() != kFirstBand + 2) QTest::keyClick(window.get(), Qt::Key_Tab);
    QTest::keyClick(window.get(), Qt::Key_Down);
    EXPECT_EQ(window->Equalizer().levels[2], 52);
    EXPECT_EQ(Engine().EqualizerLevels[2].load(), 52);
    for (int i = 0; i < 8; ++i) QTest::keyClick(window.get(), Qt::Key_PageUp);
    EXPECT_EQ(window->Equalizer().levels[2], 0);
    EXPECT_EQ(window->Equalizer().levels[3], 50);
    // A click moves the focus to what was clicked.
    Click(kMono);
    EXPECT_EQ(window->FocusedControl(), kMono);
    EXPECT_TRUE(ControlToolTip(kFirstBand).contains(QStringLiteral("↑ ↓")));
    EXPECT_EQ(ControlToolTip(kLoad).count(QStringLiteral("Ctrl+O")), 1);
}

TEST_F(MainWindowTest, CloseSavesTheEqualizerAndPlacement) {
    const HotRect& band = SkinHotRects()[kFirstBand];
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(band.CenterX(), band.top));
    window->move(40, 30);
    Click(kClose);
    settings::EqualizerSettings eq;
    ASSERT_TRUE(settings::LoadEqualizer(eq));
    EXPECT_EQ(eq.levels[0], 0);
    settings::WindowPlacement p;
    ASSERT_TRUE(settings::LoadWindowPlacement(p));
    EXPECT_EQ(p.right - p.left, kFaceWidth);
    EXPECT_EQ(p.bottom - p.top, kFaceHeight);
}

TEST_F(MainWindowTest, PlacementIsRestoredOnlyOnAScreen) {
    settings::WindowPlacement p;
    p.showCmd = 1;
    p.left = 40;
    p.top = 30;
    p.right = p.left + kFaceWidth;
    p.bottom = p.top + kFaceHeight;
    settings::SaveWindowPlacement(p, false, false);
    {
        MainWindow w(WindowDialogs{});
        EXPECT_EQ(w.pos(), QPoint(40, 30));
    }
    p.left = -9000;
    p.top = -9000;
    p.right = p.left + kFaceWidth;
    p.bottom = p.top + kFaceHeight;
    settings::SaveWindowPlacement(p, false, false);
    MainWindow w(WindowDialogs{});
    EXPECT_NE(w.pos(), QPoint(-9000, -9000));
}

TEST_F(MainWindowTest, TheWindowTakesTheFacesSizeAndOutline) {
    EXPECT_EQ(window->size(), QSize(kFaceWidth, kFaceHeight));
    const QRegion mask = window->mask();
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));    // rounded corner
    EXPECT_FALSE(mask.contains(QPoint(0, 207)));  // side notch
    EXPECT_TRUE(mask.contains(QPoint(112, 160)));
    EXPECT_TRUE(mask.contains(Centre(kClose)));
    // The platform adds the display name to any other title: once is enough.
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvatix Tralux"));
    EXPECT_EQ(window->windowTitle(), QApplication::applicationDisplayName());
    QApplication::setApplicationDisplayName(QString());
}

QImage Part(QWidget* w, int control) {
    const HotRect& r = SkinHotRects()[static_cast<std::size_t>(control)];
    return w->grab(QRect(r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1)).toImage();
}

TEST_F(MainWindowTest, LoadBlinksUntilAnInputIsLoaded) {
    const QImage first = Part(window.get(), kLoad);
    bool changed = false;
    for (int i = 0; i < 8 && !changed; ++i) {
        QTest::qWait(100);
        changed = Part(window.get(), kLoad) != first;
    }
    EXPECT_TRUE(changed);
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    QTest::qWait(50);
    const QImage steady = Part(window.get(), kLoad);
    QTest::qWait(700);
    EXPECT_EQ(Part(window.get(), kLoad), steady);
}

TEST_F(MainWindowTest, HoverLightsCloseAlwaysAndConvertOnlyWithAnInput) {
    auto hover = [&](int control) {
        QTest::mouseMove(window.get(), QPoint(2, 160));  // background
        const QImage before = Part(window.get(), control);
        QMouseEvent move(QEvent::MouseMove, QPointF(Centre(control)),
                         window->mapToGlobal(QPointF(Centre(control))), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(window.get(), &move);
        return Part(window.get(), control) != before;
    };
    EXPECT_TRUE(hover(kClose));
    EXPECT_FALSE(hover(kConvert));
    ASSERT_TRUE(window->LoadInput("/music/song.wav"));
    EXPECT_TRUE(hover(kConvert));
    EXPECT_FALSE(hover(kMono));
}

TEST(Placement, TheWholeFaceGoesOntoTheScreenHoldingMostOfIt) {
    const std::vector<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    // Saved at scale 1, opened where the face sticks out at the bottom right.
    EXPECT_EQ(PlaceOnScreen(QRect(1700, 900, 400, 300), screens), QPoint(1520, 780));
    // Mostly on the second screen: there, inside it.
    EXPECT_EQ(PlaceOnScreen(QRect(1800, -50, 400, 300), screens), QPoint(1920, 0));
    EXPECT_EQ(PlaceOnScreen(QRect(100, 100, 400, 300), screens), QPoint(100, 100));
    EXPECT_EQ(PlaceOnScreen(QRect(-9000, -9000, 400, 300), screens), std::nullopt);
}

TEST(SpectrumDisplay, BandsAboveTheOutputsNyquistFrequencyStayDark) {
    const double dark = dsp::BandMagnitudeFloor();
    for (auto [rate, firstDark] :
         {std::pair{8000, 9}, std::pair{22050, 10}, std::pair{44100, 11}}) {
        std::array<double, 11> s;
        s.fill(0.0);  // what the analysis gives a band without bins
        s[0] = 0.5;
        DarkenBandsAboveNyquist(s, rate);
        EXPECT_EQ(s[0], 0.5);
        for (int i = 1; i < 11; ++i) EXPECT_EQ(s[i] == dark, i >= firstDark) << rate << " " << i;
    }
}

TEST(FileFilter, StoredFilterBecomesQtsForm) {
    EXPECT_EQ(
        QtFileFilter("聲音檔案   (*.wav;*.cda;*.mp3)|*.wav;*.cda;*.mp3|所有檔案   (*.*)|*.*||"),
        QStringLiteral("聲音檔案   (*.wav *.cda *.mp3);;所有檔案   (*.*)"));
    EXPECT_EQ(QtFileFilter("WAV 檔案   (*.wav)|*.wav||"), QStringLiteral("WAV 檔案   (*.wav)"));
}

}  // namespace
}  // namespace tralux::app::test
