#include "platform/media/opus_file_writer.h"

#include <opus/opusenc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tralux::platform {

struct OpusFileWriter::Impl {
    OggOpusEnc* encoder = nullptr;
    OggOpusComments* comments = nullptr;
    int channels = 2;
    bool finished = false;

    ~Impl() {
        if (encoder) ope_encoder_destroy(encoder);
        if (comments) ope_comments_destroy(comments);
    }
};

namespace {

std::string OpeText(int err) {
    if (err == OPE_CANNOT_OPEN || err == OPE_WRITE_FAIL) return std::strerror(errno ? errno : EIO);
    const char* s = ope_strerror(err);
    return s ? s : "Opus encoder error";
}

}  // namespace

OpusFileWriter::OpusFileWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

OpusFileWriter::~OpusFileWriter() {
    if (impl_ && !impl_->finished) Finish();
}

std::unique_ptr<OpusFileWriter> OpusFileWriter::Create(const std::string& path, std::uint32_t rate,
                                                       int channels, int bitsPerSecond,
                                                       const MediaTags& tags, std::string& error) {
    if (channels < 1 || channels > 2 || rate < 8000 || rate > 192000 || bitsPerSecond < 6000 ||
        bitsPerSecond > 510000) {
        error = "unsupported Opus format";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->channels = channels;
    impl->comments = ope_comments_create();
    if (!impl->comments) {
        error = "out of memory";
        return nullptr;
    }
    for (const auto& [name, value] : tags.Fields)
        if (!value.empty()) ope_comments_add(impl->comments, name.c_str(), value.c_str());
    if (!tags.Picture.empty()) {
        const int err = ope_comments_add_picture_from_memory(
            impl->comments, reinterpret_cast<const char*>(tags.Picture.data()), tags.Picture.size(),
            3, nullptr);
        if (err != OPE_OK) {
            error = "cover art: " + OpeText(err);
            return nullptr;
        }
    }
    int err = OPE_OK;
    errno = 0;
    impl->encoder = ope_encoder_create_file(path.c_str(), impl->comments,
                                            static_cast<opus_int32>(rate), channels, 0, &err);
    if (!impl->encoder) {
        error = OpeText(err);
        impl->finished = true;
        return nullptr;
    }
    ope_encoder_ctl(impl->encoder, OPUS_SET_BITRATE(bitsPerSecond));
    ope_encoder_ctl(impl->encoder, OPUS_SET_VBR(1));
    return std::unique_ptr<OpusFileWriter>(new OpusFileWriter(std::move(impl)));
}

bool OpusFileWriter::Write16(const std::int16_t* samples, std::size_t frames) {
    Impl& m = *impl_;
    if (m.finished) return false;
    while (frames > 0) {
        const int n = static_cast<int>(std::min<std::size_t>(frames, 1u << 16));
        errno = 0;
        const int err = ope_encoder_write(m.encoder, samples, n);
        if (err != OPE_OK) {
            error_ = OpeText(err);
            return false;
        }
        frames -= static_cast<std::size_t>(n);
        samples += static_cast<std::size_t>(n) * static_cast<std::size_t>(m.channels);
    }
    return true;
}

bool OpusFileWriter::Finish() {
    Impl& m = *impl_;
    if (m.finished) return error_.empty();
    m.finished = true;
    errno = 0;
    const int err = ope_encoder_drain(m.encoder);
    if (err != OPE_OK && error_.empty()) error_ = OpeText(err);
    // The file is closed with the encoder.
    ope_encoder_destroy(m.encoder);
    m.encoder = nullptr;
    return error_.empty();
}

}  // namespace tralux::platform
