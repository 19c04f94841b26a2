#pragma once
// One interface for every output kind, and the table of kinds. A job opens its output through
// the kind's opener, hands it 16-bit interleaved PCM, and ends it one of three ways: finished,
// finished early (stopped or cut: still playable), or abandoned (failed: nothing left behind).
// Adding a kind is one file pair and one table line; kinds built outside the engine (on the
// platform layer) add their line with RegisterOutputKind at the front end's startup.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job/file.h"

namespace tralux {

// A picture stored with the audio (front cover and the like).
struct CoverArt {
    std::string mimeType;  // "image/jpeg", "image/png"
    std::string description;
    std::vector<std::uint8_t> bytes;
    bool Empty() const { return bytes.empty(); }
};

// The texts a job writes into its output; empty ones are left out.
struct TagTexts {
    std::string title, artist, copyright, album, year, track, comment, genre;
};

struct OutputSettings {
    std::string path;
    // The job's file, created and positioned at 0, for kinds that write through a File
    // (OutputKind::writesFile); null for kinds that create their own.
    File* file = nullptr;
    std::uint32_t rate = 44100;
    int channels = 2;
    TagTexts tags;
    CoverArt cover;
    bool placeTags = true;  // "PlaceClipInfo": write the texts (a credit is written regardless)
    int kbps = -1;          // the kind's bit-rate option, -1 when unset
    std::uint64_t expectedFrames = 0;  // output frames the job expects (0: unknown), a hint
    // Above 16: the job can hand over samples of the source's precision (WriteWide, 24 bits
    // of it at most after the signal stage); a kind that can use them opens at that width and
    // says so in Bits(), others ignore it.
    int bits = 16;
    // Further stored options by name (-1 when unset); never null.
    std::function<int(std::string_view)> option = [](std::string_view) { return -1; };
};

class Output {
public:
    virtual ~Output() = default;
    // Whole sample frames of 16-bit interleaved PCM. Raises JobError or FileError.
    virtual void Write(const std::uint8_t* pcm, std::size_t bytes) = 0;
    // The sample width the output stores; above 16 the job writes through WriteWide.
    virtual int Bits() const { return 16; }
    // `count` samples (whole frames, interleaved) scaled to the full 32-bit range (a 24-bit
    // sample's low byte is zero). The default rounds them to 16 bits and calls Write.
    virtual void WriteWide(const std::int32_t* samples, std::size_t count);
    // The normal end: trailers, tags, sizes. Raises FileError when the file cannot be finished.
    virtual void Finish() = 0;
    // Stopped or cut short: what was written becomes a playable file. A FileError leaves the
    // file as sound as it can be made.
    virtual void FinishEarly() = 0;
    // Failed: releases everything and removes what was written (a regular file only).
    virtual void Abandon() noexcept = 0;
};

using OutputOpener = std::unique_ptr<Output> (*)(const OutputSettings& settings);

struct OutputKind {
    int format = -1;                      // the OutputFormat value (kFormatWav, ...)
    const char* cliName = "";             // "wav", "mp3", ...
    const char* extension = "";           // ".wav"
    bool writesFile = true;               // the job creates the file before the worker starts
    const char* bitRateOption = nullptr;  // stored option with the kbps ("MP3BitRate")
    OutputOpener open = nullptr;
};

// Adds or replaces the kind of that format value. Safe from any thread, typically at startup.
void RegisterOutputKind(const OutputKind& kind);
// Null when no such kind is known (yet).
const OutputKind* FindOutputKind(int format);
const OutputKind* FindOutputKindByName(std::string_view cliName);
std::vector<OutputKind> OutputKinds();

// A full-range sample rounded to 16 bits (clipped at the top).
inline std::int16_t NarrowSample(std::int32_t s) {
    const std::int64_t r = (static_cast<std::int64_t>(s) + 0x8000) >> 16;
    return static_cast<std::int16_t>(r > 32767 ? 32767 : r);
}

// A writer's text about the file it writes, naming the output instead of the hidden file it is
// written as (CreateStagingFile).
std::string OutputNamed(std::string text, const std::string& writtenPath);

// Removes `path` when it names a regular file (never a device such as /dev/full).
bool RemoveRegularFile(const std::string& path) noexcept;

}  // namespace tralux
