// The lookup steered through the real dialogs, against the loopback CDDB server.
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <chrono>

#include "app/dialogs/cddb_dialogs.h"
#include "app/dialogs/dialogs.h"
#include "cddb/cache.h"
#include "app/settings/cddb_section.h"
#include "cddb/cddb_settings.h"
#include "cddb/disc_id.h"
#include "cddb/engine/cd_info_provider.h"
#include "cddb/lookup.h"
#include "platform/compound/gsf_cache_files.h"
#include "platform/http/curl_transport.h"
#include "qt_fixture.h"
#include "support/cddb_server.h"

namespace tralux::app {
namespace {

using namespace std::chrono_literals;

bool IsChoice(QWidget* w) {
    return dynamic_cast<CddbChoiceDialog*>(w) != nullptr;
}
bool IsEditor(QWidget* w) {
    return dynamic_cast<CddbEditorDialog*>(w) != nullptr;
}
bool IsNotFound(QWidget* w) {
    return dynamic_cast<CddbNotFoundDialog*>(w) != nullptr;
}
bool IsProgress(QWidget* w) {
    return dynamic_cast<CddbProgressDialog*>(w) != nullptr;
}

class CddbLookupDialogs : public testing::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ::unsetenv("http_proxy");
        TRALUX_REQUIRE_SERVER(server_);
        cddb::SetHttpTransport(http::MakeCurlTransport());
        cddb::SetCacheFiles(compound::MakeGsfCacheFiles());
        cddb::SetSettingsStore(std::make_shared<settings::CddbSection>());
        InstallCddbDialogs();
        cddb::SetCacheFolder(dir_ / "cache");
        for (std::uint32_t lba : {0u, 19850u, 39850u})
            request_.toc.tracks.push_back(
                TocTrack{static_cast<std::uint8_t>(request_.toc.tracks.size() + 1), lba, true});
        request_.toc.firstTrack = 1;
        request_.toc.lastTrack = 3;
        request_.toc.leadOutLba = 61275;
        request_.discId = DiscIdFromToc(request_.toc);
        request_.trackNumber = 2;
    }
    void TearDown() override {
        cddb::SetServerForRun("");
        cddb::SetCacheFolder({});
        cddb::SetSettingsStore(nullptr);
        DialogTest::TearDown();
    }
    bool Lookup(const std::string& mode) {
        cddb::SetServerForRun(server_.Url(mode));
        return cddb::LookupTrackInfo(request_, texts_, cddb::ThreadUi(),
                                     cddb::LookupTiming{0ms, 0ms});
    }

    test::CddbServer server_{std::filesystem::temp_directory_path() /
                             ("tralux-dialogs-cddb-" + std::to_string(::getpid()) + ".log")};
    cddb::LookupRequest request_;
    cddb::TrackTexts texts_{"舊的", "舊的", "舊的", {}, {}, 0};
};

TEST_F(CddbLookupDialogs, ChoosingTheSecondMatchReadsIt) {
    testing::WhenModalShown(
        [](QWidget* w) {
            // The worker's question is answered on the user interface thread.
            EXPECT_EQ(QThread::currentThread(), qApp->thread());
            auto* list = w->findChild<QTreeWidget*>("matches");
            ASSERT_EQ(list->topLevelItemCount(), 3);
            EXPECT_EQ(list->topLevelItem(1)->text(0), QStringLiteral("爵士樂手 / 夜曲集"));
            emit list->itemDoubleClicked(list->topLevelItem(1), 0);
        },
        IsChoice);
    ASSERT_TRUE(Lookup("multi211"));
    EXPECT_EQ(texts_.discTitle, "爵士樂手 / 夜曲集");
    EXPECT_EQ(texts_.trackTitle, "夜曲2");
}

