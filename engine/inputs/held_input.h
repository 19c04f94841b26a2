#pragma once
// PCM the program holds for a job (a CD track read ahead of its encoding): the blocks as they
// were delivered, each in memory or spilled to a handle file. The job opens that file as its
// input; the blocks reach it with their original boundaries. The handle file has no name in
// its folder while the process holds it (where the system allows), so a killed process leaves
// nothing behind.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/inputs/input.h"

namespace tralux {

class HeldPcm {
public:
    // Creates the handle file in `path`'s folder, unnamed where the file system allows it (else
    // at `path`, replacing a leftover one, removed by the destructor); null with the system's
    // reason when it cannot be written.
    static std::shared_ptr<HeldPcm> Create(const StreamInfo& info, const std::string& path,
                                           std::string* error = nullptr);
    ~HeldPcm();  // removes the handle file
    HeldPcm(const HeldPcm&) = delete;
    HeldPcm& operator=(const HeldPcm&) = delete;

    // Appends a block, spilled to the handle file when asked; a block that cannot be spilled
    // stays in memory (returns false then).
    bool Add(const std::uint8_t* data, std::size_t bytes, bool spill);
    // No more blocks. A reader that ends with `jobError` >= 0 has the job raise JobError(code)
    // after the last block (0: stopped); -1 is a whole stream.
    void End(int jobError);
    // Called with each in-memory block's size once the job has passed it on.
    void SetRelease(std::function<void(std::size_t)> release);

    const StreamInfo& Info() const { return info_; }
    // What a job opens as its input (a /proc/self/fd name for an unnamed file).
    const std::string& Path() const { return openPath_; }
    // Whether the handle file has a name in its folder.
    bool Named() const { return named_; }
    std::uint64_t Bytes() const;
    // A job has read it to its end.
    bool Delivered() const;

private:
    friend class HeldInput;
    struct Block {
        std::vector<std::uint8_t> memory;  // empty when spilled
        std::uint64_t offset = 0;          // in the handle file when spilled
        std::size_t bytes = 0;
    };
    HeldPcm(const StreamInfo& info, std::string path, std::uint64_t id);

    const StreamInfo info_;
    const std::string path_;
    std::string openPath_;
    bool named_ = false;
    int fd_ = -1;  // keeps an unnamed file alive until the holder goes
    const std::uint64_t id_;
    mutable std::mutex mutex_;
    std::vector<Block> blocks_;
    std::FILE* spill_ = nullptr;
    std::uint64_t spillEnd_ = 0;
    std::uint64_t total_ = 0;
    int end_ = -1;
    bool delivered_ = false;
    std::function<void(std::size_t)> release_;
};

bool ProbeHeldPcm(File& file, StreamInfo& info);
std::unique_ptr<Input> OpenHeldPcm(File& file, const StreamInfo& info, const InputOptions& options);

}  // namespace tralux
