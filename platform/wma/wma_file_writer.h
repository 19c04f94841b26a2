#pragma once
// A WMA file writer: create for a path, string attributes, input and output formats, PCM
// writes, flush, release. Every call returns 0 or a negative code; ErrorText() says why.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tralux::platform {

class WmaFileWriter {
public:
    // Creates the file; nullptr with the reason in `error` when it cannot.
    static std::unique_ptr<WmaFileWriter> Create(const std::string& path, std::string& error);
    // A file that never received its header is removed again.
    ~WmaFileWriter();
    WmaFileWriter(const WmaFileWriter&) = delete;
    WmaFileWriter& operator=(const WmaFileWriter&) = delete;

    // "Title", "Author" or "Copyright"; UTF-8. Only before SetOutputFormat.
    int SetAttribute(const std::string& name, const std::string& value);
    // Interleaved signed 16-bit PCM.
    int SetInputFormat(int channels, std::uint32_t rate, int bitsPerSample);
    // Opens the encoder and writes the file header.
    int SetOutputFormat(std::int64_t bitsPerSecond, std::uint32_t rate, int channels);
    // Any number of whole sample frames; buffered to the encoder's frame size.
    int WriteSample(const std::uint8_t* bytes, std::size_t count);
    // Pads and encodes the last frame, drains the encoder and writes the index. Once.
    int Flush();

    const std::string& ErrorText() const { return error_; }
    // Encoder frame size in sample frames (0 before SetOutputFormat).
    int FrameSize() const;

    struct Impl;

private:
    explicit WmaFileWriter(std::unique_ptr<Impl> impl);
    int Fail(int code, std::string text);

    std::unique_ptr<Impl> impl_;
    std::string error_;
};

// Whether the encoder opens for this bit rate, rate and channel count; the reason when not.
bool WmaEncoderAccepts(std::int64_t bitsPerSecond, std::uint32_t rate, int channels,
                       std::string* why = nullptr);

}  // namespace tralux::platform