TEST_F(CddbLookupDialogs, AnotherOpensTheEditorWithDefaultTitles) {
    testing::WhenModalShown(
        [](QWidget* w) {
            testing::WhenModalShown(
                [](QWidget* editor) {
                    auto* tracks = editor->findChild<QTreeWidget*>("tracks");
                    ASSERT_EQ(tracks->topLevelItemCount(), 3);
                    EXPECT_EQ(tracks->topLevelItem(0)->text(0),
                              QStringLiteral("音樂 CD, 音軌#1"));
                    tracks->topLevelItem(1)->setText(0, QStringLiteral("自己的歌"));
                    editor->findChild<QLineEdit*>("disc_title")
                        ->setText(QStringLiteral("自己的專輯"));
                    editor->findChild<QPushButton*>("save")->click();
                },
                IsEditor);
            auto* list = w->findChild<QTreeWidget*>("matches");
            list->topLevelItem(2)->setSelected(true);
            w->findChild<QPushButton*>("ok")->click();
        },
        IsChoice);
    ASSERT_TRUE(Lookup("multi211"));
    EXPECT_EQ(texts_.discTitle, "自己的專輯");
    EXPECT_EQ(texts_.trackTitle, "自己的歌");
}

TEST_F(CddbLookupDialogs, NeverUseFromTheChoiceSkipsTheRead) {
    testing::WhenModalShown(
        [](QWidget* choice) {
            testing::WhenModalShown(
                [](QWidget* s) {
                    s->findChild<QCheckBox*>("never_use")->setChecked(true);
                    s->findChild<QPushButton*>("ok")->click();
                },
                [](QWidget* w) { return dynamic_cast<CddbSettingsDialog*>(w) != nullptr; });
            choice->findChild<QPushButton*>("settings")->click();
            choice->findChild<QTreeWidget*>("matches")->topLevelItem(0)->setSelected(true);
            choice->findChild<QPushButton*>("ok")->click();
        },
        IsChoice);
    const std::size_t before = server_.Requests().size();
    EXPECT_FALSE(Lookup("multi211"));
    EXPECT_EQ(server_.Requests().size(), before + 1);  // the query only
    EXPECT_EQ(texts_.discTitle, "舊的");
}

// Placeholders are no CD information: they are shown, never stored, so the next lookup asks.
TEST_F(CddbLookupDialogs, NotFoundGivesPlaceholdersThatAreNeverCached) {
    const auto dismiss = [] {
        testing::WhenModalShown(
            [](QWidget* w) { w->findChild<QPushButton*>("never_ask")->click(); }, IsNotFound);
    };
    dismiss();
    ASSERT_TRUE(Lookup("notfound"));
    EXPECT_EQ(texts_.trackTitle, "音樂 CD, 音軌#2");
    const std::size_t asked = server_.Requests().size();
    texts_ = {};
    dismiss();
    ASSERT_TRUE(Lookup("notfound"));
    EXPECT_GT(server_.Requests().size(), asked);
}

TEST_F(CddbLookupDialogs, CancelDuringASlowReplyEndsQuicklyWithoutData) {
    testing::WhenModalShown(
        [](QWidget* w) {
            QTimer::singleShot(300, w, [w] { w->findChild<QPushButton*>("cancel")->click(); });
        },
        IsProgress);
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(Lookup("slow"));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(texts_.discTitle, "舊的");
    EXPECT_EQ(texts_.trackTitle, "舊的");
}

// Cancelled while the worker waits for the choice: the answer given afterwards reads nothing.
TEST_F(CddbLookupDialogs, CancelWhileTheWorkerWaitsForTheChoice) {
    testing::WhenModalShown(
        [](QWidget* choice) {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (IsProgress(w)) w->findChild<QPushButton*>("cancel")->click();
            choice->findChild<QTreeWidget*>("matches")->topLevelItem(0)->setSelected(true);
            choice->findChild<QPushButton*>("ok")->click();
        },
        IsChoice);
    const std::size_t before = server_.Requests().size();
    EXPECT_FALSE(Lookup("multi211"));
    EXPECT_EQ(server_.Requests().size(), before + 1);  // the query only
    EXPECT_EQ(texts_.discTitle, "舊的");
    EXPECT_EQ(texts_.trackTitle, "舊的");
}

}  // namespace
}  // namespace tralux::app
