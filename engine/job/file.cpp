#include "engine/job/file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <random>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "cd/cda_files.h"
#include "engine/job/errors.h"

namespace tralux {

namespace {

struct DiskFullSeam {
    std::mutex mutex;
    std::string suffix;
    std::uint64_t limit = 0;
};
DiskFullSeam g_diskFull;
std::atomic<bool> g_diskFullArmed{false};

// Bytes a write of n at `position` may store before the simulated disk is full.
std::size_t SeamAllows(const std::string& written, std::uint64_t position, std::size_t n) {
    if (!g_diskFullArmed.load(std::memory_order_acquire)) return n;
    std::lock_guard lock(g_diskFull.mutex);
    const std::string& suffix = g_diskFull.suffix;
    const std::string path = StagedFinalPath(written);
    if (suffix.empty() || path.size() < suffix.size() ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0)
        return n;
    if (position >= g_diskFull.limit) return 0;
    return static_cast<std::size_t>(std::min<std::uint64_t>(n, g_diskFull.limit - position));
}

}  // namespace

void SetDiskFullForTesting(const std::string& suffix, std::uint64_t bytes) {
    std::lock_guard lock(g_diskFull.mutex);
    g_diskFull.suffix = suffix;
    g_diskFull.limit = bytes;
    g_diskFullArmed.store(!suffix.empty(), std::memory_order_release);
}

File::~File() {
    Close();
}

File::File(File&& other) noexcept
    : fd_(other.fd_),
      path_(std::move(other.path_)),
      inMemory_(other.inMemory_),
      memory_(std::move(other.memory_)),
      memoryPos_(other.memoryPos_) {
    other.fd_ = -1;
    other.inMemory_ = false;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        inMemory_ = other.inMemory_;
        memory_ = std::move(other.memory_);
        memoryPos_ = other.memoryPos_;
        other.fd_ = -1;
        other.inMemory_ = false;
    }
    return *this;
}

bool File::TryOpen(const std::string& path, Mode mode, int* cause) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        case Mode::Read:
            flags |= O_RDONLY;
            break;
        case Mode::CreateWrite:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
        case Mode::ReadWrite:
            flags |= O_RDWR;
            break;
        case Mode::CreateNew:
            flags |= O_RDWR | O_CREAT | O_EXCL;
            break;
    }
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) {
        const int err = errno;
        // "D:/Track03.cda": a track entry of a CD drive's root, made from the disc's contents.
        if (mode == Mode::Read && err == ENOENT && cd::SynthesizeCdaFile(path, memory_)) {
            inMemory_ = true;
            memoryPos_ = 0;
            path_ = path;
            return true;
        }
        if (cause) *cause = FileCauseFromErrno(err);
        errno = err;
        return false;
    }
    struct stat st {};
    if (mode == Mode::Read && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        if (cause) *cause = kCauseAccessDenied;
        return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void File::Open(const std::string& path, Mode mode) {
    int cause = 0;
    if (!TryOpen(path, mode, &cause)) throw FileError(cause, path);
}

void File::Close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    inMemory_ = false;
    memory_.clear();
    memoryPos_ = 0;
}

void File::Fail(int err, bool seeking) const {
    throw FileError(FileCauseFromErrno(err, seeking), path_, std::strerror(err));
}

std::size_t File::Read(void* buffer, std::size_t n) {
    if (inMemory_) {
        const std::size_t at =
            static_cast<std::size_t>(std::min<std::uint64_t>(memoryPos_, memory_.size()));
        const std::size_t got = std::min(n, memory_.size() - at);
        std::memcpy(buffer, memory_.data() + at, got);
        memoryPos_ += got;
        return got;
    }
    if (fd_ < 0) throw FileError(kCauseInvalidFile, path_);
    auto* p = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::read(fd_, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    return done;
}

bool File::ReadExact(void* buffer, std::size_t n) {
    return Read(buffer, n) == n;
}

void File::Write(const void* buffer, std::size_t n) {
    if (inMemory_) throw FileError(kCauseAccessDenied, path_);
    if (fd_ < 0) throw FileError(kCauseInvalidFile, path_);
    auto* p = static_cast<const unsigned char*>(buffer);
    if (g_diskFullArmed.load(std::memory_order_relaxed)) {
        const std::size_t fits = SeamAllows(path_, Position(), n);
        if (fits < n) {
            Write(p, fits);
            Fail(ENOSPC);
        }
    }
    std::size_t done = 0;
    while (done < n) {
        ssize_t r = ::write(fd_, p + done, n - done);
        if (r < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
        }
        if (r == 0) Fail(ENOSPC);
        done += static_cast<std::size_t>(r);
    }
}

void File::Seek(std::uint64_t offset) {
    if (inMemory_) {
        memoryPos_ = offset;
        return;
    }
    if (fd_ < 0) throw FileError(kCauseInvalidFile, path_);
    if (offset > static_cast<std::uint64_t>(INT64_MAX) ||
        ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0)
        Fail(errno ? errno : EINVAL, true);
}

void File::SeekRelative(std::int64_t delta) {
    if (inMemory_) {
        const std::int64_t to = static_cast<std::int64_t>(memoryPos_) + delta;
        if (delta < 0 && to < 0) throw FileError(kCauseBadSeek, path_);
        memoryPos_ = static_cast<std::uint64_t>(to);
        return;
    }
    if (fd_ < 0) throw FileError(kCauseInvalidFile, path_);
    if (::lseek(fd_, static_cast<off_t>(delta), SEEK_CUR) < 0) Fail(errno, true);
}

std::uint64_t File::Position() {
    if (inMemory_) return memoryPos_;
    if (fd_ < 0) throw FileError(kCauseInvalidFile, path_);
    off_t p = ::lseek(fd_, 0, SEEK_CUR);
    if (p < 0) Fail(errno, true);
    return static_cast<std::uint64_t>(p);
}

void File::Truncate(std::uint64_t length) {
    if (fd_ < 0) throw FileError(kCauseInvalidFile, path_);
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) Fail(errno);
}

