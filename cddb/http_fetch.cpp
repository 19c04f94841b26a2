#include "cddb/http_fetch.h"

#include <algorithm>
#include <mutex>

#include "cddb/cd_info.h"

namespace tralux::cddb {
namespace {

std::mutex g_transportMutex;
std::shared_ptr<HttpTransport> g_transport;

constexpr const char* kMsgNotHttp = "Error: can only use URLs beginning with http://";
constexpr const char* kMsgDenied = "拒絕存取: 密碼無效             \n";
constexpr const char* kMsgNoLocation = "Error: Site redirects with no new location";
constexpr const char* kMsgBadRedirect = "Error: the redirected URL could not be parsed.";
constexpr const char* kMsgRedirectNotHttp =
    "Error: the redirected URL does not reference a HTTP resource.";
constexpr const char* kMsgRedirectStatus = "Error: Got status code ";
constexpr const char* kMsgInternetHead = "網際網路錯誤! ";

// The phrase after the status code of the response's status line ("Not Found").
std::string ReasonPhrase(const std::string& rawHeaders) {
    const std::string_view first =
        std::string_view(rawHeaders).substr(0, rawHeaders.find_first_of("\r\n"));
    const std::size_t code = first.find(' ');
    if (code == std::string_view::npos) return {};
    const std::size_t phrase = first.find(' ', code + 1);
    if (phrase == std::string_view::npos) return {};
    return TruncateUtf8(TrimBlanks(StripControls(first.substr(phrase + 1))), 80);
}

std::string Where(const std::string& url) {
    return "CDDB 伺服器 " + ServerName(url) + " (" + UrlWithoutQuery(url) + ")";
}

std::string NetReason(NetFailure failure) {
    switch (failure) {
        case NetFailure::Refused:
            return "伺服器拒絕連線";
        case NetFailure::TimedOut:
            return "伺服器在時限內沒有回應";
        case NetFailure::NoHost:
            return "找不到伺服器的主機名稱";
        case NetFailure::None:
        case NetFailure::Other:
            break;
    }
    return "無法與伺服器通訊";
}

struct FetchFailure {
    int code;
};

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

class Fetch {
public:
    Fetch(const FetchContext& ctx, std::shared_ptr<HttpTransport> transport)
        : ctx_(ctx), transport_(std::move(transport)) {}

    std::vector<std::string> Run(const std::string& url) {
        UrlParts parts;
        if (!SplitUrl(url, parts) || parts.scheme != "http") Fail(kFetchBadUrl, kMsgNotHttp);
        CheckCancel();
        HttpRequest request = MakeRequest(url);
        HttpResponse response = Send(request);
        CheckCancel();
        if (response.status == 401) {
            std::string user, password;
            const bool retry = ctx_.askPassword && ctx_.askPassword(url, user, password);
            if (!retry) Fail(kFetchBadUrl, kMsgDenied);
            CheckCancel();
            request.useCredentials = true;
            request.user = user;
            request.password = password;
            response = Send(request);
            // The name or password was refused again: the body is the server's refusal page.
            if (response.status == 401) Fail(kFetchBadUrl, kMsgDenied);
        }
        CheckCancel();
        if (response.status == 301 || response.status == 302 || response.status == 303) {
            std::string location;
            if (!FindLocation(response.rawHeaders, location)) Fail(kFetchRedirect, kMsgNoLocation);
            CheckCancel();
            UrlParts target;
            if (!SplitUrl(location, target)) Fail(kFetchRedirect, kMsgBadRedirect);
            if (target.scheme != "http") Fail(kFetchRedirect, kMsgRedirectNotHttp);
            CheckCancel();
            response = Send(MakeRequest(location));
            CheckCancel();
            // One redirect only: a second one is a failure like any other status.
            if (response.status != 200) Fail(kFetchRedirect, kMsgRedirectStatus);
        }
        // A server failure: its body is an error page, never a CDDB reply to take as "no match".
        if (response.status >= 500)
            Fail(kFetchNetwork, kMsgInternetHead + Where(lastUrl_) + " 回應 " + Status(response));
        // A missing page is no CDDB reply: its text would read as garbage or as "no match".
        if (response.status >= 400)
            Fail(kFetchRedirect,
                 Where(lastUrl_) + " 回應 " + Status(response) + ": 這個網址沒有 CDDB 服務");
        // Other statuses are no failure here: the CDDB status line decides.
        std::vector<std::string> lines = SplitBodyLines(response.body);
        CheckCancel();
        return lines;
    }

private:
    [[noreturn]] void Fail(int code, const std::string& message) {
        if (ctx_.showMessage) ctx_.showMessage(message);
        throw FetchFailure{code};
    }
    static std::string Status(const HttpResponse& response) {
        const std::string phrase = ReasonPhrase(response.rawHeaders);
        return "HTTP " + std::to_string(response.status) + (phrase.empty() ? "" : " " + phrase);
    }
    void CheckCancel() {
        if (ctx_.cancel && ctx_.cancel->load()) throw FetchFailure{kFetchCancelled};
    }
    static HttpRequest MakeRequest(const std::string& url) {
        HttpRequest r;
        r.url = url;
        for (const char* h : kRequestHeaders) r.headers.emplace_back(h);
        return r;
    }
    HttpResponse Send(const HttpRequest& request) {
        lastUrl_ = request.url;
        HttpResponse response;
        std::string error;
        static const std::atomic<bool> kNever{false};
        const HttpOutcome outcome = transport_->Get(request, ctx_.cancel ? *ctx_.cancel : kNever,
                                                    kMaxReplyBytes, response, error);
        switch (outcome) {
            case HttpOutcome::Ok:
                return response;
            case HttpOutcome::Cancelled:
                throw FetchFailure{kFetchCancelled};
            case HttpOutcome::TooLarge:
            case HttpOutcome::Failed:
                break;
        }
        // A cancel that broke the transfer is a cancel, not a network failure.
        CheckCancel();
        if (outcome == HttpOutcome::TooLarge)
            Fail(kFetchNetwork, kMsgInternetHead + Where(request.url) + ": 回覆超過 " +
                                    std::to_string(kMaxReplyBytes >> 20) + " MB,不是 CDDB 回覆");
        std::string text =
            kMsgInternetHead + Where(request.url) + ": " + NetReason(response.failure);
        const std::string detail = TruncateUtf8(TrimBlanks(StripControls(error)), 300);
        if (!detail.empty()) text += "。系統訊息: " + detail;
        Fail(kFetchNetwork, text);
    }

