// The whole lookup: cache, server, the dialogs' answers, storing, cancelling; against the
// loopback server with the real HTTP client and cache file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "cddb/cache.h"
#include "cddb/cddb_settings.h"
#include "cddb/disc_id.h"
#include "cddb/lookup.h"
#include "cddb/protocol.h"
#include "cddb_test_util.h"
#include "platform/compound/gsf_cache_files.h"
#include "platform/http/curl_transport.h"
#include "support/cddb_server.h"
#include "support/wav_builder.h"

namespace tralux::cddb {
namespace {

using namespace std::chrono_literals;

class MemorySettings : public SettingsStore {
public:
    std::map<std::string, std::string, std::less<>> values;
    std::string ReadText(std::string_view key) override {
        auto it = values.find(key);
        return it == values.end() ? "" : it->second;
    }
    int ReadNumber(std::string_view key) override {
        const std::string v = ReadText(key);
        return v.empty() ? -1 : std::atoi(v.c_str());
    }
    void WriteText(std::string_view key, std::string_view value) override {
        values[std::string(key)] = value;
    }
    void WriteNumber(std::string_view key, int value) override {
        values[std::string(key)] = std::to_string(value);
    }
};

class LookupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::unsetenv("http_proxy");
        TRALUX_REQUIRE_SERVER(server_);
        server_.Mark();
        SetHttpTransport(http::MakeCurlTransport());
        SetCacheFiles(compound::MakeGsfCacheFiles());
        SetCacheFolder(dir_.path() / "cache");
        SetSettingsStore(settings_);
        SetNeverUseForRun(std::nullopt);
        request_.toc = test::MakeToc({0, 19850, 39850}, 61275);
        request_.discId = DiscIdFromToc(request_.toc);
        request_.trackNumber = 2;
        request_.discTitle = "caller disc";
        request_.extended = "caller ext";
        request_.trackTitle = "caller title";
    }
    void TearDown() override {
        SetServerForRun("");
        SetSettingsStore(nullptr);
        SetCacheFolder({});
    }
    bool Lookup(const std::string& mode, CddbUi* ui) {
        SetServerForRun(server_.Url(mode));
        return LookupTrackInfo(request_, texts_, ui, LookupTiming{0ms, 0ms});
    }

    test::TempDir dir_;
    test::CddbServer& server_ = test::CddbServer::Shared();
    std::shared_ptr<MemorySettings> settings_ = std::make_shared<MemorySettings>();
    LookupRequest request_;
    TrackTexts texts_{"old disc", "old ext", "old title", {}, {}, 0};
    test::ScriptedUi ui_;
};

TEST_F(LookupTest, ServerAnswerIsUsedAndCachedSoTheSecondLookupAsksNobody) {
    ASSERT_TRUE(Lookup("ok", &ui_));
    EXPECT_EQ(texts_.discTitle, "測試歌手 / 測試專輯");
    EXPECT_EQ(texts_.extended, "版權所有 2026");
    EXPECT_EQ(texts_.trackTitle, "第2首 夏夜/晚風");
    EXPECT_EQ(server_.Requests().size(), 2u);  // query and read
    // The bar shows the latest step; steps the worker passed quickly may be skipped.
    ASSERT_FALSE(ui_.progress.empty());
    EXPECT_TRUE(std::is_sorted(ui_.progress.begin(), ui_.progress.end()));
    EXPECT_EQ(ui_.progress.back(), 100);
    EXPECT_TRUE(ui_.messages.empty());
    const CdInfo current = CurrentCdInfo();
    ASSERT_EQ(current.tracks.size(), 3u);
    EXPECT_EQ(current.tracks[0].title, "第1首 春天的歌");
    EXPECT_EQ(current.tracks[0].seconds, 264u);  // (20000 - 150) / 75 rounded down per start

    texts_ = {};
    request_.trackNumber = 3;
    ASSERT_TRUE(Lookup("ok", &ui_));
    EXPECT_EQ(texts_.trackTitle, "第3首 ..秋意");
    EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(LookupTest, QueryCarriesTheDiscAndProtocolLevelSix) {
    ASSERT_TRUE(Lookup("ok", &ui_));
    const auto requests = server_.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0],
              "/ok/~cddb/cddb.cgi?cmd=cddb+query+1b033103+3+150+20000+40000+819"
              "&hello=Ovin+quorvatix.invalid+Vexlor+1.0&proto=6");
    EXPECT_EQ(requests[1],
              "/ok/~cddb/cddb.cgi?cmd=cddb+read+rock+1b033103"
              "&hello=Ovin+quorvatix.invalid+Vexlor+1.0&proto=6");
}

