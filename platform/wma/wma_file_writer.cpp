#include "platform/wma/wma_file_writer.h"

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace tralux::platform {

namespace {

// The libraries report refusals ("bitrate too low ...") only through their log: keep the
// last error line of this thread so it can become the writer's message.
thread_local std::string t_lastLogError;

void LogCallback(void* avcl, int level, const char* format, va_list args) {
    if (level > AV_LOG_ERROR) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    if (!text.empty()) t_lastLogError = text;
}

void InstallLogCallback() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(LogCallback); });
}

std::string AvErrorText(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

// The library's own words when it logged any, else the error code's text.
std::string Reason(int err) {
    std::string text = t_lastLogError.empty() ? AvErrorText(err) : t_lastLogError;
    t_lastLogError.clear();
    return text;
}

const char* MetadataKey(const std::string& attribute) {
    if (attribute == "Title") return "title";
    if (attribute == "Author") return "author";
    if (attribute == "Copyright") return "copyright";
    // The muxer writes these as WM/AlbumTitle, WM/TrackNumber, WM/Year and WM/Genre.
    if (attribute == "WM/AlbumTitle") return "album";
    if (attribute == "WM/TrackNumber") return "track";
    if (attribute == "WM/Year") return "date";
    if (attribute == "WM/Genre") return "genre";
    return nullptr;
}

}  // namespace

struct WmaFileWriter::Impl {
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int inChannels = 0;
    std::uint32_t inRate = 0;
    bool headerWritten = false;
    bool finished = false;
    bool failed = false;
    std::int64_t pts = 0;
    int filled = 0;  // sample frames waiting in `frame`

    ~Impl() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }

    // Sends one frame (nullptr drains) and writes what comes out.
    int Encode(AVFrame* f) {
        int err = avcodec_send_frame(codec, f);
        if (err < 0) return err;
        for (;;) {
            err = avcodec_receive_packet(codec, packet);
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return 0;
            if (err < 0) return err;
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            err = av_interleaved_write_frame(format, packet);
            if (err < 0) return err;
        }
    }

    int EncodeFilled() {
        if (filled == 0) return 0;
        // The encoder takes whole frames only: the tail is padded with silence.
        for (int c = 0; c < codec->ch_layout.nb_channels; ++c) {
            float* plane = reinterpret_cast<float*>(frame->data[c]);
            for (int i = filled; i < codec->frame_size; ++i) plane[i] = 0.0f;
        }
        frame->pts = pts;
        pts += codec->frame_size;
        filled = 0;
        return Encode(frame);
    }
};

WmaFileWriter::WmaFileWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

WmaFileWriter::~WmaFileWriter() {
    if (!impl_) return;
    // A header without its index would leave an unplayable file: finish it quietly.
    if (impl_->headerWritten && !impl_->finished && !impl_->failed) Flush();
    const bool remove = !impl_->headerWritten;
    const std::string path = impl_->path;
    impl_.reset();
    if (remove) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
}

int WmaFileWriter::Fail(int code, std::string text) {
    error_ = std::move(text);
    return code < 0 ? code : -1;
}

