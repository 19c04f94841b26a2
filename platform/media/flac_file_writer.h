#pragma once
// A FLAC file: Vorbis comments, front cover, seek table, MD5 signature. Every call returns
// false with the reason in ErrorText() when it fails; Create throws FileError when the file it
// created cannot take the header.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/media_tags.h"

namespace tralux::platform {

struct FlacSettings {
    std::uint32_t Rate = 44100;
    int Channels = 2;
    int Bits = 16;                     // 16 or 24
    int Level = 5;                     // 0 (fastest) .. 8 (smallest)
    std::uint64_t ExpectedFrames = 0;  // sizes the seek table; 0 when unknown
};

class FlacFileWriter {
public:
    static std::unique_ptr<FlacFileWriter> Create(const std::string& path,
                                                  const FlacSettings& settings,
                                                  const MediaTags& tags, std::string& error);
    ~FlacFileWriter();  // finishes the file when Finish was not called
    FlacFileWriter(const FlacFileWriter&) = delete;
    FlacFileWriter& operator=(const FlacFileWriter&) = delete;

    // Interleaved frames; 16-bit samples into a 24-bit file are scaled up.
    bool Write16(const std::int16_t* samples, std::size_t frames);
    // Interleaved frames, right-justified to the file's width.
    bool Write(const std::int32_t* samples, std::size_t frames);
    // Writes the last frame, the sample count and the MD5 signature. Once.
    bool Finish();
    const std::string& ErrorText() const { return error_; }

    struct Impl;

private:
    explicit FlacFileWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    std::string error_;
};

}  // namespace tralux::platform
