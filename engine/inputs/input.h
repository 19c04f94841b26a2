#pragma once
// One interface for every input kind, and the table of kinds. A job probes the file through
// the table, opens the kind that recognised it, positions it and reads pipeline PCM (8-bit
// unsigned or 16-bit signed, interleaved, 1 or 2 channels, as Describe() says) to the end.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/job/file.h"
#include "engine/job/stream_info.h"
#include "engine/outputs/output.h"

namespace tralux {

// Where a pushing input delivers (whole sample frames; the bytes may be changed in place).
class BlockSink {
public:
    virtual ~BlockSink() = default;
    virtual void Block(std::uint8_t* data, std::size_t bytes) = 0;
};

// What a job tells an input beyond its file.
struct InputOptions {
    // Seek lands on the exact sample frame; off (preview) it may land up to a frame early
    // but at once.
    bool exactSeek = true;
    // Stored options by name (-1 when unset); never null.
    std::function<int(std::string_view)> option = [](std::string_view) { return -1; };
    // CD tracks: the drive's read offset in sample frames and a tap that sees every frame as
    // ripped.
    int cdReadOffset = 0;
    std::function<void(const std::uint8_t*, std::size_t)> cdTap;
};

class Input {
public:
    virtual ~Input() = default;
    // The stream as the pipeline sees it, with the texts read from the file.
    virtual const StreamInfo& Describe() const = 0;
    // The input's picture (empty when it has none).
    virtual const CoverArt& Cover() const;
    // The next read starts at this sample frame (clamped to the end).
    virtual void Seek(std::uint64_t frame) = 0;
    // Up to `bytes` of pipeline PCM in whole frames; 0 at the end. Raises FileError/JobError.
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t bytes) = 0;
    // Delivers everything from the position on into `sink`. The default reads a second at a
    // time; an input that cannot be pulled (a CD track, whose reader places overlapping
    // reads itself) pushes instead and may leave Read unsupported.
    virtual void Pump(BlockSink& sink);
    // The stored sample width when it is above 16 bits and ReadWide delivers the samples at
    // that precision (same rate and channels as Describe(): more stored channels are mixed
    // down, otherwise the samples are untouched); 0 otherwise.
    virtual int WideBits() const { return 0; }
    // Reads go through ReadWide from now on; called before Seek.
    virtual void ChooseWide() {}
    // Up to `frames` frames of the stored samples scaled to the full 32-bit range; the frame
    // count, 0 at the end. Raises FileError/JobError. Only when WideBits() is above 16.
    virtual std::size_t ReadWide(std::int32_t* samples, std::size_t frames);
    // Releases decoders and devices early; the destructor does it too.
    virtual void Finish() {}
};

struct InputKind {
    const char* name = "";  // "wav", "mp3", "cd", ...
    // Recognises and describes the file (read from its start; the position is not kept).
    bool (*probe)(File& file, StreamInfo& info) = nullptr;
    // Opens what probe recognised; `file` outlives the input. Raises JobError (0 after a
    // message that explains the refusal).
    std::unique_ptr<Input> (*open)(File& file, const StreamInfo& info,
                                   const InputOptions& options) = nullptr;
};

// Adds a kind ahead of the built-in MPEG probe (which takes almost anything). Startup only.
void RegisterInputKind(const InputKind& kind);
std::vector<InputKind> InputKinds();

// Probes `file` with every kind in order: the first that recognises it opens it. Raises
// JobError(105) when none does.
std::unique_ptr<Input> OpenInput(File& file, const InputOptions& options);

}  // namespace tralux
