#pragma once
// Binary file object over a POSIX descriptor. Failures raise FileError with a cause number,
// as the job's file-exception handler expects. The `.cda` entries of CD drive roots
// ("D:/Track03.cda", cd/cda_files.h) open for reading as read-only files held in memory.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tralux {

class File {
public:
    enum class Mode { Read, CreateWrite, ReadWrite };

    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Throws FileError on failure.
    void Open(const std::string& path, Mode mode);
    // Returns false instead of throwing; errno-derived cause in *cause when given.
    bool TryOpen(const std::string& path, Mode mode, int* cause = nullptr);
    void Close() noexcept;
    bool IsOpen() const noexcept { return fd_ >= 0 || inMemory_; }
    const std::string& Path() const noexcept { return path_; }

    // Reads up to n bytes; returns fewer only at end of file.
    std::size_t Read(void* buffer, std::size_t n);
    // Reads exactly n bytes or returns false (short read, nothing thrown).
    bool ReadExact(void* buffer, std::size_t n);
    void Write(const void* buffer, std::size_t n);
    void Seek(std::uint64_t offset);
    void SeekRelative(std::int64_t delta);
    std::uint64_t Position();
    std::uint64_t Length();
    // Cuts the file to `length` bytes (needs no free space).
    void Truncate(std::uint64_t length);

private:
    [[noreturn]] void Fail(int err, bool seeking = false) const;

    int fd_ = -1;
    std::string path_;
    bool inMemory_ = false;  // a synthesized file: its bytes are memory_
    std::string memory_;
    std::uint64_t memoryPos_ = 0;
};

// Test seam: a file whose path ends with `suffix` cannot grow past `bytes`; a write there
// stores what fits and then fails with ENOSPC, as on a full disk. An empty suffix disarms it.
void SetDiskFullForTesting(const std::string& suffix, std::uint64_t bytes);

}  // namespace tralux
