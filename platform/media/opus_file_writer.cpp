#include "platform/media/opus_file_writer.h"

#include <opus/opusenc.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/job/errors.h"
#include "engine/job/file.h"

namespace tralux::platform {

struct OpusFileWriter::Impl {
    OggOpusEnc* encoder = nullptr;
    OggOpusComments* comments = nullptr;
    int channels = 2;
    bool finished = false;
    // Pages go through our own file, so every failed write is seen with its reason (stdio
    // would keep the last failure to a close whose result the library drops).
    File file;
    std::string ioError;
    std::vector<float> floats;  // deep samples for the float entry

    static int WriteTo(void* data, const unsigned char* bytes, opus_int32 size) {
        auto* m = static_cast<Impl*>(data);
        if (!m->ioError.empty()) return 1;
        try {
            m->file.Write(bytes, static_cast<std::size_t>(size));
            return 0;
        } catch (const FileError& e) {
            m->ioError = e.reason().empty() ? FileCauseText(e.cause()) : e.reason();
            return 1;
        }
    }
    static int CloseFile(void* data) {
        static_cast<Impl*>(data)->file.Close();
        return 0;
    }

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
                                                       const MediaTags& tags, std::string& error,
                                                       int sourceBits) {
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
    if (!impl->file.TryOpen(path, File::Mode::CreateWrite)) {
        error = std::strerror(errno ? errno : EIO);
        impl->finished = true;
        return nullptr;
    }
    static const OpusEncCallbacks kCallbacks{Impl::WriteTo, Impl::CloseFile};
    impl->encoder = ope_encoder_create_callbacks(&kCallbacks, impl.get(), impl->comments,
                                                 static_cast<opus_int32>(rate), channels, 0, &err);
    if (!impl->encoder) {
        error = OpeText(err);
        impl->finished = true;
        return nullptr;
    }
    ope_encoder_ctl(impl->encoder, OPUS_SET_BITRATE(bitsPerSecond));
    ope_encoder_ctl(impl->encoder, OPUS_SET_VBR(1));
    // Free VBR: the constrained kind (the library's default) spends the nominal rate on every
    // frame and made files ~18 % larger than other encoders' at the same setting.
    ope_encoder_ctl(impl->encoder, OPUS_SET_VBR_CONSTRAINT(0));
    // Nothing below the source's own precision is worth coding.
    ope_encoder_ctl(impl->encoder, OPUS_SET_LSB_DEPTH(std::clamp(sourceBits, 16, 24)));
    return std::unique_ptr<OpusFileWriter>(new OpusFileWriter(std::move(impl)));
}

bool OpusFileWriter::Write16(const std::int16_t* samples, std::size_t frames) {
    Impl& m = *impl_;
    if (m.finished) return false;
    while (frames > 0) {
        const int n = static_cast<int>(std::min<std::size_t>(frames, 1u << 16));
        errno = 0;
        const int err = ope_encoder_write(m.encoder, samples, n);
        if (err != OPE_OK || !m.ioError.empty()) {
            error_ = m.ioError.empty() ? OpeText(err) : m.ioError;
            return false;
        }
        frames -= static_cast<std::size_t>(n);
        samples += static_cast<std::size_t>(n) * static_cast<std::size_t>(m.channels);
    }
    return true;
}

bool OpusFileWriter::Write(const std::int32_t* samples, std::size_t frames) {
    Impl& m = *impl_;
    if (m.finished) return false;
    const auto channels = static_cast<std::size_t>(m.channels);
    while (frames > 0) {
        const std::size_t n = std::min<std::size_t>(frames, 1u << 14);
        m.floats.resize(n * channels);
        for (std::size_t i = 0; i < n * channels; ++i)
            m.floats[i] = static_cast<float>(samples[i]) * (1.0f / 8388608.0f);
        errno = 0;
        const int err = ope_encoder_write_float(m.encoder, m.floats.data(), static_cast<int>(n));
        if (err != OPE_OK || !m.ioError.empty()) {
            error_ = m.ioError.empty() ? OpeText(err) : m.ioError;
            return false;
        }
        frames -= n;
        samples += n * channels;
    }
    return true;
}

bool OpusFileWriter::Finish() {
    Impl& m = *impl_;
    if (m.finished) return error_.empty();
    m.finished = true;
    errno = 0;
    const int err = ope_encoder_drain(m.encoder);
    if (err != OPE_OK && error_.empty()) error_ = m.ioError.empty() ? OpeText(err) : m.ioError;
    // The file is closed with the encoder.
    ope_encoder_destroy(m.encoder);
    m.encoder = nullptr;
    m.file.Close();
    if (error_.empty()) error_ = m.ioError;
    return error_.empty();
}

}  // namespace tralux::platform
