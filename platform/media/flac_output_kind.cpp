#include <cstring>
#include <memory>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/outputs/output.h"
#include "platform/media/flac_file_writer.h"
#include "platform/media/media_output_kinds.h"
#include "platform/notify/notifier.h"

namespace tralux::platform {

MediaTags VorbisTagsFor(const OutputSettings& s) {
    MediaTags tags;
    if (!s.placeTags) return tags;
    const TagTexts& t = s.tags;
    std::string track = t.track, total;
    if (const auto slash = track.find('/'); slash != std::string::npos) {
        total = track.substr(slash + 1);
        track.resize(slash);
    }
    tags.Fields = {{"TITLE", t.title}, {"ARTIST", t.artist},   {"ALBUM", t.album},
                   {"DATE", t.year},   {"TRACKNUMBER", track}, {"TRACKTOTAL", total},
                   {"GENRE", t.genre}, {"COMMENT", t.comment}, {"COPYRIGHT", t.copyright}};
    tags.PictureMime = s.cover.mimeType;
    tags.Picture = s.cover.bytes;
    return tags;
}

namespace {

class FlacOutput final : public Output {
public:
    explicit FlacOutput(const OutputSettings& s) : path_(s.path), channels_(s.channels) {
        const int stored = s.option("FLACLevel");
        const int level = stored >= 0 && stored <= 8 ? stored : 5;
        std::string error;
        writer_ = FlacFileWriter::Create(s.path, {s.rate, s.channels, 16, level, s.expectedFrames},
                                         VorbisTagsFor(s), error);
        if (!writer_) {
            ShowMessage("FLAC: " + error, "Quorvatix Tralux Error", MessageIcon::Error);
            throw JobError(kErrCodecInit);
        }
    }
    ~FlacOutput() override { Close(); }

    void Write(const std::uint8_t* pcm, std::size_t bytes) override {
        if (!writer_) throw JobError(kErrCodecInit);
        const std::size_t frameBytes = static_cast<std::size_t>(channels_) * 2;
        block_.resize(bytes / 2);
        std::memcpy(block_.data(), pcm, block_.size() * 2);
        if (!writer_->Write16(block_.data(), bytes / frameBytes)) {
            failed_ = true;
            throw FileError(kCauseGeneric, path_, writer_->ErrorText());
        }
    }
    // The last frame, the sample count and the MD5 signature.
    void Finish() override {
        if (!writer_) return;
        auto writer = std::move(writer_);
        if (!writer->Finish()) {
            failed_ = true;
            throw FileError(kCauseGeneric, path_, writer->ErrorText());
        }
    }
    void FinishEarly() override { Finish(); }
    void Abandon() noexcept override {
        failed_ = true;
        Close();
        RemoveRegularFile(path_);
    }

private:
    void Close() noexcept {
        if (!writer_) return;
        auto writer = std::move(writer_);
        if (!writer->Finish() && !failed_)
            ShowMessage("FLAC: " + writer->ErrorText(), "Quorvatix Tralux Error",
                        MessageIcon::Error);
    }

    std::string path_;
    int channels_;
    std::unique_ptr<FlacFileWriter> writer_;
    std::vector<std::int16_t> block_;
    bool failed_ = false;
};

std::unique_ptr<Output> OpenFlacOutput(const OutputSettings& settings) {
    return std::make_unique<FlacOutput>(settings);
}

}  // namespace

void RegisterFlacOutput() {
    RegisterOutputKind({kFormatFlac, "flac", ".flac", false, nullptr, OpenFlacOutput});
}

}  // namespace tralux::platform
