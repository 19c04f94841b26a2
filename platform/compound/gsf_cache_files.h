#pragma once
// The cache file's platform services: compound files through libgsf's MS-OLE reader and
// writer, advisory file locks, and Big5 text through iconv.
#include <memory>

#include "cddb/cache.h"

namespace tralux::compound {

std::shared_ptr<cddb::CacheFiles> MakeGsfCacheFiles();

}  // namespace tralux::compound
