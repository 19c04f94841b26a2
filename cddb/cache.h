#pragma once
// The CD information cache: "cache.dat", a compound file with one sub-storage per disc named
// "<disc id>.<track count>", holding the streams "DiskID", "Comments", "Copyright", "Title",
// "NumTracks" (32-bit little-endian), "Year" and "Genre" when known, and "TTITLE<i>"/"EXTT<i>"
// per track. Entries of older versions are named without the identifier's leading zeros and
// are still read. Text streams hold the
// text and one terminating zero byte.
//
// Writing rewrites the whole file: every other disc and the new entry go into a temporary file
// that replaces the old one, under a lock file, so readers see the old or the new cache and no
// disc is lost. A damaged or foreign file reads as a miss; the next write moves it aside to
// "cache.dat.damaged" (".damaged.2" and on when one is there already) and starts a new one.
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cddb/cd_info.h"

namespace tralux::cddb {

struct CompoundStream {
    std::string name;
    std::string data;
};
struct CompoundStorage {
    std::string name;
    std::vector<CompoundStream> streams;
};
struct CompoundTree {
    std::vector<CompoundStorage> storages;  // sub-storages of the root
    bool rootHasStreams = false;            // never so in a cache we wrote
};

enum class CompoundReadResult { Ok, Missing, Damaged };

class FileLock {
public:
    virtual ~FileLock() = default;
};

// The platform's file services the cache needs (libgsf and POSIX in platform/compound).
class CacheFiles {
public:
    virtual ~CacheFiles() = default;
    // Reads the storages (all, or only the one named `onlyStorage`) with their streams.
    virtual CompoundReadResult Read(const std::filesystem::path& file,
                                    const std::string* onlyStorage, CompoundTree& tree) = 0;
    // Writes `tree` as a new compound file at `file` and flushes it to disk.
    virtual bool Write(const std::filesystem::path& file, const CompoundTree& tree) = 0;
    // Exclusive lock on `lockFile` (created when missing); null when it cannot be had.
    virtual std::unique_ptr<FileLock> Lock(const std::filesystem::path& lockFile) = 0;
    virtual bool FolderWritable(const std::filesystem::path& folder) = 0;
    // Texts of caches written by the older program (Big5) as UTF-8; nullopt when not Big5.
    virtual std::optional<std::string> LegacyToUtf8(std::string_view bytes) = 0;
};

void SetCacheFiles(std::shared_ptr<CacheFiles> files);
std::shared_ptr<CacheFiles> GetCacheFiles();

// Folder of "cache.dat": the folder set here, else $TRALUX_CACHE_DIR, else
// $XDG_DATA_HOME/Quorvatix/tralux (~/.local/share when unset or not absolute).
void SetCacheFolder(std::filesystem::path folder);
std::filesystem::path CacheFolder();
std::filesystem::path CacheFile();

// The sub-storage name of a disc.
std::string CacheEntryName(const CdInfo& info);

// Needs the disc identifier text and the N track entries (with their placeholder titles);
// fills comments, extended data, disc title and each track's title and extended data. A
// stream that cannot be read leaves its field as it was. True on a hit.
bool CacheRead(CdInfo& info);
// True when the whole entry was written.
bool CacheWrite(const CdInfo& info);

// One disc's storage as it is written, and a storage read back into `info` (exposed for the
// tests and the fuzzer).
CompoundStorage EncodeEntry(const CdInfo& info);
void DecodeEntry(const CompoundStorage& storage, CdInfo& info, CacheFiles* legacy);
// A stream's bytes as text: up to the first zero; Big5 (or else ISO-8859-1) when not UTF-8.
std::string DecodeText(std::string_view bytes, CacheFiles* legacy);
// True when every storage name reads "<hex>.<decimal>" and the root holds no streams.
bool LooksLikeCache(const CompoundTree& tree);

}  // namespace tralux::cddb
