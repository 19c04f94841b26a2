// End to end: tralux-cli cd list / cd rip on an image drive against the loopback CDDB server.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cd/image_builder.h"
#include "support/cddb_server.h"
#include "support/silent_server.h"

namespace tralux::test {
namespace {

class CliCddbTest : public ::testing::Test {
protected:
    void SetUp() override {
        TRALUX_REQUIRE_SERVER(server_);
        server_.Mark();
        img_ = BuildImage(dir_, ThreeTrackSpec());
    }
    int Run(const std::string& args, const std::string& env = "") {
        // The image is the only drive; the cache and the settings belong to this test.
        const std::string cmd = "env -u TRALUX_CD_JITTER -u http_proxy -u HTTP_PROXY " + env +
                                " TRALUX_CD_IMAGES=" + img_.cuePath +
                                " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + TRALUX_CLI_PATH +
                                " --config " + (dir_ / "cfg") + " " + args + " </dev/null >" +
                                (dir_ / "stdout.txt") + " 2>" + (dir_ / "stderr.txt");
        const int status = std::system(cmd.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Text(const std::string& name) {
        const Bytes b = ReadFile(dir_ / name);
        return std::string(b.begin(), b.end());
    }
    std::string FileText(const std::string& path) {
        const Bytes b = ReadFile(path);
        return std::string(b.begin(), b.end());
    }
    // The LIST/INFO item `id` of a WAV file, without its terminating zero.
    std::string InfoItem(const std::string& path, const char* id) {
        const std::string wav = FileText(path);
        const auto at = wav.find(std::string(id, 4), 12);
        if (at == std::string::npos || at + 8 > wav.size()) return "<none>";
        const std::uint32_t size =
            static_cast<unsigned char>(wav[at + 4]) | static_cast<unsigned char>(wav[at + 5]) << 8 |
            static_cast<unsigned char>(wav[at + 6]) << 16 |
            static_cast<std::uint32_t>(static_cast<unsigned char>(wav[at + 7])) << 24;
        std::string v = wav.substr(at + 8, size);
        while (!v.empty() && v.back() == '\0') v.pop_back();
        return v;
    }
    static std::string Capture(const std::string& command) {
        std::string out;
        if (FILE* p = ::popen(command.c_str(), "r")) {
            char buf[4096];
            std::size_t n;
            while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
            ::pclose(p);
        }
        return out;
    }
    std::string Server(const std::string& mode) { return " --cddb-server " + server_.Url(mode); }

    TempDir dir_;
    CddbServer& server_ = CddbServer::Shared();
    BuiltImage img_;
};

// Every way the server can fail is told with the server's address and the reason; the disc
// is still listed, and `cd list` fails.
TEST_F(CliCddbTest, NetworkFailuresNameTheServerAndTheReason) {
    // A closed port (a server that just went away) and one that accepts but never answers.
    int closedPort;
    {
        CddbServer gone(dir_ / "gone.txt");
        closedPort = gone.Port();
    }
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(silent, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&addr), size), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    ASSERT_EQ(::getsockname(silent, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const std::string here = "127.0.0.1:" + std::to_string(server_.Port());
    const std::string closed = "127.0.0.1:" + std::to_string(closedPort);
    const std::string mute = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    const struct {
        std::string url, server, reason;
    } cases[] = {
        {"http://" + closed + "/cddb.cgi", closed, "伺服器拒絕連線"},
        {"http://" + mute + "/cddb.cgi", mute, "伺服器在時限內沒有回應"},
        {server_.Url("missing"), here, "回應 HTTP 404 Not Found"},
        {server_.Url("error503"), here, "回應 HTTP 503"},
        {server_.Url("garbage"), here, "的回覆無法辨識: <html><body>Hello there</body></html>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run("cd list --cddb-server " + c.url, "TRALUX_HTTP_TIMEOUT=1"), 1) << c.url;
        EXPECT_NE(Text("stdout.txt").find("   03     "), std::string::npos) << c.url;
        const std::string err = Text("stderr.txt");
        EXPECT_NE(err.find("CDDB 伺服器 " + c.server), std::string::npos) << c.url << "\n" << err;
        EXPECT_NE(err.find(c.reason), std::string::npos) << c.url << "\n" << err;
    }
    ::close(silent);
}

TEST_F(CliCddbTest, RipNamesAndTagsTracksWithTheServersChineseTitlesAndAsksOnce) {
    const std::string out = dir_ / "rip";
    ASSERT_EQ(Run("cd rip --output-dir " + out + Server("ok")), 0) << Text("stderr.txt");
    const std::string first = out + "/01 第1首 春天的歌.wav";
    ASSERT_TRUE(std::filesystem::exists(first)) << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(out + "/02 第2首 夏夜_晚風.wav"));  // no '/' in a name
    EXPECT_TRUE(std::filesystem::exists(out + "/03 第3首 ..秋意.wav"));
    EXPECT_EQ(InfoItem(first, "INAM"), "第1首 春天的歌");
    EXPECT_EQ(InfoItem(first, "IART"), "測試歌手");  // "Artist / Album" is split
    EXPECT_EQ(InfoItem(first, "IPRD"), "測試專輯");
    EXPECT_EQ(InfoItem(first, "ITRK"), "1/3");
    EXPECT_EQ(InfoItem(first, "ICOP"), "版權所有 2026");
    EXPECT_EQ(InfoItem(out + "/02 第2首 夏夜_晚風.wav", "INAM"), "第2首 夏夜/晚風");
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);  // one query, one read for the whole disc
    EXPECT_NE(requests[0].find("cmd=cddb+query+"), std::string::npos);
    EXPECT_NE(requests[0].find("&proto=6"), std::string::npos);

    // The second rip of the same disc comes from the cache: no request at all.
    const std::string again = dir_ / "again";
    ASSERT_EQ(Run("cd rip --tracks 2 --output-dir " + again + Server("ok")), 0)
        << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(again + "/02 第2首 夏夜_晚風.wav"));
    EXPECT_EQ(server_.Requests().size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(dir_ / "cache/cache.dat"));
}

TEST_F(CliCddbTest, CtrlCStopsALookupOfASilentServer) {
    // (It used to wait out the whole HTTP time limit, here a minute, before stopping.)
    SilentServer mute;
    ASSERT_TRUE(mute.Ok());
    for (const std::string& command :
         {std::string("cd list"), "cd rip --output-dir " + (dir_ / "mute")}) {
        const std::string cmd =
            "env -u http_proxy TRALUX_HTTP_TIMEOUT=60 TRALUX_CD_IMAGES=" + img_.cuePath +
            " TRALUX_CACHE_DIR=" + (dir_ / "cache") + " " + TRALUX_CLI_PATH + " --config " +
            (dir_ / "cfg") + " " + command + " --cddb-server " + mute.Url() +
            "/cddb.cgi </dev/null >/dev/null 2>" + (dir_ / "stderr.txt") +
            " & p=$!; sleep 1; kill -INT $p; wait $p";
        const int status = std::system(cmd.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << command;
        EXPECT_EQ(WEXITSTATUS(status), 130) << command;
        const std::string err = Text("stderr.txt");
        EXPECT_NE(err.find("stopped by SIGINT"), std::string::npos) << err;
        EXPECT_EQ(err.find("時限"), std::string::npos) << err;
    }
}

TEST_F(CliCddbTest, ADiscNamedLikeAnOptionGivesTheLogAndSheetNoLeadingDash) {
    const std::string out = dir_ / "dash";
    ASSERT_EQ(Run("cd rip --tracks 1 --output-dir " + out + Server("dash")), 0)
        << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(out + "/_v - --x.log"));
    EXPECT_TRUE(std::filesystem::exists(out + "/_v - --x.cue"));
}

TEST_F(CliCddbTest, ListShowsTheTitles) {
    ASSERT_EQ(Run("cd list" + Server("ok")), 0) << Text("stderr.txt");
    const std::string out = Text("stdout.txt");
    EXPECT_NE(out.find("測試歌手 / 測試專輯"), std::string::npos) << out;
    EXPECT_NE(out.find("版權: 版權所有 2026"), std::string::npos) << out;
    EXPECT_NE(out.find("375  第2首 夏夜/晚風"), std::string::npos) << out;
}

TEST_F(CliCddbTest, SeveralMatchesAreListedAndTheChoiceIsTaken) {
    const std::string out = dir_ / "rip";
    ASSERT_EQ(Run("cd rip --tracks 1 --cddb-choice 2 --output-dir " + out + Server("multi211")), 0)
        << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(out + "/01 夜曲1.wav")) << Text("stderr.txt");
    const std::string err = Text("stderr.txt");
    EXPECT_NE(err.find("1) rock"), std::string::npos) << err;
    EXPECT_NE(err.find("3) 0 0 Another..."), std::string::npos) << err;
}

TEST_F(CliCddbTest, WithoutAChoiceTheFirstMatchIsTaken) {
    const std::string out = dir_ / "rip";
    ASSERT_EQ(Run("cd rip --tracks 1 --output-dir " + out + Server("multi210")), 0)
        << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(out + "/01 第1首 春天的歌.wav")) << Text("stderr.txt");
}

TEST_F(CliCddbTest, NoNetworkUsesTheSheetsCdText) {
    const std::string out = dir_ / "rip";
    ASSERT_EQ(Run("cd rip --tracks 1,3 --no-cddb --output-dir " + out + Server("ok")), 0)
        << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(out + "/01 Song 1.wav")) << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(out + "/03 Song 3.wav"));
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(CliCddbTest, UnknownDiscFallsBackToCdTextAndIsAskedAgainNextTime) {
    const std::string out = dir_ / "rip";
    ASSERT_EQ(Run("cd rip --tracks 2 --output-dir " + out + Server("notfound")), 0)
        << Text("stderr.txt");
    EXPECT_TRUE(std::filesystem::exists(out + "/02 Song 2.wav")) << Text("stderr.txt");
    EXPECT_NE(Text("stderr.txt").find("在 CDDB 內找不到關於這個 CD 訊息!"), std::string::npos);
    EXPECT_EQ(server_.Requests().size(), 1u);
    ASSERT_EQ(Run("cd list" + Server("notfound")), 0);
    EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(CliCddbTest, AnUnknownDiscIsAskedAboutOncePerRun) {
    // Nothing is stored for an unknown disc; within one run the answer is kept, so neither
    // StartConversion's probe nor the job's worker asks again.
    const std::string out = dir_ / "conv";
    // convert has no --cddb-server: the stored settings name the server.
    std::filesystem::create_directories(dir_.path() / "cfg/Quorvatix");
    std::ofstream(dir_.path() / "cfg/Quorvatix/tralux.ini")
        << "[CDDB]\nCurrentServer=" << server_.Url("notfound") << "\n";
    ASSERT_EQ(Run("convert D:/Track02.cda --output-dir " + out), 0) << Text("stderr.txt");
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_TRUE(std::filesystem::exists(out + "/02 Song 2.wav")) << Text("stderr.txt");
}

TEST_F(CliCddbTest, YearGenreAndCleanTextsReachTheTags) {
    const std::string out = dir_ / "rip";
    ASSERT_EQ(Run("cd rip --tracks 2 --output-dir " + out + Server("rich")), 0)
        << Text("stderr.txt");
    const std::string wav = out + "/02 ]0;pwned第2首.wav";  // the escape and bell are gone
    ASSERT_TRUE(std::filesystem::exists(wav)) << Text("stderr.txt");
    EXPECT_EQ(InfoItem(wav, "IART"), "林小雨");
    EXPECT_EQ(InfoItem(wav, "IPRD"), "春天的專輯");  // continued exactly, no blank added
    EXPECT_EQ(InfoItem(wav, "ICRD"), "2026");
    EXPECT_EQ(InfoItem(wav, "IGNR"), "Folk");
    EXPECT_EQ(InfoItem(wav, "ITRK"), "2/3");
    // MP3 (ID3v2 TCON) and WMA (WM/Genre) carry the same texts, as a peer reads them.
    if (ToolPresent("ffprobe")) {
        for (const char* format : {"mp3", "wma"}) {
            const std::string dir = out + "-" + format;
            ASSERT_EQ(Run("cd rip --tracks 2 --format " + std::string(format) + " --output-dir " +
                          dir + Server("rich")),
                      0)
                << Text("stderr.txt");
            const std::string tags =
                Capture("ffprobe -v error -show_entries format_tags -of default=nw=1 '" + dir +
                        "/02 ]0;pwned第2首." + format + "' 2>/dev/null");
            for (const char* tag : {"genre=Folk", "date=2026", "album=春天的專輯"})
                EXPECT_NE(tags.find(tag), std::string::npos) << format << ": " << tags;
        }
    } else if (InCi()) {
        ADD_FAILURE() << "ffprobe missing under CI";
    }
    // The cache answers the next run; --refresh asks the server again.
    ASSERT_EQ(Run("cd list" + Server("rich")), 0);
    EXPECT_EQ(server_.Requests().size(), 2u);
    ASSERT_EQ(Run("cd list --refresh" + Server("ok")), 0) << Text("stderr.txt");
    EXPECT_EQ(server_.Requests().size(), 4u);
    EXPECT_NE(Text("stdout.txt").find("第2首 夏夜/晚風"), std::string::npos);
}

TEST_F(CliCddbTest, OfflineRunsLeaveTheCacheAloneAndIdsKeepEightDigits) {
    // One track from LBA 0: digit sum 2, so the identifier starts with a zero.
    ImageSpec one;
    one.tracks = {{300, true, 0, 0}};
    img_ = BuildImage(dir_, one, "one");
    ASSERT_EQ(Run("cd list --no-cddb" + Server("ok")), 0);
    EXPECT_NE(Text("stdout.txt").find("disc id 02"), std::string::npos) << Text("stdout.txt");
    EXPECT_TRUE(server_.Requests().empty());
    ASSERT_EQ(Run("cd list" + Server("ok")), 0);
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);  // asked: the offline run stored nothing
    EXPECT_NE(requests[0].find("cddb+query+02"), std::string::npos) << requests[0];
    EXPECT_NE(requests[1].find("cddb+read+rock+02"), std::string::npos) << requests[1];
}

TEST_F(CliCddbTest, BadOptions) {
    EXPECT_EQ(Run("cd rip --cddb-server ftp://x/"), 2);
    EXPECT_EQ(Run("cd rip --cddb-choice 0"), 2);
    EXPECT_EQ(Run("cd list --cddb-choice 7" + Server("multi211")), 2);
    EXPECT_NE(Text("stderr.txt").find("only 3 entries"), std::string::npos);
    EXPECT_EQ(Run("cd list --cddb-choice"), 2);
}

}  // namespace
}  // namespace tralux::test
