// The window program on a real X server: start it with a WAV, press Play and Convert with the
// mouse at the hot rectangles, check the file the engine wrote, and keep screenshots.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QProgressBar>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "app/core/layout.h"
#include "app/settings/settings.h"
#include "app/window/backend.h"
#include "app/window/drive_dialog.h"
#include "app/window/main_window.h"
#include "app/window/existing_output_dialog.h"
#include "app/window/progress_dialog.h"
#include "app/window/startup.h"
#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "engine/playback/fake_wave_out.h"
#include "engine/playback/playback.h"
#include "platform/notify/notifier.h"
#include "support/wav_builder.h"

namespace tralux::app {
namespace {

namespace fs = std::filesystem;

std::vector<std::int16_t> Music(std::uint32_t rate, int seconds) {
    // A chord with a slow beat, so the spectrum has something to show.
    std::vector<std::int16_t> s;
    const std::size_t frames = static_cast<std::size_t>(rate) * static_cast<std::size_t>(seconds);
    s.reserve(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const double env = 0.55 + 0.45 * std::sin(2 * M_PI * 2 * t);
        const double v =
            env * (0.30 * std::sin(2 * M_PI * 110 * t) + 0.18 * std::sin(2 * M_PI * 440 * t) +
                   0.12 * std::sin(2 * M_PI * 1760 * t) + 0.06 * std::sin(2 * M_PI * 7040 * t));
        const auto x = static_cast<std::int16_t>(v * 30000);
        s.push_back(x);
        s.push_back(x);
    }
    return s;
}

// A 16-bit stereo WAV file, header written field by field.
void WriteWav(const fs::path& path, const std::vector<std::int16_t>& samples, std::uint32_t rate) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    auto u32 = [&](std::uint32_t v) {
        const char b[4] = {static_cast<char>(v), static_cast<char>(v >> 8),
                           static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
        f.write(b, 4);
    };
    auto u16 = [&](std::uint16_t v) {
        const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
        f.write(b, 2);
    };
    const auto data = static_cast<std::uint32_t>(samples.size() * 2);
    f.write("RIFF", 4);
    u32(36 + data);
    f.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(rate);
    u32(rate * 4);
    u16(4);
    u16(16);
    f.write("data", 4);
    u32(data);
    for (std::int16_t s : samples) u16(static_cast<std::uint16_t>(s));
}

QPoint Centre(int control) {
    const HotRect& r = SkinHotRects()[static_cast<std::size_t>(control)];
    return {r.CenterX(), r.CenterY()};
}

class EndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "tralux";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        ApplyAppStyle(*app_);
    }
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tralux_e2e_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "config");
        fs::create_directories(dir_ / "out");
        shots_ = fs::path(TRALUX_BINARY_DIR) / "screenshots";
        fs::create_directories(shots_);
        int code = 0;
        ASSERT_TRUE(StartUp(code));
        settings::SetConfigRoot(dir_ / "config");
        settings::SetApplicationName("tralux");
        settings::WriteOptionText("BOut", (dir_ / "out").string() + "/");
        SetNotifier(&messages_);
        // Accept the settings dialogs the flows open; progress dialogs run by themselves.
        connect_ = new QTimer();
        QObject::connect(connect_, &QTimer::timeout, [this] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!d || dynamic_cast<ProgressDialog*>(d)) return;
            if (auto* drives = dynamic_cast<DriveChoiceDialog*>(d)) {
                // Image drives are lettered after the machine's own drives.
                drives->Combo()->setCurrentIndex(drives->Combo()->count() - 1);
                drives->OkButton()->click();
                return;
            }
            // No flow here expects a message box: each one is a failure, named in TearDown.
            if (auto* box = qobject_cast<QMessageBox*>(d))
                boxes_.push_back(box->text().toStdString());
            // Later, from an event of its own: accepting may open a further box of its own.
            QTimer::singleShot(0, d, [d] { d->accept(); });
        });
        connect_->start(100);
    }
    void TearDown() override {
        delete connect_;
        for (const std::string& b : boxes_) ADD_FAILURE() << "message box: " << b;
        WaitForJob();
        SetNotifier(nullptr);
        settings::SetConfigRoot({});
        fs::remove_all(dir_);
    }
    void Save(QWidget* w, const char* name) {
        const QPixmap shot = w->grab();
        ASSERT_FALSE(shot.isNull());
        EXPECT_TRUE(shot.save(QString::fromStdString((shots_ / name).string())));
    }

    static QApplication* app_;
    fs::path dir_, shots_;
    RecordingNotifier messages_;
    QTimer* connect_ = nullptr;
    std::vector<std::string> boxes_;
};
QApplication* EndToEnd::app_ = nullptr;

