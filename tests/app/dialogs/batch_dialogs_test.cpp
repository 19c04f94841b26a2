#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

#include "app/dialogs/batch_dialogs.h"
#include "app/settings/settings.h"
#include "cd/drives.h"
#include "engine/outputs/mp3_rates.h"
#include "qt_fixture.h"

namespace tralux::app {
namespace {

using namespace models;
using testing::DialogTest;

template <class T>
T* Child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

CdDisc Disc(int tracks) {
    CdDisc d;
    d.title = "測試歌手 / 測試專輯";
    d.extended = "版權所有 2026";
    for (int i = 0; i < tracks; ++i)
        d.tracks.push_back(
            {"第 " + std::to_string(i + 1) + " 首歌", "", i == 0 ? 3725 : 65 + i, false});
    return d;
}

void PressSpace(QWidget* w) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(w, &press);
}

TEST_F(DialogTest, BatchOkNeedsBothFolders) {
    settings::EnsureOptionDefaults();
    settings::WriteOptionText("BInDir", "/in/");
    BatchSettingsDialog d(nullptr);
    auto* ok = Child<QPushButton>(&d, "ok");
    EXPECT_FALSE(ok->isEnabled());
    Child<QLineEdit>(&d, "output")->setText("/out/");
    EXPECT_TRUE(ok->isEnabled());
    Child<QLineEdit>(&d, "input")->clear();
    EXPECT_FALSE(ok->isEnabled());
}

TEST_F(DialogTest, BatchListsFollowQualityAndFormat) {
    settings::EnsureOptionDefaults();
    BatchSettingsDialog d(nullptr);
    auto* rate = Child<QComboBox>(&d, "rate");
    auto* bitrate = Child<QComboBox>(&d, "bitrate");
    EXPECT_FALSE(rate->isEnabled());
    Child<QRadioButton>(&d, "quality_custom")->click();
    EXPECT_TRUE(rate->isEnabled());
    EXPECT_FALSE(bitrate->isEnabled());  // WAV
    EXPECT_EQ(bitrate->count(), 0);
    Child<QRadioButton>(&d, "format_mp3")->click();
    EXPECT_TRUE(bitrate->isEnabled());
    EXPECT_EQ(bitrate->count(), static_cast<int>(Mp3BitRatesKbps(8000, 1).size()));
    // First-run MP3 choices are 8000 Hz mono at 128 kBps, which no encoder mode takes: the
    // lists land on the nearest valid bit rate.
    EXPECT_EQ(rate->currentText(), QStringLiteral("8000 Hz"));
    EXPECT_EQ(bitrate->currentText(), QStringLiteral("8 kBps"));
}

TEST_F(DialogTest, BatchOkStoresTheChoices) {
    settings::EnsureOptionDefaults();
    BatchSettingsDialog d(nullptr);
    Child<QLineEdit>(&d, "input")->setText("/in/");
    Child<QLineEdit>(&d, "output")->setText("/out/");
    Child<QCheckBox>(&d, "take_cd")->click();
    Child<QRadioButton>(&d, "format_wma")->click();
    Child<QPushButton>(&d, "ok")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(settings::ReadOption("BIF_CDDA"), 0);
    EXPECT_EQ(settings::ReadOption("BOutFormat"), 2);
    EXPECT_EQ(settings::ReadOptionText("BInDir"), "/in/");
}

TEST_F(DialogTest, CdListShowsLengthsAndTicks) {
    settings::WriteOptionText("BOut", "/out/");
    CdRipDialog d(nullptr, Disc(3), nullptr);
    QTreeWidget* list = d.Tracks();
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("1:02:05"));
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("1:06"));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(list->topLevelItem(i)->checkState(0), Qt::Checked);
    EXPECT_TRUE(Child<QCheckBox>(&d, "place_titles")->isChecked());
    EXPECT_EQ(Child<QLineEdit>(&d, "disc_extended")->text(), QStringLiteral("版權所有 2026"));
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("標題"));
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("長度"));
}

TEST_F(DialogTest, CdLengthColumnStaysInSightBesideALongTitle) {
    CdDisc disc = Disc(2);
    disc.tracks[1].title =
        std::string(40, 'x') + "非常非常非常非常非常非常非常非常長的歌名" + std::string(40, 'y');
    CdRipDialog d(nullptr, disc, nullptr);
    d.show();
    QTreeWidget* list = d.Tracks();
    const QRect length = list->visualItemRect(list->topLevelItem(1));
    EXPECT_LE(list->columnWidth(0) + list->columnWidth(1), list->viewport()->width());
    EXPECT_GT(list->columnWidth(1), 0);
    EXPECT_LE(length.left() + list->columnWidth(0), list->viewport()->width());
    EXPECT_EQ(list->topLevelItem(1)->toolTip(0), QString::fromStdString(disc.tracks[1].title));
}