TEST_F(LookupTest, SeveralMatchesLetTheUserChoose) {
    ui_.choice = 1;
    ASSERT_TRUE(Lookup("multi211", &ui_));
    EXPECT_EQ(ui_.matchesSeen,
              (std::vector<std::string>{"rock 1b033103 測試歌手 / 測試專輯",
                                        "jazz 1b033103 爵士樂手 / 夜曲集", "0 0 Another..."}));
    EXPECT_EQ(texts_.discTitle, "爵士樂手 / 夜曲集");
    EXPECT_EQ(texts_.trackTitle, "夜曲2");
}

TEST_F(LookupTest, ChoiceNotConfirmedEndsWithoutData) {
    ui_.choice.reset();
    EXPECT_FALSE(Lookup("multi210", &ui_));
    EXPECT_EQ(texts_.trackTitle, "old title");
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "cache" / "cache.dat"));
}

TEST_F(LookupTest, AnotherOpensTheEditorOnTheDefaultEntry) {
    ui_.choice = 2;
    ui_.saveEditor = true;
    ui_.editedDiscTitle = "自己輸入";
    ASSERT_TRUE(Lookup("multi210", &ui_));
    EXPECT_EQ(ui_.editorTitles,
              (std::vector<std::string>{"音樂 CD, 音軌#1", "音樂 CD, 音軌#2", "音樂 CD, 音軌#3"}));
    EXPECT_EQ(texts_.discTitle, "自己輸入");
    EXPECT_EQ(texts_.trackTitle, "音樂 CD, 音軌#2");
    EXPECT_EQ(server_.Requests().size(), 1u);  // no read
}

TEST_F(LookupTest, SettingsSwitchedOffDuringTheChoiceSkipTheRead) {
    struct SwitchingUi : test::ScriptedUi {
        std::optional<std::size_t> ChooseMatch(const std::vector<std::string>& m) override {
            ConfirmSettings(ConfiguredServers(), 0,
                            true);  // the settings button, "never connect" ticked
            return ScriptedUi::ChooseMatch(m);
        }
    } ui;
    ui.choice = 0;
    EXPECT_FALSE(Lookup("multi211", &ui));
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(settings_->values["NeverUseCDDB"], "1");
    EXPECT_EQ(settings_->values["NumOfSites"], "1");
    EXPECT_EQ(settings_->values["Site0"], "http://gnudb.gnudb.org/~cddb/cddb.cgi");
}

TEST_F(LookupTest, NotFoundCancelledUsesDefaultsButStoresNothing) {
    ui_.notFoundOk = false;
    ASSERT_TRUE(Lookup("notfound", &ui_));
    EXPECT_EQ(ui_.notFoundCalls, 1);
    EXPECT_EQ(texts_.discTitle, "caller disc");
    EXPECT_EQ(texts_.extended, "caller ext");
    EXPECT_EQ(texts_.trackTitle, "音樂 CD, 音軌#2");
    ASSERT_TRUE(Lookup("notfound", &ui_));
    EXPECT_EQ(server_.Requests().size(), 2u);  // asked again
}

TEST_F(LookupTest, PlaceholdersAreNeverCachedEvenWhenTheUserSaysOk) {
    ui_.notFoundOk = true;
    ASSERT_TRUE(Lookup("notfound", &ui_));
    ASSERT_TRUE(Lookup("notfound", &ui_));
    EXPECT_EQ(server_.Requests().size(), 2u);
    EXPECT_EQ(texts_.trackTitle, "音樂 CD, 音軌#2");
}