TEST_F(EndToEnd, StartWithAWavPlayAndConvertByMouse) {
    using namespace tralux::test;
    const auto samples = Music(44100, 20);
    const fs::path wav = dir_ / "tone.wav";
    WriteWav(wav, samples, 44100);

    {
        auto empty = CreateMainWindow("");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(empty.get()));
        Save(empty.get(), "tralux-empty.png");
    }

    // As `tralux FILE` starts.
    auto window = CreateMainWindow(wav.string());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    ASSERT_EQ(window->InputPath(), wav.string());
    EXPECT_EQ(window->LengthMs(), 20000u);

    // Play: the preview either runs or the engine says why it cannot.
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kPlay));
    QTest::qWait(300);
    const bool previewRuns = Engine().JobRunning.load();
    ::testing::Test::RecordProperty("preview", previewRuns ? "playing" : "no device");
    if (previewRuns) {
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kPlay));
        ASSERT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 5000));
    } else {
        // No sound device here: the engine's reason is shown, nothing pretends to play.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !messages_.Messages().empty(); }, 3000));
        EXPECT_NE(messages_.Messages()[0].text.find(ErrorCodeText(kErrNoSoundDevice)),
                  std::string::npos)
            << messages_.Messages()[0].text;
    }
    messages_.Clear();

    // Play again on a sound device that plays in real time: the spectrum and the time move.
    test::FakeWaveOut device;
    SetWaveOutForTesting(&device);
    std::atomic<bool> pacing{true};
    std::thread clock([&] {
        while (pacing.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));  // one buffer's duration
            device.playedFrames += 44100 / 4;
            device.CompleteOldest();
        }
    });
    const HotRect& pos = SkinHotRects()[kPosition];
    QTest::mouseClick(window.get(), Qt::LeftButton, {},
                      QPoint(pos.left + pos.Width() * 3 / 10, pos.CenterY()));
    const std::uint64_t from = window->PositionMs();
    EXPECT_GT(from, 5000u);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kPlay));
    EXPECT_TRUE(QTest::qWaitFor([] { return Engine().ClockOriginMs.load() != 0; }, 5000));
    QTest::qWait(1500);
    EXPECT_TRUE(window->PreviewPlaying());
    EXPECT_GT(window->PositionMs(), from + 500);
    const auto spectrum = window->Spectrum();
    EXPECT_TRUE(std::any_of(spectrum.begin(), spectrum.end(), [](double v) { return v != 0.0; }));
    Save(window.get(), "tralux-playing.png");
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kPlay));
    EXPECT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 5000));
    pacing.store(false);
    clock.join();
    WaitForPlaybackClosed();
    SetWaveOutForTesting(nullptr);

    // Convert to WAV: the progress dialog runs the job and closes.
    Engine().OutputFormat.store(kFormatWav);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kConvert));
    ASSERT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 60000));
    const fs::path out = dir_ / "out" / "tone.wav";
    ASSERT_TRUE(fs::exists(out)) << "messages: " << messages_.Messages().size();
    const Bytes bytes = ReadFile(out);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(Get32(bytes, 4), bytes.size() - 8);
    // Twenty seconds of 16-bit stereo at the input's rate.
    EXPECT_GE(bytes.size(), 20u * 44100 * 4);
    EXPECT_LT(bytes.size(), 20u * 44100 * 4 + 4096);
    ASSERT_EQ(messages_.Messages().size(), 1u);
    EXPECT_EQ(messages_.Messages()[0].text, "已完成：" + out.string() + "\n");
    messages_.Clear();

    // Converting again asks first: "skip" leaves the file as it was, "keep both" writes beside it.
    const auto before = fs::last_write_time(out);
    models::ExistingAnswer answer = models::ExistingAnswer::Skip;
    int asked = 0;
    SetExistingOutputQuestion([&](QWidget*, const std::string& path, bool offerAll) {
        ++asked;
        EXPECT_EQ(path, out.string());
        EXPECT_FALSE(offerAll);
        return models::ExistingReply{answer, false};
    });
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kConvert));
    ASSERT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 60000));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(fs::last_write_time(out), before);
    EXPECT_EQ(ReadFile(out), bytes);
    answer = models::ExistingAnswer::KeepBoth;
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kConvert));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(dir_ / "out" / "tone (2).wav"); }, 60000));
    ASSERT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 60000));
    EXPECT_EQ(ReadFile(out), bytes);
    EXPECT_EQ(fs::file_size(dir_ / "out" / "tone (2).wav"), bytes.size());
    // "Replace" reaches the job: the file is written anew, not refused as taken.
    messages_.Clear();
    answer = models::ExistingAnswer::Replace;
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kConvert));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !messages_.Messages().empty(); }, 60000));
    SetExistingOutputQuestion(nullptr);
    EXPECT_EQ(messages_.Messages().back().text, "已完成：" + out.string() + "\n");
    EXPECT_EQ(ReadFile(out), bytes);
}

TEST_F(EndToEnd, ProgressDialogScreenshot) {
    using namespace tralux::test;
    // Long enough that the dialog shows a few ticks of an MP3 encoding.
    const fs::path wav = dir_ / "long.wav";
    WriteWav(wav, Music(44100, 240), 44100);
    auto window = CreateMainWindow(wav.string());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    Engine().OutputFormat.store(kFormatMp3);
    settings::WriteOption("MP3BitRate", 128);
    bool saved = false;
    QTimer shot;
    QObject::connect(&shot, &QTimer::timeout, [&] {
        auto* d = dynamic_cast<ProgressDialog*>(QApplication::activeModalWidget());
        if (!d || saved) return;
        auto* bar = d->findChild<QProgressBar*>();
        if (bar && bar->value() > 0) {
            Save(d, "tralux-progress.png");
            saved = true;
            d->Stop();
        }
    });
    shot.start(50);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kConvert));
    ASSERT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 120000));
    EXPECT_TRUE(saved);
    Engine().OutputFormat.store(kFormatWav);
}

