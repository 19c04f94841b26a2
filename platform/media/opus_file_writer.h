#pragma once
// An Ogg Opus file: any input rate (resampled to 48 kHz inside), tags and front cover in
// OpusTags, the exact length through pre-skip and the end granule.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/media/media_tags.h"

namespace tralux::platform {

class OpusFileWriter {
public:
    // `bitsPerSecond` VBR target (6000..510000); `sourceBits` the precision of the source's
    // samples (16..24), what the encoder is told is worth coding.
    static std::unique_ptr<OpusFileWriter> Create(const std::string& path, std::uint32_t rate,
                                                  int channels, int bitsPerSecond,
                                                  const MediaTags& tags, std::string& error,
                                                  int sourceBits = 16);
    ~OpusFileWriter();  // finishes the file when Finish was not called
    OpusFileWriter(const OpusFileWriter&) = delete;
    OpusFileWriter& operator=(const OpusFileWriter&) = delete;

    bool Write16(const std::int16_t* samples, std::size_t frames);
    // Samples right-justified at 24 bits, handed to the encoder as floats.
    bool Write(const std::int32_t* samples, std::size_t frames);
    // Encodes what is buffered and writes the last page. Once.
    bool Finish();
    const std::string& ErrorText() const { return error_; }

    struct Impl;

private:
    explicit OpusFileWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
    std::string error_;
};

}  // namespace tralux::platform
