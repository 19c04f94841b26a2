#include "platform/wma/wma_output_kind.h"

#include <algorithm>
#include <memory>
#include <utility>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/outputs/output.h"
#include "engine/outputs/wma_output.h"
#include "platform/notify/notifier.h"
#include "platform/wma/wma_file_writer.h"

namespace tralux::platform {
namespace {

constexpr const char* kCaption = "Quorvatix Tralux Error";
constexpr int kMinimumKbps = 24;  // the encoder's floor

[[noreturn]] void FailWith(const std::string& text) {
    ShowMessage("WMA: " + text, kCaption, MessageIcon::Error);
    throw JobError(kErrCodecInit);
}

class WmaOutput final : public Output {
public:
    explicit WmaOutput(const OutputSettings& s) : path_(s.path), channels_(s.channels) {
        std::string error;
        writer_ = WmaFileWriter::Create(s.path, error);
        if (!writer_) FailWith(OutputNamed(error, s.path));
        if (s.placeTags) {
            const TagTexts& t = s.tags;
            if (writer_->SetAttribute("Title", t.title) < 0 ||
                writer_->SetAttribute("Author", t.artist) < 0 ||
                writer_->SetAttribute("Copyright", t.copyright) < 0)
                FailWith(writer_->ErrorText());
            const std::pair<const char*, const std::string*> more[] = {{"WM/AlbumTitle", &t.album},
                                                                       {"WM/TrackNumber", &t.track},
                                                                       {"WM/Year", &t.year},
                                                                       {"WM/Genre", &t.genre}};
            for (const auto& [name, text] : more)
                if (!text->empty() && writer_->SetAttribute(name, *text) < 0)
                    FailWith(writer_->ErrorText());
        }
        if (writer_->SetInputFormat(s.channels, s.rate, 16) < 0) FailWith(writer_->ErrorText());
        const int kbps = std::max(s.kbps == -1 ? 64 : s.kbps, 0);
        if (writer_->SetOutputFormat(static_cast<std::int64_t>(kbps) * 1000, s.rate, s.channels) <
            0) {
            std::string text = WmaCombinationProblem(kbps, s.rate, s.channels);
            if (text.empty() || kbps >= kMinimumKbps)
                text += (text.empty() ? "" : " ") + writer_->ErrorText();
            FailWith(text);  // the writer's destructor removes the empty file
        }
    }
    ~WmaOutput() override { Close(); }

    void Write(const std::uint8_t* samples, std::size_t byteCount) override {
        if (!writer_) throw JobError(kErrCodecInit);
        // Half a sample frame is the caller's fault, not the file's.
        if (byteCount % (static_cast<std::size_t>(channels_) * 2) != 0) {
            failureShown_ = true;
            FailWith("sample data is not whole frames");
        }
        if (writer_->WriteSample(samples, byteCount) < 0) {
            // A write that failed (a full disk) is a file failure, not a codec one: the job
            // reports it with the path and removes the output.
            failureShown_ = true;
            throw FileError(kCauseGeneric, path_, writer_->ErrorText());
        }
    }

    // Drains the encoder, finishes and releases the file.
    void Finish() override {
        if (!writer_) return;
        auto writer = std::move(writer_);  // released once, whatever happens
        const int result = writer->Flush();
        const std::string text = writer->ErrorText();
        writer.reset();
        if (result < 0) {
            failureShown_ = true;
            throw FileError(kCauseGeneric, path_, text);
        }
    }
    void FinishEarly() override { Close(); }

    void Abandon() noexcept override {
        failureShown_ = true;
        Close();
        RemoveRegularFile(path_);
    }

private:
    // Finishes and releases without raising.
    void Close() noexcept {
        if (!writer_) return;
        auto writer = std::move(writer_);
        if (writer->Flush() < 0 && !failureShown_)
            ShowMessage("WMA: " + OutputNamed(writer->ErrorText(), path_), kCaption,
                        MessageIcon::Error);
        writer.reset();
    }

    std::string path_;
    int channels_;
    std::unique_ptr<WmaFileWriter> writer_;
    bool failureShown_ = false;  // a failure was reported; closing need not say it again
};

std::unique_ptr<Output> OpenWmaOutput(const OutputSettings& settings) {
    return std::make_unique<WmaOutput>(settings);
}

}  // namespace

OutputKind WmaOutputKind() {
    return {kFormatWma, "wma", ".wma", false, "MSABitRate", OpenWmaOutput};
}

void RegisterWmaOutput() {
    RegisterOutputKind(WmaOutputKind());
}

}  // namespace tralux::platform
