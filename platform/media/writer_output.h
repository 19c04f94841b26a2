#pragma once
// The output kind over a file writer of ours (FLAC, Opus): the writers take 16-bit frames and
// answer with a flag and an error text; this turns that into the job's exceptions and messages.
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/job/errors.h"
#include "engine/outputs/output.h"
#include "platform/notify/notifier.h"

namespace tralux::platform {

template <class Writer>
class WriterOutput final : public Output {
public:
    // `writer` null: `error` says why it could not be created (shown, then JobError).
    WriterOutput(std::string name, const OutputSettings& s, std::unique_ptr<Writer> writer,
                 const std::string& error)
        : name_(std::move(name)), path_(s.path), channels_(s.channels), writer_(std::move(writer)) {
        if (!writer_) {
            ShowMessage(name_ + ": " + error, "Quorvatix Tralux Error", MessageIcon::Error);
            throw JobError(kErrCodecInit);
        }
    }
    ~WriterOutput() override { Close(); }

    void Write(const std::uint8_t* pcm, std::size_t bytes) override {
        if (!writer_) throw JobError(kErrCodecInit);
        const std::size_t frameBytes = static_cast<std::size_t>(channels_) * 2;
        block_.resize(bytes / 2);  // the PCM bytes need not be aligned for int16_t
        std::memcpy(block_.data(), pcm, block_.size() * 2);
        if (!writer_->Write16(block_.data(), bytes / frameBytes)) {
            failed_ = true;
            throw FileError(kCauseGeneric, path_, writer_->ErrorText());
        }
    }
    // What the writer still buffers, its last page or frame and its header fields.
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
            ShowMessage(name_ + ": " + writer->ErrorText(), "Quorvatix Tralux Error",
                        MessageIcon::Error);
    }

    std::string name_;
    std::string path_;
    int channels_;
    std::unique_ptr<Writer> writer_;
    std::vector<std::int16_t> block_;
    bool failed_ = false;
};

}  // namespace tralux::platform
