#include "engine/outputs/mp3_output.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/outputs/mp3_stream_head.h"

#include "mp3encoder.h"

namespace tralux {

namespace {

// The job's encoder; one conversion job runs at a time.
struct Mp3Output {
    mp3enc::Mp3Encoder* encoder = nullptr;
    std::uint32_t rate = 0;
    int channels = 0;
    bool variable = false;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(8192);
};

Mp3Output& State() {
    static Mp3Output state;
    return state;
}

void Delete() {
    Mp3Output& s = State();
    if (s.encoder) mp3enc::Mp3EncoderDelete(s.encoder);
    s.encoder = nullptr;
}

}  // namespace

void Mp3EncoderStart(int channels, std::uint32_t rate, int kilobitsPerSecond) {
    Delete();
    Mp3Output& s = State();
    // Every setup failure is the encoder's failure (108), never a quiet stop.
    auto fail = [] {
        Delete();
        throw JobError(kErrCodecInit);
    };
    s.encoder = mp3enc::Mp3EncoderCreate(static_cast<float>(rate), channels, 0);
    if (!s.encoder) fail();
    s.rate = rate;
    s.channels = channels;
    mp3enc::Mp3EncoderSettings* settings = mp3enc::Mp3EncoderGetSettings(s.encoder);
    settings->inputFormat = 0;
    settings->intensityAllowed = 0;
    // "MP3Vbr" 0 (best) .. 9 asks for variable bit rate instead of the bit rate.
    const int vbr = ReadEngineOption("MP3Vbr");
    s.variable = vbr >= 0 && vbr <= 9;
    if (s.variable) settings->vbrQuality = 100 - 10 * vbr;
    if (!mp3enc::Mp3EncoderSetSettings(s.encoder, settings)) fail();
    // The asked bit rate, else the highest listed below it, else the lowest listed. A rate and
    // channel count with no entry at all is refused: what formats lists is what is written.
    const mp3enc::Mp3ConfigurationList* list = mp3enc::Mp3EncoderGetConfigurations(s.encoder);
    const mp3enc::Mp3Configuration* pick = nullptr;
    for (int i = 0; !s.variable && list && i < list->count; ++i) {
        const mp3enc::Mp3Configuration& c = list->entries[i];
        if (c.sampleRate != static_cast<int>(rate) || c.channels != channels) continue;
        const int kbps = c.bitRate / 1000, best = pick ? pick->bitRate / 1000 : 0;
        const bool fits = kbps <= kilobitsPerSecond, bestFits = pick && best <= kilobitsPerSecond;
        if (!pick || (fits && (!bestFits || kbps > best)) || (!fits && !bestFits && kbps < best))
            pick = &c;
    }
    if (!s.variable && (!pick || !mp3enc::Mp3EncoderSelectConfiguration(s.encoder, pick))) fail();
    Mp3StreamBegin(Engine().OutputFile, rate, channels);
}

std::size_t Mp3EncoderFeed(const std::uint8_t* samples, std::size_t byteCount) {
    Mp3Output& s = State();
    if (!s.encoder) throw JobError(kErrCodecInit);
    Mp3StreamNoteInput(byteCount / (2 * static_cast<std::size_t>(s.channels)));
    std::size_t written = 0;
    while (byteCount > 0) {
        const int chunk = static_cast<int>(std::min<std::size_t>(byteCount, 1 << 20));
        int consumed = 0;
        const int n = mp3enc::Mp3EncoderEncode(s.encoder, samples, chunk, &consumed,
                                               s.buffer.data(), static_cast<int>(s.buffer.size()));
        // -1 is a failure, never a byte count.
        if (n < 0) throw JobError(kErrCodecInit);
        if (n > 0) Engine().OutputFile.Write(s.buffer.data(), static_cast<std::size_t>(n));
        written += static_cast<std::size_t>(n);
        if (consumed <= 0) {
            if (n == 0) break;  // less than one sample frame left
            continue;           // output drained first; the input follows on the next call
        }
        samples += consumed;
        byteCount -= static_cast<std::size_t>(consumed);
    }
    return written;
}

void Mp3EncoderFinish() {
    Mp3Output& s = State();
    if (!s.encoder) return;
    // The end of the stream: the last granule, the delay and the reservoir.
    bool failed = false;
    for (;;) {
        int consumed = 0;
        const int n = mp3enc::Mp3EncoderEncode(s.encoder, nullptr, 0, &consumed, s.buffer.data(),
                                               static_cast<int>(s.buffer.size()));
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) break;
        try {
            Engine().OutputFile.Write(s.buffer.data(), static_cast<std::size_t>(n));
        } catch (...) {
            Delete();
            throw;
        }
    }
    const int delay = mp3enc::Mp3EncoderGetSettings(s.encoder)->delay;
    const bool variable = s.variable;
    Delete();
    if (!failed) Mp3StreamEnd(Engine().OutputFile, delay, variable);
    // Reported as a file failure: both ends of a job handle those (a job code here could
    // escape the stop path).
    if (failed) throw FileError(kCauseGeneric, Engine().OutputPath);
}

void Mp3EncoderRelease() {
    Delete();
    Mp3StreamAbandon();
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