// A two-track disc image of two seconds each (raw 16-bit stereo sectors behind a CUE sheet) as
// the last CD drive, ripped to WAV without asking any server.
fs::path UseDiscImage(const fs::path& dir) {
    const fs::path bin = dir / "disc.bin", cue = dir / "disc.cue";
    {
        std::ofstream f(bin, std::ios::binary);
        const auto music = Music(44100, 4);  // 300 sectors
        for (std::int16_t s : music) {
            const char b[2] = {static_cast<char>(s), static_cast<char>(s >> 8)};
            f.write(b, 2);
        }
        std::ofstream c(cue);
        c << "FILE \"disc.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
             "  TRACK 02 AUDIO\n    INDEX 01 00:02:00\n";
    }
    ::setenv("TRALUX_CD_IMAGES", cue.c_str(), 1);
    ::setenv("TRALUX_CACHE_DIR", dir.c_str(), 1);
    settings::WriteProfileNumber("CDDB", "NeverUseCDDB", 1);  // no network in tests
    settings::WriteOption("BOutFormat", 0);
    settings::WriteOption("BAQ", 0);
    return bin;
}

std::vector<fs::path> Wavs(const fs::path& dir) {
    std::vector<fs::path> wavs;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().extension() == ".wav") wavs.push_back(e.path());
    std::sort(wavs.begin(), wavs.end());
    return wavs;
}

TEST_F(EndToEnd, RipCdFromAnImageDrive) {
    const fs::path bin = UseDiscImage(dir_);
    auto window = CreateMainWindow("");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    const std::vector<std::string> roots = CurrentBackend().CdDriveRoots();
    ASSERT_FALSE(roots.empty());
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kRipCd));
    ASSERT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 60000));
    ::unsetenv("TRALUX_CD_IMAGES");
    ::unsetenv("TRALUX_CACHE_DIR");
    EXPECT_EQ(window->InputPath(), roots.back() + "Track01.cda");
    // Both tracks ripped to WAV files of two seconds each.
    const std::vector<fs::path> wavs = Wavs(dir_ / "out");
    ASSERT_EQ(wavs.size(), 2u) << "messages: " << messages_.Messages().size()
                               << (messages_.Messages().empty()
                                       ? ""
                                       : " " + messages_.Messages()[0].text);
    // Two seconds each, the disc's bytes in order.
    const test::Bytes disc = test::ReadFile(bin);
    const std::size_t half = 150 * 2352;
    EXPECT_TRUE(test::WavData(test::ReadFile(wavs[0])) ==
                test::Bytes(disc.begin(), disc.begin() + half));
    EXPECT_TRUE(test::WavData(test::ReadFile(wavs[1])) ==
                test::Bytes(disc.begin() + half, disc.end()));
    // Only the closing summary.
    ASSERT_EQ(messages_.Messages().size(), 1u);
    EXPECT_NE(messages_.Messages()[0].text.find("已完成 2 個檔案"), std::string::npos)
        << messages_.Messages()[0].text;
}

// Stop in the middle of the first track of the batch, with the real engine reading a slow
// drive: the track keeps what was read as a playable file, and no later track is started.
TEST_F(EndToEnd, StoppingTheCdBatchKeepsThePartialTrack) {
    const fs::path bin = UseDiscImage(dir_);
    ::setenv("TRALUX_CD_JITTER", "shift=0,speed=1", 1);  // 2 s a track
    auto window = CreateMainWindow("");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QElapsedTimer since;
    bool stopped = false;
    QTimer stopper;
    QObject::connect(&stopper, &QTimer::timeout, [&] {
        auto* d = dynamic_cast<ProgressDialog*>(QApplication::activeModalWidget());
        if (!d || stopped) return;
        if (!since.isValid()) since.start();
        if (since.elapsed() < 600) return;
        stopped = true;
        d->Stop();
    });
    stopper.start(20);
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, Centre(kRipCd));
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopped && !Engine().JobRunning.load(); }, 60000));
    WaitForJob();
    ::unsetenv("TRALUX_CD_JITTER");
    ::unsetenv("TRALUX_CD_IMAGES");
    ::unsetenv("TRALUX_CACHE_DIR");
    const std::vector<fs::path> wavs = Wavs(dir_ / "out");
    ASSERT_EQ(wavs.size(), 1u);
    const test::Bytes file = test::ReadFile(wavs[0]);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(test::Get32(file, 4), file.size() - 8);
    const test::Bytes pcm = test::WavData(file);
    const test::Bytes disc = test::ReadFile(bin);
    EXPECT_GT(pcm.size(), 0u);
    EXPECT_LT(pcm.size(), 150u * 2352);
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), disc.begin()));
}

}  // namespace
}  // namespace tralux::app