TEST_F(LookupTest, CdTextFillsInWhenTheServerHasNoEntry) {
    CdInfo cdText;
    cdText.discTitle = "光碟上的歌手";
    cdText.tracks = {{"一", "", true, 0}, {"二", "", true, 0}, {"", "", true, 0}};
    request_.cdText = cdText;
    ASSERT_TRUE(Lookup("notfound", &ui_));
    EXPECT_EQ(texts_.discTitle, "光碟上的歌手");
    EXPECT_EQ(texts_.trackTitle, "二");
    // A track the disc names nothing keeps the default title.
    EXPECT_EQ(CurrentCdInfo().tracks[2].title, "音樂 CD, 音軌#3");
}

TEST_F(LookupTest, AnOfflineLookupLeavesTheCacheToTheServer) {
    settings_->values["NeverUseCDDB"] = "1";
    CdInfo cdText;
    cdText.tracks = {{"", "", true, 0}, {"光碟二", "", true, 0}, {"", "", true, 0}};
    request_.cdText = cdText;
    ASSERT_TRUE(Lookup("ok", &ui_));
    EXPECT_EQ(texts_.trackTitle, "光碟二");
    EXPECT_EQ(CurrentCdInfo().tracks[0].title, "音樂 CD, 音軌#1");
    EXPECT_TRUE(server_.Requests().empty());
    settings_->values["NeverUseCDDB"] = "0";
    ASSERT_TRUE(Lookup("ok", &ui_));  // the server is asked: nothing was cached offline
    EXPECT_EQ(texts_.trackTitle, "第2首 夏夜/晚風");
    EXPECT_EQ(server_.Requests().size(), 2u);
    // A refresh asks again although the cache knows the disc now.
    request_.refresh = true;
    ASSERT_TRUE(Lookup("ok", &ui_));
    EXPECT_EQ(server_.Requests().size(), 4u);
}

TEST_F(LookupTest, GarbageReplyEndsWithoutDataAndSaysWhichServer) {
    EXPECT_FALSE(Lookup("garbage", &ui_));
    EXPECT_EQ(texts_.discTitle, "old disc");
    EXPECT_EQ(texts_.trackTitle, "old title");
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].find("127.0.0.1"), std::string::npos) << ui_.messages[0];
    EXPECT_NE(ui_.messages[0].find("無法辨識"), std::string::npos) << ui_.messages[0];
}

TEST_F(LookupTest, AnEntryCutShortIsRefusedAndNeverCached) {
    request_.trackNumber = 1;
    EXPECT_FALSE(Lookup("cut", &ui_));
    EXPECT_EQ(texts_.trackTitle, "old title");
    ASSERT_EQ(ui_.messages.size(), 1u);
    EXPECT_NE(ui_.messages[0].find("的回覆不完整"), std::string::npos) << ui_.messages[0];
    ASSERT_TRUE(Lookup("ok", &ui_));  // asked again: the cache holds nothing of it
    EXPECT_EQ(server_.Requests().size(), 4u);
    EXPECT_EQ(texts_.trackTitle, "第1首 春天的歌");
}

TEST_F(LookupTest, HttpFailureShowsItsMessageThroughTheUi) {
    EXPECT_FALSE(Lookup("redirect2", &ui_));
    EXPECT_EQ(ui_.messages, std::vector<std::string>{"Error: Got status code "});
}

TEST_F(LookupTest, PasswordQuestionReachesTheUi) {
    ui_.givePassword = true;
    ASSERT_TRUE(Lookup("auth", &ui_));
    EXPECT_EQ(ui_.passwordCalls, 2);  // query and read each meet the 401
    EXPECT_EQ(texts_.trackTitle, "第2首 夏夜/晚風");
}

TEST_F(LookupTest, CancelDuringASlowReplyLeavesTheCallerAlone) {
    struct CancellingUi : test::ScriptedUi {
        void RunProgress(LookupSession& session) override {
            const auto until = std::chrono::steady_clock::now() + 500ms;
            while (std::chrono::steady_clock::now() < until) session.Pump(*this, 20ms);
            session.Cancel();  // the dialog closes at once; the worker is not waited for here
        }
    } ui;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Lookup("slow", &ui));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    EXPECT_EQ(texts_.discTitle, "old disc");
    EXPECT_EQ(texts_.trackTitle, "old title");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(std::filesystem::exists(dir_.path() / "cache" / "cache.dat"));
}

