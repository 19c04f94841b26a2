#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include "app/dialogs/cddb_dialogs.h"
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

const std::vector<std::string> kMatches{"rock 7a09b40b 歌手甲 / 第一張專輯",
                                        "misc 7a09b40c 歌手乙 / 第二張專輯", "0 0 Another..."};

TEST_F(DialogTest, ChoiceOkNeedsASelectionAndDoubleClickConfirms) {
    CddbChoiceDialog d(nullptr, kMatches);
    auto* list = Child<QTreeWidget>(&d, "matches");
    ASSERT_EQ(list->topLevelItemCount(), 3);
    EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("歌手乙 / 第二張專輯"));
    EXPECT_EQ(list->topLevelItem(2)->text(0), QStringLiteral("其他（以上都不是）"));
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("符合的 CD"));
    EXPECT_FALSE(Child<QPushButton>(&d, "ok")->isEnabled());
    list->topLevelItem(1)->setSelected(true);
    EXPECT_TRUE(Child<QPushButton>(&d, "ok")->isEnabled());
    emit list->itemDoubleClicked(list->topLevelItem(1), 0);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.Chosen(), 1);
}

TEST_F(DialogTest, EditorChangesTheDiscOnlyWhenSaved) {
    CdDisc disc;
    disc.title = "舊標題";
    disc.tracks = {{"一", "", 10, true}, {"二", "", 20, true}};
    CdDisc original = disc;
    testing::WhenModalShown([](QWidget* w) {
        w->findChild<QLineEdit*>("disc_title")->setText("新標題");
        w->findChild<QTreeWidget*>("tracks")->topLevelItem(1)->setText(0, "第二首");
        qobject_cast<QDialog*>(w)->reject();
    });
    EXPECT_FALSE(RunCddbEditorDialog(nullptr, disc));
    EXPECT_EQ(disc.title, original.title);
    testing::WhenModalShown([](QWidget* w) {
        w->findChild<QLineEdit*>("disc_title")->setText("新標題");
        w->findChild<QTreeWidget*>("tracks")->topLevelItem(1)->setText(0, "第二首");
        w->findChild<QPushButton*>("save")->click();
    });
    EXPECT_TRUE(RunCddbEditorDialog(nullptr, disc));
    EXPECT_EQ(disc.title, "新標題");
    EXPECT_EQ(disc.tracks[1].title, "第二首");
    EXPECT_EQ(disc.tracks[0].title, "一");
}

TEST_F(DialogTest, NotFoundAnswers) {
    CdDisc disc;
    disc.tracks = {{"音樂 CD, 音軌#1", "", 0, true}};
    testing::WhenModalShown([](QWidget* w) { w->findChild<QPushButton*>("never_ask")->click(); });
    EXPECT_EQ(RunCddbNotFoundDialog(nullptr, disc), NotFoundAnswer::NeverAsk);
    testing::WhenModalShown([](QWidget* w) { w->findChild<QPushButton*>("cancel")->click(); });
    EXPECT_EQ(RunCddbNotFoundDialog(nullptr, disc), NotFoundAnswer::Cancel);
    // "輸入訊息..." opens the editor on top; saving it confirms the not-found dialog too.
    testing::WhenModalShown([](QWidget* notFound) {
        testing::WhenModalShown(
            [](QWidget* editor) {
                editor->findChild<QLineEdit*>("disc_title")->setText("自己輸入");
                editor->findChild<QPushButton*>("save")->click();
            },
            [](QWidget* w) { return dynamic_cast<CddbEditorDialog*>(w) != nullptr; });
        notFound->findChild<QPushButton*>("enter")->click();
    });
    EXPECT_EQ(RunCddbNotFoundDialog(nullptr, disc), NotFoundAnswer::Entered);
    EXPECT_EQ(disc.title, "自己輸入");
}

TEST_F(DialogTest, SettingsDialogListsAndStoresServers) {
    settings::WriteProfileNumber("CDDB", "NumOfSites", 2);
    settings::WriteProfileText("CDDB", "Site0", "http://a.test/~cddb/cddb.cgi");
    settings::WriteProfileText("CDDB", "Site1", "http://b.test/~cddb/cddb.cgi");
    std::string told;
    SetCddbSettingsListener([&](const std::string& server, bool) { told = server; });
    {
        CddbSettingsDialog d(nullptr);
        auto* servers = Child<QComboBox>(&d, "servers");
        EXPECT_EQ(servers->count(), 2);
        EXPECT_FALSE(servers->isEditable());
        servers->setCurrentIndex(1);
        Child<QCheckBox>(&d, "never_use")->setChecked(true);
        d.reject();
        EXPECT_EQ(settings::ReadProfileText("CDDB", "CurrentServer"), "");
    }
    CddbSettingsDialog d(nullptr);
    Child<QComboBox>(&d, "servers")->setCurrentIndex(1);
    Child<QCheckBox>(&d, "never_use")->setChecked(true);
    Child<QPushButton>(&d, "ok")->click();
    EXPECT_EQ(settings::ReadProfileText("CDDB", "CurrentServer"), "http://b.test/~cddb/cddb.cgi");
    EXPECT_EQ(settings::ReadProfileNumber("CDDB", "NeverUseCDDB"), 1);
    EXPECT_EQ(told, "http://b.test/~cddb/cddb.cgi");
    SetCddbSettingsListener(nullptr);
}

}  // namespace
}  // namespace tralux::app
