#pragma once
// Any audio file the system's decoders know: probe, describe, read interleaved PCM in the
// stored channels, seek to an exact sample frame.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tralux::platform {

struct MediaDescription {
    std::uint32_t Rate = 0;
    int Channels = 0;
    std::uint64_t ChannelMask = 0;  // speaker bits in WAVE order; 0 when the file names none
    std::string Codec;              // short decoder name ("flac", "vorbis", "aac", ...)
    std::string CodecLongName;
    std::string Container;        // "ogg", "mov,mp4,m4a,3gp,3g2,mj2", ...
    std::int64_t Frames = -1;     // sample frames, -1 when the file does not say
    std::int64_t BitRate = 0;     // bits per second, 0 when unknown
    int BitsPerSample = 0;        // a lossless source's sample width, 0 for lossy codecs
    bool IntegerSamples = false;  // decoded as integers (Read32 then gives them untouched)
};

class MediaDecoder {
public:
    // nullptr with the reason in `error` when nothing decodable is found.
    static std::unique_ptr<MediaDecoder> Open(const std::string& path, std::string& error);
    // Over bytes that stay alive and unchanged while the decoder lives.
    static std::unique_ptr<MediaDecoder> OpenMemory(const std::uint8_t* data, std::size_t size,
                                                    std::string& error);
    ~MediaDecoder();
    MediaDecoder(const MediaDecoder&) = delete;
    MediaDecoder& operator=(const MediaDecoder&) = delete;

    const MediaDescription& Description() const;
    // Up to `frames` interleaved frames; the count read, 0 at the end, -1 on a read error
    // (ErrorText says why). Damaged packets are skipped, as players do.
    long Read16(std::int16_t* out, std::size_t frames);
    // The same, samples scaled to the full 32-bit range (a 24-bit source's low byte is zero).
    long Read32(std::int32_t* out, std::size_t frames);
    // Reads keep full 32-bit precision from the next decoded frame on, also what Seek decodes
    // (call it before Seek when Read32 will follow).
    void PreferRead32();
    // The next read starts at sample frame `frame` (of a decode from the start); false on error.
    bool Seek(std::uint64_t frame);
    std::uint64_t Position() const;
    const std::string& ErrorText() const;

    struct Impl;

private:
    explicit MediaDecoder(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace tralux::platform
