// The Rip CD flow on a real X server: an image drive, the loopback CDDB server, the window's
// Rip CD control, the lookup's progress dialog, the CD ripping dialog and the batch; the files
// must be named after the server's titles and carry them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

#include "app/core/layout.h"
#include "app/dialogs/batch_dialogs.h"
#include "app/settings/settings.h"
#include "app/window/main_window.h"
#include "app/window/startup.h"
#include "cd/image_builder.h"
#include "cddb/cache.h"
#include "cddb/cddb_settings.h"
#include "cddb/engine/cd_info_provider.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/engine_state.h"
#include "engine/job/job.h"
#include "platform/notify/notifier.h"
#include "support/cddb_server.h"
#include "support/silent_server.h"

namespace tralux::app {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool Contains(const test::Bytes& bytes, const std::string& text) {
    const test::Bytes needle(text.begin(), text.end());
    return std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end()) != bytes.end();
}

TEST(RipCdEndToEnd, FilesCarryTheServersChineseTitles) {
    test::TempDir temp;
    const fs::path dir = temp.path();
    test::CddbServer server(dir / "requests.txt");
    TRALUX_REQUIRE_SERVER(server);
    ::unsetenv("http_proxy");
    test::ImageSpec layout;
    layout.tracks = {{150, true, 0, 0}, {120, true, 0, 0}, {100, true, 0, 0}};
    test::BuiltImage image = test::BuildImage(temp, layout);
    ::setenv("TRALUX_CD_IMAGES", image.cuePath.c_str(), 1);

    static int argc = 1;
    static char name[] = "tralux";
    static char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    ApplyAppStyle(app);
    int code = 0;
    ASSERT_TRUE(StartUp(code));
    settings::SetConfigRoot(dir / "config");
    settings::SetApplicationName("tralux");
    fs::create_directories(dir / "out");
    settings::EnsureOptionDefaults();
    settings::WriteOptionText("BOut", (dir / "out").string() + "/");
    cddb::SetServerForRun(server.Url("ok"));
    cddb::SetCacheFolder(dir / "cache");
    cddb::SetLookupTiming(cddb::LookupTiming{0ms, 0ms});
    RecordingNotifier messages;
    SetNotifier(&messages);

    // The user: untick the last track, rename the second and start; everything else runs.
    bool ripDialogSeen = false, resultSeen = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        // The progress dialog shows each track's verification once the track is done.
        if (auto* verify = QApplication::activeModalWidget()
                               ? QApplication::activeModalWidget()->findChild<QLabel*>("verify")
                               : nullptr;
            verify && !resultSeen && !verify->text().isEmpty()) {
            resultSeen = true;
            QApplication::activeModalWidget()->grab().save(
                QStringLiteral(TRALUX_BINARY_DIR "/screenshots/e2e_cd_rip_progress.png"));
        }
        auto* rip = dynamic_cast<CdRipDialog*>(QApplication::activeModalWidget());
        if (!rip || ripDialogSeen) return;
        ripDialogSeen = true;
        QTreeWidget* tracks = rip->Tracks();
        EXPECT_EQ(tracks->topLevelItemCount(), 3);
        if (tracks->topLevelItemCount() == 3) {
            EXPECT_EQ(tracks->topLevelItem(0)->text(0), QStringLiteral("第1首 春天的歌"));
            tracks->topLevelItem(2)->setCheckState(0, Qt::Unchecked);
            tracks->topLevelItem(1)->setText(0, QStringLiteral("改過的歌名"));
        }
        QTest::qWait(300);  // on screen long enough to be seen
        rip->grab().save(QStringLiteral(TRALUX_BINARY_DIR "/screenshots/e2e_cd_rip.png"));
        rip->findChild<QPushButton*>("start")->click();
    });
    user.start(50);

    {
        auto window = CreateMainWindow("");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        const HotRect& r = SkinHotRects()[kRipCd];
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(r.CenterX(), r.CenterY()));
        ASSERT_TRUE(QTest::qWaitFor([] { return !Engine().JobRunning.load(); }, 60000));
        WaitForJob();
    }
    user.stop();
    EXPECT_TRUE(ripDialogSeen);
    // Only the closing summary, which says where the files went.
    const auto shown = messages.Messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_NE(shown[0].text.find("已完成 2 個檔案"), std::string::npos) << shown[0].text;
    EXPECT_NE(shown[0].text.find((dir / "out").string()), std::string::npos) << shown[0].text;
    // The per-track results are checked in the summary below (the dialog may close too fast to
    // be seen polling).
    (void)resultSeen;
    // No AccurateRip server is set here: each track's result is in the same box.
    EXPECT_NE(shown[0].text.find("音軌 01: 未查詢 AccurateRip, CRC "), std::string::npos)
        << shown[0].text;
    EXPECT_NE(shown[0].text.find("音軌 02: "), std::string::npos) << shown[0].text;

    std::vector<fs::path> outputs;
    for (const auto& e : fs::directory_iterator(dir / "out")) {
        // The log and the CUE sheet are named after the disc.
        if (e.path().extension() == ".log" || e.path().extension() == ".cue") {
            EXPECT_EQ(e.path().stem().string(), "測試歌手 - 測試專輯");
            continue;
        }
        outputs.push_back(e.path());
    }
    std::sort(outputs.begin(), outputs.end());
    // The unticked track is not ripped; the others are named after their titles.
    ASSERT_EQ(outputs.size(), 2u);
    EXPECT_EQ(outputs[0].filename().string(), "01 第1首 春天的歌.wav");
    EXPECT_EQ(outputs[1].filename().string(), "02 改過的歌名.wav");
    const test::Bytes first = test::ReadFile(outputs[0]);
    const test::Bytes second = test::ReadFile(outputs[1]);
    EXPECT_TRUE(Contains(first, "第1首 春天的歌"));
    // "Artist / Album" is split into the two tags.
    EXPECT_TRUE(Contains(first, "測試歌手"));
    EXPECT_TRUE(Contains(first, "測試專輯"));
    EXPECT_FALSE(Contains(first, "測試歌手 / 測試專輯"));
    EXPECT_TRUE(Contains(first, "版權所有 2026"));
    EXPECT_TRUE(Contains(second, "改過的歌名"));  // the edit went through the cache
    EXPECT_FALSE(Contains(second, "第3首"));
    // The audio is the disc's, bit for bit.
    EXPECT_TRUE(test::WavData(first) == image.Track(0));
    EXPECT_TRUE(test::WavData(second) == image.Track(1));

    // Again with test and copy on a slow drive (2 s a track): the user types a bad AccurateRip
    // address (refused, the dialog stays), a good one and the drive's offset, then stops the
    // test read of the first track.
    ::setenv("TRALUX_CD_JITTER", "share=0,speed=1", 1);
    std::string gone;  // the address of an AccurateRip server that just went away
    {
        test::CddbServer closed(dir / "closed.txt");
        gone = "http://127.0.0.1:" + std::to_string(closed.Port());
    }
    fs::create_directories(dir / "out2");
    messages.Clear();
    QString warning;
    int stage = 0;
    std::chrono::steady_clock::time_point stopAt;
    QTimer user2;
    QObject::connect(&user2, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* rip = dynamic_cast<CdRipDialog*>(modal); rip && stage == 0) {
            stage = 1;
            rip->findChild<QLineEdit*>("output")->setText(QString::fromStdString(dir / "out2"));
            rip->findChild<QCheckBox*>("test_copy")->setChecked(true);
            rip->findChild<QLineEdit*>("accuraterip_url")->setText(QStringLiteral("ftp://x"));
            QTimer::singleShot(300, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    warning = box->text();
                    box->accept();
                }
            });
            rip->findChild<QPushButton*>("start")->click();  // refused: the box above
            EXPECT_TRUE(rip->isVisible());
            rip->findChild<QLineEdit*>("accuraterip_url")->setText(QString::fromStdString(gone));
            rip->findChild<QLineEdit*>("read_offset")->setText(QStringLiteral("+6"));
            rip->findChild<QPushButton*>("start")->click();
            return;
        }
        auto* verify = modal ? modal->findChild<QLabel*>("verify") : nullptr;
        if (verify && stage == 1 &&
            verify->text().startsWith(QStringLiteral("音軌 01 測試讀取中"))) {
            stage = 2;
            modal->grab().save(
                QStringLiteral(TRALUX_BINARY_DIR "/screenshots/e2e_cd_test_read.png"));
            stopAt = std::chrono::steady_clock::now();
            modal->findChild<QPushButton*>("stop")->click();
        }
    });
    user2.start(50);
    {
        auto window = CreateMainWindow("");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        const HotRect& r = SkinHotRects()[kRipCd];
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(r.CenterX(), r.CenterY()));
    }
    user2.stop();
    ::unsetenv("TRALUX_CD_JITTER");
    EXPECT_EQ(stage, 2);
    EXPECT_TRUE(warning.contains(QStringLiteral("http://"))) << warning.toStdString();
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 1500ms);  // not the whole track
    EXPECT_EQ(settings::ReadProfileText("AccurateRip", "Url"), gone);
    EXPECT_EQ(settings::ReadProfileText("AccurateRip", "Offset " + image.cuePath), "+6");
    const auto stopped = messages.Messages();
    ASSERT_EQ(stopped.size(), 1u);
    EXPECT_NE(stopped[0].text.find("在音軌 01 的測試讀取中停止，這首沒有寫入任何檔案。"),
              std::string::npos)
        << stopped[0].text;
    EXPECT_NE(stopped[0].text.find("尚有 3 個檔案未轉換"), std::string::npos) << stopped[0].text;
    // The failed lookup is said with the server and the system's reason, not as "未查詢".
    EXPECT_NE(stopped[0].text.find("無法查詢 AccurateRip 資料庫: " + gone), std::string::npos)
        << stopped[0].text;
    EXPECT_NE(stopped[0].text.find("Connection refused"), std::string::npos) << stopped[0].text;
    for (const auto& e : fs::directory_iterator(dir / "out2"))
        EXPECT_NE(e.path().extension(), ".wav") << e.path();

    // Once more against a server that accepts and never answers (no time limit set: the lookup
    // would wait 30 s): 停止 while the dialog looks the disc up ends the rip at once.
    test::SilentServer silent;
    ASSERT_TRUE(silent.Ok());
    fs::create_directories(dir / "out3");
    messages.Clear();
    stage = 0;
    QTimer user3;
    QObject::connect(&user3, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* rip = dynamic_cast<CdRipDialog*>(modal); rip && stage == 0) {
            stage = 1;
            rip->findChild<QLineEdit*>("output")->setText(QString::fromStdString(dir / "out3"));
            rip->findChild<QLineEdit*>("accuraterip_url")
                ->setText(QString::fromStdString(silent.Url()));
            rip->findChild<QPushButton*>("start")->click();
            return;
        }
        auto* verify = modal ? modal->findChild<QLabel*>("verify") : nullptr;
        if (verify && stage == 1 && verify->text().contains(QStringLiteral("查詢 AccurateRip"))) {
            stage = 2;
            QTimer::singleShot(400, [&, modal] {
                modal->grab().save(
                    QStringLiteral(TRALUX_BINARY_DIR "/screenshots/e2e_cd_lookup.png"));
                stopAt = std::chrono::steady_clock::now();
                modal->findChild<QPushButton*>("stop")->click();
            });
        }
    });
    user3.start(50);
    {
        auto window = CreateMainWindow("");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        const HotRect& r = SkinHotRects()[kRipCd];
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(r.CenterX(), r.CenterY()));
    }
    user3.stop();
    EXPECT_EQ(stage, 2);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 1000ms);
    const auto lookupStopped = messages.Messages();
    ASSERT_EQ(lookupStopped.size(), 1u);
    EXPECT_NE(lookupStopped[0].text.find("在查詢 AccurateRip 資料庫時停止，沒有寫入任何檔案。"),
              std::string::npos)
        << lookupStopped[0].text;
    EXPECT_NE(lookupStopped[0].text.find("尚有 3 個檔案未轉換"), std::string::npos)
        << lookupStopped[0].text;
    EXPECT_TRUE(fs::is_empty(dir / "out3"));  // no track, no log, no sheet

    // To MP3 the drive reads on while earlier tracks encode: the same files as one track at a
    // time, and a stop leaves the track on the drive as a playable beginning.
    test::ImageSpec longer;
    longer.tracks = {{1500, true, 0, 0}, {1200, true, 0, 0}, {1500, true, 0, 0}, {900, true, 0, 0}};
    test::BuiltImage disc2 = test::BuildImage(temp, longer);
    ::setenv("TRALUX_CD_IMAGES", disc2.cuePath.c_str(), 1);
    settings::WriteOption("BOutFormat", 1);
    bool testCopy = true;  // the log then holds both reads' checksums
    bool firstOnly = false;
    auto ripTo = [&](const fs::path& folder, const std::function<void(QWidget*)>& watch) {
        fs::create_directories(folder);
        messages.Clear();
        QTimer user4;
        QObject::connect(&user4, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* rip = dynamic_cast<CdRipDialog*>(modal)) {
                rip->findChild<QLineEdit*>("output")->setText(QString::fromStdString(folder));
                rip->findChild<QCheckBox*>("test_copy")->setChecked(testCopy);
                for (int i = 1; firstOnly && i < rip->Tracks()->topLevelItemCount(); ++i)
                    rip->Tracks()->topLevelItem(i)->setCheckState(0, Qt::Unchecked);
                rip->findChild<QLineEdit*>("accuraterip_url")->clear();  // no lookup
                rip->findChild<QPushButton*>("start")->click();
            } else if (modal && watch) {
                watch(modal);
            }
        });
        user4.start(50);
        auto window = CreateMainWindow("");
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        const HotRect& r = SkinHotRects()[kRipCd];
        QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(r.CenterX(), r.CenterY()));
    };
    // Every file of a rip folder by name (the log without its date line).
    auto folderFiles = [](const fs::path& folder) {
        std::map<std::string, test::Bytes> files;
        for (const auto& e : fs::directory_iterator(folder)) {
            test::Bytes bytes = test::ReadFile(e.path());
            if (e.path().extension() == ".log") {
                const std::string text(bytes.begin(), bytes.end());
                const auto at = text.find("date: ");
                const auto end = text.find('\n', at);
                if (at != std::string::npos) bytes.erase(bytes.begin() + at, bytes.begin() + end);
            }
            files[e.path().filename().string()] = std::move(bytes);
        }
        return files;
    };
    settings::WriteOption("BJobs", 1);  // one track at a time: the reference
    ripTo(dir / "serial", {});
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].text.find("已完成 4 個檔案"), std::string::npos)
        << messages.Messages()[0].text;
    settings::WriteOption("BJobs", 3);
    ripTo(dir / "pipelined", {});
    ASSERT_EQ(messages.Messages().size(), 1u);
    EXPECT_NE(messages.Messages()[0].text.find("已完成 4 個檔案"), std::string::npos)
        << messages.Messages()[0].text;
    const auto serial = folderFiles(dir / "serial");
    const auto pipelined = folderFiles(dir / "pipelined");
    EXPECT_EQ(serial.size(), 6u);  // four tracks, the log, the sheet
    for (const auto& [name, bytes] : serial)
        EXPECT_TRUE(name.find(".log") == std::string::npos || Contains(bytes, "test CRC: "))
            << name;
    ASSERT_EQ(serial.size(), pipelined.size());
    for (const auto& [name, bytes] : serial) {
        EXPECT_EQ(name.find(".pcm"), std::string::npos) << name;  // no held audio left
        ASSERT_TRUE(pipelined.count(name)) << name;
        EXPECT_TRUE(pipelined.at(name) == bytes) << name << " differs";
    }

    // A slow drive (4 s a track): the dialog shows the drive and the tracks encoding; 停止
    // while the drive reads the third track. Tracks 1 and 2 may still be encoding then (a
    // loaded or instrumented machine): each is whole or named as stopped.
    ::setenv("TRALUX_CD_SPEED", "5", 1);
    testCopy = false;
    fs::create_directories(TRALUX_BINARY_DIR "/screenshots");
    bool rowSeen = false, stopClicked = false;
    ripTo(dir / "stopped", [&](QWidget* modal) {
        auto* drive = modal->findChild<QLabel*>("reading");
        if (!drive) return;
        const QString reading = drive->text();
        auto* row = modal->findChild<QLabel*>("inFlight0");
        if (!rowSeen && row && !row->text().isEmpty() &&
            reading.startsWith(QStringLiteral("正在讀取音軌 0"))) {
            rowSeen = true;
            modal->grab().save(
                QStringLiteral(TRALUX_BINARY_DIR "/screenshots/e2e_cd_rip_pipelined.png"));
        }
        const QString third = QStringLiteral("正在讀取音軌 03：");
        if (!stopClicked && reading.startsWith(third) &&
            reading.mid(third.size()).section('%', 0, 0).toInt() >= 25) {
            stopClicked = true;
            modal->grab().save(
                QStringLiteral(TRALUX_BINARY_DIR "/screenshots/e2e_cd_rip_reading.png"));
            modal->findChild<QPushButton*>("stop")->click();
        }
    });
    ::unsetenv("TRALUX_CD_SPEED");
    EXPECT_TRUE(stopClicked);
    (void)rowSeen;  // an encoder may outrun the poll: the screenshot is for the eye
    ASSERT_EQ(messages.Messages().size(), 1u);
    const std::string said = messages.Messages()[0].text;
    EXPECT_NE(said.find("已停止：" + (dir / "stopped").string() + "/03 "), std::string::npos)
        << said;
    EXPECT_NE(said.find("尚有 1 個檔案未轉換"), std::string::npos) << said;
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir / "stopped"))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    // Tracks 1 and 2, the beginning of 3, nothing of 4 and no held audio left behind.
    ASSERT_EQ(names.size(), 5u) << ::testing::PrintToString(names);
    for (const std::string& name : {names[0], names[1]}) {
        const auto whole = pipelined.find(name);
        ASSERT_NE(whole, pipelined.end()) << name;
        EXPECT_TRUE(whole->second == test::ReadFile(dir / "stopped" / name) ||
                    said.find("已停止：" + (dir / "stopped" / name).string()) != std::string::npos)
            << said;
    }
    EXPECT_EQ(names[0].substr(0, 3), "01 ");
    EXPECT_EQ(names[2].substr(0, 3), "03 ");
    StreamInfo partial;
    ASSERT_TRUE(ProbeInput((dir / "stopped" / names[2]).string(), partial));
    EXPECT_GT(partial.DurationMs, 1000u);
    EXPECT_LT(partial.DurationMs, 19000u);

    // There again: one question about the three files, asked before the drive spins;
    // 略過這些 leaves them as they are and rips the fourth track alone.
    const auto before = folderFiles(dir / "stopped");
    int asked = 0;
    ripTo(dir / "stopped", [&](QWidget* modal) {
        auto* skip = modal->findChild<QPushButton*>("skip");
        auto* paths = modal->findChild<QPlainTextEdit*>("paths");
        if (!skip || !paths) return;
        ++asked;
        EXPECT_EQ(paths->toPlainText().count(QLatin1Char('\n')), 2);  // three files
        skip->click();
    });
    EXPECT_EQ(asked, 1);
    const auto after = folderFiles(dir / "stopped");
    ASSERT_EQ(after.size(), 6u);
    for (const auto& [name, bytes] : before) EXPECT_TRUE(after.at(name) == bytes) << name;
    EXPECT_TRUE(std::any_of(after.begin(), after.end(),
                            [](const auto& f) { return f.first.substr(0, 3) == "04 "; }));

    // FLAC through the same path: the file carries its format's name.
    settings::WriteOption("BOutFormat", 3);
    ::setenv("TRALUX_MEDIA_MODULE", TRALUX_MEDIA_FILE, 1);
    firstOnly = true;
    ripTo(dir / "flac", {});
    std::vector<fs::path> flac;
    for (const auto& e : fs::directory_iterator(dir / "flac"))
        if (e.path().extension() == ".flac") flac.push_back(e.path());
    ASSERT_EQ(flac.size(), 1u) << messages.Messages().front().text;
    EXPECT_EQ(flac[0].filename().string().substr(0, 3), "01 ");
    EXPECT_TRUE(Contains(test::ReadFile(flac[0]), "fLaC"));
    ::unsetenv("TRALUX_MEDIA_MODULE");

    // A full disk under the track (its name leads to /dev/full, the user said 取代): the
    // track fails with its path and the system's reason, no held audio is left.
    settings::WriteOption("BOutFormat", 1);
    fs::create_directories(dir / "full");
    fs::create_symlink("/dev/full", dir / "full" / names[0]);
    ripTo(dir / "full", [&](QWidget* modal) {
        if (auto* replace = modal->findChild<QPushButton*>("replace")) replace->click();
    });
    ASSERT_FALSE(messages.Messages().empty());  // the engine's own message, then the summary
    const std::string full = messages.Messages().back().text;
    EXPECT_NE(full.find((dir / "full" / names[0]).string()), std::string::npos) << full;
    EXPECT_NE(full.find("失敗 1 個"), std::string::npos) << full;
    EXPECT_NE(full.find("No space left on device"), std::string::npos) << full;
    EXPECT_TRUE(fs::is_symlink(dir / "full" / names[0]));
    for (const auto& e : fs::directory_iterator(dir / "full"))
        EXPECT_EQ(e.path().string().find(".pcm"), std::string::npos) << e.path();

    // A bad sector near the end of track 1: the pipelined rip says and keeps what the serial
    // rip does.
    const std::string bad = "shift=0,bad=" + std::to_string(disc2.starts[1] - 2);
    ::setenv("TRALUX_CD_JITTER", bad.c_str(), 1);
    std::map<int, std::string> badSaid;
    for (const int jobs : {1, 2}) {
        settings::WriteOption("BJobs", jobs);
        const fs::path folder = dir / ("bad" + std::to_string(jobs));
        ripTo(folder, {});
        ASSERT_FALSE(messages.Messages().empty());
        std::string text = messages.Messages().back().text;
        for (auto at = text.find(folder.string()); at != std::string::npos;
             at = text.find(folder.string()))
            text.replace(at, folder.string().size(), "FOLDER");
        badSaid[jobs] = text;
    }
    ::unsetenv("TRALUX_CD_JITTER");
    EXPECT_NE(badSaid[1].find("失敗 1 個"), std::string::npos) << badSaid[1];
    EXPECT_EQ(badSaid[1], badSaid[2]);
    // The same partial file; the log names the drive's reason where the serial rip said "failed".
    const auto bad1 = folderFiles(dir / "bad1"), bad2 = folderFiles(dir / "bad2");
    ASSERT_EQ(bad1.size(), bad2.size());
    for (const auto& [name, bytes] : bad1) {
        ASSERT_TRUE(bad2.count(name)) << name;
        if (name.find(".log") == std::string::npos)
            EXPECT_TRUE(bad2.at(name) == bytes) << name;
        else
            EXPECT_TRUE(Contains(bad2.at(name), "not ripped: Failed to read sector")) << name;
    }
    settings::WriteOption("BOutFormat", 0);
    settings::WriteOption("BJobs", -1);

    SetNotifier(nullptr);
    cddb::SetServerForRun("");
    cddb::SetCacheFolder({});
    settings::SetConfigRoot({});
    ::unsetenv("TRALUX_CD_IMAGES");
}

}  // namespace
}  // namespace tralux::app
