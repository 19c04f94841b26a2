#pragma once
// The cache file's platform services: compound files through libgsf's MS-OLE reader and
// writer, advisory file locks, and Big5 text through iconv.
#include <chrono>
#include <memory>

#include "cddb/cache.h"

namespace tralux::compound {

// `lockWait`: how long a write waits for another writer's lock before it fails.
std::shared_ptr<cddb::CacheFiles> MakeGsfCacheFiles(
    std::chrono::milliseconds lockWait = std::chrono::seconds(10));

}  // namespace tralux::compound
