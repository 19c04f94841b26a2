// HttpFetchLines over libcurl against the loopback CDDB server, and its header and URL pieces.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "cddb/accuraterip_fetch.h"
#include "cddb/http_fetch.h"
#include "platform/http/curl_transport.h"
#include "support/cddb_server.h"
#include "support/silent_server.h"
#include "support/wav_builder.h"

namespace tralux::cddb {
namespace {

TEST(FindLocationTest, NameMatchesWithoutCaseAndCarriageReturnIsDropped) {
    std::string loc;
    ASSERT_TRUE(FindLocation("HTTP/1.1 302 Found\r\nlocation: http://a/b\r\nX: y\r\n\r\n", loc));
    EXPECT_EQ(loc, "http://a/b");
    ASSERT_TRUE(FindLocation(
        "HTTP/1.1 301\r\nContent-Location: http://wrong/\r\nLOCATION:http://right/\r\n", loc));
    EXPECT_EQ(loc, "http://right/");
    // Last header without a line end: taken to the end of the text.
    ASSERT_TRUE(FindLocation("HTTP/1.1 303\r\nLocation: http://end/x", loc));
    EXPECT_EQ(loc, "http://end/x");
    // A stray CR inside the line ends the value too.
    ASSERT_TRUE(FindLocation("HTTP/1.1 302\r\nLocation: http://a/b\rjunk\r\n", loc));
    EXPECT_EQ(loc, "http://a/b");
    EXPECT_FALSE(FindLocation("HTTP/1.1 302\r\nContent-Location: http://only/\r\n", loc));
    EXPECT_FALSE(FindLocation("HTTP/1.1 302\r\nLocation: \r\n", loc));
}

TEST(SplitUrlTest, HostPortAndObject) {
    UrlParts p;
    ASSERT_TRUE(SplitUrl("http://gnudb.gnudb.org/~cddb/cddb.cgi?cmd=x+y", p));
    EXPECT_EQ(p.scheme, "http");
    EXPECT_EQ(p.host, "gnudb.gnudb.org");
    EXPECT_EQ(p.port, 80);
    EXPECT_EQ(p.object, "/~cddb/cddb.cgi?cmd=x+y");
    ASSERT_TRUE(SplitUrl("HTTP://127.0.0.1:8880", p));
    EXPECT_EQ(p.scheme, "http");
    EXPECT_EQ(p.port, 8880);
    EXPECT_EQ(p.object, "/");
    EXPECT_FALSE(SplitUrl("/relative/path", p));
    EXPECT_FALSE(SplitUrl("http://", p));
    EXPECT_FALSE(SplitUrl("http://host:99999/", p));
    EXPECT_FALSE(SplitUrl("http://host/a b", p));
    EXPECT_FALSE(SplitUrl("http://user@host/", p));
}

TEST(SplitBodyLinesTest, LineEndsAndOldServersLatin1) {
    EXPECT_EQ(SplitBodyLines("a\r\nb\nc"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitBodyLines("x\r\n\r\n"), (std::vector<std::string>{"x", ""}));
    EXPECT_EQ(SplitBodyLines("DTITLE=Caf\xE9\r\n"), (std::vector<std::string>{"DTITLE=Café"}));
    EXPECT_EQ(SplitBodyLines("中文\n"), (std::vector<std::string>{"中文"}));
}

class FetchTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Loopback only: a proxy from the environment must not see these requests.
        ::unsetenv("http_proxy");
        ::unsetenv("HTTP_PROXY");
        TRALUX_REQUIRE_SERVER(server_);
        server_.Mark();
        ctx_.transport = http::MakeCurlTransport();
        ctx_.cancel = &cancel_;
        ctx_.showMessage = [this](const std::string& m) { messages_.push_back(m); };
        ctx_.askPassword = [this](const std::string&, std::string& u, std::string& p) {
            ++passwordAsked_;
            if (!givePassword_) return false;
            u = "tralux";
            p = password_;
            return true;
        };
    }
    std::string Server() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
    // One message that starts as the old one did, names the server and gives the reason.
    void ExpectNetworkMessage(const std::string& reason) const {
        ASSERT_EQ(messages_.size(), 1u);
        const std::string& m = messages_[0];
        EXPECT_EQ(m.rfind("網際網路錯誤! CDDB 伺服器 ", 0), 0u) << m;
        EXPECT_NE(m.find(reason), std::string::npos) << m;
        EXPECT_EQ(m.find("?cmd"), std::string::npos) << m;
    }
    std::string Query(const std::string& mode) const {
        return server_.Url(mode) +
               "?cmd=cddb+query+1b033103+3+150+20000+40000+817&hello=a+b+c+d&proto=6";
    }