std::uint64_t File::Length() {
    if (inMemory_) return memory_.size();
    if (fd_ < 0) throw FileError(kCauseInvalidFile, path_);
    struct stat st {};
    if (::fstat(fd_, &st) != 0) Fail(errno);
    return static_cast<std::uint64_t>(st.st_size);
}

namespace {

constexpr std::string_view kStagingTag = ".tralux-";
constexpr std::size_t kStagingRandom = 6;

std::string StagingSuffix() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    std::string s(kStagingTag);
    for (std::size_t i = 0; i < kStagingRandom; ++i) s += kChars[random() % (sizeof kChars - 1)];
    return s;
}

}  // namespace

std::string OutputTakenReason() {
    return "another file is now under this name; it was left untouched and this output was not "
           "kept";
}

bool CreateStagingFile(const std::string& finalPath, File& file, std::string& stagingPath) {
    const std::size_t slash = finalPath.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    // The hidden name must fit the folder's 255 bytes too: a long name is cut (whole UTF-8
    // characters).
    constexpr std::size_t kRoom = 255 - 1 - kStagingTag.size() - kStagingRandom;
    if (name.size() > kRoom) {
        name.resize(kRoom);
        while (!name.empty() && (static_cast<unsigned char>(name.back()) & 0xC0) == 0x80)
            name.pop_back();
        if (!name.empty() && static_cast<unsigned char>(name.back()) >= 0xC0) name.pop_back();
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = dir + "." + name + StagingSuffix();
        if (file.TryOpen(candidate, File::Mode::CreateNew)) {
            stagingPath = candidate;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    errno = EEXIST;
    return false;
}

void CommitStagingFile(const std::string& stagingPath, const std::string& finalPath, bool replace) {
    auto fail = [&](int err, const std::string& reason) {
        ::unlink(stagingPath.c_str());
        throw FileError(FileCauseFromErrno(err), finalPath,
                        reason.empty() ? std::strerror(err) : reason);
    };
    if (replace) {
        // The replaced file's permissions stay what its owner made them.
        struct stat old {};
        if (::lstat(finalPath.c_str(), &old) == 0 && S_ISREG(old.st_mode))
            ::chmod(stagingPath.c_str(), old.st_mode & 0777);
        if (::rename(stagingPath.c_str(), finalPath.c_str()) != 0) fail(errno, {});
        return;
    }
    if (::renameat2(AT_FDCWD, stagingPath.c_str(), AT_FDCWD, finalPath.c_str(), RENAME_NOREPLACE) ==
        0)
        return;
    int err = errno;
    if (err == EINVAL || err == ENOSYS || err == EOPNOTSUPP) {
        // No exclusive move on this file system: a hard link claims the name as exclusively.
        if (::link(stagingPath.c_str(), finalPath.c_str()) == 0) {
            ::unlink(stagingPath.c_str());
            return;
        }
        err = errno;
        if (err == EPERM || err == EOPNOTSUPP || err == ENOSYS) {
            // Nor links (FAT and some network file systems): look, then move.
            struct stat st {};
            if (::lstat(finalPath.c_str(), &st) != 0 && errno == ENOENT) {
                if (::rename(stagingPath.c_str(), finalPath.c_str()) == 0) return;
                err = errno;
            } else {
                err = EEXIST;
            }
        }
    }
    fail(err, err == EEXIST ? OutputTakenReason() : std::string());
}

std::string StagedFinalPath(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t tail = kStagingTag.size() + kStagingRandom;
    if (path.size() < start + 2 + tail || path[start] != '.') return path;
    const std::size_t tag = path.size() - tail;
    if (path.compare(tag, kStagingTag.size(), kStagingTag) != 0) return path;
    for (std::size_t i = tag + kStagingTag.size(); i < path.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(path[i]))) return path;
    return path.substr(0, start) + path.substr(start + 1, tag - start - 1);
}

}  // namespace tralux
