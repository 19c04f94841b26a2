#include "platform/media/media_decoder.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace tralux::platform {

namespace {

std::string AvErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

// Damaged input is expected; the decoders' complaints are not news for the terminal.
void QuietLibraries() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() > AV_LOG_FATAL) av_log_set_level(AV_LOG_FATAL);
    });
}

struct MemorySource {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
};

int MemoryRead(void* opaque, std::uint8_t* buf, int size) {
    auto* m = static_cast<MemorySource*>(opaque);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(size), m->size - m->pos);
    if (n == 0) return AVERROR_EOF;
    std::memcpy(buf, m->data + m->pos, n);
    m->pos += n;
    return static_cast<int>(n);
}

std::int64_t MemorySeek(void* opaque, std::int64_t offset, int whence) {
    auto* m = static_cast<MemorySource*>(opaque);
    if (whence & AVSEEK_SIZE) return static_cast<std::int64_t>(m->size);
    std::int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = static_cast<std::int64_t>(m->pos);
            break;
        case SEEK_END:
            base = static_cast<std::int64_t>(m->size);
            break;
        default:
            return -1;
    }
    if (offset > static_cast<std::int64_t>(m->size) - base || base + offset < 0) return -1;
    m->pos = static_cast<std::size_t>(base + offset);
    return static_cast<std::int64_t>(m->pos);
}

}  // namespace

struct MediaDecoder::Impl {
    std::string path;
    bool inMemory = false;
    MemorySource memory;
    AVIOContext* io = nullptr;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int streamIndex = -1;
    AVChannelLayout layout{};  // what every frame is converted to
    AVSampleFormat outFormat = AV_SAMPLE_FMT_S16;
    // The layout and format swr was built for (a stream may change them midway).
    AVChannelLayout swrInLayout{};
    int swrInFormat = -1;
    int swrInRate = 0;
    bool draining = false;
    bool ended = false;
    MediaDescription description;
    std::vector<std::int32_t> pending;  // decoded frames not yet read, at full 32-bit scale
    std::size_t pendingStart = 0;       // first unread sample in `pending`
    std::uint64_t position = 0;         // frames delivered since the start
    std::string error;

    ~Impl() { Close(); }

    void Close() {
        swr_free(&swr);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        av_channel_layout_uninit(&layout);
        av_channel_layout_uninit(&swrInLayout);
        swrInFormat = -1;
        streamIndex = -1;
        draining = ended = false;
        pending.clear();
        pendingStart = 0;
        position = 0;
    }

    bool Fail(std::string text) {
        error = std::move(text);
        return false;
    }

