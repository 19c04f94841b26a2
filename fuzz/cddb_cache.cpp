// Arbitrary bytes as "cache.dat": reading is a hit or a miss with valid UTF-8 texts, never a
// crash.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "cddb/cache.h"
#include "platform/compound/gsf_cache_files.h"

// libgsf's MS-OLE reader drops a few directory entries of some damaged files; those are its
// leaks, not ours (every object we get is released).
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\nleak:libgsf-1.so\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tralux::cddb;
    static const std::filesystem::path folder = [] {
        char tmpl[] = "/tmp/fuzz-cddb-cache-XXXXXX";
        return std::filesystem::path(::mkdtemp(tmpl));
    }();
    static const bool init = [] {
        SetCacheFiles(tralux::compound::MakeGsfCacheFiles());
        SetCacheFolder(folder);
        return true;
    }();
    (void)init;
    {
        std::ofstream f(folder / "cache.dat", std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    CdInfo info;
    ResetForDisc(info, 0x2000301, 1);
    if (CacheRead(info) && !IsValidUtf8(info.tracks[0].title)) __builtin_trap();
    CompoundTree tree;
    GetCacheFiles()->Read(folder / "cache.dat", nullptr, tree);
    for (const CompoundStorage& s : tree.storages) {
        CdInfo any;
        ResetForDisc(any, 1, 3);
        DecodeEntry(s, any, GetCacheFiles().get());
        if (!IsValidUtf8(any.discTitle)) __builtin_trap();
    }
    return 0;
}