    test::TempDir dir_;
    test::CddbServer& server_ = test::CddbServer::Shared();
    std::atomic<bool> cancel_{false};
    FetchContext ctx_;
    std::vector<std::string> messages_;
    int passwordAsked_ = 0;
    bool givePassword_ = false;
    std::string password_ = "secret";
    std::vector<std::string> lines_{"stale"};
    int error_ = -1;
};

TEST_F(FetchTest, PlainReplyWithOurHeaders) {
    ASSERT_TRUE(HttpFetchLines(Query("ok"), lines_, ctx_, &error_));
    ASSERT_EQ(lines_.size(), 1u);
    // The server answers 403 unless Accept and User-Agent are ours.
    EXPECT_EQ(lines_[0], "200 rock 1b033103 測試歌手 / 測試專輯");
    EXPECT_EQ(error_, kFetchOk);
    EXPECT_TRUE(messages_.empty());
}

// A missing page is no CDDB reply; the message names the server and the status.
TEST_F(FetchTest, MissingPageFailsNamingTheServer) {
    EXPECT_FALSE(HttpFetchLines(server_.Url("missing") + "?cmd=x", lines_, ctx_, &error_));
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(error_, kFetchRedirect);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "CDDB 伺服器 " + Server() + " (" + server_.Url("missing") +
                                ") 回應 HTTP 404 Not Found: 這個網址沒有 CDDB 服務");
}

TEST_F(FetchTest, OneRedirectIsFollowedToLocationNotContentLocation) {
    ASSERT_TRUE(HttpFetchLines(Query("redirect1"), lines_, ctx_, &error_));
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].substr(0, 8), "200 rock");
    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].substr(0, 4), "/ok/");
}

TEST_F(FetchTest, RedirectFailures) {
    struct Case {
        const char* mode;
        const char* message;
    } cases[] = {
        {"redirect2", "Error: Got status code "},
        {"nolocation", "Error: Site redirects with no new location"},
        {"ftpredirect", "Error: the redirected URL does not reference a HTTP resource."},
    };
    for (const Case& c : cases) {
        messages_.clear();
        lines_ = {"stale"};
        EXPECT_FALSE(HttpFetchLines(Query(c.mode), lines_, ctx_, &error_)) << c.mode;
        EXPECT_TRUE(lines_.empty()) << c.mode;
        EXPECT_EQ(error_, kFetchRedirect) << c.mode;
        EXPECT_EQ(messages_, std::vector<std::string>{c.message}) << c.mode;
    }
    // The second redirect was never requested.
    for (const std::string& r : server_.Requests())
        EXPECT_EQ(r.find("/ok/"), std::string::npos) << r;
}

TEST_F(FetchTest, OnlyHttpUrls) {
    EXPECT_FALSE(HttpFetchLines("ftp://127.0.0.1/x", lines_, ctx_, &error_));
    EXPECT_EQ(error_, kFetchBadUrl);
    EXPECT_EQ(messages_,
              std::vector<std::string>{"Error: can only use URLs beginning with http://"});
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(FetchTest, PasswordDeclinedIsAccessDenied) {
    EXPECT_FALSE(HttpFetchLines(Query("auth"), lines_, ctx_, &error_));
    EXPECT_EQ(passwordAsked_, 1);
    EXPECT_EQ(error_, kFetchBadUrl);
    EXPECT_EQ(messages_, std::vector<std::string>{"拒絕存取: 密碼無效             \n"});
}

TEST_F(FetchTest, PasswordGivenRetriesWithIt) {
    givePassword_ = true;
    ASSERT_TRUE(HttpFetchLines(Query("auth"), lines_, ctx_, &error_));
    EXPECT_EQ(passwordAsked_, 1);
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0].substr(0, 8), "200 rock");
    EXPECT_EQ(server_.Requests().size(), 2u);
}

