#include "engine/outputs/wav_output.h"

#include <atomic>

#include "engine/formats/wav_writer.h"
#include "engine/job/errors.h"

namespace tralux {
namespace {

// RIFF sizes are 32-bit: keep room for the header and a full LIST chunk.
constexpr std::uint64_t kDefaultPayloadLimit = 0xFFFFFFFFull - 44 - 8192;
std::atomic<std::uint64_t> g_payloadLimit{kDefaultPayloadLimit};

class WavOutput final : public Output {
public:
    explicit WavOutput(const OutputSettings& s) : s_(s), file_(*s.file) {
        dataSizeOffset_ = WriteWavHeader(file_, s.channels, s.rate);
    }

    void Write(const std::uint8_t* pcm, std::size_t bytes) override {
        if (full_) return;
        const std::uint64_t limit = g_payloadLimit.load();
        if (payload_ + bytes > limit) {
            const std::size_t frame = static_cast<std::size_t>(s_.channels) * 2;
            std::size_t n = static_cast<std::size_t>(limit - payload_);
            n -= n % frame;
            file_.Write(pcm, n);
            payload_ += n;
            full_ = true;
            throw JobError(kErrWrite);  // finished with correct sizes by FinishEarly
        }
        file_.Write(pcm, bytes);
        payload_ += bytes;
    }

    void Finish() override { Close(s_.placeTags, s_.placeTags); }

    void FinishEarly() override {
        try {
            // A stopped file always carries the credit, with the texts when asked.
            Close(true, s_.placeTags);
        } catch (const FileError&) {
            PatchAfterFailure();
            throw;
        }
    }

    void Abandon() noexcept override {
        file_.Close();
        RemoveRegularFile(s_.path);
    }

private:
    void Close(bool infoChunk, bool texts) {
        // The payload is what the file holds, flushed tail included.
        payloadEnd_ = file_.Length();
        const std::uint64_t dataSize = payloadEnd_ - dataSizeOffset_ - 4;
        file_.Seek(payloadEnd_);
        const TagTexts& t = s_.tags;
        if (infoChunk)
            WriteInfoChunk(file_, t.title, t.artist, t.copyright, texts,
                           {t.album, t.comment, t.year, t.track, t.genre});
        FinishWav(file_, dataSizeOffset_, dataSize);
    }

    // After a failed write (a full disk) the WAV stays readable: its sizes cover the whole
    // frames that reached the file. Patching needs no new space.
    void PatchAfterFailure() noexcept {
        if (!file_.IsOpen()) return;
        try {
            const std::uint64_t frame = static_cast<std::uint64_t>(s_.channels) * 2;
            const std::uint64_t start = dataSizeOffset_ + 4;
            // A failure while the tags were written: the payload ended before them.
            const std::uint64_t length = payloadEnd_ ? payloadEnd_ : file_.Length();
            if (length < start) return;
            const std::uint64_t data = (length - start) / frame * frame;
            file_.Truncate(start + data);
            FinishWav(file_, dataSizeOffset_, data);
        } catch (const FileError&) {
        }
    }

    OutputSettings s_;
    File& file_;
    std::uint64_t dataSizeOffset_ = 0;
    std::uint64_t payload_ = 0;
    std::uint64_t payloadEnd_ = 0;  // file length when the payload was complete (0 before)
    bool full_ = false;
};

}  // namespace

std::unique_ptr<Output> OpenWavOutput(const OutputSettings& settings) {
    return std::make_unique<WavOutput>(settings);
}

void SetWavPayloadLimitForTesting(std::uint64_t bytes) {
    g_payloadLimit.store(bytes ? bytes : kDefaultPayloadLimit);
}

}  // namespace tralux
