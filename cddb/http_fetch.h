#pragma once
// One HTTP GET whose body comes back as text lines: the only network access of the CD
// information lookup. The client underneath follows no redirect by itself; the one redirect
// we accept, the password question and every message are handled here.
#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tralux::cddb {

struct HttpRequest {
    std::string url;
    std::vector<std::string> headers;  // "Name: value"
    bool useCredentials = false;
    std::string user, password;
};

// Why a transfer failed below HTTP, so the user is told in words they can act on.
enum class NetFailure { None, Refused, TimedOut, NoHost, Other };

struct HttpResponse {
    int status = 0;
    std::string rawHeaders;  // the header block of the final response, CR-LF separated
    std::string body;
    NetFailure failure = NetFailure::None;  // set with HttpOutcome::Failed
};

enum class HttpOutcome { Ok, Cancelled, TooLarge, Failed };

// The client library behind the fetch (libcurl in platform/http; fakes in tests).
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    // Performs the GET without following redirects. Watches `cancel` during the transfer and
    // stops with Cancelled once it is set; stops with TooLarge once the body passes `maxBody`.
    // On Failed, `error` holds the client's and the system's reason.
    virtual HttpOutcome Get(const HttpRequest& request, const std::atomic<bool>& cancel,
                            std::size_t maxBody, HttpResponse& response, std::string& error) = 0;
};

// Process-wide client; null until a front end installs one (the fetch then fails).
void SetHttpTransport(std::shared_ptr<HttpTransport> transport);
std::shared_ptr<HttpTransport> GetHttpTransport();

struct FetchContext {
    const std::atomic<bool>* cancel = nullptr;  // never written here
    // A message for the user (shown by the user interface thread).
    std::function<void(const std::string& text)> showMessage;
    // 401: asks for a name and password; false when the user declines.
    std::function<bool(const std::string& url, std::string& user, std::string& password)>
        askPassword;
    std::shared_ptr<HttpTransport> transport;  // null: the process-wide one
};

// Why the last fetch on this thread failed: 0 none, 1 bad URL or access denied, 2 redirect or
// status failure, 3 cancelled, 4 network, client or server (5xx) failure.
enum FetchError : int {
    kFetchOk = 0,
    kFetchBadUrl = 1,
    kFetchRedirect = 2,
    kFetchCancelled = 3,
    kFetchNetwork = 4
};

// "host:port" of a URL (the URL itself when it does not parse), for messages.
std::string ServerName(const std::string& url);
// The URL without its query: what a message shows of a request.
std::string UrlWithoutQuery(const std::string& url);

// True with the body lines (line ends removed) on success; false with `lines` empty otherwise.
// `error`, when given, receives the FetchError.
bool HttpFetchLines(const std::string& url, std::vector<std::string>& lines,
                    const FetchContext& ctx, int* error = nullptr);

inline constexpr std::size_t kMaxReplyBytes = 1u << 20;
inline constexpr const char* kRequestHeaders[] = {"Accept: text/*", "User-Agent: QX_TRALUX"};

// --- Pieces, exposed for tests ---------------------------------------------------------------
struct UrlParts {
    std::string scheme;  // lowercase
    std::string host;
    int port = 0;
    std::string object;  // path and query, "/" at least
};
// False when the text is not an absolute URL with a host.
bool SplitUrl(const std::string& url, UrlParts& parts);
// Value of the "Location" header (name matched without regard to case); false when absent.
bool FindLocation(const std::string& rawHeaders, std::string& location);
// The body split at line feeds, carriage returns removed; a line that is not UTF-8 is taken as
// ISO-8859-1 (an old server) and converted.
std::vector<std::string> SplitBodyLines(const std::string& body);

}  // namespace tralux::cddb
