#include "engine/job/file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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
std::size_t SeamAllows(const std::string& path, std::uint64_t position, std::size_t n) {
    if (!g_diskFullArmed.load(std::memory_order_acquire)) return n;
    std::lock_guard lock(g_diskFull.mutex);
    const std::string& suffix = g_diskFull.suffix;
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

}  // namespace tralux
