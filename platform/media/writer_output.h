#pragma once
// The output kind over a file writer of ours (FLAC, Opus): the writers take 16-bit frames, or
// 24-bit ones from a deep source, and answer with a flag and an error text; this turns that into the job's exceptions and messages.
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
    // `bits` above 16: the writer was made at that width and takes WriteWide's samples.
    WriterOutput(std::string name, const OutputSettings& s, std::unique_ptr<Writer> writer,
                 const std::string& error, int bits = 16)
        : name_(std::move(name)),
          path_(s.path),
          channels_(s.channels),
          bits_(bits),
          writer_(std::move(writer)) {
        if (!writer_) {
            ShowMessage(name_ + ": " + OutputNamed(error, path_), "Quorvatix Tralux Error",
                        MessageIcon::Error);
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
    int Bits() const override { return bits_; }
    void WriteWide(const std::int32_t* samples, std::size_t count) override {
        if constexpr (requires(Writer & w, const std::int32_t* p) { w.Write(p, count); }) {
            if (bits_ > 16) {
                if (!writer_) throw JobError(kErrCodecInit);
                // Right-justified at the file's width, rounded (a wider source loses its
                // lowest bits only).
                const int shift = 32 - bits_;
                const std::int64_t top = (std::int64_t{1} << (bits_ - 1)) - 1;
                wide_.resize(count);
                for (std::size_t i = 0; i < count; ++i) {
                    const std::int64_t v =
                        (static_cast<std::int64_t>(samples[i]) + (std::int64_t{1} << shift >> 1)) >>
                        shift;
                    wide_[i] = static_cast<std::int32_t>(v > top ? top : v);
                }
                if (!writer_->Write(wide_.data(), count / static_cast<std::size_t>(channels_))) {
                    failed_ = true;
                    throw FileError(kCauseGeneric, path_, writer_->ErrorText());
                }
                return;
            }
        }
        Output::WriteWide(samples, count);
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
            ShowMessage(name_ + ": " + OutputNamed(writer->ErrorText(), path_),
                        "Quorvatix Tralux Error", MessageIcon::Error);
    }

    std::string name_;
    std::string path_;
    int channels_;
    int bits_;
    std::unique_ptr<Writer> writer_;
    std::vector<std::int16_t> block_;
    std::vector<std::int32_t> wide_;
    bool failed_ = false;
};

}  // namespace tralux::platform