TEST_F(FetchTest, AWrongPasswordRefusedAgainIsAccessDenied) {
    givePassword_ = true;
    password_ = "wrong";
    EXPECT_FALSE(HttpFetchLines(Query("auth"), lines_, ctx_, &error_));
    EXPECT_EQ(passwordAsked_, 1);
    EXPECT_TRUE(lines_.empty());  // never the refusal page
    EXPECT_EQ(error_, kFetchBadUrl);
    EXPECT_EQ(messages_, std::vector<std::string>{"拒絕存取: 密碼無效             \n"});
    EXPECT_EQ(server_.Requests().size(), 2u);
}

// An error page of a failing server is no CDDB reply: taking it as one would read as "no match".
TEST_F(FetchTest, ServerFailuresAreNetworkFailures) {
    for (const char* mode : {"error500", "error503"}) {
        messages_.clear();
        lines_ = {"stale"};
        EXPECT_FALSE(HttpFetchLines(Query(mode), lines_, ctx_, &error_)) << mode;
        EXPECT_TRUE(lines_.empty()) << mode;
        EXPECT_EQ(error_, kFetchNetwork) << mode;
        ExpectNetworkMessage(Server() + " (" + server_.Url(mode) + ") 回應 HTTP " +
                             std::string(mode).substr(5));
    }
}

TEST_F(FetchTest, MovedByAnyRedirectStatusAndToAnotherPort) {
    test::CddbServer other(dir_.path() / "other.txt");
    ASSERT_TRUE(other.Running());
    for (const std::string& mode :
         {std::string("moved301"), std::string("moved303"), "to" + std::to_string(other.Port())}) {
        lines_ = {"stale"};
        ASSERT_TRUE(HttpFetchLines(Query(mode), lines_, ctx_, &error_)) << mode;
        ASSERT_EQ(lines_.size(), 1u) << mode;
        EXPECT_EQ(lines_[0].substr(0, 8), "200 rock") << mode;
    }
    EXPECT_EQ(server_.Requests().size(), 5u);  // 301 and 303 answered here, the third elsewhere
    const auto there = other.Requests();
    ASSERT_EQ(there.size(), 1u);
    EXPECT_EQ(there[0].substr(0, 4), "/ok/");
}

TEST_F(FetchTest, AStalledServerIsGivenUpAtTheLowSpeedLimit) {
    ctx_.transport = http::MakeCurlTransport({std::chrono::seconds(5), std::chrono::seconds(1)});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(HttpFetchLines(Query("stall"), lines_, ctx_, &error_));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(error_, kFetchNetwork);
    ExpectNetworkMessage(Server() + " (" + server_.Url("stall") +
                         "): 伺服器在時限內沒有回應。系統訊息: ");
}

TEST_F(FetchTest, AServerThatAcceptsAndNeverAnswersTimesOut) {
    // Listening but never reading: the connection is made, no byte ever comes back.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), size), 0);
    ASSERT_EQ(::listen(fd, 4), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size), 0);
    const std::string server = "127.0.0.1:" + std::to_string(ntohs(addr.sin_port));
    ctx_.transport = http::MakeCurlTransport({std::chrono::seconds(1), std::chrono::seconds(1)});
    EXPECT_FALSE(HttpFetchLines("http://" + server + "/cddb.cgi?cmd=x", lines_, ctx_, &error_));
    ::close(fd);
    EXPECT_EQ(error_, kFetchNetwork);
    ExpectNetworkMessage(server + " (http://" + server +
                         "/cddb.cgi): 伺服器在時限內沒有回應。系統訊息: ");
}

TEST_F(FetchTest, BodyOverTheCapFails) {
    EXPECT_FALSE(HttpFetchLines(server_.Url("big"), lines_, ctx_, &error_));
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(error_, kFetchNetwork);
    ExpectNetworkMessage(Server() + " (" + server_.Url("big") + "): 回覆超過 1 MB");
}

