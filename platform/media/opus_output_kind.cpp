#include <cstring>
#include <memory>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/outputs/output.h"
#include "platform/media/opus_file_writer.h"
#include "platform/media/media_output_kinds.h"
#include "platform/notify/notifier.h"

namespace tralux::platform {

namespace {

class OpusOutput final : public Output {
public:
    explicit OpusOutput(const OutputSettings& s) : path_(s.path), channels_(s.channels) {
        const int kbps = s.kbps >= 6 && s.kbps <= 510 ? s.kbps : 160;
        std::string error;
        writer_ = OpusFileWriter::Create(s.path, s.rate, s.channels, kbps * 1000, VorbisTagsFor(s),
                                         error);
        if (!writer_) {
            ShowMessage("Opus: " + error, "Quorvatix Tralux Error", MessageIcon::Error);
            throw JobError(kErrCodecInit);
        }
    }
    ~OpusOutput() override { Close(); }

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
    // Encodes what is buffered and writes the last page (the end granule trims the padding).
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
            ShowMessage("Opus: " + writer->ErrorText(), "Quorvatix Tralux Error",
                        MessageIcon::Error);
    }

    std::string path_;
    int channels_;
    std::unique_ptr<OpusFileWriter> writer_;
    std::vector<std::int16_t> block_;
    bool failed_ = false;
};

std::unique_ptr<Output> OpenOpusOutput(const OutputSettings& settings) {
    return std::make_unique<OpusOutput>(settings);
}

}  // namespace

void RegisterOpusOutput() {
    RegisterOutputKind({kFormatOpus, "opus", ".opus", false, "OpusBitRate", OpenOpusOutput});
}

}  // namespace tralux::platform