std::unique_ptr<WmaFileWriter> WmaFileWriter::Create(const std::string& path, std::string& error) {
    InstallLogCallback();
    t_lastLogError.clear();
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    int err = avformat_alloc_output_context2(&impl->format, nullptr, "asf", path.c_str());
    if (err < 0 || !impl->format) {
        error = "cannot set up the ASF container: " + Reason(err);
        return nullptr;
    }
    err = avio_open(&impl->format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (err < 0) {
        error = "cannot create " + path + ": " + Reason(err);
        return nullptr;
    }
    impl->packet = av_packet_alloc();
    if (!impl->packet) {
        error = "out of memory";
        return nullptr;
    }
    return std::unique_ptr<WmaFileWriter>(new WmaFileWriter(std::move(impl)));
}

int WmaFileWriter::SetAttribute(const std::string& name, const std::string& value) {
    const char* key = MetadataKey(name);
    if (!key) return Fail(-1, "unknown attribute " + name);
    if (impl_->headerWritten) return Fail(-1, "attributes must come before the output format");
    const int err = av_dict_set(&impl_->format->metadata, key, value.c_str(), 0);
    return err < 0 ? Fail(err, Reason(err)) : 0;
}

int WmaFileWriter::SetInputFormat(int channels, std::uint32_t rate, int bitsPerSample) {
    if (channels < 1 || channels > 2 || bitsPerSample != 16 || rate == 0)
        return Fail(-1, "input must be 16-bit PCM, one or two channels");
    impl_->inChannels = channels;
    impl_->inRate = rate;
    return 0;
}

int WmaFileWriter::SetOutputFormat(std::int64_t bitsPerSecond, std::uint32_t rate, int channels) {
    Impl& m = *impl_;
    if (m.headerWritten) return Fail(-1, "output format already set");
    if (m.inChannels == 0) return Fail(-1, "input format not set");
    // No converter inside the writer: the job already delivers the output rate and channels.
    if (rate != m.inRate || channels != m.inChannels)
        return Fail(-1, "input and output formats differ");
    t_lastLogError.clear();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec) return Fail(-1, "no wmav2 encoder in this FFmpeg");
    m.codec = avcodec_alloc_context3(codec);
    if (!m.codec) return Fail(-1, "out of memory");
    m.codec->bit_rate = bitsPerSecond;
    m.codec->sample_rate = static_cast<int>(rate);
    av_channel_layout_default(&m.codec->ch_layout, channels);
    m.codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m.codec->time_base = AVRational{1, static_cast<int>(rate)};
    if (m.format->oformat->flags & AVFMT_GLOBALHEADER)
        m.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int err = avcodec_open2(m.codec, codec, nullptr);
    if (err < 0) return Fail(err, Reason(err));
    m.stream = avformat_new_stream(m.format, nullptr);
    if (!m.stream) return Fail(-1, "out of memory");
    m.stream->time_base = m.codec->time_base;
    err = avcodec_parameters_from_context(m.stream->codecpar, m.codec);
    if (err < 0) return Fail(err, Reason(err));
    m.frame = av_frame_alloc();
    if (!m.frame) return Fail(-1, "out of memory");
    m.frame->format = m.codec->sample_fmt;
    m.frame->nb_samples = m.codec->frame_size;
    m.frame->sample_rate = m.codec->sample_rate;
    err = av_channel_layout_copy(&m.frame->ch_layout, &m.codec->ch_layout);
    if (err >= 0) err = av_frame_get_buffer(m.frame, 0);
    if (err < 0) return Fail(err, Reason(err));
    err = avformat_write_header(m.format, nullptr);
    if (err < 0) return Fail(err, "cannot write the file header: " + Reason(err));
    m.headerWritten = true;
    return 0;
}

int WmaFileWriter::WriteSample(const std::uint8_t* bytes, std::size_t count) {
    Impl& m = *impl_;
    if (!m.headerWritten || m.finished) return Fail(-1, "writer not ready");
    if (m.failed) return Fail(-1, error_);
    const std::size_t frameBytes = static_cast<std::size_t>(m.inChannels) * 2;
    if (count % frameBytes != 0) return Fail(-1, "sample data is not whole frames");
    const std::size_t frames = count / frameBytes;
    const int channels = m.inChannels;
    for (std::size_t i = 0; i < frames; ++i) {
        if (m.filled == 0) {
            const int err = av_frame_make_writable(m.frame);
            if (err < 0) {
                m.failed = true;
                return Fail(err, Reason(err));
            }
        }
        for (int c = 0; c < channels; ++c) {
            const std::uint8_t* s =
                bytes + (i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)) * 2;
            const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(s[0] | s[1] << 8));
            reinterpret_cast<float*>(m.frame->data[c])[m.filled] = static_cast<float>(v) / 32768.0f;
        }
        if (++m.filled == m.codec->frame_size) {
            const int err = m.EncodeFilled();
            if (err < 0) {
                m.failed = true;
                return Fail(err, "cannot write " + m.path + ": " + Reason(err));
            }
        }
    }
    return 0;
}

int WmaFileWriter::Flush() {
    Impl& m = *impl_;
    if (m.finished) return 0;
    if (!m.headerWritten) return Fail(-1, "nothing to flush: no output format");
    m.finished = true;
    int err = m.failed ? 0 : m.EncodeFilled();
    if (err >= 0 && !m.failed) err = m.Encode(nullptr);
    // The index and the header's sizes are written even after a failed packet, when possible.
    const int trailer = av_write_trailer(m.format);
    if (err >= 0) err = trailer;
    const int close = avio_closep(&m.format->pb);
    if (err >= 0) err = close;
    if (err < 0) return Fail(err, "cannot finish " + m.path + ": " + Reason(err));
    if (m.failed) return Fail(-1, error_);
    return 0;
}

int WmaFileWriter::FrameSize() const {
    return impl_->codec ? impl_->codec->frame_size : 0;
}

bool WmaEncoderAccepts(std::int64_t bitsPerSecond, std::uint32_t rate, int channels,
                       std::string* why) {
    InstallLogCallback();
    t_lastLogError.clear();
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec) {
        if (why) *why = "no wmav2 encoder in this FFmpeg";
        return false;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    if (!ctx) return false;
    ctx->bit_rate = bitsPerSecond;
    ctx->sample_rate = static_cast<int>(rate);
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->time_base = AVRational{1, static_cast<int>(rate)};
    const int err = avcodec_open2(ctx, codec, nullptr);
    if (err < 0 && why) *why = Reason(err);
    t_lastLogError.clear();
    avcodec_free_context(&ctx);
    return err >= 0;
}

}  // namespace tralux::platform
