#include "cddb/cache.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <system_error>

namespace tralux::cddb {
namespace fs = std::filesystem;
namespace {

std::mutex g_mutex;
std::shared_ptr<CacheFiles> g_files;
fs::path g_folder;

std::string TextStream(std::string_view text) {
    std::string data(text);
    data.push_back('\0');
    return data;
}

// Older versions named entries without the leading zeros of the disc identifier.
std::string LegacyEntryName(const CdInfo& info) {
    const std::size_t first = info.discIdText.find_first_not_of('0');
    const std::string id = first == std::string::npos ? "0" : info.discIdText.substr(first);
    return id + "." + std::to_string(info.tracks.size());
}

const CompoundStream* FindStream(const CompoundStorage& storage, std::string_view name) {
    for (const CompoundStream& s : storage.streams)
        if (s.name == name) return &s;
    return nullptr;
}

}  // namespace

void SetCacheFiles(std::shared_ptr<CacheFiles> files) {
    std::lock_guard lock(g_mutex);
    g_files = std::move(files);
}

std::shared_ptr<CacheFiles> GetCacheFiles() {
    std::lock_guard lock(g_mutex);
    return g_files;
}

void SetCacheFolder(fs::path folder) {
    std::lock_guard lock(g_mutex);
    g_folder = std::move(folder);
}

fs::path CacheFolder() {
    {
        std::lock_guard lock(g_mutex);
        if (!g_folder.empty()) return g_folder;
    }
    if (const char* env = std::getenv("TRALUX_CACHE_DIR"); env && *env) return env;
    // One place per user, shared by the window and the command line, wherever they run from.
    fs::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = fs::path(home) / ".local" / "share";
    else
        data = fs::temp_directory_path();
    return data / "Quorvatix" / "tralux";
}

fs::path CacheFile() {
    return CacheFolder() / "cache.dat";
}

std::string CacheEntryName(const CdInfo& info) {
    return info.discIdText + "." + std::to_string(info.tracks.size());
}

CompoundStorage EncodeEntry(const CdInfo& info) {
    CompoundStorage s;
    s.name = CacheEntryName(info);
    s.streams.push_back({"DiskID", TextStream(info.discIdText)});
    s.streams.push_back({"Comments", TextStream(info.comments)});
    s.streams.push_back({"Copyright", TextStream(info.extended)});
    s.streams.push_back({"Title", TextStream(info.discTitle)});
    if (!info.year.empty()) s.streams.push_back({"Year", TextStream(info.year)});
    if (!info.genre.empty()) s.streams.push_back({"Genre", TextStream(info.genre)});
    const auto n = static_cast<std::uint32_t>(info.tracks.size());
    std::string count(4, '\0');
    for (int i = 0; i < 4; ++i) count[i] = static_cast<char>((n >> (8 * i)) & 0xFF);
    s.streams.push_back({"NumTracks", count});
    for (std::size_t i = 0; i < info.tracks.size(); ++i) {
        s.streams.push_back({"TTITLE" + std::to_string(i), TextStream(info.tracks[i].title)});
        s.streams.push_back({"EXTT" + std::to_string(i), TextStream(info.tracks[i].extended)});
    }
    return s;
}

std::string DecodeText(std::string_view bytes, CacheFiles* legacy) {
    const std::size_t zero = bytes.find('\0');
    if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
    if (IsValidUtf8(bytes)) return std::string(bytes);
    if (legacy) {
        if (auto text = legacy->LegacyToUtf8(bytes)) return *text;
    }
    return Latin1ToUtf8(bytes);
}

void DecodeEntry(const CompoundStorage& storage, CdInfo& info, CacheFiles* legacy) {
    auto read = [&](std::string_view name, std::string& field) {
        // Another program's cache is outside data: no control character reaches a tag or a
        // label from it, as from a server.
        if (const CompoundStream* s = FindStream(storage, name))
            field = StripControls(DecodeText(s->data, legacy));
    };
    read("Comments", info.comments);
    read("Copyright", info.extended);
    read("Title", info.discTitle);
    read("Year", info.year);
    read("Genre", info.genre);
    for (std::size_t i = 0; i < info.tracks.size(); ++i) {
        read("TTITLE" + std::to_string(i), info.tracks[i].title);
        read("EXTT" + std::to_string(i), info.tracks[i].extended);
    }
}

bool LooksLikeCache(const CompoundTree& tree) {
    if (tree.rootHasStreams) return false;
    auto isHex = [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    for (const CompoundStorage& s : tree.storages) {
        const std::size_t dot = s.name.find('.');
        if (dot == 0 || dot == std::string::npos || dot + 1 == s.name.size()) return false;
        if (!std::all_of(s.name.begin(), s.name.begin() + static_cast<std::ptrdiff_t>(dot), isHex))
            return false;
        if (!std::all_of(s.name.begin() + static_cast<std::ptrdiff_t>(dot) + 1, s.name.end(),
                         isDigit))
            return false;
    }
    return true;
}

bool CacheRead(CdInfo& info) {
    const auto files = GetCacheFiles();
    if (!files || info.discIdText.empty()) return false;
    const std::string name = CacheEntryName(info), legacy = LegacyEntryName(info);
    for (const std::string* wanted : {&name, &legacy}) {
        if (wanted == &legacy && legacy == name) break;
        CompoundTree tree;
        if (files->Read(CacheFile(), wanted, tree) != CompoundReadResult::Ok) return false;
        for (const CompoundStorage& s : tree.storages) {
            if (s.name != *wanted) continue;
            DecodeEntry(s, info, files.get());
            return true;
        }
    }
    return false;
}

bool CacheWrite(const CdInfo& info) {
    const auto files = GetCacheFiles();
    if (!files || info.discIdText.empty()) return false;
    fs::path file = CacheFile();
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    const auto lock = files->Lock(fs::path(file) += ".lock");
    if (!lock) return false;
    // A linked cache stays linked: the file it points to is the one replaced.
    if (fs::is_symlink(file, ec))
        if (const fs::path target = fs::canonical(file, ec); !ec) file = target;

    CompoundTree tree;
    switch (files->Read(file, nullptr, tree)) {
        case CompoundReadResult::Ok:
            if (LooksLikeCache(tree)) break;
            [[fallthrough]];
        case CompoundReadResult::Damaged: {
            // Keep the bytes for whoever wants to look at them (an earlier damaged file too);
            // the cache starts anew.
            fs::path aside = fs::path(file) += ".damaged";
            for (int n = 2; fs::exists(aside, ec) || ec; ++n) {
                if (n > 100) return false;
                aside = fs::path(file) += ".damaged." + std::to_string(n);
            }
            fs::rename(file, aside, ec);
            if (ec) return false;
            tree = CompoundTree{};
            break;
        }
        case CompoundReadResult::Missing:
            tree = CompoundTree{};
            break;
    }
    CompoundStorage entry = EncodeEntry(info);
    const std::string legacy = LegacyEntryName(info);
    std::erase_if(tree.storages, [&](const CompoundStorage& s) {
        return s.name == entry.name || s.name == legacy;
    });
    tree.storages.push_back(std::move(entry));

    const fs::path temp = fs::path(file) += ".tmp";
    if (!files->Write(temp, tree)) {
        fs::remove(temp, ec);
        return false;
    }
    fs::rename(temp, file, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

}  // namespace tralux::cddb
