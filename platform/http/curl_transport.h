#pragma once
// The HTTP client of the CD information lookup, over libcurl.
#include <chrono>
#include <memory>

#include "cddb/http_fetch.h"

namespace tralux::http {

struct CurlOptions {
    std::chrono::seconds connectTimeout{15};
    // A transfer slower than one byte a second for this long is given up.
    std::chrono::seconds lowSpeedTime{30};
};

// The defaults, or both limits set to TRALUX_HTTP_TIMEOUT seconds (1 to 3600) when that is set.
CurlOptions CurlOptionsFromEnvironment();

// Plain GET, redirects not followed, proxy from the environment (http_proxy, no_proxy).
std::shared_ptr<cddb::HttpTransport> MakeCurlTransport(CurlOptions options = {});

}  // namespace tralux::http