    const FetchContext& ctx_;
    std::string lastUrl_;
    std::shared_ptr<HttpTransport> transport_;
};

}  // namespace

void SetHttpTransport(std::shared_ptr<HttpTransport> transport) {
    std::lock_guard lock(g_transportMutex);
    g_transport = std::move(transport);
}

std::shared_ptr<HttpTransport> GetHttpTransport() {
    std::lock_guard lock(g_transportMutex);
    return g_transport;
}

bool HttpFetchLines(const std::string& url, std::vector<std::string>& lines,
                    const FetchContext& ctx, int* error) {
    lines.clear();
    if (error) *error = kFetchOk;
    std::shared_ptr<HttpTransport> transport = ctx.transport ? ctx.transport : GetHttpTransport();
    try {
        if (!transport) {
            if (ctx.showMessage)
                ctx.showMessage(kMsgInternetHead + Where(url) + ": 沒有可用的 HTTP 用戶端");
            throw FetchFailure{kFetchNetwork};
        }
        lines = Fetch(ctx, std::move(transport)).Run(url);
        return true;
    } catch (const FetchFailure& f) {
        lines.clear();
        if (error) *error = f.code;
        return false;
    }
}

std::string ServerName(const std::string& url) {
    UrlParts parts;
    if (!SplitUrl(url, parts)) return TruncateUtf8(StripControls(url), 200);
    return parts.host + ":" + std::to_string(parts.port);
}

std::string UrlWithoutQuery(const std::string& url) {
    return TruncateUtf8(StripControls(url.substr(0, url.find_first_of("?#"))), 300);
}

bool SplitUrl(const std::string& url, UrlParts& parts) {
    parts = UrlParts{};
    const std::size_t colon = url.find("://");
    if (colon == std::string::npos || colon == 0) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        const char c = url[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
        if (!ok) return false;
        parts.scheme.push_back(Lower(c));
    }
    const std::size_t hostStart = colon + 3;
    std::size_t hostEnd = url.find_first_of("/?#", hostStart);
    if (hostEnd == std::string::npos) hostEnd = url.size();
    std::string authority = url.substr(hostStart, hostEnd - hostStart);
    if (authority.find('@') != std::string::npos) return false;  // no names in our URLs
    for (char c : authority)
        if (static_cast<unsigned char>(c) <= ' ' || c == '\\') return false;
    parts.port = parts.scheme == "https" ? 443 : 80;
    std::string host = authority;
    const std::size_t bracket = authority.rfind(']');
    const std::size_t portColon = authority.rfind(':');
    if (portColon != std::string::npos && (bracket == std::string::npos || portColon > bracket)) {
        host = authority.substr(0, portColon);
        const std::string port = authority.substr(portColon + 1);
        if (port.empty() || port.size() > 5 ||
            !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        parts.port = std::stoi(port);
        if (parts.port < 1 || parts.port > 65535) return false;
    }
    if (host.empty()) return false;
    parts.host = host;
    parts.object = hostEnd < url.size() ? url.substr(hostEnd) : "/";
    if (parts.object[0] != '/') parts.object.insert(0, "/");
    for (char c : parts.object)
        if (static_cast<unsigned char>(c) < ' ' || c == ' ') return false;
    return true;
}

bool FindLocation(const std::string& rawHeaders, std::string& location) {
    std::size_t pos = 0;
    while (pos < rawHeaders.size()) {
        std::size_t end = rawHeaders.find('\n', pos);
        if (end == std::string::npos) end = rawHeaders.size();
        std::string_view line(rawHeaders.data() + pos, end - pos);
        pos = end + 1;
        const std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        // The whole name must be "Location": "Content-Location" names something else.
        if (!EqualNoCase(TrimBlanks(line.substr(0, colon)), "Location")) continue;
        // The value ends at the line's CR (or a stray one inside it), never taking it along.
        std::string_view value = line.substr(colon + 1);
        value = value.substr(0, value.find('\r'));
        location = std::string(TrimBlanks(value));
        return !location.empty();
    }
    return false;
}

std::vector<std::string> SplitBodyLines(const std::string& body) {
    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < body.size()) {
        std::size_t end = body.find('\n', pos);
        const bool last = end == std::string::npos;
        if (last) end = body.size();
        std::string line = body.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!IsValidUtf8(line)) line = Latin1ToUtf8(line);
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    return lines;
}

}  // namespace tralux::cddb