TEST_F(LookupTest, SessionDestroyedWhileTheWorkerWaitsOnAQuestion) {
    // The worker is blocked on the choice when the dialog goes away: no answer, no crash.
    SetServerForRun(server_.Url("multi211"));
    {
        LookupSession session(request_, LookupTiming{0ms, 0ms});
        session.Start();
        std::this_thread::sleep_for(300ms);
    }
    EXPECT_EQ(server_.Requests().size(), 1u);
}

TEST_F(LookupTest, WithoutUiOnlyTheCacheIsRead) {
    EXPECT_FALSE(Lookup("ok", nullptr));
    EXPECT_TRUE(server_.Requests().empty());
    EXPECT_EQ(texts_.trackTitle, "old title");
    ASSERT_TRUE(Lookup("ok", &ui_));
    texts_ = {};
    ASSERT_TRUE(Lookup("ok", nullptr));
    EXPECT_EQ(texts_.trackTitle, "第2首 夏夜/晚風");
}

TEST_F(LookupTest, NoDiscClearsThePreviousDisc) {
    ASSERT_TRUE(Lookup("ok", &ui_));
    ASSERT_FALSE(CurrentCdInfo().tracks.empty());
    request_.discId = 0;
    EXPECT_FALSE(Lookup("ok", &ui_));
    EXPECT_TRUE(CurrentCdInfo().tracks.empty());
    EXPECT_TRUE(CurrentCdInfo().discTitle.empty());
}

TEST_F(LookupTest, LongTextsAreCutAtACharacterBoundary) {
    CdInfo info;
    ResetForDisc(info, request_.discId, 3);
    info.tracks[1].title.clear();
    for (int i = 0; i < 40; ++i) info.tracks[1].title += "長";
    info.discTitle = std::string(99, 'a') + "歌";
    ASSERT_TRUE(CacheWrite(info));
    ASSERT_TRUE(Lookup("ok", &ui_));
    EXPECT_EQ(texts_.trackTitle.size(), 99u);  // 33 characters of three bytes
    EXPECT_EQ(texts_.discTitle, std::string(99, 'a'));
}

TEST(SettingsTest, ServerListAndPreselection) {
    auto store = std::make_shared<MemorySettings>();
    SetSettingsStore(store);
    EXPECT_EQ(ConfiguredServers(), BuiltInServers());
    store->values["NumOfSites"] = "2";
    store->values["Site0"] = "http://a/~cddb/cddb.cgi";
    // A missing site reads as the first built-in one.
    EXPECT_EQ(ConfiguredServers(),
              (std::vector<std::string>{"http://a/~cddb/cddb.cgi", DefaultServer()}));
    store->values["CurrentServer"] = "http://nowhere/";
    EXPECT_EQ(PreselectedServer(ConfiguredServers()), 0u);
    store->values["CurrentServer"] = "http://gnudb";
    EXPECT_EQ(PreselectedServer(ConfiguredServers()), 1u);
    // Queries go to a stored http server; anything else falls back to the default.
    store->values["CurrentServer"] = "http://a/~cddb/cddb.cgi";
    EXPECT_EQ(CurrentServerUrl(), "http://a/~cddb/cddb.cgi");
    store->values["CurrentServer"] = "gopher://a/";
    EXPECT_EQ(CurrentServerUrl(), DefaultServer());
    EXPECT_FALSE(NeverUseCddb());
    SetNeverUseForRun(true);
    EXPECT_TRUE(NeverUseCddb());
    SetNeverUseForRun(std::nullopt);
    ConfirmSettings({}, 5, false);
    EXPECT_EQ(store->values["CurrentServer"], DefaultServer());
    EXPECT_EQ(store->values["NumOfSites"], "0");
    SetServerForRun("");
    SetSettingsStore(nullptr);
}

}  // namespace
}  // namespace tralux::cddb
