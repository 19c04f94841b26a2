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
    // CreateNew: fails (EEXIST) when anything is at the name already.
    enum class Mode { Read, CreateWrite, ReadWrite, CreateNew };

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

// An output is written under a hidden name in its own folder (".NAME.tralux-XXXXXX") and moved
// to its name only when the job ends with a file to keep: a failed job never costs the file it
// was to replace, and a file that appeared meanwhile is never written over unasked.
// Creates that file (O_EXCL, a new file's usual mode) and opens it in `file`; false with errno
// set when the folder takes no new file.
bool CreateStagingFile(const std::string& finalPath, File& file, std::string& stagingPath);
// Moves the staged file to `finalPath`: over what is there only when `replace` (a replaced
// file's permissions are kept), else only while nothing is there. Raises FileError naming
// `finalPath` with the reason; the staged file is removed then.
void CommitStagingFile(const std::string& stagingPath, const std::string& finalPath, bool replace);
// Why an output whose name was taken meanwhile (and not to be replaced) was not kept.
std::string OutputTakenReason();
// The output a staged file stands for ("/d/.a.wav.tralux-Ab12Cd" -> "/d/a.wav"); other
// paths as they are.
std::string StagedFinalPath(const std::string& path);

// Test seam: a file whose path ends with `suffix` cannot grow past `bytes`; a write there
// stores what fits and then fails with ENOSPC, as on a full disk (a staged file counts under
// its output's name). An empty suffix disarms it.
void SetDiskFullForTesting(const std::string& suffix, std::uint64_t bytes);

}  // namespace tralux