    bool OpenSource() {
        QuietLibraries();
        format = avformat_alloc_context();
        if (!format) return Fail("out of memory");
        if (inMemory) {
            memory.pos = 0;
            constexpr int kBuffer = 32768;
            auto* buffer = static_cast<std::uint8_t*>(av_malloc(kBuffer));
            if (!buffer) return Fail("out of memory");
            io = avio_alloc_context(buffer, kBuffer, 0, &memory, MemoryRead, nullptr, MemorySeek);
            if (!io) {
                av_free(buffer);
                return Fail("out of memory");
            }
            format->pb = io;
            format->flags |= AVFMT_FLAG_CUSTOM_IO;
        }
        int err = avformat_open_input(&format, inMemory ? nullptr : path.c_str(), nullptr, nullptr);
        if (err < 0) {
            format = nullptr;  // freed by the failed open
            return Fail(AvErrorText(err));
        }
        err = avformat_find_stream_info(format, nullptr);
        if (err < 0) return Fail(AvErrorText(err));
        const AVCodec* decoder = nullptr;
        streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
        if (streamIndex < 0 || !decoder) return Fail("no audio stream that can be decoded");
        AVStream* stream = format->streams[streamIndex];
        codec = avcodec_alloc_context3(decoder);
        if (!codec) return Fail("out of memory");
        err = avcodec_parameters_to_context(codec, stream->codecpar);
        if (err < 0) return Fail(AvErrorText(err));
        codec->thread_count = 1;
        err = avcodec_open2(codec, decoder, nullptr);
        if (err < 0) return Fail(AvErrorText(err));
        const int channels = codec->ch_layout.nb_channels;
        if (codec->sample_rate < 1000 || codec->sample_rate > 768000 || channels < 1 ||
            channels > 32)
            return Fail("unusable sample rate or channel count");
        if (codec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
            err = av_channel_layout_copy(&layout, &codec->ch_layout);
        else
            av_channel_layout_default(&layout, channels);
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (!frame || !packet) return Fail("out of memory");

        MediaDescription& d = description;
        d = MediaDescription{};
        d.Rate = static_cast<std::uint32_t>(codec->sample_rate);
        d.Channels = channels;
        d.ChannelMask = layout.order == AV_CHANNEL_ORDER_NATIVE &&
                                codec->ch_layout.order == AV_CHANNEL_ORDER_NATIVE
                            ? layout.u.mask
                            : 0;
        d.Codec = decoder->name;
        const AVCodecDescriptor* cd = avcodec_descriptor_get(decoder->id);
        d.CodecLongName = cd && cd->long_name ? cd->long_name : decoder->name;
        d.Container = format->iformat->name;
        if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            d.Frames = av_rescale_q(stream->duration, stream->time_base,
                                    AVRational{1, codec->sample_rate});
        else if (format->duration != AV_NOPTS_VALUE && format->duration > 0)
            d.Frames = av_rescale(format->duration, codec->sample_rate, AV_TIME_BASE);
        // Encoder delay and padding are not played (Opus pre-skip, gapless MP3).
        if (d.Frames > 0)
            d.Frames = std::max<std::int64_t>(0, d.Frames - stream->codecpar->initial_padding -
                                                     stream->codecpar->trailing_padding);
        d.BitRate = stream->codecpar->bit_rate > 0 ? stream->codecpar->bit_rate : format->bit_rate;
        if (d.BitRate < 0) d.BitRate = 0;
        const AVSampleFormat packed = av_get_packed_sample_fmt(codec->sample_fmt);
        d.IntegerSamples = packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_S16 ||
                           packed == AV_SAMPLE_FMT_S32;
        if (cd && (cd->props & AV_CODEC_PROP_LOSSLESS)) {
            d.BitsPerSample = stream->codecpar->bits_per_raw_sample;
            if (d.BitsPerSample <= 0) d.BitsPerSample = stream->codecpar->bits_per_coded_sample;
            if (d.BitsPerSample <= 0 || d.BitsPerSample > 32)
                d.BitsPerSample = av_get_bytes_per_sample(codec->sample_fmt) * 8;
        }
        return true;
    }

    bool BuildConverter() {
        swr_free(&swr);
        av_channel_layout_uninit(&swrInLayout);
        AVChannelLayout in{};
        if (frame->ch_layout.order == AV_CHANNEL_ORDER_NATIVE)
            av_channel_layout_copy(&in, &frame->ch_layout);
        else
            av_channel_layout_default(&in, frame->ch_layout.nb_channels);
        int err = swr_alloc_set_opts2(&swr, &layout, outFormat, static_cast<int>(description.Rate),
                                      &in, static_cast<AVSampleFormat>(frame->format),
                                      frame->sample_rate, 0, nullptr);
        if (err >= 0) err = swr_init(swr);
        av_channel_layout_copy(&swrInLayout, &frame->ch_layout);
        av_channel_layout_uninit(&in);
        swrInFormat = frame->format;
        swrInRate = frame->sample_rate;
        if (err < 0) return Fail(AvErrorText(err));
        return true;
    }

    bool Convert() {
        if (!swr || swrInFormat != frame->format || swrInRate != frame->sample_rate ||
            av_channel_layout_compare(&swrInLayout, &frame->ch_layout) != 0) {
            if (!BuildConverter()) return false;
        }
        const int channels = description.Channels;
        const int room = swr_get_out_samples(swr, frame->nb_samples);
        if (room < 0) return Fail(AvErrorText(room));
        const bool wide = outFormat == AV_SAMPLE_FMT_S32;
        std::vector<std::uint8_t> out(static_cast<std::size_t>(room) * channels * (wide ? 4 : 2));
        std::uint8_t* outPtr = out.data();
        const int got =
            swr_convert(swr, &outPtr, room, const_cast<const std::uint8_t**>(frame->extended_data),
                        frame->nb_samples);
        if (got < 0) return Fail(AvErrorText(got));
        Append(out.data(), static_cast<std::size_t>(got) * channels, wide);
        return true;
    }

    void Append(const std::uint8_t* bytes, std::size_t samples, bool wide) {
        if (pendingStart > 0) {
            pending.erase(pending.begin(),
                          pending.begin() + static_cast<std::ptrdiff_t>(pendingStart));
            pendingStart = 0;
        }
        const std::size_t at = pending.size();
        pending.resize(at + samples);
        if (wide) {
            std::memcpy(pending.data() + at, bytes, samples * 4);
        } else {
            for (std::size_t i = 0; i < samples; ++i) {
                std::int16_t s;
                std::memcpy(&s, bytes + 2 * i, 2);
                pending[at + i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(s) << 16);
            }
        }
    }

    // Decodes until at least one more frame is pending; false at the end or on an error.
    bool DecodeMore() {
        int stalls = 0;
        while (!ended) {
            int err = avcodec_receive_frame(codec, frame);
            if (err == 0) {
                const bool ok = frame->nb_samples <= 0 || Convert();
                av_frame_unref(frame);
                if (!ok) return false;
                if (PendingFrames() > 0) return true;
                continue;
            }
            if (err == AVERROR_EOF) {
                ended = true;
                break;
            }
            if (err != AVERROR(EAGAIN)) {
                // A decoder error on one packet: go on with the next one.
                if (++stalls > 1000) {
                    ended = true;
                    break;
                }
                if (!draining) continue;
            }
            if (draining) {
                if (++stalls > 1000) ended = true;
                continue;
            }
            err = av_read_frame(format, packet);
            if (err < 0) {
                if (err != AVERROR_EOF && format->pb && format->pb->error < 0 &&
                    format->pb->error != AVERROR_EOF)
                    return Fail("read error: " + AvErrorText(format->pb->error));
                draining = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            if (packet->stream_index == streamIndex) avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
        }
        return false;
    }

    std::size_t PendingFrames() const {
        return (pending.size() - pendingStart) / static_cast<std::size_t>(description.Channels);
    }

    void SetMode(AVSampleFormat f) {
        if (outFormat == f) return;
        outFormat = f;
        swr_free(&swr);  // rebuilt at the next frame
    }

    // Hands out up to `frames` frames at 32-bit scale; -1 on error.
    long Take(std::size_t frames,
              const std::function<void(const std::int32_t*, std::size_t)>& sink) {
        std::size_t done = 0;
        while (done < frames) {
            if (PendingFrames() == 0 && !DecodeMore()) {
                if (!error.empty()) return -1;
                break;
            }
            const std::size_t n = std::min(frames - done, PendingFrames());
            const std::size_t samples = n * static_cast<std::size_t>(description.Channels);
            sink(pending.data() + pendingStart, samples);
            pendingStart += samples;
            done += n;
            position += n;
        }
        return static_cast<long>(done);
    }
};

MediaDecoder::MediaDecoder(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MediaDecoder::~MediaDecoder() = default;

std::unique_ptr<MediaDecoder> MediaDecoder::Open(const std::string& path, std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    if (!impl->OpenSource()) {
        error = impl->error;
        return nullptr;
    }
    return std::unique_ptr<MediaDecoder>(new MediaDecoder(std::move(impl)));
}

std::unique_ptr<MediaDecoder> MediaDecoder::OpenMemory(const std::uint8_t* data, std::size_t size,
                                                       std::string& error) {
    auto impl = std::make_unique<Impl>();
    impl->inMemory = true;
    impl->memory = MemorySource{data, size, 0};
    if (!impl->OpenSource()) {
        error = impl->error;
        return nullptr;
    }
    return std::unique_ptr<MediaDecoder>(new MediaDecoder(std::move(impl)));
}

const MediaDescription& MediaDecoder::Description() const {
    return impl_->description;
}

long MediaDecoder::Read16(std::int16_t* out, std::size_t frames) {
    impl_->SetMode(AV_SAMPLE_FMT_S16);
    return impl_->Take(frames, [&out](const std::int32_t* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            // Converted at 16 bits: the low half is zero, the shift is exact.
            *out++ = static_cast<std::int16_t>(s[i] >> 16);
        }
    });
}

long MediaDecoder::Read32(std::int32_t* out, std::size_t frames) {
    impl_->SetMode(AV_SAMPLE_FMT_S32);
    return impl_->Take(frames, [&out](const std::int32_t* s, std::size_t n) {
        std::memcpy(out, s, n * 4);
        out += n;
    });
}

void MediaDecoder::PreferRead32() {
    impl_->SetMode(AV_SAMPLE_FMT_S32);
}

bool MediaDecoder::Seek(std::uint64_t target) {
    Impl& m = *impl_;
    m.error.clear();
    // Decoders with priming and pre-skip give the same samples only when decoding starts at the
    // start: go back there and decode forward, so every start position is exact.
    if (target < m.position) {
        const AVSampleFormat mode = m.outFormat;
        m.Close();
        if (!m.OpenSource()) return false;
        m.outFormat = mode;
    }
    while (m.position < target) {
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(target - m.position, 1u << 16));
        const long got = m.Take(want, [](const std::int32_t*, std::size_t) {});
        if (got < 0) return false;
        if (got == 0) break;  // past the end: the next read gives nothing
    }
    return true;
}

std::uint64_t MediaDecoder::Position() const {
    return impl_->position;
}

const std::string& MediaDecoder::ErrorText() const {
    return impl_->error;
}

}  // namespace tralux::platform
