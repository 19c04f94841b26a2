#include "platform/media/flac_file_writer.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "engine/job/errors.h"
#include "engine/job/file.h"

namespace tralux::platform {

struct FlacFileWriter::Impl {
    FLAC__StreamEncoder* encoder = nullptr;
    std::vector<FLAC__StreamMetadata*> blocks;
    FlacSettings settings;
    std::string path;
    std::uint64_t written = 0;
    std::vector<FLAC__int32> buffer;
    bool finished = false;
    // Written through our own file, so every failed write is seen with its reason (stdio
    // would keep the last failure to a close whose result libFLAC drops).
    File file;
    std::string ioError;

    ~Impl() {
        if (encoder) FLAC__stream_encoder_delete(encoder);
        for (FLAC__StreamMetadata* b : blocks) FLAC__metadata_object_delete(b);
    }

    std::string StateText() const {
        if (!ioError.empty()) return ioError;
        const FLAC__StreamEncoderState state = FLAC__stream_encoder_get_state(encoder);
        if (state == FLAC__STREAM_ENCODER_IO_ERROR || state == FLAC__STREAM_ENCODER_CLIENT_ERROR)
            return std::strerror(errno ? errno : EIO);
        return FLAC__StreamEncoderStateString[state];
    }

    void Failed(const FileError& e) {
        if (ioError.empty()) ioError = e.reason().empty() ? FileCauseText(e.cause()) : e.reason();
    }

    static FLAC__StreamEncoderWriteStatus WriteTo(const FLAC__StreamEncoder*,
                                                  const FLAC__byte buffer[], size_t bytes, uint32_t,
                                                  uint32_t, void* data) {
        auto* m = static_cast<Impl*>(data);
        try {
            m->file.Write(buffer, bytes);
            return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
        } catch (const FileError& e) {
            m->Failed(e);
            return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
        }
    }
    static FLAC__StreamEncoderSeekStatus SeekTo(const FLAC__StreamEncoder*, FLAC__uint64 offset,
                                                void* data) {
        auto* m = static_cast<Impl*>(data);
        try {
            m->file.Seek(offset);
            return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
        } catch (const FileError& e) {
            m->Failed(e);
            return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
        }
    }
    static FLAC__StreamEncoderTellStatus Tell(const FLAC__StreamEncoder*, FLAC__uint64* offset,
                                              void* data) {
        auto* m = static_cast<Impl*>(data);
        try {
            *offset = m->file.Position();
            return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
        } catch (const FileError& e) {
            m->Failed(e);
            return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
        }
    }
};

FlacFileWriter::FlacFileWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FlacFileWriter::~FlacFileWriter() {
    if (impl_ && !impl_->finished) Finish();
}

std::unique_ptr<FlacFileWriter> FlacFileWriter::Create(const std::string& path,
                                                       const FlacSettings& settings,
                                                       const MediaTags& tags, std::string& error) {
    if ((settings.Bits != 16 && settings.Bits != 24) || settings.Channels < 1 ||
        settings.Channels > 8 || settings.Rate < 1 || settings.Rate > 655350 ||
        settings.Level < 0 || settings.Level > 8) {
        error = "unsupported FLAC format";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->settings = settings;
    impl->path = path;
    impl->encoder = FLAC__stream_encoder_new();
    if (!impl->encoder) {
        error = "out of memory";
        return nullptr;
    }
    FLAC__StreamEncoder* enc = impl->encoder;
    FLAC__stream_encoder_set_channels(enc, static_cast<unsigned>(settings.Channels));
    FLAC__stream_encoder_set_bits_per_sample(enc, static_cast<unsigned>(settings.Bits));
    FLAC__stream_encoder_set_sample_rate(enc, settings.Rate);
    FLAC__stream_encoder_set_compression_level(enc, static_cast<unsigned>(settings.Level));
    if (settings.ExpectedFrames)
        FLAC__stream_encoder_set_total_samples_estimate(enc, settings.ExpectedFrames);

    bool ok = true;
    FLAC__StreamMetadata* comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    ok = ok && comments;
    if (comments) impl->blocks.push_back(comments);
    for (const auto& [name, value] : tags.Fields) {
        if (!ok || value.empty()) continue;
        FLAC__StreamMetadata_VorbisComment_Entry entry;
        ok = FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, name.c_str(),
                                                                            value.c_str()) &&
             FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, false);
    }
    if (ok && !tags.Picture.empty()) {
        FLAC__StreamMetadata* picture = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PICTURE);
        ok = picture != nullptr;
        if (picture) {
            impl->blocks.push_back(picture);
            picture->data.picture.type = FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER;
            std::string mime = tags.PictureMime.empty() ? "image/jpeg" : tags.PictureMime;
            std::vector<FLAC__byte> bytes(tags.Picture.begin(), tags.Picture.end());
            FLAC__byte noDescription[1] = {0};
            ok = FLAC__metadata_object_picture_set_mime_type(picture, mime.data(), true) &&
                 FLAC__metadata_object_picture_set_description(picture, noDescription, true) &&
                 FLAC__metadata_object_picture_set_data(
                     picture, bytes.data(), static_cast<FLAC__uint32>(bytes.size()), true);
        }
    }
    if (ok && settings.ExpectedFrames) {
        FLAC__StreamMetadata* table = FLAC__metadata_object_new(FLAC__METADATA_TYPE_SEEKTABLE);
        ok = table != nullptr;
        if (table) {
            impl->blocks.push_back(table);
            // A point every ten seconds, as far as the length is known for sure.
            ok = FLAC__metadata_object_seektable_template_append_spaced_points_by_samples(
                     table, settings.Rate * 10, settings.ExpectedFrames) &&
                 FLAC__metadata_object_seektable_template_sort(table, true);
        }
    }
    if (ok) {
        FLAC__StreamMetadata* padding = FLAC__metadata_object_new(FLAC__METADATA_TYPE_PADDING);
        ok = padding != nullptr;
        if (padding) {
            padding->length = 8192;  // room to edit tags later without rewriting the audio
            impl->blocks.push_back(padding);
        }
    }
    if (!ok || !FLAC__stream_encoder_set_metadata(enc, impl->blocks.data(),
                                                  static_cast<unsigned>(impl->blocks.size()))) {
        error = "out of memory";
        return nullptr;
    }
    int cause = 0;
    if (!impl->file.TryOpen(path, File::Mode::CreateWrite, &cause)) {
        error = path + ": " + std::strerror(errno ? errno : EIO);
        impl->finished = true;
        return nullptr;
    }
    errno = 0;
    const FLAC__StreamEncoderInitStatus status = FLAC__stream_encoder_init_stream(
        enc, Impl::WriteTo, Impl::SeekTo, Impl::Tell, nullptr, impl.get());
    if (status != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        // The header could not be written (a full disk): the job removes what we created and
        // names the file with the system's reason.
        if (!impl->ioError.empty()) {
            impl->finished = true;
            impl->file.Close();
            throw FileError(kCauseGeneric, path, impl->ioError);
        }
        error = status == FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR
                    ? impl->StateText()
                    : FLAC__StreamEncoderInitStatusString[status];
        impl->finished = true;
        return nullptr;
    }
    return std::unique_ptr<FlacFileWriter>(new FlacFileWriter(std::move(impl)));
}