TEST_F(FetchTest, CancelHalfWayThroughASlowReply) {
    std::thread canceller([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(600));
        cancel_.store(true);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(HttpFetchLines(server_.Url("slow"), lines_, ctx_, &error_));
    const auto took = std::chrono::steady_clock::now() - start;
    canceller.join();
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(error_, kFetchCancelled);
    EXPECT_TRUE(messages_.empty());
    // The reply would take 30 s; the abort comes with the transfer's next progress call.
    EXPECT_LT(took, std::chrono::seconds(5));
}

// With the default limits a silent server would hold the lookup for 30 s; a stop ends it
// within a fraction of a second and is not taken for a network failure.
TEST_F(FetchTest, AStopEndsADatabaseLookupOnASilentServerAtOnce) {
    test::SilentServer silent;
    ASSERT_TRUE(silent.Ok());
    ::setenv("TRALUX_CACHE_DIR", (dir_.path() / "cache").c_str(), 1);
    const cd::ArDiscIds ids{0x84e, 0x172b, 0x1e02b203, 3};
    std::chrono::steady_clock::time_point stopAt;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        stopAt = std::chrono::steady_clock::now();
        cancel_.store(true);
    });
    const ArLookup found = FetchArDatabase(silent.Url(), ids, http::MakeCurlTransport(), &cancel_);
    const auto late = std::chrono::steady_clock::now() - stopAt;
    stopper.join();
    EXPECT_EQ(found.status, ArLookup::Stopped);
    EXPECT_LT(late, std::chrono::milliseconds(250));
    ::unsetenv("TRALUX_CACHE_DIR");
}

TEST_F(FetchTest, CancelledBeforeStartSendsNothing) {
    cancel_.store(true);
    EXPECT_FALSE(HttpFetchLines(Query("ok"), lines_, ctx_, &error_));
    EXPECT_EQ(error_, kFetchCancelled);
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(FetchTest, NothingListeningIsANetworkError) {
    // A port of a server that just went away.
    int port;
    {
        test::CddbServer gone(dir_.path() / "gone.txt");
        port = gone.Port();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(
        HttpFetchLines("http://127.0.0.1:" + std::to_string(port) + "/ok/", lines_, ctx_, &error_));
    EXPECT_EQ(error_, kFetchNetwork);
    const std::string server = "127.0.0.1:" + std::to_string(port);
    ExpectNetworkMessage(server + " (http://" + server + "/ok/): 伺服器拒絕連線。系統訊息: ");
    EXPECT_NE(messages_[0].find("Connection refused"), std::string::npos) << messages_[0];
}

// A name the resolver does not know (no lookup made here: a fake client reports it).
TEST_F(FetchTest, AnUnknownHostNameIsSaidSo) {
    struct NoHost : HttpTransport {
        HttpOutcome Get(const HttpRequest&, const std::atomic<bool>&, std::size_t,
                        HttpResponse& response, std::string& error) override {
            response.failure = NetFailure::NoHost;
            error = "Could not resolve host: cddb.example";
            return HttpOutcome::Failed;
        }
    };
    ctx_.transport = std::make_shared<NoHost>();
    EXPECT_FALSE(HttpFetchLines("http://cddb.example/cgi?cmd=x", lines_, ctx_, &error_));
    EXPECT_EQ(messages_,
              std::vector<std::string>{
                  "網際網路錯誤! CDDB 伺服器 cddb.example:80 (http://cddb.example/cgi): "
                  "找不到伺服器的主機名稱。系統訊息: Could not resolve host: cddb.example"});
}

TEST(FetchWithoutClientTest, NoTransportFailsCleanly) {
    SetHttpTransport(nullptr);
    std::vector<std::string> lines{"x"};
    int error = -1;
    EXPECT_FALSE(HttpFetchLines("http://127.0.0.1:1/", lines, FetchContext{}, &error));
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(error, kFetchNetwork);
}

}  // namespace
}  // namespace tralux::cddb
