#include "platform/http/curl_transport.h"

#include <curl/curl.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace tralux::http {
namespace {

constexpr int kCancelPollMs = 50;

struct Transfer {
    const std::atomic<bool>* cancel;
    std::size_t maxBody;
    cddb::HttpResponse* response;
    bool tooLarge = false;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    if (t->response->body.size() + n > t->maxBody) {
        t->tooLarge = true;
        return 0;  // makes libcurl stop with a write error
    }
    t->response->body.append(data, n);
    return n;
}

std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::size_t n = size * count;
    const std::string_view line(data, n);
    // A new status line starts the headers of another response (after 100 Continue).
    if (line.substr(0, 5) == "HTTP/") t->response->rawHeaders.clear();
    if (t->response->rawHeaders.size() + n > 64 * 1024) return 0;
    t->response->rawHeaders.append(line);
    return n;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->cancel->load() ? 1 : 0;  // non-zero aborts the transfer
}

cddb::NetFailure Classify(CURLcode rc, long osErrno) {
    switch (rc) {
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return cddb::NetFailure::NoHost;
        case CURLE_OPERATION_TIMEDOUT:
            return cddb::NetFailure::TimedOut;
        case CURLE_COULDNT_CONNECT:
            if (osErrno == ECONNREFUSED) return cddb::NetFailure::Refused;
            if (osErrno == ETIMEDOUT) return cddb::NetFailure::TimedOut;
            return cddb::NetFailure::Other;
        default:
            return cddb::NetFailure::Other;
    }
}

// The transfer runs on a multi handle polled a few times a second, so a cancel set while the
// server is silent ends it at once: the progress callback alone comes only once a second then.
CURLcode Perform(CURL* curl, const std::atomic<bool>& cancel) {
    CURLM* multi = curl_multi_init();
    if (!multi) return curl_easy_perform(curl);
    curl_multi_add_handle(multi, curl);
    CURLcode rc = CURLE_ABORTED_BY_CALLBACK;
    int running = 1;
    while (!cancel.load()) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            rc = CURLE_FAILED_INIT;
            break;
        }
        if (running == 0) {
            rc = CURLE_RECV_ERROR;  // unless the handle reports how it ended
            int left = 0;
            while (CURLMsg* m = curl_multi_info_read(multi, &left))
                if (m->msg == CURLMSG_DONE && m->easy_handle == curl) rc = m->data.result;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kCancelPollMs, nullptr);
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    return rc;
}

class CurlTransport final : public cddb::HttpTransport {
public:
    explicit CurlTransport(CurlOptions options) : options_(options) {
        static std::once_flag once;
        std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    }

    cddb::HttpOutcome Get(const cddb::HttpRequest& request, const std::atomic<bool>& cancel,
                          std::size_t maxBody, cddb::HttpResponse& response,
                          std::string& error) override {
        response = cddb::HttpResponse{};
        if (cancel.load()) return cddb::HttpOutcome::Cancelled;
        CURL* curl = curl_easy_init();
        if (!curl) {
            error = "curl_easy_init failed";
            return cddb::HttpOutcome::Failed;
        }
        Transfer t{&cancel, maxBody, &response};
        curl_slist* headers = nullptr;
        for (const std::string& h : request.headers)
            headers = curl_slist_append(headers, h.c_str());
        // Ask the server for a fresh answer, as the lookup never wants a cached one.
        headers = curl_slist_append(headers, "Cache-Control: no-cache");
        headers = curl_slist_append(headers, "Pragma: no-cache");
        char detail[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, detail);
        curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);  // we run on a worker thread
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT,
                         static_cast<long>(options_.connectTimeout.count()));
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                         static_cast<long>(options_.lowSpeedTime.count()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        if (request.useCredentials) {
            curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
            curl_easy_setopt(curl, CURLOPT_USERNAME, request.user.c_str());
            curl_easy_setopt(curl, CURLOPT_PASSWORD, request.password.c_str());
        }
        const CURLcode rc = Perform(curl, cancel);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        response.status = static_cast<int>(status);
        long osErrno = 0;
        curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osErrno);
        curl_slist_free_all(headers);
        curl_easy_cleanup(curl);
        if (rc == CURLE_OK) return cddb::HttpOutcome::Ok;
        if (rc == CURLE_ABORTED_BY_CALLBACK || cancel.load()) return cddb::HttpOutcome::Cancelled;
        if (t.tooLarge) return cddb::HttpOutcome::TooLarge;
        response.failure = Classify(rc, osErrno);
        error = detail[0] ? detail : curl_easy_strerror(rc);
        // The system's own word ("Connection refused") is what a user can search for.
        if (osErrno != 0) {
            const std::string system = std::strerror(static_cast<int>(osErrno));
            if (error.find(system) == std::string::npos) error += " (" + system + ")";
        }
        return cddb::HttpOutcome::Failed;
    }

private:
    CurlOptions options_;
};

}  // namespace

CurlOptions CurlOptionsFromEnvironment() {
    CurlOptions options;
    if (const char* text = std::getenv("TRALUX_HTTP_TIMEOUT")) {
        char* end = nullptr;
        const long seconds = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && seconds >= 1 && seconds <= 3600) {
            options.connectTimeout = std::chrono::seconds(seconds);
            options.lowSpeedTime = std::chrono::seconds(seconds);
        }
    }
    return options;
}

std::shared_ptr<cddb::HttpTransport> MakeCurlTransport(CurlOptions options) {
    return std::make_shared<CurlTransport>(options);
}

}  // namespace tralux::http