bool FlacFileWriter::Write16(const std::int16_t* samples, std::size_t frames) {
    Impl& m = *impl_;
    const std::size_t n = frames * static_cast<std::size_t>(m.settings.Channels);
    m.buffer.resize(n);
    const int shift = m.settings.Bits - 16;
    for (std::size_t i = 0; i < n; ++i)
        m.buffer[i] = static_cast<FLAC__int32>(static_cast<std::uint32_t>(samples[i]) << shift);
    return Write(m.buffer.data(), frames);
}

bool FlacFileWriter::Write(const std::int32_t* samples, std::size_t frames) {
    Impl& m = *impl_;
    if (m.finished) return false;
    if (frames == 0) return true;
    errno = 0;
    if (!FLAC__stream_encoder_process_interleaved(m.encoder, samples,
                                                  static_cast<unsigned>(frames))) {
        error_ = m.StateText();
        return false;
    }
    m.written += frames;
    return true;
}

namespace {

// Seek points planned past the real end (a stopped job, a shorter stream) would point at the
// file's start: they become placeholders.
bool DropUnreachedSeekPoints(const std::string& path, std::uint64_t frames) {
    FLAC__Metadata_Chain* chain = FLAC__metadata_chain_new();
    if (!chain) return false;
    bool ok = FLAC__metadata_chain_read(chain, path.c_str());
    if (ok) {
        FLAC__Metadata_Iterator* it = FLAC__metadata_iterator_new();
        ok = it != nullptr;
        if (it) {
            FLAC__metadata_iterator_init(it, chain);
            do {
                if (FLAC__metadata_iterator_get_block_type(it) != FLAC__METADATA_TYPE_SEEKTABLE)
                    continue;
                FLAC__StreamMetadata* table = FLAC__metadata_iterator_get_block(it);
                auto& points = table->data.seek_table;
                for (unsigned i = 0; i < points.num_points; ++i)
                    if (points.points[i].sample_number >= frames &&
                        points.points[i].sample_number !=
                            FLAC__STREAM_METADATA_SEEKPOINT_PLACEHOLDER)
                        points.points[i] = {FLAC__STREAM_METADATA_SEEKPOINT_PLACEHOLDER, 0, 0};
                FLAC__format_seektable_sort(&points);
            } while (FLAC__metadata_iterator_next(it));
            FLAC__metadata_iterator_delete(it);
        }
        ok = ok && FLAC__metadata_chain_write(chain, true, true);
    }
    FLAC__metadata_chain_delete(chain);
    return ok;
}

}  // namespace

bool FlacFileWriter::Finish() {
    Impl& m = *impl_;
    if (m.finished) return error_.empty();
    m.finished = true;
    errno = 0;
    const bool encoded = FLAC__stream_encoder_finish(m.encoder);
    if (!encoded && error_.empty()) error_ = m.StateText();
    m.file.Close();
    if (!encoded) return false;
    if (m.settings.ExpectedFrames > m.written && !DropUnreachedSeekPoints(m.path, m.written)) {
        error_ = "cannot correct the seek table";
        return false;
    }
    return error_.empty();
}

}  // namespace tralux::platform
