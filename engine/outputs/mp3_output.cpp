#include "engine/outputs/mp3_output.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/job/errors.h"
#include "engine/outputs/mp3_stream_head.h"

#include "mp3encoder.h"

namespace tralux {

namespace {

class Mp3Output final : public Output {
public:
    explicit Mp3Output(const OutputSettings& s) : s_(s), file_(*s.file) {
        // Every setup failure is the encoder's failure (108), never a quiet stop.
        auto fail = [this] {
            Delete();
            throw JobError(kErrCodecInit);
        };
        const int channels = s.channels;
        const std::uint32_t rate = s.rate;
        const int kilobitsPerSecond = s.kbps == -1 ? 128 : s.kbps;
        encoder_ = mp3enc::Mp3EncoderCreate(static_cast<float>(rate), channels, 0);
        if (!encoder_) fail();
        mp3enc::Mp3EncoderSettings* settings = mp3enc::Mp3EncoderGetSettings(encoder_);
        settings->inputFormat = 0;
        settings->intensityAllowed = 0;
        // "MP3Vbr" 0 (best) .. 9 asks for variable bit rate instead of the bit rate.
        const int vbr = s.option("MP3Vbr");
        variable_ = vbr >= 0 && vbr <= 9;
        if (variable_) settings->vbrQuality = 100 - 10 * vbr;
        if (!mp3enc::Mp3EncoderSetSettings(encoder_, settings)) fail();
        // The asked bit rate, else the highest listed below it, else the lowest listed. A rate
        // and channel count with no entry at all is refused: what formats lists is written.
        const mp3enc::Mp3ConfigurationList* list = mp3enc::Mp3EncoderGetConfigurations(encoder_);
        const mp3enc::Mp3Configuration* pick = nullptr;
        for (int i = 0; !variable_ && list && i < list->count; ++i) {
            const mp3enc::Mp3Configuration& c = list->entries[i];
            if (c.sampleRate != static_cast<int>(rate) || c.channels != channels) continue;
            const int kbps = c.bitRate / 1000, best = pick ? pick->bitRate / 1000 : 0;
            const bool fits = kbps <= kilobitsPerSecond,
                       bestFits = pick && best <= kilobitsPerSecond;
            if (!pick || (fits && (!bestFits || kbps > best)) ||
                (!fits && !bestFits && kbps < best))
                pick = &c;
        }
        if (!variable_ && (!pick || !mp3enc::Mp3EncoderSelectConfiguration(encoder_, pick))) fail();
        try {
            head_.Begin(file_, rate, channels, s.placeTags ? &s.tags : nullptr,
                        s.placeTags ? &s.cover : nullptr);
        } catch (...) {
            Delete();
            throw;
        }
    }
    ~Mp3Output() override { Delete(); }

    void Write(const std::uint8_t* samples, std::size_t byteCount) override {
        if (!encoder_) throw JobError(kErrCodecInit);
        head_.NoteInput(byteCount / (2 * static_cast<std::size_t>(s_.channels)));
        while (byteCount > 0) {
            const int chunk = static_cast<int>(std::min<std::size_t>(byteCount, 1 << 20));
            int consumed = 0;
            const int n =
                mp3enc::Mp3EncoderEncode(encoder_, samples, chunk, &consumed, buffer_.data(),
                                         static_cast<int>(buffer_.size()));
            // -1 is a failure, never a byte count.
            if (n < 0) throw JobError(kErrCodecInit);
            if (n > 0) file_.Write(buffer_.data(), static_cast<std::size_t>(n));
            if (consumed <= 0) {
                if (n == 0) break;  // less than one sample frame left
                continue;           // output drained first; the input follows on the next call
            }
            samples += consumed;
            byteCount -= static_cast<std::size_t>(consumed);
        }
    }

    void Finish() override {
        Drain();
        if (s_.placeTags) {
            const TagTexts& t = s_.tags;
            // ID3v1 has one free text: the comment, or the copyright notice when there is none.
            WriteId3v1(file_, t.title, t.artist, t.comment.empty() ? t.copyright : t.comment);
        }
    }
    void FinishEarly() override { Finish(); }

    void Abandon() noexcept override {
        Delete();
        file_.Close();
        RemoveRegularFile(s_.path);
    }

private:
    void Delete() noexcept {
        if (encoder_) mp3enc::Mp3EncoderDelete(encoder_);
        encoder_ = nullptr;
    }

    // The end of the stream: the last granule, the delay and the reservoir.
    void Drain() {
        if (!encoder_) return;
        bool failed = false;
        for (;;) {
            int consumed = 0;
            const int n = mp3enc::Mp3EncoderEncode(encoder_, nullptr, 0, &consumed, buffer_.data(),
                                                   static_cast<int>(buffer_.size()));
            if (n < 0) {
                failed = true;
                break;
            }
            if (n == 0) break;
            try {
                file_.Write(buffer_.data(), static_cast<std::size_t>(n));
            } catch (...) {
                Delete();
                throw;
            }
        }
        const int delay = mp3enc::Mp3EncoderGetSettings(encoder_)->delay;
        Delete();
        if (!failed) head_.End(file_, delay, variable_);
        // Reported as a file failure: both ends of a job handle those (a job code here could
        // escape the stop path).
        if (failed) throw FileError(kCauseGeneric, s_.path);
    }

    OutputSettings s_;
    File& file_;
    mp3enc::Mp3Encoder* encoder_ = nullptr;
    bool variable_ = false;
    Mp3StreamHead head_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(8192);
};

}  // namespace

std::unique_ptr<Output> OpenMp3Output(const OutputSettings& settings) {
    return std::make_unique<Mp3Output>(settings);
}

void WriteId3v1(File& file, const std::string& title, const std::string& artist,
                const std::string& comment) {
    std::uint8_t tag[128];
    std::memset(tag, ' ', sizeof tag);
    std::memcpy(tag, "TAG", 3);
    auto put = [&](int offset, const std::string& s) {
        std::memcpy(tag + offset, s.data(), std::min<std::size_t>(s.size(), 30));
    };
    put(3, title);
    put(33, artist);
    put(97, comment);
    tag[127] = 255;
    file.Write(tag, sizeof tag);
}

}  // namespace tralux
