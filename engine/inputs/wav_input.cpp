#include "engine/inputs/wav_input.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/formats/riff_reader.h"
#include "engine/job/errors.h"
#include "platform/notify/notifier.h"

namespace tralux {
namespace {

std::uint32_t FirstFour(File& file) {
    std::uint8_t b[4];
    if (!file.ReadExact(b, 4)) return 0;
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

class WavInput final : public Input {
public:
    WavInput(File& file, const StreamInfo& info)
        : file_(file),
          info_(info),
          stored_(StoredFrameBytes(info)),
          convert_(NeedsSampleConversion(info)) {
        pipe_ = info;
        if (convert_) {
            pipe_.BitsPerSample = 16;
            pipe_.BlockAlign = static_cast<std::uint16_t>(info.Channels * 2);
        }
        Seek(0);
    }

    const StreamInfo& Describe() const override { return pipe_; }

    void Seek(std::uint64_t frame) override {
        const std::uint64_t skipped = std::min<std::uint64_t>(frame * stored_, info_.DataSize);
        file_.Seek(info_.StartOffset + skipped);
        // The payload ends where the data chunk ends, not at the first chunk after it.
        remaining_ = info_.DataSize - skipped;
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t bytes) override {
        const std::size_t want = Want(bytes / pipe_.PipelineFrameBytes());
        if (want == 0) return 0;
        std::uint8_t* target = buffer;
        if (convert_) {
            raw_.resize(want);
            target = raw_.data();
        }
        const std::size_t got = ReadWhole(target, want);
        if (got == 0 || !convert_) return got;
        const std::size_t n = got / stored_;
        ConvertStoredSamples(raw_.data(), n, info_, reinterpret_cast<std::int16_t*>(buffer));
        return n * info_.Channels * 2;
    }

    // 24- and 32-bit PCM; float samples count as 24 bits (their precision).
    int WideBits() const override {
        const int channels = std::max(info_.StoredChannels, info_.Channels);
        if (info_.BlockAlign != channels * info_.BitsPerSample / 8) return 0;
        if (info_.Encoding == SampleEncoding::Float) return 24;
        return info_.BitsPerSample == 24 || info_.BitsPerSample == 32 ? info_.BitsPerSample : 0;
    }

    std::size_t ReadWide(std::int32_t* samples, std::size_t frames) override {
        const std::size_t want = Want(frames);
        if (want == 0) return 0;
        raw_.resize(want);
        const std::size_t got = ReadWhole(raw_.data(), want);
        if (got == 0) return 0;
        // Little-endian samples moved to the top of 32 bits.
        const std::size_t width = info_.BitsPerSample / 8;
        const std::size_t count = got / width;
        const bool mix = info_.StoredChannels > info_.Channels;
        if (mix) all_.resize(count);
        std::int32_t* target = mix ? all_.data() : samples;
        if (info_.Encoding == SampleEncoding::Float) {
            for (std::size_t i = 0; i < count; ++i)
                target[i] = FloatSample(raw_.data() + i * width);
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                std::uint32_t v = 0;
                for (std::size_t b = 0; b < width; ++b)
                    v |= static_cast<std::uint32_t>(raw_[i * width + b]) << (8 * (4 - width + b));
                target[i] = static_cast<std::int32_t>(v);
            }
        }
        if (mix) MixStoredChannelsWide(all_.data(), got / stored_, info_, samples);
        return got / stored_;
    }

private:
    // The bytes of up to `frames` stored frames that the data chunk still holds.
    std::size_t Want(std::size_t frames) const {
        return static_cast<std::size_t>(
            std::min<std::uint64_t>(remaining_, static_cast<std::uint64_t>(frames) * stored_));
    }

    // Whole frames only; a short file ends the payload where its last whole frame ends.
    std::size_t ReadWhole(std::uint8_t* target, std::size_t want) {
        std::size_t got = file_.Read(target, want);
        got -= got % stored_;
        remaining_ = got == 0 ? 0 : remaining_ - got;
        return got;
    }

    // A stored float sample rounded to 24 bits at the top of 32 (clipped at full scale, NaN
    // silent).
    std::int32_t FloatSample(const std::uint8_t* p) const {
        double x;
        if (info_.BitsPerSample == 32) {
            float f;
            std::memcpy(&f, p, 4);
            x = f;
        } else {
            std::memcpy(&x, p, 8);
        }
        if (!(x == x)) return 0;
        const double s = std::nearbyint(std::clamp(x * 8388608.0, -8388608.0, 8388607.0));
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::int32_t>(s))
                                         << 8);
    }

    File& file_;
    StreamInfo info_;  // as stored
    StreamInfo pipe_;  // as read
    std::uint32_t stored_;
    bool convert_;
    std::uint64_t remaining_ = 0;
    std::vector<std::uint8_t> raw_;
    std::vector<std::int32_t> all_;  // every stored channel, before the mixdown
};

}  // namespace

bool ProbeWav(File& file, StreamInfo& info) {
    return FirstFour(file) == kKindRiff && ReadRiffInput(file, info, true) && info.trackNumber == 0;
}

std::unique_ptr<Input> OpenWavInput(File& file, const StreamInfo& info, const InputOptions&) {
    if (info.CodecName != "PCM") {
        ShowMessage("Decoding this file needs an external codec: " + info.CodecName,
                    "Quorvatix Tralux");
        throw JobError(0);
    }
    return std::make_unique<WavInput>(file, info);
}

bool ProbeRealMedia(File& file, StreamInfo& info) {
    const std::uint32_t kind = FirstFour(file);
    return kind == kKindRealMedia || kind == kKindRealAudio;
}

std::unique_ptr<Input> OpenRealMedia(File&, const StreamInfo&, const InputOptions&) {
    ShowMessage(kRealMediaMessage, "Quorvatix Tralux");
    throw JobError(0);
}

}  // namespace tralux
