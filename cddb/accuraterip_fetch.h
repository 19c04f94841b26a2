#pragma once
// Fetching a disc's AccurateRip database file from a server (base URL "http://HOST:PORT"), with
// the answer kept beside the CD-information cache so a second rip of the disc asks nobody.
#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cd/accuraterip.h"
#include "cddb/http_fetch.h"

namespace tralux::cddb {

struct ArLookup {
    enum Status { Found, NotInDatabase, Failed, Stopped } status = Failed;
    std::vector<cd::ArResponse> responses;
    bool fromCache = false;
    std::string error;  // for Failed: what went wrong, with the URL
};

// The folder the database files are cached in: "accuraterip" in CacheFolder().
std::filesystem::path ArCacheFolder();

// A 404 means the disc is not in the database; a file that does not parse is a failure and is
// not cached. `transport` null: the process-wide one. Setting `cancel` (never written here) ends
// the transfer at once with Stopped.
ArLookup FetchArDatabase(const std::string& baseUrl, const cd::ArDiscIds& ids,
                         std::shared_ptr<HttpTransport> transport = nullptr,
                         const std::atomic<bool>* cancel = nullptr);

}  // namespace tralux::cddb
