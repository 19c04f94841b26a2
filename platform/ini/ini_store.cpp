#include "platform/ini/ini_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

namespace tralux::ini {
namespace {

enum class ReadResult { Ok, Missing, Error };

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& out) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid())
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Error;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return ReadResult::Error;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return ReadResult::Error;
        }
        if (n == 0) break;
        out.append(buffer, static_cast<std::size_t>(n));
        if (out.size() > IniStore::kMaxFileSize) return ReadResult::Error;
    }
    return ReadResult::Ok;
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Replaces `path` by a file holding `data`; the old file stays intact until the rename. A
// symbolic link (settings kept elsewhere, a dotfiles folder) stays a link: its file is replaced.
bool ReplaceFile(const std::filesystem::path& link, std::string_view data) {
    std::error_code ec;
    std::filesystem::path path = link;
    if (std::filesystem::is_symlink(link, ec)) {
        const auto target = std::filesystem::canonical(link, ec);
        if (!ec) path = target;
    }
    const auto folder = path.parent_path();
    std::string tmpl = (folder / (path.filename().string() + ".tmp.XXXXXX")).string();
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    Fd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (!fd.Valid()) return false;
    const std::string tmpPath(name.data());
    struct stat old {};
    if (::stat(path.c_str(), &old) == 0) ::fchmod(fd.Get(), old.st_mode & 07777);
    bool ok = WriteAll(fd.Get(), data) && ::fsync(fd.Get()) == 0;
    ok = (::close(fd.Release()) == 0) && ok;
    if (ok) ok = ::rename(tmpPath.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmpPath.c_str());
        return false;
    }
    // Make the rename itself durable.
    Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid()) ::fsync(dir.Get());
    return true;
}

}  // namespace

IniStore::IniStore(std::filesystem::path file) : file_(std::move(file)) {}

IniDocument IniStore::Load() const {
    std::lock_guard lock(mutex_);
    std::string text;
    if (ReadWholeFile(file_, text) != ReadResult::Ok) return {};
    return IniDocument::Parse(text);
}

std::optional<std::string> IniStore::Read(std::string_view section, std::string_view key) const {
    return Load().Get(section, key);
}

bool IniStore::Write(std::string_view section, std::string_view key, std::string_view value) {
    if (!IniDocument::IsValidSection(section) || !IniDocument::IsValidKey(key)) return false;
    return Update([&](IniDocument& doc, bool& ok) {
        const auto old = doc.Get(section, key);
        if (old && *old == value) return false;
        ok = doc.Set(section, key, value);
        return ok;
    });
}

bool IniStore::Remove(std::string_view section, std::string_view key) {
    return Update([&](IniDocument& doc, bool&) { return doc.Remove(section, key); });
}

bool IniStore::Update(const std::function<bool(IniDocument&, bool&)>& edit) {
    std::lock_guard lock(mutex_);
    std::error_code ec;
    const auto folder = file_.parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (ec) return false;

    const std::string lockPath = file_.string() + ".lock";
    Fd lockFd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!lockFd.Valid()) return false;
    while (::flock(lockFd.Get(), LOCK_EX) != 0) {
        if (errno != EINTR) return false;
    }

    std::string text;
    const auto result = ReadWholeFile(file_, text);
    if (result == ReadResult::Error) return false;
    IniDocument doc = IniDocument::Parse(text);
    bool ok = true;
    const bool changed = edit(doc, ok);
    if (changed && !ReplaceFile(file_, doc.Serialize())) return false;
    return ok;
}

std::filesystem::path HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && *found->pw_dir)
        return found->pw_dir;
    return {};
}

std::filesystem::path DefaultConfigHome() {
    // Relative values are invalid for XDG variables and must be ignored.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return xdg;
    const auto home = HomeFolder();
    if (home.empty()) return {};
    return home / ".config";
}

}  // namespace tralux::ini