TEST_F(DialogTest, CdSpaceTicksAndMovesDown) {
    settings::WriteOptionText("BOut", "/out/");
    CdRipDialog d(nullptr, Disc(3), nullptr);
    QTreeWidget* list = d.Tracks();
    auto* start = Child<QPushButton>(&d, "start");
    list->setCurrentItem(list->topLevelItem(0));
    PressSpace(list);
    EXPECT_EQ(list->topLevelItem(0)->checkState(0), Qt::Unchecked);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(1));
    PressSpace(list);
    PressSpace(list);
    EXPECT_EQ(list->currentItem(), list->topLevelItem(2));  // stays on the last row
    EXPECT_FALSE(start->isEnabled());
    PressSpace(list);
    EXPECT_EQ(list->topLevelItem(2)->checkState(0), Qt::Checked);
    EXPECT_TRUE(start->isEnabled());
    Child<QLineEdit>(&d, "output")->clear();
    EXPECT_FALSE(start->isEnabled());
}

TEST_F(DialogTest, CdStartSavesEditsInTheCache) {
    settings::WriteOptionText("BOut", "/out/");
    CdDisc cached;
    CdRipDialog d(nullptr, Disc(2), [&](const CdDisc& disc) {
        cached = disc;
        return true;
    });
    QTreeWidget* list = d.Tracks();
    list->topLevelItem(1)->setText(0, QStringLiteral("新的歌名"));
    list->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    Child<QLineEdit>(&d, "disc_title")->setText("新專輯");
    Child<QPushButton>(&d, "start")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(cached.title, "新專輯");
    ASSERT_EQ(cached.tracks.size(), 2u);
    EXPECT_FALSE(cached.tracks[0].selected);
    EXPECT_EQ(cached.tracks[1].title, "新的歌名");
    EXPECT_EQ(settings::ReadOption("PlaceClipInfo"), 1);
}

TEST_F(DialogTest, CdCacheFailureShowsItsMessageAndStarts) {
    settings::WriteOptionText("BOut", "/out/");
    CdRipDialog d(nullptr, Disc(1), [](const CdDisc&) { return false; });
    d.show();
    QString shown;
    testing::WhenModalShown([&](QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) shown = box->text();
    });
    Child<QPushButton>(&d, "start")->click();
    EXPECT_EQ(shown, QStringLiteral("無法將 CD 訊息存入快取!"));
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST_F(DialogTest, CdTabOrder) {
    settings::WriteOptionText("BOut", "/out/");
    CdRipDialog d(nullptr, Disc(2), nullptr);
    auto chain = testing::FocusChain(Child<QWidget>(&d, "disc_title"), 200);
    std::vector<QString> expected{"disc_title",      "disc_extended", "tracks",         "place_titles",
                                  "output",          "output_browse", "format_wav",     "format_mp3",
                                  "format_wma",      "format_flac",   "format_opus",    "quality_auto",
                                  "quality_custom",  "rate",          "channels",       "bitrate",
                                  "jitter",          "test_copy",     "skip_bad",       "accuraterip_url",
                                  "read_offset",     "start",
                                  "cancel"};
    std::vector<QString> named;
    for (const QString& n : chain)
        if (std::find(expected.begin(), expected.end(), n) != expected.end()) named.push_back(n);
    EXPECT_EQ(named, expected);
}

// What the AccurateRip fields take: blank (nothing set), an http:// address, a whole number of
// samples within five sectors either way.
TEST(CdVerifyFields, AddressAndOffsetRules) {
    for (const char* ok : {"", "http://127.0.0.1:8080", "http://db.example/ar"})
        EXPECT_EQ(AccurateRipUrlProblem(ok), "") << ok;
    for (const char* bad : {"https://db.example", "db.example:80", "http://", "ftp://x/"})
        EXPECT_NE(AccurateRipUrlProblem(bad), "") << bad;
    for (const char* ok : {"", "0", "+6", "-472", "2940", "-2940"})
        EXPECT_EQ(ReadOffsetProblem(ok), "") << ok;
    for (const char* bad : {"2941", "-2941", "1.5", "6 samples", "+", "abc"})
        EXPECT_NE(ReadOffsetProblem(bad), "") << bad;
}

// A refused offset keeps the dialog open and stores nothing; a good one is kept for the drive.
TEST_F(DialogTest, CdReadOffsetIsCheckedAndKeptPerDrive) {
    settings::WriteOptionText("BOut", "/tmp/");
    cd::SetCdDriveSourceForTesting(
        {[] {
             return std::vector<cd::CdDriveSlot>{{'D', "/dev/sr0", false}};
         },
         nullptr});
    CdRipDialog d(nullptr, Disc(2), [](const CdDisc&) { return true; });
    d.SetDrive("D:/");
    auto* offset = Child<QLineEdit>(&d, "read_offset");
    EXPECT_TRUE(offset->isEnabled());
    offset->setText(QStringLiteral("9999"));
    QString shown;
    testing::WhenModalShown([&](QWidget* w) {
        if (auto* box = qobject_cast<QMessageBox*>(w)) shown = box->text();
    });
    Child<QPushButton>(&d, "start")->click();
    EXPECT_TRUE(shown.contains(QStringLiteral("9999")));
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_EQ(settings::ReadProfileText("AccurateRip", "Offset /dev/sr0"), "");
    offset->setText(QStringLiteral("-472"));
    Child<QPushButton>(&d, "start")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(settings::ReadProfileText("AccurateRip", "Offset /dev/sr0"), "-472");
    cd::SetCdDriveSourceForTesting({});
}

}  // namespace
}  // namespace tralux::app
