#include "platform/media/media_input_kind.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/formats/riff_reader.h"
#include "engine/inputs/input.h"
#include "engine/inputs/mp3_input.h"
#include "engine/job/errors.h"
#include "platform/media/media_decoder.h"
#include "platform/notify/notifier.h"

namespace tralux::platform {
namespace {

void DescribeStream(const MediaDecoder& d, StreamInfo& info) {
    const MediaDescription& m = d.Description();
    info = StreamInfo{};
    info.Kind = kKindMedia;
    info.SampleRate = m.Rate;
    info.MediaChannels = static_cast<std::uint16_t>(m.Channels);
    info.Channels = static_cast<std::uint16_t>(std::min(m.Channels, 2));
    if (m.Channels > 2) {
        info.StoredChannels = static_cast<std::uint16_t>(m.Channels);
        info.ChannelMask = static_cast<std::uint32_t>(m.ChannelMask);
    }
    // The pipeline carries 16 bits; a lossless source's own width is kept for the probe line.
    info.MediaBits = static_cast<std::uint16_t>(m.BitsPerSample);
    info.BitsPerSample = 16;
    info.BlockAlign = static_cast<std::uint16_t>(info.Channels * 2);
    info.BitRate = info.BitRate2 =
        static_cast<std::uint32_t>(std::min<std::int64_t>(m.BitRate, UINT32_MAX));
    info.CodecName = MediaCodecDisplayName(m.Codec);
    if (m.Frames > 0 && m.Rate > 0)
        info.DurationMs = static_cast<std::uint32_t>(
            std::min<std::int64_t>(m.Frames * 1000 / m.Rate, UINT32_MAX));
}

// Reads up to `frames` frames as the pipeline's interleaved 16-bit stereo or mono into `out`;
// the frame count, -1 on a read error.
long ReadPipelineFrames(MediaDecoder& d, const StreamInfo& info, std::vector<std::int16_t>& stored,
                        std::int16_t* out, std::size_t frames) {
    const std::size_t channels = static_cast<std::size_t>(d.Description().Channels);
    if (channels <= 2) return d.Read16(out, frames);
    stored.resize(frames * channels);
    const long got = d.Read16(stored.data(), frames);
    if (got <= 0) return got;
    // The WAV reader's mixdown rule, on the decoder's 16-bit samples.
    StreamInfo mix;
    mix.Channels = 2;
    mix.StoredChannels = static_cast<std::uint16_t>(channels);
    mix.ChannelMask = info.ChannelMask;
    mix.BitsPerSample = 16;
    mix.Encoding = SampleEncoding::Integer;
    ConvertStoredSamples(reinterpret_cast<const std::uint8_t*>(stored.data()),
                         static_cast<std::size_t>(got), mix, out);
    return got;
}

class MediaInput final : public Input {
public:
    MediaInput(std::unique_ptr<MediaDecoder> decoder, std::string path)
        : decoder_(std::move(decoder)), path_(std::move(path)) {
        DescribeStream(*decoder_, info_);
    }

    const StreamInfo& Describe() const override { return info_; }

    // Exact in every case: the decoder decodes forward from the start.
    void Seek(std::uint64_t frame) override {
        if (!decoder_->Seek(frame)) throw FileError(kCauseGeneric, path_, decoder_->ErrorText());
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t bytes) override {
        const std::size_t frameBytes = info_.PipelineFrameBytes();
        const std::size_t frames = bytes / frameBytes;
        if (frames == 0) return 0;
        block_.resize(frames * info_.Channels);
        const long got = ReadPipelineFrames(*decoder_, info_, stored_, block_.data(), frames);
        if (got < 0) throw FileError(kCauseGeneric, path_, decoder_->ErrorText());
        const std::size_t n = static_cast<std::size_t>(got) * frameBytes;
        std::memcpy(buffer, block_.data(), n);
        return n;
    }

    // A lossless integer source deeper than 16 bits (more than two channels are mixed down).
    int WideBits() const override {
        const MediaDescription& m = decoder_->Description();
        const bool wide = m.IntegerSamples && m.BitsPerSample > 16 && m.BitsPerSample <= 32;
        return wide ? m.BitsPerSample : 0;
    }
    void ChooseWide() override { decoder_->PreferRead32(); }
    std::size_t ReadWide(std::int32_t* samples, std::size_t frames) override {
        const auto channels = static_cast<std::size_t>(decoder_->Description().Channels);
        if (channels > 2) wideStored_.resize(frames * channels);
        const long got = decoder_->Read32(channels > 2 ? wideStored_.data() : samples, frames);
        if (got < 0) throw FileError(kCauseGeneric, path_, decoder_->ErrorText());
        if (channels > 2 && got > 0) {
            // The WAV reader's mixdown rule, as on the 16-bit path.
            StreamInfo mix;
            mix.Channels = 2;
            mix.StoredChannels = static_cast<std::uint16_t>(channels);
            mix.ChannelMask = info_.ChannelMask;
            MixStoredChannelsWide(wideStored_.data(), static_cast<std::size_t>(got), mix, samples);
        }
        return static_cast<std::size_t>(got);
    }

    void Finish() override { decoder_.reset(); }

private:
    std::unique_ptr<MediaDecoder> decoder_;
    std::string path_;
    StreamInfo info_;
    std::vector<std::int16_t> stored_, block_;
    std::vector<std::int32_t> wideStored_;
};

bool ProbeMediaKind(File& file, StreamInfo& info) {
    std::uint8_t head[12] = {};
    const bool whole = file.ReadExact(head, sizeof head);
    file.Seek(0);
    if (!whole || !LooksLikeMediaContainer(head, sizeof head)) {
        // An MPEG stream is the MP3 reader's, which comes next.
        StreamInfo mp3;
        const bool isMp3 = ProbeMp3(file, mp3, true);
        file.Seek(0);
        if (isMp3) return false;
    }
    return !file.Path().empty() && ProbeMedia(file.Path(), info);
}

std::unique_ptr<Input> OpenMediaInput(File& file, const StreamInfo&, const InputOptions&) {
    std::string error;
    auto decoder = MediaDecoder::Open(file.Path(), error);
    if (!decoder) {
        ShowMessage("Cannot decode " + file.Path() + ": " + error, "Quorvatix Tralux",
                    MessageIcon::Error);
        throw JobError(kErrCodecInit);
    }
    return std::make_unique<MediaInput>(std::move(decoder), file.Path());
}

}  // namespace

InputKind MediaInputKind() {
    return {"media", ProbeMediaKind, OpenMediaInput};
}

void RegisterMediaInput() {
    RegisterInputKind(MediaInputKind());
}

bool ProbeMedia(const std::string& path, StreamInfo& info) {
    std::string error;
    const auto d = MediaDecoder::Open(path, error);
    if (!d) return false;
    DescribeStream(*d, info);
    return true;
}

std::uint64_t DecodeMediaMemoryForTesting(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto d = MediaDecoder::OpenMemory(data, size, error);
    if (!d) return 0;
    StreamInfo info;
    DescribeStream(*d, info);
    if (info.Channels < 1 || info.Channels > 2 || info.SampleRate == 0) __builtin_trap();
    std::vector<std::int16_t> stored, out(4096 * 2);
    std::uint64_t frames = 0;
    for (int blocks = 0; blocks < 4096; ++blocks) {
        const long got = ReadPipelineFrames(*d, info, stored, out.data(), 4096);
        if (got <= 0) break;
        frames += static_cast<std::uint64_t>(got);
    }
    if (frames > 1000) d->Seek(frames / 2);
    return frames;
}

}  // namespace tralux::platform
