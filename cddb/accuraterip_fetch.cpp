#include "cddb/accuraterip_fetch.h"

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "cddb/cache.h"

namespace tralux::cddb {
namespace {

namespace fs = std::filesystem;

// A database file holds a few hundred bytes per pressing; anything this big is not one.
constexpr std::size_t kMaxDatabaseBytes = 1u << 20;

std::optional<std::vector<cd::ArResponse>> Parse(const std::string& bytes) {
    return cd::ParseArDatabase({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
}

// Written under a temporary name and renamed, so a reader never sees half a file.
void Store(const fs::path& path, const std::string& bytes) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    const fs::path temp = path.string() + ".part" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            out.close();
            fs::remove(temp, ec);
            return;
        }
    }
    fs::rename(temp, path, ec);
    if (ec) fs::remove(temp, ec);
}

}  // namespace

fs::path ArCacheFolder() {
    return CacheFolder() / "accuraterip";
}

ArLookup FetchArDatabase(const std::string& baseUrl, const cd::ArDiscIds& ids,
                         std::shared_ptr<HttpTransport> transport,
                         const std::atomic<bool>* cancel) {
    ArLookup result;
    const fs::path cached = ArCacheFolder() / cd::ArFileName(ids);
    {
        std::ifstream in(cached, std::ios::binary);
        if (in) {
            const std::string bytes((std::istreambuf_iterator<char>(in)), {});
            if (auto parsed = Parse(bytes)) {
                result.status = ArLookup::Found;
                result.responses = std::move(*parsed);
                result.fromCache = true;
                return result;
            }
        }
    }
    if (!transport) transport = GetHttpTransport();
    std::string base = baseUrl;
    while (!base.empty() && base.back() == '/') base.pop_back();
    const std::string url = base + cd::ArUrlPath(ids);
    UrlParts parts;
    if (!SplitUrl(url, parts) || parts.scheme != "http") {
        result.error = url + ": not an http:// URL";
        return result;
    }
    if (!transport) {
        result.error = url + ": no HTTP client";
        return result;
    }
    HttpRequest request;
    request.url = url;
    request.headers = {"User-Agent: QX_TRALUX"};
    HttpResponse response;
    std::string error;
    const std::atomic<bool> never{false};
    const HttpOutcome outcome =
        transport->Get(request, cancel ? *cancel : never, kMaxDatabaseBytes, response, error);
    if (outcome == HttpOutcome::Cancelled) {
        result.status = ArLookup::Stopped;
        result.error = url + ": stopped";
        return result;
    }
    if (outcome != HttpOutcome::Ok) {
        result.error = url + ": " +
                       (outcome == HttpOutcome::TooLarge ? std::string("answer too large") : error);
        return result;
    }
    if (response.status == 404) {
        result.status = ArLookup::NotInDatabase;
        return result;
    }
    if (response.status != 200) {
        result.error = url + ": status " + std::to_string(response.status);
        return result;
    }
    auto parsed = Parse(response.body);
    if (!parsed) {
        result.error = url + ": not a database file";
        return result;
    }
    Store(cached, response.body);
    result.status = ArLookup::Found;
    result.responses = std::move(*parsed);
    return result;
}

}  // namespace tralux::cddb
